// What was listened to on an iPod comes back into the library at the next sync, by either route:
// plays and skips added once, the later last-played date, the iPod's rating by the rule, the
// On-The-Go playlists in their order; shown by `pelorin library tracks --json` and exported by
// `pelorin library plays`.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

using fixtures::Has;
using fixtures::RunPelorin;
using fixtures::itdb::PlayCount;

constexpr std::uint32_t kPlayedAt = 3880000000u; // Mac time, in 2026

class PlaysBack : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunPelorin({"demo", tmp.Path()}).exitStatus, 0);
        env = {"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data", "HOME=" + tmp / "home",
               "PELORIN_LIBRARY=" + tmp / "Library", "TZ=UTC"};
        const fixtures::CommandResult first = Sync();
        ASSERT_EQ(first.exitStatus, 0) << first.err;
        // The iPod's tracks in the order of its database file, which the iPod's records follow.
        IPodDB db;
        AString root = AString::FromUTF8(IPod());
        ASSERT_EQ(db.Load(&root, 1, nullptr, nullptr), 0);
        order.resize(static_cast<std::size_t>(db.GetTrackCount()));
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& t) {
            order.at(static_cast<std::size_t>(t.GetReadIndex())) = t.GetName().ToStdString();
        });
        ASSERT_GE(order.size(), 3u);
    }

    std::string IPod() const { return tmp / "Volumes/DEMOPOD"; }
    fixtures::CommandResult Sync() const
    {
        return RunPelorin({"sync", "--type", "copy-to-ipod", "--yes"}, "", env);
    }
    fixtures::CommandResult Library(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "library");
        return RunPelorin(args, "", env);
    }
    // The first song's plays, the second's rating set on the iPod, the third skipped; an On-The-Go
    // playlist of the third and the first.
    void Listen(std::uint32_t rating = 80)
    {
        std::vector<PlayCount> counts(order.size());
        counts[0] = {3, kPlayedAt, 0, 0, 0, 0};
        counts[1] = {0, 0, 0, rating, 0, 0};
        counts[2] = {0, 0, 0, 0, 2, kPlayedAt};
        fixtures::WriteFile(IPod() + "/iPod_Control/iTunes/Play Counts",
                            fixtures::itdb::PlayCounts(0x1C, counts));
        fixtures::WriteFile(IPod() + "/iPod_Control/iTunes/OTGPlaylistInfo",
                            fixtures::itdb::OnTheGo(4, {2, 0}));
    }
    // The JSON object of the library track called `name`.
    std::string TrackJson(const std::string& name) const
    {
        const std::string all = Library({"tracks", "--json"}).out;
        const std::size_t at = all.find("\"name\": \"" + name + "\"");
        if (at == std::string::npos)
            return std::string();
        const std::size_t begin = all.rfind('{', at);
        return all.substr(begin, all.find('}', at) - begin + 1);
    }

    fixtures::TempDir tmp;
    std::vector<std::string> env;
    std::vector<std::string> order;
};

TEST_F(PlaysBack, ListeningComesBackOnceByEitherRoute)
{
    for (const char* route : {"library", "database"}) {
        const bool second = std::string(route) == "database";
        if (second) {
            ASSERT_EQ(Library({"detach-ipod", "Demo iPod"}).exitStatus, 0);
        }
        Listen(second ? 100 : 80);
        const fixtures::CommandResult run = Sync();
        ASSERT_EQ(run.exitStatus, 0) << route << ": " << run.err;
        EXPECT_TRUE(Has(run.out + run.err, "Brought back 3 plays and 1 rating from Demo iPod"))
            << route << run.out;
        const fixtures::CommandResult again = Sync();
        EXPECT_FALSE(Has(again.out + again.err, "Brought back")) << route;
        EXPECT_TRUE(Has(TrackJson(order[0]), second ? "\"playCount\": 6" : "\"playCount\": 3"))
            << route << TrackJson(order[0]);
        EXPECT_TRUE(Has(TrackJson(order[0]), "\"lastPlayed\": \"2026-12-13T"))
            << route << TrackJson(order[0]);
        EXPECT_TRUE(Has(TrackJson(order[1]), second ? "\"rating\": 100" : "\"rating\": 80"))
            << route << TrackJson(order[1]);
        EXPECT_TRUE(Has(TrackJson(order[2]), second ? "\"skipCount\": 4" : "\"skipCount\": 2")) << route;
    }
}

