// The sync engine's model: the filters, the side of a path, the order of the
// action list and the changes the user can make to one action.

#include "ACommon/sync/ASync.h"

#include "ACommon/base/AError.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fixtures::TempDir;

namespace {

// Reaches the settings that only the state record sets, and the action maker.
class OpenSync : public ASync {
public:
    using ASync::AddAction;
    using ASync::excludeFilter;
    using ASync::extFilterOn;
    using ASync::includeFilter;
};

void SetRoots(ASync& sync, const char* left, const char* right)
{
    AString l(left), r(right);
    sync.SetRootPath1(&l, nullptr, 0);
    sync.SetRootPath2(&r, nullptr, 0);
}

} // namespace

TEST(ASync, ChangingAFilterReachesEverySource)
{
    ASync sync;
    AString root("/x"), list(":Podcasts:"), upper(":PODCASTS:");
    sync.GetSavedDir1()->AddFPath(&root);
    sync.GetSavedDir2()->AddFPath(&root);
    sync.SetPathExcludeFilter(&list);
    for (ADir* dir : {sync.GetDir1(), sync.GetDir2(), sync.GetSavedDir1(), sync.GetSavedDir2()})
        EXPECT_EQ(dir->GetPathExcludeFilter(), ":Podcasts:");
    EXPECT_EQ(sync.GetSavedDir1()->Count() + sync.GetSavedDir2()->Count(), 0);

    // The same text in other case is no change.
    sync.GetSavedDir1()->AddFPath(&root);
    sync.SetPathExcludeFilter(&upper);
    EXPECT_EQ(*sync.GetPathExcludeFilter(), ":Podcasts:");
    EXPECT_EQ(sync.GetSavedDir1()->Count(), 1);

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
    struct Case {
        signed char on;
        const char *include, *exclude, *path;
        signed char passes;
    };
    const Case cases[] = {{1, ":mp3:m4a:", "", "a/b.MP3", 1}, {1, ":mp3:m4a:", "", "a/b", 0},
                          {1, ":mp3:m4a:", "", "a/b.ogg", 0}, {1, "", ":ogg:", "a/b.ogg", 0},
                          {1, "", ":ogg:", "a/b", 1},         {0, ":mp3:", ":ogg:", "a/b.ogg", 1}};
    for (const Case& c : cases) {
        sync.extFilterOn = c.on;
        sync.includeFilter = c.include;
        sync.excludeFilter = c.exclude;
        AString p(c.path);
        EXPECT_EQ(sync.FilterCheck(&p), c.passes) << c.path << " " << c.include << " " << c.exclude;
    }
}

TEST(ASync, SideOfAPathIsDecidedByTheLongerMatchingRoot)
{
    ASync sync;
    struct Case {
        const char *left, *right, *path;
        int side;
    };
    // Roots end with "/", so a longer name is not mistaken for a root; when one root is inside the
    // other the longer one decides; a source without a root (a library) holds every other path.
    const Case cases[] = {{"/m/L", "/m/R", "/m/L/a", 1},       {"/m/L", "/m/R", "/m/R/a", 2},
                          {"/m/L", "/m/R", "/elsewhere/a", 0}, {"/m/Music", "/m/Music2", "/m/Music2/a", 2},
                          {"/m", "/m/iPod", "/m/iPod/a", 2},   {"/m/iPod", "/m", "/m/iPod/a", 1},
                          {"/m/iPod", "/m", "/m/other/a", 2},  {"", "/m/R", "/m/R/a", 2},
                          {"", "/m/R", "Artist/Song?1", 1}};
    for (const Case& c : cases) {
        SetRoots(sync, c.left, c.right);
        AString p(c.path);
        EXPECT_EQ(sync.SideOfPath(&p), c.side) << c.left << " " << c.right << " " << c.path;
    }
}

TEST(ASync, SortingOnTheActionColumnOrdersByKindThenActiveFirst)
{
    OpenSync sync;
    struct Made {
        int kind;
        signed char active;
        const char* path;
    };
    for (auto [kind, active, path] :
         {Made{5, 1, "/L/e"}, {0, 0, "/R/a"}, {10, 0, "/L/u"}, {0, 1, "/R/b"}, {1, 1, "/L/c"}})
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

TEST(ASync, ChangeSyncActionTurnsOneActionIntoItsRelativeOrIgnoresAChoiceForAnotherKind)
{
    OpenSync sync;
    SetRoots(sync, "/L", "/R");
    struct Case {
        int kind, operation;
        const char *path1, *path2;
        unsigned choice;
        // The action afterwards: kind, operation, paths and texts joined by "|".
        const char* changed;
    };
    const Case cases[] = {{0, 1, "/R/d/a", "/L/d/a", 0, "3 2 /R/d/a|||/R/d/a"},
                          {1, 1, "/L/d/a", "/R/d/a", 1, "2 2 /L/d/a||/L/d/a|"},
                          {2, 2, "/L/d/a", "", 2, "1 1 /L/d/a|/R/d/a|/L/d/a|/R/d/"},
                          {3, 2, "/R/d/a", "", 3, "0 1 /R/d/a|/L/d/a|/L/d/|/R/d/a"},
                          {4, 3, "/R/d/a", "/L/d/a", 4, "5 3 /L/d/a|/R/d/a|/L/d/a|/R/d/"},
                          {5, 3, "/L/d/a", "/R/d/a", 5, "4 3 /R/d/a|/L/d/a|/L/d/|/R/d/a"},
                          {10, 6, "/L/d/a", "/R/d/a", 6, "5 3 /L/d/a|/R/d/a|/L/d/a|/R/d/"},
                          {10, 6, "/L/d/a", "/R/d/a", 7, "4 3 /R/d/a|/L/d/a|/L/d/|/R/d/a"},
                          {1, 1, "/L/a", "/R/a", 2, "1 1 /L/a|/R/a|/L/a|/R/"}};
    for (const Case& c : cases) {
        sync.ClearSyncActions();
        sync.AddAction(1, c.operation, AString(c.path1), AString(c.path2), c.kind == 0 || c.kind == 1 ? 0 : 1,
                       c.kind);
        ASync::SyncAction* a = sync.GetAction(0);
        sync.ChangeSyncAction(a, c.choice);
        AString changed;
        changed += a->kind;
        changed += " ";
        changed += a->operation;
        changed += " ";
        for (const AString* part : {&a->path1, &a->path2, &a->leftText})
            changed += *part + "|";
        changed += a->rightText;
        EXPECT_EQ(changed.ToStdString(), c.changed) << "kind " << c.kind << " choice " << c.choice;
        EXPECT_EQ(a->active, 1) << "choice " << c.choice;
    }
}

TEST(ASync, BusySyncRefusesAccessToItsState)
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
    EXPECT_EQ(AFile::ReplaceSafely(
                  &path, [&](AFile* f) { return held.WriteState(f); }, false),
              kErrBusy);
    EXPECT_EQ(held.SetRootPath1(&left, nullptr, 1), kErrBusy);
    EXPECT_EQ(held.XCopy(held.GetDir1(), held.GetDir2(), nullptr), kErrBusy);
    EXPECT_EQ(held.TwoWaySync(nullptr), kErrBusy);
    held.Lock().Unlock();
}
