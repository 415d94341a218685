// The sync engine's model: settings, the state record, the order of the action list and the
// changes the user can make to one action.

#include "ACommon/ASync.h"

#include "ACommon/AError.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

// Reaches the settings that only the state record sets, and the action maker.
class OpenSync : public ASync {
public:
    using ASync::AddAction;
    using ASync::excludeFilter;
    using ASync::extFilterOn;
    using ASync::includeFilter;
};

std::vector<std::uint8_t> StateBytes(ASync& sync, const TempDir& tmp)
{
    AString path = tmp.A("state");
    AFile out;
    EXPECT_EQ(out.Open(&path, 2), 0);
    EXPECT_EQ(sync.WriteState(&out), 0);
    out.Close(1);
    return fixtures::ReadFile(tmp / "state");
}

std::vector<std::uint8_t> EmptyString() { return {0x00, 0x00, 0x10, 0x00, 0x02, 0x00, 0xFF, 0xFE}; }

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& more) { to.insert(to.end(), more.begin(), more.end()); }

// The record of a new plain folder source.
std::vector<std::uint8_t> NewFolderRecord()
{
    std::vector<std::uint8_t> r = {0x08, 0x00, 0x10, 0x00};
    Append(r, EmptyString()); // rootPath
    r.push_back(0x01);        // openLogAutomatically
    Append(r, {0, 0, 0, 0});  // typeFilterMode
    Append(r, EmptyString());
    Append(r, EmptyString());
    Append(r, {0, 0, 0, 0}); // pathFilterMode
    Append(r, EmptyString());
    Append(r, EmptyString());
    Append(r, {0x00, 0x00, 0x10, 0x00}); // file list: mark, root, array mark, count
    Append(r, EmptyString());
    Append(r, {0x01, 0x00, 0x10, 0x00, 0, 0, 0, 0});
    Append(r, {0x00, 0x01, 0x00, 0x01, 0x00}); // useFullPaths stopOnError detectOnly moveInsteadOfDelete verboseLog
    Append(r, EmptyString());                  // removedFilesFolder
    return r;
}

std::vector<std::string> Paths(ADir* dir)
{
    std::vector<std::string> paths;
    for (int i = 0; i < dir->Count(); ++i)
        paths.push_back(dir->GetFPath(i)->ToStdString());
    return paths;
}

} // namespace

TEST(ASync, NewSyncHasItsInitialSettings)
{
    ASync sync;
    EXPECT_EQ(sync.GetAutoAction(), 1);
    EXPECT_EQ(sync.GetOpenLogAutomatically(), 1);
    EXPECT_EQ(sync.GetShowActionsList(), 1);
    EXPECT_EQ(sync.GetDestDeletes(), 0);
    EXPECT_EQ(sync.GetStopOnErr(), 0);
    EXPECT_EQ(sync.GetLogOnly(), 0);
    EXPECT_EQ(sync.GetVerboseLog(), 0);
    EXPECT_EQ(sync.GetAutoRunOnVolumeMount(), 0);
    EXPECT_EQ(sync.GetType1(), 10000);
    EXPECT_EQ(sync.GetType2(), 10000);
    EXPECT_EQ(sync.GetType(), 1);
    EXPECT_EQ(sync.GetDir1()->GetType(), 10000);
    EXPECT_EQ(sync.GetSavedDir2()->GetType(), 10000);
}

