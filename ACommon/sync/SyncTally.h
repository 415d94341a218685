#pragma once
// SyncTally: what one sync run did, counted by the engine as it performs each action (never taken
// from the plan): the files or songs copied to each side with their size, those replaced, those
// removed, the changes left undone (unticked, answered No, undecided, or held back), and the
// actions that failed. Its summary is the line a run ends with.

#include "ACommon/base/AString.h"

#include <cstdint>

class SyncTally {
public:
    void Reset() { *this = SyncTally(); }

    // `side` is the side that received the file: 1 left, 2 right.
    void CountCopy(int side, std::uint64_t bytes);
    // A song the receiving library held already, put into the run's playlist as its own track:
    // nothing copied.
    void CountHeldSongAdded() { ++heldAdded; }
    void CountReplacement(std::uint64_t bytes);
    void CountRemoval() { ++removed; }
    void CountKept() { ++kept; }
    void CountError() { ++errors; }
    // Names a file or song whose action failed, with why (the error's code and message); the
    // summary lists the first few, since each is tried again by the next run.
    void NoteFailure(const AString& what, const AString& why);
    // Takes back copies to `side` (and their bytes) and removals that were counted as done but
    // that the side could not make final (its library was not written back).
    void CountUndone(int side, int copies, std::uint64_t bytes, int removals);

    int Copied(int side) const { return side == 1 || side == 2 ? copied[side] : 0; }
    int Removed() const { return removed; }
    int Kept() const { return kept; }
    int Errors() const { return errors; }
    // Copies, songs put into a playlist, replacements and removals: the changes made to either side.
    int Changes() const { return copied[1] + copied[2] + heldAdded + replaced + removed; }

    // The line a run ends with: "Copied 39 songs (142 MB) to Demo iPod; removed 0; 0 errors.".
    // `leftName` and `rightName` name the sides; `songs` counts songs rather than files;
    // `movedAside` says that removed songs went into "Removed Files". `result` is the run's: a
    // cancelled run says so first, and a run that failed counts its failure as an error even when
    // no single action failed.
    AString Summary(const AString& leftName, const AString& rightName, bool songs, bool movedAside,
                    int result) const;

    // "512 bytes", "48 kB", "3.5 MB", "142 MB", "12.4 GB": decimal units, as disks are sold.
    static AString FormatSize(std::uint64_t bytes);

private:
    int copied[3] = {0, 0, 0};
    std::uint64_t copiedBytes[3] = {0, 0, 0};
    int heldAdded = 0;
    int replaced = 0;
    std::uint64_t replacedBytes = 0;
    int removed = 0;
    int kept = 0;
    int errors = 0;
    static constexpr int kFailuresNamed = 5;
    int failuresNoted = 0;
    AString failuresNamed;
};
