#include "cli/SyncRun.h"

#include "cli/Commands.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/ASyncLib.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace cli {
namespace {

// The terminal and the answer mode of the running command, for the review procedure (a plain
// function pointer, as the sync engine calls it).
Terminal* gTerminal = nullptr;
Terminal::Answers gAnswers = Terminal::Answers::Ask;

std::string Shown(ASync* sync, const AString& path)
{
    if (path.IsEmpty())
        return "-";
    return sync->FormatVPForDisplay(&path, 1, -1, 1).ToStdString();
}

void PrintActions(ASync* sync)
{
    std::ostringstream table;
    const int count = sync->GetActionCount();
    const bool songs = sync->GetType() == 2;
    table << "Planned actions (" << count << "):\n";
    for (int i = 0; i < count; ++i) {
        ASync::SyncAction* action = sync->GetAction(i);
        const char* word = action->kind == ASync::kUndecided ? "Undecided" : ASync::KindWord(action->kind);
        char head[64];
        std::snprintf(head, sizeof head, "%5d [%c] %-16s ", i + 1, action->active ? 'x' : ' ', word);
        // Both paths of a song action name the same song: the destination is shown as its side.
        const std::string destination = songs && !action->path2.IsEmpty()
                                            ? sync->FormatVPForDisplay(&action->path2, 0, -1, 1).ToStdString()
                                            : Shown(sync, action->path2);
        table << head << Shown(sync, action->path1) << "  ->  " << destination << "\n";
    }
    gTerminal->Print(table.str());
}

// The review of the planned actions: the table, then perform, change or cancel.
int ReviewActions(AArray*, ASync* sync)
{
    PrintActions(sync);
    if (gAnswers != Terminal::Answers::Ask)
        return gAnswers == Terminal::Answers::YesToAll ? 0 : kErrUserCancel;
    for (;;) {
        std::string line;
        if (!gTerminal->Prompt("Enter: perform the ticked actions; numbers (2 5-7): tick or untick them; "
                               "l N / r N: keep the left / right file of undecided pair N; c: cancel\n> ",
                               line) ||
            Terminal::CancelRequested())
            return kErrUserCancel;
        if (line.empty() || line == "p" || line == "y")
            return 0;
        if (line == "c" || line == "q" || line == "n")
            return kErrUserCancel;
        if (!ApplyReviewAnswer(sync, line))
            gTerminal->Print("Not understood: " + line);
        PrintActions(sync);
    }
}

} // namespace

// Applies one answer of the review prompt: numbers and ranges toggle actions, "l N" and "r N"
// settle an undecided pair for the left or the right file. An answer is applied whole or not at all:
// false, with nothing changed, when any part of it is not understood.
bool ApplyReviewAnswer(ASync* sync, const std::string& line)
{
    const int count = sync->GetActionCount();
    // One pass checks the whole answer, a second one carries it out.
    auto walk = [&](bool apply) {
        std::istringstream words(line);
        std::string word;
        bool any = false;
        while (words >> word) {
            if (word == "l" || word == "r" || word == "L" || word == "R") {
                int number = 0;
                if (!(words >> number) || number < 1 || number > count)
                    return false;
                ASync::SyncAction* action = sync->GetAction(number - 1);
                if (action->kind != ASync::kUndecided)
                    return false;
                if (apply) {
                    sync->ChangeSyncAction(action, (word == "l" || word == "L") ? 6 : 7);
                    action->active = 1;
                }
                any = true;
                continue;
            }
            int first = 0, last = 0;
            char dash = 0;
            std::istringstream range(word);
            if (!(range >> first))
                return false;
            last = first;
            if (range >> dash) {
                if (dash != '-' || !(range >> last))
                    return false;
            }
            if (first < 1 || last > count || first > last)
                return false;
            if (apply)
                for (int n = first; n <= last; ++n) {
                    ASync::SyncAction* action = sync->GetAction(n - 1);
                    if (action->operation != ASync::kOpUndecided)
                        action->active = action->active ? 0 : 1;
                }
            any = true;
        }
        return any;
    };
    return walk(false) && walk(true);
}

std::string Describe(int err)
{
    // The message of the code, and which file failed and why when the failing operation said so.
    AString text;
    AError::AddErrorMsg(&text, err);
    return std::to_string(err) + text.ToStdString();
}

bool ResolveFolder(const std::string& given, const char* which, std::string& resolved, std::string& problem)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::canonical(given, error);
    if (error || !std::filesystem::is_directory(path, error)) {
        problem = std::string(which) + " folder does not exist or is not a folder: " + given;
        return false;
    }
    resolved = path.string();
    if (AString::FromUTF8(resolved).IsEmpty()) {
        problem = std::string(which) + " folder's path is not valid UTF-8: " + given;
        return false;
    }
    return true;
}

