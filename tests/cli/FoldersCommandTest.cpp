// `pelorin folders`: arguments, exit statuses, answers from flags and the state kept between runs.

#include "cli/SyncRun.h"

#include "ACommon/sync/ASync.h"
#include "ACommon/sync/ActionReview.h"
#include "fixtures/FolderPair.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadText;
using fixtures::RunPelorin;
using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

using fixtures::Has;

// Two folders and a private application support folder, so that no test writes into the real one.
class Folders : public fixtures::FolderPair {
public:
    std::vector<std::string> Env() const { return {"XDG_DATA_HOME=" + tmp / "data", "HOME=" + tmp / "home"}; }

    fixtures::CommandResult Run(std::vector<std::string> args, const std::string& input = std::string()) const
    {
        args.insert(args.begin(), {"folders", tmp / "L", tmp / "R"});
        return RunPelorin(args, input, Env());
    }
};

} // namespace

TEST(FoldersCommand, HelpExplainsEveryOption)
{
    fixtures::CommandResult top = RunPelorin({"--help"});
    EXPECT_EQ(top.exitStatus, 0);
    EXPECT_TRUE(Has(top.out, "folders"));

    fixtures::CommandResult help = RunPelorin({"folders", "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    std::istringstream words(
        "LEFT RIGHT --type --state --review --dry-run --yes --no --stop-on-error --no-folder-changes "
        "--verbose "
        "--log --reset-answers --allow-mass-deletion --songs --no-genre --no-album --no-file-type "
        "--dont-dup-songs "
        "--delete-instead-of-move copy-to-right mirror-to-right copy-to-left mirror-to-left "
        "merge synchronize 130");
    for (std::string word; words >> word;)
        EXPECT_TRUE(Has(help.out, word)) << word;
}

TEST(FoldersCommand, BadArgumentsExitWithTwo)
{
    Folders folders;
    WriteFile(folders.L("a.txt"), "a");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    std::vector<Case> cases = {
        {{"folders", folders.L(), folders.tmp / "missing", "--type", "merge", "--yes"},
         "RIGHT folder does not exist"},
        {{"folders", folders.L(), folders.R(), "--type", "sideways", "--yes"}, "sideways"},
        {{"folders", folders.L(), folders.R(), "--yes"}, "--type"},
        {{"folders", folders.L(), folders.R(), "--type", "merge", "--yes", "--no"}, "excludes"},
        {{"folders", folders.L(), folders.L(), "--type", "merge", "--yes"}, "the same folder"},
        {{"folders", folders.tmp.Path(), folders.R(), "--type", "merge", "--yes"}, "inside the other"},
        // Nobody to ask, and no answers given.
        {{"folders", folders.L(), folders.R(), "--type", "merge"}, "pass --yes"},
        // The old name of --no-folder-changes read like a dry run; it is refused, not taken.
        {{"folders", folders.L(), folders.R(), "--type", "merge", "--yes", "--log-only"}, "--dry-run"},
    };
    // What tells songs apart means nothing to plain folders.
    for (const char* option : {"--no-genre", "--no-album", "--no-file-type", "--dont-dup-songs"})
        cases.push_back(
            {{"folders", folders.L(), folders.R(), "--type", "merge", "--yes", option}, "--songs"});
    for (const Case& c : cases) {
        fixtures::CommandResult result = RunPelorin(c.args, "", folders.Env());
        EXPECT_EQ(result.exitStatus, 2) << c.message;
        EXPECT_TRUE(Has(result.err + result.out, c.message)) << c.message << ": " << result.err;
        EXPECT_TRUE(ListFiles(folders.R()).empty()) << c.message;
    }
}

TEST(FoldersCommand, AnAnswerOptionAnswersEveryQuestionOfAMirror)
{
    struct Case {
        const char* answer;
        std::vector<std::string> right;
    };
    // New files are copied without a question; the deletion is what is asked.
    for (const Case& c :
         {Case{"--yes", {"a.txt", "same.txt"}}, Case{"--no", {"a.txt", "old.txt", "same.txt"}}}) {
        Folders folders;
        WriteFile(folders.L("a.txt"), "a");
        WriteFile(folders.R("old.txt"), "old");
        for (const std::string& side : {folders.L("same.txt"), folders.R("same.txt")}) {
            WriteFile(side, "same");
            fixtures::SetModTime(side, 1000000000);
        }
        fixtures::CommandResult result = folders.Run({"--type", "mirror-to-right", c.answer});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(ListFiles(folders.R()), c.right) << c.answer;
        EXPECT_TRUE(Has(result.out, "Sync completed."));
        // The run log goes to standard error.
        EXPECT_TRUE(Has(result.err, "Initializing sync..."));
    }
}

TEST(FoldersCommand, YesDoesNotApproveDeletingMostOfASide)
{
    // An empty left folder (an unmounted mount point) in an unattended mirror: --yes answers the
    // questions about single files, not the check before emptying the other side.
    for (bool allow : {false, true}) {
        Folders folders;
        for (int i = 0; i < 12; ++i)
            WriteFile(folders.R("file" + std::to_string(i) + ".txt"), "content");
        std::vector<std::string> args = {"--type", "mirror-to-right", "--yes"};
        if (allow)
            args.push_back("--allow-mass-deletion");
        fixtures::CommandResult result = folders.Run(args);
        EXPECT_EQ(result.exitStatus, allow ? 0 : 130) << result.err;
        EXPECT_EQ(ListFiles(folders.R()).size(), allow ? 0u : 12u) << allow;
        EXPECT_TRUE(Has(result.out + result.err, "Delete 12 of 12 files on ")) << result.out << result.err;
    }
}

TEST(FoldersCommand, SynchronizeKeepsItsStateBetweenRuns)
{
    Folders folders;
    WriteFile(folders.L("a.txt"), "a");
    WriteFile(folders.L("b.txt"), "b");
    ASSERT_EQ(folders.Run({"--type", "synchronize", "--yes"}).exitStatus, 0);
    EXPECT_EQ(ListFiles(folders.R()), (std::vector<std::string>{"a.txt", "b.txt"}));
    // The state lives in the application support folder, under a name made from the two folders.
    // Beside it, the identity of the two folders and the lock that keeps two runs of the pair apart.
    std::vector<std::string> states = ListFiles(folders.tmp / "data/Veltrano/Ondrivel");
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[1], states[0] + ".ipod");
    EXPECT_EQ(states[2], states[0] + ".lock");
    EXPECT_TRUE(Has(states[0], "L-R")) << states[0];

    // The saved lists tell that b was deleted on the left, not added on the right. A dry run and a
    // refused review change neither the files nor the state.
    std::filesystem::remove(folders.L("b.txt"));
    const std::string state = folders.tmp / ("data/Veltrano/Ondrivel/" + states[0]);
    const std::string saved = ReadText(state);
    EXPECT_EQ(folders.Run({"--type", "synchronize", "--dry-run"}).exitStatus, 0);
    EXPECT_EQ(folders.Run({"--type", "synchronize", "--review", "--no"}).exitStatus, 130);
    EXPECT_EQ(ReadText(state), saved);
    EXPECT_EQ(ListFiles(folders.R()), (std::vector<std::string>{"a.txt", "b.txt"}));
    ASSERT_EQ(folders.Run({"--type", "synchronize", "--yes"}).exitStatus, 0);
    EXPECT_EQ(ListFiles(folders.R()), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(ListFiles(folders.L()), std::vector<std::string>{"a.txt"});
    // The deleted copy is in the Trash; --delete-instead-of-move deletes outright.
    EXPECT_EQ(ListFiles(folders.tmp / "data/Trash/files"), std::vector<std::string>{"b.txt"});
    std::filesystem::remove(folders.L("a.txt"));
    ASSERT_EQ(
        folders.Run({"--type", "synchronize", "--yes", "--delete-instead-of-move", "--allow-mass-deletion"})
            .exitStatus,
        0);
    EXPECT_TRUE(ListFiles(folders.R()).empty());
    EXPECT_EQ(ListFiles(folders.tmp / "data/Trash/files"), std::vector<std::string>{"b.txt"});
}

// What a run prints, and the exit status it ends with.
TEST(FoldersCommand, ARunPrintsWhatTheUserMustKnow)
{
    struct Case {
        const char* name;
        std::function<void(const Folders&)> put;
        std::vector<std::string> args;
        int exitStatus;
        std::function<std::vector<std::string>(const Folders&)> says; // in what it printed
    };
    const Case cases[] = {
        {"the numbered plan of a review",
         [](const Folders& f) {
             WriteFile(f.L("a.txt"), "a");
             WriteFile(f.R("z.txt"), "z");
         },
         {"--type", "mirror-to-right", "--review", "--no"},
         130,
         [](const Folders& f) -> std::vector<std::string> {
             return {"1 [x] Copy Right", f.L("a.txt") + "  ->  " + f.R("a.txt"), "2 [x] Delete"};
         }},
        {"control characters of a file name escaped",
         [](const Folders& f) { WriteFile(f.tmp / "L/Clear\x1b[2J\nFake.txt", std::string("x")); },
         {"--type", "copy-to-right", "--dry-run"},
         0,
         [](const Folders&) -> std::vector<std::string> { return {"Clear\\x1b[2J\\nFake.txt"}; }},
        {"pairs left different with the same date",
         [](const Folders& f) {
             for (const char* name : {"a.txt", "b.txt"}) {
                 WriteFile(f.L(name), "left");
                 WriteFile(f.R(name), "right!");
                 fixtures::SetModTime(f.L(name), 1000000000);
                 fixtures::SetModTime(f.R(name), 1000000000);
             }
         },
         {"--type", "synchronize", "--yes"},
         0,
         [](const Folders&) -> std::vector<std::string> {
             return {"2 files differ but have the same date: not synced; see --review."};
         }},
        // A folder on the left where the right has a file of the same name: the copy into it fails.
        {"an error",
         [](const Folders& f) {
             WriteFile(f.L("x/in.txt"), "in");
             WriteFile(f.R("x"), "file");
         },
         {"--type", "copy-to-right", "--yes"},
         1,
         [](const Folders&) -> std::vector<std::string> { return {"the sync ended with error"}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folders folders;
        c.put(folders);
        const fixtures::CommandResult result = folders.Run(c.args);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        for (const std::string& text : c.says(folders))
            EXPECT_TRUE(Has(result.out + result.err, text)) << text << "\n" << result.out << result.err;
        EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << result.out;
    }
}

TEST(FoldersCommand, LogFileReceivesTheRunLog)
{
    Folders folders;
    WriteFile(folders.L("a.txt"), "a");
    const std::string log = folders.tmp / "run.log";
    fixtures::CommandResult result =
        folders.Run({"--type", "copy-to-right", "--yes", "--log", log, "--verbose"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(Has(ReadText(log), "Action 1 of 1 Copying " + folders.L("a.txt")));
    EXPECT_FALSE(Has(result.err, "Initializing sync..."));
}

// ---------------------------------------------------------------------------------------------
// Folders of songs

TEST(FoldersCommand, ChangingWhatTellsSongsApartForgetsTheSavedLists)
{
    Folders folders;
    fixtures::WriteSong(folders.L("a.mp3"), fixtures::SongSpecOf("A", 0, 1));
    fixtures::WriteSong(folders.L("b.mp3"), fixtures::SongSpecOf("B", 0, 2));
    ASSERT_EQ(folders.Run({"--type", "synchronize", "--songs", "--yes"}).exitStatus, 0);
    std::filesystem::remove(folders.L("b.mp3"));
    // With another comparison the saved lists no longer compare: B is new on the right, not
    // deleted on the left, and comes back.
    fixtures::CommandResult result = folders.Run({"--type", "synchronize", "--songs", "--no-genre", "--yes"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ListFiles(folders.R()),
              (std::vector<std::string>{"Artist/Album/01 A.mp3", "Artist/Album/02 B.mp3"}));
    EXPECT_EQ(ListFiles(folders.L()), (std::vector<std::string>{"Artist/Album/02 B.mp3", "a.mp3"}));
}

// What the review prompt understands; the answer is applied by the core, whole or not at all.
TEST(FoldersCommand, AReviewAnswerIsReadWholeOrNotAtAll)
{
    std::vector<ActionReview::Item> actions(3);
    for (ActionReview::Item& item : actions) {
        item.kind = ASync::kCopyRight;
        item.active = true;
    }
    actions[2].kind = ASync::kUndecided;
    actions[2].active = false;
    ActionReview::Answer answer;
    for (const char* refused : {"2 x", "2 9", "l 1", "3-1", "", "r"})
        EXPECT_FALSE(cli::ParseReviewAnswer(actions, refused, &answer)) << refused;
    ASSERT_TRUE(cli::ParseReviewAnswer(actions, "1-3 r 3", &answer));
    // The undecided pair is not ticked by a range, only settled.
    EXPECT_EQ(answer.active, (std::vector<bool>{false, false, true}));
    ASSERT_EQ(answer.keep.size(), 1u);
    EXPECT_EQ(answer.keep[0], (std::pair<int, ASync::ChangeChoice>{2, ASync::kKeepRight}));
}
