#pragma once
// ADirSong: the base of every source whose entries are songs. Each song is listed under a virtual
// path made from its tags ("/Genre/Artist/Album/Name/ext?key"), so that the same song gets the same
// path on both sides of a sync whatever its file is called. Holds the settings that decide which
// tags take part, the tag filters, the duplicate-resolution preferences and the owned store
// accounts, and the library scans.

#include "ACommon/sources/ADir.h"

#include <cstdint>
#include <functional>

class ADirSong : public ADir {
public:
    static constexpr std::uint32_t kStateMark = 0x00100005;

    explicit ADirSong(AProgress* progress = &AProgress::Shared());
    ~ADirSong() override;

    int ScanForDuplicates(signed char deleteFiles, signed char sortFirst, signed char ascending,
                          CancelProc cancel, signed char interactive) override;
    // The duplicates of the last scan whose removal failed: their records left the list, their
    // files stayed.
    int GetFailedRemovalCount() const { return failedRemovals; }

    // The other library scans. Each holds the busy lock, sorts the list first (always ascending for
    // the last two) and ends with "Scanning...Done. No Errors.", "User Cancelled." or its own failure
    // text. Records of removed songs (and, in AddDisconnectedFiles, of connected files) leave the
    // list as the scan goes.
    //
    // Songs whose file is gone. Before it removes anything the scan makes sure the music can be
    // reached at all (an unmounted disk makes every song look gone: kErrVolumeNotFound, nothing removed), and
    // it asks once, with the counts, before it removes more than kOrphanHandful songs.
    int DeleteOrphans(signed char deleteFiles, signed char sortFirst, signed char ascending,
                      CancelProc cancel, signed char interactive);
    // Protected music bought with a store account that is not one of `appleIDs`. Refused (kErrUnknown,
    // nothing looked at) while `appleIDs` is empty: every purchase would count as not owned.
    int DeleteMusicNotOwned(signed char deleteFiles, signed char sortFirst, signed char ascending,
                            CancelProc cancel, signed char interactive);
    // Music files in the music folder that no song of the source has: each is added (AddLooseFile)
    // and, when that made a distinct copy with the same bytes, the loose file is removed. Only a
    // file whose tags or format cannot be read is offered for deletion as damaged; a cancel, a full
    // disk and an I/O error end the scan. The first argument is not used.
    int AddDisconnectedFiles(signed char, CancelProc cancel, signed char interactive);
    // Writes the linked picture of each MP3 song that has none in its file into the file.
    int AddAlbumArtToFiles(CancelProc cancel, signed char interactive);

    // What the last scan did, for the closing line of a front end.
    struct ScanCounts {
        int found = 0;   // items the scan found (orphans, songs not owned, disconnected files...)
        int changed = 0; // of those, removed, added or given art
        int damaged = 0; // disconnected files whose tags or format cannot be read
        int skipped = 0; // files left alone for another reason (already there, refused)
    };
    const ScanCounts& GetScanCounts() const { return scanCounts; }
    static constexpr int kOrphanHandful = 10;
    // Pictures larger than this, or wider or taller than kMaxPictureSide pixels, are not written
    // into files (what reads them must be able to decode them).
    static constexpr std::uint64_t kMaxPictureBytes = 16ull * 1024 * 1024;
    static constexpr int kMaxPictureSide = 8000;
    // True when `data` is a JPEG or PNG picture within the limits above (read from its header).
    static bool PictureWithinBounds(const unsigned char* data, std::uint64_t size);

    // "Add ID to Prefs" in the scan for music not owned: the front end's group keeps the account
    // (appends it with a ":" to the appleIDs of its first sync and its sources). Without one the
    // account is added to this source's list only.
    using AddAccountProc = std::function<void(const AString& account)>;
    void SetAddAccountProc(AddAccountProc proc) { addAccount = std::move(proc); }

    // Adds the music file `file` to this source as a new song (the disconnected-files scan and the
    // tool that adds files). `placed` gets the file the source keeps (empty when it keeps none of
    // its own). 0, kErrDuplicate when the source holds the song already, or an error; kErrNotSupported for
    // sources that take no files.
    virtual int AddLooseFile(const AString* file, CancelProc cancel, AString* placed);
    // The folder whose music files the disconnected-files scan lists.
    virtual AString GetMusicFolder();
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    int CopyProperties(ADir* other) override;
    void AppendArtistAlbum(const ID3* tags, AString* path, signed char& unknownArtist,
                           unsigned int options) override;

    virtual int PathCompare(const AString* a, const AString* b);
    virtual int DirPickFileToKeep(const AString* a, const AString* b);
    virtual void GetRealRootPath(AString* out);
    virtual int GetPlayListType() const;
    virtual int GetImageInfo(const AString* path, int index, unsigned char** data, int* size);
    virtual int GetImageCount(const AString* path, int* count);