bool Inside(const std::string& inner, const std::string& outer)
{
    if (outer == "/")
        return true;
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == '/';
}

std::string SyncTypesHelp(const std::vector<SyncTypeName>& types)
{
    std::string text;
    for (const SyncTypeName& type : types) {
        const std::string name = type.name;
        text += "  " + name + std::string(name.size() < 18 ? 18 - name.size() : 1, ' ') + type.meaning + "\n";
    }
    return text;
}

std::string QuestionsHelp()
{
    return "Questions (\"Replace file?\", \"Replace newer file?\", \"Delete file?\") are asked on the "
           "terminal with the answers Yes, No, Yes to All, No to All; Yes to All and No to All typed there "
           "are remembered in the state file until --reset-answers. Without a terminal, pass --yes or --no. "
           "A plan that would delete more than half of one side is checked with a Yes/No question of its "
           "own, every time: --yes does not answer it (see --allow-mass-deletion).\n";
}

void AddRunOptions(CLI::App* command, RunOptions& options, const std::vector<SyncTypeName>& types,
                   const std::string& stateHelp)
{
    std::vector<std::string> names;
    for (const SyncTypeName& type : types)
        names.emplace_back(type.name);
    command->add_option("--type", options.type, "The sync type (see below)")
        ->required()
        ->check(CLI::IsMember(names));
    command->add_option("--state", options.state, stateHelp)->option_text("FILE");
    command->add_flag("--review", options.review,
                      "Show the planned actions as a numbered table before performing them; then perform "
                      "them, untick some, or cancel. With --yes the shown plan is performed, with --no "
                      "nothing is performed (a dry run)");
    CLI::Option* yes =
        command->add_flag("--yes", options.yes, "Answer every question Yes to All (for this run only)");
    CLI::Option* no =
        command->add_flag("--no", options.no, "Answer every question No to All (for this run only)");
    yes->excludes(no);
    command->add_flag("--allow-mass-deletion", options.allowMassDeletion,
                      "Answer Yes to the check before a plan deletes more than half of one side (for a run "
                      "meant to empty a side). Without it that check is asked at the terminal even with "
                      "--yes, and answered No (the run is cancelled) when there is no terminal");
    command->add_flag("--stop-on-error", options.stopOnError,
                      "Stop planning or performing at the first error");
    command->add_flag("--log-only", options.logOnly,
                      "Create and delete no folders (files are still copied and deleted)");
    command->add_flag("--verbose", options.verbose,
                      "Date more log lines and log more (every folder created or deleted)");
    command->add_option("--log", options.log, "Append the run log to FILE instead of standard error")
        ->option_text("FILE");
    command->add_flag("--reset-answers", options.resetAnswers,
                      "Forget the remembered Yes to All / No to All answers before this run");
}

void AddSongOptions(CLI::App* command, SongOptions& options, CLI::Option* needs)
{
    const std::string prefix = needs ? "With --songs: " : "";
    std::vector<CLI::Option*> added{
        command->add_flag("--no-genre", options.noGenre,
                          prefix + "songs of different genres can be the same song"),
        command->add_flag("--no-album", options.noAlbum,
                          prefix + "songs of different albums can be the same song"),
        command->add_flag("--no-file-type", options.noFileType,
                          prefix + "songs of different file types (mp3, m4a) can be the same song"),
        command->add_flag("--dont-dup-songs", options.dontDupSongs,
                          prefix + "a song present on both sides is never replaced, whatever its file holds, "
                                   "and a song of a known artist is not copied beside one of the same name"),
        command->add_flag("--delete-instead-of-move", options.deleteInsteadOfMove,
                          prefix + "delete songs outright instead of moving them into \"Removed Files\""),
    };
    if (needs)
        for (CLI::Option* option : added)
            option->needs(needs);
}

void ApplySongOptions(ASyncLib& sync, const SongOptions& options)
{
    sync.SetGenreRelevantOnDupSongCompare(options.noGenre ? 0 : 1);
    sync.SetAlbumRelevantOnDupSongCompare(options.noAlbum ? 0 : 1);
    sync.SetFileTypeRelevantOnDupSongCompare(options.noFileType ? 0 : 1);
    sync.SetDontDupSongs(options.dontDupSongs ? 1 : 0);
    sync.SetMoveInsteadOfDelete(options.deleteInsteadOfMove ? 0 : 1);
}

int ReadStateFile(const std::string& path, const std::function<int(AFile*)>& read)
{
    if (!std::filesystem::exists(path))
        return 0;
    AString statePath = AString::FromUTF8(path);
    AFile file;
    if (int err = file.Open(&statePath, 1); err != 0)
        return err;
    return read(&file);
}

