// Runs whose files change while they run, runs that keep failing on one file, and replacements that
// must keep what they replace: checked by the files on disk, the Trash and the log afterwards.

#include "ACommon/sync/ASync.h"

#include "ACommon/base/AError.h"
#include "SyncRuns.h"

#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace syncruns;

namespace {

// Runs while the user looks at the plan.
std::function<void()> gDuringReview;
int ReviewWhileChanging(AArray*, ASync*)
{
    if (gDuringReview)
        gDuringReview();
    return 0;
}

class ChangesDuringRun : public PairRun {
protected:
    void TearDown() override
    {
        gDuringReview = nullptr;
        AFile::SetCopyHookForTesting(nullptr);
        PairRun::TearDown();
    }
};

} // namespace

TEST_F(ChangesDuringRun, AFileChangedAfterThePlanIsLeftForTheNextRun)
{
    struct Case {
        const char* name;
        fixtures::SyncType type;
        std::function<void(FolderPair&)> before; // after a first synchronize run of a.txt = "v1"
        const char* left;                        // what the left holds at the end; null: nothing
        const char* nextRun; // what both sides hold after one more synchronize run; null: not checked
    };
    const std::vector<Case> cases = {
        // Planned: the newer left copy replaces the right one.
        {"replace", fixtures::kSynchronize, [](FolderPair& p) { Put(p.L("a.txt"), "left edit", kBase + 10); },
         "left edit", nullptr},
        // Planned: deleted on the right, as it was on the left. The deletion waits; the save is a
        // change, and a change beats a deletion.
        {"delete", fixtures::kSynchronize, [](FolderPair& p) { std::filesystem::remove(p.L("a.txt")); },
         nullptr, "saved meanwhile"},
        // Planned: a copy to a place where nothing was.
        {"copy", fixtures::kCopyToRight,
         [](FolderPair& p) {
             std::filesystem::remove(p.R("a.txt"));
             Put(p.L("a.txt"), "left", kBase + 10);
         },
         "left", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answering caseFrontend("Yes to All");
        FolderPair casePair;
        Put(casePair.L("a.txt"), "v1");
        ASSERT_EQ(casePair.Run(fixtures::kSynchronize), 0);
        c.before(casePair);
        // The user saves the right copy while the plan is on the screen.
        gDuringReview = [&casePair] { Put(casePair.R("a.txt"), "saved meanwhile", kBase + 5); };
        std::unique_ptr<ASync> sync = casePair.Load(c.type, &ReviewWhileChanging);
        EXPECT_EQ(casePair.Run(*sync), 0);
        gDuringReview = nullptr;
        EXPECT_EQ(ReadText(casePair.R("a.txt")), "saved meanwhile");
        EXPECT_EQ(Exists(casePair.L("a.txt")), c.left != nullptr);
        if (c.left) {
            EXPECT_EQ(ReadText(casePair.L("a.txt")), c.left);
        }
        const std::string log = caseFrontend.Log();
        EXPECT_TRUE(Has(log, casePair.R("a.txt") + " changed during the run; left for the next run.")) << log;
        for (const std::string& title : caseFrontend.QuestionTitles())
            EXPECT_FALSE(Has(title, "Replace"));
        if (c.nextRun) {
            ASSERT_EQ(casePair.Run(fixtures::kSynchronize), 0);
            EXPECT_EQ(ReadText(casePair.L("a.txt")), c.nextRun);
            EXPECT_EQ(ReadText(casePair.R("a.txt")), c.nextRun);
        }
    }
}

TEST_F(ChangesDuringRun, AFileRewrittenWhileItIsCopiedIsNotCopiedTorn)
{
    Put(pair.L("a.txt"), "old contents");
    int rewrites = 0;
    AFile::SetCopyHookForTesting([&](const AString& from) {
        if (rewrites++ == 0)
            Put(from.ToStdString(), "new contents, longer", kBase + 60);
    });
    EXPECT_EQ(pair.Run(fixtures::kSynchronize), 0);
    EXPECT_FALSE(Exists(pair.R("a.txt")));
    EXPECT_TRUE(ListFiles(pair.R()).empty()); // no temporary file either
    EXPECT_TRUE(Has(frontend.Log(), pair.L("a.txt") + " changed during the run; left for the next run."));
    // The next run copies the file as it now is, with its date.
    ASSERT_EQ(pair.Run(fixtures::kSynchronize), 0);
    EXPECT_EQ(ReadText(pair.R("a.txt")), "new contents, longer");
    AString copy = AString::FromUTF8(pair.R("a.txt")), original = AString::FromUTF8(pair.L("a.txt"));
    EXPECT_EQ(AFile::FileModTime(&copy), AFile::FileModTime(&original));
}

TEST_F(ChangesDuringRun, OneFileThatKeepsFailingDelaysOnlyItself)
{
    Put(pair.L("a.txt"), "a");
    Put(pair.L("b.txt"), "b"); // every copy of b.txt fails
    auto run = [this] {
        fixtures::FailingSync sync;
        pair.Aim(sync, fixtures::kSynchronize);
        return pair.Run(sync);
    };
    EXPECT_EQ(run(), kErrIO);
    ASSERT_TRUE(Exists(pair.R("a.txt")));
    // A deletion made after a run that had a failure is still carried over.
    std::filesystem::remove(pair.R("a.txt"));
    EXPECT_EQ(run(), kErrIO);
    EXPECT_FALSE(Exists(pair.L("a.txt")));
    EXPECT_EQ(Trashed(), (Tree{{"a.txt", "a"}}));
    EXPECT_FALSE(Exists(pair.R("b.txt")));
    EXPECT_EQ(ReadText(pair.L("b.txt")), "b");
}

TEST_F(ChangesDuringRun, EditsOnBothSidesOfOneSizeAtOneSecondAreNotTakenForEqual)
{
    Put(pair.L("a.txt"), "v1");
    ASSERT_EQ(pair.Run(fixtures::kSynchronize), 0);
    Put(pair.L("a.txt"), "left", kBase + 10);
    Put(pair.R("a.txt"), "rght", kBase + 10);
    std::unique_ptr<ASync> sync = pair.Load(fixtures::kSynchronize);
    EXPECT_EQ(pair.Run(*sync), 0);
    EXPECT_EQ(sync->GetSameDateDifferences(), 1);
    // A later edit of one side does not make the other side's edit look synced.
    Put(pair.L("a.txt"), "left again", kBase + 20);
    EXPECT_EQ(pair.Run(fixtures::kSynchronize), 0);
    EXPECT_EQ(ReadText(pair.R("a.txt")), "left again");
    EXPECT_EQ(Trashed(), (Tree{{"a.txt", "rght"}}));
}

TEST_F(ChangesDuringRun, ARunThatReplacesAFilePutsItInTheTrashFirst)
{
    struct Case {
        fixtures::SyncType type;
        std::int64_t rightTime; // the right copy's date against the left's kBase + 100
    };
    for (const Case& c : {Case{fixtures::kCopyToRight, kBase + 500}, Case{fixtures::kMirrorToRight, kBase},
                          Case{fixtures::kMerge, kBase}}) {
        std::filesystem::remove_all(TrashFolder());
        FolderPair casePair;
        Put(casePair.L("a.txt"), "left", kBase + 100);
        Put(casePair.R("a.txt"), "right's own", c.rightTime);
        EXPECT_EQ(casePair.Run(c.type), 0) << c.type.name;
        EXPECT_EQ(ReadText(casePair.R("a.txt")), "left") << c.type.name;
        EXPECT_EQ(Trashed(), (Tree{{"a.txt", "right's own"}})) << c.type.name;
    }
}

TEST_F(ChangesDuringRun, ALeftOutItemIsNeverReplacedByAFileOfItsName)
{
    Put(pair.tmp / "outside/x.txt", "x");
    ASSERT_EQ(symlink((pair.tmp / "outside").c_str(), pair.R("folder-link").c_str()), 0);
    ASSERT_EQ(symlink((pair.tmp / "nowhere").c_str(), pair.R("broken-link").c_str()), 0);
    Put(pair.L("folder-link"), "file");
    Put(pair.L("broken-link"), "file");
    for (int run = 0; run < 2; ++run) {
        frontend.Clear();
        EXPECT_EQ(pair.Run(fixtures::kSynchronize), kErrDuplicateNames);
        EXPECT_TRUE(std::filesystem::is_symlink(pair.R("folder-link")));
        EXPECT_TRUE(std::filesystem::is_symlink(pair.R("broken-link")));
        EXPECT_FALSE(Has(frontend.Log(), "Failed copying")) << frontend.Log();
        EXPECT_TRUE(Has(frontend.Log(), pair.R("broken-link") + " is left out of the sync"));
    }
    EXPECT_EQ(ListFiles(pair.tmp / "outside"), std::vector<std::string>{"x.txt"});
}

TEST_F(ChangesDuringRun, AFolderDeletedOnOneSideDoesNotComeBackForALeftOutItemOnTheOther)
{
    Put(pair.L("d/a.txt"), "a");
    ASSERT_EQ(pair.Run(fixtures::kSynchronize), 0);
    Put(pair.tmp / "outside/x.txt", "x");
    ASSERT_EQ(symlink((pair.tmp / "outside").c_str(), pair.R("d/link").c_str()), 0);
    std::filesystem::remove_all(pair.L("d"));
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(pair.Run(fixtures::kSynchronize), 0) << run;
        EXPECT_FALSE(Exists(pair.L("d"))) << run;
        EXPECT_TRUE(std::filesystem::is_symlink(pair.R("d/link"))) << run;
        EXPECT_FALSE(Exists(pair.R("d/a.txt"))) << run;
    }
}
