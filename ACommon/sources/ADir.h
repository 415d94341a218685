#pragma once
// ADir: the base of every source, the object that presents one side of a sync (or the subject of a
// library tool) as a root path and a file list of paths, with the file operations that the sync
// engine needs on those paths. By itself it is the plain-folder source.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AFileList.h"
#include "ACommon/base/APLock.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/base/AString.h"

#include <cstdint>
#include <string>
#include <vector>

class ID3;
struct SongInfoStruct;

namespace platform {
class StatusField;
class ProgressBar;
} // namespace platform

class ADir {
public:
    // Source type numbers.
    enum : int {
        kTypeFolder = 10000,
        kTypeITunes = 10001,
        kTypeIPod = 10002,
        kTypeSongFolder = 10003,
        kTypeIPodDB = 10004,
    };
    static constexpr std::uint32_t kStateMark = 0x00100008;

    explicit ADir(AProgress* progress = &AProgress::Shared());
    virtual ~ADir();
    ADir(const ADir&) = delete;
    ADir& operator=(const ADir&) = delete;

    virtual int GetType() const;
    virtual int InitWPath(const AString* root, signed char useFullPaths, CancelProc cancel);
    virtual int Count();
    // Whether the list holds any record (a saved list may tell without being read).
    virtual bool HasRecords() { return Count() > 0; }
    virtual void Sort(signed char ascending);
    virtual const AString* GetRootPath();
    virtual void SetRootPath(const AString* root);
    virtual int GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList);
    virtual std::uint64_t GetFileModTime(const AString* path);
    virtual int DeleteEntry(int index, signed char removeFile, signed char keepFile);
    virtual int Delete(const AString* path, signed char fromList, signed char keepFile);
    virtual int GetSongInfo(const AString* path, SongInfoStruct* info);
    virtual bool FileExists(const AString* path);
    virtual AString* GetFPath(int index);
    virtual int AddFPath(AString* path);
    // Adds a record whose date and size are known (an entry a saved list carries over from the
    // list it replaces). Sources that keep their lists elsewhere take no such record.
    virtual int AddRecord(const AString& path, std::uint64_t modTime, std::uint64_t size);
    // Drops entry `index` from a saved list, and from whatever keeps it (never from the disk).
    virtual int ForgetRecord(int index) { return DeleteEntry(index, 0, 0); }
    virtual void SetPlaylist(const AString* name);
    virtual int ScanForDuplicates(signed char deleteFiles, signed char sortFirst, signed char ascending,
                                  CancelProc cancel, signed char interactive);
    virtual void DeleteAll();
    virtual int WriteState(AFile* f);
    virtual int ReadState(AFile* f);
    virtual int Initialize();
    virtual int Finalize();
    // Copies the settings of `other`; 0, or (for sources that copy only from their own kind) the
    // type number of an `other` they cannot copy from.
    virtual int CopyProperties(ADir* other);
    virtual AString GetRootDisplayName(signed char bare);
    virtual int PopulateFileList(CancelProc cancel);
    // Makes this (saved) list what a new listing of its root would give, from the listing `live` (a
    // source of the same class and settings) made in this run, when nothing changed either side
    // since: the list is taken over, not read again, and `live` is left with the list this one held,
    // to be emptied. False where this source cannot (it is then listed again).
    virtual bool TakeListing(ADir& live)
    {
        (void)live;
        return false;
    }
    // True when this saved list is known, without being read, to be what `live` (a source of the same
    // class) lists now: a plan may then use `live` in its place.
    virtual bool SameListingAs(ADir& live)
    {
        (void)live;
        return false;
    }
    // Lets the next listing take what `saved` (a saved list of a source of the same class) holds in
    // memory where it is what the listing reads, instead of holding it twice.
    virtual void ShareWith(ADir& saved) { (void)saved; }
    // Files that are there but that the last listing could not take in (a song whose tags cannot
    // be read). The list does not show them, so their copies elsewhere must not look deleted.
    virtual int GetUnreadableCount() const { return 0; }
    // What the source changed in memory but has not written back yet: songs added (with the bytes
    // of their files) and songs removed since its library was last written. A Finalize that fails
    // leaves these undone. Nothing for a source whose changes are made on disk at once.
    struct Unwritten {
        int added = 0;
        std::uint64_t addedBytes = 0;
        int removed = 0;
    };
    virtual Unwritten GetUnwritten() const { return {}; }
    virtual void AppendArtistAlbum(const ID3* tags, AString* path, signed char& unknownArtist,
                                   unsigned int options);

    void SetVerboseLog(signed char verbose) { verboseLog = verbose; }
    signed char GetVerboseLog() const { return verboseLog; }
    void SetTypeFilter(int mode) { typeFilterMode = mode; }
    int GetTypeFilter() const { return typeFilterMode; }
    void SetFileExtentionIncludeFilter(const AString& list) { typeIncludeFilter = list; }
    const AString& GetTypeIncludeFilter() const { return typeIncludeFilter; }
    void SetTypeExcludeFilter(const AString& list) { typeExcludeFilter = list; }
    const AString& GetTypeExcludeFilter() const { return typeExcludeFilter; }
    void SetPathFilterMode(int mode) { pathFilterMode = mode; }
    int GetPathFilterMode() const { return pathFilterMode; }
    void SetPathIncludeFilter(const AString& list) { pathIncludeFilter = list; }
    const AString& GetPathIncludeFilter() const { return pathIncludeFilter; }
    void SetPathExcludeFilter(const AString& list) { pathExcludeFilter = list; }
    const AString& GetPathExcludeFilter() const { return pathExcludeFilter; }
    void SetDetectOnly(signed char value) { detectOnly = value; }
    signed char GetDetectOnly() const { return detectOnly; }
    void SetOpenLogAutomatically(signed char value) { openLogAutomatically = value; }
    signed char GetOpenLogAutomatically() const { return openLogAutomatically; }
    void SetStopOnError(signed char value) { stopOnError = value; }
    void SetMoveInsteadOfDelete(signed char value) { moveInsteadOfDelete = value; }
    signed char GetMoveInsteadOfDelete() const { return moveInsteadOfDelete; }
    void SetRemovedFilesFolder(const AString& folder) { removedFilesFolder = folder; }
    // Whether a listing says what it left out (a second listing of the same folder in one run need
    // not).
    void SetReportSkipped(bool value) { reportSkipped = value; }
    // Whether Sort orders by exact names (for a sync between two volumes that tell case and Unicode
    // forms apart) rather than ignoring case.
    void SetExactNames(bool value) { exactNames = value; }
    // Removes the temporary files of stopped runs that the last listing found (and left out);
    // the number removed.
    int RemoveStaleTemporaries();
    const AString& GetRemovedFilesFolder() const { return removedFilesFolder; }
    // How many files (and folders) MoveToRemovedFiles has moved in this object's life.
    int GetMovedCount() const { return movedFiles; }
    AProgress* GetProgress() const { return progress; }
    // Points the source at another reporter (a sync lists a second folder on a helper thread with a
    // reporter of its own).
    void SetProgress(AProgress* reporter) { progress = reporter; }
    void SetProgressControl(platform::StatusField* message, platform::StatusField* detail,
                            platform::ProgressBar* bar);

    bool TypeFilterCheck(const AString* path) const;
    bool PathFilterCheck(const AString* path) const;
    // A filter of fragments (":a:b:"), case kept: with bit 0x1 of `mode` and a non-empty include
    // list some entry must occur in `text`; with bit 0x2 and a non-empty exclude list none may.
    static bool FragmentFilterCheck(const AString& text, int mode, const AString& include,
                                    const AString& exclude);

    // What the listing learned of one entry with its one stat, so that a sync can plan without
    // asking the file system again (its answers are those of AFile::DirExists, FileModTime and
    // the size FastFilesEqual compares).
    struct ListedFile {
        bool isDir = false;
        std::uint64_t size = 0;
        std::uint64_t modTime = 0;
    };
    // False for entries the listing did not see as a plain file or folder (links other than to a
    // file, entries added or read back from a state record, sources that keep their own lists).
    bool GetListedFile(int index, ListedFile* out);
    // The time and size the list keeps for entry `index`: as listed, or as read back from a state
    // record, which keeps only the low 32 bits of the size (0 there: not known).
    std::uint64_t GetRecordModTime(int index) const { return fileList.GetModTime(index); }
    std::uint64_t GetRecordSize(int index) const { return fileList.GetSize(index); }

    // Removes the plain file or folder at `path` (a full path below the root) so that the user can
    // get it back: into the Trash of its volume, or, where no Trash can take it, into the "Removed
    // Files" folder under its path below the root. Deletes it outright when moveInsteadOfDelete is
    // off.
    int PutAside(const AString* path);

