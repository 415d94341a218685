#include "ACommon/sync/TransferMeter.h"

#include "ACommon/sync/SyncTally.h"

#include <cmath>

namespace {

// A rate judged from less than this is too unsteady to promise a time by.
constexpr double kMinimumSeconds = 2.0;

} // namespace

void TransferMeter::Start(std::uint64_t totalBytes)
{
    std::lock_guard<std::mutex> hold(mutex);
    running = true;
    done = 0;
    total = totalBytes;
    started = std::chrono::steady_clock::now();
}

void TransferMeter::Add(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> hold(mutex);
    done += bytes;
    // A file larger than planned (a replacement that grew) must not make the rest negative.
    if (done > total)
        total = done;
}

void TransferMeter::Stop()
{
    std::lock_guard<std::mutex> hold(mutex);
    if (running)
        stopped = std::chrono::steady_clock::now();
    running = false;
}

TransferMeter::Reading TransferMeter::Read() const
{
    std::lock_guard<std::mutex> hold(mutex);
    Reading reading;
    reading.running = running;
    reading.done = done;
    reading.total = total;
    const auto end = running ? std::chrono::steady_clock::now() : stopped;
    if (total > 0 || done > 0)
        reading.seconds = std::chrono::duration<double>(end - started).count();
    return reading;
}

double TransferMeter::SecondsLeft(const Reading& reading)
{
    if (reading.done == 0 || reading.seconds < kMinimumSeconds || reading.total < reading.done)
        return -1;
    const double rate = static_cast<double>(reading.done) / reading.seconds;
    return static_cast<double>(reading.total - reading.done) / rate;
}

AString TransferMeter::TimeLeftText(double seconds)
{
    if (seconds < 60)
        return AString("less than a minute left");
    const long minutes = std::lround(seconds / 60);
    AString text("about ");
    if (minutes >= 60) {
        text += static_cast<int>(minutes / 60);
        text += " h ";
        text += static_cast<int>(minutes % 60);
        text += " min left";
    } else {
        text += static_cast<int>(minutes);
        text += " min left";
    }
    return text;
}

AString TransferMeter::Describe(const Reading& reading)
{
    AString text = SyncTally::FormatSize(reading.done);
    text += " of ";
    text += SyncTally::FormatSize(reading.total);
    text += " copied";
    if (const double left = SecondsLeft(reading); left >= 0 && reading.done < reading.total) {
        text += ", ";
        text += TimeLeftText(left);
    }
    return text;
}
