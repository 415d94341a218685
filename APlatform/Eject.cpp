#include "APlatform/Eject.h"

#include "APlatform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

std::atomic<DiskService*> gDiskService{nullptr};
std::mutex gRunnerLock;
CommandRunner gRunnerOverride;

int Run(const std::vector<std::string>& argv, std::string& output)
{
    CommandRunner runner;
    {
        std::lock_guard<std::mutex> hold(gRunnerLock);
        runner = gRunnerOverride;
    }
    return runner ? runner(argv, output) : RunCommand(argv, output);
}

// The last line a program wrote, without the program's own prefix noise.
std::string LastLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    const size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

// UDisks2 through its own command-line client, for front ends without a D-Bus connection of their
// own.
class UdisksctlService : public DiskService {
public:
    int Unmount(const std::string& device, std::string& why) override
    {
        return Ask({"udisksctl", "unmount", "--no-user-interaction", "-b", device}, why);
    }
    int PowerOff(const std::string& device, std::string& why) override
    {
        return Ask({"udisksctl", "power-off", "--no-user-interaction", "-b", device}, why);
    }

private:
    static int Ask(const std::vector<std::string>& argv, std::string& why)
    {
        std::string output;
        const int status = Run(argv, output);
        if (status == 0)
            return 0;
        why = status < 0 ? "the disk service (udisksctl) is not installed" : LastLine(output);
        return status < 0 ? ENOENT : EIO;
    }
};

} // namespace

void SetDiskService(DiskService* service) { gDiskService.store(service); }

DiskService* GetDiskService() { return gDiskService.load(); }

void SetCommandRunnerForTesting(CommandRunner runner)
{
    std::lock_guard<std::mutex> hold(gRunnerLock);
    gRunnerOverride = std::move(runner);
}

int RunCommand(const std::vector<std::string>& argv, std::string& output)
{
    if (argv.empty())
        return -1;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return -1;
    }
    char buffer[512];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        output.append(buffer, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    // 127: the child could not run the program (posix_spawnp reports a missing one this way too).
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

EjectOutcome EjectVolume(const std::string& mountPoint)
{
    EjectOutcome outcome;
    MountEntry mount;
    const bool mounted = MountOf(mountPoint, mount) && mount.mountPoint == mountPoint;
    const std::string device = mounted && mount.source.rfind("/dev/", 0) == 0 ? mount.source : std::string();
    UdisksctlService udisksctl;
    DiskService* service = GetDiskService();
    if (!service)
        service = &udisksctl;

    int unmounted = -1;
    if (!device.empty())
        unmounted = service->Unmount(device, outcome.why);
    if (unmounted != 0) {
        std::string output;
        const int status = Run({"umount", mountPoint}, output);
        if (status != 0) {
            if (outcome.why.empty())
                outcome.why = status < 0 ? "umount could not be run" : LastLine(output);
            outcome.error = status < 0 ? ENOENT : EIO;
            return outcome;
        }
        outcome.fellBack = true;
        outcome.why.clear();
    }
    if (!device.empty()) {
        std::string why;
        outcome.poweredOff = service->PowerOff(device, why) == 0;
        if (!outcome.poweredOff)
            outcome.why = why;
    }
    return outcome;
}

} // namespace platform
