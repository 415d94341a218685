#pragma once
// ASiTunes: the only way into the music library. Every operation builds the text of a small script,
// has the process's script runner (APlatform/ScriptRunner.h) run it and decodes the reply; the texts
// are a wire format and are sent exactly as built here. Every value put into a script (names,
// paths) has its `\` and `"` escaped; a name holding a line break is refused before anything is
// sent.
//
// A script that failed (no reply) is never read as an empty answer: counts give -1, list readers
// an error, and a list reply whose item count differs from the list it fills is an error too. The
// error of a failed script is the library's own code, noted with its reason, where it gave one
// (below, "kErrITunesRefused when the script failed" reads so); kErrITunesRefused otherwise.
//
// One object belongs to one source (or one short task); the class operations need no object. Only
// one script runs at a time in the process: a second caller waits for the first.

#include "ACommon/base/AProgress.h"
#include "ACommon/base/AString.h"

#include "APlatform/ScriptDescriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ASiTunes {
public:
    // Playlist type codes.
    enum : int {
        kPlaylistSmart = 0,
        kPlaylistAudiobooks = 1,
        kPlaylistInternal = 4,
        kPlaylistPartyShuffle = 5,
        kPlaylistPodcasts = 6,
        kPlaylistPurchased = 7,
        kPlaylistOrdinary = 11,
        kPlaylistOther = 12,
    };
    // How long a script waits for another one to finish before it gives up, in seconds.
    static constexpr int kLockWaitSeconds = 600;

    explicit ASiTunes(AProgress* progress = &AProgress::Shared());

    // ---- Class operations
    // Runs a script: its reply, or no value when it failed (or waited for the lock in vain, which
    // is logged).
    // Why the last script of this thread failed, as the library said it (the file and the
    // system's reason, a lock another sync holds, a damaged library): its code, 0 when the runner
    // gave none, and the text in `why`.
    static int LastScriptFailure(AString* why);
    // The last failed script's code, its reason noted as the run's failure (AError::NoteFailure);
    // `otherwise` when the library gave no reason.
    static int NoteLastScriptFailure(int otherwise);
    static std::optional<platform::ScriptDescriptor> Send2iTunes(const std::string& source,
                                                                 AProgress* progress = &AProgress::Shared());
    // `value` as it goes between double quotes in a script: `\` and `"` escaped. False (and `out`
    // untouched) for a value holding a line feed or a carriage return, which no name may hold.
    static bool Quote(const AString& value, std::string* out);
    // The same for UTF-8 text.
    static bool QuoteText(std::string_view bytes, std::string* out);
    static int GetIPodCount();
    static int GetIPodCountiTunes();
    static int GetITunesVersion();
    // With index 0: every playlist name of the library, each followed by "\n". 0, or an error code
    // when the script failed (`names` unchanged).
    static int GetITunesPlaylist(int index, AString* names);
    // For tests: another lock wait than kLockWaitSeconds (0 restores it).
    static void SetLockWaitForTesting(int seconds);

    // ---- Library side (the playlist is `playlistName`)
    void SetPlaylistName(const AString& name) { playlistName = name; }
    const AString& GetPlaylistName() const { return playlistName; }
    const AString& GetLibName();
    // The music folder (cached).
    const AString& GetITunesRootFolder();
    AString GetUserID() const;
    int LibCount();
    // The database IDs of the playlist's tracks, in the playlist's order.
    int ReadLibIDs(std::vector<std::uint32_t>* ids);
    // Property `param` of every track of the playlist, one item per track, as the reply gives them:
    // 0, or kErrITunesRefused when the script failed or gave no list.
    int ReadLibProperty(const char* param, std::vector<platform::ScriptDescriptor>* items);
    // How many tracks of the playlist have the database ID `id` (0 once it was removed); -1 without
    // a reply.
    int LibTrackCount(std::uint32_t id);
    int GetITunesSongAlbumArtCount(std::uint32_t id);
    // Artwork `index` (from 0) of a track as JPEG bytes: 0, kErrFileNotFound, or kErrOutOfMemory.
    int GetITunesSongAlbumArt(std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg);
    int GetITunesPlayListType();
    int DeleteITunesSong(std::uint32_t id);
    // Adds a file to the library and to `playlist` (null: `playlistName`); its database ID, or -1.
    long long ITunesAddSongFromDisk(const AString& path, const AString* playlist);
    // Adds a file to the playlist and, with `alsoTo`, puts the new track in that playlist too, by one
    // script: its database ID, or -1 when the script failed (and then none of it was done).
    long long ITunesAddSong(const AString& path, const AString* alsoTo);
    int ITunesAddSongToPlaylist(const AString& target, std::uint32_t id);
    int MakePlaylistITunes(const AString& name);
    // What the library keeps of the listening to one of its songs, and what tells it from a song of
    // the same name.
    struct Listening {
        std::uint32_t id = 0;
        std::int64_t plays = 0, skips = 0;
        std::int64_t playedDate = 0; // seconds since 1970; 0 when never played
        std::int64_t rating = 0;     // 0-100, 20 a star
        double duration = 0;         // seconds
        std::int64_t size = 0;       // bytes of its file
    };
    // Every song of the bridge's playlist with this name, artist and album (case ignored), in the
    // playlist's order, with what the library keeps of its listening: 0 (none found: `out` empty),
    // or kErrITunesRefused when a script failed.
    int FindLibListenings(const AString& name, const AString& artist, const AString& album,
                          std::vector<Listening>* out);
    // Whether the library took in the iPod's records of plays known by `key` already: 0, or
    // kErrITunesRefused when the script failed.
    int LibHoldsPlays(const AString& key, bool* held);
    // An On-The-Go playlist made in the library, its songs (database IDs) in their order.
    struct PlaylistMade {
        AString name;
        std::vector<std::uint32_t> members;
    };
    // Takes in the iPod's records of plays known by `key` by one script: records the key, sets the
    // listening of every song in `songs` and makes `playlists`; all of it or, when it fails
    // (kErrITunesRefused; also when the library holds the key already), none.
    int SetLibListening(const AString& key, const std::vector<Listening>& songs,
                        const std::vector<PlaylistMade>& playlists);
    int DeletePlaylistITunes(const AString& name);

    // ---- iPod side (the iPod's source in the library is `iPodName`, its playlist `playlistName`)
    void SetIPodName(const AString& name) { iPodName = name; }
    const AString& GetIPodName() const { return iPodName; }
    const AString& GetIPodVolName() const { return iPodVolName; }
    void SetIPodVolName(const AString& volume, bool getIPodName);
    // The iPod's mount point; empty when neither name is known.
    AString GetIPodRootFolder() const;
    const AString& GetIPodNameiTunes(int index);
    // The names of the iPods the library serves, one a line into `names`; false when the library
    // could not be asked (its reason in LastScriptFailure).
    bool ListIPodNames(AString* names);
    const AString& GetIPodNameVolScan();
    int GetIPodPlaylist(int index, AString* names);
    int IPodSongCount();
    int ReadIPodIDs(std::vector<std::uint32_t>* ids);
    int ReadIPodProperty(const char* param, std::vector<platform::ScriptDescriptor>* items);
    int IPodTrackCount(std::uint32_t id);
    // The file of a track of the iPod playlist; empty without a reply.
    AString IPodTrackLocation(std::uint32_t id);
    int GetIPodSongAlbumArtCount(std::uint32_t id);
    int GetIPodSongAlbumArt(std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg);
    int GetIPodPlayListType();
    int DeleteIPodSong(std::uint32_t id);
    long long IPodAddSongFromDisk(const AString& path, const AString* playlist);
    // Adds a file to the iPod playlist and, with `alsoTo`, puts the new track in that playlist of
    // the iPod too, by one script: the track's database ID and, in `location`, its file on the iPod
    // (empty when the reply names none); -1 when the script failed, and then none of it was done.
    long long IPodAddSong(const AString& path, const AString* alsoTo, AString* location);
    // Puts a track of the iPod playlist into another playlist of the iPod, by its database ID.
    int IPodAddSongToPlaylist(const AString& target, std::uint32_t id);
    int MakePlaylistIPod(const AString& name);
    int DeletePlaylistIPod(const AString& name);
    // Asks the library to write the iPod's database back now (the end of a sync). 0, or the code
    // of the library's failure.
    int UpdateIPod();

    // JPEG bytes of a picture: JPEG passes through, PNG is converted. False for anything else.
    static bool ToJpeg(const std::vector<std::uint8_t>& picture, std::vector<std::uint8_t>* jpeg);
    // The account in the preferences' data value (see GetUserID); empty for short or corrupt data.
    static AString DecodeUserID(const std::vector<std::uint8_t>& data);
    // The folder a "Music Folder" URL names: every percent escape decoded; empty unless it is a
    // file URL of an absolute path.
    static AString DecodeFolderUrl(const std::string& url);

