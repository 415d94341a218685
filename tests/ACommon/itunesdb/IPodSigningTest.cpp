// The signing scheme an iPod needs, where its GUID comes from, the checks before a store, and the
// signature the store makes.

#include "ACommon/itunesdb/IPodSigning.h"
#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodIdentity.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "fixtures/IPodDatabase.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

std::string Device(const std::string& root) { return root + "/iPod_Control/Device/"; }

std::string Extended(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
           "</dict>\n</plist>\n";
}

IPodSigning::Guid GuidOf(const char* hex)
{
    IPodSigning::Guid guid{};
    EXPECT_TRUE(IPodSigning::ParseGuid(hex, &guid)) << hex;
    return guid;
}

} // namespace

TEST(IPodInfo, TheSchemeComesFromDBVersionElseFromTheModel)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "POD");
    struct Case {
        const char* model;
        int dbVersion; // -1: no SysInfoExtended
        int scheme;
        const char* generation;
    };
    for (auto c : {Case{"MA147", -1, IPodInfo::kSchemeNone, "5th generation"},
                   Case{"MA099", -1, IPodInfo::kSchemeNone, "1st generation"},
                   Case{"MA477", -1, IPodInfo::kSchemeNone, "2nd generation"},
                   Case{"MB029", -1, IPodInfo::kSchemeHash58, "6th generation"},
                   Case{"MB565", -1, IPodInfo::kSchemeHash58, "6th generation, late 2008"},
                   Case{"MC293", -1, IPodInfo::kSchemeHash58, "7th generation"},
                   Case{"MA978", -1, IPodInfo::kSchemeHash58, "3rd generation"},
                   Case{"MB598", -1, IPodInfo::kSchemeHash58, "4th generation"},
                   Case{"MC027", -1, IPodInfo::kSchemeHash72, "5th generation"},
                   Case{"MC525", -1, IPodInfo::kSchemeHashAB, "6th generation"},
                   Case{"MD480", -1, IPodInfo::kSchemeHashAB, "7th generation"},
                   Case{"MZ999", -1, IPodInfo::kSchemeUnknown, ""},
                   // The iPod's own word wins over the model.
                   Case{"MB029", 2, IPodInfo::kSchemeNone, "6th generation"},
                   Case{"MA147", 3, IPodInfo::kSchemeHash58, "5th generation"},
                   Case{"MB029", 4, IPodInfo::kSchemeHash72, "6th generation"},
                   Case{"MB029", 5, IPodInfo::kSchemeHashAB, "6th generation"},
                   Case{"MB029", 6, IPodInfo::kSchemeUnknown, "6th generation"}}) {
        fixtures::WriteFile(Device(root) + "SysInfo", std::string("ModelNumStr: ") + c.model + "\n");
        std::filesystem::remove(Device(root) + "SysInfoExtended");
        if (c.dbVersion >= 0)
            fixtures::WriteFile(
                Device(root) + "SysInfoExtended",
                Extended("<key>DBVersion</key><integer>" + std::to_string(c.dbVersion) + "</integer>\n"));
        IPodInfo info;
        AString r = AString::FromUTF8(root);
        EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0) << c.model;
        EXPECT_EQ(info.scheme, c.scheme) << c.model << " " << c.dbVersion;
        EXPECT_EQ(info.generation, c.generation) << c.model;
        EXPECT_EQ(info.schemeSource, c.dbVersion >= 0 ? "SysInfoExtended"
                                     : c.scheme >= 0  ? "model"
                                                      : "")
            << c.model;
    }
}

// The GUID: SysInfoExtended's, else SysInfo's, else the serial number of the Apple USB device
// behind the volume (and never another vendor's).
TEST(IPodInfo, TheGuidComesFromSysInfoExtendedElseSysInfoElseTheUsbSerialNumber)
{
    struct Case {
        const char* what;
        std::string sysInfo, extended;
        const char* vendor;
        const char* guid;
        const char* source;
    };
    // SysInfoExtended before SysInfo is checked with the identity files' other fields.
    const Case cases[] = {
        {"SysInfo", "ModelNumStr: MC293\nFirewireGuid: 0x000A270011111111\n", "", "05ac", "000A270011111111",
         "SysInfo"},
        {"USB", "ModelNumStr: MC293\n", "", "05ac", "000A270033333333", "USB serial number"},
        {"USB of another vendor", "ModelNumStr: MC293\n", "", "0781", "", ""},
    };
    for (const Case& c : cases) {
        fixtures::TempDir volumes;
        const std::string root = fixtures::MakeIPod(volumes.Path(), "POD", {.firewireGuid = ""});
        fixtures::WriteFile(Device(root) + "SysInfo", c.sysInfo);
        if (!c.extended.empty())
            fixtures::WriteFile(Device(root) + "SysInfoExtended", c.extended);
        const std::string sysfs =
            fixtures::MakeUsbDevice(volumes / "sys", root, c.vendor, "000a270033333333");
        EXPECT_EQ(IPodIdentity::UsbSerial(AString::FromUTF8(root), sysfs).IsEmpty(),
                  c.vendor != std::string("05ac"))
            << c.what;
        setenv("PELORIN_SYSFS", sysfs.c_str(), 1);
        IPodInfo info;
        AString r = AString::FromUTF8(root);
        EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0) << c.what;
        unsetenv("PELORIN_SYSFS");
        EXPECT_EQ(info.firewireGuid, c.guid) << c.what;
        EXPECT_EQ(info.guidSource, c.source) << c.what;
    }
}

