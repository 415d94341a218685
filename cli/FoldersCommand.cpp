// `pelorin folders LEFT RIGHT --type TYPE`: one sync run between two plain folders, with the sync's
// settings, saved lists and remembered answers kept in a state file between runs. With --songs both
// folders are folders of songs, matched song by song by their tags.

#include "cli/Commands.h"
#include "cli/SyncRun.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/CRC32.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/ASyncLib.h"
#include "APlatform/KnownFolders.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace cli {
namespace {

const std::vector<SyncTypeName> kSyncTypes = {
    {"copy-to-right", 1, 0, "copy what is new or changed on the left to the right; delete nothing"},
    {"mirror-to-right", 1, 1,
     "make the right equal to the left: also delete on the right what the left lacks"},
    {"copy-to-left", 2, 0, "copy what is new or changed on the right to the left; delete nothing"},
    {"mirror-to-left", 2, 1,
     "make the left equal to the right: also delete on the left what the right lacks"},
    {"merge", 3, 0, "copy both ways, the newer file replacing the older; delete nothing"},
    {"synchronize", 3, 1,
     "copy both ways, and carry over deletions made on either side since the last synchronize run"},
};

struct FoldersOptions {
    std::string left;
    std::string right;
    RunOptions run;
    bool songs = false;
    SongOptions song;
};

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
    const std::uint32_t mark =
        bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    if (mark == ASync::kStateMark)
        return StateKind::Folders;
    if (mark == ASyncLib::kStateMark)
        return StateKind::Songs;
    return StateKind::Other;
}

int RunFolders(const FoldersOptions& options)
{
    SyncRun run("folders", options.run, kSyncTypes);
    std::string left, right, problem;
    if (!ResolveFolder(options.left, "LEFT", left, problem) ||
        !ResolveFolder(options.right, "RIGHT", right, problem)) {
        run.Complain(problem);
        return kExitUsage;
    }
    if (left == right) {
        run.Complain("LEFT and RIGHT are the same folder: " + left);
        return kExitUsage;
    }
    if (Inside(left, right) || Inside(right, left)) {
        run.Complain("one folder lies inside the other (" + left + ", " + right +
                     "); a sync would copy a folder into itself");
        return kExitUsage;
    }
    if (int status = run.Prepare(); status != kExitOk)
        return status;
    const std::string statePath =
        options.run.state.empty() ? DefaultStatePath(left, right) : options.run.state;

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
        run.Complain("the state file " + statePath + " was written by a sync " +
                     (options.songs ? "of plain folders (without --songs)" : "of songs (with --songs)") +
                     "; this run starts from fresh settings and rewrites it");
    } else if (int err = ReadStateFile(statePath, [&sync](AFile* f) { return sync->ReadState(f); });
               err != 0) {
        run.Complain("the state file " + statePath + " cannot be read (" + Describe(err) +
                     "); this run starts from fresh settings and rewrites it");
        sync = newSync();
    }
    AString leftRoot = AString::FromUTF8(left + "/");
    AString rightRoot = AString::FromUTF8(right + "/");
    // Saved lists of other folders (a state file given for another pair, or the sides swapped)
    // would make every difference look like a deletion: they are dropped instead.
    if (*sync->GetSavedDir1()->GetRootPath() != leftRoot ||
        *sync->GetSavedDir2()->GetRootPath() != rightRoot) {
        sync->GetSavedDir1()->DeleteAll();
        sync->GetSavedDir2()->DeleteAll();
    }
    sync->SetRootPath1(&leftRoot, nullptr, 0);
    sync->SetRootPath2(&rightRoot, nullptr, 0);
    run.Configure(*sync);
    if (auto* songSync = dynamic_cast<ASyncLib*>(sync.get()))
        ApplySongOptions(*songSync, options.song);

    return run.Run(
        *sync, [&sync] { return sync->DoSync(Terminal::CancelRequested); },
        [&] { return WriteStateFile(statePath, [&sync](AFile* f) { return sync->WriteState(f); }); },
        statePath);
}

} // namespace

void AddFoldersCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand(
        "folders",
        "Sync two folders (plain ones, or folders of songs with --songs): plan the actions, optionally "
        "review them, perform them.");
    command->footer(
        "Sync types (--type):\n" + SyncTypesHelp(kSyncTypes) + "\n" + QuestionsHelp() +
        "The song options are kept in the state file with the rest; changing --no-genre, --no-album or "
        "--no-file-type makes the next synchronize run treat every song as new (nothing is deleted).\n"
        "Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled (Ctrl-C; a second Ctrl-C quits at "
        "once).");
    auto options = std::make_shared<FoldersOptions>();
    command->add_option("LEFT", options->left, "The left folder (side 1)")->required();
    command->add_option("RIGHT", options->right, "The right folder (side 2)")->required();
    AddRunOptions(command, options->run, kSyncTypes,
                  "The state file that keeps this sync's settings, the lists saved by the last "
                  "synchronize run and the remembered answers (default: a file named after the two "
                  "folders in the application support folder, Veltrano/Ondrivel/)");
    CLI::Option* songs = command->add_flag(
        "--songs", options->songs,
        "Both folders are folders of songs: each song is matched by its tags (genre, artist, album, "
        "title, file type), not by its file name; a copied song is filed into the other folder as "
        "Artist/Album/07 Title.mp3, and a deleted song is moved into \"Removed Files\" beside its folder");
    AddSongOptions(command, options->song, songs);
    command->callback([options, &exitStatus] { exitStatus = RunFolders(*options); });
}

} // namespace cli
