#include "musiclib/FolderImport.h"

#include "musiclib/MusicLibrary.h"
#include "musiclib/TrackRecord.h"

#include "ACommon/base/AError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unordered_set>

namespace {

// Files are read in chunks of this many, by this thread and at most this many helpers.
constexpr std::size_t kReadChunk = 32;
constexpr unsigned kMaxReaders = 4;

struct Found {
    std::string path;
    std::string canonical; // with links and ".." resolved
    bool operator<(const Found& other) const { return path < other.path; }
};

// The music files under `folder` (whose resolved path is `resolved`), sorted; hidden entries and
// other files counted, folders that cannot be read counted as unreadable.
int ListMusic(const std::string& folder, const std::string& resolved, std::vector<Found>& files,
              FolderImport::Summary& summary, std::string& error)
{
    struct CloseDir {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::vector<std::string> folders{folder};
    bool top = true;
    while (!folders.empty()) {
        const std::string current = std::move(folders.back());
        folders.pop_back();
        std::unique_ptr<DIR, CloseDir> dir(opendir(current.c_str()));
        if (!dir) {
            if (top) {
                error = "cannot list " + folder + ": " + std::strerror(errno);
                return kErrFileNotFound;
            }
            ++summary.unreadable;
            summary.problems.push_back(current + ": the folder cannot be read");
            continue;
        }
        top = false;
        while (const dirent* entry = readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (name.front() == '.') {
                ++summary.hidden;
                continue;
            }
            std::string path = current + "/" + std::string(name);
            unsigned char type = entry->d_type;
            struct stat info {};
            if (type == DT_UNKNOWN && lstat(path.c_str(), &info) == 0)
                type = S_ISDIR(info.st_mode)   ? DT_DIR
                       : S_ISLNK(info.st_mode) ? DT_LNK
                       : S_ISREG(info.st_mode) ? DT_REG
                                               : 0;
            if (type == DT_DIR) {
                folders.push_back(std::move(path));
                continue;
            }
            // Links are followed to files, never to folders (a link to a parent would never end).
            const bool link = type == DT_LNK;
            if (link && (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)))
                continue;
            if (!link && type != DT_REG)
                continue;
            if (!TrackRecord::IsMusicFile(path)) {
                ++summary.other;
                continue;
            }
            // Below a folder reached without links, only a file that is a link needs resolving.
            std::string canonical = resolved + path.substr(folder.size());
            if (link) {
                std::error_code code;
                const std::filesystem::path target = std::filesystem::canonical(path, code);
                canonical = code ? path : target.string();
            }
            files.push_back(Found{std::move(path), std::move(canonical)});
        }
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
    std::error_code code;
    const std::filesystem::path resolvedRoot = std::filesystem::canonical(root, code);
    const std::string resolved = code ? root : resolvedRoot.string();
    std::vector<Found> files;
    if (err = ListMusic(root, resolved, files, summary, error); err != 0)
        return err;
    summary.found = static_cast<int>(files.size());
    // What the library holds under the folder already, by either path, so that a second import
    // reads no tags of files it has.
    std::unordered_set<std::string> known;
    if (err = source.PathsUnder(root, known); err == 0 && resolved != root)
        err = source.PathsUnder(resolved, known);
    if (err != 0) {
        error = source.LastError();
        return err;
    }

    // The batches commit without waiting for the disk; the end of the import (or any way out of
    // it) waits once for all of them.
    struct Durable {
        LibraryStore& store;
        ~Durable()
        {
            store.SetWaitForDisk(true);
            store.Checkpoint();
        }
    } durable{library.Store()};
    library.Store().SetWaitForDisk(false);

    // Tags are read on helper threads (and on this one while it has nothing to store) in chunks,
    // ahead of the batch being stored; only this thread writes the store, reports and asks the
    // cancel callback.
    enum : unsigned char { kWaiting, kKnown, kRead, kUnreadable };
    const std::size_t total = files.size();
    std::vector<TrackRecord> records(total);
    std::vector<std::string> problems(total);
    std::vector<unsigned char> state(total, kWaiting);
    std::unique_ptr<std::atomic<bool>[]> ready(new std::atomic<bool>[total]);
    for (std::size_t i = 0; i < total; ++i)
        ready[i].store(false);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable chunkRead;
    auto readChunk = [&]() -> bool {
        const std::size_t start = next.fetch_add(kReadChunk);
        if (start >= total || stop.load())
            return false;
        const std::size_t end = std::min(total, start + kReadChunk);
        for (std::size_t i = start; i < end; ++i) {
            const Found& file = files[i];
            if (known.count(file.path) || known.count(file.canonical)) {
                state[i] = kKnown;
            } else if (TrackRecord::Read(file.path, records[i], problems[i]) == 0) {
                records[i].canonical = file.canonical;
                state[i] = kRead;
            } else {
                state[i] = kUnreadable;
            }
            ready[i].store(true, std::memory_order_release);
        }
        {
            std::lock_guard<std::mutex> guard(mutex);
        }
        chunkRead.notify_all();
        return true;
    };
    // Stops and joins the helpers on every way out.
    struct Helpers {
        std::atomic<bool>& stop;
        std::vector<std::thread> threads;
        ~Helpers()
        {
            stop.store(true);
            for (std::thread& thread : threads)
                thread.join();
        }
    } helpers{stop, {}};
    if (total >= 2 * kReadChunk) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const unsigned wanted = std::min(cores, kMaxReaders);
        for (unsigned h = 0; h < wanted; ++h) {
            try {
                helpers.threads.emplace_back([&readChunk] {
                    while (readChunk()) {
                    }
                });
            } catch (const std::exception&) {
                break; // no thread to be had: fewer readers
            }
        }
    }

    int done = 0;
    for (std::size_t start = 0; start < total;) {
        const std::size_t end = std::min(total, start + kBatchSize);
        for (std::size_t i = start; i < end; ++i) {
            while (!ready[i].load(std::memory_order_acquire)) {
                if (cancel && cancel())
                    return kErrUserCancel;
                if (!readChunk()) {
                    std::unique_lock<std::mutex> lock(mutex);
                    chunkRead.wait_for(lock, std::chrono::milliseconds(20),
                                       [&] { return ready[i].load(std::memory_order_acquire); });
                }
            }
        }
        if (cancel && cancel())
            return kErrUserCancel;
        // A batch of files the library holds already changes nothing when they go to the library
        // playlist: no transaction then.
        bool changes = !target.IsFixed();
        for (std::size_t i = start; i < end && !changes; ++i)
            changes = state[i] == kRead;
        int added = 0, present = 0;
        if (changes) {
            if (err = source.Begin(true); err != 0) {
                error = source.LastError();
                return err;
            }
        }
        for (std::size_t i = start; i < end; ++i) {
            if (state[i] == kUnreadable)
                continue;
            if (state[i] == kKnown && target.IsFixed()) {
                ++present;
                continue;
            }
            std::uint32_t id = 0;
            if (state[i] == kRead) {
                // The same file reached by another path (a link, a hard link) is the track it is.
                err = source.FindTrack(files[i].path, files[i].canonical, id);
                if (err == 0 && id != 0) {
                    ++present;
                    // Its track may have been read from an older version of the file, or by a
                    // path it no longer has.
                    err = source.TakeOver(id, files[i].path, files[i].canonical);
                } else if (err == 0) {
                    // Another import may have added it meanwhile: then it was not added here.
                    bool inserted = false;
                    err = source.InsertTrack(records[i], id, &inserted);
                    ++(inserted ? added : present);
                }
            } else {
                err = source.FindTrack(files[i].path, files[i].canonical, id);
                ++present;
            }
            if (err == 0 && id != 0 && !target.IsFixed())
                err = source.AddToPlaylist(id, target.id);
            if (err != 0) {
                error = source.LastError();
                source.Rollback();
                return err;
            }
        }
        if (changes) {
            if (err = source.Commit(); err != 0) {
                error = source.LastError();
                return err;
            }
        }
        summary.added += added;
        summary.present += present;
        for (std::size_t i = start; i < end; ++i) {
            if (state[i] == kUnreadable) {
                ++summary.unreadable;
                summary.problems.push_back(files[i].path + ": " + problems[i]);
            }
            records[i] = TrackRecord();
            if (progress)
                progress(++done, summary.found, files[i].path);
        }
        start = end;
    }
    // Files the library held through links that are gone now are held by their own paths; files
    // retagged since they were read are read again.
    for (const std::string* under : {&root, &resolved}) {
        if (under == &resolved && resolved == root)
            break;
        int followed = 0, refreshed = 0;
        if (err = source.FollowLinksUnder(*under, followed); err == 0)
            err = source.RefreshChanged(*under, refreshed);
        if (err != 0) {
            error = source.LastError();
            return err;
        }
        summary.refreshed += refreshed;
    }
    return 0;
}