TEST(ASync, StateRecordOfANewSyncHasTheDocumentedBytes)
{
    TempDir tmp;
    ASync sync;
    std::vector<std::uint8_t> expected = {0x05, 0x00, 0x10, 0x00};
    for (int i = 0; i < 4; ++i)
        Append(expected, NewFolderRecord());
    expected.push_back(0x01); // reservedFlag
    Append(expected, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    Append(expected, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
    Append(expected, EmptyString());
    Append(expected, EmptyString());
    EXPECT_EQ(StateBytes(sync, tmp), expected);
}

TEST(ASync, StateRecordRestoresSettingsSavedListsAndAnswers)
{
    TempDir tmp;
    WriteFile(tmp / "L/a.txt", "a");
    WriteFile(tmp / "R/b.txt", "b");
    ASync sync;
    AString left = tmp.A("L"), right = tmp.A("R");
    sync.SetRootPath1(&left, nullptr, 0);
    sync.SetRootPath2(&right, nullptr, 0);
    sync.SetAutoAction(3);
    sync.SetDestDeletes(1);
    sync.SetStopOnErr(1);
    sync.SetLogOnly(1);
    sync.SetShowActionsList(0);
    sync.SetVerboseLog(1);
    sync.SetAutoRunOnVolumeMount(-1);
    sync.SetRememberedAnswers(2, 4, 2);
    ASSERT_EQ(sync.UpdateFileLists(nullptr), 0);
    ASSERT_EQ(sync.RepopulateLists(nullptr), 0);
    StateBytes(sync, tmp);

    ASync back;
    AString path = tmp.A("state");
    AFile in;
    ASSERT_EQ(in.Open(&path, 1), 0);
    ASSERT_EQ(back.ReadState(&in), 0);
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(back.GetAutoAction(), 3);
    EXPECT_EQ(back.GetDestDeletes(), 1);
    EXPECT_EQ(back.GetStopOnErr(), 1);
    EXPECT_EQ(back.GetLogOnly(), 1);
    EXPECT_EQ(back.GetShowActionsList(), 0);
    EXPECT_EQ(back.GetVerboseLog(), 1);
    EXPECT_EQ(back.GetAutoRunOnVolumeMount(), -1);
    EXPECT_EQ(back.GetReplaceAnswer(), 2);
    EXPECT_EQ(back.GetReplaceNewerAnswer(), 4);
    EXPECT_EQ(back.GetDeleteAnswer(), 2);
    EXPECT_EQ(back.GetDir1()->GetRootPath()->ToStdString(), tmp / "L/");
    // The current lists are never stored; the saved lists of a two-way sync are.
    EXPECT_EQ(back.GetDir1()->Count(), 0);
    EXPECT_EQ(Paths(back.GetSavedDir1()), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(Paths(back.GetSavedDir2()), std::vector<std::string>{"b.txt"});
}

TEST(ASync, StateRecordWithAnotherMarkIsRefused)
{
    TempDir tmp;
    ASync sync;
    std::vector<std::uint8_t> bytes = StateBytes(sync, tmp);
    bytes[0] = 0x08;
    WriteFile(tmp / "state", bytes);
    AString path = tmp.A("state");
    AFile in;
    ASSERT_EQ(in.Open(&path, 1), 0);
    ASync back;
    EXPECT_EQ(back.ReadState(&in), kErrVersion);
}

TEST(ASync, TruncatedStateRecordGivesAnErrorAtEveryCut)
{
    TempDir tmp;
    WriteFile(tmp / "L/a.txt", "a");
    ASync sync;
    AString left = tmp.A("L"), right = tmp.A("L");
    sync.SetRootPath1(&left, nullptr, 0);
    sync.SetRootPath2(&right, nullptr, 0);
    sync.SetAutoAction(3);
    sync.SetDestDeletes(1);
    ASSERT_EQ(sync.UpdateFileLists(nullptr), 0);
    ASSERT_EQ(sync.RepopulateLists(nullptr), 0);
    std::vector<std::uint8_t> bytes = StateBytes(sync, tmp);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        WriteFile(tmp / "cut", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
        AString path = tmp.A("cut");
        AFile in;
        ASSERT_EQ(in.Open(&path, 1), 0);
        ASync back;
        EXPECT_NE(back.ReadState(&in), 0) << "cut at " << cut;
    }
}

TEST(ASync, ChangingAFilterToTheSameTextInOtherCaseKeepsTheSavedLists)
{
    ASync sync;
    AString mp3("mp3");
    sync.SetPathIncludeFilter(&mp3);
    AString root("/x");
    sync.GetSavedDir1()->AddFPath(&root);
    sync.GetSavedDir2()->AddFPath(&root);
    AString upper("MP3");
    sync.SetPathIncludeFilter(&upper);
    EXPECT_EQ(sync.GetSavedDir1()->Count(), 1);
    EXPECT_EQ(sync.GetSavedDir2()->Count(), 1);
    EXPECT_EQ(*sync.GetPathIncludeFilter(), "mp3");
}

TEST(ASync, ChangingAFilterSetsItOnAllFourSourcesAndDropsTheSavedLists)
{
    ASync sync;
    AString root("/x");
    sync.GetSavedDir1()->AddFPath(&root);
    sync.GetSavedDir2()->AddFPath(&root);
    AString list(":Podcasts:");
    sync.SetPathExcludeFilter(&list);
    for (ADir* dir : {sync.GetDir1(), sync.GetDir2(), sync.GetSavedDir1(), sync.GetSavedDir2()})
        EXPECT_EQ(dir->GetPathExcludeFilter(), ":Podcasts:");
    EXPECT_EQ(sync.GetSavedDir1()->Count(), 0);
    EXPECT_EQ(sync.GetSavedDir2()->Count(), 0);

    sync.GetSavedDir1()->AddFPath(&root);
    sync.SetTypeFilterMode(1);
    EXPECT_EQ(sync.GetDir2()->GetTypeFilter(), 1);
    EXPECT_EQ(sync.GetSavedDir1()->Count(), 0);
}

TEST(ASync, CleanUpKeepsSavedListsOnlyForTwoWaySyncs)
{
    for (auto [autoAction, kept] : {std::pair{3, 1}, {4, 1}, {1, 0}, {2, 0}}) {
        ASync sync;
        sync.SetAutoAction(autoAction);
        AString root("/x");
        sync.GetDir1()->AddFPath(&root);
        sync.GetSavedDir1()->AddFPath(&root);
        sync.GetSavedDir2()->AddFPath(&root);
        sync.CleanUp();
        EXPECT_EQ(sync.GetDir1()->Count(), 0) << autoAction;
        EXPECT_EQ(sync.GetSavedDir1()->Count(), kept) << autoAction;
        EXPECT_EQ(sync.GetSavedDir2()->Count(), kept) << autoAction;
    }
}

TEST(ASync, ExtensionFilterAcceptsOnlyListedExtensions)
{
    OpenSync sync;
    sync.extFilterOn = 1;
    sync.includeFilter = ":mp3:m4p:m4a:m4b:";
    struct Case {
        const char* path;
        signed char passes;
    };
    for (auto [path, passes] : {Case{"a/b.MP3", 1}, {"a/b", 0}, {"a/b.ogg", 0}, {"a/b.m4a", 1}}) {
        AString p(path);
        EXPECT_EQ(sync.FilterCheck(&p), passes) << path;
    }
    sync.includeFilter = AString();
    sync.excludeFilter = ":ogg:";
    for (auto [path, passes] : {Case{"a/b.ogg", 0}, {"a/b", 1}, {"a/b.mp3", 1}}) {
        AString p(path);
        EXPECT_EQ(sync.FilterCheck(&p), passes) << path;
    }
    sync.extFilterOn = 0;
    AString any("a/b.ogg");
    EXPECT_EQ(sync.FilterCheck(&any), 1);
}

TEST(ASync, TitleAndDisplayTextsOfAPlainPath)
{
    ASync sync;
    AString path("a/b/c.mp3"), title;
    sync.GetFileTitle(&path, &title);
    EXPECT_EQ(title, "c.mp3");
    EXPECT_EQ(sync.FormatVPForDisplay(&path, 0, -1, 0), "a/b/");
    EXPECT_EQ(sync.FormatVPForDisplay(&path, 1, 25, 1), "a/b/c.mp3");
    AString bare("c.mp3");
    EXPECT_EQ(sync.FormatVPForDisplay(&bare, 0, -1, 0), "");
    sync.GetFileTitle(&bare, &title);
    EXPECT_EQ(title, "c.mp3");
}

TEST(ASync, SideOfAPathIsDecidedByTheLongerMatchingRoot)
{
    ASync sync;
    struct Case {
        const char* left;
        const char* right;
        const char* path;
        int side;
    };
    for (auto [left, right, path, side] : {Case{"/m/L", "/m/R", "/m/L/a", 1},
                                           {"/m/L", "/m/R", "/m/R/a", 2},
                                           {"/m/L", "/m/R", "/elsewhere/a", 0},
                                           // Roots end with "/", so a longer name is not mistaken for a root.
                                           {"/m/Music", "/m/Music2", "/m/Music2/a", 2},
                                           // One root inside the other: the longer one decides.
                                           {"/m", "/m/iPod", "/m/iPod/a", 2},
                                           {"/m/iPod", "/m", "/m/iPod/a", 1},
                                           {"/m/iPod", "/m", "/m/other/a", 2},
                                           // A source without a root (a library) holds every other path.
                                           {"", "/m/R", "/m/R/a", 2},
                                           {"", "/m/R", "Artist/Song?1", 1}}) {
        AString l(left), r(right), p(path);
        sync.SetRootPath1(&l, nullptr, 0);
        sync.SetRootPath2(&r, nullptr, 0);
        EXPECT_EQ(sync.SideOfPath(&p), side) << left << " " << right << " " << path;
    }
}

TEST(ASync, ActionsGetColumnsAndTextsByTheirKind)
{
    OpenSync sync;
    AString l("/L"), r("/R");
    sync.SetRootPath1(&l, nullptr, 0);
    sync.SetRootPath2(&r, nullptr, 0);
    sync.AddAction(1, ASync::kOpCopy, AString("/L/d/a.mp3"), AString("/R/d/a.mp3"), 0, ASync::kCopyRight);
    sync.AddAction(1, ASync::kOpCopy, AString("/R/d/b.mp3"), AString("/L/d/b.mp3"), 0, ASync::kCopyLeft);
    sync.AddAction(0, ASync::kOpUndecided, AString("/L/c.mp3"), AString("/R/c.mp3"), 1, ASync::kUndecided);
    ASync::SyncAction* right = sync.GetAction(0);
    EXPECT_EQ(right->leftColumn, 0);
    EXPECT_EQ(right->rightColumn, 1);
    EXPECT_EQ(right->leftText, "/L/d/a.mp3");
    EXPECT_EQ(right->rightText, "/R/d/");
    ASync::SyncAction* left = sync.GetAction(1);
    EXPECT_EQ(left->leftColumn, 1);
    EXPECT_EQ(left->leftText, "/L/d/");
    EXPECT_EQ(left->rightText, "/R/d/b.mp3");
    ASync::SyncAction* undecided = sync.GetAction(2);
    EXPECT_EQ(undecided->leftText, "/L/c.mp3");
    EXPECT_EQ(undecided->rightText, "/R/c.mp3");
    EXPECT_STREQ(ASync::KindWord(ASync::kCreateDirRight), "Create Dir Right");
    EXPECT_STREQ(ASync::KindWord(ASync::kDeleteRight), "Delete");
    EXPECT_STREQ(ASync::KindWord(ASync::kUndecided), "");
}

TEST(ASync, SortingOnTheActionColumnOrdersByKindThenActiveFirst)
{
    OpenSync sync;
    struct Made {
        int kind;
        signed char active;
        const char* path;
    };
    for (auto [kind, active, path] : {Made{5, 1, "/L/e"}, {0, 0, "/R/a"}, {10, 0, "/L/u"}, {0, 1, "/R/b"}, {1, 1, "/L/c"}})
        sync.AddAction(active, kind == 10 ? 6 : 1, AString(path), AString("/X/y"), 0, kind);
    sync.SortSyncActions(2, 1);
    std::vector<std::pair<int, int>> order;
    for (int i = 0; i < sync.GetActionCount(); ++i)
        order.emplace_back(sync.GetAction(i)->kind, sync.GetAction(i)->active);
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{0, 1}, {0, 0}, {1, 1}, {5, 1}, {10, 0}}));

    sync.SortSyncActions(2, 0);
    EXPECT_EQ(sync.GetAction(0)->kind, 10);
    sync.SortSyncActions(0, 1);
    EXPECT_EQ(sync.GetAction(sync.GetActionCount() - 1)->active, 0);
    sync.SortSyncActions(1, 1);
    EXPECT_EQ(sync.GetAction(0)->leftText, "/L/c");
}

