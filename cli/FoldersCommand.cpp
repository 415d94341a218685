// `pelorin folders LEFT RIGHT --type TYPE`: one sync run between two plain folders, with the sync's
// settings, saved lists and remembered answers kept in a state file between runs. With --songs both
// folders are folders of songs, matched song by song by their tags.

#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "ACommon/AError.h"
#include "ACommon/AFile.h"
#include "ACommon/ASync.h"
#include "ACommon/ASyncLib.h"
#include "ACommon/CRC32.h"
#include "APlatform/KnownFolders.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace cli {
namespace {

struct SyncType {
    const char* name;
    int autoAction;
    signed char destDeletes;
    const char* meaning;
};

constexpr SyncType kSyncTypes[] = {
    {"copy-to-right", 1, 0, "copy what is new or changed on the left to the right; delete nothing"},
    {"mirror-to-right", 1, 1, "make the right equal to the left: also delete on the right what the left lacks"},
    {"copy-to-left", 2, 0, "copy what is new or changed on the right to the left; delete nothing"},
    {"mirror-to-left", 2, 1, "make the left equal to the right: also delete on the left what the right lacks"},
    {"merge", 3, 0, "copy both ways, the newer file replacing the older; delete nothing"},
    {"synchronize", 3, 1,
     "copy both ways, and carry over deletions made on either side since the last synchronize run"},
};

struct FoldersOptions {
    std::string left;
    std::string right;
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
    // Songs.
    bool songs = false;
    bool noGenre = false;
    bool noAlbum = false;
    bool noFileType = false;
    bool dontDupSongs = false;
    bool deleteInsteadOfMove = false;
};

// The terminal and the answer mode of the running command, for the review procedure (a plain
// function pointer, as the sync engine calls it).
Terminal* gTerminal = nullptr;
Terminal::Answers gAnswers = Terminal::Answers::Ask;

void Complain(const std::string& text) { std::fprintf(stderr, "pelorin folders: %s\n", text.c_str()); }

std::string ReadableName(const std::string& folder)
{
    std::string name = std::filesystem::path(folder).filename().string();
    std::string safe;
    for (char c : name)
        safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    if (safe.size() > 40)
        safe.resize(40);
    return safe.empty() ? std::string("root") : safe;
}

// The state file of a pair of folders: a readable name plus a short hash of both full paths.
std::string DefaultStatePath(const std::string& left, const std::string& right)
{
    CRC32 crc;
    crc.Update(reinterpret_cast<const unsigned char*>(left.data()), static_cast<int>(left.size()));
    const unsigned char separator = 0;
    crc.Update(&separator, 1);
    crc.Update(reinterpret_cast<const unsigned char*>(right.data()), static_cast<int>(right.size()));
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x", crc.GetValue());
    return platform::ApplicationSupportFolder() + "/Veltrano/Ondrivel/folders-" + ReadableName(left) + "-" +
           ReadableName(right) + "-" + hash + ".state";
}

// The canonical path of an existing folder, or a message saying what is wrong with it.
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
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/';
}

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
        // Both paths of a song action name the same song: the destination is shown as its folder.
        const std::string destination = songs && !action->path2.IsEmpty()
                                            ? sync->FormatVPForDisplay(&action->path2, 0, -1, 1).ToStdString()
                                            : Shown(sync, action->path2);
        table << head << Shown(sync, action->path1) << "  ->  " << destination << "\n";
    }
    gTerminal->Print(table.str());
}