int WriteStateFile(const std::string& path, const std::function<int(AFile*)>& write)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    AString target = AString::FromUTF8(path);
    return AFile::ReplaceSafely(&target, write);
}

SyncRun::SyncRun(const char* command, const RunOptions& options, const std::vector<SyncTypeName>& types)
    : command(command), options(options), types(types)
{
}

SyncRun::~SyncRun()
{
    if (gTerminal == &terminal)
        gTerminal = nullptr;
}

void SyncRun::Complain(const std::string& text) const
{
    std::fprintf(stderr, "pelorin %s: %s\n", command, text.c_str());
}

void SyncRun::Say(const std::string& text) { terminal.Print(text); }

int SyncRun::Prepare()
{
    for (const SyncTypeName& candidate : types)
        if (options.type == candidate.name)
            type = &candidate;
    if (!type) {
        Complain("unknown --type " + options.type);
        return kExitUsage;
    }
    gAnswers = options.yes  ? Terminal::Answers::YesToAll
               : options.no ? Terminal::Answers::NoToAll
                            : Terminal::Answers::Ask;
    terminal.SetAnswers(gAnswers, options.allowMassDeletion);
    if (!terminal.CanAnswerQuestions()) {
        Complain(
            "standard input is not a terminal, so questions (\"Replace file?\", \"Delete file?\") cannot be "
            "asked; pass --yes to answer Yes to All, or --no to answer No to All");
        return kExitUsage;
    }
    if (!options.log.empty() && !terminal.SetLogFile(options.log)) {
        Complain("cannot open the log file " + options.log);
        return kExitUsage;
    }
    return kExitOk;
}

void SyncRun::Configure(ASync& sync)
{
    sync.SetAutoAction(type->autoAction);
    sync.SetDestDeletes(type->destDeletes);
    sync.SetStopOnErr(options.stopOnError ? 1 : 0);
    sync.SetLogOnly(options.logOnly ? 1 : 0);
    sync.SetVerboseLog(options.verbose ? 1 : 0);
    sync.SetShowActionsList(options.review ? 1 : 0);
    sync.SetActionsListDlogProc(ReviewActions);
    if (options.resetAnswers)
        sync.ResetAlertSettings();
}

int SyncRun::Run(ASync& sync, const std::function<int()>& run, const std::function<int()>& save,
                 const std::string& statePath)
{
    // Answers given by --yes or --no hold for this run only; answers typed at the terminal with
    // "Yes to All" or "No to All" are remembered in the state file.
    const int replaceAnswer = sync.GetReplaceAnswer();
    const int replaceNewerAnswer = sync.GetReplaceNewerAnswer();
    const int deleteAnswer = sync.GetDeleteAnswer();
    if (gAnswers != Terminal::Answers::Ask)
        sync.ResetAlertSettings();

    terminal.Install();
    gTerminal = &terminal;
    Terminal::ResetCancel();
    Terminal::InstallInterruptHandler();

    const int result = run();

    if (gAnswers != Terminal::Answers::Ask)
        sync.SetRememberedAnswers(replaceAnswer, replaceNewerAnswer, deleteAnswer);
    int stateErr = save();
    bool listsLeftOut = false;
    if (stateErr == kErrAddSong) {
        // A path in the lists is longer than the state file holds. Without the lists the settings
        // and answers are still kept, and the next run takes every file for new (nothing is
        // deleted on the strength of a list); keeping the earlier file instead would leave lists
        // behind that no longer match the folders, and those turn files added since into deletions.
        for (ADir* dir : {sync.GetDir1(), sync.GetDir2(), sync.GetSavedDir1(), sync.GetSavedDir2()})
            if (dir)
                dir->DeleteAll();
        stateErr = save();
        listsLeftOut = stateErr == 0;
    }
    terminal.FinishProgressLine();
    gTerminal = nullptr;
    if (listsLeftOut)
        Complain("the state file " + statePath +
                 " was written without the lists of files: a path in them is longer than the 1023 "
                 "characters it can hold, so the next synchronize run carries no deletions over");
    else if (stateErr == kErrAddSong)
        Complain("cannot write the state file " + statePath +
                 ": a filter in it is longer than the 1023 characters it can hold; the earlier state "
                 "file, if any, is kept");
    else if (stateErr != 0)
        Complain("cannot write the state file " + statePath + " (" + Describe(stateErr) + ")");
    if (result == kErrUserCancel)
        return kExitCancelled;
    if (result != 0) {
        Complain("the sync ended with error " + Describe(result));
        return kExitError;
    }
    return stateErr == 0 ? kExitOk : kExitError;
}

} // namespace cli
