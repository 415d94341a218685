#include "ACommon/sync/LibraryTools.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADir.h"
#include "ACommon/sources/ADirPod.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirSong.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/SyncSettings.h"
#include "ACommon/tags/ID3.h"

namespace {

const LibraryTools::Texts kDuplicates{"Looking for Duplicated Songs",
                                      "Starting Scan for Duplicated Songs...",
                                      "Duplicate Songs Scan Complete.",
                                      "User Canclelled Scan.",
                                      "Error Finding Duplicate Songs!",
                                      0.1,
                                      0.9};
const LibraryTools::Texts kOrphans{"Scanning for Orphans",
                                   "Starting Orphan Scan...",
                                   "Orphan Scan Complete.",
                                   "Orphan Scan Cancelled.",
                                   "Orphan Scan Ended because of an Error.",
                                   0.5,
                                   0.5};
const LibraryTools::Texts kDisconnected{"Looking for Disconnected Files",
                                        "Starting Disconnected Files Scan...",
                                        "Disconnected Files Scan Complete.",
                                        "Disconnected Files Scan Cancelled.",
                                        "Error Finding Disconnected Files!",
                                        0.1,
                                        0.9};
const LibraryTools::Texts kNotOwned{"Scanning for Music not Owned",
                                    "Starting Scan for music not owned...",
                                    "Scan for Music Not Owned Complete.",
                                    "Scan for Music Not Owned Cancelled.",
                                    "Music Not Owned Scan Ended with an Error.",
                                    0.5,
                                    0.5};
const LibraryTools::Texts kAlbumArt{"Add Album Art to Music Files",
                                    "Starting Add Album Art to Music Files...",
                                    "Add Album Art to Music Files Complete.",
                                    "Add Album Art to Music Files Cancelled.",
                                    "Add Album Art to Music Files Ended with an Error.",
                                    0.5,
                                    0.5};
const LibraryTools::Texts kAddFiles{"Adding files",
                                    "Starting to Add Files...",
                                    "All files added.",
                                    "Some files added. User Cancelled.",
                                    "Adding Files Ended with an Error.",
                                    0.5,
                                    0.5};

bool IsDotFile(const AString& path)
{
    AString name;
    path.LastPathComponent(&name);
    return name.GetLength() > 0 && name[0] == '.';
}

void LogLine(AProgress* progress, const AString& text, bool dated)
{
    if (dated)
        progress->AddDateToLog(0, 0);
    progress->AddToLog(&text, 0);
    progress->AddToLog("\n", 1);
}

AString Counted(int count, const char* one, const char* many)
{
    AString text;
    text += count;
    text += " ";
    text += count == 1 ? one : many;
    return text;
}

} // namespace

const LibraryTools::Texts& LibraryTools::TextsOf(Tool tool)
{
    switch (tool) {
    case Tool::kDuplicates:
        return kDuplicates;
    case Tool::kOrphans:
        return kOrphans;
    case Tool::kDisconnected:
        return kDisconnected;
    case Tool::kNotOwned:
        return kNotOwned;
    case Tool::kAlbumArt:
        return kAlbumArt;
    case Tool::kAddFiles:
        break;
    }
    return kAddFiles;
}

AString LibraryTools::StatusText(Tool tool, Side side)
{
    AString text(TextsOf(tool).status);
    text += side == Side::kLibrary ? ": Library..." : ": iPod...";
    return text;
}

AString LibraryTools::StatusText(Tool tool, const AString& sideName)
{
    AString text(TextsOf(tool).status);
    text += ": ";
    text += sideName;
    text += "...";
    return text;
}

AString LibraryTools::ClosingText(Tool tool, int result, bool dryRun)
{
    if (dryRun && tool == Tool::kAddFiles && result == 0)
        return AString("No files added (dry run).");
    const Texts& texts = TextsOf(tool);
    return AString(result == 0 ? texts.complete : result == kErrUserCancel ? texts.cancelled : texts.error);
}