    // Tag filters on one value (the value may be changed) and on a virtual path.
    bool GenreFilterCheck(AString* genre) const;
    bool ArtistFilterCheck(AString* artist) const;
    bool AlbumFilterCheck(AString* album) const;
    bool SongNameFilterCheck(AString* name) const;
    bool VPathGenreFilterCheck(AString* vpath) const;
    bool VPathArtistFilterCheck(AString* vpath) const;
    bool VPathAlbumFilterCheck(AString* vpath) const;
    bool VPathSongNameFilterCheck(AString* vpath) const;
    bool VPathFilterCheck(AString* vpath) const;

    // The virtual path of a song: "/Genre/Artist/Album/Name/ext", the genre, album and extension
    // present by the three flags, each component made path-safe and trimmed ("*" when empty), then
    // "?" and `key` when one is given. A song without usable tags (every tag component before the
    // name is "*") loses a trailing " N" copy number from its name and is filed under the size of
    // its music data as its artist, so that untagged songs match by size and name; `musicSize` is
    // asked only for such songs. Every song source builds its paths here.
    static AString MakeVirtualPath(signed char withGenre, signed char withAlbum, signed char withFileType,
                                   const AString& genre, const AString& artist, const AString& album,
                                   const AString& name, const AString& extension,
                                   const std::function<std::uint64_t()>& musicSize, const AString* key);
    // The same with this source's flags.
    AString BuildVirtualPath(const AString& genre, const AString& artist, const AString& album,
                             const AString& name, const AString& extension,
                             const std::function<std::uint64_t()>& musicSize, const AString* key) const;

    // The longest name of a file or folder, in bytes of UTF-8 (the limit of Linux file systems).
    static constexpr int kMaxNameBytes = 255;
    // `stem` + `tail`, the stem shortened at a character boundary (and of spaces and dots left at
    // its end) so that the whole takes at most kMaxNameBytes bytes; the tail (a copy number and an
    // extension: " 2.mp3") is kept whole.
    static AString FitName(const AString& stem, const AString& tail = AString());

    // The name component of a virtual path (the first flag is not used).
    static AString GetName(AString vpath, signed char, signed char withGenre, signed char withAlbum);
    // Removes a trailing " N" copy number (N a digit 1 to 9): "Song 2" gives "Song".
    static void RemoveSpaceNumber(AString* name);

    // Asks whether to remove one item found by a scan; `answer` carries "Yes to All" (2) and
    // "No to All" (4) from one question to the next.
    // `what` (when given) names the item in the question, after "Delete ".
    bool AskUserToDelete(int* answer, AString* text, const AString* what = nullptr);
    // The song at `vpath` as a person reads it in a question: "Title — Artist (file)"; the path
    // itself when it names no song.
    AString DescribeSong(const AString& vpath);

    void SetDontDupSongs(signed char value) { dontDupSongs = value; }
    signed char GetDontDupSongs() const { return dontDupSongs; }
    void SetFavorSizeVsDate(signed char value) { favorSizeVsDate = value; }
    signed char GetFavorSizeVsDate() const { return favorSizeVsDate; }
    void SetFileTypeRelevantOnDupSongCompare(signed char value) { fileTypeRelevantOnDupSongCompare = value; }
    signed char GetFileTypeRelevantOnDupSongCompare() const { return fileTypeRelevantOnDupSongCompare; }
    void SetGenreRelevantOnDupSongCompare(signed char value) { genreRelevantOnDupSongCompare = value; }
    signed char GetGenreRelevantOnDupSongCompare() const { return genreRelevantOnDupSongCompare; }
    void SetAlbumRelevantOnDupSongCompare(signed char value) { albumRelevantOnDupSongCompare = value; }
    signed char GetAlbumRelevantOnDupSongCompare() const { return albumRelevantOnDupSongCompare; }
    void SetFavorProtectedMusic(signed char value) { favorProtectedMusic = value; }
    signed char GetFavorProtectedMusic() const { return favorProtectedMusic; }
    void SetDeleteMusicNotOwned(signed char value) { deleteMusicNotOwned = value; }
    signed char GetDeleteMusicNotOwned() const { return deleteMusicNotOwned; }
    void SetCreateLastPlaylist(signed char value) { createLastPlaylist = value; }
    signed char GetCreateLastPlaylist() const { return createLastPlaylist; }
    // Set while the other side of the sync is an iPod: the virtual path of a song whose type the
    // iPod cannot play carries the type it is converted to ("m4a"), so that it matches its
    // converted copy. Not saved: the sync sets it from its two types.
    void SetConvertsForIPod(signed char value) { convertsForIPod = value; }
    signed char GetConvertsForIPod() const { return convertsForIPod; }

