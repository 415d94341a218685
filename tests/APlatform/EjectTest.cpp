// Ejecting a volume: the disk service first, `umount` when it cannot, and the power-off that makes
// unplugging safe.

#include "APlatform/Eject.h"

#include "APlatform/FileSystem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A disk service that answers as told and records what it was asked.
class FakeDiskService : public platform::DiskService {
public:
    int unmountResult = 0;
    int powerOffResult = 0;
    std::vector<std::string> asked;
    int Unmount(const std::string& device, std::string& why) override
    {
        asked.push_back("unmount " + device);
        if (unmountResult != 0)
            why = "target is busy";
        return unmountResult;
    }
    int PowerOff(const std::string& device, std::string& why) override
    {
        asked.push_back("power-off " + device);
        if (powerOffResult != 0)
            why = "not authorized";
        return powerOffResult;
    }
};

// Installs the fake service, a mount table and a recording command runner for one test.
struct EjectScene {
    explicit EjectScene(const std::string& source)
    {
        platform::SetMountTableForTesting("22 1 8:0 / / rw - ext4 /dev/sda1 rw\n"
                                          "90 22 8:17 / /media/u/IPOD rw,nosuid - vfat " +
                                          source + " rw\n");
        platform::SetDiskService(&service);
        platform::SetCommandRunnerForTesting(
            [this](const std::vector<std::string>& argv, std::string& output) {
                std::string line;
                for (const std::string& arg : argv)
                    line += (line.empty() ? "" : " ") + arg;
                commands.push_back(line);
                if (umountResult != 0)
                    output = "umount: /media/u/IPOD: must be superuser to unmount.\n";
                return umountResult;
            });
    }
    ~EjectScene()
    {
        platform::SetMountTableForTesting("");
        platform::SetDiskService(nullptr);
        platform::SetCommandRunnerForTesting(nullptr);
    }
    FakeDiskService service;
    std::vector<std::string> commands;
    int umountResult = 0;
};

TEST(EjectVolume, TheDiskServiceEjectsTheDeviceBehindTheMount)
{
    EjectScene scene("/dev/sdb1");
    const platform::EjectOutcome outcome = platform::EjectVolume("/media/u/IPOD");
    EXPECT_EQ(outcome.error, 0);
    EXPECT_TRUE(outcome.poweredOff);
    EXPECT_FALSE(outcome.fellBack);
    EXPECT_EQ(scene.service.asked, (std::vector<std::string>{"unmount /dev/sdb1", "power-off /dev/sdb1"}));
    EXPECT_TRUE(scene.commands.empty());
}

TEST(EjectVolume, UmountTakesOverWhereTheDiskServiceCannotUnmount)
{
    struct Case {
        const char* what;
        const char* source;
        int serviceUnmount;
        int umount;
        int error;
        bool fellBack;
        const char* why;
    };
    for (const Case& c : {
             Case{"service refuses, umount works", "/dev/sdb1", 5, 0, 0, true, "not authorized"},
             Case{"no block device behind the mount", "fusefs", 0, 0, 0, true, ""},
             Case{"neither can unmount", "/dev/sdb1", 5, 32, 5, false, "target is busy"},
             Case{"umount refuses a mount without a device", "fusefs", 0, 32, 5, false,
                  "umount: /media/u/IPOD: must be superuser to unmount."},
         }) {
        EjectScene scene(c.source);
        scene.service.unmountResult = c.serviceUnmount;
        scene.service.powerOffResult = 5;
        scene.umountResult = c.umount;
        const platform::EjectOutcome outcome = platform::EjectVolume("/media/u/IPOD");
        EXPECT_EQ(outcome.error, c.error) << c.what;
        EXPECT_EQ(outcome.fellBack, c.fellBack) << c.what;
        EXPECT_FALSE(outcome.poweredOff) << c.what;
        EXPECT_EQ(outcome.why, c.why) << c.what;
        EXPECT_EQ(scene.commands, (std::vector<std::string>{"umount /media/u/IPOD"})) << c.what;
    }
}

TEST(EjectVolume, WithoutAnInstalledServiceUdisksctlIsAsked)
{
    EjectScene scene("/dev/sdc2");
    platform::SetDiskService(nullptr);
    const platform::EjectOutcome outcome = platform::EjectVolume("/media/u/IPOD");
    EXPECT_EQ(outcome.error, 0);
    EXPECT_TRUE(outcome.poweredOff);
    EXPECT_EQ(scene.commands,
              (std::vector<std::string>{"udisksctl unmount --no-user-interaction -b /dev/sdc2",
                                        "udisksctl power-off --no-user-interaction -b /dev/sdc2"}));
}

TEST(RunCommand, ReportsHowTheProgramEnded)
{
    std::string output;
    EXPECT_EQ(platform::RunCommand({"sh", "-c", "echo oops >&2; exit 3"}, output), 3);
    EXPECT_EQ(output, "oops\n");
    output.clear();
    EXPECT_EQ(platform::RunCommand({"pelorin-no-such-program-here"}, output), -1);
}

} // namespace
