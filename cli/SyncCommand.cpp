// `pelorin sync --from FOLDER [--ipod NAME] --type TYPE`: one song sync run between a folder of songs
// (the left side) and a mounted iPod, read and written through its own database (the right side).
// The settings, the lists saved by the last synchronize run and the remembered answers live in the
// iPod's state file, the one the window uses for that iPod (SyncSession keeps it).

#include "cli/Commands.h"
#include "cli/SyncRun.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sources/ADir.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/SyncSession.h"
#include "APlatform/KnownFolders.h"

#include <filesystem>
#include <memory>

namespace cli {
namespace {

const std::vector<SyncTypeName> kSyncTypes = {
    {"copy-to-ipod", ASync::kLeftToRight, false,
     "copy the folder's songs that the iPod lacks (or holds in another version) onto it; "
     "delete nothing"},
    {"make-ipod-equal", ASync::kLeftToRight, true,
     "the same, and also remove from the iPod the songs the folder lacks"},
    {"copy-from-ipod", ASync::kRightToLeft, false,
     "copy the iPod's songs that the folder lacks into it (as Artist/Album/07 Title.mp3); "
     "delete nothing"},
    {"make-folder-equal", ASync::kRightToLeft, true,
     "the same, and also remove from the folder the songs the iPod lacks"},
    {"merge", ASync::kTwoWay, false, "copy both ways; delete nothing"},
    {"synchronize", ASync::kTwoWay, true,
     "copy both ways, and carry over songs deleted on either side since the last synchronize run"},
};

struct SyncOptions {
    std::string from;
    std::string ipod;
    RunOptions run;
    SongOptions song;
};

std::string Listing(const std::vector<MountedIPod>& pods)
{
    std::string text;
    for (const MountedIPod& pod : pods)
        text += "\n  \"" +
                (pod.databaseRead ? pod.name.ToStdString() : std::string("(unreadable database)")) +
                "\" on " + pod.volume.ToStdString();
    return text;
}

int RunSync(const SyncOptions& options)
{
    SyncRun run("sync", options.run, kSyncTypes);
    std::string folder, problem;
    if (!ResolveFolder(options.from, "the --from", folder, problem)) {
        run.Complain(problem);
        return kExitUsage;
    }
    const std::string volumesRoot = platform::VolumesRoot();
    std::error_code unreadable;
    std::filesystem::directory_iterator(volumesRoot, unreadable);
    if (unreadable && unreadable != std::errc::no_such_file_or_directory) {
        run.Complain("cannot read the volumes folder " + volumesRoot + ": " + unreadable.message() +
                     " (PELORIN_VOLUMES names another folder to look in)");
        return kExitError;
    }
    const std::vector<MountedIPod> pods = MountedIPod::FindAll(AString::FromUTF8(volumesRoot));
    const MountedIPod* pod = MountedIPod::Choose(pods, AString::FromUTF8(options.ipod));
    if (!pod) {
        if (pods.empty()) {
            run.Complain("no iPod is mounted under " + volumesRoot +
                         " (PELORIN_VOLUMES names another folder to look in)");
            return options.ipod.empty() ? kExitError : kExitUsage;
        }
        run.Complain("no iPod called \"" + options.ipod + "\" is mounted under " + volumesRoot +
                     "; these are:" + Listing(pods));
        return kExitUsage;
    }

    const AString statePath =
        options.run.state.empty()
            ? SyncSession::IPodStatePath(pod->name, SyncSession::IPodAccess::kThroughDatabase)
            : FullPath(options.run.state);
    SyncSession session;
    if (int err = session.OpenIPod(ADir::kTypeSongFolder, AString::FromUTF8(folder), *pod, statePath);
        err != 0) {
        run.Tell(session);
        return err == kErrInvalidPath ? kExitUsage : kExitError;
    }
    if (int status = run.Prepare(); status != kExitOk)
        return status;
    run.Tell(session);
    session.Apply(run.Settings(&options.song));
    const AString mountPoint = pod->mountPoint;
    return run.Run(session, [&](int status) {
        MountedIPod now;
        if (status == kExitOk && !options.run.dryRun && MountedIPod::Read(mountPoint, &now) &&
            now.databaseRead)
            run.Say("The iPod \"" + now.name.ToStdString() + "\" holds " + std::to_string(now.songs) +
                    " songs.");
    });
}

} // namespace

void AddSyncCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand("sync", "Sync a folder of songs with a mounted iPod: plan the "
                                                   "actions, optionally review them, perform them.");
    command->footer(
        "Songs are matched by their tags (genre, artist, album, title, file type), not by their file names. "
        "Songs "
        "copied onto the iPod go into its music folders and its database (written when the run ends); songs "
        "removed from the iPod are moved into \"Removed Files\" on the iPod unless "
        "--delete-instead-of-move.\n"
        "Sync types (--type):\n" +
        SyncTypesHelp(kSyncTypes) + "\n" + QuestionsHelp() +
        "The iPods are looked for under the volumes folder ($PELORIN_VOLUMES, else /Volumes, /media/$USER or "
        "/run/media/$USER); `pelorin ipods` lists them.\n"
        "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled (Ctrl-C; a second Ctrl-C quits at "
        "once).");
    auto options = std::make_shared<SyncOptions>();
    command->add_option("--from", options->from, "The folder of songs (the left side)")
        ->required()
        ->option_text("FOLDER");
    command
        ->add_option(
            "--ipod", options->ipod,
            "The iPod to sync with, by its name or its volume's name (default: the first one mounted)")
        ->option_text("NAME");
    AddRunOptions(
        command, options->run, kSyncTypes,
        "The state file that keeps this sync's settings, the lists saved by the last synchronize run "
        "and the remembered answers (default: the iPod's own, NAME_PODDB.snc in the application "
        "support folder's Veltrano/Ondrivel/, shared with the window); beside it, STATE.ipod names the "
        "iPod whose lists it holds");
    AddSongOptions(command, options->song);
    command->callback([options, &exitStatus] { exitStatus = RunSync(*options); });
}

} // namespace cli
