// `pelorin tool NAME --side ...`, `pelorin add --to ... PATH...` and `pelorin settings ...`: the
// library tools and the settings of the window, from the terminal. The tools run as the window runs
// them (LibraryTools on the core's worker thread, under the busy lock and the group's lock); an
// iPod's settings are read from and written to the iPod's own state file, the one the window and
// `pelorin sync` use.

#include "cli/Commands.h"
#include "cli/SyncRun.h"
#include "cli/Terminal.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sources/ADirPod.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/LibraryTools.h"
#include "ACommon/sync/RunController.h"
#include "ACommon/sync/SyncSession.h"
#include "ACommon/sync/SyncSettings.h"
#include "APlatform/KnownFolders.h"
#include "musiclib/LibraryFiles.h"
#include "musiclib/LibraryScriptRunner.h"
#include "musiclib/MusicLibrary.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cli {
namespace {

using Tool = LibraryTools::Tool;
using Side = LibraryTools::Side;

const std::map<std::string, Tool> kTools = {{"duplicates", Tool::kDuplicates},
                                            {"orphans", Tool::kOrphans},
                                            {"disconnected", Tool::kDisconnected},
                                            {"not-owned", Tool::kNotOwned},
                                            {"album-art", Tool::kAlbumArt}};

struct ToolOptions {
    std::string tool;
    std::string side;
    std::string ipod;
    std::string playlist;
    std::string state;
    std::string log;
    std::vector<std::string> paths;
    bool yes = false;
    bool no = false;
    bool dryRun = false;
    bool verbose = false;
    bool allowMassDeletion = false;
};

void Complain(const char* command, const std::string& text)
{
    std::fprintf(stderr, "pelorin %s: %s\n", command, text.c_str());
}

// The side a command works on: a folder of songs, or an iPod with its saved settings.
struct Subject {
    std::unique_ptr<ADirSongDir> folder;
    std::unique_ptr<ASyncGroup> group;
    AString statePath;
    bool mayWriteState = false;
    // A run that changes nothing leaves even a settings file it cannot read where it is.
    bool readOnly = false;
    AString name;
};

// Sync 0 of the subject's group as a song sync with sides of these types (made when the state file
// held none; a folder kept as the left side of an iPod's sync stays); null, said, when there is none.
ASyncLib* EnsureSongSync(const char* command, Subject& subject, int leftType, int rightType)
{
    if (subject.group->NumSyncs() == 0)
        subject.group->AddASyncLib(leftType, rightType);
    auto* sync = dynamic_cast<ASyncLib*>(subject.group->GetSync(0));
    if (!sync) {
        Complain(command, "the state file " + subject.statePath.ToStdString() + " holds no song sync");
        return nullptr;
    }
    const int left = leftType == ADir::kTypeITunes ? leftType : sync->GetDir1()->GetType();
    if ((sync->GetDir1()->GetType() != left || sync->GetDir2()->GetType() != rightType) &&
        sync->SetTypes(left, rightType) != 0) {
        Complain(command,
                 "the settings in " + subject.statePath.ToStdString() + " cannot be used for this side");
        return nullptr;
    }
    return sync;
}

// The library with its settings: those kept for the iPod named by --ipod, else the default ones.
// kExitOk, or the status to end with.
int OpenLibrary(const char* command, const ToolOptions& options, Subject& subject)
{
    const std::string folder = platform::LibraryFolder();
    if (!MusicLibrary::Exists(folder)) {
        Complain(command,
                 "there is no music library in " + folder +
                     " (`pelorin library create` makes one; --side FOLDER works on a folder of songs)");
        return kExitError;
    }
    subject.name = AString("the Library");
    subject.statePath = !options.state.empty() ? FullPath(options.state)
                        : options.ipod.empty()
                            ? SyncSession::DefaultStatePath()
                            : SyncSession::IPodStatePath(AString::FromUTF8(options.ipod),
                                                         SyncSession::IPodAccess::kThroughLibrary);
    subject.group = std::make_unique<ASyncGroup>();
    AString notice;
    const ASyncGroup::Load load = subject.group->LoadSyncState(subject.statePath, &notice, !subject.readOnly);
    if (!notice.IsEmpty())
        Complain(command, notice.ToStdString());
    subject.mayWriteState = load != ASyncGroup::Load::kBusy && load != ASyncGroup::Load::kUnreadable;
    const bool databaseSide = subject.group->NumSyncs() > 0 && subject.group->GetSync(0)->GetDir2() &&
                              subject.group->GetSync(0)->GetDir2()->GetType() == ADir::kTypeIPodDB;
    ASyncLib* sync = EnsureSongSync(command, subject, ADir::kTypeITunes,
                                    databaseSide ? ADir::kTypeIPodDB : ADir::kTypeIPod);
    if (!sync)
        return kExitError;
    AString marker(ADirTunes::kRootMarker);
    sync->SetRootPath1(&marker, nullptr, 0);
    return kExitOk;
}

// Chooses the iPod and reads its settings. kExitOk, or the status to end with.
int OpenIPod(const char* command, const std::string& wanted, const std::string& state, Subject& subject)
{
    const std::string volumesRoot = platform::VolumesRoot();
    const std::vector<MountedIPod> pods = MountedIPod::FindAll(AString::FromUTF8(volumesRoot));
    const MountedIPod* pod = MountedIPod::Choose(pods, AString::FromUTF8(wanted));
    if (!pod) {
        std::string text = wanted.empty()
                               ? "no iPod is mounted under " + volumesRoot
                               : "no iPod called \"" + wanted + "\" is mounted under " + volumesRoot;
        for (const MountedIPod& each : pods)
            text += "\n  \"" + each.name.ToStdString() + "\" on " + each.volume.ToStdString();
        Complain(command, text + " (PELORIN_VOLUMES names another folder to look in)");
        return wanted.empty() ? kExitError : kExitUsage;
    }
    if (!pod->databaseRead || pod->readOnly || !pod->Supported()) {
        Complain(command,
                 "the iPod \"" + pod->name.ToStdString() + "\" on " + pod->mountPoint.ToStdString() +
                     (!pod->databaseRead ? " has a database that cannot be read; nothing was changed"
                      : pod->readOnly    ? " is mounted read-only; nothing was changed"
                                      : " cannot be changed: " + pod->signingProblems.front().ToStdString() +
                                            " Nothing was changed."));
        return kExitError;
    }
    subject.name = pod->name;
    const auto access = SyncSession::AccessOf(pod->name, MusicLibrary::Exists(platform::LibraryFolder()));
    const bool throughLibrary = access == SyncSession::IPodAccess::kThroughLibrary;
    const int rightType = throughLibrary ? ADir::kTypeIPod : ADir::kTypeIPodDB;
    subject.statePath = state.empty() ? SyncSession::IPodStatePath(pod->name, access) : FullPath(state);
    subject.group = std::make_unique<ASyncGroup>();
    AString notice;
    const ASyncGroup::Load load = subject.group->LoadSyncState(subject.statePath, &notice, !subject.readOnly);
    if (!notice.IsEmpty())
        Complain(command, notice.ToStdString());
    subject.mayWriteState = load != ASyncGroup::Load::kBusy && load != ASyncGroup::Load::kUnreadable;
    ASyncLib* sync = EnsureSongSync(command, subject,
                                    throughLibrary ? ADir::kTypeITunes : ADir::kTypeSongFolder, rightType);
    if (!sync)
        return kExitError;
    AString root = pod->mountPoint;
    if (throughLibrary) {
        for (ADir* side : {sync->GetDir2(), sync->GetSavedDir2()})
            static_cast<ADirPod*>(side)->ChooseIPod(pod->volume, pod->name);
    } else {
        root += "/";
    }
    sync->SetRootPath2(&root, nullptr, 0);
    return kExitOk;
}

// Opens the side named by `side`: "ipod", "library" or a folder of songs.
int OpenSide(const char* command, const ToolOptions& options, Subject& subject, Side& which)
{
    if (options.side == "ipod") {
        which = Side::kIPod;
        return OpenIPod(command, options.ipod, options.state, subject);
    }
    if (options.side == "library") {
        which = Side::kLibrary;
        return OpenLibrary(command, options, subject);
    }
    std::string folder, problem;
    if (!ResolveFolder(options.side, "the --side", folder, problem)) {
        Complain(command, problem + " (--side takes library, ipod or a folder of songs)");
        return kExitUsage;
    }
    if (!options.playlist.empty()) {
        Complain(command, "--playlist names a playlist of the library; a folder has none");
        return kExitUsage;
    }
    which = Side::kLibrary;
    subject.folder = std::make_unique<ADirSongDir>();
    AString root = AString::FromUTF8(folder + "/");
    subject.folder->SetRootPath(&root);
    subject.name = AString::FromUTF8(folder);
    return kExitOk;
}

// The store accounts that are the user's: the saved ones, and the library's account.
AString OwnAccounts(const AString& saved)
{
    return LibraryTools::OwnAccounts(
        saved, AString::FromUTF8(LibraryFiles::ReadAccount(platform::LibraryPreferencesPath())));
}

int Run(const char* command, Tool tool, const ToolOptions& options)
{
    Subject subject;
    subject.readOnly = options.dryRun;
    Side side = Side::kLibrary;
    if (int status = OpenSide(command, options, subject, side); status != kExitOk)
        return status;

    if (tool == Tool::kNotOwned) {
        const AString saved = subject.folder
                                  ? subject.folder->GetAppleIDs()
                                  : *static_cast<ASyncLib*>(subject.group->GetSync(0))->GetAppleIDs();
        if (SyncSettings::Items(OwnAccounts(saved)).empty()) {
            Complain(command,
                     "no store account of yours is known, so no purchase can be told to be yours; set "
                     "it first with `pelorin library account set NAME@EXAMPLE.COM`. Nothing was removed.");
            return kExitError;
        }
    }

    Terminal terminal;
    terminal.SetAnswers(options.yes  ? Terminal::Answers::YesToAll
                        : options.no ? Terminal::Answers::NoToAll
                                     : Terminal::Answers::Ask,
                        options.allowMassDeletion);
    // The tools that remove songs ask about each one, and refuse to start where they could not.
    // Adding files asks nothing of its own; should a side ask all the same, a question that cannot
    // be asked is answered No, which changes nothing.
    if (!options.dryRun && tool != Tool::kAddFiles && !terminal.CanAnswerQuestions()) {
        Complain(command, "standard input is not a terminal, so questions cannot be asked; pass --yes, --no "
                          "or --dry-run");
        return kExitUsage;
    }
    if (!options.log.empty() && !terminal.SetLogFile(options.log)) {
        Complain(command, "cannot open the log file " + options.log);
        return kExitUsage;
    }
    LibraryTools::Options toolOptions;
    toolOptions.dryRun = options.dryRun;
    toolOptions.playlistAfter = AString::FromUTF8(options.playlist);
    for (const std::string& path : options.paths)
        toolOptions.paths.push_back(FullPath(path));

    terminal.Install();
    Terminal::ResetCancel();
    Terminal::InstallInterruptHandler();
    AString status =
        subject.folder ? LibraryTools::StatusText(tool, subject.name) : LibraryTools::StatusText(tool, side);
    terminal.Print(status.ToStdString());

    LibraryTools::Outcome outcome;
    RunController controller;
    AString savedAccounts;
    const int started = controller.StartJob([&](CancelProc cancel) {
        if (subject.folder) {
            ADirSongDir& songs = *subject.folder;
            songs.SetVerboseLog(options.verbose ? 1 : 0);
            songs.SetAppleIDs(OwnAccounts(songs.GetAppleIDs()));
            outcome = LibraryTools::Run(tool, side, songs, toolOptions, cancel);
            return outcome.result;
        }
        auto* sync = static_cast<ASyncLib*>(subject.group->GetSync(0));
        sync->SetVerboseLog(options.verbose ? 1 : 0);
        // The library's account counts for this run; only an account the user adds is kept.
        savedAccounts = *sync->GetAppleIDs();
        AString accounts = OwnAccounts(savedAccounts);
        sync->SetAppleIDs(&accounts);
        outcome = LibraryTools::RunOnGroup(tool, side, *subject.group, toolOptions, cancel);
        // Of the accounts after the run, those it did not start with were added by the user.
        AString kept = savedAccounts;
        for (const AString& account : SyncSettings::Items(*sync->GetAppleIDs()))
            if (SyncSettings::WithoutItem(accounts, account) == accounts)
                kept = SyncSettings::WithItem(kept, account);
        sync->SetAppleIDs(&kept);
        return outcome.result;
    });
    if (started != 0) {
        Complain(command, "the tool cannot start (" + Describe(started) + ")");
        return kExitError;
    }
    while (controller.Wait(std::chrono::milliseconds(50)) != RunController::Event::kFinished)
        if (Terminal::CancelRequested())
            controller.Cancel();
    int result = controller.Join();
    terminal.FinishProgressLine();
    // What the library holds for an iPod it serves is written back to the iPod now.
    if (auto* scripts = dynamic_cast<LibraryScriptRunner*>(platform::GetScriptRunner()))
        if (int err = scripts->Flush(); err != 0) {
            Complain(command, "the library could not write the iPod's database back: " + Describe(err));
            if (result == 0)
                result = err;
        }
    if (outcome.accountAdded && !options.dryRun && subject.group && subject.mayWriteState) {
        std::error_code error;
        std::filesystem::create_directories(
            std::filesystem::path(subject.statePath.ToStdString()).parent_path(), error);
        if (int err = subject.group->WriteSyncState(&subject.statePath); err != 0)
            Complain(command, "the account you added cannot be saved in " + subject.statePath.ToStdString() +
                                  " (" + Describe(err) + ")");
    }
    terminal.Print(LibraryTools::ClosingText(tool, result, options.dryRun).ToStdString() + " " +
                   outcome.summary.ToStdString());
    if (result != 0 && result != kErrUserCancel)
        Complain(command, Describe(result));
    if (result == 0)
        return kExitOk;
    return result == kErrUserCancel ? kExitCancelled : kExitError;
}

void AddAnswerOptions(CLI::App* command, ToolOptions& options)
{
    auto* yes = command->add_flag("--yes", options.yes, "Answer Yes to All to every question");
    command->add_flag("--no", options.no, "Answer No to All to every question")->excludes(yes);
    command->add_flag("--dry-run", options.dryRun, "Report what would be done; change nothing");
    command->add_flag("--allow-mass-deletion", options.allowMassDeletion,
                      "Answer Yes to the one check before removing more than a handful of orphans");
    command
        ->add_option("--ipod", options.ipod,
                     "The iPod, by its name or its volume's name (default: the first one mounted)")
        ->option_text("NAME");
    command
        ->add_option("--state", options.state,
                     "The state file of the settings (default: the one the window uses: the iPod's "
                     "NAME_PODDB.snc, or NAME.snc for an iPod the library serves; for the library, that of "
                     "the iPod named by --ipod, else Default.snc)")
        ->option_text("FILE");
    command->add_flag("--verbose", options.verbose, "Date every log line");
    command->add_option("--log", options.log, "Write the log to FILE instead of standard error")
        ->option_text("FILE");
}

int Settings(const std::string& action, const std::vector<std::string>& words, const ToolOptions& options)
{
    Subject subject;
    subject.readOnly = action == "show";
    if (int status = OpenIPod("settings", options.ipod, options.state, subject); status != kExitOk)
        return status;
    auto* sync = static_cast<ASyncLib*>(subject.group->GetSync(0));
    if (action == "show") {
        for (const SyncSettings::Setting& setting : SyncSettings::All())
            std::printf("%-26s %s\n", setting.key, SyncSettings::Get(*sync, setting.key).c_str());
        std::printf("(the settings of \"%s\", kept in %s)\n", subject.name.ToStdString().c_str(),
                    subject.statePath.ToStdString().c_str());
        return kExitOk;
    }
    if (words.size() != 2) {
        Complain("settings", action + " takes a KEY and a VALUE");
        return kExitUsage;
    }
    const SyncSettings::Setting* setting = SyncSettings::Find(words[0]);
    if (!setting) {
        Complain("settings", "no setting is called \"" + words[0] + "\"; `pelorin settings show` lists them");
        return kExitUsage;
    }
    std::string value = words[1];
    if (action != "set") {
        if (setting->kind != SyncSettings::Kind::kList) {
            Complain("settings", words[0] + " is not a list; use set");
            return kExitUsage;
        }
        const AString list = AString::FromUTF8(SyncSettings::Get(*sync, words[0]));
        const AString item = AString::FromUTF8(words[1]);
        value = (action == "add" ? SyncSettings::WithItem(list, item) : SyncSettings::WithoutItem(list, item))
                    .ToStdString();
    }
    std::string problem;
    if (SyncSettings::Set(*sync, words[0], value, &problem) != 0) {
        Complain("settings", problem);
        return kExitUsage;
    }
    if (!subject.mayWriteState) {
        Complain("settings", "the settings were not saved");
        return kExitError;
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(subject.statePath.ToStdString()).parent_path(),
                                        error);
    if (int err = subject.group->WriteSyncState(&subject.statePath); err != 0) {
        Complain("settings", "cannot write " + subject.statePath.ToStdString() + " (" + Describe(err) + ")");
        return kExitError;
    }
    std::printf("%s %s\n", words[0].c_str(), SyncSettings::Get(*sync, words[0]).c_str());
    return kExitOk;
}

} // namespace

