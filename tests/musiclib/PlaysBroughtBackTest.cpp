// What was listened to on an iPod comes back into the library at the start of a sync of the two, by
// either route (through the library that serves the iPod, or through the iPod's own database):
// plays and skips added once, the later last-played date, the iPod's rating by the rule, the
// On-The-Go playlists in their order; each iPod song's plays go to the library song of its name,
// artist, album and duration, else to none. A dry run brings nothing back, and a run that cannot
// bring the plays back syncs nothing.

#include "LibraryFixture.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/SyncSession.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/Text.h"
#include "musiclib/LibraryScriptRunner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>

namespace {

using fixtures::Has;
using fixtures::itdb::PlayCount;

constexpr std::uint32_t kPlayedAt = 3880000000u;                // Mac time: 2026-12-13T09:46:40Z
constexpr std::int64_t kPlayedAtUnix = 3880000000 - 2082844800; // the same moment in Unix time

class PlaysBack : public fixtures::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        runner = std::make_unique<LibraryScriptRunner>(dir / "Library");
        platform::SetScriptRunner(runner.get());
    }
    void TearDown() override
    {
        platform::SetScriptRunner(nullptr);
        runner.reset();
        LibraryTest::TearDown();
    }
    // An iPod called `name`, served by the library when `attached`.
    void MakeIPod(const std::string& name = "Pod", bool attached = true)
    {
        root = fixtures::MakeIPod(volumes, "POD", {.name = name});
        std::string error;
        if (attached) {
            ASSERT_EQ(library->AttachIPod("POD", error), 0) << error;
        }
    }
    // The library holds `titles`, which an iPod called `name` (served by the library when
    // `attached`) receives; `order` is then the iPod's titles in the order of its records.
    void CopyOnto(const std::vector<std::string>& titles, const std::string& name = "Pod",
                  bool attached = true)
    {
        for (std::size_t i = 0; i < titles.size(); ++i)
            Add(Song(titles[i] + ".mp3", Tags(titles[i], "Artist", "Album", static_cast<std::uint32_t>(i))));
        MakeIPod(name, attached);
        ASSERT_EQ(Sync(), 0) << said;
        IPodDB db;
        AString at = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&at, 1, nullptr, nullptr), 0);
        order.resize(static_cast<std::size_t>(db.GetTrackCount()));
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& t) {
            order.at(static_cast<std::size_t>(t.GetReadIndex())) = t.GetName().ToStdString();
        });
    }
    // Copies the library (or the songs of `folder`) onto the iPod (`dryRun`: plans it only); what
    // the run said is in `said`.
    int Sync(bool dryRun = false, const std::string& folder = "")
    {
        MountedIPod pod;
        EXPECT_TRUE(MountedIPod::Read(AString::FromUTF8(root), &pod));
        const auto access = SyncSession::AccessOf(pod.name, folder.empty());
        SyncSession session;
        EXPECT_EQ(
            session.OpenIPod(folder.empty() ? ADir::kTypeITunes : ADir::kTypeSongFolder,
                             folder.empty() ? AString(ADirTunes::kRootMarker) : AString::FromUTF8(folder),
                             pod, SyncSession::IPodStatePath(pod.name, access), access),
            0);
        SyncSession::Settings settings;
        settings.dryRun = dryRun;
        session.Apply(settings);
        const int result = session.Run(nullptr, nullptr).result;
        EXPECT_EQ(runner->Flush(), 0);
        said.clear();
        for (const SyncSession::Notice& notice : session.TakeNotices())
            said += notice.text.ToStdString() + "\n";
        return result;
    }
    // The library no longer serves the iPod.
    void Detach()
    {
        platform::SetScriptRunner(nullptr);
        runner.reset();
        std::string error;
        ASSERT_EQ(library->DetachIPod("POD", error), 0) << error;
        runner = std::make_unique<LibraryScriptRunner>(dir / "Library");
        platform::SetScriptRunner(runner.get());
    }
    // What the iPod recorded: `counts` for its tracks in the order of `order`, and an On-The-Go
    // playlist of the tracks at `onTheGo`.
    void Listen(const std::vector<PlayCount>& counts, const std::vector<std::uint32_t>& onTheGo = {})
    {
        fixtures::WriteFile(root + "/iPod_Control/iTunes/Play Counts",
                            fixtures::itdb::PlayCounts(0x1C, counts));
        if (!onTheGo.empty())
            fixtures::WriteFile(root + "/iPod_Control/iTunes/OTGPlaylistInfo",
                                fixtures::itdb::OnTheGo(4, onTheGo));
    }
    // A property of the library's tracks called `title`, in the library's order.
    std::vector<std::int64_t> Get(const std::string& property, const std::string& title)
    {
        const platform::ScriptDescriptor reply =
            Must(Tell(property + " of (every track in playlist \"Library\" whose name = \"" + title + "\")"));
        std::vector<std::int64_t> values;
        for (const platform::ScriptDescriptor& item : reply.Items())
            values.push_back(item.Int64Value());
        return values;
    }
    using Values = std::vector<std::int64_t>;

    std::unique_ptr<LibraryScriptRunner> runner;
    fixtures::RecordingFrontend frontend;
    std::string root, said;
    std::vector<std::string> order;
};

