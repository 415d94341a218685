#include "ACommon/sources/SongConverter.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/AudioTranscoder.h"
#include "ACommon/tags/ID3.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kPartSuffix = ".part";

// FNV-1a over the file's bytes: the content hash that names a conversion.
bool ContentHash(const std::string& path, std::uint64_t& hash, std::uint64_t& size)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    hash = 0xcbf29ce484222325ull;
    size = 0;
    std::vector<unsigned char> block(1 << 16);
    for (;;) {
        const ssize_t got = read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            close(fd);
            return false;
        }
        if (got == 0)
            break;
        for (ssize_t i = 0; i < got; ++i)
            hash = (hash ^ block[static_cast<std::size_t>(i)]) * 0x100000001b3ull;
        size += static_cast<std::uint64_t>(got);
    }
    close(fd);
    return true;
}

int SyncPath(const std::string& path, int flags)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return kErrIO;
    const int result = fsync(fd);
    close(fd);
    return result == 0 ? 0 : kErrIO;
}

// Marks `path` as used now, leaving its modification time alone.
void Touch(const std::string& path)
{
    const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_OMIT}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

} // namespace

SongConverter::SongConverter(Options given) : options(std::move(given))
{
    if (options.cacheFolder.empty())
        options.cacheFolder = DefaultCacheFolder();
    if (options.threads == 0)
        options.threads = std::max(1u, std::thread::hardware_concurrency());
}

SongConverter::~SongConverter()
{
    Stop();
    for (std::thread& worker : workers)
        worker.join();
    SaveIndex();
}

