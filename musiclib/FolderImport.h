#pragma once
// FolderImport: adds every music file under a folder to the library, and to a playlist when one is
// named, through the same steps as adding one file (TrackRecord, then the library source). Hidden
// files and folders (names beginning with ".") are left out and counted, files that cannot be read
// are counted with the reason; a file the library holds already is counted, and read again only when
// it changed (TrackRecord::FileChanged), so a second import of a folder adds only what is new. Files are
// added in batches, each batch one transaction, so a cancelled or interrupted import keeps every batch it
// finished. Tags are read on several threads ahead of the batch being stored.

#include "ACommon/base/AFile.h"

#include <functional>
#include <string>
#include <vector>

class MusicLibrary;

class FolderImport {
public:
    static constexpr std::size_t kBatchSize = 1000;

    struct Summary {
        int found = 0; // music files found
        int added = 0;
        int present = 0;   // held by the library already
        int refreshed = 0; // of those, tracks whose file changed and was read again
        int hidden = 0;    // hidden files and folders left out
        int unreadable = 0;
        int other = 0;                     // files that are not music files
        std::vector<std::string> problems; // "path: why" for each unreadable file
    };
    // Called after each file: how many of the music files are done, how many there are, the file.
    using Progress = std::function<void(int done, int total, const std::string& path)>;

    // 0 (also when files were unreadable), kErrUserCancel when cancelled, or an error code with `error`
    // set (a folder that cannot be listed, a playlist that does not exist, a store that fails).
    static int Run(MusicLibrary& library, const std::string& folder, const std::string& playlist,
                   const Progress& progress, CancelProc cancel, Summary& summary, std::string& error);
};
