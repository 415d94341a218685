// Sync groups: their runs, and the state file that keeps every sync's settings, saved lists and
// remembered answers from one start of the program to the next.

#include "ACommon/sync/ASyncGroup.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sync/ASyncLib.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadFile;

namespace {

fixtures::SongSpec SongSpecOf(const std::string& title, std::uint32_t seed)
{
    fixtures::SongSpec songSpec;
    songSpec.title = title;
    songSpec.artist = "Artist";
    songSpec.album = "Album";
    songSpec.genre = "Rock";
    songSpec.seed = seed;
    songSpec.seconds = 1;
    songSpec.bitRate = 32;
    return songSpec;
}

// The entries of a source's list without the keys after "?", which name songs in one process only.
std::vector<std::string> Entries(ADir* dir)
{
    dir->Sort(1);
    std::vector<std::string> entries;
    for (int i = 0; i < dir->Count(); ++i) {
        std::string entry = dir->GetFPath(i)->ToStdString();
        entries.push_back(entry.substr(0, entry.rfind('?')));
    }
    return entries;
}

ASyncLib* Library(ASync* sync) { return dynamic_cast<ASyncLib*>(sync); }

class ASyncGroupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fixtures::MakeIPod(tmp / "Volumes", "POD");
        fixtures::WriteSong(tmp / "Songs/Artist/Album/One.mp3", SongSpecOf("One", 1));
        fixtures::WriteSong(tmp / "Songs/Artist/Album/Two.mp3", SongSpecOf("Two", 2));
        statePath = tmp.A("POD_PODDB.snc");
    }
    // Points a song sync at the folder and the iPod.
    void Aim(ASync* sync)
    {
        AString left = tmp.A("Songs"), right = AString::FromUTF8(root);
        sync->SetRootPath1(&left, nullptr, 0);
        sync->SetRootPath2(&right, nullptr, 0);
        sync->SetShowActionsList(0);
    }

    fixtures::RecordingFrontend frontend;
    fixtures::TempDir tmp;
    std::string root;
    AString statePath;
};

} // namespace

TEST_F(ASyncGroupTest, AGroupWrittenAndReadBackHasTheSameSettingsSavedListsAndAnswers)
{
    ASyncGroup group;
    group.SetGroupName(AString("Pocket"));
    ASyncLib* sync = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    ASSERT_NE(sync, nullptr);
    Aim(sync);
    sync->SetAutoAction(ASync::kTwoWay);
    sync->SetDestDeletes(1);
    sync->SetStopOnErr(1);
    sync->SetAutoRunOnVolumeMount(1);
    sync->SetMoveInsteadOfDelete(0);
    sync->SetDontDupSongs(1);
    AString genres(":Rock:Pop:");
    sync->SetGenreFilterMode(1);
    sync->SetGenreIncludeFilter(&genres);
    // A two-way run leaves the lists of both sides saved.
    ASSERT_EQ(group.DoSync(nullptr, 0), 0) << frontend.Log();
    sync->SetRememberedAnswers(ASync::kAnswerYesToAll, ASync::kAnswerNoToAll, ASync::kAnswerYesToAll);
    ASSERT_EQ(group.WriteSyncState(&statePath), 0);

    ASyncGroup restored;
    ASSERT_EQ(restored.ReadSyncState(&statePath), 0);
    EXPECT_EQ(restored.GetGroupName(), "Pocket");
    ASSERT_EQ(restored.NumSyncs(), 1);
    ASyncLib* back = Library(restored.GetSync(0));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetDir1()->GetType(), ADir::kTypeSongFolder);
    EXPECT_EQ(back->GetDir2()->GetType(), ADir::kTypeIPodDB);
    EXPECT_EQ(back->GetSavedDir2()->GetType(), ADir::kTypeIPodDB);
    EXPECT_EQ(std::vector<int>({back->GetAutoAction(), back->GetDestDeletes(), back->GetStopOnErr(),
                                back->GetAutoRunOnVolumeMount(), back->GetMoveInsteadOfDelete(),
                                back->GetDontDupSongs(), back->GetGenreFilterMode(), back->GetReplaceAnswer(),
                                back->GetReplaceNewerAnswer(), back->GetDeleteAnswer()}),
              std::vector<int>({3, 1, 1, 1, 0, 1, 1, ASync::kAnswerYesToAll, ASync::kAnswerNoToAll,
                                ASync::kAnswerYesToAll}));
    EXPECT_EQ(*back->GetGenreIncludeFilter(), ":Rock:Pop:");
    const std::vector<std::string> songs{"/Rock/Artist/Album/One/mp3", "/Rock/Artist/Album/Two/mp3"};
    EXPECT_EQ(Entries(back->GetSavedDir1()), songs);
    EXPECT_EQ(Entries(back->GetSavedDir2()), songs);
    EXPECT_EQ(*back->GetSavedDir2()->GetRootPath(), AString::FromUTF8(root + "/"));
    EXPECT_EQ(static_cast<ADirPodDB*>(back->GetSavedDir2())->GetIPodID(), "00000000");
    // The current lists are never stored.
    EXPECT_EQ(back->GetDir1()->Count(), 0);

    // Written again, the record is the same bytes.
    AString again = tmp.A("again.snc");
    ASSERT_EQ(restored.WriteSyncState(&again), 0);
    EXPECT_EQ(ReadFile(again.ToStdString()), ReadFile(statePath.ToStdString()));
}

