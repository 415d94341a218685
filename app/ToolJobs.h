#pragma once
// The library tools the window runs on the run controller's worker thread, as plain functions a
// test can call without a window: adding music files (dropped or chosen) to a side, and the
// duplicate scan.

#include "ACommon/base/AProgress.h"
#include "ACommon/base/AString.h"
#include "ACommon/sources/ADir.h"

#include <string>
#include <vector>

namespace tools {

// How far a drag looks into a dropped folder for a music file before it gives up.
constexpr int kDragWalkEntries = 2000;

// True when `side` takes the music file `path` (a song extension its type filter passes).
bool AcceptsMusicFile(const ADir& side, const std::string& path);
// True when the folder holds a music file `side` takes, looking at no more than `maxEntries`
// entries and following no link.
bool FolderHoldsMusicFile(const ADir& side, const std::string& folder, int maxEntries = kDragWalkEntries);
// The music files `side` takes among `paths` and, for folders, below them (no links followed), in
// the order given and by name within a folder.
std::vector<std::string> MusicFilesUnder(const ADir& side, const std::vector<std::string>& paths,
                                         CancelProc cancel);
// Adds every music file under `paths` to `side` (a folder of songs, the library, an iPod the
// library serves or an iPod through its database) in one run: the side's list is read, each file added (a
// song the side holds already is left as it is), and the side written back. Stops at the first file that
// cannot be added. 0, 123456 when cancelled, or the error.
int AddMusicFiles(ADir* side, const std::vector<std::string>& paths, CancelProc cancel, AProgress* progress);
// Lists `side` and removes its duplicate songs, asking first.
int ScanForDuplicates(ADir* side, CancelProc cancel, AProgress* progress);

} // namespace tools
