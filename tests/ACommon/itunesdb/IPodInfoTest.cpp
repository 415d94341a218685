// Device information: SysInfo, iTunesPrefs and the iPod's name read straight from its database.

#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

std::string SysInfo(const std::string& root) { return root + "/iPod_Control/Device/SysInfo"; }
std::string Prefs(const std::string& root) { return root + "/iPod_Control/iTunes/iTunesPrefs"; }

class IPodInfoTest : public ::testing::Test {
protected:
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "POD");
    AString r = AString::FromUTF8(root);
};

} // namespace

TEST_F(IPodInfoTest, ModelNumberLinesDescribeTheModel)
{
    struct Case {
        const char* text;
        const char* model;
        std::uint32_t family, variant;
        double capacity;
    };
    for (auto c :
         {Case{"ModelNumStr: MA099\n", "A099", 5, 2, 2},
          Case{"x: 1\r\nmodelnumstr:xA146\r\n", "A146", 4, 2, 30},
          Case{"ModelNumStr: M9282", "9282", 8, 0, 20}, Case{"ModelNumStr: MZ999\n", "Z999", 0, 0, 0}}) {
        fixtures::WriteFile(SysInfo(root), std::string(c.text));
        IPodInfo info;
        EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0) << c.text;
        EXPECT_EQ(info.model, c.model) << c.text;
        EXPECT_EQ(info.family, c.family) << c.text;
        EXPECT_EQ(info.variant, c.variant) << c.text;
        EXPECT_EQ(info.capacity, c.capacity) << c.text;
    }
}

// What tells two iPods of the same name apart: the FireWire GUID of SysInfo (wherever its line
// stands, in any case), else the id in the database's header, else nothing.
TEST_F(IPodInfoTest, TheIdentityIsTheFirewireGuidElseTheDatabaseIdElseUnknown)
{
    auto setDatabaseId = [&](std::uint64_t id) {
        auto bytes = fixtures::ReadFile(fixtures::DatabasePath(root));
        fixtures::itdb::PutU32(bytes, 24, static_cast<std::uint32_t>(id));
        fixtures::itdb::PutU32(bytes, 28, static_cast<std::uint32_t>(id >> 32));
        fixtures::WriteFile(fixtures::DatabasePath(root), bytes);
    };
    struct Case {
        const char* sysInfo;
        std::uint64_t databaseId;
        const char* identity;
    };
    for (auto c : {
             Case{"ModelNumStr: MA147\nFirewireGuid: 0x000a2700138a0000\n", 0x1122334455667788,
                  "FirewireGuid 000A2700138A0000"},
             Case{"firewireguid:000A27001111AAAA\r\nModelNumStr: MA147\r\n", 0,
                  "FirewireGuid 000A27001111AAAA"},
             Case{"ModelNumStr: MA147\nFirewireGuid: 0x0000000000000000\n", 0x1122334455667788,
                  "DatabaseId 1122334455667788"},
             Case{"ModelNumStr: MA147\nFirewireGuid: 0xnot-hex\n", 0xAB, "DatabaseId 00000000000000AB"},
             Case{"ModelNumStr: MA147\n", 0, ""},
             Case{"ModelNumStr: MA147\nFirewireGuidOld: 0x000A27001111AAAA\n", 0, ""}, // another key
         }) {
        fixtures::WriteFile(SysInfo(root), std::string(c.sysInfo));
        setDatabaseId(c.databaseId);
        EXPECT_EQ(IPodDB::GetIdentity(&r), c.identity) << c.sysInfo;
        IPodInfo info;
        EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0) << c.sysInfo;
        EXPECT_EQ(info.model, "A147") << c.sysInfo;
    }
    // A database too damaged to read gives no id.
    fixtures::WriteFile(SysInfo(root), std::string("ModelNumStr: MA147\n"));
    fixtures::WriteFile(fixtures::DatabasePath(root), std::string("mhbd"));
    EXPECT_EQ(IPodDB::GetIdentity(&r), "");
}

TEST(IPodInfo, MissingSysInfoReadsAsEmpty)
{
    fixtures::TempDir volumes;
    fixtures::IPodOptions options;
    options.modelNumStr.clear();
    const std::string root = fixtures::MakeIPod(volumes.Path(), "POD", options);
    AString r = AString::FromUTF8(root);
    IPodInfo info;
    EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), kErrEndOfFile);
    EXPECT_EQ(info.family, 0u);
    EXPECT_FALSE(fixtures::Exists(SysInfo(root)));
    std::filesystem::remove_all(root + "/iPod_Control/Device");
    EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0);
    EXPECT_EQ(info.family, 2u);
}

