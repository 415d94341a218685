#pragma once
// IPodMusicFolder: where a song's file goes on an iPod. Files live in the music folders
// iPod_Control/Music/F00 to F99 (made, and hidden, when missing) under names of four letters and
// the file's extension in lower case; the folder and the first name tried follow from the song's
// tags, so that songs spread over the folders.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"

#include <array>

class AProgress;
struct SongInfoStruct;

class IPodMusicFolder {
public:
    // The music folders one source found or made on its iPod, so that each is looked for once a run
    // rather than once a song. Forgotten when a copy into them fails (the folder may have gone) and
    // when the iPod's root changes.
    class Known {
    public:
        void Forget();

    private:
        friend class IPodMusicFolder;
        AString root;
        std::array<AString, 100> folders; // by number; empty: not known
    };

    // The full path, in `destination`, under which the file at `source` goes onto the iPod whose
    // mount point is `root` (ending in "/"): a name no file has, in a music folder made when
    // missing. With `known`, a folder it holds is taken as there, and one found or made is added.
    // 0, or an error code.
    static int ChooseDestination(const AString& root, const AString& source, const SongInfoStruct& song,
                                 AString& destination, Known* known = nullptr);
};
