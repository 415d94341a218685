#pragma once
// TransferMeter: how far the copies of a run have come, in bytes, and how long the rest should take
// at the rate seen so far. The run's thread starts it with the bytes its plan copies and adds each
// file as it is copied; a front end reads it from its own thread at any time.

#include "ACommon/base/AString.h"

#include <chrono>
#include <cstdint>
#include <mutex>

class TransferMeter {
public:
    struct Reading {
        bool running = false;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        double seconds = 0; // since the start
    };

    void Start(std::uint64_t totalBytes);
    void Add(std::uint64_t bytes);
    void Stop();
    Reading Read() const;

    // Seconds left at the rate so far; below 0 when it cannot be told yet (too little copied, or
    // too soon to judge).
    static double SecondsLeft(const Reading& reading);
    // "12 MB of 80 MB copied, about 2 min left"; without the time while it cannot be told.
    static AString Describe(const Reading& reading);
    // "less than a minute left", "about 2 min left", "about 1 h 5 min left".
    static AString TimeLeftText(double seconds);

private:
    mutable std::mutex mutex;
    bool running = false;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point stopped;
};
