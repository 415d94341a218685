#pragma once
// The terminal side of one sync run, shared by `pelorin folders` and `pelorin sync`: the sync types
// and the options every run takes, the song options, answering questions (on the terminal or from
// --yes / --no), the review of the planned actions, the progress line and the log, Ctrl-C, and
// the exit statuses. The run itself, its state file and its rules are the core's (SyncSession,
// RunController).

#include "cli/Terminal.h"

#include "ACommon/sync/ActionReview.h"
#include "ACommon/sync/SyncSession.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

class RunController;

namespace cli {

// A sync type as a command names it: the direction (ASync::AutoAction) and whether deletions are
// carried over (destDeletes).
struct SyncTypeName {
    const char* name;
    int autoAction;
    bool destDeletes;
    const char* meaning;
};

// The options of every run.
struct RunOptions {
    std::string type;
    std::string state;
    std::string log;
    bool review = false;
    bool yes = false;
    bool no = false;
    bool stopOnError = false;
    bool noFolderChanges = false;
    bool logOnly = false; // the old name of --no-folder-changes, refused with an explanation
    bool dryRun = false;
    bool verbose = false;
    bool resetAnswers = false;
    bool allowMassDeletion = false;
};

// What tells two songs apart, and what becomes of deleted songs.
struct SongOptions {
    bool noGenre = false;
    bool noAlbum = false;
    bool noFileType = false;
    bool dontDupSongs = false;
    bool deleteInsteadOfMove = false;
    int aacKbps = 0;   // 0: the saved setting stands
    int alwaysAAC = 0; // 1 --always-aac, -1 --no-always-aac, 0: the saved setting stands
};

// The help text of the sync types, one per line.
std::string SyncTypesHelp(const std::vector<SyncTypeName>& types);
// The help text on questions and exit statuses.
std::string QuestionsHelp();

// Adds --type (one of `types`), --state, --review, --dry-run, --yes / --no, --allow-mass-deletion,
// --stop-on-error, --no-folder-changes, --verbose, --log and --reset-answers.
void AddRunOptions(CLI::App* command, RunOptions& options, const std::vector<SyncTypeName>& types,
                   const std::string& stateHelp);
// Adds --no-genre, --no-album, --no-file-type, --dont-dup-songs and --delete-instead-of-move, each
// needing `needs` when one is given.
void AddSongOptions(CLI::App* command, SongOptions& options, CLI::Option* needs = nullptr);

// The canonical path of an existing folder (`which` names it in the message), or false with a
// message saying what is wrong with it.
bool ResolveFolder(const std::string& given, const char* which, std::string& resolved, std::string& problem);
// A path given on the command line as a full path (relative ones are taken from the working folder).
AString FullPath(const std::string& given);

// Reads one answer of the review prompt against the actions shown: numbers and ranges ("2 5-7")
// tick or untick actions, "l N" / "r N" keep the left / right file of undecided pair N. False when
// any part is not understood (the answer is then not given at all).
bool ParseReviewAnswer(const std::vector<ActionReview::Item>& actions, const std::string& line,
                       ActionReview::Answer* answer);

// The code and its message, and the file and the system's reason when they are known: "-36: IO
// error. (cannot write /media/u/IPOD/iPod_Control/iTunes/iTunesDB: No space left on device)".
std::string Describe(int err);

class SyncRun {
public:
    SyncRun(const char* command, const RunOptions& options, const std::vector<SyncTypeName>& types);
    SyncRun(const SyncRun&) = delete;
    SyncRun& operator=(const SyncRun&) = delete;

    // Prints "pelorin COMMAND: text" on stderr.
    void Complain(const std::string& text) const;
    // Checks the options and gets the terminal ready: how questions are answered, whether they can
    // be asked at all, the log file. kExitOk, or the exit status the command ends with.
    int Prepare();
    const SyncTypeName& Type() const { return *type; }
    // Prints a line on stdout, above the progress line.
    void Say(const std::string& text);
    // Prints what the session has to tell: information on stdout, warnings on stderr.
    void Tell(SyncSession& session);
    // The session's settings for this run, with the song options when given.
    SyncSession::Settings Settings(const SongOptions* song) const;
    // Runs the session on the core's worker thread with the terminal installed: reviews are
    // answered here, Ctrl-C cancels. Prints what the run did, ending with its summary line;
    // `afterRun`, when given, prints what the command adds before that line. Returns the exit
    // status.
    int Run(SyncSession& session, const std::function<void(int status)>& afterRun = {});

private:
    // Shows the actions under review and answers: perform, change them, or cancel.
    void Review(RunController& controller);
    void PrintActions(const std::vector<ActionReview::Item>& actions);

    const char* command;
    const RunOptions& options;
    std::vector<SyncTypeName> types;
    const SyncTypeName* type = nullptr;
    Terminal terminal;
};

} // namespace cli
