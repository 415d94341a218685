#include "musiclib/FolderImport.h"

#include "musiclib/MusicLibrary.h"
#include "musiclib/TrackRecord.h"

#include "ACommon/base/AError.h"

#include <algorithm>
#include <filesystem>

namespace {

bool IsHidden(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

// The music files under `folder`, sorted, hidden entries and other files counted.
int ListMusic(const std::string& folder, std::vector<std::string>& files, FolderImport::Summary& summary,
              std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code code;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, code);
    if (code) {
        error = "cannot list " + folder + ": " + code.message();
        return kErrFileNotFound;
    }
    for (fs::recursive_directory_iterator end; it != end; it.increment(code)) {
        if (code) {
            error = "cannot list " + folder + ": " + code.message();
            return kErrIO;
        }
        const fs::directory_entry& entry = *it;
        if (IsHidden(entry.path())) {
            ++summary.hidden;
            if (entry.is_directory(code))
                it.disable_recursion_pending();
            continue;
        }
        // Links are followed for files, not for folders (a link to a parent would never end).
        if (entry.is_symlink(code) && entry.is_directory(code)) {
            it.disable_recursion_pending();
            continue;
        }
        if (!entry.is_regular_file(code))
            continue;
        const std::string path = entry.path().string();
        if (TrackRecord::IsMusicFile(path))
            files.push_back(path);
        else
            ++summary.other;
    }
    std::sort(files.begin(), files.end());
    return 0;
}

} // namespace

int FolderImport::Run(MusicLibrary& library, const std::string& folder, const std::string& playlist,
                      const Progress& progress, CancelProc cancel, Summary& summary, std::string& error)
{
    summary = Summary();
    const std::string root = LibrarySource::NormalPath(folder);
    if (root.empty()) {
        error = "the folder must be an absolute path";
        return kErrInvalidPath;
    }
    LibrarySource& source = library.Library();
    PlaylistInfo target;
    int err = playlist.empty() ? source.GetLibraryPlaylist(target) : source.FindPlaylist(playlist, target);
    if (err != 0) {
        error = source.LastError();
        return err;
    }
    std::vector<std::string> files;
    if (err = ListMusic(root, files, summary, error); err != 0)
        return err;
    summary.found = static_cast<int>(files.size());

    struct Pending {
        std::string path;
        TrackRecord record; // empty location: held already
    };
    std::size_t next = 0;
    int done = 0;
    while (next < files.size()) {
        // Tags are read before the write lock is taken, so another writer waits only for the inserts.
        std::vector<Pending> batch;
        for (; next < files.size() && static_cast<int>(batch.size()) < kBatchSize; ++next) {
            if (cancel && cancel())
                return kErrUserCancel;
            Pending pending{files[next], TrackRecord()};
            std::uint32_t id = 0;
            const std::string location = LibrarySource::NormalPath(files[next]);
            std::error_code code;
            const std::filesystem::path canonical = std::filesystem::canonical(location, code);
            if (int found = source.FindTrack(location, code ? location : canonical.string(), id);
                found != 0) {
                error = source.LastError();
                return found;
            }
            if (id == 0) {
                std::string why;
                if (TrackRecord::Read(location, pending.record, why) != 0) {
                    ++summary.unreadable;
                    summary.problems.push_back(files[next] + ": " + why);
                    if (progress)
                        progress(++done, summary.found, files[next]);
                    continue;
                }
            }
            batch.push_back(std::move(pending));
        }
        if (batch.empty())
            continue;
        if (err = source.Begin(true); err != 0) {
            error = source.LastError();
            return err;
        }
        int added = 0, present = 0;
        for (Pending& pending : batch) {
            std::uint32_t id = 0;
            const bool read = !pending.record.location.empty();
            // Another process may have added the file since it was looked up.
            err = read ? source.FindTrack(pending.record.location, pending.record.canonical, id)
                       : source.FindTrack(LibrarySource::NormalPath(pending.path), std::string(), id);
            if (err == 0 && id == 0 && read) {
                err = source.InsertTrack(pending.record, id);
                ++added;
            } else if (err == 0) {
                ++present;
            }
            if (err == 0 && id != 0)
                err = source.AddToPlaylist(id, target.id);
            if (err != 0) {
                error = source.LastError();
                source.Rollback();
                return err;
            }
        }
        if (err = source.Commit(); err != 0) {
            error = source.LastError();
            return err;
        }
        summary.added += added;
        summary.present += present;
        for (const Pending& pending : batch) {
            if (progress)
                progress(++done, summary.found, pending.path);
        }
    }
    return 0;
}
