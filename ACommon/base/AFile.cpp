#include "ACommon/base/AFile.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/base/CopyAhead.h"
#include "APlatform/FileSystem.h"
#include "APlatform/Frontend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The read-ahead block of the last file this thread let go of, for the next one it reads: a block
// made (and zeroed) and freed for each song read costs more than reading the song's tags, and the
// free of a block that large sweeps the allocator's small free chunks each time. No file outlives
// the end of its thread.
thread_local std::vector<unsigned char> tSpareBlock;

struct FileCloser {
    int fd = -1;
    ~FileCloser()
    {
        if (fd >= 0)
            close(fd);
    }
};

bool LStat(const AString* path, struct stat& info)
{
    return path && !path->IsEmpty() && lstat(path->CStr(), &info) == 0;
}

// The item a size, date, attribute or content question is about. A symbolic link to a regular file
// stands for that file: a copy copies what the link points to, so the questions around the copy
// must look at the same file. Any other link (to a folder, or dangling) is taken as the link
// itself, so that nothing walks into a folder twice or loops.
bool StatItem(const std::string& path, struct stat& info)
{
    if (lstat(path.c_str(), &info) != 0)
        return false;
    struct stat target {};
    if (S_ISLNK(info.st_mode) && stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode))
        info = target;
    return true;
}

bool StatItem(const AString* path, struct stat& info)
{
    return path && !path->IsEmpty() && StatItem(path->ToStdString(), info);
}

std::string ParentFolder(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

double ModificationSeconds(const struct stat& info)
{
    return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
}

// Writes all of `size` bytes at `offset`. False on failure.
bool WriteAll(int fd, const unsigned char* data, size_t size, off_t offset)
{
    while (size > 0) {
        ssize_t written = pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
        offset += written;
    }
    return true;
}

// Copies `count` bytes from `in` to `out` at the current file offsets of both. Returns the number of
// bytes copied (fewer only at the end of `in`), or -1 on an error.
long long CopyBytes(int in, int out, unsigned long long count, std::vector<unsigned char>& buffer)
{
    unsigned long long done = 0;
    bool kernelCopy = true;
    while (done < count) {
        size_t want = static_cast<size_t>(std::min<unsigned long long>(count - done, 1ULL << 30));
        if (kernelCopy) {
            ssize_t copied = copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (copied > 0) {
                done += static_cast<unsigned long long>(copied);
                continue;
            }
            if (copied == 0)
                break;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EBADF)
                return -1;
            kernelCopy = false; // this pair of file systems needs a copy through user space
        }
        if (buffer.empty())
            buffer.resize(AFile::kCopyChunk);
        want = std::min(want, buffer.size());
        ssize_t got = read(in, buffer.data(), want);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        size_t offset = 0;
        while (offset < static_cast<size_t>(got)) {
            ssize_t written = write(out, buffer.data() + offset, static_cast<size_t>(got) - offset);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            offset += static_cast<size_t>(written);
        }
        done += static_cast<unsigned long long>(got);
    }
    return static_cast<long long>(done);
}