void AddToolCommands(CLI::App& app, int& exitStatus)
{
    CLI::App* tool = app.add_subcommand("tool", "Clean up a side with one of the library tools.");
    tool->footer("Tools: duplicates (remove duplicate songs), orphans (remove songs whose file is gone), "
                 "disconnected (add music files in the music folder that no song has), not-owned (remove "
                 "protected music bought with an account that is not yours; set yours with `pelorin library "
                 "account set`), album-art (write a song's linked picture into its MP3 file).\n"
                 "Removed songs are moved into \"Removed Files\" unless the side's settings say otherwise "
                 "(`pelorin settings`).\n"
                 "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled.");
    auto toolOptions = std::make_shared<ToolOptions>();
    tool->add_option("TOOL", toolOptions->tool, "duplicates, orphans, disconnected, not-owned or album-art")
        ->required()
        ->check(CLI::IsMember({"duplicates", "orphans", "disconnected", "not-owned", "album-art"}));
    tool->add_option("--side", toolOptions->side, "library, ipod, or a folder of songs")
        ->required()
        ->option_text("SIDE");
    tool->add_option("--playlist", toolOptions->playlist,
                     "The library's playlist chosen in the window; the tools work on the whole library")
        ->option_text("NAME");
    AddAnswerOptions(tool, *toolOptions);
    tool->callback(
        [toolOptions, &exitStatus] { exitStatus = Run("tool", kTools.at(toolOptions->tool), *toolOptions); });

    CLI::App* add = app.add_subcommand("add", "Add music files (and the music files in folders) to a side.");
    add->footer("Hidden files (names beginning with \".\") and files of a type the side does not take are "
                "skipped and counted; a file that cannot be read as a song is skipped and named in the log.\n"
                "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled.");
    auto addOptions = std::make_shared<ToolOptions>();
    add->add_option("--to", addOptions->side, "library, ipod, or a folder of songs")
        ->required()
        ->option_text("SIDE");
    add->add_option("PATH", addOptions->paths, "Files and folders to add")->required();
    AddAnswerOptions(add, *addOptions);
    add->callback([addOptions, &exitStatus] { exitStatus = Run("add", Tool::kAddFiles, *addOptions); });

    CLI::App* settings = app.add_subcommand("settings", "Show or change an iPod's saved sync settings.");
    settings->footer("settings show; settings set KEY VALUE; settings add KEY ITEM and settings remove KEY "
                     "ITEM for the lists (a list whose last item is removed is no filter). Flags take on or "
                     "off; lists take items separated by \":\".");
    auto settingsOptions = std::make_shared<ToolOptions>();
    auto action = std::make_shared<std::string>();
    auto words = std::make_shared<std::vector<std::string>>();
    settings->add_option("ACTION", *action, "show, set, add or remove")
        ->required()
        ->check(CLI::IsMember({"show", "set", "add", "remove"}));
    settings->add_option("KEY VALUE", *words, "The setting and its value");
    settings->add_option("--ipod", settingsOptions->ipod, "The iPod (default: the first one mounted)")
        ->option_text("NAME");
    settings->add_option("--state", settingsOptions->state, "The state file (default: the iPod's own)")
        ->option_text("FILE");
    settings->callback([settingsOptions, action, words, &exitStatus] {
        exitStatus = Settings(*action, *words, *settingsOptions);
    });
}

} // namespace cli