private:
    // The reply to the script that names the iPods the library serves.
    std::optional<platform::ScriptDescriptor> IPodSourceNames();
    std::optional<platform::ScriptDescriptor> Send(const std::string& source) const
    {
        return Send2iTunes(source, progress);
    }
    // `"playlist"` or `"playlist" in source "iPod"` pieces, quoted; false for a refused name.
    bool PlaylistPiece(bool iPod, std::string* out) const;
    std::string ListScript(bool iPod, const std::string& param, const std::string& playlist) const;
    int ReadProperty(bool iPod, const char* param, std::vector<platform::ScriptDescriptor>* items);
    int TrackCount(bool iPod, std::uint32_t id);
    int ReadIDs(bool iPod, std::vector<std::uint32_t>* ids);
    int ArtCount(bool iPod, std::uint32_t id);
    int Art(bool iPod, std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg);
    int PlayListType(bool iPod);
    int DeleteSong(bool iPod, std::uint32_t id);
    long long AddSongFromDisk(bool iPod, const AString& path, const AString* playlist);
    // The script's start that adds `path` to the playlist `target` (of the iPod's source with
    // `iPod`), up to the closing quote of the last name; false (logged, and for the path noted as
    // the failure) for a refused path or name.
    bool AddScript(bool iPod, const AString& path, const AString& target, std::string* script) const;
    // ITunesAddSong and IPodAddSong; with `location` the reply names the track's file too.
    long long AddSongWith(bool iPod, const AString& path, const AString* alsoTo, AString* location);
    int AddSongToPlaylist(bool iPod, const AString& target, std::uint32_t id);
    int MakePlaylist(const AString& source, const AString& name);
    int DeletePlaylist(const AString& source, const AString& name);

    AProgress* progress;
    AString playlistName;
    AString libName;
    AString iPodName;
    AString iPodVolName;
    std::optional<AString> libRootPath;
};