TEST_F(ASyncGroupTest, AFileOfAnotherKindOrWithMoreThanTwentySyncsIsRefusedAndLeavesTheGroupEmpty)
{
    fixtures::Bytes tooMany;
    fixtures::PutU32LE(tooMany, ASyncGroup::kStateMark);
    fixtures::PutU32LE(tooMany, 21);
    fixtures::PutStringRecord(tooMany, u"");
    struct Case {
        fixtures::Bytes bytes;
        int result;
    };
    for (const Case& c : {Case{{0x05, 0x00, 0x10, 0x00, 1, 0, 0, 0}, kErrVersion}, {tooMany, kErrUnknown}}) {
        fixtures::WriteFile(statePath.ToStdString(), c.bytes);
        ASyncGroup group;
        group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        EXPECT_EQ(group.ReadSyncState(&statePath), c.result);
        EXPECT_EQ(group.NumSyncs(), 0);
    }
}

TEST_F(ASyncGroupTest, AMissingFileReadsAsItsEndAndIsCreatedEmpty)
{
    ASyncGroup group;
    EXPECT_EQ(group.ReadSyncState(&statePath), kErrEndOfFile);
    EXPECT_EQ(group.NumSyncs(), 0);
    ASSERT_TRUE(Exists(statePath.ToStdString()));
    EXPECT_TRUE(ReadFile(statePath.ToStdString()).empty());
}

TEST_F(ASyncGroupTest, WritingOverALongerFileLeavesNoTrailingBytesAndNoTemporaryFile)
{
    fixtures::WriteFile(statePath.ToStdString(), fixtures::Bytes(100000, 0xAB));
    ASyncGroup group;
    Aim(group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB));
    ASSERT_EQ(group.WriteSyncState(&statePath), 0);
    const auto bytes = ReadFile(statePath.ToStdString());
    EXPECT_LT(bytes.size(), 100000u);
    EXPECT_EQ(bytes[0], 0x01);
    for (const std::string& name : ListFiles(tmp.Path()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    ASyncGroup back;
    EXPECT_EQ(back.ReadSyncState(&statePath), 0);
    EXPECT_EQ(back.NumSyncs(), 1);
}

TEST_F(ASyncGroupTest, AFailedWriteLeavesTheOldFileWhole)
{
    ASyncGroup group;
    Aim(group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB));
    ASSERT_EQ(group.WriteSyncState(&statePath), 0);
    const auto before = ReadFile(statePath.ToStdString());
    const auto filesBefore = ListFiles(tmp.Path());
    // A filter longer than a stored string may be fails the write after part of the file is out.
    AString tooLong(std::u16string(40000, u'x'));
    ASyncLib* sync = Library(group.GetSync(0));
    sync->SetGenreFilterMode(1);
    sync->SetGenreIncludeFilter(&tooLong);
    EXPECT_NE(group.WriteSyncState(&statePath), 0);
    EXPECT_EQ(ReadFile(statePath.ToStdString()), before);
    EXPECT_EQ(ListFiles(tmp.Path()), filesBefore) << "no temporary file is left";
}

