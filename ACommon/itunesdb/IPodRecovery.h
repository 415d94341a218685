#pragma once
// IPodRecovery: putting right what a run that was killed or failed left on an iPod. Every writer of
// an iPod's database (the database source, the library's iPod source) keeps one order: a song's
// file is named in the iPod's journal (IPodJournal) before it is copied; a removed song's file is
// named there before the store that drops the song, and moved or deleted only after that store; the
// journal is emptied once a store accounts for everything it names. Whatever point a run stopped
// at, the next writer that has loaded the whole database and holds the iPod's lock can tell:
//   - a file the journal names as added and flushed, complete (its size and tags as named) and
//     listed by no track: the song it is, entered into the database ("taken in");
//   - one still pending (perhaps not on the disk), one cut short, or a second copy of a song the
//     database holds: deleted;
//   - a temporary file of this program in the music folders or beside the database: deleted;
//   - a file the journal names as removed that no track lists: moved or deleted as the run that
//     removed it was set to.
// Examine changes only the database in memory; TidyUp removes the files, once the writer is about
// to change the iPod anyway (a run that only plans changes nothing on it).

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodJournal.h"

#include <functional>
#include <vector>

class ArtworkDB;
class IPodDB;

class IPodRecovery {
public:
    struct LeftFile {
        AString file;
        bool removal = false; // the file of a song a run removed; else a copy or temporary file
        bool move = false;    // a removal that goes to "Removed Files" rather than away
    };
    struct Found {
        bool anything = false; // a journal or a temporary file was there
        bool examined = false; // and this writer took it over
        int takenIn = 0;       // songs entered into the database
        std::vector<LeftFile> left;
    };
    using Log = std::function<void(const AString& line)>;

    // Looks at the iPod at `root` (ending in "/") whose whole database `database` holds. `journal`
    // is read. When something was left, `takeOver` is asked whether this writer may take it over
    // (it takes the iPod's lock; temporary files may be another writer's at work).
    static Found Examine(const AString& root, IPodDB& database, IPodJournal& journal,
                         const std::function<bool()>& takeOver, const Log& log);
    // Removes the files `left` names, the removals through `removeSong` (which moves or deletes as
    // the entry says). A removal that fails is given back in `due`, and its journal entry in
    // `keep`, to be tried again after the next store. The number of files removed.
    static int TidyUp(const AString& root, const std::vector<LeftFile>& left,
                      const std::function<int(const LeftFile&)>& removeSong, std::vector<AString>& due,
                      std::vector<IPodJournal::Entry>& keep, const Log& log);

    // Puts right what a cover write that stopped left in the Artwork folder of the iPod at `root`,
    // whose cover database as stored is `stored`: ithmb files no image names are removed, and ithmb
    // files longer than their last image shortened to it (space a write filled before the database
    // that would have named it); temporary files of a process that no longer runs removed. Nothing
    // is written when there is nothing to put right. 0, or the first error.
    static int TidyArtwork(const AString& root, const ArtworkDB& stored, const Log& log);

    // True when `folder` is the music folder of the iPod at `root` or lies inside it, as the disk
    // knows them (a name differing in case, a link); a folder that does not exist holds nothing to
    // harm and counts as inside.
    static bool InsideMusicFolder(const AString& root, const AString& folder);
    // True when a path has a "." or ".." component.
    static bool ClimbsOut(const AString& path);
    // The journal entry of a removed song's file (`file` a full path below `root`).
    static IPodJournal::Entry RemovalEntry(const AString& root, const AString& file, bool move);
    // The log line for a removed song's file that could not be removed after the store.
    static AString RemovalFailedLine(const AString& file, int err);
};
