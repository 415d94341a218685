#pragma once
// IPodDB: the iPod's music database as the rest of the system sees it. Owns the MHBD tree, knows
// where the iPod is mounted, loads iPod_Control/iTunes/iTunesDB, writes it back safely (a
// temporary file beside it, flushed, renamed over it, the folder flushed), writes the iTunesSD file
// that screenless iPods play from, answers lookups by virtual path and keeps the sorted view. Also
// home of the device operations (SysInfo, iTunesPrefs, the iPod's name).
//
// Names below the iPod's root are matched without regard to case, as FAT does.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodArtwork.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class AProgress;
class IPodJournal;
class MHIT;
struct SongInfoStruct;

class IPodDB {
public:
    static constexpr std::uint32_t kStateMark = 0x00100000;
    // An iTunesSD entry holds at most this many UTF-16 units of path.
    static constexpr int kMaxSDPathLength = 261;
    static constexpr std::size_t kSDHeaderLength = 18;
    static constexpr std::size_t kSDEntryLength = 558;

    // What a load took in from the iPod's own records (its play count file and On-The-Go playlist
    // files), for the library to take in as well.
    struct RecordedPlays {
        enum class State {
            kNone,     // no play count file
            kFolded,   // its counts are folded into the tracks; the store sets the file aside
            kConsumed, // its counts are in the database already; the store sets the file aside
            kRefused,  // damaged or of another database: kept, reported, never applied
        };
        struct Track {
            std::uint64_t handle = 0; // the track's handle
            AString name, artist, album, genre;
            std::uint32_t plays = 0, skips = 0;
            std::uint32_t lastPlayed = 0; // Mac time, 0 when not played since
            int ratingBefore = 0;         // the database's rating: the one of the last sync
            int rating = -1;              // the rating on the iPod now; -1 when the file has none
            std::uint32_t length = 0;     // ms
            std::uint32_t size = 0;       // bytes of its file on the iPod
        };
        struct OnTheGo {
            int number = 0;                    // 1 for the first file, and on
            std::vector<std::uint64_t> tracks; // handles, in the playlist's order
        };
        State state = State::kNone;
        AString refusal;       // why a refused file is not applied
        std::uint32_t crc = 0; // the play count file's checksum
        // What tells this taking in of the records from any other: their checksum (low 32 bits) and
        // that of the database file they were folded into (high). The same for every run until a
        // store puts the database holding them in place, however the runs before it were stopped.
        std::uint64_t key = 0;
        std::vector<Track> tracks; // those the file recorded plays, skips or a new rating for
        std::vector<OnTheGo> onTheGo;
    };

    explicit IPodDB(AProgress* progress = nullptr);
    ~IPodDB();
    IPodDB(const IPodDB&) = delete;
    IPodDB& operator=(const IPodDB&) = delete;

    void SetRelevantFields(signed char extension, signed char genre, signed char album);
    void SetLocalTempPath(const AString& folder);
    void SetProgress(AProgress* newProgress) { progress = newProgress; }

    // Loads the database of the iPod at `root` (or of the root set before). When iTunesDB is
    // missing but a complete temporary database that an interrupted store left beside it parses,
    // that one is put in place first. kErrEndOfFile without a database, kErrUnknown for a damaged one (the
    // iPod's files untouched, the object left with an empty database).
    int Load(AString* root, signed char withPlaylists, CancelProc cancel, AProgress* loadProgress);
    // True when the iPod's iTunesDB is no longer the file this database was loaded from (or last
    // stored as): another writer replaced or changed it since. False for a database not loaded.
    bool ChangedOnDisk() const;
    // Loads the database again, the way it was loaded, when ChangedOnDisk says so: what a writer
    // does after taking the iPod's lock (IPodLock). 0 when nothing changed or the new load
    // succeeded, else the load's error. Tracks and handles of the old load are gone after a reload.
    int ReloadIfChanged(CancelProc cancel, AProgress* loadProgress);
    // Reads only the playlist titles (enough for GetIPodName) and the track count. `path` is the
    // iPod's root when `isRoot` is set, else the database file itself.
    int LoadName(AString* path, signed char isRoot);
    // Writes iTunesDB (and iTunesSD where it is used) of the iPod at `root` (or of the loaded one),
    // with every track in the library playlist of each playlist dataset exactly once. Refused (kErrUnknown)
    // unless the database was loaded with its playlists, and when the iPod's database changed on
    // disk since it was loaded (its writer must hold the iPod's lock, IPodLock); kErrNotSupported when the
    // iPod checks a signature this program cannot make for it (IPodSigning::Prepare says why). A
    // database for an iPod that checks a signature is signed last, over the finished file. The iPod's play
    // counts are folded into the tracks, and its On-The-Go playlists (OTGPlaylistInfo, OTGPlaylistInfo_1...)
    // become playlists "On-The-Go 1", "On-The-Go 2"... when the database is loaded with its playlists. After
    // a successful store "Play Counts" becomes "Play Counts.bak" (or is deleted when it cannot be renamed)
    // and the On-The-Go files are removed, since they count tracks by their place in the old file;
    // kErrUnableToDelete (in the log) when one of them stays.
    int Store(AString* root);
    // The journal of the iPod this database belongs to: a store that folds the play count file
    // marks it there first, so that a run stopped before the file is set aside does not count
    // its plays again (IPodJournal). Without one the store does not mark.
    void SetJournal(IPodJournal* iPodJournal) { journal = iPodJournal; }
    const RecordedPlays& GetRecordedPlays() const { return recorded; }
    // Called by a store that folds the iPod's records in once the database holding them is made and
    // before anything of it is written (to tell the library); an error of it stops the store, which
    // then writes nothing.
    void SetFoldHook(std::function<int()> hook) { foldHook = std::move(hook); }
    // The checksum of the iPod's own records at `root` (its play count and On-The-Go files, their
    // names and bytes); none when it has none.
    static std::optional<std::uint32_t> RecordsChecksum(const AString& root);
    // True when the iPod at `root` plays from iTunesSD: a shuffle, or any iPod that has one. Only
    // those get one written.
    static bool UsesShuffleFile(const AString& root);
    // True when the iPod uses iTunesSD and the one it holds does not describe this database's
    // tracks (missing, another count, other entries), as a run stopped between writing iTunesDB and
    // iTunesSD leaves it: a store is due even when nothing else changed.
    bool ShuffleFileOutOfDate();
    // The iTunesSD bytes of the current tracks; kErrInvalidPath (the track named in the log) when a path is
    // too long for an entry.
    int BuildSDFile(std::vector<std::uint8_t>& bytes);