TEST_F(ASyncGroupTest, AFullGroupTakesNoMoreSyncs)
{
    ASyncGroup group;
    for (int i = 0; i < ASyncGroup::kMaxSyncs; ++i)
        ASSERT_NE(group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder), nullptr);
    EXPECT_EQ(group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder), nullptr);
    EXPECT_EQ(group.NumSyncs(), ASyncGroup::kMaxSyncs);
    EXPECT_EQ(group.GetSync(ASyncGroup::kMaxSyncs), nullptr);
}

TEST_F(ASyncGroupTest, ASyncSetNotToSynchronizeRunsNothing)
{
    ASyncGroup group;
    ASyncLib* sync = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    Aim(sync);
    sync->SetAutoAction(ASync::kDoNotSync);
    frontend.Clear();
    EXPECT_EQ(group.DoSync(nullptr, 0), 0);
    EXPECT_EQ(frontend.Log(), "");
    EXPECT_EQ(group.DoSync(nullptr, 1), kErrInvalidElement);
}

TEST_F(ASyncGroupTest, TheLoopStopsAfterAFailedSyncThatStopsOnErrors)
{
    for (signed char stop : {1, 0}) {
        std::filesystem::remove_all(tmp / "Copy");
        std::filesystem::create_directories(tmp / "Copy");
        ASyncGroup group;
        ASyncLib* failing = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
        AString missing = tmp.A("No Such Folder"), copy = tmp.A("Copy"), songs = tmp.A("Songs");
        failing->SetRootPath1(&missing, nullptr, 0);
        failing->SetRootPath2(&copy, nullptr, 0);
        failing->SetShowActionsList(0);
        failing->SetStopOnErr(stop);
        ASyncLib* second = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
        second->SetRootPath1(&songs, nullptr, 0);
        second->SetRootPath2(&copy, nullptr, 0);
        second->SetShowActionsList(0);
        std::vector<int> rows;
        group.SetProgressControl([&rows](int row) { rows.push_back(row); }, nullptr, nullptr, nullptr);

        const int result = group.DoSyncLoop(nullptr);
        if (stop) {
            EXPECT_NE(result, 0);
            EXPECT_EQ(rows, std::vector<int>{0});
            EXPECT_TRUE(ListFiles(tmp / "Copy").empty());
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(rows, (std::vector<int>{0, 1}));
            EXPECT_EQ(ListFiles(tmp / "Copy").size(), 2u);
        }
    }
}

TEST_F(ASyncGroupTest, TheLogOnlyLoopGivesEachSyncItsOwnModeBack)
{
    ASyncGroup group;
    ASyncLib* first = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    ASyncLib* second = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    for (ASyncLib* sync : {first, second})
        sync->SetAutoAction(ASync::kDoNotSync);
    second->SetLogOnly(1);
    EXPECT_EQ(group.DoSyncLoopLogOnly(nullptr), 0);
    EXPECT_EQ(first->GetLogOnly(), 0);
    EXPECT_EQ(second->GetLogOnly(), 1);
}

namespace {

ASyncGroup* gGroup = nullptr;
int gSaveDuringRun = 0;
std::string gUnwrittenPath;

int SaveWhileReviewing(AArray*, ASync*)
{
    AString path = AString::FromUTF8(gUnwrittenPath);
    gSaveDuringRun = gGroup->WriteSyncState(&path);
    return kErrUserCancel;
}

} // namespace

TEST_F(ASyncGroupTest, SavingDuringARunIsRefusedAsBusy)
{
    ASyncGroup group;
    ASyncLib* sync = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    Aim(sync);
    sync->SetShowActionsList(1);
    sync->SetActionsListDlogProc(SaveWhileReviewing);
    gGroup = &group;
    gUnwrittenPath = tmp / "never-written.snc";
    EXPECT_EQ(group.DoSync(nullptr, 0), kErrUserCancel);
    gGroup = nullptr;
    EXPECT_EQ(gSaveDuringRun, kErrBusy);
    EXPECT_FALSE(Exists(gUnwrittenPath));
}
