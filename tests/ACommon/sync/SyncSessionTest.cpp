// The rules around a sync's state: where it is kept, what is dropped or kept aside when it does not
// fit the sides of a run, and what a run writes.

#include "ACommon/sync/SyncSession.h"

#include "ACommon/base/AError.h"
#include "APlatform/ScriptRunner.h"
#include "SongsAndIPods.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

using fixtures::TempDir;

namespace {

using fixtures::Has;

std::string Joined(const std::vector<SyncSession::Notice>& notices)
{
    std::string text;
    for (const SyncSession::Notice& notice : notices)
        text += notice.text.ToStdString() + "\n";
    return text;
}

// Settings of a synchronize run.
SyncSession::Settings TwoWay(bool genreRelevant = true)
{
    SyncSession::Settings settings;
    settings.autoAction = ASync::kTwoWay;
    settings.destDeletes = true;
    settings.genreRelevant = genreRelevant;
    return settings;
}

// Two songs and iPods.
struct World : syncruns::SongsAndIPods {
    World() : SongsAndIPods({fixtures::SongSpecOf("One"), fixtures::SongSpecOf("Two")}) {}
};

// Answers every script with the names of the library's iPod sources, or fails it (no names);
// counts the scripts.
class IPodNamesRunner : public platform::ScriptRunner {
public:
    std::optional<platform::ScriptDescriptor> Run(std::string_view, std::string*) override
    {
        ++scripts;
        if (!names)
            return std::nullopt;
        std::vector<platform::ScriptDescriptor> items;
        for (const char* name : *names)
            items.push_back(platform::ScriptDescriptor::String(name));
        return platform::ScriptDescriptor::List(std::move(items));
    }
    std::optional<std::vector<const char*>> names;
    int scripts = 0;
};

} // namespace

TEST(SyncSession, AnIPodTheLibraryServesIsReachedThroughTheLibrary)
{
    using Access = SyncSession::IPodAccess;
    using Names = std::optional<std::vector<const char*>>;
    struct Case {
        const char* row;
        Names served;
        const char* name;
        bool withLibrary;
        Access expected;
        int scripts;
    };
    const std::vector<Case> cases = {
        {"the only iPod served", Names{{"Pocket"}}, "Pocket", true, Access::kThroughLibrary, 1},
        {"one of several served", Names{{"Other", "Pocket", "Third"}}, "Pocket", true,
         Access::kThroughLibrary, 1},
        {"a name that ends another's", Names{{"Jane's Pocket"}}, "Pocket", true, Access::kThroughDatabase, 1},
        {"a name that begins another's", Names{{"Pocket", "Pocket 2"}}, "Pocket 2", true,
         Access::kThroughLibrary, 1},
        {"not served", Names{{"Other"}}, "Pocket", true, Access::kThroughDatabase, 1},
        {"the library cannot answer", std::nullopt, "Pocket", true, Access::kThroughLibrary, 1},
        {"a folder on the other side", Names{{"Pocket"}}, "Pocket", false, Access::kThroughDatabase, 0},
        {"no name", Names{{""}}, "", true, Access::kThroughDatabase, 0},
    };
    for (const Case& c : cases) {
        IPodNamesRunner runner;
        runner.names = c.served;
        platform::SetScriptRunner(&runner);
        EXPECT_EQ(SyncSession::AccessOf(AString(c.name), c.withLibrary), c.expected) << c.row;
        EXPECT_EQ(runner.scripts, c.scripts) << c.row;
        platform::SetScriptRunner(nullptr);
    }
}

TEST(SyncSession, StateFilesAreNamedAfterWhatTheySync)
{
    setenv("XDG_DATA_HOME", "/data", 1);
    struct Case {
        const char* name;
        SyncSession::IPodAccess access;
        const char* path;
    };
    for (auto [name, access, path] :
         {Case{"Pocket", SyncSession::IPodAccess::kThroughLibrary, "/data/Veltrano/Ondrivel/Pocket.snc"},
          {"Pocket", SyncSession::IPodAccess::kThroughDatabase, "/data/Veltrano/Ondrivel/Pocket_PODDB.snc"},
          {"../up/and:away", SyncSession::IPodAccess::kThroughLibrary,
           "/data/Veltrano/Ondrivel/_._up_and_away.snc"},
          {"", SyncSession::IPodAccess::kThroughLibrary, "/data/Veltrano/Ondrivel/iPod.snc"}})
        EXPECT_EQ(SyncSession::IPodStatePath(AString(name), access).ToStdString(), path) << name;
    EXPECT_EQ(SyncSession::DefaultStatePath().ToStdString(), "/data/Veltrano/Ondrivel/Default.snc");
    EXPECT_EQ(SyncSession::SafeFileName(AString(std::string(200, 'x').c_str())).GetLength(), 120);
    const std::string pair =
        SyncSession::FolderPairStatePath(AString("/m/Music"), AString("/p/Music")).ToStdString();
    EXPECT_EQ(pair.rfind("/data/Veltrano/Ondrivel/folders-Music-Music-", 0), 0u) << pair;
    EXPECT_NE(SyncSession::FolderPairStatePath(AString("/p/Music"), AString("/m/Music")).ToStdString(), pair);
    unsetenv("XDG_DATA_HOME");
}