// Applies one answer of the review prompt: numbers and ranges toggle actions, "l N" and "r N"
// settle an undecided pair for the left or the right file. False when the answer is not understood.
bool ApplyReviewAnswer(ASync* sync, const std::string& line)
{
    std::istringstream words(line);
    std::string word;
    const int count = sync->GetActionCount();
    bool any = false;
    while (words >> word) {
        if (word == "l" || word == "r" || word == "L" || word == "R") {
            int number = 0;
            if (!(words >> number) || number < 1 || number > count)
                return false;
            ASync::SyncAction* action = sync->GetAction(number - 1);
            if (action->kind != ASync::kUndecided)
                return false;
            sync->ChangeSyncAction(action, (word == "l" || word == "L") ? 6 : 7);
            action->active = 1;
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
        for (int n = first; n <= last; ++n) {
            ASync::SyncAction* action = sync->GetAction(n - 1);
            if (action->operation != ASync::kOpUndecided)
                action->active = action->active ? 0 : 1;
        }
        any = true;
    }
    return any;
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

// What wrote a state file, by the mark its record begins with.
enum class StateKind { Missing, Folders, Songs, Other };

StateKind KindOfStateFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return StateKind::Missing;
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (!in.read(reinterpret_cast<char*>(bytes), 4))
        return StateKind::Other;
    const std::uint32_t mark = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    if (mark == ASync::kStateMark)
        return StateKind::Folders;
    if (mark == ASyncLib::kStateMark)
        return StateKind::Songs;
    return StateKind::Other;
}

int ReadSyncState(ASync& sync, const std::string& path)
{
    if (!std::filesystem::exists(path))
        return 0;
    AString statePath = AString::FromUTF8(path);
    AFile file;
    if (int err = file.Open(&statePath, 1); err != 0)
        return err;
    return sync.ReadState(&file);
}

int WriteSyncState(ASync& sync, const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    AString target = AString::FromUTF8(path);
    AString temporary = AFile::TemporaryPathBeside(&target);
    AFile file;
    int err = file.Open(&temporary, 2);
    if (err == 0)
        err = sync.WriteState(&file);
    if (err == 0)
        err = file.Flush();
    file.Close(0);
    if (err == 0)
        err = AFile::CommitReplacement(&temporary, &target);
    if (err != 0)
        unlink(temporary.CStr());
    return err;
}

std::string Describe(int err)
{
    return std::to_string(err) + AError::Message(err);
}

int RunFolders(const FoldersOptions& options)
{
    std::string left, right, problem;
    if (!ResolveFolder(options.left, "LEFT", left, problem) || !ResolveFolder(options.right, "RIGHT", right, problem)) {
        Complain(problem);
        return kExitUsage;
    }
    if (left == right) {
        Complain("LEFT and RIGHT are the same folder: " + left);
        return kExitUsage;
    }
    if (Inside(left, right) || Inside(right, left)) {
        Complain("one folder lies inside the other (" + left + ", " + right + "); a sync would copy a folder into itself");
        return kExitUsage;
    }
    const SyncType* type = nullptr;
    for (const SyncType& candidate : kSyncTypes)
        if (options.type == candidate.name)
            type = &candidate;
    if (!type) {
        Complain("unknown --type " + options.type);
        return kExitUsage;
    }

    Terminal terminal;
    gAnswers = options.yes ? Terminal::Answers::YesToAll : options.no ? Terminal::Answers::NoToAll : Terminal::Answers::Ask;
    terminal.SetAnswers(gAnswers);
    if (!terminal.CanAnswerQuestions()) {
        Complain("standard input is not a terminal, so questions (\"Replace file?\", \"Delete file?\") cannot be "
                 "asked; pass --yes to answer Yes to All, or --no to answer No to All");
        return kExitUsage;
    }
    if (!options.log.empty() && !terminal.SetLogFile(options.log)) {
        Complain("cannot open the log file " + options.log);
        return kExitUsage;
    }
    const std::string statePath = options.state.empty() ? DefaultStatePath(left, right) : options.state;

    // A sync of songs keeps song lists and settings, one of plain folders file lists: a state file
    // of the other kind is no use to this run.
    auto newSync = [&options]() -> std::unique_ptr<ASync> {
        if (options.songs)
            return std::make_unique<ASyncLib>(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
        return std::make_unique<ASync>();
    };
    std::unique_ptr<ASync> sync = newSync();
    const StateKind kind = KindOfStateFile(statePath);
    if (kind == (options.songs ? StateKind::Folders : StateKind::Songs)) {
        Complain("the state file " + statePath + " was written by a sync " +
                 (options.songs ? "of plain folders (without --songs)" : "of songs (with --songs)") +
                 "; this run starts from fresh settings and rewrites it");
    } else if (int err = ReadSyncState(*sync, statePath); err != 0) {
        Complain("the state file " + statePath + " cannot be read (" + Describe(err) +
                 "); this run starts from fresh settings and rewrites it");
        sync = newSync();
    }
    AString leftRoot = AString::FromUTF8(left + "/");
    AString rightRoot = AString::FromUTF8(right + "/");
    // Saved lists of other folders (a state file given for another pair, or the sides swapped)
    // would make every difference look like a deletion: they are dropped instead.
    if (*sync->GetSavedDir1()->GetRootPath() != leftRoot || *sync->GetSavedDir2()->GetRootPath() != rightRoot) {
        sync->GetSavedDir1()->DeleteAll();
        sync->GetSavedDir2()->DeleteAll();
    }
    sync->SetRootPath1(&leftRoot, nullptr, 0);
    sync->SetRootPath2(&rightRoot, nullptr, 0);
    sync->SetAutoAction(type->autoAction);
    sync->SetDestDeletes(type->destDeletes);
    sync->SetStopOnErr(options.stopOnError ? 1 : 0);
    sync->SetLogOnly(options.logOnly ? 1 : 0);
    sync->SetVerboseLog(options.verbose ? 1 : 0);
    sync->SetShowActionsList(options.review ? 1 : 0);
    sync->SetActionsListDlogProc(ReviewActions);
    if (auto* songSync = dynamic_cast<ASyncLib*>(sync.get())) {
        // A change of what tells songs apart drops the saved lists (their paths no longer compare).
        songSync->SetGenreRelevantOnDupSongCompare(options.noGenre ? 0 : 1);
        songSync->SetAlbumRelevantOnDupSongCompare(options.noAlbum ? 0 : 1);
        songSync->SetFileTypeRelevantOnDupSongCompare(options.noFileType ? 0 : 1);
        songSync->SetDontDupSongs(options.dontDupSongs ? 1 : 0);
        songSync->SetMoveInsteadOfDelete(options.deleteInsteadOfMove ? 0 : 1);
    }
    if (options.resetAnswers)
        sync->ResetAlertSettings();
    // Answers given by --yes or --no hold for this run only; answers typed at the terminal with
    // "Yes to All" or "No to All" are remembered in the state file.
    const int replaceAnswer = sync->GetReplaceAnswer();
    const int replaceNewerAnswer = sync->GetReplaceNewerAnswer();
    const int deleteAnswer = sync->GetDeleteAnswer();
    if (gAnswers != Terminal::Answers::Ask)
        sync->ResetAlertSettings();

    terminal.Install();
    gTerminal = &terminal;
    Terminal::ResetCancel();
    Terminal::InstallInterruptHandler();

    const int result = sync->DoSync(Terminal::CancelRequested);

    if (gAnswers != Terminal::Answers::Ask)
        sync->SetRememberedAnswers(replaceAnswer, replaceNewerAnswer, deleteAnswer);
    const int stateErr = WriteSyncState(*sync, statePath);
    terminal.FinishProgressLine();
    gTerminal = nullptr;
    if (stateErr != 0)
        Complain("cannot write the state file " + statePath + " (" + Describe(stateErr) + ")");
    if (result == kErrUserCancel)
        return kExitCancelled;
    if (result != 0) {
        Complain("the sync ended with error " + Describe(result));
        return kExitError;
    }
    return stateErr == 0 ? kExitOk : kExitError;
}

} // namespace

void AddFoldersCommand(CLI::App& app, int& exitStatus)
{
    std::string types;
    for (const SyncType& type : kSyncTypes)
        types += std::string("  ") + type.name + std::string(18 - std::string(type.name).size(), ' ') + type.meaning + "\n";
    CLI::App* command = app.add_subcommand(
        "folders", "Sync two folders (plain ones, or folders of songs with --songs): plan the actions, optionally "
                   "review them, perform them.");
    command->footer(
        "Sync types (--type):\n" + types +
        "\nQuestions (\"Replace file?\", \"Replace newer file?\", \"Delete file?\", and a check before a plan that "
        "would delete more than half of one side) are asked on the terminal with the answers Yes, No, Yes to All, "
        "No to All; Yes to All and No to All typed there are remembered in the state file until --reset-answers. "
        "Without a terminal, pass --yes or --no.\n"
        "The song options are kept in the state file with the rest; changing --no-genre, --no-album or "
        "--no-file-type makes the next synchronize run treat every song as new (nothing is deleted).\n"
        "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled (Ctrl-C; a second Ctrl-C quits at once).");
    auto options = std::make_shared<FoldersOptions>();
    command->add_option("LEFT", options->left, "The left folder (side 1)")->required();
    command->add_option("RIGHT", options->right, "The right folder (side 2)")->required();
    std::vector<std::string> names;
    for (const SyncType& type : kSyncTypes)
        names.emplace_back(type.name);
    command->add_option("--type", options->type, "The sync type (see below)")
        ->required()
        ->check(CLI::IsMember(names));
    command->add_option("--state", options->state,
                        "The state file that keeps this sync's settings, the lists saved by the last "
                        "synchronize run and the remembered answers (default: a file named after the two "
                        "folders in the application support folder, Veltrano/Ondrivel/)")
        ->option_text("FILE");
    command->add_flag("--review", options->review,
                      "Show the planned actions as a numbered table before performing them; then perform "
                      "them, untick some, or cancel. With --yes the shown plan is performed, with --no "
                      "nothing is performed (a dry run)");
    CLI::Option* yes = command->add_flag("--yes", options->yes, "Answer every question Yes to All (for this run only)");
    CLI::Option* no = command->add_flag("--no", options->no, "Answer every question No to All (for this run only)");
    yes->excludes(no);
    command->add_flag("--stop-on-error", options->stopOnError, "Stop planning or performing at the first error");
    command->add_flag("--log-only", options->logOnly,
                      "Create and delete no folders (files are still copied and deleted)");
    command->add_flag("--verbose", options->verbose,
                      "Date more log lines and log more (every folder created or deleted)");
    command->add_option("--log", options->log, "Append the run log to FILE instead of standard error")
        ->option_text("FILE");
    command->add_flag("--reset-answers", options->resetAnswers,
                      "Forget the remembered Yes to All / No to All answers before this run");
    CLI::Option* songs = command->add_flag(
        "--songs", options->songs,
        "Both folders are folders of songs: each song is matched by its tags (genre, artist, album, "
        "title, file type), not by its file name; a copied song is filed into the other folder as "
        "Artist/Album/07 Title.mp3, and a deleted song is moved into \"Removed Files\" beside its folder");
    command->add_flag("--no-genre", options->noGenre, "With --songs: songs of different genres can be the same song")
        ->needs(songs);
    command->add_flag("--no-album", options->noAlbum, "With --songs: songs of different albums can be the same song")
        ->needs(songs);
    command->add_flag("--no-file-type", options->noFileType,
                      "With --songs: songs of different file types (mp3, m4a) can be the same song")
        ->needs(songs);
    command->add_flag("--dont-dup-songs", options->dontDupSongs,
                      "With --songs: a song present on both sides is never replaced, whatever its file holds, "
                      "and a song of a known artist is not copied beside one of the same name")
        ->needs(songs);
    command->add_flag("--delete-instead-of-move", options->deleteInsteadOfMove,
                      "With --songs: delete songs outright instead of moving them into \"Removed Files\"")
        ->needs(songs);
    command->callback([options, &exitStatus] { exitStatus = RunFolders(*options); });
}

} // namespace cli
