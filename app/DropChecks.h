#pragma once
// What a drag onto a side of the window may carry, as plain functions a test can call without a
// window. Adding what is dropped is the library tools' own run.

#include "ACommon/sources/ADir.h"

#include <string>

namespace drops {

// How far a drag looks into a dropped folder for a music file before it gives up.
constexpr int kDragWalkEntries = 2000;

// True when `side` takes the music file `path` (a song extension its type filter passes).
bool AcceptsMusicFile(const ADir& side, const std::string& path);
// True when the folder holds a music file `side` takes, looking at no more than `maxEntries`
// entries and following no link.
bool FolderHoldsMusicFile(const ADir& side, const std::string& folder, int maxEntries = kDragWalkEntries);

} // namespace drops