// iPods are called the same until their owners rename them: the lists one iPod's synchronize run
// saved must never be read as deletions against another of the same name.
TEST(SyncSession, SavedListsOfAnotherIPodOfTheSameNameOrAnotherFolderAreDropped)
{
    World world;
    const MountedIPod first = world.IPod("FIRST", {.firewireGuid = "0x000A27001111AAAA"});
    const MountedIPod twin = world.IPod("TWIN", {.firewireGuid = "0x000A27002222BBBB"});
    ASSERT_EQ(first.name, twin.name);
    SyncSession one;
    ASSERT_EQ(world.Run(one, first, TwoWay()).result, 0);
    EXPECT_EQ(fixtures::ReadText(world.tmp / "state.ipod"), "FirewireGuid 000A27001111AAAA\n");

    SyncSession other;
    ASSERT_EQ(world.Open(other, twin), 0);
    const std::string told = Joined(other.TakeNotices());
    EXPECT_TRUE(Has(told, "with FirewireGuid 000A27001111AAAA (this one has FirewireGuid 000A27002222BBBB)"))
        << told;
    EXPECT_EQ(other.GetSync()->GetSavedDir1()->Count(), 0);
    EXPECT_EQ(other.GetSync()->GetSavedDir2()->Count(), 0);

    // Nor against another folder: read so, they would empty the iPod.
    std::filesystem::create_directories(world.tmp / "Other");
    SyncSession elsewhere;
    ASSERT_EQ(world.Open(elsewhere, first, "Other"), 0);
    EXPECT_TRUE(Has(Joined(elsewhere.TakeNotices()), "belong to the folder " + world.tmp / "Songs (not "));
    EXPECT_EQ(elsewhere.GetSync()->GetSavedDir2()->Count(), 0);

    // The same iPod keeps them, also with a state file written before identities were kept.
    for (bool withIdentity : {true, false}) {
        if (!withIdentity)
            std::filesystem::remove(world.tmp / "state.ipod");
        SyncSession again;
        ASSERT_EQ(world.Open(again, first), 0);
        EXPECT_TRUE(again.TakeNotices().empty()) << withIdentity;
        EXPECT_EQ(again.GetSync()->GetSavedDir1()->Count(), 2) << withIdentity;
    }
}

TEST(SyncSession, FoldersThatLieInsideOneAnotherAreRefused)
{
    World world;
    const MountedIPod pod = world.IPod("POD", {.firewireGuid = ""});
    SyncSession session;
    const std::string inside = pod.mountPoint.ToStdString() + "/Music";
    EXPECT_EQ(session.OpenIPod(ADir::kTypeSongFolder, AString::FromUTF8(inside), pod, world.tmp.A("state")),
              kErrInvalidPath);
    EXPECT_EQ(session.OpenFolders(world.tmp.A("Songs"), world.tmp.A(""), false, world.tmp.A("state")),
              kErrInvalidPath);
    EXPECT_EQ(session.GetSync(), nullptr);
    EXPECT_FALSE(fixtures::Exists(world.tmp / "state"));
}

TEST(SyncSession, ASecondRunOnTheSamePairIsRefusedWhileTheFirstHoldsTheState)
{
    fixtures::RecordingFrontend frontend;
    TempDir tmp;
    std::filesystem::create_directories(tmp / "L");
    std::filesystem::create_directories(tmp / "R");
    SyncSession first, second;
    ASSERT_EQ(first.OpenFolders(tmp.A("L"), tmp.A("R"), false, tmp.A("state")), 0);
    EXPECT_EQ(second.OpenFolders(tmp.A("L"), tmp.A("R"), false, tmp.A("state")), kErrBusy);
    EXPECT_TRUE(Has(Joined(second.TakeNotices()), "Another run on these folders is under way"));
    // Another state file for the same pair is no way around the lock; another pair has a lock of its own.
    EXPECT_EQ(second.OpenFolders(tmp.A("L"), tmp.A("R"), false, tmp.A("other")), kErrBusy);
    std::filesystem::create_directories(tmp / "R2");
    EXPECT_EQ(second.OpenFolders(tmp.A("L"), tmp.A("R2"), false, tmp.A("other")), 0);
}