// Each thing that would leave the iPod showing no music stops the store before anything is
// written, and the message says what to do.
TEST(IPodSigning, EachRefusalLeavesTheIPodAsItWas)
{
    struct Case {
        const char* what;
        const char* sysInfo;  // null: as made
        std::string extended; // empty: none
        bool signedDatabase;
        const char* told;
    };
    const std::string guids = "<key>FireWireGUID</key><string>000A270022222222</string>\n";
    const Case cases[] = {
        {"no GUID", "ModelNumStr: MB147\n", "", false,
         "This iPod classic (6th generation), model MB147 needs its FireWire GUID to sign its music "
         "database, "
         "and neither SysInfo nor SysInfoExtended holds it; run `pelorin ipods --write-identity POD` while "
         "it is connected by USB. Nothing was changed."},
        {"no GUID where only DBVersion tells the scheme", "BoardHwName: iPod\n",
         Extended("<key>DBVersion</key><integer>3</integer>\n"), false,
         "This iPod needs its FireWire GUID to sign its music database"},
        {"newer database version", nullptr, Extended("<key>DBVersion</key><integer>7</integer>\n"), false,
         "names database version 7, newer than Pelorin knows (up to 5)"},
        {"unknown model of a signed database", "ModelNumStr: MZ123\n", "", true,
         "This iPod's model number MZ123 is not one Pelorin knows, so it cannot tell how the iPod checks its "
         "music database (the database on it is signed). Put the model number printed on the back of the "
         "iPod into iPod_Control/Device/SysInfo"},
        {"no model of a signed database", "BoardHwName: iPod\n", "", true,
         "Neither SysInfo nor SysInfoExtended names this iPod's model"},
        {"hash72 without HashInfo", "ModelNumStr: MC027\n", "", false,
         "iPod_Control/Device/HashInfo that one sync with the iPod's own desktop application leaves behind; "
         "it is missing."},
        {"hashAB", "ModelNumStr: MC525\n", "", false,
         "This iPod nano (6th generation), model MC525 checks its music database with the hashAB signature"},
        {"GUIDs that disagree", "ModelNumStr: MC293\nFirewireGuid: 0x000A270011111111\n", Extended(guids),
         false,
         "This iPod's identity files disagree: SysInfo gives the FireWire GUID 000A270011111111, "
         "SysInfoExtended 000A270022222222."},
        {"models that disagree", "ModelNumStr: MA147\nFirewireGuid: 0x000A270011111111\n",
         Extended("<key>ModelNumStr</key><string>MC293</string>\n"), false,
         "SysInfoExtended names model MC293, SysInfo model MA147."},
    };
    for (const Case& c : cases) {
        fixtures::TestIPod pod({.firewireGuid = ""});
        const std::string& root = pod.root;
        if (c.sysInfo)
            fixtures::WriteFile(Device(root) + "SysInfo", std::string(c.sysInfo));
        if (!c.extended.empty())
            fixtures::WriteFile(Device(root) + "SysInfoExtended", c.extended);
        if (c.signedDatabase) {
            auto bytes = fixtures::ReadFile(fixtures::DatabasePath(root));
            bytes[48] = 1;
            std::fill(bytes.begin() + 88, bytes.begin() + 104, 0x5A); // the new header ends at 104
            fixtures::WriteFile(fixtures::DatabasePath(root), bytes);
        }
        const auto before = fixtures::ReadFile(fixtures::DatabasePath(root));
        const auto files = fixtures::ListFiles(root);
        EXPECT_EQ(pod.StoreWith({"One"}), kErrNotSupported) << c.what;
        const std::string told = AError::FailureDetail(kErrNotSupported).ToStdString();
        EXPECT_NE(told.find(c.told), std::string::npos) << c.what << ": " << told;
        EXPECT_NE(told.find("Nothing was changed."), std::string::npos) << c.what;
        EXPECT_EQ(fixtures::ReadFile(fixtures::DatabasePath(root)), before) << c.what;
        EXPECT_EQ(fixtures::ListFiles(root), files) << c.what;
    }
}

// Models that check a signature get one (compared with libgpod's by the signing peer test); the
// 5th generation checks none and gets none.
TEST(IPodDB, StoreSignsNoDatabaseOfAnIPodThatChecksNone)
{
    fixtures::TestIPod pod({.modelNumStr = "MA147", .firewireGuid = "0x000A270018A1B2C3"});
    ASSERT_EQ(pod.StoreWith({"One"}), 0);
    const auto bytes = fixtures::ReadFile(pod.ITunes("iTunesDB"));
    EXPECT_FALSE(IPodSigning::HasHash58(bytes, GuidOf("000A270018A1B2C3")));
    EXPECT_EQ(bytes[48], 0);
    AString r = pod.Root();
    EXPECT_FALSE(IPodDB::ChecksSignature(&r));
}
