#pragma once
// The wall-clock time a piece of work takes, for the benchmarks' figures.

#include <chrono>

namespace bench {

template <class Work> double Seconds(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace bench