    void SetGenreFilterMode(int mode) { genreFilterMode = mode; }
    int GetGenreFilterMode() const { return genreFilterMode; }
    void SetGenreIncludeFilter(const AString& list) { genreIncludeFilter = list; }
    const AString& GetGenreIncludeFilter() const { return genreIncludeFilter; }
    void SetGenreExcludeFilter(const AString& list) { genreExcludeFilter = list; }
    const AString& GetGenreExcludeFilter() const { return genreExcludeFilter; }
    void SetArtistFilterMode(int mode) { artistFilterMode = mode; }
    int GetArtistFilterMode() const { return artistFilterMode; }
    void SetArtistIncludeFilter(const AString& list) { artistIncludeFilter = list; }
    const AString& GetArtistIncludeFilter() const { return artistIncludeFilter; }
    void SetArtistExcludeFilter(const AString& list) { artistExcludeFilter = list; }
    const AString& GetArtistExcludeFilter() const { return artistExcludeFilter; }
    void SetAlbumFilterMode(int mode) { albumFilterMode = mode; }
    int GetAlbumFilterMode() const { return albumFilterMode; }
    void SetAlbumIncludeFilter(const AString& list) { albumIncludeFilter = list; }
    const AString& GetAlbumIncludeFilter() const { return albumIncludeFilter; }
    void SetAlbumExcludeFilter(const AString& list) { albumExcludeFilter = list; }
    const AString& GetAlbumExcludeFilter() const { return albumExcludeFilter; }
    void SetSongNameFilterMode(int mode) { songNameFilterMode = mode; }
    int GetSongNameFilterMode() const { return songNameFilterMode; }
    void SetSongNameIncludeFilter(const AString& list) { songNameIncludeFilter = list; }
    const AString& GetSongNameIncludeFilter() const { return songNameIncludeFilter; }
    void SetSongNameExcludeFilter(const AString& list) { songNameExcludeFilter = list; }
    const AString& GetSongNameExcludeFilter() const { return songNameExcludeFilter; }
    void SetFavorFileTypes(const AString& list) { favorFileTypes = list; }
    const AString& GetFavorFileTypes() const { return favorFileTypes; }
    void SetAppleIDs(const AString& list) { appleIDs = list; }
    const AString& GetAppleIDs() const { return appleIDs; }

protected:
    // Removes a loose music file the way a plain folder does (into "Removed Files" unless files
    // are deleted), into this source's "Removed Files" folder.
    int RemoveLooseFile(const AString& file);
    // A line of a scan's log, dated when the log is verbose.
    void LogLine(const AString& text);
    // False (with the volume in `why`) for a file on a volume of the volumes folder that is not
    // mounted now: its song is not gone.
    static bool MusicReachable(const AString& disk, AString* why);

    // The frame every library scan runs in. It holds the busy lock (kErrBusy when another scan
    // runs), starts the counts afresh, asks `refuse` (a nonzero result ends the scan before it
    // looks at anything), sorts the list (an iPod's database always), opens the progress division
    // and closes it with "Scanning...Done. No Errors.", "User Cancelled." or `failed`. `step`
    // does the scan's own work; it is told not to remove files when the source only detects, and
    // may end the division to open the next (the frame closes the last one).
    struct ScanFrame {
        const char* title = "";  // of the progress division
        const char* failed = ""; // the closing text of a failed scan
        signed char sortFirst = 1;
        signed char ascending = 1;
        bool freshCounts = true;
        double share = 1.0; // of the progress the first division takes
        std::function<int()> refuse = nullptr;
    };
    using ScanStep = std::function<int(signed char deleteFiles)>;
    int RunScan(const ScanFrame& frame, signed char deleteFiles, signed char interactive,
                const ScanStep& step);
    // True when the front end asks the scan to stop.
    static bool CancelAsked(CancelProc cancel) { return cancel && cancel(); }

    int failedRemovals = 0;
    ScanCounts scanCounts;
    AddAccountProc addAccount;
    // A folder name made from a tag (artist, album): `whenEmpty` for an empty tag; a tag of white
    // space only keeps its length with its first and last characters replaced by "_"; any other is
    // trimmed; then the name is made path-safe, dots at either end included.
    static AString FolderNameFromTag(AString tag, const char* whenEmpty);

    signed char dontDupSongs = 0;
    signed char favorSizeVsDate = 1;
    signed char fileTypeRelevantOnDupSongCompare = 1;
    signed char genreRelevantOnDupSongCompare = 1;
    signed char albumRelevantOnDupSongCompare = 1;
    signed char favorProtectedMusic = 1;
    signed char deleteMusicNotOwned = 1;
    signed char createLastPlaylist = 1;
    signed char convertsForIPod = 0;
    int genreFilterMode = 0;
    AString genreIncludeFilter;
    AString genreExcludeFilter;
    int artistFilterMode = 0;
    AString artistIncludeFilter;
    AString artistExcludeFilter;
    int albumFilterMode = 0;
    AString albumIncludeFilter;
    AString albumExcludeFilter;
    int songNameFilterMode = 0;
    AString songNameIncludeFilter;
    AString songNameExcludeFilter;
    AString favorFileTypes;
    AString appleIDs;
};
