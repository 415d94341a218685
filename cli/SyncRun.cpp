#include "cli/SyncRun.h"

#include "cli/Commands.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/RunController.h"
#include "ACommon/tags/AudioFormats.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace cli {
namespace {

// How often the terminal looks for a review, the run's end or Ctrl-C while a run goes on.
constexpr std::chrono::milliseconds kPollInterval{50};

} // namespace

bool ParseReviewAnswer(const std::vector<ActionReview::Item>& actions, const std::string& line,
                       ActionReview::Answer* answer)
{
    const int count = static_cast<int>(actions.size());
    ActionReview::Answer parsed;
    for (const ActionReview::Item& item : actions)
        parsed.active.push_back(item.active);
    std::istringstream words(line);
    std::string word;
    bool any = false;
    while (words >> word) {
        if (word == "l" || word == "r" || word == "L" || word == "R") {
            int number = 0;
            if (!(words >> number) || number < 1 || number > count)
                return false;
            if (actions[static_cast<std::size_t>(number - 1)].kind != ASync::kUndecided)
                return false;
            const bool left = word == "l" || word == "L";
            parsed.keep.emplace_back(number - 1, left ? ASync::kKeepLeft : ASync::kKeepRight);
            parsed.active[static_cast<std::size_t>(number - 1)] = true;
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
        // An undecided pair is settled with l / r, not ticked.
        for (int n = first; n <= last; ++n)
            if (actions[static_cast<std::size_t>(n - 1)].kind != ASync::kUndecided)
                parsed.active[static_cast<std::size_t>(n - 1)] =
                    !parsed.active[static_cast<std::size_t>(n - 1)];
        any = true;
    }
    if (!any)
        return false;
    *answer = std::move(parsed);
    return true;
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

AString FullPath(const std::string& given)
{
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(given, error);
    return AString::FromUTF8(error ? given : full.string());
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
           "own, every time: --yes does not answer it (see --allow-mass-deletion).\n"
           "Every run ends with a line that says what it did: the songs or files copied each way and their "
           "size, replaced, removed, kept as they were, and the errors.\n";
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
                      "them, untick some, or cancel. With --yes the shown plan is performed, with --no the "
                      "run is cancelled before anything is performed");
    command->add_flag("--dry-run", options.dryRun,
                      "Plan the sync and print the planned actions, then stop: no file is copied, replaced "
                      "or removed, no folder made, the state file is not written and the iPod's settings "
                      "are left as they are");
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
    command->add_flag("--no-folder-changes", options.noFolderChanges,
                      "Create and delete no folders (files are still copied, replaced and removed); kept in "
                      "the state file");
    // The old name read like a run that only logs, which it never was: it is refused with the
    // explanation rather than taken.
    command->add_flag("--log-only", options.logOnly)->group("");
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
        command
            ->add_option("--aac-kbps", options.aacKbps,
                         prefix + "the bit rate of AAC files made from songs an iPod cannot play (FLAC, Ogg, "
                                  "Opus), in kbit/s (default 256); kept in the state file")
            ->check(CLI::Range(AudioFormats::kMinAACKbps, AudioFormats::kMaxAACKbps)),
        command->add_flag("--always-aac,!--no-always-aac", options.alwaysAAC,
                          prefix +
                              "convert lossless songs an iPod cannot play into AAC too, instead of Apple "
                              "Lossless (--no-always-aac: Apple Lossless again); kept in the state file"),
    };
    if (needs)
        for (CLI::Option* option : added)
            option->needs(needs);
}

SyncRun::SyncRun(const char* name, const RunOptions& given, const std::vector<SyncTypeName>& typeNames)
    : command(name), options(given), types(typeNames)
{
}

void SyncRun::Complain(const std::string& text) const
{
    std::fprintf(stderr, "pelorin %s: %s\n", command, text.c_str());
}

void SyncRun::Say(const std::string& text) { terminal.Print(text); }

void SyncRun::Tell(SyncSession& session)
{
    for (const SyncSession::Notice& notice : session.TakeNotices()) {
        if (notice.warning) {
            terminal.FinishProgressLine();
            Complain(notice.text.ToStdString());
        } else {
            Say(notice.text.ToStdString());
        }
    }
}