// Turning it off keeps the other bytes of iTunesPrefs; an iPod without the file takes the default
// (no automatic update) and gets none written.
TEST_F(IPodInfoTest, AutomaticUpdateIsTurnedOffKeepingTheOtherBytes)
{
    for (auto [byte, expected] : {std::pair{0x03, 1}, std::pair{0x02, 0}}) {
        auto prefs = fixtures::ReadFile(Prefs(root));
        prefs[10] = static_cast<std::uint8_t>(byte);
        fixtures::WriteFile(Prefs(root), prefs);
        signed char autoUpdate = -1;
        EXPECT_EQ(IPodDB::GetAutoUpdates(&r, autoUpdate), 0);
        EXPECT_EQ(autoUpdate, expected) << byte;
    }
    auto before = fixtures::ReadFile(Prefs(root));
    before[10] = 1;
    fixtures::WriteFile(Prefs(root), before);
    ASSERT_EQ(IPodDB::SetIPodFlag(&r), 0);
    before[10] = 0;
    before[31] = 1;
    EXPECT_EQ(fixtures::ReadFile(Prefs(root)), before);

    std::filesystem::remove(Prefs(root));
    signed char autoUpdate = -1;
    EXPECT_EQ(IPodDB::GetAutoUpdates(&r, autoUpdate), 0);
    EXPECT_EQ(autoUpdate, 0);
    EXPECT_NE(IPodDB::SetIPodFlag(&r), 0);
    EXPECT_FALSE(fixtures::Exists(Prefs(root)));
}

TEST(IPodInfo, LoadNameReadsTheLibraryPlaylistTitle)
{
    fixtures::TempDir volumes;
    for (const char* name : {"Jane's iPod", "", "\xC3\x89t\xC3\xA9 \xE2\x99\xAB"}) {
        fixtures::IPodOptions options;
        options.name = name;
        const std::string root =
            fixtures::MakeIPod(volumes.Path(), std::string("P") + std::to_string(std::strlen(name)), options);
        AString r = AString::FromUTF8(root);
        AString read("unset");
        EXPECT_EQ(IPodDB::LoadName(&r, &read), 0);
        EXPECT_EQ(read, AString::FromUTF8(name));
        auto bytes = fixtures::ReadFile(fixtures::DatabasePath(root));
        bytes.resize(bytes.size() - 10);
        fixtures::WriteFile(fixtures::DatabasePath(root), bytes);
        EXPECT_NE(IPodDB::LoadName(&r, &read), 0);
    }
}

// Later iPods keep their model and GUID in SysInfoExtended, which the iPod itself gives: it is read
// first, and SysInfo only fills in what it lacks.
TEST(IPodInfo, SysInfoExtendedIsBelievedBeforeSysInfo)
{
    fixtures::TempDir volumes;
    const std::string root =
        fixtures::MakeIPod(volumes.Path(), "CLASSIC", {.modelNumStr = "MB029", .later = true});
    AString r = AString::FromUTF8(root);
    EXPECT_FALSE(fixtures::Exists(SysInfo(root)));
    IPodInfo info;
    EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0);
    EXPECT_EQ(info.model, "B029");
    EXPECT_EQ(info.modelSource, "SysInfoExtended");
    EXPECT_EQ(info.guidSource, "SysInfoExtended");
    EXPECT_EQ(IPodDB::GetIdentity(&r), "FirewireGuid 000A2700138A0000");
    EXPECT_TRUE(IPodDB::ChecksSignature(&r));

    fixtures::WriteFile(SysInfo(root), std::string("ModelNumStr: MA147\nFirewireGuid: 0x000A27001111AAAA\n"));
    EXPECT_EQ(IPodDB::GetIPodInfo(&r, &info), 0);
    EXPECT_EQ(info.model, "B029");
    EXPECT_EQ(info.firewireGuid, "000A2700138A0000");
    // And what disagrees is kept, so that it can be told.
    EXPECT_EQ(info.sysInfoModel, "A147");
    EXPECT_EQ(info.sysInfoGuid, "000A27001111AAAA");
}
