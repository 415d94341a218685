#pragma once
// AFile: an open file (sequential and positioned reads and writes) and the home of every static
// file-system operation of the system. Paths are absolute POSIX paths.
//
// A file time is an unsigned 64-bit count of whole seconds: the modification date in seconds since
// 1970-01-01 UTC plus 2082830400. File time 0 means "no date".

#include "ACommon/base/AString.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

class AProgress;
using CancelProc = signed char (*)();

class AFile {
public:
    AFile() = default;
    ~AFile(); // releases the handle without flushing
    AFile(const AFile&) = delete;
    AFile& operator=(const AFile&) = delete;

    // Opens for reading: `mode` must be 1 (files are written through ReplaceSafely). A missing file is
    // created empty first. Returns 0 or kErrOpen.
    int Open(const AString* path, unsigned mode);
    // Opens a regular file for reading with one open and one fstat, never waiting on a pipe or a
    // device: kErrFileNotFound when nothing is at `path`, kErrOpen for anything but a regular file.
    int OpenRegular(const AString* path);
    void Close(signed char flush);
    bool IsOpen() const { return fd >= 0; }
    // The file as it was when it was opened for reading (its size, dates and identity).
    const struct stat& OpenedInfo() const { return opened; }

    // With `got`: reads what is there (0 at the end) and stores the count. Without: fewer than `n`
    // bytes available gives kErrEndOfFile and nothing is copied. A failed read gives kErrIO.
    // A file open for reading only serves reads of fewer than kSmallRead bytes from a block of
    // kReadAhead bytes read ahead, so that the many small reads of a record cost one system call
    // per block.
    int Read(void* buf, unsigned n, unsigned* got);
    int Write(const void* buf, unsigned n);
    int Seek(unsigned long long pos);
    unsigned long long GetFilePos() const { return position; }
    unsigned long long GetEOF() const;
    // Bytes between the position and the end of the file (0 when the position is past it). Lengths
    // read from a file are checked against this before anything is allocated for them. For a file
    // open for reading only, the end is where it was when the file was opened or last read ahead.
    unsigned long long Remaining() const;
    // Forces written data to the disk. Returns 0 or kErrIO.
    int Flush();
    const AString& GetPath() const { return path; }

    // Queries: absence is reported by their neutral value and never fails.
    static bool FileExists(const AString* path);
    static bool DirExists(const AString* path);
    // 1 when the directory holds nothing, 0 when it holds something, -1 when it is gone or unreadable.
    static int DirectoryEmptiness(const AString* path);
    // What lies at a path, without following a link.
    enum PathType : int {
        kPathFolder = 0,
        kPathFile = 1,
        kPathLink = 2,
        kPathSocket = 3,
        kPathOther = 4, // anything else, or nothing at all
    };
    static PathType GetPathType(const AString* path);
    static std::uint64_t FileModTime(const AString* path);
    static std::uint64_t GetFileSize(const AString* path);
    // FileExists, GetFileSize and FileModTime in one look at the file: false when nothing is there.
    static bool SizeAndModTime(const AString* path, std::uint64_t* size, std::uint64_t* time);
    static int GetVolumeFreeSpace(const AString* path, unsigned long long* freeBytes);

    static int Delete(const AString* path); // file, or directory with its contents; 0 when gone
    static int Move(const AString* from, const AString* to);
    static int Rename(const AString* from, const AString* to);
    // Copies contents and attributes. An existing `to` is replaced only once the copy is complete.
    static int Copy(const AString* from, const AString* to);
    static int CopyWithCheck(const AString* from, const AString* to);
    // `flush` false leaves the copy unflushed (still complete before it takes its name), for a
    // caller that flushes many copies at once (FlushVolume).
    static int CopyWithProgress(const AString* from, const AString* to, CancelProc cancel,
                                AProgress* progress, bool flush = true);
    // CopyWithProgress of `from` read through `opened` when that is `from` open for reading (not
    // opened again: its size, dates and permissions as they were when it was opened, so that a change
    // since is caught as one made during the copy); else as above.
    static int CopyWithProgress(const AString* from, const AFile& opened, const AString* to,
                                CancelProc cancel, AProgress* progress, bool flush = true);
    // Copies the regular file `from`, open as `fd` and looked at as `info`, into a new temporary file
    // beside `beside`, checked as the copies above are (whole, its dates kept) but neither flushed nor
    // put in place: its path goes to `*temporary`. Whether the file changed while it was read is the
    // caller's to tell, by comparing `info` with a look at the file taken after this returns. `stop`
    // is asked between the chunks of a large file. 0, or the error of the copy (its temporary file
    // removed).
    static int CopyToTemporary(const AString* from, int fd, const struct stat& info, const AString* beside,
                               CancelProc stop, AString* temporary);
    static bool FilesEqual(const AString* a, const AString* b);
    static bool FastFilesEqual(const AString* a, const AString* b);
    static bool DatesEssentiallyEqual(double a, double b);
    static int CreateDir(const AString* path);
    static int SetVisibility(const AString* path, signed char visible);