LibraryTools::Outcome LibraryTools::Run(Tool tool, Side side, ADirSong& source, const Options& options,
                                        CancelProc cancel)
{
    Outcome outcome;
    AProgress* progress = source.GetProgress();
    const Texts& texts = TextsOf(tool);
    AString start(texts.start);
    progress->StartProgress(&start, 1, 1, source.GetOpenLogAutomatically());

    const int type = source.GetType();
    const bool typeFits = side == Side::kLibrary
                              ? (type == ADir::kTypeITunes || type == ADir::kTypeSongFolder)
                              : (type == ADir::kTypeIPod || type == ADir::kTypeIPodDB);
    int result = typeFits ? 0 : kErrUnknown;
    if (result == 0) {
        // What the tool changes and gives back, whatever happens.
        const int typeFilter = source.GetTypeFilter();
        const int pathFilter = source.GetPathFilterMode();
        const signed char dontDup = source.GetDontDupSongs();
        const signed char detectOnly = source.GetDetectOnly();
        // The library's sources work on the whole library (or the iPod's main playlist): a song
        // removed from a playlist would stay in the library, and be reported as removed from it.
        AString whole = options.wholeCollection;
        AString playlistAfter = options.playlistAfter;
        if (auto* library = dynamic_cast<ADirTunes*>(&source)) {
            if (playlistAfter.IsEmpty())
                playlistAfter = library->GetPlaylist();
            if (whole.IsEmpty()) {
                auto* pod = dynamic_cast<ADirPod*>(library);
                whole = pod ? pod->GetIPodName() : library->Bridge().GetLibName();
                if (whole.IsEmpty() && !pod)
                    whole = "Library";
            }
        }
        if (!whole.IsEmpty())
            source.SetPlaylist(&whole);
        if (tool == Tool::kDisconnected) {
            result = source.Initialize();
            if (type == ADir::kTypeITunes)
                source.SetDontDupSongs(0);
        }
        // A folder of songs is made of the files its types pick; every other side lists all its songs.
        if (type != ADir::kTypeSongFolder)
            source.SetTypeFilter(0);
        source.SetPathFilterMode(0);
        source.SetDetectOnly(options.dryRun ? 1 : detectOnly);

        bool listed = false;
        if (result == 0 && tool != Tool::kAddFiles) {
            AString rebuilding("Reading the list of songs...");
            progress->StartDivision(texts.firstDivision, &rebuilding, 0, 1);
            result = source.InitWPath(nullptr, 0, cancel);
            progress->EndDivision(nullptr, 0, 0);
            listed = result == 0;
            const int before = source.Count();
            if (listed) {
                AString scanning(texts.status);
                scanning += "...";
                progress->StartDivision(texts.secondDivision, &scanning, 0, 0);
                switch (tool) {
                case Tool::kDuplicates:
                    result = source.ScanForDuplicates(1, 1, 1, cancel, 1);
                    break;
                case Tool::kOrphans:
                    result = source.DeleteOrphans(1, 1, 1, cancel, 1);
                    break;
                case Tool::kDisconnected:
                    result = source.AddDisconnectedFiles(1, cancel, 1);
                    break;
                case Tool::kNotOwned:
                    result = source.DeleteMusicNotOwned(1, 1, 1, cancel, 1);
                    break;
                case Tool::kAlbumArt:
                    result = source.AddAlbumArtToFiles(cancel, 1);
                    // The iPod shows covers from its own database: tracks that have none there get
                    // their file's when the database is stored below.
                    if (auto* pod = dynamic_cast<ADirPodDB*>(&source); pod && result == 0 && !options.dryRun)
                        if (const int looked = pod->FillMissingCovers(); looked < 0)
                            result = looked;
                    break;
                case Tool::kAddFiles:
                    break;
                }
                progress->EndDivision(nullptr, 0, 0);
            }
            const ADirSong::ScanCounts& counts = source.GetScanCounts();
            outcome.found = counts.found;
            outcome.changed = counts.changed;
            outcome.damaged = counts.damaged;
            outcome.skipped = counts.skipped;
            if (tool == Tool::kDuplicates && listed) {
                outcome.found = before - source.Count();
                outcome.changed = options.dryRun ? 0 : outcome.found - source.GetFailedRemovalCount();
            }
        } else if (result == 0) {
            result = AddFiles(source, options, cancel, outcome);
            listed = true;
        }
        // Whatever the scan's end, what it changed is kept: an iPod's database is written now. A
        // failure to write it is the result, unless the scan failed first.
        if (listed && !options.dryRun) {
            const int finalized = source.Finalize();
            if (finalized != 0 && (result == 0 || result == kErrUserCancel))
                result = finalized;
            if (auto* pod = dynamic_cast<ADirPodDB*>(&source);
                pod && tool == Tool::kAlbumArt && finalized == 0) {
                const int covered = pod->GetDatabase()->GetArtworkStats().tracksLinked;
                outcome.found += covered;
                outcome.changed += covered;
            }
        }

        source.SetTypeFilter(typeFilter);
        source.SetPathFilterMode(pathFilter);
        source.SetDontDupSongs(dontDup);
        source.SetDetectOnly(detectOnly);
        if (!playlistAfter.IsEmpty())
            source.SetPlaylist(&playlistAfter);
    }
    outcome.result = result;

    AString summary;
    summary += outcome.found;
    summary += " found";
    if (!options.dryRun) {
        summary += ", ";
        summary += outcome.changed;
        summary += tool == Tool::kAddFiles || tool == Tool::kDisconnected ? " added"
                   : tool == Tool::kAlbumArt                              ? " given album art"
                                                                          : " removed";
    }
    if (outcome.damaged > 0)
        summary += AString(", ") + Counted(outcome.damaged, "damaged file", "damaged files");
    if (outcome.skipped > 0)
        summary += AString(", ") + Counted(outcome.skipped, "left as it was", "left as they were");
    if (options.dryRun)
        summary += " (dry run: nothing changed)";
    summary += ".";
    outcome.summary = summary;

    AString closing = ClosingText(tool, result, options.dryRun);
    progress->ShowStatus(&closing, nullptr);
    LogLine(progress, summary, false);
    progress->EndProgress(&closing, 1, 1, result == 0 || result == kErrUserCancel);
    return outcome;
}

