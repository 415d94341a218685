/* A fault injector, loaded into a program with LD_PRELOAD: it counts the file-system calls the
 * program makes on files below one folder, and at a chosen call kills the program or makes that
 * call fail with a chosen error, as a pulled cable, a full disk or a dying card would.
 *
 * Environment:
 *   PELORIN_FAULT_ROOT   the folder whose files count (an absolute path); nothing counts without it
 *   PELORIN_FAULT_CALLS  the calls that count, separated by commas (open, write, fsync, close,
 *                        rename, unlink, mkdir, truncate, copy, chmod), or "all" (the default);
 *                        "fsync" counts fdatasync and syncfs too; where "open" does not count,
 *                        "openw" counts the opens for writing and "opendir" those of folders;
 *                        "stat" (looks at a file: stat, lstat, fstatat, fstat) counts only where named
 *   PELORIN_FAULT_AT     the number (from 1) of the counted call to act on; 0 or unset: count only
 *   PELORIN_FAULT_ACTION "kill" (SIGKILL before the call is made), an errno name (EIO, ENOSPC,
 *                        EACCES, EROFS: the call fails with it), or the same followed by "+" to
 *                        fail every counted call from then on
 *   PELORIN_FAULT_COUNT  a file that receives the number of counted calls when the program exits
 *
 * Descriptors are followed from the open that named a file below the folder to their close, so
 * that writes, flushes and copies through them count too. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_TRACKED_FD 4096

static char faultRoot[PATH_MAX];
static size_t faultRootLength;
static char countedCalls[256] = "all";
static long faultAt;
static int faultErrno;
static int faultSticky;
static int faultKill;
static long counted;
static unsigned char trackedFd[MAX_TRACKED_FD];

static int Below(const char* path)
{
    if (faultRootLength == 0 || !path || path[0] != '/')
        return 0;
    return strncmp(path, faultRoot, faultRootLength) == 0 &&
           (path[faultRootLength] == '/' || path[faultRootLength] == '\0');
}

static int Tracked(int fd) { return fd >= 0 && fd < MAX_TRACKED_FD && trackedFd[fd]; }

static void Track(int fd, int on)
{
    if (fd >= 0 && fd < MAX_TRACKED_FD)
        trackedFd[fd] = (unsigned char)on;
}

static int ErrnoNamed(const char* name)
{
    static const struct {
        const char* name;
        int value;
    } names[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EACCES", EACCES}, {"EROFS", EROFS}, {"EPERM", EPERM}};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (strncmp(name, names[i].name, strlen(names[i].name)) == 0)
            return names[i].value;
    return EIO;
}

static void WriteCount(void)
{
    const char* path = getenv("PELORIN_FAULT_COUNT");
    if (!path || faultRootLength == 0)
        return;
    FILE* out = fopen(path, "w");
    if (out) {
        fprintf(out, "%ld\n", counted);
        fclose(out);
    }
}

__attribute__((constructor)) static void Setup(void)
{
    const char* root = getenv("PELORIN_FAULT_ROOT");
    if (!root || root[0] != '/' || strlen(root) >= sizeof faultRoot)
        return;
    strcpy(faultRoot, root);
    faultRootLength = strlen(faultRoot);
    while (faultRootLength > 1 && faultRoot[faultRootLength - 1] == '/')
        faultRoot[--faultRootLength] = '\0';
    const char* calls = getenv("PELORIN_FAULT_CALLS");
    if (calls && strlen(calls) < sizeof countedCalls)
        strcpy(countedCalls, calls);
    const char* at = getenv("PELORIN_FAULT_AT");
    faultAt = at ? strtol(at, NULL, 10) : 0;
    const char* action = getenv("PELORIN_FAULT_ACTION");
    if (!action || strcmp(action, "kill") == 0) {
        faultKill = 1;
    } else {
        faultErrno = ErrnoNamed(action);
        faultSticky = strchr(action, '+') != NULL;
    }
    atexit(WriteCount);
}

static int Counts(const char* kind)
{
    if (strcmp(countedCalls, "all") == 0)
        return strcmp(kind, "stat") != 0; /* looks change nothing: no fault to inject there */
    const size_t length = strlen(kind);
    for (const char* at = countedCalls; (at = strstr(at, kind)) != NULL; at += length)
        if ((at == countedCalls || at[-1] == ',') && (at[length] == ',' || at[length] == '\0'))
            return 1;
    return 0;
}

/* Counts one call of `kind` on the folder's files; nonzero when it is to fail (errno set). */
static int Fault(const char* kind)
{
    if (!Counts(kind))
        return 0;
    /* Calls from every thread of the program count, each once. */
    const long number = __atomic_add_fetch(&counted, 1, __ATOMIC_SEQ_CST);
    if (faultAt <= 0 || number < faultAt || (number > faultAt && !faultSticky))
        return 0;
    if (faultKill) {
        kill(getpid(), SIGKILL);
        return 0;
    }
    errno = faultErrno;
    return 1;
}

