#include "ACommon/itunesdb/IPodStoreCadence.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

std::int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

IPodStoreCadence::IPodStoreCadence() : IPodStoreCadence(SteadyMilliseconds) {}

IPodStoreCadence::IPodStoreCadence(Clock steadyClock, std::uint64_t least)
    : clock(std::move(steadyClock)), leastBytes(least)
{
}

void IPodStoreCadence::Changed()
{
    if (pending)
        return;
    pending = true;
    firstChangeMs = clock();
}

void IPodStoreCadence::Copied(std::uint64_t bytes)
{
    Changed();
    copiedBytes += bytes;
}

bool IPodStoreCadence::Due() const
{
    if (!pending)
        return false;
    const std::uint64_t batch = std::max(leastBytes, databaseBytes * kBytesPerDatabaseByte);
    return copiedBytes >= batch || clock() - firstChangeMs >= kLongestKeepMs;
}

void IPodStoreCadence::Stored(std::uint64_t bytes)
{
    databaseBytes = bytes;
    Forget();
}

void IPodStoreCadence::Forget()
{
    pending = false;
    copiedBytes = 0;
}