    int GetIPodName(AString& name) const;
    // Titles the library playlist of every playlist dataset: the iPod's name.
    void SetIPodName(const AString& name);
    // A track added gets its cover on the iPod at the next store, taken from its file there unless
    // SetArtworkSource names another.
    int AddSong(SongInfoStruct& song, MHIT** added, signed char add);
    // The file the cover of `track` is taken from at the next store: the file it was copied from
    // (whose folder may hold the cover image). `embedded` false: its tags, read already, hold no
    // picture, so only its folder is looked at.
    void SetArtworkSource(const MHIT* track, const AString& file, bool embedded = true);
    // Every track without a cover gets one at the next store, when its file has one. The number of
    // tracks that will be looked at.
    int FillMissingArtwork();
    // Drops the covers no track of the database uses and the ithmb space no cover uses, as the store
    // does after writing the database: for the recovery of a run that stopped in between. Only
    // for a database held as it is stored. 0, or an error.
    int TidyArtwork();
    // What the last store wrote of the covers.
    const IPodArtwork::Stats& GetArtworkStats() const { return artworkStats; }
    int RemoveSong(const AString& virtualPath);
    // Adds a playlist titled `name` to both playlist datasets.
    std::vector<MHYP*> AddPlaylist(const AString& name);
    int GetSongInfo(MHIT** track, const AString& virtualPath, signed char exact);
    int GetSongPath(AString& filePath, const AString& virtualPath, signed char sizeBased);
    int GetSongExt(AString* extension, const AString& virtualPath, AString* filePath);
    // Builds the sorted view of the tracks that `filter` passes (every track without one), or sorts
    // the view again as it is.
    void Sort(signed char ascending, const MHLT::TrackFilter& filter = MHLT::TrackFilter());
    // True once the sorted view is built (and until DeleteSortedList).
    bool HasSortedView() const;
    int CountSortedSongs() const;
    MHIT* GetSortedSong(int index);
    // The virtual path (with the handle) that entry `index` of the sorted view was built with; it
    // stays when its track has been removed since. Null outside the view.
    const AString* GetSortedPath(int index) const;
    void RemoveSortedSongEntry(int index);
    void DeleteSortedList();
    // The number of tracks: held, or as the track list's header gave it after LoadName.
    int GetTrackCount() const;

    // A database read back from a state is written back as read while it is set aside.
    int WriteState(AFile* f);
    int ReadState(AFile* f);
    // Keeps a database read back from a state (not loaded from the iPod) as the bytes it was read
    // from, without its records, until TakeBack: a saved list may never be looked at, or be found
    // to be what the iPod holds (SameAs).
    void SetAside();
    bool IsSetAside() const { return setAside != nullptr; }
    // Reads the set-aside bytes into records again; 0, or why they could not be read.
    int TakeBack();
    // True when the set-aside bytes are those `loaded` was loaded from (it must not have changed
    // since); they are then shared with it rather than kept twice.
    bool SameAs(const IPodDB& loaded);
    const std::shared_ptr<const MHOD::TextStore>& GetSetAsideBytes() const { return setAside; }
    // True for a database loaded from the iPod into which no plays or On-The-Go playlists were
    // folded: what it holds are the bytes it was read from, as long as its owner changed nothing.
    bool AsRead() const { return loaded && !recordsCrc; }
    // Bytes the next Load takes as the iPod's database, rather than a copy of their own, when the
    // file holds just these (a saved list's, which is then held once).
    void OfferBytes(std::shared_ptr<const MHOD::TextStore> bytes) { offered = std::move(bytes); }