TEST(ASync, ChangeSyncActionTurnsOneActionIntoItsRelative)
{
    OpenSync sync;
    AString l("/L"), r("/R");
    sync.SetRootPath1(&l, nullptr, 0);
    sync.SetRootPath2(&r, nullptr, 0);
    struct Case {
        int kind;
        int operation;
        const char* path1;
        const char* path2;
        unsigned choice;
        int newKind;
        int newOperation;
        const char* newPath1;
        const char* newPath2;
        const char* leftText;
        const char* rightText;
    };
    const Case cases[] = {
        {0, 1, "/R/d/a", "/L/d/a", 0, 3, 2, "/R/d/a", "", "", "/R/d/a"},
        {1, 1, "/L/d/a", "/R/d/a", 1, 2, 2, "/L/d/a", "", "/L/d/a", ""},
        {2, 2, "/L/d/a", "", 2, 1, 1, "/L/d/a", "/R/d/a", "/L/d/a", "/R/d/"},
        {3, 2, "/R/d/a", "", 3, 0, 1, "/R/d/a", "/L/d/a", "/L/d/", "/R/d/a"},
        {4, 3, "/R/d/a", "/L/d/a", 4, 5, 3, "/L/d/a", "/R/d/a", "/L/d/a", "/R/d/"},
        {5, 3, "/L/d/a", "/R/d/a", 5, 4, 3, "/R/d/a", "/L/d/a", "/L/d/", "/R/d/a"},
        {10, 6, "/L/d/a", "/R/d/a", 6, 5, 3, "/L/d/a", "/R/d/a", "/L/d/a", "/R/d/"},
        {10, 6, "/L/d/a", "/R/d/a", 7, 4, 3, "/R/d/a", "/L/d/a", "/L/d/", "/R/d/a"},
    };
    for (const Case& c : cases) {
        sync.ClearSyncActions();
        sync.AddAction(1, c.operation, AString(c.path1), AString(c.path2), c.kind == 0 || c.kind == 1 ? 0 : 1, c.kind);
        ASync::SyncAction* action = sync.GetAction(0);
        sync.ChangeSyncAction(action, c.choice);
        EXPECT_EQ(action->kind, c.newKind) << "choice " << c.choice;
        EXPECT_EQ(action->operation, c.newOperation) << "choice " << c.choice;
        EXPECT_EQ(action->path1, c.newPath1) << "choice " << c.choice;
        EXPECT_EQ(action->path2, c.newPath2) << "choice " << c.choice;
        EXPECT_EQ(action->leftText, c.leftText) << "choice " << c.choice;
        EXPECT_EQ(action->rightText, c.rightText) << "choice " << c.choice;
        EXPECT_EQ(action->active, 1) << "choice " << c.choice;
    }
}