    // Replaces the file at `path` safely: `write` fills a new temporary file in the same folder
    // (created empty, with the permissions of the file it replaces), which is then flushed, renamed
    // over `path`, and the folder flushed. When `write` or any step fails, the temporary file is
    // removed and the old file is untouched. Returns 0, the error of `write`, or kErrIO.
    // `flush` false skips the flushes: the file is still whole whenever a process stops, but only
    // a later FlushVolume makes it last through a power loss.
    static int ReplaceSafely(const AString* path, const std::function<int(AFile*)>& write, bool flush = true);
    // ReplaceSafely, except that when `write` gives the very bytes the file holds, nothing is written
    // and the file is left as it is (`*replaced` false). The bytes are compared as they come, so an
    // unchanged file costs a read of it, not a second copy in memory. The temporary files that runs
    // killed while replacing it left beside it are removed.
    static int ReplaceIfChanged(const AString* path, const std::function<int(AFile*)>& write,
                                bool* replaced = nullptr);
    // ReplaceSafely with the bytes `data`.
    static int WriteWholeFileSafely(const AString* path, const void* data, std::size_t size,
                                    bool flush = true);
    // Flushes everything written to the volume holding the folder `path` (syncfs(2)). 0 or kErrIO.
    static int FlushVolume(const AString* path);
    // Puts a complete, closed and flushed temporary file in place of `target`: renames it over the
    // target (atomically replacing the old file) and flushes the folder. Returns 0 or kErrUnknown.
    static int CommitReplacement(const AString* temporary, const AString* target);
    // A name for a temporary file beside `path` that does not exist yet.
    static AString TemporaryPathBeside(const AString* path);
    // Whether a file name (no folder) is one TemporaryPathBeside makes: ".NAME.pelorin-PID-N.tmp".
    static bool IsTemporaryName(const char* name);
    // Whether it is such a name of a process that no longer runs (what a killed run leaves).
    static bool IsStaleTemporaryName(const char* name);
    // Removes the temporary files beside `path` that processes no longer running left while replacing
    // it: nothing else would ever remove them.
    static void RemoveStaleTemporariesOf(const AString* path);
    // Removes from `folder` (not below it) the temporary files that processes no longer running left
    // there: all of them, or with `ofName` only those made beside the file of that name.
    static void RemoveStaleTemporariesIn(const AString& folder, const std::string& ofName = std::string());

    // Seam for tests: `hook` runs in the middle of every file copy, after its bytes are read and
    // before the copy is checked and put in place, with the path being copied. Empty: none.
    static void SetCopyHookForTesting(std::function<void(const AString& from)> hook);

    static constexpr std::uint64_t kFileTimeOffset = 2082830400ULL;
    static constexpr unsigned kCopyChunk = 100000;
    static constexpr std::uint64_t kLargeFileSize = 1000000;

    static constexpr unsigned kReadAhead = 1 << 16;
    // A file ReplaceSafely writes keeps up to this many bytes written in order before it writes
    // them out at once.
    static constexpr std::size_t kWriteBehind = 1 << 18;
    static constexpr unsigned kSmallRead = 4096;

private:
    // Takes `handle`, the file at `filePath` open for reading and looked at as `info`.
    void Adopt(int handle, const struct stat& info, const AString& filePath);
    // Fills the read-ahead block from `position`: 0 or kErrIO.
    int FillReadAhead();
    // Writes out the bytes kept back: 0 or kErrIO.
    int WritePending();
    // Writes `n` bytes at `at`, or only compares them while they match the file being replaced.
    int WriteOut(const unsigned char* bytes, std::size_t n, unsigned long long at);
    // Whether the file being replaced holds `bytes` at `at`.
    bool OldFileHolds(const unsigned char* bytes, std::size_t n, unsigned long long at);
    // Gives up comparing: writes the bytes that matched (the old file's first `sameUpTo`) for real.
    int StopComparing();
    static int Replace(const AString* path, const std::function<int(AFile*)>& write, bool flush,
                       bool* replaced);

    int fd = -1;
    bool readOnly = false;
    bool regular = false;
    struct stat opened {}; // the file when it was opened for reading
    unsigned long long position = 0;
    AString path;
    // Bytes [aheadStart, aheadStart + aheadLength) of the file, read ahead; `knownSize` the size of
    // the file when they were read (when it was opened, before any).
    std::vector<unsigned char> ahead;
    unsigned long long aheadStart = 0;
    std::size_t aheadLength = 0;
    unsigned long long knownSize = 0;
    // Written bytes not yet written out, from `pendingStart` (only with `writeBehind`).
    bool writeBehind = false;
    std::vector<unsigned char> pending;
    unsigned long long pendingStart = 0;
    // With ReplaceIfChanged: the file being replaced, open while every byte written so far is the
    // same as its own, which then cover its first `sameUpTo` bytes and are not written yet.
    int sameFd = -1;
    unsigned long long sameUpTo = 0;
};
