// The iPod database taking in what the iPod recorded (its play count and On-The-Go files), never
// from a file of another database. That a run stopped anywhere counts the plays once is checked by
// killing a run at every call in the fault suite.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/MHYP.h"
#include "fixtures/IPodDatabase.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using fixtures::itdb::PlayCount;
using Recorded = IPodDB::RecordedPlays;

// An iPod with the tracks First and Second, both rated two stars.
class IPodDBPlaysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        IPodDB db;
        ASSERT_EQ(pod.Load(db), 0);
        for (const char* name : {"First", "Second"})
            pod.Add(db, name)->SetByte(MHIT::kOffsetRating, 40);
        ASSERT_EQ(db.Store(nullptr), 0);
        fileOrder = pod.FileOrder();
    }
    void Load(IPodDB& db) { ASSERT_EQ(pod.Load(db), 0); }
    std::map<std::string, std::uint32_t> Plays() const { return pod.Fields(MHIT::kOffsetPlayCount); }
    int OnTheGoPlaylists() const
    {
        IPodDB db;
        EXPECT_EQ(pod.Load(db), 0);
        return db.GetDatabase()->GetPlaylistLists().front()->GetPlaylistCount() - 1;
    }

    fixtures::TestIPod pod;
    std::vector<std::string> fileOrder;
};

TEST_F(IPodDBPlaysTest, RecordedPlaysNameTheChangedTracksWithTheRatingOfTheLastSync)
{
    fixtures::WriteFile(pod.ITunes("Play Counts"),
                        fixtures::itdb::PlayCounts(0x1C, {{2, 0xC1000000u, 0, 80, 1}, {0, 0, 0, 40}}));
    fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo"), fixtures::itdb::OnTheGo(4, {1, 0}));
    IPodDB db;
    Load(db);
    const Recorded& recorded = db.GetRecordedPlays();
    EXPECT_EQ(recorded.state, Recorded::State::kFolded);
    ASSERT_EQ(recorded.tracks.size(), 1u); // the second: nothing played, its rating as it was
    const Recorded::Track& track = recorded.tracks[0];
    EXPECT_EQ(track.name.ToStdString(), fileOrder[0]);
    EXPECT_EQ(track.plays, 2u);
    EXPECT_EQ(track.skips, 1u);
    EXPECT_EQ(track.lastPlayed, 0xC1000000u);
    EXPECT_EQ(track.ratingBefore, 40);
    EXPECT_EQ(track.rating, 80);
    ASSERT_EQ(recorded.onTheGo.size(), 1u);
    EXPECT_EQ(recorded.onTheGo[0].number, 1);
    ASSERT_EQ(recorded.onTheGo[0].tracks.size(), 2u);
}

TEST_F(IPodDBPlaysTest, APlayCountFileOfAnotherDatabaseIsNeverApplied)
{
    struct Case {
        const char* what;
        fixtures::Bytes bytes;
    };
    for (const Case& c : {Case{"more entries than tracks", fixtures::itdb::PlayCounts(0x1C, {{5}, {5}, {5}})},
                          Case{"fewer entries than tracks", fixtures::itdb::PlayCounts(0x10, {{5}})},
                          Case{"damaged", fixtures::Bytes{'m', 'h', 'd', 'p', 0x60}}}) {
        fixtures::WriteFile(pod.ITunes("Play Counts"), c.bytes);
        fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo"), fixtures::itdb::OnTheGo(4, {1, 0}));
        fixtures::RecordingFrontend frontend;
        IPodDB db;
        Load(db);
        EXPECT_EQ(db.GetRecordedPlays().state, Recorded::State::kRefused) << c.what;
        EXPECT_NE(frontend.Log().find("Play Counts"), std::string::npos) << c.what << ": " << frontend.Log();
        ASSERT_EQ(db.Store(nullptr), 0) << c.what;
        EXPECT_EQ(fixtures::ReadFile(pod.ITunes("Play Counts")), c.bytes) << c.what;
        EXPECT_TRUE(fixtures::Exists(pod.ITunes("OTGPlaylistInfo"))) << c.what;
        EXPECT_EQ(Plays(), (std::map<std::string, std::uint32_t>{{"First", 0}, {"Second", 0}})) << c.what;
        EXPECT_EQ(OnTheGoPlaylists(), 0) << c.what;
    }
}

} // namespace
