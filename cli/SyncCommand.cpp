// `pelorin sync [--from FOLDER] [--ipod NAME] --type TYPE`: one song sync run between the music
// library (or a folder of songs with --from) on the left and a mounted iPod on the right. An iPod
// attached to the library is reached through the library; any other, and every iPod synced with a
// folder, through its own database. The settings, the lists saved by the last synchronize run and
// the remembered answers live in the iPod's state file, the one the window uses for that iPod
// (SyncSession keeps it).

#include "cli/Commands.h"
#include "cli/SyncRun.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sources/ADir.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/SyncSession.h"
#include "APlatform/KnownFolders.h"
#include "APlatform/ScriptRunner.h"
#include "musiclib/LibraryScriptRunner.h"
#include "musiclib/MusicLibrary.h"

#include <filesystem>
#include <memory>

namespace cli {
namespace {

const std::vector<SyncTypeName> kSyncTypes = {
    {"copy-to-ipod", ASync::kLeftToRight, false,
     "copy the library's (or folder's) songs that the iPod lacks (or holds in another version) onto "
     "it; delete nothing"},
    {"make-ipod-equal", ASync::kLeftToRight, true,
     "the same, and also remove from the iPod the songs the library (or folder) lacks"},
    {"copy-from-ipod", ASync::kRightToLeft, false,
     "copy the iPod's songs that the library (or folder) lacks into it (as Artist/Album/07 Title.mp3); "
     "delete nothing"},
    {"make-library-equal", ASync::kRightToLeft, true,
     "the same, and also remove from the library the songs the iPod lacks"},
    {"make-folder-equal", ASync::kRightToLeft, true,
     "the same for the --from folder: remove from it the songs the iPod lacks"},
    {"merge", ASync::kTwoWay, false, "copy both ways; delete nothing"},
    {"synchronize", ASync::kTwoWay, true,
     "copy both ways, and carry over songs deleted on either side since the last synchronize run"},
};

struct SyncOptions {
    std::string from;
    std::string ipod;
    std::string playlist;
    std::string ipodPlaylist;
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
    const bool withLibrary = options.from.empty();
    std::string folder, problem;
    if (!withLibrary && !ResolveFolder(options.from, "the --from", folder, problem)) {
        run.Complain(problem);
        return kExitUsage;
    }
    if (!withLibrary && !options.playlist.empty()) {
        run.Complain("--playlist names a playlist of the library; with --from the folder is synced");
        return kExitUsage;
    }
    if ((withLibrary && options.run.type == "make-folder-equal") ||
        (!withLibrary && options.run.type == "make-library-equal")) {
        run.Complain(std::string("--type ") + options.run.type + " needs " +
                     (withLibrary ? "--from FOLDER" : "the library (no --from)") +
                     "; the type for this run is " +
                     (withLibrary ? "make-library-equal" : "make-folder-equal"));
        return kExitUsage;
    }
    const std::string libraryFolder = platform::LibraryFolder();
    if (withLibrary && !MusicLibrary::Exists(libraryFolder)) {
        run.Complain("there is no music library in " + libraryFolder +
                     " (`pelorin library init` makes one, `pelorin demo` a demonstration one; "
                     "--from FOLDER syncs a folder of songs instead)");
        return kExitError;
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
                         MountedIPod::WithoutDatabaseNote(AString::FromUTF8(volumesRoot)) +
                         " (PELORIN_VOLUMES names another folder to look in)");
            return options.ipod.empty() ? kExitError : kExitUsage;
        }
        run.Complain("no iPod called \"" + options.ipod + "\" is mounted under " + volumesRoot +
                     "; these are:" + Listing(pods));
        return kExitUsage;
    }

    const SyncSession::IPodAccess access = SyncSession::AccessOf(pod->name, withLibrary);
    if (!options.ipodPlaylist.empty() && access != SyncSession::IPodAccess::kThroughLibrary) {
        run.Complain("--ipod-playlist needs an iPod attached to the library (`pelorin library attach-ipod " +
                     pod->volume.ToStdString() + "`); this run would sync the whole iPod");
        return kExitUsage;
    }

