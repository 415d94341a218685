// `pelorin folders LEFT RIGHT --type TYPE`: one sync run between two plain folders, with the sync's
// settings, saved lists and remembered answers kept in a state file between runs. With --songs both
// folders are folders of songs, matched song by song by their tags.

#include "cli/Commands.h"
#include "cli/SyncRun.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/SyncSession.h"

#include <memory>

namespace cli {
namespace {

const std::vector<SyncTypeName> kSyncTypes = {
    {"copy-to-right", ASync::kLeftToRight, false,
     "copy what is new or changed on the left to the right; delete nothing"},
    {"mirror-to-right", ASync::kLeftToRight, true,
     "make the right equal to the left: also delete on the right what the left lacks"},
    {"copy-to-left", ASync::kRightToLeft, false,
     "copy what is new or changed on the right to the left; delete nothing"},
    {"mirror-to-left", ASync::kRightToLeft, true,
     "make the left equal to the right: also delete on the left what the right lacks"},
    {"merge", ASync::kTwoWay, false, "copy both ways, the newer file replacing the older; delete nothing"},
    {"synchronize", ASync::kTwoWay, true,
     "copy both ways, and carry over deletions made on either side since the last synchronize run"},
};

struct FoldersOptions {
    std::string left;
    std::string right;
    RunOptions run;
    bool songs = false;
    SongOptions song;
};

int RunFolders(const FoldersOptions& options)
{
    SyncRun run("folders", options.run, kSyncTypes);
    std::string left, right, problem;
    if (!ResolveFolder(options.left, "LEFT", left, problem) ||
        !ResolveFolder(options.right, "RIGHT", right, problem)) {
        run.Complain(problem);
        return kExitUsage;
    }
    const AString leftPath = AString::FromUTF8(left), rightPath = AString::FromUTF8(right);
    const AString statePath = options.run.state.empty()
                                  ? SyncSession::FolderPairStatePath(leftPath, rightPath)
                                  : FullPath(options.run.state);
    SyncSession session;
    if (int err = session.OpenFolders(leftPath, rightPath, options.songs, statePath); err != 0) {
        run.Tell(session);
        return err == kErrInvalidPath ? kExitUsage : kExitError;
    }
    if (int status = run.Prepare(); status != kExitOk)
        return status;
    run.Tell(session);
    SyncSession::Settings settings = run.Settings(options.songs ? &options.song : nullptr);
    settings.moveInsteadOfDelete = !options.song.deleteInsteadOfMove;
    session.Apply(settings);
    return run.Run(session);
}

} // namespace

void AddFoldersCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand(
        "folders",
        "Sync two folders (plain ones, or folders of songs with --songs): plan the actions, optionally "
        "review them, perform them.");
    command->footer(
        "Sync types (--type):\n" + SyncTypesHelp(kSyncTypes) + "\n" +
        "A synchronize run judges each file by what changed on each side since the last synchronize run "
        "that completed (the dates and sizes it saved): the side that changed wins, even with an older "
        "date; a file changed on one side and deleted on the other is copied back, not deleted; a file "
        "changed on both sides goes the newer way and the other copy is kept in the Trash. Every "
        "synchronize run that gets through its plan saves its lists; a file whose action failed, was "
        "refused or found the file changed during the run (\"changed during the run; left for the next "
        "run\") "
        "keeps its saved entry, so the next run tries it again. A dry run, a cancelled run or a refused one "
        "changes no file and no saved state. A completed one-way or merge run drops the saved lists by "
        "design, so the next synchronize run carries no deletion over.\n"
        "Plain files a run deletes, or replaces when they may hold a change of their own (changed on "
        "both sides, or not known as synced in a one-way or merge run), go to the desktop's Trash "
        "of their volume (restorable from there), or into \"Removed Files\" beside their folder when that "
        "volume has no Trash fit to use; --delete-instead-of-move deletes them outright.\n" +
        QuestionsHelp() +
        "The song options are kept in the state file with the rest; changing --no-genre, --no-album or "
        "--no-file-type makes the next synchronize run treat every song as new (nothing is deleted).\n"
        "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled (Ctrl-C; a second Ctrl-C quits at "
        "once).");
    auto options = std::make_shared<FoldersOptions>();
    command->add_option("LEFT", options->left, "The left folder (side 1)")->required();
    command->add_option("RIGHT", options->right, "The right folder (side 2)")->required();
    AddRunOptions(command, options->run, kSyncTypes,
                  "The state file that keeps this sync's settings, the lists saved by the last "
                  "synchronize run and the remembered answers (default: a file named after the two "
                  "folders in the application support folder, Veltrano/Ondrivel/)");
    CLI::Option* songs = command->add_flag(
        "--songs", options->songs,
        "Both folders are folders of songs: each song is matched by its tags (genre, artist, album, "
        "title, file type), not by its file name; a copied song is filed into the other folder as "
        "Artist/Album/07 Title.mp3, and a deleted song is moved into \"Removed Files\" beside its folder");
    AddSongOptions(command, options->song, songs);
    // Plain folders delete through the Trash too, so this one option needs no --songs.
    if (CLI::Option* outright = command->get_option_no_throw("--delete-instead-of-move"))
        outright->remove_needs(songs);
    command->callback([options, &exitStatus] { exitStatus = RunFolders(*options); });
}

} // namespace cli
