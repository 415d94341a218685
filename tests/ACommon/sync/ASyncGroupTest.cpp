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
#include <optional>
#include <string>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadFile;

namespace {

using fixtures::SongSpecOf;

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
    // Points a song sync at the folder and the iPod, or at the folders `left` and `right` of tmp.
    void Aim(ASync* sync, const char* left = "Songs", const char* right = nullptr)
    {
        AString l = tmp.A(left), r = right ? tmp.A(right) : AString::FromUTF8(root);
        sync->SetRootPath1(&l, nullptr, 0);
        sync->SetRootPath2(&r, nullptr, 0);
        sync->SetShowActionsList(0);
    }

    fixtures::RecordingFrontend frontend;
    fixtures::TempDir tmp;
    std::string root;
    AString statePath;
};

} // namespace

// A file that is not a group is refused and leaves no sync; no file at all (which reading does not
// create) leaves the group as it was.
TEST_F(ASyncGroupTest, AFileThatIsNotAGroupIsRefused)
{
    fixtures::Bytes tooMany;
    fixtures::PutU32LE(tooMany, ASyncGroup::kStateMark);
    fixtures::PutU32LE(tooMany, 21);
    fixtures::PutStringRecord(tooMany, u"");
    struct Case {
        std::optional<fixtures::Bytes> bytes; // none: no file
        int result, syncs;
    };
    for (const Case& c : {Case{fixtures::Bytes{0x05, 0x00, 0x10, 0x00, 1, 0, 0, 0}, kErrVersion, 0},
                          {tooMany, kErrUnknown, 0},
                          {std::nullopt, kErrOpen, 1}}) {
        std::filesystem::remove(statePath.ToStdString());
        if (c.bytes)
            fixtures::WriteFile(statePath.ToStdString(), *c.bytes);
        ASyncGroup group;
        group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        EXPECT_EQ(group.ReadSyncState(&statePath), c.result);
        EXPECT_EQ(group.NumSyncs(), c.syncs);
        EXPECT_EQ(Exists(statePath.ToStdString()), c.bytes.has_value());
    }
}

TEST_F(ASyncGroupTest, WritingOverALongerFileLeavesOnlyTheNewBytes)
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
        Aim(failing, "No Such Folder", "Copy");
        failing->SetStopOnErr(stop);
        Aim(group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder), "Songs", "Copy");
        std::vector<int> rows;
        group.SetProgressControl([&rows](int row) { rows.push_back(row); }, nullptr, nullptr, nullptr);

        EXPECT_EQ(group.DoSyncLoop(nullptr) != 0, stop == 1);
        EXPECT_EQ(rows, (stop ? std::vector<int>{0} : std::vector<int>{0, 1}));
        EXPECT_EQ(ListFiles(tmp / "Copy").size(), stop ? 0u : 2u);
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