    const AString statePath = options.run.state.empty() ? SyncSession::IPodStatePath(pod->name, access)
                                                        : FullPath(options.run.state);
    SyncSession session;
    const int leftType = withLibrary ? ADir::kTypeITunes : ADir::kTypeSongFolder;
    const AString leftRoot = withLibrary ? AString(ADirTunes::kRootMarker) : AString::FromUTF8(folder);
    if (int err = session.OpenIPod(leftType, leftRoot, *pod, statePath, access); err != 0) {
        run.Tell(session);
        return err == kErrInvalidPath ? kExitUsage : kExitError;
    }
    if (withLibrary)
        session.SetPlaylists(AString::FromUTF8(options.playlist), AString::FromUTF8(options.ipodPlaylist));
    if (int status = run.Prepare(); status != kExitOk)
        return status;
    run.Tell(session);
    session.Apply(run.Settings(&options.song));
    const AString mountPoint = pod->mountPoint;
    return run.Run(session, [&](int status) {
        // What the library holds for the iPod is written back to it before anything is said.
        if (auto* scripts = dynamic_cast<LibraryScriptRunner*>(platform::GetScriptRunner()))
            if (int err = scripts->Flush(); err != 0 && status == kExitOk)
                run.Complain("the library could not write the iPod's database back: " + Describe(err));
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
    CLI::App* command = app.add_subcommand("sync", "Sync the music library (or a folder of songs) with a "
                                                   "mounted iPod: plan the actions, optionally review them, "
                                                   "perform them.");
    command->footer(
        "Songs are matched by their tags (genre, artist, album, title, file type), not by their file names. "
        "The left side is the music library ($PELORIN_LIBRARY, else ~/Music/iTunes), or one of its playlists "
        "with --playlist; --from FOLDER syncs a folder of songs instead. An iPod attached to the library "
        "(`pelorin library attach-ipod`) is reached through it, and --ipod-playlist picks one of its "
        "playlists; "
        "any other iPod is read and written through its own database. Songs copied into the library are "
        "placed in its music folder as Artist/Album/07 Title.mp3. Songs copied onto the iPod go into its "
        "music folders and its database (written when the run ends); songs removed from the iPod are moved "
        "into \"Removed Files\" on the iPod unless --delete-instead-of-move.\n"
        "Sync types (--type):\n" +
        SyncTypesHelp(kSyncTypes) + "\n" + QuestionsHelp() +
        "The iPods are looked for under the volumes folder ($PELORIN_VOLUMES, else /Volumes, /media/$USER or "
        "/run/media/$USER); `pelorin ipods` lists them.\n"
        "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled (Ctrl-C; a second Ctrl-C quits at "
        "once).");
    auto options = std::make_shared<SyncOptions>();
    command->add_option("--from", options->from, "A folder of songs as the left side, instead of the library")
        ->option_text("FOLDER");
    command
        ->add_option("--playlist", options->playlist,
                     "The library's playlist to sync (default: the whole "
                     "library)")
        ->option_text("NAME");
    command
        ->add_option(
            "--ipod-playlist", options->ipodPlaylist,
            "The iPod's playlist to sync, for an iPod attached to the library (default: all its songs)")
        ->option_text("NAME");
    command
        ->add_option(
            "--ipod", options->ipod,
            "The iPod to sync with, by its name or its volume's name (default: the first one mounted)")
        ->option_text("NAME");
    AddRunOptions(
        command, options->run, kSyncTypes,
        "The state file that keeps this sync's settings, the lists saved by the last synchronize run "
        "and the remembered answers (default: the iPod's own in the application support folder's "
        "Veltrano/Ondrivel/, shared with the window: NAME.snc for an iPod reached through the library, "
        "NAME_PODDB.snc otherwise); beside it, STATE.ipod names the "
        "iPod whose lists it holds");
    AddSongOptions(command, options->song);
    command->callback([options, &exitStatus] { exitStatus = RunSync(*options); });
}

} // namespace cli