/* The next definition of `name` (the C library's), looked up once. */
#define NEXT(name)                                                                                           \
    static __typeof__(&name) next_##name;                                                                    \
    if (!next_##name)                                                                                        \
    next_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

static int OpenCommon(int (*real)(int, const char*, int, mode_t), int dirfd, const char* path, int flags,
                      mode_t mode)
{
    const int counts = Below(path) || (path && path[0] != '/' && Tracked(dirfd));
    const char* kind = Counts("open")                                      ? "open"
                       : (flags & O_DIRECTORY)                             ? "opendir"
                       : (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) ? "openw"
                                                                           : "open";
    if (counts && Fault(kind))
        return -1;
    const int fd = real(dirfd, path, flags, mode);
    if (counts)
        Track(fd, 1);
    return fd;
}

static int RealOpenAt(int dirfd, const char* path, int flags, mode_t mode)
{
    NEXT(openat);
    return next_openat(dirfd, path, flags, mode);
}

static int RealOpen(int dirfd, const char* path, int flags, mode_t mode)
{
    (void)dirfd;
    NEXT(open);
    return next_open(path, flags, mode);
}

int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = (mode_t)va_arg(args, int);
        va_end(args);
    }
    return OpenCommon(RealOpen, AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int dirfd, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = (mode_t)va_arg(args, int);
        va_end(args);
    }
    return OpenCommon(RealOpenAt, dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) __attribute__((alias("openat")));

int close(int fd)
{
    NEXT(close);
    if (Tracked(fd)) {
        Track(fd, 0);
        if (Fault("close")) {
            next_close(fd); /* the descriptor is gone either way, as after a failed close(2) */
            return -1;
        }
    }
    return next_close(fd);
}

ssize_t write(int fd, const void* data, size_t size)
{
    NEXT(write);
    if (Tracked(fd) && Fault("write"))
        return -1;
    return next_write(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset)
{
    NEXT(pwrite);
    if (Tracked(fd) && Fault("write"))
        return -1;
    return next_pwrite(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) __attribute__((alias("pwrite")));

ssize_t copy_file_range(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t size, unsigned flags)
{
    NEXT(copy_file_range);
    if ((Tracked(in) || Tracked(out)) && Fault("copy"))
        return -1;
    return next_copy_file_range(in, inOffset, out, outOffset, size, flags);
}

int fsync(int fd)
{
    NEXT(fsync);
    if (Tracked(fd) && Fault("fsync"))
        return -1;
    return next_fsync(fd);
}

int fdatasync(int fd)
{
    NEXT(fdatasync);
    if (Tracked(fd) && Fault("fsync"))
        return -1;
    return next_fdatasync(fd);
}

/* The flush of a whole volume, through a descriptor of a folder on it: a flush like fsync. */
int syncfs(int fd)
{
    NEXT(syncfs);
    if (Tracked(fd) && Fault("fsync"))
        return -1;
    return next_syncfs(fd);
}

int truncate(const char* path, off_t size)
{
    NEXT(truncate);
    if (Below(path) && Fault("truncate"))
        return -1;
    return next_truncate(path, size);
}

int truncate64(const char* path, off_t size) __attribute__((alias("truncate")));

int ftruncate(int fd, off_t size)
{
    NEXT(ftruncate);
    if (Tracked(fd) && Fault("truncate"))
        return -1;
    return next_ftruncate(fd, size);
}

int ftruncate64(int fd, off_t size) __attribute__((alias("ftruncate")));

int fchmod(int fd, mode_t mode)
{
    NEXT(fchmod);
    if (Tracked(fd) && Fault("chmod"))
        return -1;
    return next_fchmod(fd, mode);
}

int rename(const char* from, const char* to)
{
    NEXT(rename);
    if ((Below(from) || Below(to)) && Fault("rename"))
        return -1;
    return next_rename(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    NEXT(renameat);
    if ((Below(from) || Below(to)) && Fault("rename"))
        return -1;
    return next_renameat(fromDir, from, toDir, to);
}

int unlink(const char* path)
{
    NEXT(unlink);
    if (Below(path) && Fault("unlink"))
        return -1;
    return next_unlink(path);
}

int unlinkat(int dirfd, const char* path, int flags)
{
    NEXT(unlinkat);
    if ((Below(path) || (path[0] != '/' && Tracked(dirfd))) && Fault("unlink"))
        return -1;
    return next_unlinkat(dirfd, path, flags);
}

int rmdir(const char* path)
{
    NEXT(rmdir);
    if (Below(path) && Fault("unlink"))
        return -1;
    return next_rmdir(path);
}

int mkdir(const char* path, mode_t mode)
{
    NEXT(mkdir);
    if (Below(path) && Fault("mkdir"))
        return -1;
    return next_mkdir(path, mode);
}

int fstatat(int dirfd, const char* path, struct stat* info, int flags)
{
    NEXT(fstatat);
    if ((Below(path) || (path[0] != '/' && Tracked(dirfd))) && Fault("stat"))
        return -1;
    return next_fstatat(dirfd, path, info, flags);
}

int fstatat64(int dirfd, const char* path, struct stat64* info, int flags)
{
    return fstatat(dirfd, path, (struct stat*)info, flags);
}

int stat(const char* path, struct stat* info) { return fstatat(AT_FDCWD, path, info, 0); }

int stat64(const char* path, struct stat64* info) { return stat(path, (struct stat*)info); }

int lstat(const char* path, struct stat* info) { return fstatat(AT_FDCWD, path, info, AT_SYMLINK_NOFOLLOW); }

int lstat64(const char* path, struct stat64* info) { return lstat(path, (struct stat*)info); }

int fstat(int fd, struct stat* info) { return fstatat(fd, "", info, AT_EMPTY_PATH); }

int fstat64(int fd, struct stat64* info) { return fstat(fd, (struct stat*)info); }
