#pragma once
// How many songs the left side of a sync holds, for the line under its picture: the chosen playlist
// of the music library, or a folder of songs.

#include <QString>

namespace sidecounts {

// The tracks of the library's playlist `playlist` ("Library" for the whole library); -1 when the
// library does not answer.
int LibrarySongs(const QString& playlist);
// The song files in `folder` and the folders below it (links are not followed).
int FolderSongs(const QString& folder);
// "1 song", "39 songs"; empty for -1.
QString SongsText(int count);

} // namespace sidecounts