// The process's own number, asked of the system once (and again in a child after a fork): it is
// part of every temporary name.
pid_t OwnProcess()
{
    static std::atomic<pid_t> cached{0};
    static std::once_flag forkWatch;
    std::call_once(forkWatch, [] { pthread_atfork(nullptr, nullptr, [] { cached.store(0); }); });
    pid_t pid = cached.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        cached.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

std::atomic<unsigned> gTemporaryCounter{0};

// How every temporary name for a file named `name` begins.
std::string TemporaryPrefix(std::string name)
{
    // A short name keeps within the limits of FAT volumes; the leading dot hides it from listings.
    if (name.size() > 40) {
        size_t cut = 40;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut; // never split a UTF-8 sequence
        name.resize(cut);
    }
    return "." + name + ".pelorin-";
}

// A temporary name beside `path` (see TemporaryPathBeside), not checked against what exists.
std::string TemporaryName(const AString* path)
{
    std::string base = path ? path->ToStdString() : std::string();
    const size_t slash = base.rfind('/');
    const std::string name = base.substr(slash == std::string::npos ? 0 : slash + 1);
    base.resize(slash == std::string::npos ? 0 : slash);
    return (slash == std::string::npos ? std::string(".")
            : slash == 0               ? std::string()
                                       : base) +
           "/" + TemporaryPrefix(name) + std::to_string(OwnProcess()) + "-" +
           std::to_string(gTemporaryCounter.fetch_add(1)) + ".tmp";
}

// Creates a new, empty temporary file beside `target` with the permission bits `mode` (the creation
// mask applies) and returns its descriptor (or -1). The creation itself refuses a name in use.
int CreateTemporaryBeside(const AString* target, AString* temporary, unsigned mode = 0644)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = AString::FromUTF8(TemporaryName(target));
        int fd = open(temporary->CStr(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

std::vector<std::string> SortedEntries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// Notes the system's reason for the failure of `action` on `path` and returns `code`.
int Fail(int code, const char* action, const AString& path, int systemError)
{
    AError::NoteFailure(code, action, path, systemError);
    return code;
}

AString Joined(const AString& from, const char* word, const AString& to)
{
    AString text = from;
    text += " ";
    text += word;
    text += " ";
    text += to;
    return text;
}

// Called by every file copy once its bytes are copied (tests change the source there).
std::function<void(const AString&)> gCopyHook;

// How one copy runs and reports. The single-call copy reports every failure as kErrUnableToCopy; the chunked
// copy with progress reports each step's own code (-1 open or short read, kErrIO read or write,
// kErrAttributes attributes, kErrUnknown the final rename).
struct CopyOptions {
    bool chunked = false;       // chunks of 100000 bytes with a cancel check and progress
    bool verify = false;        // FastFilesEqual of the finished temporary file before it is put in place
    bool reportNoSpace = false; // a volume that fills up during the copy gives kErrNoSpace
    CancelProc cancel = nullptr;
    AProgress* progress = nullptr;
    bool flush = true;             // flush the copy and its folder (else the caller flushes a batch at once)
    AString* kept = nullptr;       // the checked copy is left where it was made, its path here, not renamed
    bool changesSeenLater = false; // the caller compares the file with `info` after the copy itself
};

// Puts the complete temporary folder in place of `to`. rename(2) cannot replace a folder that holds
// anything (nor a file by a folder), so an existing item is first moved aside, and moved back when
// the new folder cannot take its place: the old item is never lost.
int PutFolderInPlace(const AString* temporary, const AString* to)
{
    if (AFile::CommitReplacement(temporary, to) == 0)
        return 0;
    if (!AFile::FileExists(to))
        return kErrUnknown;
    AString aside = AFile::TemporaryPathBeside(to);
    if (rename(to->CStr(), aside.CStr()) != 0)
        return kErrUnknown;
    if (rename(temporary->CStr(), to->CStr()) != 0) {
        rename(aside.CStr(), to->CStr());
        return kErrUnknown;
    }
    std::error_code error;
    std::filesystem::remove_all(aside.ToStdString(), error);
    platform::SyncFolder(ParentFolder(to->ToStdString()));
    return 0;
}

// Copies the regular file `from` onto `to` through a temporary file beside `to`, which replaces `to`
// only once it is complete, flushed and carries the attributes of `from`. On any failure or cancel
// the temporary file is removed and `to` is left as it was.
// `source` (when not -1) is `from` open for reading, and `opened` what fstat told of it then: the
// copy reads it instead of opening `from` again.
int CopyFileSafely(const AString* from, const AString* to, const CopyOptions& options, int source = -1,
                   const struct stat* opened = nullptr)
{
    const bool chunked = options.chunked;
    const int openError = chunked ? kErrOpen : kErrUnableToCopy;
    FileCloser owned;
    struct stat info {};
    if (source >= 0 && opened) {
        info = *opened;
    } else {
        owned.fd = open(from->CStr(), O_RDONLY | O_CLOEXEC);
        if (owned.fd < 0)
            return Fail(openError, "read", *from, errno);
        source = owned.fd;
        if (fstat(source, &info) != 0)
            info.st_mode = 0;
    }
    if (!S_ISREG(info.st_mode))
        return Fail(openError, "copy", Joined(*from, "(not a regular file) to", *to), 0);
    const unsigned long long total = static_cast<unsigned long long>(info.st_size);

    AString temporary;
    FileCloser out;
    // Made with the file's permissions where the creation mask keeps them, so that they need no
    // second call.
    const bool modeSet = platform::CreatedMode(info.st_mode) == (info.st_mode & 07777);
    out.fd = CreateTemporaryBeside(to, &temporary, modeSet ? info.st_mode : 0644);
    if (out.fd < 0)
        return Fail(openError, "write", *to, errno);

    std::vector<unsigned char> buffer;
    int err = 0;
    bool noSpace = false;
    int systemError = 0;
    const char* failedAction = "copy";
    if (chunked) {
        posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
        // Each chunk of 100000 bytes has its cancel check before it and its progress after it. The
        // bytes themselves move in pieces that end on 64 KiB boundaries: the kernel copies file data
        // in pipe-sized steps of 64 KiB, and pieces that cut across those steps copy about half as
        // fast. Every chunk crosses at least one boundary, so every chunk moves data.
        constexpr unsigned long long kStep = 65536;
        unsigned long long chunkEnd = 0; // where the chunks so far end
        unsigned long long copied = 0;   // what has been copied: up to the last step boundary before chunkEnd
        while (chunkEnd < total) {
            if (options.cancel && options.cancel()) {
                err = kErrUserCancel;
                break;
            }
            chunkEnd = std::min<unsigned long long>(chunkEnd + AFile::kCopyChunk, total);
            const unsigned long long pieceEnd = chunkEnd == total ? total : chunkEnd / kStep * kStep;
            const unsigned long long piece = pieceEnd - copied;
            long long moved = CopyBytes(source, out.fd, piece, buffer);
            if (moved < 0 || static_cast<unsigned long long>(moved) != piece) {
                systemError = moved < 0 ? errno : 0;
                noSpace = moved < 0 && IsNoSpace(errno);
                err = moved < 0 ? kErrIO : kErrOpen;
                break;
            }
            copied = pieceEnd;
            if (options.progress)
                options.progress->UpdateDivision(static_cast<double>(chunkEnd) / static_cast<double>(total),
                                                 nullptr, nullptr, nullptr, 0);
        }
    } else {
        long long moved = CopyBytes(source, out.fd, total, buffer);
        if (moved < 0 || static_cast<unsigned long long>(moved) != total) {
            systemError = moved < 0 ? errno : 0;
            noSpace = moved < 0 && IsNoSpace(errno);
            err = kErrUnableToCopy;
        }
    }
    if (err == 0 && gCopyHook)
        gCopyHook(*from);
    // A file written to while it was read gives a copy of old and new bytes mixed: it is thrown
    // away. The copy takes the date of the file as it was read, never a later one.
    struct stat after {};
    if (err == 0 && !options.changesSeenLater &&
        (fstat(source, &after) != 0 || after.st_size != info.st_size ||
         after.st_mtim.tv_sec != info.st_mtim.tv_sec || after.st_mtim.tv_nsec != info.st_mtim.tv_nsec ||
         after.st_ctim.tv_sec != info.st_ctim.tv_sec || after.st_ctim.tv_nsec != info.st_ctim.tv_nsec)) {
        failedAction = "copy (it changed while it was read)";
        err = kErrChangedWhileCopied;
    }
    bool datesKept = false;
    if (err == 0) {
        if (const int failed = platform::SetAttributes(out.fd, info.st_mode, info.st_atim, info.st_mtim,
                                                       &datesKept, modeSet);
            failed != 0) {
            systemError = failed;
            failedAction = "copy the attributes of";
            err = chunked ? kErrAttributes : kErrUnableToCopy;
        }
    }
    if (err == 0 && options.flush && fsync(out.fd) != 0) {
        systemError = errno;
        failedAction = "write";
        noSpace = IsNoSpace(errno);
        err = chunked ? kErrIO : kErrUnableToCopy;
    }
    // A copy flushed later with its batch is started on its way to the disk now, while the run goes
    // on: the flush that lets the batch be named complete then has little left to wait for. Only a
    // start (no wait, nothing promised): a volume that cannot do it just writes the copy later.
    if (err == 0 && !options.flush)
        sync_file_range(out.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    // The copy is verified by what the volume says of it: its length, and the date it was given.
    struct stat copied {};
    const bool copyAsRead =
        datesKept && fstat(out.fd, &copied) == 0 && copied.st_size == info.st_size &&
        AFile::DatesEssentiallyEqual(ModificationSeconds(copied), ModificationSeconds(info));
    int closed = close(out.fd);
    const int closeError = errno;
    out.fd = -1;
    if (err == 0 && closed != 0) {
        systemError = closeError;
        failedAction = "write";
        noSpace = IsNoSpace(closeError);
        err = chunked ? kErrIO : kErrUnableToCopy;
    }
    // A copy whose date the volume would not take is verified by its contents.
    if (err == 0 && options.verify && !copyAsRead && !AFile::FilesEqual(from, &temporary)) {
        failedAction = "verify the copy of";
        err = kErrUnableToVerify;
    }
    if (err == 0 && options.kept) {
        *options.kept = temporary;
        return 0;
    }
    if (err == 0 && rename(temporary.CStr(), to->CStr()) != 0) {
        systemError = errno;
        failedAction = "replace";
        err = chunked ? kErrUnknown : kErrUnableToCopy;
    } else if (err == 0 && options.flush) {
        platform::SyncFolder(ParentFolder(to->ToStdString()));
    }
    if (err == 0)
        return 0;
    unlink(temporary.CStr());
    if (noSpace && options.reportNoSpace)
        err = kErrNoSpace;
    if (std::strcmp(failedAction, "copy") == 0)
        return Fail(err, "copy", Joined(*from, "to", *to), systemError);
    if (std::strcmp(failedAction, "write") == 0 || std::strcmp(failedAction, "replace") == 0)
        return Fail(err, failedAction, *to, systemError);
    return Fail(err, failedAction, Joined(*from, "to", *to), systemError);
}

void CopyTimes(const struct stat& info, const std::string& path)
{
    timespec times[2] = {info.st_atim, info.st_mtim};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Copies the item `from` to the new path `to` (which must not exist): folders with everything in
// them, regular files and symbolic links, with their permissions and dates. Every file is flushed,
// so that the whole tree is on the disk before it takes the place of an old one. Other kinds of
// items (sockets, devices, pipes) cannot be copied. Sets `noSpace` when the volume filled up.
bool CopyTree(const std::string& from, const std::string& to, bool& noSpace)
{
    struct stat info {};
    if (lstat(from.c_str(), &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode)) {
        std::error_code error;
        std::filesystem::path target = std::filesystem::read_symlink(from, error);
        if (error)
            return false;
        if (symlink(target.c_str(), to.c_str()) != 0) {
            noSpace = noSpace || IsNoSpace(errno);
            return false;
        }
        CopyTimes(info, to);
        return true;
    }
    if (S_ISREG(info.st_mode)) {
        FileCloser in, out;
        in.fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in.fd < 0)
            return false;
        out.fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out.fd < 0) {
            noSpace = noSpace || IsNoSpace(errno);
            return false;
        }
        std::vector<unsigned char> buffer;
        const unsigned long long size = static_cast<unsigned long long>(info.st_size);
        long long moved = CopyBytes(in.fd, out.fd, size, buffer);
        if (moved < 0 || static_cast<unsigned long long>(moved) != size) {
            noSpace = noSpace || (moved < 0 && IsNoSpace(errno));
            return false;
        }
        if (platform::CopyAttributes(from, out.fd) != 0)
            return false;
        if (fsync(out.fd) != 0) {
            noSpace = noSpace || IsNoSpace(errno);
            return false;
        }
        int closed = close(out.fd);
        out.fd = -1;
        return closed == 0;
    }
    if (!S_ISDIR(info.st_mode))
        return false;
    // Made writable for the owner while it fills; its own permissions and dates come last.
    if (mkdir(to.c_str(), 0700) != 0) {
        noSpace = noSpace || IsNoSpace(errno);
        return false;
    }
    for (const std::string& name : SortedEntries(from))
        if (!CopyTree(from + "/" + name, to + "/" + name, noSpace))
            return false;
    if (chmod(to.c_str(), info.st_mode & 07777) != 0 && !platform::AttributeUnsupported(errno))
        return false;
    CopyTimes(info, to);
    return true;
}

// The platform copy behind Copy and the checked copies: a folder is copied whole, a file through a
// temporary file; either replaces an existing item at `to` only once the copy is complete. A folder
// replaces whatever is at `to`; a file replaces a file (or link), not a folder.
int CopyItem(const AString* from, const AString* to, bool reportNoSpace, bool flush = true)
{
    if (!from || !to || from->IsEmpty() || to->IsEmpty())
        return kErrUnableToCopy;
    CopyOptions options;
    options.reportNoSpace = reportNoSpace;
    options.flush = flush;
    options.verify = reportNoSpace; // the checked copies verify; a bad copy never replaces the old file
    // A file never takes the place of a folder: one wrong path would otherwise wipe out a whole tree.
    if (!AFile::DirExists(from))
        return CopyFileSafely(from, to, options);
    AString temporary = AFile::TemporaryPathBeside(to);
    bool noSpace = false;
    if (!CopyTree(from->ToStdString(), temporary.ToStdString(), noSpace) ||
        PutFolderInPlace(&temporary, to) != 0) {
        std::error_code error;
        std::filesystem::remove_all(temporary.ToStdString(), error);
        return (noSpace && reportNoSpace) ? kErrNoSpace : kErrUnableToCopy;
    }
    return 0;
}

bool FileContentsEqual(const std::string& a, const std::string& b)
{
    FileCloser fa, fb;
    fa.fd = open(a.c_str(), O_RDONLY | O_CLOEXEC);
    fb.fd = open(b.c_str(), O_RDONLY | O_CLOEXEC);
    if (fa.fd < 0 || fb.fd < 0)
        return false;
    struct stat sa {
    }, sb{};
    if (fstat(fa.fd, &sa) != 0 || fstat(fb.fd, &sb) != 0 || sa.st_size != sb.st_size)
        return false;
    std::vector<unsigned char> bufferA(1 << 16), bufferB(1 << 16);
    for (;;) {
        ssize_t ga = read(fa.fd, bufferA.data(), bufferA.size());
        if (ga < 0)
            return false;
        if (ga == 0)
            return true;
        ssize_t gb = 0;
        while (gb < ga) {
            ssize_t more = read(fb.fd, bufferB.data() + gb, static_cast<size_t>(ga - gb));
            if (more <= 0)
                return false;
            gb += more;
        }
        if (std::memcmp(bufferA.data(), bufferB.data(), static_cast<size_t>(ga)) != 0)
            return false;
    }
}

bool TreesEqual(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    if (!StatItem(a, sa) || !StatItem(b, sb))
        return false;
    if (S_ISDIR(sa.st_mode) != S_ISDIR(sb.st_mode))
        return false;
    if (!S_ISDIR(sa.st_mode))
        return S_ISREG(sa.st_mode) && S_ISREG(sb.st_mode) && FileContentsEqual(a, b);
    std::vector<std::string> ea = SortedEntries(a), eb = SortedEntries(b);
    if (ea != eb)
        return false;
    for (const std::string& name : ea)
        if (!TreesEqual(a + "/" + name, b + "/" + name))
            return false;
    return true;
}

// The free-space test shared by the checked copies, for a copy of `size` bytes.
int CheckFreeSpace(unsigned long long size, const AString* to)
{
    unsigned long long reclaim = 0;
    AString volume;
    if (AFile::FileExists(to)) {
        reclaim = AFile::GetFileSize(to);
        volume = *to;
    } else {
        int slash = to->ReverseFind('/');
        volume = slash > 0 ? to->Left(slash) : AString(slash == 0 ? "/" : ".");
    }
    unsigned long long freeBytes = 0;
    if (int err = AFile::GetVolumeFreeSpace(&volume, &freeBytes); err != 0)
        return err;
    if (size > reclaim && size - reclaim >= freeBytes)
        return kErrNoSpace;
    return 0;
}

} // namespace

void AFile::SetCopyHookForTesting(std::function<void(const AString& from)> hook)
{
    gCopyHook = std::move(hook);
}

AFile::~AFile()
{
    if (fd >= 0)
        close(fd);
    if (sameFd >= 0)
        close(sameFd);
    if (ahead.size() == kReadAhead && tSpareBlock.empty())
        tSpareBlock.swap(ahead);
}

int AFile::Open(const AString* filePath, unsigned mode)
{
    Close(0);
    if (!filePath || filePath->IsEmpty() || mode != 1)
        return kErrOpen;
    // Reading never makes a file: a song or a state that is gone stays gone.
    int handle = open(filePath->CStr(), O_RDONLY | O_CLOEXEC);
    if (handle < 0)
        return Fail(kErrOpen, "open", *filePath, errno);
    struct stat info {};
    if (fstat(handle, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(handle);
        return Fail(kErrOpen, "open", *filePath, EISDIR);
    }
    Adopt(handle, info, *filePath);
    return 0;
}

int AFile::OpenRegular(const AString* filePath)
{
    Close(0);
    if (!filePath || filePath->IsEmpty())
        return kErrFileNotFound;
    // Without O_NONBLOCK opening a pipe would wait for a writer; a regular file reads the same with it.
    int handle = open(filePath->CStr(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (handle < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return kErrFileNotFound;
        return Fail(kErrOpen, "open", *filePath, errno);
    }
    struct stat info {};
    if (fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(handle);
        return kErrOpen;
    }
    Adopt(handle, info, *filePath);
    return 0;
}

void AFile::Adopt(int handle, const struct stat& info, const AString& filePath)
{
    fd = handle;
    opened = info;
    regular = S_ISREG(info.st_mode);
    readOnly = true;
    position = 0;
    path = filePath;
    aheadStart = 0;
    aheadLength = 0;
    knownSize = static_cast<unsigned long long>(info.st_size);
}

void AFile::Close(signed char flush)
{
    if (fd < 0)
        return;
    WritePending(); // a failure has been noted, and Close cannot tell it
    if (flush)
        fsync(fd);
    close(fd);
    fd = -1;
    readOnly = false;
    regular = false;
    writeBehind = false;
    position = 0;
    path = AString();
    aheadLength = 0;
}

int AFile::FillReadAhead()
{
    if (ahead.size() < kReadAhead && tSpareBlock.size() == kReadAhead)
        ahead.swap(tSpareBlock);
    if (ahead.size() < kReadAhead)
        ahead.resize(kReadAhead);
    aheadStart = position;
    aheadLength = 0;
    while (aheadLength < kReadAhead) {
        ssize_t result = pread(fd, ahead.data() + aheadLength, kReadAhead - aheadLength,
                               static_cast<off_t>(position + aheadLength));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            aheadLength = 0;
            return Fail(kErrIO, "read", path, errno);
        }
        if (result == 0)
            break;
        aheadLength += static_cast<std::size_t>(result);
        // A regular file that gives less than asked for up to where it was known to end has ended
        // there: asking again would only be told so.
        if (regular && aheadStart + aheadLength >= knownSize)
            break;
    }
    struct stat info {};
    // A block that stops short reaches the end of the file; an empty one began past it, where the
    // end is not.
    if (aheadLength > 0 && aheadLength < kReadAhead)
        knownSize = aheadStart + aheadLength;
    else if (fstat(fd, &info) == 0)
        knownSize = static_cast<unsigned long long>(info.st_size);
    return 0;
}

int AFile::WritePending()
{
    if (pending.empty())
        return 0;
    const int err = WriteOut(pending.data(), pending.size(), pendingStart);
    pending.clear();
    return err;
}

int AFile::WriteOut(const unsigned char* bytes, std::size_t n, unsigned long long at)
{
    if (sameFd >= 0) {
        if (at <= sameUpTo && OldFileHolds(bytes, n, at)) {
            sameUpTo = std::max<unsigned long long>(sameUpTo, at + n);
            return 0;
        }
        if (int err = StopComparing(); err != 0)
            return err;
    }
    if (!WriteAll(fd, bytes, n, static_cast<off_t>(at)))
        return Fail(kErrIO, "write", path, errno);
    return 0;
}

bool AFile::OldFileHolds(const unsigned char* bytes, std::size_t n, unsigned long long at)
{
    if (ahead.size() < kReadAhead)
        ahead.resize(kReadAhead);
    for (std::size_t done = 0; done < n;) {
        const ssize_t got = pread(sameFd, ahead.data(), std::min<std::size_t>(kReadAhead, n - done),
                                  static_cast<off_t>(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || std::memcmp(ahead.data(), bytes + done, static_cast<std::size_t>(got)) != 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

int AFile::StopComparing()
{
    if (sameFd < 0)
        return 0;
    if (ahead.size() < kReadAhead)
        ahead.resize(kReadAhead);
    int err = 0;
    for (unsigned long long done = 0; done < sameUpTo && err == 0;) {
        const ssize_t got =
            pread(sameFd, ahead.data(), std::min<unsigned long long>(kReadAhead, sameUpTo - done),
                  static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) // the file shrank under us: what matched cannot be had again
            err = Fail(kErrIO, "read", path, got < 0 ? errno : EIO);
        else if (!WriteAll(fd, ahead.data(), static_cast<std::size_t>(got), static_cast<off_t>(done)))
            err = Fail(kErrIO, "write", path, errno);
        else
            done += static_cast<unsigned long long>(got);
    }
    close(sameFd);
    sameFd = -1;
    return err;
}

int AFile::Read(void* buf, unsigned n, unsigned* got)
{
    if (fd < 0)
        return kErrIO;
    if (int err = WritePending(); err != 0)
        return err;
    auto* bytes = static_cast<unsigned char*>(buf);
    const bool inBlock = position >= aheadStart && position - aheadStart + n <= aheadLength;
    if (readOnly && (inBlock || n < kSmallRead)) {
        if (!inBlock)
            if (int err = FillReadAhead(); err != 0)
                return err;
        // After a fill the block starts at the position; it may end before the end of the read.
        const std::size_t offset = static_cast<std::size_t>(position - aheadStart);
        const std::size_t available = std::min<std::size_t>(n, aheadLength - offset);
        if (!got && available < n)
            return kErrEndOfFile;
        if (available > 0) // an empty block has no data to copy from
            std::memcpy(bytes, ahead.data() + offset, available);
        position += available;
        if (got)
            *got = static_cast<unsigned>(available);
        return 0;
    }
    if (!got && GetEOF() < position + n)
        return kErrEndOfFile;
    unsigned done = 0;
    while (done < n) {
        ssize_t result = pread(fd, bytes + done, n - done, static_cast<off_t>(position + done));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return Fail(kErrIO, "read", path, errno);
        }
        if (result == 0)
            break;
        done += static_cast<unsigned>(result);
    }
    if (!got && done < n)
        return kErrEndOfFile; // the file shrank under us
    position += done;
    if (got)
        *got = done;
    return 0;
}

int AFile::Write(const void* buf, unsigned n)
{
    if (fd < 0)
        return kErrIO;
    aheadLength = 0;
    // A write as large as a block goes straight to the file (after what waits before it) rather
    // than through a copy of it.
    if (writeBehind && n < kWriteBehind) {
        if (!pending.empty() && pendingStart + pending.size() != position)
            if (int err = WritePending(); err != 0)
                return err;
        if (pending.empty())
            pendingStart = position;
        const auto* bytes = static_cast<const unsigned char*>(buf);
        pending.insert(pending.end(), bytes, bytes + n);
        position += n;
        return pending.size() >= kWriteBehind ? WritePending() : 0;
    }
    if (int err = WritePending(); err != 0)
        return err;
    if (int err = WriteOut(static_cast<const unsigned char*>(buf), n, position); err != 0)
        return err;
    position += n;
    return 0;
}

int AFile::Seek(unsigned long long pos)
{
    position = pos;
    return 0;
}

unsigned long long AFile::GetEOF() const
{
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0)
        return std::max({static_cast<unsigned long long>(info.st_size),
                         pending.empty() ? 0 : pendingStart + pending.size(), sameUpTo});
    return GetFileSize(&path);
}

unsigned long long AFile::Remaining() const
{
    unsigned long long size = readOnly ? knownSize : GetEOF();
    return size > position ? size - position : 0;
}

int AFile::Flush()
{
    if (fd < 0)
        return kErrIO;
    if (int err = WritePending(); err != 0)
        return err;
    if (fsync(fd) != 0)
        return Fail(kErrIO, "write", path, errno);
    return 0;
}

bool AFile::FileExists(const AString* path)
{
    struct stat info {};
    return LStat(path, info);
}

int AFile::DirectoryEmptiness(const AString* path)
{
    DIR* dir = opendir(path->CStr());
    if (!dir)
        return -1;
    int empty = 1;
    while (dirent* item = readdir(dir)) {
        const char* name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        empty = 0;
        break;
    }
    closedir(dir);
    return empty;
}

bool AFile::DirExists(const AString* path)
{
    struct stat info {};
    return path && !path->IsEmpty() && stat(path->CStr(), &info) == 0 && S_ISDIR(info.st_mode);
}

AFile::PathType AFile::GetPathType(const AString* path)
{
    struct stat info {};
    if (!LStat(path, info))
        return kPathOther;
    if (S_ISDIR(info.st_mode))
        return kPathFolder;
    if (S_ISREG(info.st_mode))
        return kPathFile;
    if (S_ISLNK(info.st_mode))
        return kPathLink;
    if (S_ISSOCK(info.st_mode))
        return kPathSocket;
    return kPathOther;
}

namespace {

std::uint64_t FileTimeOf(const struct stat& info)
{
    long long seconds =
        static_cast<long long>(info.st_mtim.tv_sec) + static_cast<long long>(AFile::kFileTimeOffset);
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
}

} // namespace

std::uint64_t AFile::FileModTime(const AString* path)
{
    struct stat info {};
    if (!StatItem(path, info))
        return 0;
    return FileTimeOf(info);
}

bool AFile::SizeAndModTime(const AString* path, std::uint64_t* size, std::uint64_t* time)
{
    struct stat info {};
    if (!StatItem(path, info))
        return false;
    *size = static_cast<std::uint64_t>(info.st_size);
    *time = FileTimeOf(info);
    return true;
}

std::uint64_t AFile::GetFileSize(const AString* path)
{
    struct stat info {};
    if (!StatItem(path, info))
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

int AFile::GetVolumeFreeSpace(const AString* path, unsigned long long* freeBytes)
{
    std::uint64_t value = 0;
    if (!path || !platform::VolumeFreeSpace(path->ToStdString(), value))
        return kErrObjectNotFound;
    if (freeBytes)
        *freeBytes = value;
    return 0;
}

int AFile::Delete(const AString* path)
{
    if (!path || path->IsEmpty())
        return kErrUnableToDelete;
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(path->ToStdString()), error);
    if (!FileExists(path))
        return 0;
    return Fail(kErrUnableToDelete, "delete", *path, error ? error.value() : 0);
}

int AFile::Move(const AString* from, const AString* to)
{
    if (!from || !to || from->IsEmpty() || to->IsEmpty())
        return kErrUnknown;
    if (rename(from->CStr(), to->CStr()) == 0)
        return 0;
    if (errno != EXDEV)
        return Fail(kErrUnknown, "move", Joined(*from, "to", *to), errno);
    // Another volume: copy, then remove the original once the copy is in place.
    std::error_code error;
    std::filesystem::path source(from->ToStdString()), target(to->ToStdString());
    if (std::filesystem::is_directory(std::filesystem::symlink_status(source, error))) {
        if (FileExists(to))
            return kErrUnknown;
        bool noSpace = false;
        if (!CopyTree(source.string(), target.string(), noSpace) ||
            !TreesEqual(source.string(), target.string())) {
            std::filesystem::remove_all(target, error);
            return kErrUnknown;
        }
    } else if (CopyItem(from, to, true) != 0) {
        return kErrUnknown;
    }
    std::filesystem::remove_all(source, error);
    return error ? kErrUnknown : 0;
}

int AFile::Rename(const AString* from, const AString* to) { return Move(from, to); }

int AFile::Copy(const AString* from, const AString* to) { return CopyItem(from, to, false); }

int AFile::CopyWithCheck(const AString* from, const AString* to)
{
    if (!from || !to)
        return kErrUnableToCopy;
    if (int err = CheckFreeSpace(GetFileSize(from), to); err != 0)
        return err;
    if (int err = CopyItem(from, to, true); err != 0)
        return err;
    // The copy was verified before it took its place (by contents where the volume keeps no date).
    if (DirExists(from))
        return FastFilesEqual(from, to) ? 0 : kErrUnableToVerify;
    return FileExists(to) && GetFileSize(from) == GetFileSize(to) ? 0 : kErrUnableToVerify;
}

namespace {
int CopyOpenFile(const AString* from, int source, const struct stat& info, const AString* to,
                 CancelProc cancel, AProgress* progress, bool flush);
} // namespace

int AFile::CopyWithProgress(const AString* from, const AString* to, CancelProc cancel, AProgress* progress,
                            bool flush)
{
    if (!from || !to)
        return kErrOpen;
    // A regular file is opened once and looked at once: what the copy needs to know of it (its size,
    // dates and permissions) comes from the descriptor the copy reads. Not blocking: a pipe is no
    // file to copy, and its open must not wait for a writer.
    FileCloser in;
    struct stat info {};
    if (!from->IsEmpty()) {
        in.fd = open(from->CStr(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (in.fd >= 0 && fstat(in.fd, &info) != 0)
            info.st_mode = 0;
        // A pipe, a device: nothing to copy, and reading one could wait forever.
        if (in.fd >= 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            return Fail(kErrUnableToCopy, "copy", Joined(*from, "(not a regular file) to", *to), 0);
        if (in.fd >= 0 && S_ISDIR(info.st_mode)) {
            close(in.fd);
            in.fd = -1;
        }
    }
    if (in.fd < 0) {
        // Folders, and whatever cannot be read as a file: the copy by path says what it is.
        if (int err = CheckFreeSpace(GetFileSize(from), to); err != 0)
            return err;
        if (DirExists(from)) {
            if (int err = CopyItem(from, to, true, flush); err != 0)
                return err;
            return FastFilesEqual(from, to) ? 0 : kErrUnableToVerify;
        }
        CopyOptions options;
        options.reportNoSpace = true;
        options.verify = true;
        options.flush = flush;
        return CopyFileSafely(from, to, options);
    }
    return CopyOpenFile(from, in.fd, info, to, cancel, progress, flush);
}

int AFile::CopyWithProgress(const AString* from, const AFile& opened, const AString* to, CancelProc cancel,
                            AProgress* progress, bool flush)
{
    if (!from || !to || !opened.IsOpen() || !opened.readOnly || opened.path != *from)
        return CopyWithProgress(from, to, cancel, progress, flush);
    if (!opened.regular)
        return Fail(kErrUnableToCopy, "copy", Joined(*from, "(not a regular file) to", *to), 0);
    // One of a batch of copies: it may have been copied ahead while the batch's earlier files were
    // handled.
    if (int err = 0;
        !flush && !gCopyHook && CopyAhead::Take(*from, opened.fd, opened.opened, *to, cancel, progress, &err))
        return err;
    return CopyOpenFile(from, opened.fd, opened.opened, to, cancel, progress, flush);
}

int AFile::CopyToTemporary(const AString* from, int fd, const struct stat& info, const AString* beside,
                           CancelProc stop, AString* temporary)
{
    if (!from || !beside || !temporary || fd < 0 || !S_ISREG(info.st_mode))
        return kErrUnableToCopy;
    if (gCopyHook)
        return kErrNotSupported;
    CopyOptions options;
    options.chunked = static_cast<std::uint64_t>(info.st_size) >= AFile::kLargeFileSize;
    options.verify = true;
    options.reportNoSpace = true;
    options.cancel = options.chunked ? stop : nullptr;
    options.flush = false;
    options.kept = temporary;
    options.changesSeenLater = true;
    return CopyFileSafely(from, beside, options, fd, &info);
}

namespace {

int CopyOpenFile(const AString* from, int source, const struct stat& info, const AString* to,
                 CancelProc cancel, AProgress* progress, bool flush)
{
    const auto size = static_cast<unsigned long long>(info.st_size);
    // Most copies of a run have plenty of room: the free space is measured again only now and then,
    // and exactly for every copy once it runs short.
    const int slash = to->ReverseFind('/');
    if (slash <= 0 || !platform::RoomToSpare(to->Left(slash).ToStdString(), size))
        if (int err = CheckFreeSpace(size, to); err != 0)
            return err;
    // A file is verified before it takes its place (by contents where the volume keeps no date):
    // once in place it needs no second look. Small files take the single-call copy, without
    // progress or cancel.
    CopyOptions options;
    options.chunked = size >= AFile::kLargeFileSize;
    options.verify = true;
    options.reportNoSpace = true;
    options.cancel = options.chunked ? cancel : nullptr;
    options.progress = options.chunked ? progress : nullptr;
    options.flush = flush;
    return CopyFileSafely(from, to, options, source, &info);
}

} // namespace

bool AFile::FilesEqual(const AString* a, const AString* b)
{
    if (!a || !b || a->IsEmpty() || b->IsEmpty())
        return false;
    return TreesEqual(a->ToStdString(), b->ToStdString());
}

bool AFile::FastFilesEqual(const AString* a, const AString* b)
{
    struct stat sa {
    }, sb{};
    if (!StatItem(a, sa) || !StatItem(b, sb))
        return false;
    if (sa.st_size != sb.st_size)
        return false;
    double ta = ModificationSeconds(sa), tb = ModificationSeconds(sb);
    return ta == tb || DatesEssentiallyEqual(ta, tb);
}

bool AFile::DatesEssentiallyEqual(double a, double b)
{
    // FAT stores times in 2-second steps and some volumes shift them by the time zone's daylight hour.
    double d = std::fabs(a - b);
    return d <= 60.0 || (d >= 3540.0 && d <= 3660.0);
}

int AFile::CreateDir(const AString* path)
{
    if (!path || path->IsEmpty())
        return kErrUnknown;
    if (mkdir(path->CStr(), 0777) == 0)
        return 0;
    AString trimmed = *path;
    if (trimmed.GetLength() > 1 && trimmed[trimmed.GetLength() - 1] == '/')
        trimmed = trimmed.Left(trimmed.GetLength() - 1);
    // Walk up to the nearest folder that exists, noting every missing level, then create them on
    // the way down. A path that is already a folder has nothing missing and fails: its own creation
    // is what failed above.
    std::vector<AString> missing;
    AString level = trimmed;
    while (!DirExists(&level)) {
        missing.push_back(level);
        int slash = level.ReverseFind('/');
        if (slash <= 0)
            break;
        level = level.Left(slash);
    }
    if (missing.empty())
        return Fail(kErrUnknown, "create the folder", *path, EEXIST);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (mkdir(it->CStr(), 0777) != 0)
            return Fail(kErrUnknown, "create the folder", *it, errno);
    return 0;
}

int AFile::SetVisibility(const AString* path, signed char visible)
{
    if (!FileExists(path))
        return kErrUnknown;
    int err = platform::SetHidden(path->ToStdString(), visible == 0);
    return err == 0 ? 0 : -err;
}

int AFile::CommitReplacement(const AString* temporary, const AString* target)
{
    if (!temporary || !target)
        return kErrUnknown;
    if (rename(temporary->CStr(), target->CStr()) != 0)
        return Fail(kErrUnknown, "replace", *target, errno);
    platform::SyncFolder(ParentFolder(target->ToStdString()));
    return 0;
}

AString AFile::TemporaryPathBeside(const AString* path)
{
    for (;;) {
        std::string candidate = TemporaryName(path);
        struct stat info {};
        if (lstat(candidate.c_str(), &info) != 0)
            return AString::FromUTF8(candidate);
    }
}

namespace {

// The process number in a temporary file's name, or -1 when the name is not one of ours.
long TemporaryNameProcess(const char* name)
{
    const std::string text = name ? name : "";
    static const std::string kMark = ".pelorin-", kEnd = ".tmp";
    if (text.size() < 2 + kMark.size() + kEnd.size() || text[0] != '.' ||
        text.compare(text.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
        return -1;
    const size_t mark = text.rfind(kMark);
    if (mark == std::string::npos || mark == 0)
        return -1;
    const std::string numbers =
        text.substr(mark + kMark.size(), text.size() - kEnd.size() - mark - kMark.size());
    const size_t dash = numbers.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == numbers.size() || dash > 9)
        return -1;
    for (size_t i = 0; i < numbers.size(); ++i)
        if (i != dash && (numbers[i] < '0' || numbers[i] > '9'))
            return -1;
    return std::stol(numbers.substr(0, dash));
}

} // namespace

bool AFile::IsTemporaryName(const char* name) { return TemporaryNameProcess(name) >= 0; }

bool AFile::IsStaleTemporaryName(const char* name)
{
    const long process = TemporaryNameProcess(name);
    if (process <= 0 || process == static_cast<long>(getpid()))
        return false;
    return kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH;
}

int AFile::ReplaceSafely(const AString* path, const std::function<int(AFile*)>& write, bool flush)
{
    return Replace(path, write, flush, nullptr);
}

void AFile::RemoveStaleTemporariesOf(const AString* path)
{
    const std::string full = path->ToStdString();
    const size_t slash = full.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : full.substr(0, slash);
    RemoveStaleTemporariesIn(AString::FromUTF8(folder),
                             full.substr(slash == std::string::npos ? 0 : slash + 1));
}

void AFile::RemoveStaleTemporariesIn(const AString& folder, const std::string& ofName)
{
    const std::string prefix = ofName.empty() ? std::string() : TemporaryPrefix(ofName);
    DIR* dir = opendir(folder.CStr());
    if (!dir)
        return;
    const int fd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0 &&
            AFile::IsStaleTemporaryName(entry->d_name) &&
            fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            unlinkat(fd, entry->d_name, 0);
    }
    closedir(dir);
}

int AFile::ReplaceIfChanged(const AString* path, const std::function<int(AFile*)>& write, bool* replaced)
{
    bool written = true;
    const int err = Replace(path, write, true, &written);
    if (replaced)
        *replaced = err == 0 && written;
    if (err == 0)
        RemoveStaleTemporariesOf(path);
    return err;
}

int AFile::Replace(const AString* path, const std::function<int(AFile*)>& write, bool flush, bool* replaced)
{
    if (!path || path->IsEmpty())
        return kErrIO;
    AString temporary;
    AFile out;
    out.fd = CreateTemporaryBeside(path, &temporary);
    if (out.fd < 0)
        return Fail(kErrIO, "write", *path, errno);
    // Failures are reported for the file being replaced: the temporary name means nothing to anyone.
    out.path = *path;
    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (stat(path->CStr(), &old) == 0 && S_ISREG(old.st_mode))
        fchmod(out.fd, old.st_mode & 07777);
    out.writeBehind = true;
    unsigned long long oldSize = 0;
    if (replaced) {
        out.sameFd = open(path->CStr(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat same {};
        if (out.sameFd >= 0 && (fstat(out.sameFd, &same) != 0 || !S_ISREG(same.st_mode))) {
            close(out.sameFd);
            out.sameFd = -1;
        }
        oldSize = static_cast<unsigned long long>(same.st_size);
    }
    int err = write(&out);
    if (err == 0)
        err = out.WritePending();
    if (err == 0 && out.sameFd >= 0 && out.sameUpTo == oldSize) {
        // The file holds these bytes already.
        close(out.sameFd);
        out.sameFd = -1;
        close(out.fd);
        out.fd = -1;
        unlink(temporary.CStr());
        *replaced = false;
        return 0;
    }
    if (err == 0)
        err = out.StopComparing();
    if (err == 0 && flush && fsync(out.fd) != 0)
        err = Fail(kErrIO, "write", *path, errno);
    if (close(out.fd) != 0 && err == 0)
        err = Fail(kErrIO, "write", *path, errno);
    out.fd = -1;
    if (err == 0 && rename(temporary.CStr(), path->CStr()) != 0)
        err = Fail(kErrIO, "replace", *path, errno);
    if (err != 0) {
        unlink(temporary.CStr());
        return err;
    }
    if (flush)
        platform::SyncFolder(ParentFolder(path->ToStdString()));
    return 0;
}

int AFile::WriteWholeFileSafely(const AString* path, const void* data, std::size_t size, bool flush)
{
    return ReplaceSafely(
        path,
        [data, size](AFile* file) {
            if (!WriteAll(file->fd, static_cast<const unsigned char*>(data), size, 0))
                return Fail(kErrIO, "write", file->path, errno);
            return 0;
        },
        flush);
}

int AFile::FlushVolume(const AString* path)
{
    if (!path || path->IsEmpty())
        return kErrIO;
    FileCloser folder;
    folder.fd = open(path->CStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.fd < 0)
        return Fail(kErrIO, "flush the volume of", *path, errno);
    if (syncfs(folder.fd) != 0)
        return Fail(kErrIO, "flush the volume of", *path, errno);
    return 0;
}