// A state file that cannot be read is named in a notice; one that holds bytes is kept aside before
// the run replaces it, and a path that cannot hold a state file at all fails the run.
TEST(SyncSession, AStateFileThatCannotBeReadIsToldAbout)
{
    fixtures::RecordingFrontend frontend;
    struct Case {
        const char* name;
        const char* bytes; // null: the path is a folder
        const char* told;
        const char* summary;
    };
    for (const Case& c : {Case{"not a state file", "not a state file", "cannot be read", "; 0 errors."},
                          Case{"empty", "", "cannot be read (it is empty", "; 0 errors."},
                          Case{"folder", nullptr, "cannot be read (it is a folder", "; 1 error."}}) {
        TempDir tmp;
        fixtures::WriteFile(tmp / "L/a.txt", "a");
        std::filesystem::create_directories(tmp / "R");
        if (c.bytes)
            fixtures::WriteFile(tmp / "state", std::string(c.bytes));
        else
            std::filesystem::create_directories(tmp / "state/inside");
        auto open = [&tmp](SyncSession& session) {
            EXPECT_EQ(session.OpenFolders(tmp.A("L"), tmp.A("R"), false, tmp.A("state")), 0);
            session.Apply(TwoWay());
        };
        {
            SyncSession session;
            open(session);
            const SyncSession::Outcome outcome = session.Run(nullptr, nullptr);
            const std::string told = Joined(session.TakeNotices());
            EXPECT_TRUE(Has(told, c.told)) << c.name << ": " << told;
            EXPECT_TRUE(Has(outcome.summary.ToStdString(), c.summary))
                << c.name << ": " << outcome.summary.ToStdString();
        }
        if (c.bytes && *c.bytes) {
            EXPECT_EQ(fixtures::ReadText(tmp / "state.bad"), c.bytes);
            // The run's own state replaced it.
            SyncSession again;
            open(again);
            EXPECT_TRUE(again.TakeNotices().empty());
            EXPECT_EQ(again.GetSync()->GetSavedDir1()->Count(), 1);
        }
    }
}