protected:
    // What InitWPath sets before it lists: the root (when given), the list's root and the path form.
    void InitRoot(const AString* root, signed char fullPaths);
    // Trades the records, what their listing learned and the temporaries it found with `other`.
    void SwapListing(ADir& other);
    // Moves `path` into the "Removed Files" folder (the plain folder's way of deleting).
    int MoveToRemovedFiles(const AString* path);
    // The "Removed Files" folder: in `removedFilesFolder`, else beside the root folder.
    AString RemovedFilesTarget() const;
    // True for names of the form the iPod database source gives its files: a part before the first
    // "." of exactly four characters without a lower-case letter ("ABCD.mp3").
    static bool HasDeviceFileName(const AString& name);

    int typeFilterMode = 0;
    AString typeIncludeFilter;
    AString typeExcludeFilter;
    // The verdict on the last file type checked, with the filters it was given under: a listing's
    // files share a few types, and reading the lists again for each file cost more than the rest of
    // the check. A source is listed by one thread at a time.
    struct TypeVerdict {
        int mode = 0;
        AString include, exclude, extension;
        bool passes = false;
        bool known = false;
    };
    mutable TypeVerdict lastTypeVerdict;
    int pathFilterMode = 0;
    AString pathIncludeFilter;
    AString pathExcludeFilter;
    signed char detectOnly = 0;
    signed char openLogAutomatically = 1;
    signed char stopOnError = 1;
    signed char moveInsteadOfDelete = 1;
    AString removedFilesFolder;
    int movedFiles = 0;
    AString rootPath;
    AFileList fileList;
    signed char useFullPaths = 0;
    APLock busyLock;
    signed char verboseLog = 0;
    AProgress* progress = nullptr;
    bool reportSkipped = true;
    bool exactNames = false;
    std::vector<std::string> staleTemporaries; // found by the last listing

private:
    // What the listing learned, record by record in the list's order. A record's path object
    // identifies it: after the list is sorted into another order, a record found at another
    // index tells nothing, and the file system is asked instead.
    struct ListedRecord {
        const AString* path = nullptr;
        bool known = false;
        ListedFile file;
    };
    std::vector<ListedRecord> listed;
};
