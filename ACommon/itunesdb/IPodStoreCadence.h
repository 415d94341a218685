#pragma once
// IPodStoreCadence: when a run that changes an iPod stores its database on the way; every writer of
// the database (the database source, the library's iPod source) keeps the same one. A store writes
// the whole database, which grows with every song: storing after every so many songs writes more
// than the songs themselves once the iPod holds many. A store is due, while changes are kept, once
//   - a minute has passed since the first of them, or
//   - the songs copied since the last store reach kBytesPerDatabaseByte times the size of the
//     database as last stored (and at least the least batch, kLeastBytes),
// so the stores on the way write a small part of what the songs do; the writer stores at its end
// anyway. A run that stops loses no more work than that: the journal names every copy, and the next
// run takes the complete ones in.

#include <cstdint>
#include <functional>

class IPodStoreCadence {
public:
    // Milliseconds of a clock that never goes back.
    using Clock = std::function<std::int64_t()>;

    static constexpr std::int64_t kLongestKeepMs = 60'000;
    static constexpr std::uint64_t kBytesPerDatabaseByte = 8;
    static constexpr std::uint64_t kLeastBytes = 256ull << 20;

    IPodStoreCadence();
    explicit IPodStoreCadence(Clock clock, std::uint64_t leastBytes = kLeastBytes);

    // A change the database in memory holds and the iPod's does not.
    void Changed();
    // A song file of `bytes` copied onto the iPod (a change too).
    void Copied(std::uint64_t bytes);
    bool Due() const;
    // The iPod's database holds every change, at `databaseBytes` bytes (also: as it was read).
    void Stored(std::uint64_t databaseBytes);
    // The changes kept were given up.
    void Forget();
    bool Pending() const { return pending; }

private:
    Clock clock;
    std::uint64_t leastBytes;
    bool pending = false;
    std::int64_t firstChangeMs = 0;
    std::uint64_t copiedBytes = 0;
    std::uint64_t databaseBytes = 0;
};
