#pragma once
// FreeLater: memory a run is done with, freed by a thread of its own instead of by the run. A large
// tree of records (an iPod's database of thousands of songs) takes as long to free as to write;
// the run hands it over and goes on, and a process that ends first leaves the freeing to the
// system. Only for objects whose destruction is nothing but the release of memory: no file, lock or
// other state may depend on when they go.

#include <functional>
#include <memory>

namespace FreeLater {

// Frees `object` on the freeing thread (started on first use), soon, at a low priority.
void Hand(std::function<void()> release);

template <typename T> void Free(std::unique_ptr<T> object)
{
    if (object)
        Hand([held = std::shared_ptr<T>(std::move(object))]() mutable { held.reset(); });
}

// Waits until everything handed over so far is freed: for tests and measurements.
void Drain();

} // namespace FreeLater