// The lists a synchronize run saved are read as deletions by the next one: lists that do not belong
// to this run's pair, kind of sync or comparison of songs are dropped (and said to be), so that what
// its folders lack is taken for new on the other side, not for deleted.
TEST(SyncSession, SavedListsThatDoNotFitThisRunAreDropped)
{
    fixtures::RecordingFrontend frontend;
    struct Case {
        const char* name;
        bool onOtherPair; // the first run syncs X and Y, not L and R
        bool songsFirst, songsThen, genreThen;
        const char* identity; // written between the runs ("": none)
        bool deepPath;        // a path too long for the state file, in the first run's folders
        bool dropped;
        const char* told; // by the second run, or by the first one of a deep path
    };
    const std::string deep = std::string(220, 'd') + "/" + std::string(220, 'e') + "/" +
                             std::string(220, 'f') + "/" + std::string(220, 'g') + "/" +
                             std::string(220, 'h') + "/song.mp3";
    const Case cases[] = {
        {"the same pair again", false, false, false, true, "", false, false, ""},
        {"another folder mounted at the same place", false, false, false, true,
         "volume other | volume other\n", false, true, "mounted at the same places"},
        {"another pair", true, false, false, true, "", false, true, ""},
        {"songs after plain folders", false, false, true, true, "", false, true,
         "was written by a sync of plain folders"},
        {"plain folders after songs", false, true, false, true, "", false, true,
         "was written by a sync of songs"},
        {"another comparison of songs", false, true, true, false, "", false, true, ""},
        {"a path too long for the state file", false, false, false, true, "", true, true,
         "was written without the lists of files"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        for (const char* side : {"L/", "X/"}) {
            fixtures::WriteSong(tmp / (std::string(side) + "a.mp3"), fixtures::SongSpecOf("A"));
            if (c.deepPath)
                fixtures::WriteFile(tmp / (std::string(side) + deep), "s");
        }
        for (const char* side : {"R", "Y"})
            std::filesystem::create_directories(tmp / side);
        std::string toldFirst;
        {
            SyncSession first;
            ASSERT_EQ(first.OpenFolders(tmp.A(c.onOtherPair ? "X" : "L"), tmp.A(c.onOtherPair ? "Y" : "R"),
                                        c.songsFirst, tmp.A("state")),
                      0);
            first.Apply(TwoWay());
            const SyncSession::Outcome outcome = first.Run(nullptr, nullptr);
            ASSERT_EQ(outcome.result, 0);
            EXPECT_EQ(outcome.listsLeftOut, c.deepPath);
            toldFirst = Joined(first.TakeNotices());
        }
        if (*c.identity)
            fixtures::WriteFile(SyncSession::IdentityPath(tmp.A("state")).ToStdString(), c.identity);
        SyncSession then;
        ASSERT_EQ(then.OpenFolders(tmp.A("L"), tmp.A("R"), c.songsThen, tmp.A("state")), 0);
        then.Apply(TwoWay(c.genreThen));
        EXPECT_TRUE(Has(c.deepPath ? toldFirst : Joined(then.TakeNotices()), c.told));
        EXPECT_EQ(then.GetSync()->GetSavedDir1()->Count() + then.GetSync()->GetSavedDir2()->Count() == 0,
                  c.dropped);
    }
}

namespace {

// Moves the iPod away once the run has begun its first action, as when it is unplugged then.
fixtures::RecordingFrontend* gWatched = nullptr;
std::string gUnplugFrom, gUnplugTo;
signed char UnplugAtFirstAction()
{
    if (gWatched && !gUnplugFrom.empty() && Has(gWatched->Log(), "Action 1 of")) {
        std::filesystem::rename(gUnplugFrom, gUnplugTo);
        gUnplugFrom.clear();
    }
    return 0;
}

} // namespace

TEST(SyncSession, AnIPodUnpluggedDuringARunEndsItWithWhatWasCopied)
{
    World world;
    const MountedIPod pod = world.IPod("IPOD", {.firewireGuid = "0x000A27001111AAAA"});
    SyncSession session;
    ASSERT_EQ(world.Open(session, pod), 0);
    gWatched = &world.frontend;
    gUnplugFrom = pod.mountPoint.ToStdString();
    gUnplugTo = world.tmp / "unplugged";
    const SyncSession::Outcome outcome = session.Run(UnplugAtFirstAction, nullptr);
    gWatched = nullptr;
    EXPECT_EQ(outcome.result, kErrDisconnected);
    EXPECT_EQ(outcome.summary.ToStdString().rfind("The iPod was disconnected; ", 0), 0u)
        << outcome.summary.ToStdString();
    EXPECT_FALSE(Has(world.frontend.Log(), "Action 2 of")) << world.frontend.Log();
    // Nothing was written where the iPod was mounted.
    EXPECT_FALSE(std::filesystem::exists(pod.mountPoint.ToStdString()));
}

// A run with nothing to do would save the state it loaded: its files are left as they were, not
// written again (tens of megabytes for a large library).
TEST(SyncSession, ARunWithNothingToDoLeavesTheStateFilesAsTheyWere)
{
    for (const bool toIPod : {true, false}) {
        SCOPED_TRACE(toIPod ? "a folder and an iPod" : "two folders");
        World world;
        const MountedIPod pod = world.IPod("IPOD", {.firewireGuid = "0x000A27001111AAAA"});
        std::filesystem::create_directories(world.tmp / "Copy");
        const std::string state = world.tmp / "state";
        const std::string identity = SyncSession::IdentityPath(world.tmp.A("state")).ToStdString();
        auto run = [&] {
            SyncSession session;
            ASSERT_EQ(toIPod ? world.Open(session, pod)
                             : session.OpenFolders(world.tmp.A("Songs"), world.tmp.A("Copy"), true,
                                                   world.tmp.A("state")),
                      0);
            session.Apply(TwoWay());
            ASSERT_EQ(session.Run(nullptr, nullptr).result, 0) << world.frontend.Log();
        };
        run();
        run();
        auto inodes = [&] {
            std::vector<ino_t> numbers;
            for (const std::string& path : {state, identity}) {
                struct stat info {};
                numbers.push_back(stat(path.c_str(), &info) == 0 ? info.st_ino : 0);
            }
            return numbers;
        };
        const std::vector<ino_t> before = inodes();
        ASSERT_NE(before[0], 0u);
        run();
        EXPECT_EQ(inodes(), before);
    }
}
