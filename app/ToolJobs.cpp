#include "app/ToolJobs.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirPod.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASyncLib.h"

#include <algorithm>
#include <filesystem>

namespace tools {
namespace {

namespace fs = std::filesystem;

void Say(AProgress* progress, const AString& text, bool dated)
{
    if (dated)
        progress->AddDateToLog(0, 0);
    progress->AddToLog(text + "\n", 1);
}

} // namespace

bool AcceptsMusicFile(const ADir& side, const std::string& path)
{
    const std::string extension = fs::path(path).extension().string();
    if (extension.size() < 2)
        return false;
    std::string key = ":" + extension.substr(1) + ":";
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string songs = ASyncLib::kSongExtensions;
    const std::string video = ":m4v:mp4:ipg:";
    const bool videoTaken = side.GetTypeFilter() & 0x1 &&
                            side.GetTypeIncludeFilter().ToStdString().find(key) != std::string::npos;
    if (songs.find(key) == std::string::npos && !(video.find(key) != std::string::npos && videoTaken))
        return false;
    AString full = AString::FromUTF8(path);
    return side.TypeFilterCheck(&full);
}

bool FolderHoldsMusicFile(const ADir& side, const std::string& folder, int maxEntries)
{
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, error);
    int seen = 0;
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (++seen > maxEntries)
            return false;
        if (walk->is_symlink(error))
            continue;
        if (walk->is_regular_file(error) && AcceptsMusicFile(side, walk->path().string()))
            return true;
    }
    return false;
}

std::vector<std::string> MusicFilesUnder(const ADir& side, const std::vector<std::string>& paths,
                                         CancelProc cancel)
{
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(path, error);
        if (fs::is_regular_file(status)) {
            if (AcceptsMusicFile(side, path))
                files.push_back(path);
            continue;
        }
        if (!fs::is_directory(status))
            continue;
        std::vector<std::string> found;
        fs::recursive_directory_iterator walk(path, fs::directory_options::skip_permission_denied, error);
        for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
            if (cancel && cancel())
                return files;
            if (!walk->is_symlink(error) && walk->is_regular_file(error) &&
                AcceptsMusicFile(side, walk->path().string()))
                found.push_back(walk->path().string());
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

int AddMusicFiles(ADir* side, const std::vector<std::string>& paths, CancelProc cancel, AProgress* progress)
{
    auto* pod = dynamic_cast<ADirPodDB*>(side);
    auto* folder = dynamic_cast<ADirSongDir*>(side);
    auto* library = dynamic_cast<ADirTunes*>(side); // also an iPod the library serves (ADirPod)
    auto* served = dynamic_cast<ADirPod*>(side);
    AString start("Starting to Add Files...");
    progress->StartProgress(&start, 1, 1, 0);
    int err = (pod || folder || library) ? 0 : kErrUnknown;
    const std::vector<std::string> files =
        err == 0 ? MusicFilesUnder(*side, paths, cancel) : std::vector<std::string>();
    // The side's list is read first: an iPod's database must be whole before a song goes in.
    if (err == 0 && !files.empty())
        err = side->InitWPath(nullptr, 0, cancel);
    int added = 0;
    for (std::size_t k = 0; err == 0 && k < files.size(); ++k) {
        AString path = AString::FromUTF8(files[k]);
        AString line;
        line += static_cast<int>(k + 1);
        line += " Adding: ";
        line += path;
        progress->UpdateDivision(static_cast<double>(k) / static_cast<double>(files.size()), nullptr, &line,
                                 nullptr, 0);
        Say(progress, line, false);
        int result = 0;
        if (pod) {
            result = pod->AddSongFromDisk(&path, nullptr, cancel);
        } else if (folder) {
            result = folder->AddSongFromDisk(&path, nullptr, cancel);
        } else if (served) {
            result = served->AddSongFromDisk(&path);
        } else {
            // Placed in the library's music folder first; a copy the library then refuses goes again.
            AString placed;
            signed char copied = 0;
            result = library->AddITunesReadyFile(nullptr, &path, &placed, nullptr, &copied, cancel);
            if (result == 0) {
                result = library->AddSongFromDisk(&placed);
                if (result != 0 && result != kErrLastSyncPlaylist && copied)
                    AFile::Delete(&placed);
            }
        }
        // The side holds this song already, or only its "Last Sync" playlist could not take it.
        if (result == kErrDuplicate || ((library || served) && result == kErrLastSyncPlaylist))
            result = 0;
        if (result != 0) {
            AString failed = AString("Error Adding: ") + path + " code=";
            failed += result;
            AError::AddErrorMsg(&failed, result);
            Say(progress, failed, true);
            err = result;
            break;
        }
        ++added;
        if (cancel && cancel())
            err = kErrUserCancel;
    }
    if ((err == 0 || err == kErrUserCancel) && !files.empty())
        if (int finalized = side->Finalize(); finalized != 0)
            err = finalized;
    AString end = err == 0                ? AString("All files added.")
                  : err == kErrUserCancel ? AString("Some files added. User Cancelled.")
                                          : AString("Adding Files Ended with an Error.");
    progress->EndProgress(&end, 1, 1, err == 0 || err == kErrUserCancel ? 1 : 0);
    return err;
}

int ScanForDuplicates(ADir* side, CancelProc cancel, AProgress* progress)
{
    AString start("Starting Scan for Duplicated Songs...");
    progress->StartProgress(&start, 1, 1, 0);
    progress->StartDivision(0.1, nullptr, 0, 0);
    int err = side->InitWPath(nullptr, 0, cancel);
    progress->EndDivision(nullptr, 0, 0);
    if (err == 0) {
        progress->StartDivision(0.9, nullptr, 0, 0);
        err = side->ScanForDuplicates(1, 1, 1, cancel, 1);
        progress->EndDivision(nullptr, 0, 0);
    }
    if (err == 0)
        err = side->Finalize();
    AString end = err == 0                ? AString("Duplicate Songs Scan Complete.")
                  : err == kErrUserCancel ? AString("User Canclelled Scan.")
                                          : AString("Error Finding Duplicate Songs!");
    progress->EndProgress(&end, 1, 1, err == 0 || err == kErrUserCancel ? 1 : 0);
    return err;
}

} // namespace tools
