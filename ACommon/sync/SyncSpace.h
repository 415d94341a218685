#pragma once
// SyncSpace: what a planned sync does to the room on the volumes that receive it. Each side's
// volume is measured (its size, the bytes in use, the bytes free), the plan's active actions say
// what they bring there (copies and replacements) and what they give back (replaced files, and
// removals that leave the volume rather than go into "Removed Files" or the Trash), and a plan
// whose copies cannot fit is refused before anything is copied.
//
// Songs converted on their way to an iPod are counted at the size of their originals: an estimate
// (the converted file is usually smaller), shown in the figures but never the reason for a refusal.

#include "ACommon/base/AString.h"

#include <cstdint>

class ASync;

class SyncSpace {
public:
    struct Volume {
        bool known = false;
        std::uint64_t total = 0;
        std::uint64_t used = 0;
        std::uint64_t free = 0;
    };

    // What the active actions of a plan do to one side (1 left, 2 right).
    struct Change {
        std::uint64_t adds = 0;      // bytes the copies and replacements write there
        std::uint64_t estimated = 0; // the part of `adds` that is an estimate
        std::uint64_t frees = 0;     // bytes the replacements and removals give back
        int files = 0;               // copies and replacements
    };

    // The volume that holds `path`, or the nearest folder above it that exists.
    static Volume Measure(const AString& path);
    // The change the plan of `sync` (its active actions) makes to `side`.
    static Change PlannedChange(ASync& sync, int side);

    // Bytes free once the change is made; below 0 when it does not fit.
    static std::int64_t FreeAfter(const Volume& volume, const Change& change);
    // Whether the bytes known exactly fit into what is free, with what the plan gives back.
    static bool Fits(const Volume& volume, const Change& change);

    // "Not enough space on Demo iPod: the sync copies 2.1 GB and frees 10 MB, and 1.5 GB is free.
    // Untick songs or free 620 MB on it, then sync again. Nothing was copied."
    static AString Refusal(const AString& name, const Volume& volume, const Change& change);
    // "12.4 GB used, 3.5 GB free; 1.2 GB free after the sync" (the last part only with a change).
    static AString Describe(const Volume& volume, const Change* change);
};
