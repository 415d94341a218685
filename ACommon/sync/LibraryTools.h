#pragma once
// LibraryTools: the library tools as a front end starts them, on either side of the window's sync
// (the library, a folder of songs or an iPod): duplicates, orphans, disconnected files, music not
// owned, album art written into MP3 files, and adding music files. A tool runs on the run
// controller's worker thread under the busy lock that a sync takes, with the same cancel, and
// under the sync group's lock, so that the group is neither saved nor replaced while the tool
// walks its sources. It reports through the source's progress reporter: its start message, the
// scan's own lines, and a closing message for success, cancel or error.
//
// Also here: which items of the tools menu are enabled, as one rule for every front end.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"

#include <vector>

class ADirSong;
class ASync;
class ASyncGroup;

class LibraryTools {
public:
    enum class Tool { kDuplicates, kOrphans, kDisconnected, kNotOwned, kAlbumArt, kAddFiles };
    // The window's left source (the library, or a folder of songs) and its right source (an iPod).
    enum class Side { kLibrary = 1, kIPod = 2 };

    // The texts of a tool: the status shown when it starts (ending in ": " before the side's name),
    // its first log line, and its closing messages.
    struct Texts {
        const char* status;
        const char* start;
        const char* complete;
        const char* cancelled;
        const char* error;
        double firstDivision;
        double secondDivision;
    };
    static const Texts& TextsOf(Tool tool);
    // "Scanning for Orphans: Library..." and the like.
    static AString StatusText(Tool tool, Side side);
    // The same for a side that is neither (a folder of songs), named by `sideName`.
    static AString StatusText(Tool tool, const AString& sideName);
    // The closing message for a tool's result (0, 123456 or an error); a dry run that adds files
    // says it added none.
    static AString ClosingText(Tool tool, int result, bool dryRun = false);

    struct Options {
        // The whole collection of the source (its main playlist) and the playlist to give it back
        // afterwards: removals are reported against the whole library, never against a playlist.
        AString wholeCollection;
        AString playlistAfter;
        // Report what the tool finds and change nothing.
        bool dryRun = false;
        // Adding files: the files and folders to add.
        std::vector<AString> paths;
        // Adding files: the types the side takes (":mp3:m4a:"), as its source's include filter.
        AString acceptedTypes;
    };

    // What a tool did, besides its result.
    struct Outcome {
        int result = 0;
        int found = 0;
        int changed = 0;
        int damaged = 0;
        int skipped = 0;
        int hidden = 0;            // adding files: dot-files left out
        int notSongs = 0;          // adding files: files of a type the side does not take
        bool accountAdded = false; // music not owned: "Add ID to Prefs" changed the saved settings
        AString summary;           // one line for the end of the run
    };

    // The body of a tool on `source` (which must be of a song type): start message, the source's
    // list rebuilt with its type and path filters off, the scan (or the adding), the filters and
    // the playlist given back, the source finalised whenever it may have changed (so that an iPod's
    // database is written after a cancel or an error too), the closing message.
    static Outcome Run(Tool tool, Side side, ADirSong& source, const Options& options, CancelProc cancel);
    // The same on side `side` of sync 0 of `group`, under the group's lock (kErrBusy while the group
    // is busy). Music not owned keeps an account added with "Add ID to Prefs" in the group's sync.
    static Outcome RunOnGroup(Tool tool, Side side, ASyncGroup& group, const Options& options,
                              CancelProc cancel);

    // The store accounts that are the user's, for "Remove Music Not Owned": the saved ones and the
    // library's own account (empty when none is set).
    static AString OwnAccounts(const AString& saved, const AString& libraryAccount);
    // Why "Remove Music Not Owned" refuses to start with no account of the user's known (every
    // purchase would look like someone else's); front ends add how to set one.
    static constexpr const char* kNoAccountKnown =
        "No store account of yours is known, so no purchase can be told to be yours. Nothing was removed.";

    // The file types the file chooser of "Add Music Files" offers, separated by spaces: the
    // library's, or an iPod's (with the video types for an iPod of `iPodFamily` 4, a video iPod).
    static AString ChooserTypes(Side side, int iPodFamily);

    // Which menu items are enabled.
    struct MenuState {
        bool settings = true;
        bool save = true;
        // Index 0 the library side, 1 the iPod side.
        bool addFiles[2] = {true, true};
        bool duplicates[2] = {true, true};
        bool notOwned[2] = {true, true};
        bool disconnected[2] = {true, true};
        bool albumArt[2] = {true, true};
        bool orphans[2] = {true, true};
    };
    // While a run (a sync or a tool) holds the busy lock, Settings, Save and every tool are
    // disabled; otherwise everything is enabled but the iPod's tools when no iPod is mounted.
    static MenuState MenuEnabling(bool runInProgress, int mountedIPods);

private:
    static int AddFiles(ADirSong& source, const Options& options, CancelProc cancel, Outcome& outcome);
};
