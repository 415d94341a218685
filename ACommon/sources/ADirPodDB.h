#pragma once
// ADirPodDB: a mounted iPod as a song source, read and changed through the iPod's own database
// (IPodDB) rather than through a library application. The songs, their tags and their files come
// from iPod_Control/iTunes/iTunesDB; songs are copied into the music folders F00-F99 and entered
// into the database here, and the database (with iTunesSD) is written back by Finalize, and on the
// way as IPodStoreCadence says.
//
// The iPod never holds a track without its file, whenever a run stops: the first change takes the
// iPod's lock (IPodLock); a song's file is copied only once the iPod's journal (IPodJournal) names
// it, and a removed song's file is moved or deleted only once a stored database no longer lists it.
// Listing the iPod takes in what a run that was killed or failed left behind: complete files the
// journal names become the songs they are, incomplete ones and leftover temporary files go, and
// removals the stored database already shows are carried out.
//
// Its virtual paths are the database's ("/Genre/Artist/Album/Name/ext?handle"), the handle being
// the track's, which never names another track within the process. Full paths handed to it are the
// iPod's mount point joined with a virtual path.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/itunesdb/IPodMusicFolder.h"
#include "ACommon/itunesdb/IPodRecovery.h"
#include "ACommon/itunesdb/IPodStoreCadence.h"
#include "ACommon/sources/ADirSong.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class ADirPodDB : public ADirSong {
public:
    static constexpr std::uint32_t kStateMark = 0x00100001;

    explicit ADirPodDB(AProgress* progress = &AProgress::Shared());
    ~ADirPodDB() override;

    int GetType() const override;
    // Sets the root when one is given, empties the source, then loads the whole database.
    int InitWPath(const AString* root, signed char useFullPaths, CancelProc cancel) override;
    // The number of songs of the sorted view (built by the first call when no Sort came before).
    int Count() override;
    bool HasRecords() override;
    // Builds the sorted view of the tracks this source's filters pass, or sorts it again.
    void Sort(signed char ascending) override;
    // The iPod's mount point, ending in "/".
    const AString* GetRootPath() override;
    // Takes the iPod's mount point and reads the iPod's name (only that) from its database.
    void SetRootPath(const AString* root) override;
    int GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList) override;
    std::uint64_t GetFileModTime(const AString* path) override;
    int DeleteEntry(int index, signed char removeFile, signed char keepFile) override;
    // A saved list: the track goes from the database held in memory, which is never stored.
    int ForgetRecord(int index) override;
    int Delete(const AString* path, signed char fromList, signed char keepFile) override;
    int GetSongInfo(const AString* path, SongInfoStruct* info) override;
    bool FileExists(const AString* path) override;
    AString* GetFPath(int index) override;
    void DeleteAll() override;
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    // Writes the database and iTunesSD back to the iPod when the run changed anything (or iTunesSD
    // no longer matches the database), then moves or deletes the files of the songs removed, and
    // releases the iPod's lock; kErrUnknown unless the whole database was loaded.
    int Finalize() override;
    // Gives every track of the iPod without a cover the one its file has, at the next store (the
    // album-art tool on the iPod's side). The number of tracks that will be looked at, or an error.
    int FillMissingCovers();
    int CopyProperties(ADir* other) override;
    // The songs this source added and removed since its last store of the database.
    Unwritten GetUnwritten() const override { return unwritten; }
    AString GetRootDisplayName(signed char bare) override;
    int PopulateFileList(CancelProc cancel) override;
    bool TakeListing(ADir& live) override;
    bool SameListingAs(ADir& live) override;
    void ShareWith(ADir& saved) override;
    void GetRealRootPath(AString* out) override;

    // Copies the music file `path` onto the iPod and enters it into the database. A song without a
    // name tag is called `name` when given (else after its file). kErrDuplicate when the database holds the
    // song already (nothing is copied); kErrUnknown unless the whole database was loaded.
    int AddSongFromDisk(const AString* path, const AString* name, CancelProc cancel);
    // AddSongFromDisk; `placed` gets the song's file on the iPod.
    int AddLooseFile(const AString* file, CancelProc cancel, AString* placed) override;
    // Takes the length, size, bit rate, date, year and track number of the track a virtual path
    // names from its file again, after the file was replaced in place.
    int RefreshSong(const AString* path);
    int GetIPodName(AString& name) const;
    void SetLocalTempPath(const AString& folder);
    const AString& GetIPodID() const { return iPodID; }
    IPodDB* GetDatabase() const
    {
        TakeBackDatabase();
        return database.get();
    }

    // When a long run stores the database on the way, so that a crash loses little work.
    void SetStoreCadence(IPodStoreCadence newCadence) { cadence = std::move(newCadence); }
    // How long the first change waits for another program that holds the iPod's lock; a run
    // waits only once (IPodLock).
    void SetLockWait(int milliseconds) { lockWaitMs = milliseconds; }