TEST_F(PlaysBack, OnTheGoPlaylistsComeBackWithTheirSongsInOrder)
{
    Listen();
    ASSERT_EQ(Sync().exitStatus, 0);
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &today);
    const std::string name = std::string("On-The-Go 1 (Demo iPod, ") + date + ")";
    const fixtures::CommandResult listed = Library({"tracks", "--playlist", name});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err << Library({"playlists"}).out;
    const std::size_t third = listed.out.find(order[2]), first = listed.out.find(order[0]);
    EXPECT_NE(third, std::string::npos) << listed.out;
    EXPECT_NE(first, std::string::npos) << listed.out;
    EXPECT_LT(third, first) << listed.out;

    // Another one of the same day does not take its name.
    fixtures::WriteFile(IPod() + "/iPod_Control/iTunes/OTGPlaylistInfo", fixtures::itdb::OnTheGo(4, {1}));
    ASSERT_EQ(Sync().exitStatus, 0);
    EXPECT_EQ(
        Library({"tracks", "--playlist", std::string("On-The-Go 2 (Demo iPod, ") + date + ")"}).exitStatus,
        0);
}

TEST_F(PlaysBack, TheLibrarysRatingStaysWhenItChangedSinceTheLastSyncToo)
{
    const fixtures::CommandResult rated = RunPelorin(
        {"library", "script", "-"},
        "tell application \"iTunes\"\n set rating of first track of playlist \"Library\" whose name = \"" +
            order[1] + "\" to 40\n end tell\n",
        env);
    ASSERT_EQ(rated.exitStatus, 0) << rated.err;
    Listen(80);
    const fixtures::CommandResult run = Sync();
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(Has(TrackJson(order[1]), "\"rating\": 40")) << TrackJson(order[1]);
    EXPECT_TRUE(Has(run.out + run.err, "Brought back 3 plays and 0 ratings from Demo iPod"))
        << run.out << run.err;
    EXPECT_TRUE(Has(run.out + run.err, "The library's rating of \"" + order[1] + "\" is kept"))
        << run.out << run.err;
}

TEST_F(PlaysBack, PlaysAreExportedSinceADateAsJsonLinesOrCsv)
{
    Listen();
    ASSERT_EQ(Sync().exitStatus, 0);
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        std::string expected;
    };
    const std::string json = "{\"playedDate\": \"2026-12-13T09:46:40Z\", \"plays\": 3";
    for (const Case& c :
         {Case{{"--since", "2026-12-13"}, 0, json}, Case{{"--since", "2026-12-13T09:46:40Z"}, 0, json},
          Case{{"--since", "2026-12-13T09:46:41Z"}, 0, ""},
          Case{{"--since", "2026-12-01", "--csv"},
               0,
               "playedDate,plays,databaseID,artist,album,name\r\n2026-12-13T09:46:40Z,3,"},
          Case{{"--since", "yesterday"}, 2, ""}}) {
        std::vector<std::string> args{"plays"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const fixtures::CommandResult run = Library(args);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.args[1] << run.err;
        if (c.expected.empty())
            EXPECT_EQ(run.out, "") << c.args[1];
        else
            EXPECT_EQ(run.out.rfind(c.expected, 0), 0u) << c.args[1] << ": " << run.out;
    }
}

TEST_F(PlaysBack, ADryRunBringsNothingBack)
{
    Listen();
    const fixtures::CommandResult run = RunPelorin({"sync", "--type", "copy-to-ipod", "--dry-run"}, "", env);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(fixtures::Exists(IPod() + "/iPod_Control/iTunes/Play Counts"));
    EXPECT_TRUE(Has(TrackJson(order[0]), "\"playCount\": 0")) << TrackJson(order[0]);
}

} // namespace