TEST(ASync, ChangeSyncActionIgnoresAChoiceForAnotherKind)
{
    OpenSync sync;
    sync.AddAction(1, ASync::kOpCopy, AString("/L/a"), AString("/R/a"), 0, ASync::kCopyRight);
    ASync::SyncAction* action = sync.GetAction(0);
    sync.ChangeSyncAction(action, 2);
    EXPECT_EQ(action->kind, ASync::kCopyRight);
    EXPECT_EQ(action->operation, ASync::kOpCopy);
    EXPECT_EQ(action->path2, "/R/a");
}

TEST(ASync, BusySyncRefusesListsAndState)
{
    TempDir tmp;
    AString left = tmp.A();
    // Another operation holds the sync: the state record waits for nothing and says so.
    class Holder : public ASync {
    public:
        APLock& Lock() { return lock; }
    } held;
    ASSERT_TRUE(held.Lock().TryLock());
    AString path = tmp.A("state");
    AFile out;
    ASSERT_EQ(out.Open(&path, 2), 0);
    EXPECT_EQ(held.WriteState(&out), kErrBusy);
    EXPECT_EQ(held.SetRootPath1(&left, nullptr, 1), kErrBusy);
    EXPECT_EQ(held.XCopy(held.GetDir1(), held.GetDir2(), nullptr), kErrBusy);
    EXPECT_EQ(held.TwoWaySync(nullptr), kErrBusy);
    held.Lock().Unlock();
}