private:
    // Before the database is changed: the iPod's lock taken, and a database that another writer
    // stored since it was read here read again. 0, or why the iPod cannot be changed.
    int BeginChange();
    // Stores the database, then carries out the removals waiting for it and empties the journal.
    int StoreNow();
    void StoreIfDue();
    // The size of the iPod's database file (0 when it cannot be told).
    std::uint64_t StoredDatabaseBytes() const;
    // Takes in what an interrupted run left on the iPod (see the top of this file): complete
    // copies become songs of the database in memory at once, so that the listing shows them; the
    // files to remove are only noted, and removed by TidyUp at the first change or Finalize (a
    // run that only plans, or is refused at its review, changes nothing on the iPod).
    void RecoverInterruptedRun();
    void TidyUp();
    void Log(const AString& line) const;
    // `path` relative to the iPod: the mount point cut off ("/" kept in front).
    AString RelativePath(const AString& path, bool upToFirstRoot) const;
    // The track a virtual path names (1 found, 0 not).
    int FindTrack(const AString& path, signed char exact, MHIT** track, bool upToFirstRoot = false);
    AString DiskPathOf(const MHIT& track) const;
    enum class OwnFile { kOwn, kMissing, kRefused };
    // Whether the file of `track` is one this source may read, write over, delete or move: kOwn
    // (`file` set to it) for a regular file inside the iPod's music folder, kMissing when nothing
    // is there, kRefused (`why` set) for a location with ".." in it, outside the music folder, a
    // link or anything but a regular file.
    OwnFile ResolveOwnFile(const MHIT& track, AString* file, AString* why) const;
    // True when `folder` is the music folder or lies inside it (or does not exist).
    bool InsideMusicFolder(const AString& folder) const;
    // Notes why the file of `track` is not used and returns kErrUnknown.
    int RefuseLocation(const MHIT& track, const AString& why) const;
    void ResetDatabase();
    // A database read back from a state is kept as bytes (IPodDB::SetAside) until it is looked at.
    void TakeBackDatabase() const;
    void CheckRemovedFilesFolder();

    AString iPodRoot;
    AString lastAddedFile; // the file on the iPod of the song AddSongFromDisk added last
    std::unique_ptr<IPodDB> database;
    AString lastPath;
    AString iPodID;
    AString localTempPath;
    IPodLock lock;
    IPodJournal journal;
    IPodMusicFolder::Known musicFolders; // the music folders this listing found or made
    // The files of songs removed since the last store, moved or deleted once a store succeeds.
    std::vector<AString> pendingRemovals;
    // What an interrupted run left to remove.
    std::vector<IPodRecovery::LeftFile> tidyFiles;
    bool tidyPending = false;
    bool changed = false;      // the database differs from the iPod's since the last store
    bool reloaded = false;     // read again since it was listed: lookups go by the song
    int addedSinceStore = 0;   // songs copied onto the iPod since the last store
    Unwritten unwritten;       // what this source's own adds and removals left to store
    int storedThisListing = 0; // stores since the database was listed
    IPodStoreCadence cadence;
    std::shared_ptr<const MHOD::TextStore> offeredBytes; // see ShareWith
    int lockWaitMs = IPodLock::kDefaultWaitMs;
    // Folders already found to be inside (or outside) the music folder.
    mutable std::unordered_map<std::string, bool> insideMusic;
};
