#pragma once
// File-system specials that the standard library does not offer. Paths are UTF-8.

#include <cstdint>
#include <string>
#include <time.h>

namespace platform {

// Free bytes available to the user on the volume that holds `path`. False when unknown.
bool VolumeFreeSpace(const std::string& path, std::uint64_t& freeBytes);

// Whether a file of `bytes` fits into the folder `folder` with plenty of room to spare, for a caller
// that copies many files and checks for each: the free space of the folder's volume is measured at
// the first question, then counted down by every file answered yes since, and measured again after
// a second or after kRecountBytes of files. Near the end of the room (and when the free space is
// forced for a test) the answer is false: the caller then measures exactly for that file.
constexpr std::uint64_t kRecountBytes = 64ull << 20;
bool RoomToSpare(const std::string& folder, std::uint64_t bytes);

// The room on the volume that holds `path`: its size, the bytes in use and the bytes free to the
// user (what a copy may fill). False when unknown.
struct VolumeSpace {
    std::uint64_t total = 0;
    std::uint64_t used = 0;
    std::uint64_t available = 0;
};
bool VolumeSpaceOf(const std::string& path, VolumeSpace& space);

// Marks an item hidden or visible. On a FAT volume this sets or clears the FAT "hidden"
// attribute; elsewhere there is nothing to set and the call succeeds. Returns 0 or an errno value.
int SetHidden(const std::string& path, bool hidden);

// Copies modification and access times and permission bits of `from` onto the open file `toFd`
// (of the file a symbolic link points to, as a copy holds that file). Returns 0 or an errno value.
int CopyAttributes(const std::string& from, int toFd);

// Gives the open file `toFd` the permission bits `mode` and the access and modification times of a
// file as it was read. Returns 0 or an errno value. Attributes the volume cannot keep (FAT through
// FUSE refuses permissions and sometimes dates with ENOSYS, ENOTSUP or EPERM) are left as they are.
// `datesKept` (when given) tells whether the dates were set.
// `modeSet` tells that the file already has the bits `mode` (it was created with them).
int SetAttributes(int toFd, unsigned mode, const struct timespec& accessed, const struct timespec& modified,
                  bool* datesKept = nullptr, bool modeSet = false);

// The permission bits a new file is created with for a file of `mode`: those of `mode` that the
// process's file creation mask (read once) lets through.
unsigned CreatedMode(unsigned mode);

// Whether an attribute call failed only because the volume cannot keep that attribute.
bool AttributeUnsupported(int error);

// Forces the directory entry changes of `folder` (a rename into it) to the disk. Returns 0 or errno.
int SyncFolder(const std::string& folder);

// How the volume that holds `path` treats names and dates. FAT, exFAT and HFS+ take names that
// differ only in case for one name; FAT and exFAT keep dates in 2-second steps, and some systems
// shift them by the daylight-saving hour. Unknown volumes count as exact.
bool NamesIgnoreCase(const std::string& path);
bool HasCoarseDates(const std::string& path);

// The mount that holds `path`: where it is mounted, its file-system type and what is mounted there
// (a block device such as /dev/sdb2, or a name for other file systems). False when not found.
struct MountEntry {
    std::string mountPoint;
    std::string type;
    std::string source;
};
bool MountOf(const std::string& path, MountEntry& entry);

// What tells the folder at `path` from another one mounted at the same place later: its file
// system's UUID (else its device number) and the folder's inode, as one line of text. Empty when
// the folder cannot be read.
std::string FolderIdentity(const std::string& path);

// Seam for tests: when set to a value other than UINT64_MAX, VolumeFreeSpace (and the free bytes of
// VolumeSpaceOf) report it instead of asking the file system.
void OverrideFreeSpaceForTesting(std::uint64_t freeBytes);

// Seam for tests: NamesIgnoreCase answers yes for every path that begins with `root`, as for a
// folder on a FAT volume. An empty root ends the pretence.
void TreatNamesAsIgnoringCaseForTesting(const std::string& root);

// Seam for tests: the mount table (in the form of /proc/self/mountinfo) that MountOf, NamesIgnoreCase
// and HasCoarseDates read to recognise FAT and exFAT mounted through FUSE. Empty: the real one.
void SetMountTableForTesting(const std::string& text);

// Seam for tests: with an errno value other than 0, every attribute call of SetAttributes and
// CopyAttributes fails with it, as on a volume that cannot keep attributes. 0 ends the pretence.
void FailAttributeCallsForTesting(int error);

} // namespace platform