namespace {

constexpr std::size_t kIndexLimit = 200000; // entries; the least useful go first

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// A path on one line: "\\" for a backslash, "\n" for a line break.
std::string Escaped(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

// One entry a line: hash (hexadecimal), size, modified, changed, device, inode, then the path.
void SongConverter::LoadIndex()
{
    indexLoaded = true;
    FILE* file = std::fopen(IndexPath().c_str(), "r");
    if (!file)
        return;
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    while ((length = getline(&line, &capacity, file)) > 0) {
        std::string text(line, static_cast<std::size_t>(length));
        if (text.back() != '\n')
            break; // a line cut short
        text.pop_back();
        IndexEntry entry;
        unsigned long long hash = 0, size = 0, device = 0, inode = 0;
        long long modified = 0, statusChanged = 0;
        int used = 0;
        if (std::sscanf(text.c_str(), "%llx %llu %lld %lld %llu %llu %n", &hash, &size, &modified,
                        &statusChanged, &device, &inode, &used) != 6 ||
            used <= 0 || static_cast<std::size_t>(used) >= text.size())
            continue;
        entry.hash = hash;
        entry.print = {size, device, inode, modified, statusChanged};
        index[Unescaped(text.substr(static_cast<std::size_t>(used)))] = entry;
    }
    std::free(line);
    std::fclose(file);
}

void SongConverter::SaveIndex()
{
    std::lock_guard<std::mutex> lock(indexMutex);
    if (!indexChanged)
        return;
    std::error_code code;
    fs::create_directories(fs::path(IndexPath()).parent_path(), code);
    const std::string temporary = IndexPath() + "." + std::to_string(getpid()) + kPartSuffix;
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return;
    // Over the limit, the entries this converter did not use are left out.
    const bool trim = index.size() > kIndexLimit;
    bool ok = true;
    for (const auto& [path, entry] : index) {
        if (trim && !entry.used)
            continue;
        const Fingerprint& p = entry.print;
        ok = ok && std::fprintf(file, "%016llx %llu %lld %lld %llu %llu %s\n",
                                static_cast<unsigned long long>(entry.hash),
                                static_cast<unsigned long long>(p.size), static_cast<long long>(p.modified),
                                static_cast<long long>(p.changed), static_cast<unsigned long long>(p.device),
                                static_cast<unsigned long long>(p.inode), Escaped(path).c_str()) > 0;
    }
    ok = std::fflush(file) == 0 && ok;
    ok = fsync(fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || rename(temporary.c_str(), IndexPath().c_str()) != 0)
        std::remove(temporary.c_str());
    else
        indexChanged = false;
}

bool SongConverter::HashOf(const std::string& song, std::uint64_t& hash, std::uint64_t& size)
{
    auto fingerprint = [&song](Fingerprint& print) {
        struct stat info {};
        if (stat(song.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return false;
        print = {static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_dev),
                 static_cast<std::uint64_t>(info.st_ino), Nanoseconds(info.st_mtim),
                 Nanoseconds(info.st_ctim)};
        return true;
    };
    Fingerprint before;
    if (!fingerprint(before))
        return false;
    {
        std::lock_guard<std::mutex> lock(indexMutex);
        if (!indexLoaded)
            LoadIndex();
        auto found = index.find(song);
        if (found != index.end() && found->second.print == before) {
            found->second.used = true;
            hash = found->second.hash;
            size = before.size;
            return true;
        }
    }
    ++hashesComputed;
    if (!ContentHash(song, hash, size))
        return false;
    // A file that changed while it was read is hashed again next time.
    Fingerprint after;
    if (!fingerprint(after) || !(after == before) || size != before.size)
        return true;
    std::lock_guard<std::mutex> lock(indexMutex);
    index[song] = IndexEntry{before, hash, true};
    indexChanged = true;
    return true;
}

std::string SongConverter::DefaultCacheFolder()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/pelorin/converted";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.cache/pelorin/converted";
}

void SongConverter::Stop()
{
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    for (const std::shared_ptr<Job>& job : queue) {
        job->state = Job::kDone;
        job->result = kErrUserCancel;
    }
    queue.clear();
    changed.notify_all();
}

int SongConverter::Plan(const std::string& song, AudioFormats::Target& target, std::string& name,
                        std::uint64_t& samples)
{
    // MP3, AIFF and WAV files hold nothing an iPod cannot play: they are copied as they are, without
    // reading their tags first. The checks are the tag reader's own first ones, with its codes.
    const std::string extension = AudioFormats::LowerExtension(song);
    if (extension == "mp3" || extension == "aif" || extension == "aiff" || extension == "wav") {
        struct stat info {};
        if (stat(song.c_str(), &info) != 0)
            return kErrFileNotFound;
        if (!S_ISREG(info.st_mode))
            return kErrOpen;
        if (info.st_size < 1)
            return kErrInconsistentSize;
        samples = 0;
        target = AudioFormats::Target::kCopy;
        return 0;
    }
    ID3 tags;
    if (int err = tags.SetFilePath(AString::FromUTF8(song)); err != 0)
        return err;
    samples = tags.GetSampleCount();
    target = AudioFormats::TargetFor(tags, options.modelPlaysALAC, options.settings);
    if (target == AudioFormats::Target::kCopy)
        return 0;
    std::uint64_t hash = 0, size = 0;
    if (!HashOf(song, hash, size))
        return kErrFileNotFound;
    char text[96];
    // "g": the files that carry their gapless facts; older ones are converted again.
    std::snprintf(text, sizeof text, "%016llx-%llu-%s%d-g.m4a", static_cast<unsigned long long>(hash),
                  static_cast<unsigned long long>(size),
                  target == AudioFormats::Target::kALAC ? "alac" : "aac",
                  target == AudioFormats::Target::kALAC ? 16 : options.settings.aacKbps);
    name = text;
    return 0;
}

int SongConverter::Produce(const std::string& song, std::string& file, CancelProc cancel)
{
    AudioFormats::Target target = AudioFormats::Target::kCopy;
    std::string name;
    std::uint64_t samples = 0;
    if (int err = Plan(song, target, name, samples); err != 0)
        return err;
    if (target == AudioFormats::Target::kCopy) {
        file = song;
        return 0;
    }
    file = options.cacheFolder + "/" + name;
    struct stat info {};
    if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        Touch(file);
        ++cacheHits;
        return 0;
    }
    std::error_code code;
    fs::create_directories(options.cacheFolder, code);
    if (code)
        return kErrIO;
    RemoveDeadTemporaries();

    // Written under a name of this process, so that a later run can tell a killed run's leftover.
    const std::string part = options.cacheFolder + "/." + name + "." + std::to_string(getpid()) + "." +
                             std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id())) +
                             kPartSuffix;
    auto cancelled = [this, cancel] { return stopping.load() || (cancel && cancel() != 0); };
    auto report = [this, &song](double fraction) {
        if (progress)
            progress(song, fraction);
    };
    const int err = AudioTranscoder::Convert(
        song, part,
        target == AudioFormats::Target::kALAC ? AudioTranscoder::Codec::kALAC : AudioTranscoder::Codec::kAAC,
        options.settings.aacKbps, samples, cancelled, report);
    if (err != 0)
        return err;
    // The converted song is as old as its original.
    struct stat original {};
    if (stat(song.c_str(), &original) == 0) {
        const timespec times[2] = {{0, UTIME_NOW}, original.st_mtim};
        utimensat(AT_FDCWD, part.c_str(), times, 0);
    }
    if (SyncPath(part, O_RDONLY) != 0 || rename(part.c_str(), file.c_str()) != 0) {
        std::remove(part.c_str());
        return kErrIO;
    }
    SyncPath(options.cacheFolder, O_RDONLY | O_DIRECTORY);
    ++conversions;
    Evict(file);
    return 0;
}

