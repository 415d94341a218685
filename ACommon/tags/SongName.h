#pragma once
// SongName: the name part of a song's virtual path ("Genre/Artist/Album/Name.ext?key"), shared by
// the song sources and the iPod database, which both build and read such paths.

#include "ACommon/base/AString.h"

class SongName {
public:
    // The name component of a virtual path whose components are genre (when `withGenre`), artist,
    // album (when `withAlbum`) and name, without its "?key" (the second argument is not used).
    static AString OfVirtualPath(const AString& vpath, signed char, signed char withGenre,
                                 signed char withAlbum);
    // Removes a trailing " N" copy number (N a digit 1 to 9): "Song 2" gives "Song".
    static void RemoveSpaceNumber(AString* name);
};
