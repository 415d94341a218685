// `pelorin scan duplicates FOLDER`: the duplicate scan over a folder of songs. Without --delete it
// reports the copies it would remove; with --delete it removes them (moved into "Removed Files"
// beside the folder unless --delete-instead-of-move), asking first unless --yes or --no answers.

#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sync/RunController.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace cli {
namespace {

struct DuplicatesOptions {
    std::string folder;
    bool remove = false;
    bool yes = false;
    bool no = false;
    bool deleteInsteadOfMove = false;
    bool noGenre = false;
    bool noAlbum = false;
    bool noFileType = false;
    bool verbose = false;
    std::string log;
};

void Complain(const std::string& text)
{
    std::fprintf(stderr, "pelorin scan duplicates: %s\n", text.c_str());
}

std::string Describe(int err) { return std::to_string(err) + AError::Message(err); }

int ExitFor(int err)
{
    if (err == 0)
        return kExitOk;
    return err == kErrUserCancel ? kExitCancelled : kExitError;
}

int RunDuplicates(const DuplicatesOptions& options)
{
    std::error_code error;
    std::filesystem::path folder = std::filesystem::canonical(options.folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        Complain("FOLDER does not exist or is not a folder: " + options.folder);
        return kExitUsage;
    }
    const AString root = AString::FromUTF8(folder.string() + "/");
    if (root.IsEmpty()) {
        Complain("FOLDER's path is not valid UTF-8: " + options.folder);
        return kExitUsage;
    }

    Terminal terminal;
    const Terminal::Answers answers = options.yes  ? Terminal::Answers::YesToAll
                                      : options.no ? Terminal::Answers::NoToAll
                                                   : Terminal::Answers::Ask;
    terminal.SetAnswers(answers);
    // Only removing asks questions; a report runs anywhere.
    if (options.remove && !terminal.CanAnswerQuestions()) {
        Complain(
            "standard input is not a terminal, so the question before each removal cannot be asked; pass "
            "--yes to remove every duplicate, or --no to remove none");
        return kExitUsage;
    }
    if (!options.log.empty() && !terminal.SetLogFile(options.log)) {
        Complain("cannot open the log file " + options.log);
        return kExitUsage;
    }

    ADirSongDir songs;
    songs.SetGenreRelevantOnDupSongCompare(options.noGenre ? 0 : 1);
    songs.SetAlbumRelevantOnDupSongCompare(options.noAlbum ? 0 : 1);
    songs.SetFileTypeRelevantOnDupSongCompare(options.noFileType ? 0 : 1);
    songs.SetDetectOnly(options.remove ? 0 : 1);
    songs.SetMoveInsteadOfDelete(options.deleteInsteadOfMove ? 0 : 1);
    // Every removal is logged (a removal is logged only by a verbose scan); --verbose dates the
    // lines of a report too.
    songs.SetVerboseLog(options.remove || options.verbose ? 1 : 0);

    terminal.Install();
    Terminal::ResetCancel();
    Terminal::InstallInterruptHandler();
    AProgress& progress = AProgress::Shared();
    AString start("Scanning for duplicate songs in ");
    start += root;
    progress.StartProgress(&start, 1, 1, 0);

    // The scan runs as a tool of the core: on its worker thread, under the busy lock that a sync
    // takes too, while this thread answers Ctrl-C.
    bool folderRead = false;
    int listedCount = 0;
    RunController controller;
    const int started = controller.StartJob([&](CancelProc cancel) {
        int scanned = songs.InitWPath(&root, 0, cancel);
        if (scanned != 0)
            return scanned;
        folderRead = true;
        listedCount = songs.Count();
        return songs.ScanForDuplicates(options.remove ? 1 : 0, 1, 1, cancel, 1);
    });
    if (started != 0) {
        progress.EndProgress(nullptr, 0, 0, 0);
        terminal.FinishProgressLine();
        Complain("the scan cannot start (" + Describe(started) + ")");
        return kExitError;
    }
    while (controller.Wait(std::chrono::milliseconds(50)) != RunController::Event::kFinished)
        if (Terminal::CancelRequested())
            controller.Cancel();
    int err = controller.Join();
    if (!folderRead && err != kErrUserCancel) {
        AString line("Error reading the folder: ");
        line += err;
        AError::AddErrorMsg(&line, err);
        progress.EndProgress(&line, 1, 1, 0);
        terminal.FinishProgressLine();
        Complain("cannot read the folder " + folder.string() + " (" + Describe(err) + ")");
        return kExitError;
    }
    // A scan cancelled while the folder was read counts what had been listed.
    const int listed = folderRead ? listedCount : songs.Count();
    const int failed = songs.GetFailedRemovalCount();
    const int found = listed - songs.Count() - failed;
    progress.EndProgress(nullptr, 0, 0, 0);
    terminal.FinishProgressLine();

    std::string summary;
    if (!options.remove) {
        summary = std::to_string(found) + (found == 1 ? " duplicate song" : " duplicate songs") +
                  " found among " + std::to_string(listed) + " songs";
        if (found > 0)
            summary += "; run again with --delete to remove them";
    } else {
        summary = std::to_string(found) + (found == 1 ? " duplicate song" : " duplicate songs") + " removed";
        if (found > 0 && !options.deleteInsteadOfMove)
            summary += " (moved into " + (folder.parent_path() / "Removed Files").string() + ")";
        if (failed > 0)
            summary += "; " + std::to_string(failed) + (failed == 1 ? " duplicate" : " duplicates") +
                       " could not be removed";
    }
    if (const int unreadable = songs.GetUnreadableCount(); unreadable > 0)
        summary += "; " + std::to_string(unreadable) + (unreadable == 1 ? " file" : " files") +
                   " could not be read (left out)";
    terminal.Print(summary);
    if (err != 0 && err != kErrUserCancel)
        Complain("the scan ended with error " + Describe(err));
    return ExitFor(err);
}

} // namespace

void AddScanCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* scan = app.add_subcommand("scan", "Clean up a folder of songs.");
    scan->require_subcommand(1);
    CLI::App* duplicates = scan->add_subcommand(
        "duplicates",
        "Find songs that are in a folder more than once (the same genre, artist, album, title and "
        "file type, case ignored) and keep one copy of each.");
    duplicates->footer(
        "Without --delete nothing is changed: every duplicate that would be removed is reported (in the log, "
        "on standard error) as \"Detected Dup: SONG from FILE\", and a summary is printed.\n"
        "Of two copies the one kept is: a protected (m4p) file that you own; then the larger file (at equal "
        "sizes the newer one); then the one without a copy number (\"Song.mp3\" before \"Song 1.mp3\").\n"
        "With --delete each removal is asked first (Yes, No, Yes to All, No to All) on the terminal; without "
        "a "
        "terminal pass --yes or --no. Removed files are moved into \"Removed Files\" beside FOLDER, under "
        "Artist/Album, unless --delete-instead-of-move.\n"
        "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled (Ctrl-C).");
    auto options = std::make_shared<DuplicatesOptions>();
    duplicates->add_option("FOLDER", options->folder, "The folder of songs to scan")->required();
    duplicates->add_flag("--delete", options->remove, "Remove the duplicates (without it, only report them)");
    CLI::Option* yes = duplicates->add_flag("--yes", options->yes, "Answer every question Yes to All");
    CLI::Option* no = duplicates->add_flag("--no", options->no, "Answer every question No to All");
    yes->excludes(no);
    duplicates->add_flag("--delete-instead-of-move", options->deleteInsteadOfMove,
                         "Delete removed files outright instead of moving them into \"Removed Files\"");
    duplicates->add_flag("--no-genre", options->noGenre, "Songs of different genres can be duplicates");
    duplicates->add_flag("--no-album", options->noAlbum, "Songs of different albums can be duplicates");
    duplicates->add_flag("--no-file-type", options->noFileType,
                         "Songs of different file types (mp3, m4a) can be duplicates");
    duplicates->add_flag("--verbose", options->verbose, "Date every line of the log");
    duplicates->add_option("--log", options->log, "Append the log to FILE instead of standard error")
        ->option_text("FILE");
    duplicates->callback([options, &exitStatus] { exitStatus = RunDuplicates(*options); });
}

} // namespace cli
