#pragma once
// The desktop's Trash (the freedesktop.org layout): a trashed item goes into the Trash of its own
// volume, "files/NAME" with "info/NAME.trashinfo" naming where it came from and when, so that the
// desktop's Trash can put it back. Paths are UTF-8.

#include <string>

namespace platform {

// Moves the file or folder at `path` (a full path) into the Trash of its volume: the home Trash
// ($XDG_DATA_HOME/Trash) when it lies on the same volume, else the volume's own Trash
// (TOP/.Trash/UID when the volume has a shared one fit to use, else TOP/.Trash-UID). Nothing is
// copied: an item the Trash cannot take by renaming it is left where it is. On success `trashed`
// (when given) is where it went. Returns 0 or an errno value (ENOENT: no such item; EXDEV: no Trash
// on its volume can be used).
int MoveToTrash(const std::string& path, std::string* trashed = nullptr);

} // namespace platform
