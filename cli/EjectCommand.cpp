// pelorin eject NAME: unmounts an iPod and powers it off, so that it may be unplugged.

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodEject.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "APlatform/KnownFolders.h"
#include "cli/Commands.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace cli {

int EjectIPod(const std::string& wanted)
{
    const std::string volumesRoot = platform::VolumesRoot();
    const std::vector<MountedIPod> pods = MountedIPod::FindAll(AString::FromUTF8(volumesRoot));
    if (wanted.empty() && pods.size() > 1) {
        std::string names;
        for (const MountedIPod& pod : pods)
            names += (names.empty() ? "\"" : ", \"") + pod.volume.ToStdString() + "\"";
        std::fprintf(stderr, "pelorin eject: several iPods are mounted (%s); name the one to eject\n",
                     names.c_str());
        return kExitUsage;
    }
    const MountedIPod* pod = MountedIPod::Choose(pods, AString::FromUTF8(wanted));
    if (!pod) {
        if (wanted.empty())
            std::fprintf(stderr, "pelorin eject: no iPod is mounted under %s\n", volumesRoot.c_str());
        else
            std::fprintf(stderr, "pelorin eject: no iPod called \"%s\" is mounted under %s\n", wanted.c_str(),
                         volumesRoot.c_str());
        return kExitUsage;
    }
    AString message;
    const int err = IPodEject::Eject(*pod, &message);
    if (err != 0) {
        std::fprintf(stderr, "pelorin eject: %s\n", message.CStr());
        return kExitError;
    }
    std::cout << message.ToStdString() << "\n";
    return kExitOk;
}

void AddEjectCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand(
        "eject",
        "Unmount an iPod and power it off, so that it may be unplugged (refused while a sync changes it)");
    auto name = std::make_shared<std::string>();
    command->add_option("NAME", *name,
                        "The iPod (its name or its volume's name); may be left out when one is mounted");
    command->callback([name, &exitStatus] { exitStatus = EjectIPod(*name); });
}

} // namespace cli
