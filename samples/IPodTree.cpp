#include "samples/IPodTree.h"

#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "samples/SampleBytes.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace samples {

std::string MakeIPod(const std::string& volumesRoot, const std::string& volume, const IPodOptions& options)
{
    const std::string root = volumesRoot + "/" + volume;
    std::filesystem::create_directories(root + "/iPod_Control/iTunes");
    std::filesystem::create_directories(root + "/iPod_Control/Device");
    for (int i = 0; i < options.musicFolders; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%02d", i % 100);
        std::filesystem::create_directories(root + "/iPod_Control/Music/" + name);
    }
    if (options.later)
        WriteFile(root + "/iPod_Control/Device/SysInfoExtended",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                  "\t<key>FamilyID</key>\n\t<integer>11</integer>\n\t<key>FireWireGUID</key>\n\t<string>" +
                      options.firewireGuid.substr(options.firewireGuid.rfind('x') + 1) +
                      "</string>\n\t<key>ModelNumStr</key>\n\t<string>" + options.modelNumStr +
                      "</string>\n</dict>\n</plist>\n");
    else if (!options.modelNumStr.empty())
        WriteFile(root + "/iPod_Control/Device/SysInfo",
                  "BoardHwName: iPod M25\nModelNumStr: " + options.modelNumStr + "\n" +
                      (options.firewireGuid.empty() ? "" : "FirewireGuid: " + options.firewireGuid + "\n") +
                      "visibleBuildID: 0x01118000\n");
    // The preferences: byte 10 says whether the iPod updates itself from a library.
    Bytes prefs(64, 0);
    std::memcpy(prefs.data(), "frpd", 4);
    prefs[10] = options.autoUpdate ? 1 : 0;
    WriteFile(root + "/iPod_Control/iTunes/iTunesPrefs", prefs);

    IPodDB db;
    db.SetIPodName(AString::FromUTF8(options.name));
    ByteWriter out;
    db.GetDatabase()->Store(out);
    Bytes bytes = out.Bytes();
    if (options.later) {
        bytes[48] = 1; // the signing scheme, and a signature in its place
        for (std::size_t i = 88; i < 104; ++i)
            bytes[i] = static_cast<std::uint8_t>(i);
    }
    WriteFile(DatabasePath(root), bytes);
    return root;
}

std::string DatabasePath(const std::string& root) { return root + "/iPod_Control/iTunes/iTunesDB"; }

} // namespace samples