int LibraryTools::AddFiles(ADirSong& source, const Options& options, CancelProc cancel, Outcome& outcome)
{
    AProgress* progress = source.GetProgress();
    const bool dated = source.GetVerboseLog() != 0;
    AString listing("Listing the files to add...");
    progress->StartDivision(0.5, &listing, 0, 1);
    // The same types are accepted as the side's songs are made of.
    ADir accepted(progress);
    accepted.SetTypeFilter(1);
    accepted.SetFileExtentionIncludeFilter(options.acceptedTypes.IsEmpty() ? source.GetTypeIncludeFilter()
                                                                           : options.acceptedTypes);
    std::vector<AString> files;
    int result = 0;
    for (const AString& path : options.paths) {
        const AFile::PathType kind = AFile::GetPathType(&path);
        std::vector<AString> found;
        if (kind == AFile::kPathFile) {
            found.push_back(path);
        } else if (kind == AFile::kPathFolder) {
            ADir folder(progress);
            if (result = folder.InitWPath(&path, 1, cancel); result != 0)
                break;
            for (int i = 0; i < folder.Count(); ++i)
                if (AFile::GetPathType(folder.GetFPath(i)) == AFile::kPathFile)
                    found.push_back(*folder.GetFPath(i));
        } else {
            LogLine(progress, AString("Not a file or folder: ") + path, dated);
            result = kErrFileType;
            break;
        }
        for (AString& file : found) {
            if (IsDotFile(file))
                ++outcome.hidden;
            else if (!accepted.TypeFilterCheck(&file))
                ++outcome.notSongs;
            else
                files.push_back(std::move(file));
        }
    }
    progress->EndDivision(nullptr, 0, 0);
    AString adding("Adding files...");
    progress->StartDivision(0.5, &adding, 0, 1);
    // The side's songs are read first: an iPod's database is loaded before any song is entered.
    if (result == 0 && !files.empty())
        result = source.InitWPath(nullptr, 0, cancel);
    if (result == 0 && !files.empty())
        result = source.Initialize();
    outcome.found = static_cast<int>(files.size());
    for (std::size_t n = files.size(), k = 1; result == 0 && n > 0; --n, ++k) {
        const AString& file = files[n - 1];
        AString line;
        line += static_cast<int>(k);
        line += " Adding: ";
        line += file;
        progress->UpdateDivision(n > 1 ? 1.0 - 1.0 / static_cast<double>(n - 1) : 1.0, nullptr, &line,
                                 nullptr, 0);
        LogLine(progress, line, dated);
        if (options.dryRun)
            continue;
        ID3 tags;
        int err = tags.SetFilePath(file) == 0 ? 0 : kErrFileType;
        AString placed;
        if (err == 0)
            err = source.AddLooseFile(&file, cancel, &placed);
        if (err == 0 || err == kErrLastSyncPlaylist) {
            ++outcome.changed;
        } else if (err == kErrFileType || err == kErrFileNotFound) {
            // A file that cannot be read as a song is said and left; the others are still added.
            ++outcome.damaged;
            LogLine(progress, AString("Skipped (cannot be read as a song): ") + file, dated);
        } else if (err == kErrDuplicate) {
            ++outcome.skipped;
            LogLine(progress, AString("Skipped (already there): ") + file, dated);
        } else {
            AString error = AString("Error Adding: ") + file + " code=";
            error += err;
            AError::AddErrorMsg(&error, err);
            LogLine(progress, error, dated);
            result = err;
        }
        if (result == 0 && cancel && cancel())
            result = kErrUserCancel;
    }
    progress->EndDivision(nullptr, 0, 0);
    for (auto [count, why] :
         {std::pair<int, const char*>{outcome.hidden, "hidden (a name that begins with \".\")"},
          {outcome.notSongs, "not a song type this side takes"}})
        if (count > 0)
            LogLine(progress, Counted(count, "file skipped: ", "files skipped: ") + why, dated);
    outcome.skipped += outcome.hidden + outcome.notSongs;
    return result;
}

