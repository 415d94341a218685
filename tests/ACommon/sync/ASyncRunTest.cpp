// Whole sync runs on real folders: planning, review, confirmations and performing, checked by the
// files on disk afterwards, the log and the questions asked.

#include "ACommon/sync/ASync.h"

#include "ACommon/base/AError.h"
#include "APlatform/FileSystem.h"
#include "SyncRuns.h"

#include <algorithm>
#include <memory>
#include <vector>

using namespace syncruns;
using fixtures::FailingSync;
using fixtures::kCopyToRight;
using fixtures::kMerge;
using fixtures::kMirrorToRight;
using fixtures::kSynchronize;
using fixtures::SyncType;

namespace {

using Kinds = std::vector<int>;
using Titles = std::vector<std::string>;
using Files = std::vector<std::string>;
using Pair = FolderPair;
const auto Contents = fixtures::FilesBelow;

// a, b and c on the left, z on the right.
void PutThreeAndOne(Pair& pair)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        Put(pair.L(name), name);
    Put(pair.R("z.txt"), "z");
}

RecordingFrontend* gFrontend = nullptr;

signed char CancelOnceLogged(const char* text) { return gFrontend && Has(gFrontend->Log(), text) ? 1 : 0; }

class ASyncRun : public PairRun {};

} // namespace

// ---------------------------------------------------------------------------------------------
// The six sync types on the same starting trees

