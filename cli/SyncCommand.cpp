// `pelorin sync --from FOLDER [--ipod NAME] --type TYPE`: one song sync run between a folder of songs
// (the left side) and a mounted iPod, read and written through its own database (the right side).
// The settings, the lists saved by the last synchronize run and the remembered answers live in the
// iPod's state file, the one the window uses for that iPod; beside it, the identity of the iPod
// whose lists it holds.

#include "cli/Commands.h"
#include "cli/MountedIPods.h"
#include "cli/SyncRun.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "APlatform/KnownFolders.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

namespace cli {
namespace {

const std::vector<SyncTypeName> kSyncTypes = {
    {"copy-to-ipod", 1, 0,
     "copy the folder's songs that the iPod lacks (or holds in another version) onto it; "
     "delete nothing"},
    {"make-ipod-equal", 1, 1, "the same, and also remove from the iPod the songs the folder lacks"},
    {"copy-from-ipod", 2, 0,
     "copy the iPod's songs that the folder lacks into it (as Artist/Album/07 Title.mp3); "
     "delete nothing"},
    {"make-folder-equal", 2, 1, "the same, and also remove from the folder the songs the iPod lacks"},
    {"merge", 3, 0, "copy both ways; delete nothing"},
    {"synchronize", 3, 1,
     "copy both ways, and carry over songs deleted on either side since the last synchronize run"},
};

struct SyncOptions {
    std::string from;
    std::string ipod;
    RunOptions run;
    SongOptions song;
};

// The iPod's name as a file name: no "/", no control characters, no leading ".".
std::string SafeFileName(const std::string& name)
{
    std::string safe;
    for (unsigned char c : name)
        safe += (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == 0x7F) ? '_' : static_cast<char>(c);
    if (!safe.empty() && safe[0] == '.')
        safe[0] = '_';
    // Long names are cut, at the start of a character.
    if (safe.size() > 120) {
        size_t cut = 120;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
            --cut;
        safe.resize(cut);
    }
    return safe.empty() ? std::string("iPod") : safe;
}

// The state file of an iPod: named after it, in the application support folder's Veltrano/Ondrivel.
std::string StatePathOf(const std::string& ipodName)
{
    return platform::ApplicationSupportFolder() + "/Veltrano/Ondrivel/" + SafeFileName(ipodName) +
           "_PODDB.snc";
}

std::string Listing(const std::vector<MountedIPod>& pods)
{
    std::string text;
    for (const MountedIPod& pod : pods)
        text += "\n  \"" + (pod.nameRead ? pod.name : std::string("(unreadable database)")) + "\" on " +
                pod.volume;
    return text;
}

const MountedIPod* ChooseIPod(const std::vector<MountedIPod>& pods, const std::string& wanted)
{
    if (wanted.empty())
        return pods.empty() ? nullptr : &pods.front();
    for (const MountedIPod& pod : pods)
        if (pod.nameRead && pod.name == wanted)
            return &pod;
    for (const MountedIPod& pod : pods)
        if (pod.volume == wanted)
            return &pod;
    // Names as typed often differ in case only.
    const AString folded = AString::FromUTF8(wanted);
    for (const MountedIPod& pod : pods)
        if (pod.nameRead && AString::FromUTF8(pod.name).CompareNoCase(folded) == 0)
            return &pod;
    return nullptr;
}

// A group read from the state file, or a new one holding one song sync from a folder to an iPod.
std::unique_ptr<ASyncGroup> LoadGroup(SyncRun& run, const std::string& statePath)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(statePath).parent_path(), error);
    const bool existed =
        std::filesystem::exists(statePath, error) && std::filesystem::file_size(statePath, error) > 0;
    auto group = std::make_unique<ASyncGroup>();
    AString path = AString::FromUTF8(statePath);
    if (int err = group->ReadSyncState(&path); err != 0) {
        if (existed)
            run.Complain("the state file " + statePath + " cannot be read (" + Describe(err) +
                         "); this run starts from fresh settings and rewrites it");
        group = std::make_unique<ASyncGroup>();
    }
    if (group->NumSyncs() == 0)
        group->AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    auto* sync = dynamic_cast<ASyncLib*>(group->GetSync(0));
    if (!sync) {
        run.Complain("the state file " + statePath +
                     " holds no song sync; this run starts from fresh settings "
                     "and rewrites it");
        group = std::make_unique<ASyncGroup>();
        group->AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    } else if (sync->GetDir1()->GetType() != ADir::kTypeSongFolder ||
               sync->GetDir2()->GetType() != ADir::kTypeIPodDB) {
        // The window's sync of this iPod may run from the library instead of a folder: this run
        // uses the same settings with a folder on the left.
        sync->SetTypes(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    }
    return group;
}

// The identity of the iPod whose lists the state file holds is kept beside it (the state file's
// records are shared with the window and stay as they are): iPods are often called the same.
std::string IdentityPathOf(const std::string& statePath) { return statePath + ".ipod"; }

// The identity kept beside a state file; empty when there is none.
std::string ReadSavedIdentity(const std::string& statePath)
{
    std::ifstream in(IdentityPathOf(statePath), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line.size() > 200 ? std::string() : line;
}

// Keeps `identity` beside the state file, after the state file itself was written: a run cut off
// between the two leaves an identity that no longer matches the lists, and lists that do not match
// are dropped rather than read as deletions. An unknown identity removes an older one.
int WriteSavedIdentity(const std::string& statePath, const std::string& identity)
{
    AString path = AString::FromUTF8(IdentityPathOf(statePath));
    if (identity.empty())
        return AFile::FileExists(&path) ? AFile::Delete(&path) : 0;
    const std::string text = identity + "\n";
    return AFile::WriteWholeFileSafely(&path, text.data(), text.size());
}

// Drops the lists saved by the last synchronize run when they belong to another folder or another
// iPod: against this run's sides they would read as deletions. Two iPods of the same name are told
// apart by their identities, when both are known.
void DropForeignSavedLists(SyncRun& run, ASyncLib& sync, const AString& folderRoot, const MountedIPod& pod,
                           const std::string& identity, const std::string& savedIdentity)
{
    ADir* savedFolder = sync.GetSavedDir1();
    auto* savedIPod = static_cast<ADirPodDB*>(sync.GetSavedDir2());
    if (savedFolder->Count() == 0 && savedIPod->Count() == 0)
        return;
    AString savedName;
    savedIPod->GetIPodName(savedName);
    const bool sameFolder = *savedFolder->GetRootPath() == folderRoot;
    const bool sameName = savedName == AString::FromUTF8(pod.name);
    const bool sameIdentity = identity.empty() || savedIdentity.empty() || identity == savedIdentity;
    if (sameFolder && sameName && sameIdentity)
        return;
    auto bare = [](const AString& root) {
        std::string text = root.ToStdString();
        if (text.size() > 1 && text.back() == '/')
            text.pop_back();
        return text;
    };
    std::string whose;
    if (!sameFolder)
        whose = "the folder " + bare(*savedFolder->GetRootPath()) + " (not " + bare(folderRoot) + ")";
    if (!sameName || !sameIdentity) {
        whose += std::string(whose.empty() ? "" : " and ") + "the iPod \"" + savedName.ToStdString() + "\"";
        if (!sameName)
            whose += " (not \"" + pod.name + "\")";
        if (!sameIdentity)
            whose += " with " + savedIdentity + " (this one has " + identity + ")";
    }
    run.Say("The lists saved by the last synchronize run belong to " + whose +
            "; they are dropped, so this run carries no deletions over.");
    savedFolder->DeleteAll();
    savedIPod->DeleteAll();
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
    const std::vector<MountedIPod> pods = FindIPods(volumesRoot);
    const MountedIPod* pod = ChooseIPod(pods, options.ipod);
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
    if (!pod->nameRead) {
        run.Complain("the database of the iPod on " + pod->volume + " (" + pod->path +
                     "/iPod_Control/iTunes/iTunesDB) cannot be read" +
                     (pod->problem.empty() ? std::string() : " (" + pod->problem + ")") +
                     "; nothing was changed");
        return kExitError;
    }
    if (pod->readOnly) {
        run.Complain("the iPod \"" + pod->name + "\" (" + pod->path +
                     ") is mounted read-only, so its music cannot be changed. An iPod formatted as journaled "
                     "HFS+ must be mounted writable (or reformatted as FAT) before Pelorin can sync it.");
        return kExitError;
    }
    if (pod->signedDatabase) {
        AString root = AString::FromUTF8(pod->path);
        run.Complain("the iPod \"" + pod->name + "\" (" + pod->path + ") is not supported. " +
                     IPodDB::SignatureRefusal(&root).ToStdString());
        return kExitError;
    }
    std::error_code error;
    const std::string ipodPath = std::filesystem::canonical(pod->path, error).string();
    if (error || folder == ipodPath || Inside(folder, ipodPath) || Inside(ipodPath, folder)) {
        run.Complain("the folder " + folder + " and the iPod " + pod->path +
                     " must not lie inside one another; a sync would copy songs into themselves");
        return kExitUsage;
    }
    if (int status = run.Prepare(); status != kExitOk)
        return status;

    const std::string statePath = options.run.state.empty() ? StatePathOf(pod->name) : options.run.state;
    std::unique_ptr<ASyncGroup> group = LoadGroup(run, statePath);
    auto* sync = static_cast<ASyncLib*>(group->GetSync(0));
    AString folderRoot = AString::FromUTF8(folder + "/");
    AString ipodRoot = AString::FromUTF8(ipodPath + "/");
    // The song options first: a change of what tells songs apart drops the saved lists anyway.
    ApplySongOptions(*sync, options.song);
    AString identityRoot = AString::FromUTF8(ipodPath);
    const std::string identity = IPodDB::GetIdentity(&identityRoot).ToStdString();
    DropForeignSavedLists(run, *sync, folderRoot, *pod, identity, ReadSavedIdentity(statePath));
    sync->SetRootPath1(&folderRoot, nullptr, 0);
    sync->SetRootPath2(&ipodRoot, nullptr, 0);
    run.Configure(*sync);

    const int status = run.Run(
        *sync, [&group] { return group->DoSync(Terminal::CancelRequested, 0); },
        [&group, &statePath, &identity] {
            AString path = AString::FromUTF8(statePath);
            if (int err = group->WriteSyncState(&path); err != 0)
                return err;
            return WriteSavedIdentity(statePath, identity);
        },
        statePath);
    // An iPod that updates itself from a library would undo the sync when next it meets one. Set
    // once the run is through, so that a dry run or a run cancelled before it began leaves the
    // iPod's settings as they were.
    const bool ipodReceives = run.Type().autoAction == 1 || run.Type().autoAction == 3;
    if (ipodReceives && status != kExitCancelled && pod->autoUpdate && *pod->autoUpdate) {
        AString root = AString::FromUTF8(ipodPath);
        if (IPodDB::SetIPodFlag(&root) == 0)
            run.Say("The iPod \"" + pod->name +
                    "\" was set to update itself automatically from a library; it is now "
                    "set to manual updating, so that the songs synced here stay.");
    }
    if (status == kExitOk) {
        AString root = AString::FromUTF8(ipodPath);
        IPodDB db;
        if (db.LoadName(&root, 1) == 0)
            std::cout << "The iPod \"" << pod->name << "\" holds " << db.GetTrackCount() << " songs.\n";
    }
    return status;
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
