#pragma once
// PlaysFoldIn: what was listened to on an iPod, brought back into the library at the start of a
// sync of the two, whichever way the sync reaches the iPod. The iPod records the plays and skips of
// each song since its database was written, the ratings set on it and the On-The-Go playlists made
// on it (IPodPlayCounts); its database holds the counts and ratings as of the last sync.
//
// Holding the iPod's lock, the database is read (which folds the records into its tracks) and what
// the library is to take in is worked out: each iPod track's song is the library song of the same
// name, artist and album, told apart by duration and then size where several have them; a track
// that still names none or several songs gives its plays to none, and is counted. The song gets
// the plays and skips added, the later of the two last-played dates, and the iPod's rating where
// the rating changed on the iPod and not in the library since the last sync (where both changed,
// the library's stays, and the log says so). Each On-The-Go playlist becomes a library playlist
// "On-The-Go N (iPod name, date)", its songs in their order.
//
// The library takes all of that in by one script (one transaction), together with the records'
// key (IPodDB::RecordedPlays::key), once the database holding the counts is made and before
// anything is written; then the store marks the journal, writes the database and sets the records
// aside (IPodDB, IPodJournal). A run stopped before the script changes nothing; one stopped after
// it finds the records and the database as they were, and the key in the library: the library
// takes nothing again and the store finishes the iPod's side; one stopped after the database was
// written finds the records in it and counts them nowhere again. Records that belong to another
// database are kept and reported (IPodDB).

#include "ACommon/base/AString.h"

#include <functional>

class PlaysFoldIn {
public:
    struct Result {
        int songs = 0;     // library songs that took something in
        int plays = 0;     // plays added to them
        int ratings = 0;   // ratings taken from the iPod
        int playlists = 0; // On-The-Go playlists made
        int notFound = 0;  // iPod songs with plays that name no library song, or several
    };
    using Log = std::function<void(const AString& line, bool warning)>;

    // Brings the records of the iPod mounted at `root` (ending in "/"), called `iPodName`, into the
    // library. 0 (also when there was nothing to bring), kErrBusy when another program holds the
    // iPod, or the error of reading or storing its database or of telling the library.
    static int Run(const AString& root, const AString& iPodName, const Log& log, Result* result);
    // "Brought back 132 plays and 4 ratings from Demo iPod; 2 songs not found in the library".
    static AString Summary(const Result& result, const AString& iPodName);
};