void SongConverter::RemoveDeadTemporaries()
{
    std::error_code code;
    for (const fs::directory_entry& entry : fs::directory_iterator(options.cacheFolder, code)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 7 || name[0] != '.' || name.compare(name.size() - 5, 5, kPartSuffix) != 0)
            continue;
        // ".<name>.<pid>.<thread>.part": the file of a process that is gone is a leftover.
        const std::size_t threadDot = name.rfind('.', name.size() - 6);
        const std::size_t pidDot =
            threadDot == std::string::npos ? threadDot : name.rfind('.', threadDot - 1);
        if (pidDot == std::string::npos)
            continue;
        const long pid = std::strtol(name.c_str() + pidDot + 1, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            fs::remove(entry.path(), code);
    }
}

void SongConverter::Evict(const std::string& keep)
{
    std::lock_guard<std::mutex> lock(evictMutex);
    struct Entry {
        std::string path;
        std::uint64_t size;
        timespec used;
    };
    std::vector<Entry> entries;
    std::uint64_t total = 0;
    std::error_code code;
    for (const fs::directory_entry& entry : fs::directory_iterator(options.cacheFolder, code)) {
        const std::string path = entry.path().string();
        struct stat info {};
        if (entry.path().extension() != ".m4a" || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        entries.push_back({path, static_cast<std::uint64_t>(info.st_size), info.st_atim});
        total += static_cast<std::uint64_t>(info.st_size);
    }
    if (total <= options.cacheLimitBytes)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                              : a.used.tv_nsec < b.used.tv_nsec;
    });
    for (const Entry& entry : entries) {
        if (total <= options.cacheLimitBytes)
            break;
        if (entry.path == keep)
            continue;
        if (fs::remove(entry.path, code))
            total -= entry.size;
    }
}

void SongConverter::RunJob(const std::shared_ptr<Job>& job)
{
    std::string file;
    const int result = Produce(job->song, file, nullptr);
    const AString detail = result != 0 ? AError::FailureDetail(result) : AString();
    std::lock_guard<std::mutex> lock(mutex);
    job->result = result;
    job->detail = detail;
    job->file = file;
    job->state = Job::kDone;
    changed.notify_all();
}

void SongConverter::Work()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            job = queue.front();
            queue.pop_front();
            job->state = Job::kRunning;
        }
        RunJob(job);
    }
}

void SongConverter::Prefetch(const std::vector<AString>& songs)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const AString& song : songs) {
        AString extension;
        song.PathExtension(&extension);
        // Only the types every iPod needs converted are queued; the rest are decided when copied.
        if (!AudioFormats::NeedsConversion(extension))
            continue;
        const std::string path = song.ToStdString();
        if (jobs.count(path))
            continue;
        auto job = std::make_shared<Job>();
        job->song = path;
        jobs[path] = job;
        queue.push_back(job);
    }
    while (workers.size() < options.threads && !queue.empty())
        workers.emplace_back([this] { Work(); });
    changed.notify_all();
}

int SongConverter::FileForIPod(const AString& song, AString& out, CancelProc cancel)
{
    const std::string path = song.ToStdString();
    std::shared_ptr<Job> job;
    {
        std::unique_lock<std::mutex> lock(mutex);
        auto found = jobs.find(path);
        if (found != jobs.end()) {
            job = found->second;
            if (job->state == Job::kQueued) {
                // Not started yet: this thread converts it now.
                queue.erase(std::remove(queue.begin(), queue.end(), job), queue.end());
                job->state = Job::kRunning;
                lock.unlock();
                RunJob(job);
                lock.lock();
            }
            while (job->state != Job::kDone) {
                changed.wait_for(lock, std::chrono::milliseconds(100));
                if (cancel && cancel()) {
                    lock.unlock();
                    Stop();
                    return kErrUserCancel;
                }
            }
            if (job->result != 0) {
                // Converted on a worker: its reason is noted again on this thread, for the report.
                if (!job->detail.IsEmpty())
                    AError::NoteFailure(job->result, job->detail);
                return job->result;
            }
            out = AString::FromUTF8(job->file);
            return 0;
        }
    }
    // A song no sync queued: converted on this thread, which asks `cancel` between packets.
    std::string file;
    const int result = Produce(path, file, cancel);
    if (result != 0)
        return result;
    out = AString::FromUTF8(file);
    return 0;
}