int SyncRun::Prepare()
{
    if (options.logOnly) {
        Complain("--log-only is now called --no-folder-changes: it only ever kept folders from being "
                 "created or deleted, while files were copied and deleted. For a run that changes nothing, "
                 "use --dry-run");
        return kExitUsage;
    }
    for (const SyncTypeName& candidate : types)
        if (options.type == candidate.name)
            type = &candidate;
    if (!type) {
        Complain("unknown --type " + options.type);
        return kExitUsage;
    }
    terminal.SetAnswers(options.yes  ? Terminal::Answers::YesToAll
                        : options.no ? Terminal::Answers::NoToAll
                                     : Terminal::Answers::Ask,
                        options.allowMassDeletion);
    // A dry run asks nothing.
    if (!options.dryRun && !terminal.CanAnswerQuestions()) {
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

SyncSession::Settings SyncRun::Settings(const SongOptions* song) const
{
    SyncSession::Settings settings;
    settings.autoAction = type->autoAction;
    settings.destDeletes = type->destDeletes;
    settings.review = options.review;
    settings.stopOnError = options.stopOnError;
    settings.noFolderChanges = options.noFolderChanges;
    settings.verbose = options.verbose;
    settings.resetAnswers = options.resetAnswers;
    // Answers given by --yes or --no hold for this run only; answers typed at the terminal with
    // "Yes to All" or "No to All" are remembered in the state file.
    settings.answersForThisRunOnly = options.yes || options.no;
    settings.dryRun = options.dryRun;
    if (song) {
        settings.genreRelevant = !song->noGenre;
        settings.albumRelevant = !song->noAlbum;
        settings.fileTypeRelevant = !song->noFileType;
        settings.dontDupSongs = song->dontDupSongs;
        settings.moveInsteadOfDelete = !song->deleteInsteadOfMove;
        if (song->aacKbps != 0)
            settings.aacKbps = song->aacKbps;
        if (song->alwaysAAC != 0)
            settings.alwaysAAC = song->alwaysAAC > 0;
    }
    return settings;
}

void SyncRun::PrintActions(const std::vector<ActionReview::Item>& actions)
{
    std::ostringstream table;
    table << "Planned actions (" << actions.size() << "):\n";
    for (std::size_t i = 0; i < actions.size(); ++i) {
        const ActionReview::Item& action = actions[i];
        char head[64];
        std::snprintf(head, sizeof head, "%5zu [%c] %-16s ", i + 1, action.active ? 'x' : ' ',
                      action.word.ToStdString().c_str());
        auto shown = [](const AString& text) {
            return text.IsEmpty() ? std::string("-") : TerminalText(text.ToStdString());
        };
        if (!action.deletesFrom.IsEmpty())
            table << head << shown(action.source) << "  (from " << action.deletesFrom.ToStdString() << ")\n";
        else
            table << head << shown(action.source) << "  ->  " << shown(action.destination) << "\n";
    }
    terminal.Print(table.str());
}

void SyncRun::Review(RunController& controller)
{
    std::vector<ActionReview::Item> actions = controller.GetReview();
    PrintActions(actions);
    if (options.yes || options.no) {
        if (options.yes)
            controller.AnswerReview({}, true);
        else
            controller.Cancel();
        return;
    }
    for (;;) {
        std::string line;
        if (!terminal.Prompt("Enter: perform the ticked actions; numbers (2 5-7): tick or untick them; "
                             "l N / r N: keep the left / right file of undecided pair N; c: cancel\n> ",
                             line) ||
            Terminal::CancelRequested()) {
            controller.Cancel();
            return;
        }
        if (line.empty() || line == "p" || line == "y") {
            controller.AnswerReview({}, true);
            return;
        }
        if (line == "c" || line == "q" || line == "n") {
            controller.Cancel();
            return;
        }
        ActionReview::Answer answer;
        if (!ParseReviewAnswer(actions, line, &answer) || controller.AnswerReview(answer, false) != 0)
            terminal.Print("Not understood: " + line);
        actions = controller.GetReview();
        PrintActions(actions);
    }
}

int SyncRun::Run(SyncSession& session, const std::function<void(int status)>& afterRun)
{
    terminal.Install();
    Terminal::ResetCancel();
    Terminal::InstallInterruptHandler();

    RunController controller;
    if (int err = controller.StartSync(session); err != 0) {
        Complain("the sync cannot start (" + Describe(err) + ")");
        return kExitError;
    }
    bool cancelSent = false;
    for (;;) {
        const RunController::Event event = controller.Wait(kPollInterval);
        if (event == RunController::Event::kFinished)
            break;
        if (Terminal::CancelRequested() && !cancelSent) {
            controller.Cancel();
            cancelSent = true;
        }
        if (event == RunController::Event::kReview)
            Review(controller);
    }
    const int result = controller.Join();
    const SyncSession::Outcome& outcome = controller.GetOutcome();
    terminal.FinishProgressLine();
    if (options.dryRun && result == 0) {
        PrintActions(outcome.plan);
        if (!outcome.space.IsEmpty())
            terminal.Print(outcome.space.ToStdString());
    }
    Tell(session);
    int status = kExitOk;
    if (result == kErrUserCancel) {
        status = kExitCancelled;
    } else if (result != 0) {
        Complain("the sync ended with error " + Describe(result));
        status = kExitError;
    } else if (outcome.stateError != 0) {
        status = kExitError;
    }
    if (afterRun)
        afterRun(status);
    Say(outcome.summary.ToStdString());
    return status;
}

} // namespace cli
