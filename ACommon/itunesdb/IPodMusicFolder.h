#pragma once
// IPodMusicFolder: where a song's file goes on an iPod. Files live in the music folders
// iPod_Control/Music/F00 to F99 (made, and hidden, when missing) under names of four letters and
// the file's extension in lower case; the folder and the first name tried follow from the song's
// tags, so that songs spread over the folders.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"

class AProgress;
struct SongInfoStruct;

class IPodMusicFolder {
public:
    // The full path, in `destination`, under which the file at `source` goes onto the iPod whose
    // mount point is `root` (ending in "/"): a name no file has, in a music folder made when
    // missing. 0, or an error code.
    static int ChooseDestination(const AString& root, const AString& source, const SongInfoStruct& song,
                                 AString& destination);
};
