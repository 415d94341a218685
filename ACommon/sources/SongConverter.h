#pragma once
// SongConverter: gives the file to copy onto an iPod for a song file. A song the iPod plays is its
// own file; a song it cannot play (FLAC, Ogg Vorbis, Opus; Apple Lossless on a model without it)
// is converted into an M4A (AudioFormats::TargetFor) and kept in a cache folder, so that a second
// sync, or a second iPod, does not convert it again.
//
// The cache: one file per conversion, named by the song's content hash, its size and the settings
// (`<hash>-<size>-<alac|aacNNN>-g.m4a`), written under a temporary name, flushed and renamed into
// place, so the cache never holds a partial file; the file keeps the song's modification time (a
// converted song is no newer than its original). Its access time records its last use; when the
// folder grows past its limit the least recently used files go first.
//
// The content hash of a song is kept in an index beside the cache folder (`<folder>.index`), under
// its path with its size, modification and change times, device and inode: a song whose file is as
// it was is not read again; any change has it hashed anew.
//
// Conversions run on worker threads, one per core: Prefetch queues the songs a sync is about to
// copy, and FileForIPod takes a song's finished conversion, waits for a running one, or converts
// at once.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/tags/AudioFormats.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SongConverter {
public:
    struct Options {
        AudioFormats::Settings settings;
        bool modelPlaysALAC = true;
        std::string cacheFolder;                    // empty: DefaultCacheFolder()
        std::uint64_t cacheLimitBytes = 8ull << 30; // 8 GiB
        unsigned threads = 0;                       // 0: one per core
    };
    // Hears, from any thread, the song being converted and the fraction done.
    using ProgressProc = std::function<void(const std::string& song, double fraction)>;

    explicit SongConverter(Options options);
    ~SongConverter(); // stops the conversions under way; their temporary files go
    SongConverter(const SongConverter&) = delete;
    SongConverter& operator=(const SongConverter&) = delete;

    // $XDG_CACHE_HOME/pelorin/converted, else ~/.cache/pelorin/converted.
    static std::string DefaultCacheFolder();

    void SetProgress(ProgressProc proc) { progress = std::move(proc); }

    // `out` := the file to copy onto the iPod for `song`. 0; 123456 when `cancel` asks to stop;
    // the tag reader's or the conversion's error.
    int FileForIPod(const AString& song, AString& out, CancelProc cancel);

    // Queues the conversion of those of `songs` that need one; the workers start at once.
    void Prefetch(const std::vector<AString>& songs);

    // Stops the queued and running conversions (FileForIPod of one of them gives 123456).
    void Stop();

    int ConversionsDone() const { return conversions; }
    int CacheHits() const { return cacheHits; }
    // How many songs had their whole file read for their content hash.
    int HashesComputed() const { return hashesComputed; }

private:
    struct Job {
        std::string song;
        enum State { kQueued, kRunning, kDone } state = kQueued;
        int result = 0;
        AString detail; // the failure noted on the thread that ran it
        std::string file;
    };

    // Whether `song` needs converting, and into what; `name` the cache file's name.
    // `samples` the song's exact length when its file tells.
    int Plan(const std::string& song, AudioFormats::Target& target, std::string& name,
             std::uint64_t& samples);
    int Produce(const std::string& song, std::string& file, CancelProc cancel);
    void RunJob(const std::shared_ptr<Job>& job);
    void Work();
    void Evict(const std::string& keep);
    void RemoveDeadTemporaries();

    // What identifies a file's contents without reading them.
    struct Fingerprint {
        std::uint64_t size = 0, device = 0, inode = 0;
        std::int64_t modified = 0, changed = 0; // nanoseconds since 1970
        bool operator==(const Fingerprint&) const = default;
    };
    struct IndexEntry {
        Fingerprint print;
        std::uint64_t hash = 0;
        bool used = false; // looked up or added by this converter
    };
    // The content hash and size of `song`, from the index when its file is unchanged.
    bool HashOf(const std::string& song, std::uint64_t& hash, std::uint64_t& size);
    void LoadIndex();
    void SaveIndex();
    std::string IndexPath() const { return options.cacheFolder + ".index"; }

    Options options;
    ProgressProc progress;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::shared_ptr<Job>> jobs;
    std::deque<std::shared_ptr<Job>> queue;
    std::vector<std::thread> workers;
    std::atomic<bool> stopping{false};
    std::mutex evictMutex;
    std::atomic<int> conversions{0};
    std::atomic<int> cacheHits{0};
    std::atomic<int> hashesComputed{0};
    std::mutex indexMutex;
    std::map<std::string, IndexEntry> index;
    bool indexLoaded = false;
    bool indexChanged = false;
};