    // Device information (no database state is used).
    static int GetIPodInfo(AString* root, IPodInfo* info);
    static int SetIPodFlag(AString* root);
    static void SetIPodFlags(AString* root);
    static int GetAutoUpdates(AString* root, signed char& autoUpdate);
    static int LoadName(AString* root, AString* name);
    int GetVeltranoIPodID(AString* root);
    // True when the database of the iPod at `root` is signed (MHBD::IsSigned): the iPod checks a
    // signature, and a database stored without the right one leaves it showing no songs.
    static bool ChecksSignature(AString* root);
    // Why no database the iPod at `root` accepts can be written (IPodSigning::Prepare): what is
    // missing and how to fix it, ending "Nothing was changed."; empty when one can.
    static AString SignatureRefusal(AString* root);
    // What tells the iPod at `root` from every other one: "FirewireGuid <hex>" when its SysInfo
    // gives one, else "DatabaseId <hex>" when the header of its database holds an id other than 0;
    // empty when neither is known.
    static AString GetIdentity(AString* root);

    // The path of `relative` ("iPod_Control/iTunes/iTunesDB") below `root`, each component matched
    // without regard to case against what exists; components that do not exist keep their case.
    static AString ResolveIPodPath(const AString& root, const char* relative);
    // True when `folder` holds iPod_Control/iTunes/iTunesDB (case ignored): a mounted iPod.
    static bool IsIPodRoot(const AString& folder);
    // `fileName` with its extension in lower case, as files put on the iPod must be named (some
    // models refuse upper-case extensions).
    static AString IPodFileName(const AString& fileName);

    MHBD* GetDatabase() const { return database.get(); }
    const AString& GetRootPath() const { return rootPath; }
    // Gives a database read back from a state record the iPod's mount point as it is now (files of
    // untagged tracks are measured there). A loaded database keeps the root it was loaded from.
    void SetRootPath(const AString& root);
    const AString& GetIPodID() const { return iPodID; }
    void SetIPodID(const AString& id) { iPodID = id; }
    signed char IsLoaded() const { return loaded; }
    signed char GetExtensionFlag() const { return extensionFlag; }
    signed char GetGenreFlag() const { return genreFlag; }
    signed char GetAlbumFlag() const { return albumFlag; }

private:
    // What tells one version of the database file from another: a store puts a new file in place.
    struct DiskStamp {
        bool known = false;
        unsigned long long device = 0, inode = 0, size = 0;
        long long seconds = 0, nanoseconds = 0;
        bool operator==(const DiskStamp&) const = default;
    };
    static DiskStamp StampOf(const AString& path);
    // The model number (without its first character) and the GUID of SysInfo's text.
    static void ReadSysInfo(const std::string& text, std::optional<AString>* model, AString* guid);

    void ResetDatabase();
    int RecoverDatabase(const AString& databasePath);
    int WriteDatabaseFile(const AString& databasePath, const std::vector<std::uint8_t>& bytes);
    // The checksum of the database file on the iPod; none when it cannot be read.
    std::optional<std::uint32_t> StoredChecksum() const;
    // True when the journal's plays mark names these records and the database on the iPod (whose
    // checksum is `stored`) as the one a store wrote with them folded in.
    bool RecordsInDatabase(std::optional<std::uint32_t> stored) const;
    void FoldPlayCounts(const AString& root);
    void FoldOnTheGoPlaylists(const AString& root);
    void Log(const AString& line);

    signed char extensionFlag = 0;
    signed char genreFlag = 0;
    signed char albumFlag = 1;
    AString folderPattern{"/*/*/"};
    signed char loaded = 0;
    std::unique_ptr<MHBD> database;
    std::shared_ptr<const MHOD::TextStore> setAside; // see SetAside
    std::shared_ptr<const MHOD::TextStore> offered;  // see OfferBytes
    AString asideName;                               // the name of the database set aside
    int asideNameResult = 0;
    AString localTempPath;
    AString rootPath;
    AString iPodID;
    std::uint32_t declaredTrackCount = 0;
    DiskStamp loadedStamp; // the file the database was loaded from or last stored as
    AProgress* progress = nullptr;
    // Tracks whose cover is written at the next store: handle -> the file to take it from.
    std::unordered_map<std::uint64_t, IPodArtwork::Source> pendingArtwork;
    IPodArtwork::Stats artworkStats;
    IPodJournal* journal = nullptr;
    RecordedPlays recorded;
    std::function<int()> foldHook;
    std::optional<std::uint32_t> recordsCrc; // of the records as loaded
    bool onTheGoTaken = false;               // the On-The-Go files are in the database
};