TEST_F(ASyncRun, EachSyncTypeLeavesTheExpectedFilesOnBothSides)
{
    const Tree startLeft = {{"same.txt", "same"},
                            {"left-only.txt", "L"},
                            {"Ldir/in.txt", "Lin"},
                            {"changed.txt", "left-new"},
                            {"older.txt", "left-old"}};
    const Tree startRight = {{"same.txt", "same"},
                             {"right-only.txt", "R"},
                             {"Rdir/deep/in.txt", "Rin"},
                             {"changed.txt", "right-old"},
                             {"older.txt", "right-new"}};
    auto join = [](Tree into, const Tree& from, std::initializer_list<const char*> names) {
        for (const char* name : names)
            into[name] = from.at(name);
        return into;
    };
    const Tree merged = join(startLeft, startRight, {"right-only.txt", "Rdir/deep/in.txt", "older.txt"});
    // One-way syncs replace whatever differs, also a newer destination (after asking); a mirror
    // removes what the source lacks, and the folders it emptied, deepest first.
    const Tree copiedRight =
        join(startRight, startLeft, {"left-only.txt", "Ldir/in.txt", "changed.txt", "older.txt"});
    const Tree copiedLeft =
        join(startLeft, startRight, {"right-only.txt", "Rdir/deep/in.txt", "changed.txt", "older.txt"});
    struct Case {
        SyncType type;
        Tree left, right;
    };
    const Case cases[] = {{kCopyToRight, startLeft, copiedRight},
                          {kMirrorToRight, startLeft, startLeft},
                          {{"copy-to-left", 2, 0}, copiedLeft, startRight},
                          {{"mirror-to-left", 2, 1}, startRight, startRight},
                          {kMerge, merged, merged},
                          {kSynchronize, merged, merged}};
    for (const Case& c : cases) {
        Answering caseFrontend("Yes to All");
        Pair casePair;
        std::filesystem::create_directories(casePair.R("Rdir/deep/empty"));
        for (const auto& [name, text] : startLeft)
            Put(casePair.L(name), text, text == "left-new" ? kBase + 100000 : kBase);
        for (const auto& [name, text] : startRight)
            Put(casePair.R(name), text, text == "right-new" ? kBase + 100000 : kBase);
        EXPECT_EQ(casePair.Run(c.type), 0) << c.type.name;
        EXPECT_EQ(Contents(casePair.L()), c.left) << c.type.name;
        EXPECT_EQ(Contents(casePair.R()), c.right) << c.type.name;
        EXPECT_EQ(Exists(casePair.R("Rdir")), c.right.count("Rdir/deep/in.txt") == 1) << c.type.name;
        EXPECT_EQ(Exists(casePair.L("Ldir")), c.left.count("Ldir/in.txt") == 1) << c.type.name;
        EXPECT_TRUE(Has(caseFrontend.Log(), "Sync completed.")) << c.type.name;
        EXPECT_FALSE(Has(caseFrontend.Log(), "Kept directory")) << c.type.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Two-way runs, the state written and read back between runs

TEST_F(ASyncRun, AFileAddedUnderANameDeletedOnBothSidesSinceIsKept)
{
    Put(pair.L("a.txt"), "old");
    Put(pair.L("b.txt"), "b");
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    // The user deletes a on both sides: a run with nothing to do, which must still save its lists.
    std::filesystem::remove(pair.L("a.txt"));
    std::filesystem::remove(pair.R("a.txt"));
    frontend.Clear();
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_TRUE(Has(frontend.Log(), "Nothing to Sync!"));
    EXPECT_EQ(frontend.questions.Informed(), Titles{"Nothing to Sync!"});
    // Later a new a appears on the left. It is new, not a deletion made on the right.
    Put(pair.L("a.txt"), "new");
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(ReadText(pair.L("a.txt")), "new");
    EXPECT_EQ(ReadText(pair.R("a.txt")), "new");
}

TEST_F(ASyncRun, DeletionIsCarriedOverWhileASmallerNewEntryWaitsOnTheOtherSide)
{
    Put(pair.L("a.txt"), "a");
    Put(pair.L("c.txt"), "c");
    Put(pair.R("m.txt"), "m");
    Put(pair.R("z.txt"), "z");
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    // New entries that sort before the deleted ones, on the side that still holds them.
    Put(pair.L("b.txt"), "b");
    std::filesystem::remove(pair.R("c.txt"));
    Put(pair.R("l.txt"), "l");
    std::filesystem::remove(pair.L("z.txt"));
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    const Tree expected = {{"a.txt", "a"}, {"b.txt", "b"}, {"l.txt", "l"}, {"m.txt", "m"}};
    EXPECT_EQ(Contents(pair.L()), expected);
    EXPECT_EQ(Contents(pair.R()), expected);
}

TEST_F(ASyncRun, FourListsDecideEachEntry)
{
    struct Case {
        SyncType type;
        bool inLeft, inRight, inSavedLeft, inSavedRight;
        Kinds kinds;
    };
    // A file a side holds without a saved record of it is new there: it beats a deletion made on
    // the other side.
    const Case cases[] = {{kSynchronize, true, false, false, false, {ASync::kCopyRight}},
                          {kSynchronize, true, false, true, false, {ASync::kCopyRight}},
                          {kSynchronize, false, true, false, false, {ASync::kCopyLeft}},
                          {kSynchronize, false, true, false, true, {ASync::kCopyLeft}},
                          {kSynchronize, false, true, true, false, {ASync::kCopyLeft}},
                          {kSynchronize, false, true, true, true, {ASync::kDeleteRight}},
                          {kSynchronize, true, false, false, true, {ASync::kCopyRight}},
                          {kSynchronize, true, false, true, true, {ASync::kDeleteLeft}},
                          {kSynchronize, true, true, false, false, {}},
                          {kSynchronize, true, true, true, true, {}},
                          {kSynchronize, false, false, true, true, {}},
                          {kMerge, false, true, true, true, {ASync::kCopyLeft}}};
    for (const Case& c : cases) {
        RecordingFrontend caseFrontend;
        Pair casePair;
        std::unique_ptr<ASync> sync = casePair.Load(c.type);
        // The saved lists are listings of the folders as they were at the last run.
        auto side = [&](const std::string& folder, bool now, bool saved, ADir* savedDir) {
            Put(folder + "x.txt", "x");
            AString root = AString::FromUTF8(folder);
            if (saved) {
                ASSERT_EQ(savedDir->InitWPath(&root, 0, nullptr), 0);
            }
            if (!now)
                std::filesystem::remove(folder + "x.txt");
        };
        side(casePair.L(), c.inLeft, c.inSavedLeft, sync->GetSavedDir1());
        side(casePair.R(), c.inRight, c.inSavedRight, sync->GetSavedDir2());
        EXPECT_EQ(casePair.Plan(*sync), c.kinds)
            << c.type.name << " " << c.inLeft << c.inRight << c.inSavedLeft << c.inSavedRight;
    }
}

TEST_F(ASyncRun, APairOfOneTimeWithDifferentContentsIsUndecided)
{
    // Same time, different sizes: neither is newer and they differ.
    Put(pair.L("a.txt"), "left", kBase);
    Put(pair.R("a.txt"), "right", kBase);
    Put(pair.L("b.txt"), "b");
    std::unique_ptr<ASync> sync = pair.Load(kSynchronize);
    ASSERT_EQ(pair.Plan(*sync), (Kinds{ASync::kUndecided, ASync::kCopyRight}));
    EXPECT_EQ(sync->GetAction(0)->active, 0);
    EXPECT_EQ(sync->GetAction(0)->operation, ASync::kOpUndecided);
    EXPECT_EQ(sync->GetSameDateDifferences(), 1);
    EXPECT_TRUE(Has(frontend.Log(),
                    pair.L("a.txt") + " differs from its copy on the other side but has the same date"));
    EXPECT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(ReadText(pair.L("a.txt")) + ReadText(pair.R("a.txt")) + ReadText(pair.R("b.txt")),
              "leftrightb");

    // The review keeps the right file.
    sync = pair.Load(kSynchronize, [](AArray*, ASync* s) {
        s->ChangeSyncAction(s->GetAction(0), ASync::kKeepRight);
        s->GetAction(0)->active = 1;
        return 0;
    });
    EXPECT_EQ(sync->DoSync(nullptr), 0);
    EXPECT_EQ(ReadText(pair.L("a.txt")), "right");
}

// Stopping on errors, the plan stops at the clash: y.txt, after it, is not planned.
TEST_F(ASyncRun, AFolderAgainstAFileEndsThePlanWhenStoppingOnErrors)
{
    Put(pair.L("x/in.txt"), "in");
    Put(pair.R("x"), "a file");
    Put(pair.L("y.txt"), "y");
    std::unique_ptr<ASync> sync = pair.Load(kSynchronize);
    sync->SetStopOnErr(1);
    ASSERT_EQ(sync->UpdateFileLists(nullptr), 0);
    EXPECT_EQ(sync->TwoWaySync(nullptr), kErrDuplicateNames);
    EXPECT_TRUE(Has(frontend.Log(), "Error Sync'ing!"));
    EXPECT_EQ(sync->GetActionCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// The driver: review, questions, errors, cancel, log-only

TEST_F(ASyncRun, YesToAllIsRememberedAcrossRunsUntilReset)
{
    auto changeLeft = [&](const std::string& text, std::int64_t time) {
        Put(pair.L("a.txt"), text, time);
        Put(pair.L("b.txt"), text, time);
    };
    Put(pair.R("a.txt"), "r", kBase);
    Put(pair.R("b.txt"), "r", kBase);
    changeLeft("one", kBase + 100000);
    frontend.questions.Script({"Yes to All"});
    ASSERT_EQ(pair.Run(kCopyToRight), 0);
    EXPECT_EQ(frontend.QuestionTitles(), Titles{"Replace file?"});
    EXPECT_EQ(ReadText(pair.R("b.txt")), "one");

    // The next run reads the answer back from the state file.
    frontend.Clear();
    changeLeft("two", kBase + 200000);
    ASSERT_EQ(pair.Run(kCopyToRight), 0);
    EXPECT_TRUE(frontend.QuestionTitles().empty());
    EXPECT_EQ(ReadText(pair.R("a.txt")), "two");

    frontend.Clear();
    changeLeft("three", kBase + 300000);
    std::unique_ptr<ASync> sync = pair.Load(kCopyToRight);
    sync->ResetAlertSettings();
    frontend.questions.SetDefaultAnswer("Yes");
    ASSERT_EQ(sync->DoSync(nullptr), 0);
    EXPECT_EQ(frontend.QuestionTitles(), (Titles{"Replace file?", "Replace file?"}));
}

TEST_F(ASyncRun, ANewerDestinationIsAskedAboutEvenAfterYesToAll)
{
    struct Case {
        int replaceAnswer;
        Titles titles;
        const char* result;
    };
    for (const Case& c : {Case{ASync::kAnswerYesToAll, {"Replace newer file?"}, "left"},
                          Case{ASync::kAnswerNoToAll, {}, "right"}}) {
        Answering caseFrontend("Yes");
        Pair casePair;
        Put(casePair.L("a.txt"), "left", kBase);
        Put(casePair.R("a.txt"), "right", kBase + 100000);
        std::unique_ptr<ASync> sync = casePair.Load(kCopyToRight);
        sync->SetRememberedAnswers(c.replaceAnswer, 0, 0);
        ASSERT_EQ(sync->DoSync(nullptr), 0);
        EXPECT_EQ(caseFrontend.QuestionTitles(), c.titles);
        EXPECT_EQ(ReadText(casePair.R("a.txt")), c.result);
    }
}

TEST_F(ASyncRun, NoToAllOnDeleteKeepsEveryFile)
{
    frontend.questions.Script({"No to All"});
    for (const char* name : {"keep.txt", "keep2.txt", "keep3.txt"})
        Put(pair.L(name), "k");
    for (const char* name : {"keep.txt", "keep2.txt", "keep3.txt", "x.txt", "y.txt"})
        Put(pair.R(name), "k");
    std::unique_ptr<ASync> sync = pair.Load(kMirrorToRight);
    ASSERT_EQ(sync->DoSync(nullptr), 0);
    EXPECT_EQ(frontend.QuestionTitles(), Titles{"Delete file?"});
    EXPECT_EQ(ListFiles(pair.R()), (Files{"keep.txt", "keep2.txt", "keep3.txt", "x.txt", "y.txt"}));
    EXPECT_EQ(sync->GetDeleteAnswer(), ASync::kAnswerNoToAll);
}

TEST_F(ASyncRun, StopOnErrorDecidesWhetherTheActionsAfterAFailureRun)
{
    for (signed char stopOnErr : {1, 0}) {
        RecordingFrontend caseFrontend;
        Pair casePair;
        PutThreeAndOne(casePair);
        std::unique_ptr<FailingSync> sync = casePair.Load<FailingSync>(kCopyToRight);
        sync->SetStopOnErr(stopOnErr);
        EXPECT_EQ(sync->DoSync(nullptr), kErrIO);
        const std::string log = caseFrontend.Log();
        EXPECT_TRUE(
            Has(log, "Failed copying " + casePair.L("b.txt") + " to " + casePair.R() + ": -36: IO error."));
        EXPECT_TRUE(Has(log, "Error Sync'ing!"));
        EXPECT_EQ(ListFiles(casePair.R()),
                  (stopOnErr ? Files{"a.txt", "z.txt"} : Files{"a.txt", "c.txt", "z.txt"}));
    }
}

TEST_F(ASyncRun, ASideGoneStopsTheRunAtTheFirstSign)
{
    // Gone before an action is started, or found gone after an action failed on it.
    for (bool failing : {false, true}) {
        RecordingFrontend caseFrontend;
        Pair casePair;
        PutThreeAndOne(casePair);
        std::unique_ptr<FailingSync> sync = casePair.Load<FailingSync>(kCopyToRight);
        int asked = 0;
        sync->SetSideGoneProc([&](int side) {
            ++asked;
            return side == 2 && Has(caseFrontend.Log(), failing ? "Failed copying" : "Action 1 of 3");
        });
        EXPECT_EQ(sync->DoSync(nullptr), kErrDisconnected) << failing;
        const std::string log = caseFrontend.Log();
        EXPECT_TRUE(Has(log, " was disconnected; the sync stops here.")) << failing;
        EXPECT_FALSE(Has(log, "Action 3 of 3")) << failing;
        EXPECT_FALSE(Has(log, "Error Sync'ing!")) << failing;
        EXPECT_EQ(sync->GetGoneSide(), 2) << failing;
        EXPECT_GT(asked, 0);
    }
}

// A cancel is the user's wish, not an error: while planning it changes nothing; while performing
// the run stops after the current action, and the log closes at "Sync ready." and again at the end.
TEST_F(ASyncRun, ACancelStopsTheRunAtTheNextStep)
{
    struct Case {
        SyncType type;
        CancelProc cancel;
        bool performing; // else planning
        Files right;
    };
    for (const Case& c : {Case{kMirrorToRight, [] { return CancelOnceLogged("Calculating sync actions"); },
                               false, Files{"z.txt"}},
                          Case{kCopyToRight, [] { return CancelOnceLogged("Action 1 of 3"); }, true,
                               Files{"a.txt", "z.txt"}}}) {
        RecordingFrontend caseFrontend;
        gFrontend = &caseFrontend;
        Pair casePair;
        PutThreeAndOne(casePair);
        std::unique_ptr<ASync> sync = casePair.Load(c.type);
        const int result = sync->DoSync(c.cancel);
        gFrontend = nullptr;
        EXPECT_EQ(result, kErrUserCancel) << c.performing;
        const std::string log = caseFrontend.Log();
        EXPECT_FALSE(Has(log, "Error Sync'ing!")) << c.performing;
        EXPECT_TRUE(Has(log, "Sync terminated by user cancel.")) << c.performing;
        EXPECT_EQ(Has(log, "Sync ready."), c.performing);
        EXPECT_EQ(ListFiles(casePair.R()), c.right) << c.performing;
        if (c.performing) {
            EXPECT_TRUE(Has(log, "Sync cancelled."));
            const std::vector<std::string> names = caseFrontend.bus.Names();
            EXPECT_EQ(std::count(names.begin(), names.end(), "CloseLogDrawer"), 2);
        }
    }
}

TEST_F(ASyncRun, LogOnlyLeavesFoldersAlone)
{
    std::filesystem::create_directories(pair.L("Empty"));
    Put(pair.L("f.txt"), "f");
    std::filesystem::create_directories(pair.R("Gone"));
    std::unique_ptr<ASync> sync = pair.Load(kMirrorToRight);
    sync->SetLogOnly(1);
    sync->SetVerboseLog(1);
    EXPECT_EQ(sync->DoSync(nullptr), 0);
    EXPECT_EQ(ListFiles(pair.R()), Files{"f.txt"});
    EXPECT_FALSE(Exists(pair.R("Empty")));
    EXPECT_TRUE(Exists(pair.R("Gone")));
    EXPECT_TRUE(Has(frontend.Log(), "Creating directory: " + pair.R("Empty")));
}

// ---------------------------------------------------------------------------------------------
// Folder deletions never take a file the plan does not delete

TEST_F(ASyncRun, FolderDeletedOnOneSideKeepsAFileAddedToItOnTheOther)
{
    Put(pair.L("d/x.txt"), "x");
    Put(pair.L("k.txt"), "k");
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    std::filesystem::remove_all(pair.L("d"));
    Put(pair.R("d/new.txt"), "new");
    EXPECT_EQ(pair.Run(kSynchronize), 0);
    // x.txt was deleted as planned; new.txt and its folder stay, and the left gets it too.
    EXPECT_EQ(Contents(pair.R()), (Tree{{"d/new.txt", "new"}, {"k.txt", "k"}}));
    EXPECT_EQ(Contents(pair.L()), (Tree{{"d/new.txt", "new"}, {"k.txt", "k"}}));
    EXPECT_TRUE(Has(frontend.Log(), "Kept directory " + pair.R("d") +
                                        ": it still holds files that this sync does not delete."));
}

TEST_F(ASyncRun, MirrorKeepsAFolderHoldingFilesTheFiltersLeftOut)
{
    Put(pair.L("k.txt"), "k");
    Put(pair.R("k.txt"), "k");
    Put(pair.R("d/x.txt"), "x");
    Put(pair.R("d/keep.bak"), "bak");
    std::unique_ptr<ASync> sync = pair.Load(kMirrorToRight);
    sync->SetPathFilterMode(2);
    AString exclude(":.bak:");
    sync->SetPathExcludeFilter(&exclude);
    EXPECT_EQ(sync->DoSync(nullptr), 0);
    EXPECT_EQ(ListFiles(pair.R()), (Files{"d/keep.bak", "k.txt"}));
}

// ---------------------------------------------------------------------------------------------
// The mass deletion guard

TEST_F(ASyncRun, NoToTheGuardChangesNothing)
{
    for (int i = 0; i < 12; ++i)
        Put(pair.R("f" + std::to_string(i) + ".txt"), "x");
    frontend.questions.Script({"No"});
    EXPECT_EQ(pair.Run(kMirrorToRight), kErrUserCancel);
    const std::string title = "Delete 12 of 12 files on " + pair.R() + "?";
    EXPECT_EQ(frontend.QuestionTitles(), Titles{title});
    EXPECT_TRUE(frontend.questions.Asked()[0].massDeletion);
    EXPECT_EQ(ListFiles(pair.R()).size(), 12u);
    EXPECT_TRUE(Has(frontend.Log(), "User cancelled."));
    EXPECT_FALSE(Has(frontend.Log(), "Performing sync..."));
}

namespace {

int gUnticked = 0;

} // namespace

// The guard counts only the deletions left ticked in the review.
TEST_F(ASyncRun, GuardAsksBeforeALargeDeletion)
{
    struct Case {
        int kept, deleted, unticked;
        bool asked;
    };
    for (auto [kept, deleted, unticked, asked] : {Case{0, 9, 0, true},
                                                  {0, 1, 0, true},
                                                  {15, 10, 0, false},
                                                  {10, 10, 0, false},
                                                  {12, 13, 0, true},
                                                  {1, 2, 0, true},
                                                  {3, 2, 0, false},
                                                  {6, 12, 6, false}}) {
        Answering caseFrontend("Yes to All");
        Pair casePair;
        for (int i = 0; i < kept; ++i) {
            Put(casePair.L("k" + std::to_string(i)), "k");
            Put(casePair.R("k" + std::to_string(i)), "k");
        }
        for (int i = 0; i < deleted; ++i)
            Put(casePair.R("d" + std::to_string(i)), "d");
        gUnticked = unticked;
        std::unique_ptr<ASync> sync = casePair.Load(kMirrorToRight, [](AArray*, ASync* s) {
            for (int i = 0; i < gUnticked; ++i)
                s->GetAction(i)->active = 0;
            return 0;
        });
        EXPECT_EQ(casePair.Run(*sync), 0);
        // Once confirmed, each deletion is asked about as usual.
        Titles titles{"Delete file?"};
        if (asked)
            titles.insert(titles.begin(), "Delete " + std::to_string(deleted) + " of " +
                                              std::to_string(kept + deleted) + " files on " + casePair.R() +
                                              "?");
        EXPECT_EQ(caseFrontend.QuestionTitles(), titles) << kept << " kept, " << deleted << " deleted";
        EXPECT_EQ(static_cast<int>(ListFiles(casePair.R()).size()), kept + unticked);
    }
}

// ---------------------------------------------------------------------------------------------
// Synchronize runs judge each file by what changed on each side since the last complete run

TEST_F(ASyncRun, TheSideThatChangedWins)
{
    for (const char* name : {"deleted-right.txt", "older-edit.txt", "touched.txt", "both.txt", "gone.txt",
                             "left-edit.txt", "right-edit.txt"})
        Put(pair.L(name), "v1", kBase);
    ASSERT_EQ(pair.Run(kSynchronize), 0);

    // Both copies are now in all four lists: only their dates tell which side changed.
    Put(pair.L("left-edit.txt"), "v4", kBase + 100000);
    Put(pair.R("right-edit.txt"), "v5", kBase + 200000);

    // Deleted on the right, edited on the left: the edit is copied back.
    std::filesystem::remove(pair.R("deleted-right.txt"));
    Put(pair.L("deleted-right.txt"), "v2", kBase + 10);
    // An edit restored with an older date and the same size beats the unchanged newer copy.
    Put(pair.L("older-edit.txt"), "v3", kBase - 5000);
    // Only touched on the right: the right copy (same contents) wins.
    Put(pair.R("touched.txt"), "v1", kBase + 7200);
    // Changed on both sides: the newer wins, the other is kept in the Trash.
    Put(pair.L("both.txt"), "left edit", kBase - 100);
    Put(pair.R("both.txt"), "right edit", kBase + 9000);
    // Deleted on the left, unchanged on the right: deleted, into the Trash.
    std::filesystem::remove(pair.L("gone.txt"));
    ASSERT_EQ(pair.Run(kSynchronize), 0);

    const Tree expected = {{"both.txt", "right edit"}, {"deleted-right.txt", "v2"}, {"left-edit.txt", "v4"},
                           {"older-edit.txt", "v3"},   {"right-edit.txt", "v5"},    {"touched.txt", "v1"}};
    EXPECT_EQ(Contents(pair.L()), expected);
    EXPECT_EQ(Contents(pair.R()), expected);
    EXPECT_EQ(Trashed(), (Tree{{"both.txt", "left edit"}, {"gone.txt", "v1"}}));
    EXPECT_TRUE(Has(frontend.Log(), "the change wins, it is copied back, not deleted."));
    const std::string info = ReadText(TrashFolder() + "/info/gone.txt.trashinfo");
    EXPECT_TRUE(Has(info, "[Trash Info]\nPath=" + pair.R("gone.txt") + "\nDeletionDate=")) << info;
    // A third run finds nothing to do.
    frontend.Clear();
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_TRUE(Has(frontend.Log(), "Nothing to Sync!"));
}

TEST_F(ASyncRun, ACancelledRunKeepsTheSavedListsSoDeletionsAreStillCarriedOver)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        Put(pair.L(name), name);
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        std::filesystem::remove(pair.L(name));
    // The run stops after its first deletion; the saved lists it started with stay.
    gFrontend = &frontend;
    std::unique_ptr<ASync> sync = pair.Load(kSynchronize);
    sync->SetVerboseLog(1);
    EXPECT_EQ(sync->DoSync([] { return CancelOnceLogged("Action 1 of 3"); }), kErrUserCancel);
    gFrontend = nullptr;
    AString path = pair.tmp.A("state");
    std::filesystem::remove(pair.tmp / "state");
    ASSERT_EQ(AFile::ReplaceSafely(&path, [&](AFile* f) { return sync->WriteState(f); }), 0);
    EXPECT_EQ(ListFiles(pair.R()), (Files{"b.txt", "c.txt", "d.txt"}));
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(ListFiles(pair.R()), Files{"d.txt"});
    EXPECT_EQ(ListFiles(pair.L()), Files{"d.txt"});
}

TEST_F(ASyncRun, NothingIsWrittenThroughALink)
{
    Put(pair.tmp / "outside/x.txt", "x");
    ASSERT_EQ(symlink((pair.tmp / "outside").c_str(), pair.L("linked").c_str()), 0);
    ASSERT_EQ(mkfifo(pair.L("pipe").c_str(), 0600), 0);
    Put(pair.L("a.txt"), "a");
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(ListFiles(pair.R()), Files{"a.txt"});
    EXPECT_TRUE(Has(frontend.Log(), "Skipped 2 items in " + pair.L()));
    // A folder of that name made on the right is not copied into the linked folder.
    Put(pair.R("linked/new.txt"), "new");
    EXPECT_EQ(pair.Run(kSynchronize), kErrInvalidPath);
    EXPECT_EQ(ListFiles(pair.tmp / "outside"), Files{"x.txt"});
    EXPECT_TRUE(Has(frontend.Log(), "Not written: " + pair.L("linked/new.txt")));
}

TEST_F(ASyncRun, AFolderAgainstAFileIsAConflictEveryRunUntilSettled)
{
    Put(pair.L("a"), "file");
    Put(pair.R("a/inside.txt"), "in");
    Put(pair.L("b.txt"), "b");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(pair.Run(kSynchronize), kErrDuplicateNames) << run;
        EXPECT_EQ(ListFiles(pair.R()), (Files{"a/inside.txt", "b.txt"})) << run;
        EXPECT_EQ(ReadText(pair.L("a")), "file") << run;
    }
    EXPECT_TRUE(
        Has(frontend.Log(), pair.R("a") + " is a folder, and " + pair.L("a") + " a file of the same name"));
    EXPECT_TRUE(Has(frontend.Log(), pair.L("a") + " and " + pair.R("a") + " ERROR=-11165: Duplicate names."));
    std::filesystem::remove(pair.L("a"));
    EXPECT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(ListFiles(pair.L()), (Files{"a/inside.txt", "b.txt"}));
}

TEST_F(ASyncRun, NamesDifferingInCaseOrFormAreTwoFiles)
{
    Put(pair.L("Readme"), "upper first");
    Put(pair.L("README"), "all upper");
    Put(pair.L("caf\xC3\xA9.txt"), "composed");
    Put(pair.R("cafe\xCC\x81.txt"), "decomposed");
    Put(pair.L("near.txt"), "v1", kBase);
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    const Tree both = {{"README", "all upper"},
                       {"Readme", "upper first"},
                       {"caf\xC3\xA9.txt", "composed"},
                       {"cafe\xCC\x81.txt", "decomposed"},
                       {"near.txt", "v1"}};
    EXPECT_EQ(Contents(pair.L()), both);
    EXPECT_EQ(Contents(pair.R()), both);
    // A same-size edit 30 seconds or an hour later is an edit, not a date shifted by a FAT volume.
    Put(pair.L("near.txt"), "v2", kBase + 30);
    Put(pair.R("Readme"), "UPPER FIRST", kBase + 3600);
    frontend.Clear();
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(ReadText(pair.R("near.txt")), "v2");
    EXPECT_EQ(ReadText(pair.L("Readme")), "UPPER FIRST");
    frontend.Clear();
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_TRUE(Has(frontend.Log(), "Nothing to Sync!"));
}

namespace {

// Makes the folder at `root` count as on a volume that takes names differing in case for one, as a
// FAT volume does, for as long as it lives.
class FoldingVolume {
public:
    explicit FoldingVolume(const std::string& root) { platform::TreatNamesAsIgnoringCaseForTesting(root); }
    ~FoldingVolume() { platform::TreatNamesAsIgnoringCaseForTesting(std::string()); }
    FoldingVolume(const FoldingVolume&) = delete;
    FoldingVolume& operator=(const FoldingVolume&) = delete;
};

} // namespace

TEST_F(ASyncRun, NamesTheOtherSideTakesForOneAreAConflict)
{
    struct Case {
        const char* what;
        bool leftFolds; // else the right side does
        SyncType type;
        Tree left, right;
        Files colliding; // on the side that tells them apart
    };
    const std::string nfc = "caf\xC3\xA9.txt", nfd = "cafe\xCC\x81.txt";
    const Tree both = {{"Readme", "r"}, {"README", "R"}}, forms = {{nfc, "composed"}, {nfd, "decomposed"}};
    const Tree folders = {{"Docs/a", "a"}, {"docs/b", "b"}};
    const Files readmes = {"Readme", "README"};
    const Case cases[] = {
        {"case only, nothing on the other side", false, kSynchronize, both, {}, readmes},
        {"the folding side holds one of them", false, kSynchronize, both, {{"readme", "old"}}, readmes},
        {"the forms of one letter", false, kSynchronize, forms, {}, {nfc, nfd}},
        {"folders, left folds", true, kSynchronize, {{"docs/c", "c"}}, folders, {"Docs", "docs"}},
        {"mirror onto a side holding both", true, kMirrorToRight, {{"readme", "one"}}, both, readmes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Answering caseFrontend("Yes to All");
        Pair casePair;
        const std::string folds = c.leftFolds ? casePair.L() : casePair.R();
        FoldingVolume folding(folds.substr(0, folds.size() - 1));
        for (const auto& [name, text] : c.left)
            Put(casePair.L(name), text);
        for (const auto& [name, text] : c.right)
            Put(casePair.R(name), text);
        Put(casePair.L("other.txt"), "other");
        for (int run = 0; run < 2; ++run) {
            EXPECT_EQ(casePair.Run(c.type), kErrDuplicateNames) << run;
            Tree left = c.left, right = c.right;
            left["other.txt"] = right["other.txt"] = "other";
            EXPECT_EQ(Contents(casePair.L()), left) << run;
            EXPECT_EQ(Contents(casePair.R()), right) << run;
        }
        const std::string log = caseFrontend.Log();
        EXPECT_TRUE(Has(log, "differ only in case or in the form of their letters"));
        for (const std::string& name : c.colliding)
            EXPECT_TRUE(Has(log, (c.leftFolds ? casePair.R(name) : casePair.L(name)) + " ")) << name;
    }
}

TEST_F(ASyncRun, CollidingNamesSyncOnceOneIsRemoved)
{
    const std::string root = pair.R();
    FoldingVolume folding(root.substr(0, root.size() - 1));
    Put(pair.L("Readme"), "r");
    Put(pair.L("README"), "R");
    Put(pair.R("readme"), "old", kBase - 100);
    ASSERT_EQ(pair.Run(kSynchronize), kErrDuplicateNames);
    std::filesystem::remove(pair.L("README"));
    ASSERT_EQ(pair.Run(kSynchronize), 0);
    EXPECT_EQ(Contents(pair.R()), (Tree{{"readme", "r"}}));
    EXPECT_EQ(Contents(pair.L()), (Tree{{"Readme", "r"}}));
}

TEST_F(ASyncRun, ASideThatCannotBeListedIsNamedWithTheSystemsReason)
{
    std::filesystem::remove_all(pair.L());
    std::unique_ptr<ASync> sync = pair.Load(kCopyToRight);
    EXPECT_EQ(sync->DoSync(nullptr), kErrOpen);
    const std::string log = frontend.Log();
    EXPECT_TRUE(Has(log, "Error building directory " + pair.L() +
                             ": -1: End of file encountered. (cannot list the folder " + pair.L() +
                             ": No such file or directory)"))
        << log;
}