LibraryTools::Outcome LibraryTools::RunOnGroup(Tool tool, Side side, ASyncGroup& group,
                                               const Options& options, CancelProc cancel)
{
    Outcome outcome;
    const int locked = group.RunTool([&](ASync* sync) -> int {
        auto* source = dynamic_cast<ADirSong*>(side == Side::kLibrary ? sync->GetDir1() : sync->GetDir2());
        auto* songs = dynamic_cast<ASyncLib*>(sync);
        if (!source || !songs) {
            outcome.result = kErrUnknown;
            return kErrUnknown;
        }
        if (tool == Tool::kNotOwned)
            source->SetAddAccountProc([&outcome, songs](const AString& account) {
                AString list = *songs->GetAppleIDs();
                if (list.IsEmpty())
                    list = ":";
                list += account;
                list += ":";
                songs->SetAppleIDs(&list);
                outcome.accountAdded = true;
            });
        const bool added = outcome.accountAdded;
        outcome = Run(tool, side, *source, options, cancel);
        outcome.accountAdded = outcome.accountAdded || added;
        source->SetAddAccountProc(nullptr);
        return outcome.result;
    });
    if (locked == kErrBusy || locked == kErrObjectNotFound)
        outcome.result = locked;
    return outcome;
}

AString LibraryTools::ChooserTypes(Side side, int iPodFamily)
{
    if (side == Side::kLibrary)
        return AString("mp3 m4p m4a m4b m4v mp4 mpg mpeg ipg");
    AString types("mp3 m4p m4a m4b");
    if (iPodFamily == 4)
        types += " m4v mp4 mpg mpeg ipg";
    return types;
}

LibraryTools::MenuState LibraryTools::MenuEnabling(bool runInProgress, int mountedIPods)
{
    MenuState state;
    if (runInProgress) {
        MenuState off;
        off.settings = off.save = false;
        for (bool* items :
             {off.addFiles, off.duplicates, off.notOwned, off.disconnected, off.albumArt, off.orphans})
            items[0] = items[1] = false;
        return off;
    }
    if (mountedIPods < 1)
        for (bool* items : {state.addFiles, state.duplicates, state.notOwned, state.disconnected,
                            state.albumArt, state.orphans})
            items[1] = false;
    return state;
}

AString LibraryTools::OwnAccounts(const AString& saved, const AString& libraryAccount)
{
    return libraryAccount.IsEmpty() ? saved : SyncSettings::WithItem(saved, libraryAccount);
}
