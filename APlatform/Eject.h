#pragma once
// Ejecting a volume: its file system unmounted and the drive behind it powered off, so that it may
// be unplugged. The desktop's disk service (UDisks2) does both for the user without root; where it
// cannot be reached, `umount` is tried, which works for mounts the user may undo.

#include <functional>
#include <string>
#include <vector>

namespace platform {

// The desktop's disk service. The window installs one that speaks D-Bus; without one, the
// `udisksctl` program (UDisks2's own client) is asked.
class DiskService {
public:
    virtual ~DiskService() = default;
    // Unmounts the file system on the block device `device` (/dev/sdb2). 0, or not 0 with `why`.
    virtual int Unmount(const std::string& device, std::string& why) = 0;
    // Powers off the drive that holds `device`. 0, or not 0 with `why`.
    virtual int PowerOff(const std::string& device, std::string& why) = 0;
};

// The installed disk service; null: the one that runs `udisksctl`.
void SetDiskService(DiskService* service);
DiskService* GetDiskService();

// Runs the program `argv[0]` (looked for on PATH) with its arguments and waits for it: its exit
// status, or -1 when it could not be started; what it wrote to its standard error in `output`.
using CommandRunner = std::function<int(const std::vector<std::string>& argv, std::string& output)>;
int RunCommand(const std::vector<std::string>& argv, std::string& output);
// Seam for tests: programs are run by `runner` instead (an empty function ends the pretence).
void SetCommandRunnerForTesting(CommandRunner runner);

struct EjectOutcome {
    int error = 0;           // 0 when the volume was unmounted
    bool poweredOff = false; // the drive was powered off too: it may be unplugged now
    bool fellBack = false;   // the disk service could not unmount it; `umount` did
    std::string why;         // what went wrong (of the last step that failed)
};

// Unmounts the volume mounted at `mountPoint` and powers its drive off: through the disk service
// when the mount is a block device, else (or when the service fails) with `umount`.
EjectOutcome EjectVolume(const std::string& mountPoint);

} // namespace platform
