#pragma once
// The terminal side of one sync run, shared by `pelorin folders` and `pelorin sync`: the sync types
// and the options every run takes, the song options, answering questions (on the terminal or from
// --yes / --no), the review of the planned actions, the progress line and the log, Ctrl-C, the
// state file, and the exit statuses.

#include "cli/Terminal.h"

#include "ACommon/base/AFile.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

class ASync;
class ASyncLib;

namespace cli {

// A sync type as a command names it: the direction (autoAction) and whether deletions are carried
// over (destDeletes).
struct SyncTypeName {
    const char* name;
    int autoAction;
    signed char destDeletes;
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
    bool logOnly = false;
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
};

// The help text of the sync types, one per line.
std::string SyncTypesHelp(const std::vector<SyncTypeName>& types);
// The help text on questions and exit statuses.
std::string QuestionsHelp();

// Adds --type (one of `types`), --state, --review, --yes / --no, --stop-on-error, --log-only,
// --verbose, --log and --reset-answers.
void AddRunOptions(CLI::App* command, RunOptions& options, const std::vector<SyncTypeName>& types,
                   const std::string& stateHelp);
// Adds --no-genre, --no-album, --no-file-type, --dont-dup-songs and --delete-instead-of-move, each
// needing `needs` when one is given.
void AddSongOptions(CLI::App* command, SongOptions& options, CLI::Option* needs = nullptr);
// Sets the song options on a song sync. A change of what tells songs apart drops the saved lists
// (their paths no longer compare).
void ApplySongOptions(ASyncLib& sync, const SongOptions& options);

// Reads a state record from `path` with `read`; 0 when there is no file at all.
int ReadStateFile(const std::string& path, const std::function<int(AFile*)>& read);
// Writes a state record to `path` with `write`, safely: into a temporary file beside it (its folder
// made when missing), flushed, renamed over it. The old file stays whole when anything fails.
int WriteStateFile(const std::string& path, const std::function<int(AFile*)>& write);

// The canonical path of an existing folder (`which` names it in the message), or false with a
// message saying what is wrong with it.
bool ResolveFolder(const std::string& given, const char* which, std::string& resolved, std::string& problem);
// True when the folder `inner` lies inside the folder `outer`.
bool Inside(const std::string& inner, const std::string& outer);

// Applies one answer of the review prompt to the planned actions of `sync`: numbers and ranges
// ("2 5-7") tick or untick actions, "l N" / "r N" keep the left / right file of undecided pair N.
// Whole or not at all: false, with nothing changed, when any part is not understood.
bool ApplyReviewAnswer(ASync* sync, const std::string& line);

// The code and its message, and the file and the system's reason when they are known: "-36: IO
// error. (cannot write /media/u/IPOD/iPod_Control/iTunes/iTunesDB: No space left on device)".
std::string Describe(int err);

class SyncRun {
public:
    SyncRun(const char* command, const RunOptions& options, const std::vector<SyncTypeName>& types);
    SyncRun(const SyncRun&) = delete;
    SyncRun& operator=(const SyncRun&) = delete;
    ~SyncRun();

    // Prints "pelorin COMMAND: text" on stderr.
    void Complain(const std::string& text) const;
    // Checks the sync type and gets the terminal ready: how questions are answered, whether they can
    // be asked at all, the log file. kExitOk, or the exit status the command ends with.
    int Prepare();
    const SyncTypeName& Type() const { return *type; }
    Terminal& GetTerminal() { return terminal; }
    // Prints a line on stdout, above the progress line.
    void Say(const std::string& text);

    // Gives the sync the run's type and options, and the review of the planned actions.
    void Configure(ASync& sync);
    // Runs `run` with the terminal installed and Ctrl-C caught; answers given by --yes or --no hold
    // for this run only. Then `save` writes the state file at `statePath`. Returns the exit status.
    int Run(ASync& sync, const std::function<int()>& run, const std::function<int()>& save,
            const std::string& statePath);

private:
    const char* command;
    const RunOptions& options;
    std::vector<SyncTypeName> types;
    const SyncTypeName* type = nullptr;
    Terminal terminal;
};

} // namespace cli