TEST_F(PlaysBack, ListeningComesBackOnceByEitherRoute)
{
    CopyOnto({"One", "Two", "Three"});
    // Through the library, then through the iPod's database: the second adds to the first.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "through the library" : "through the iPod's database");
        if (round == 2)
            Detach();
        Listen({{3, kPlayedAt, 0, 0, 0, 0}, {0, 0, 0, 20u * (3u + round), 0, 0}, {0, 0, 0, 0, 2, kPlayedAt}});
        ASSERT_EQ(Sync(), 0) << said;
        EXPECT_TRUE(Has(said, "Brought back 3 plays and 1 rating from Pod")) << said;
        ASSERT_EQ(Sync(), 0);
        EXPECT_FALSE(Has(said, "Brought back")) << said;
        EXPECT_EQ(Get("played count", order[0]), Values{3 * round});
        EXPECT_EQ(Get("played date", order[0]), Values{kPlayedAtUnix});
        EXPECT_EQ(Get("rating", order[1]), Values{20 * (3 + round)});
        EXPECT_EQ(Get("skipped count", order[2]), Values{2 * round});
    }
}

TEST_F(PlaysBack, OnTheGoPlaylistsComeBackWithTheirSongsInOrder)
{
    CopyOnto({"One", "Two", "Three"}, "Pod\nTwo");
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &today);
    // A second one of the same day takes the next number; an iPod named on two lines gives a name
    // the library takes on one.
    for (const auto& [number, places] : {std::pair<int, std::vector<std::uint32_t>>{1, {2, 0}}, {2, {1}}}) {
        Listen({{}, {}, {}}, places);
        ASSERT_EQ(Sync(), 0) << said;
        std::vector<std::string> expected;
        for (std::uint32_t place : places)
            expected.push_back(order[place]);
        const std::string name = "On-The-Go " + std::to_string(number) + " (Pod Two, " + date + ")";
        EXPECT_EQ(Strings(Must(fixtures::bridge::LibProperty("name", name))), expected) << name;
    }
}

TEST_F(PlaysBack, TheLibrarysRatingStaysWhenItChangedSinceTheLastSyncToo)
{
    CopyOnto({"One", "Two"});
    Must(Tell("set rating of first track of playlist \"Library\" whose name = \"" + order[1] + "\" to 40"));
    Listen({{3, kPlayedAt, 0, 0, 0, 0}, {0, 0, 0, 80, 0, 0}});
    ASSERT_EQ(Sync(), 0) << said;
    EXPECT_EQ(Get("rating", order[1]), Values{40});
    EXPECT_TRUE(Has(said, "Brought back 3 plays and 0 ratings from Pod")) << said;
    EXPECT_TRUE(Has(said, "The library's rating of \"" + order[1] + "\" is kept")) << said;
}

TEST_F(PlaysBack, ADryRunBringsNothingBack)
{
    CopyOnto({"One"});
    Listen({{3, kPlayedAt, 0, 0, 0, 0}});
    ASSERT_EQ(Sync(true), 0) << said;
    EXPECT_TRUE(fixtures::Exists(root + "/iPod_Control/iTunes/Play Counts"));
    EXPECT_EQ(Get("played count", "One"), Values{0});
}

// The iPod's songs of 10 s came from a folder; the library holds songs of their name, artist and
// album: the one of the iPod song's duration takes its plays, and of two alike neither does.
TEST_F(PlaysBack, PlaysGoToTheLibrarySongOfTheIPodSongsDuration)
{
    MakeIPod("Pod", false);
    for (const char* title : {"Apart", "Alike"})
        for (const auto& [folder, seconds] :
             {std::pair<std::string, int>{"Short/", 10}, {"Long/", 20}, {"Copy/", 10}}) {
            fixtures::SongSpec song = Tags(title, "Artist", "Album");
            song.seconds = seconds;
            Song(folder + title + ".mp3", song);
        }
    ASSERT_EQ(Sync(false, dir / "Short"), 0) << said;
    for (const char* file : {"Long/Apart.mp3", "Short/Apart.mp3", "Short/Alike.mp3", "Copy/Alike.mp3"})
        Add(dir / file);
    Listen({{3, kPlayedAt, 0, 0, 0, 0}, {3, kPlayedAt, 0, 0, 0, 0}});
    ASSERT_EQ(Sync(), 0) << said;
    EXPECT_TRUE(Has(said, "Brought back 3 plays and 0 ratings from Pod; 1 song not found in the library"))
        << said;
    EXPECT_EQ(Get("played count", "Apart"), (Values{0, 3}));
    EXPECT_EQ(Get("played count", "Alike"), (Values{0, 0}));
}

TEST_F(PlaysBack, ARunThatCannotBringThePlaysBackLeavesThemOnTheIPod)
{
    CopyOnto({"One"});
    Listen({{3, kPlayedAt, 0, 0, 0, 0}});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "Library/Library.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE plays_brought_back", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_NE(Sync(), 0);
    EXPECT_TRUE(Has(said, "Nothing was synced, so that those plays are not lost")) << said;
    EXPECT_TRUE(fixtures::Exists(root + "/iPod_Control/iTunes/Play Counts"));
    EXPECT_EQ(Get("played count", "One"), Values{0});
}

} // namespace
