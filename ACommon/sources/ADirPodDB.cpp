#include "ACommon/sources/ADirPodDB.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/base/FreeLater.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/IPodMusicFolder.h"
#include "ACommon/itunesdb/IPodRecovery.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/tags/AudioFormats.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "APlatform/Memory.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace {

// The file types an iPod that plays video takes besides music.
const char* const kVideoTypes = "m4v:mp4:ipg:";
const char* const kMainLibrary = "Main Library";

bool BeginsWith(const AString& text, const AString& start)
{
    return !start.IsEmpty() && text.GetLength() >= start.GetLength() &&
           text.Units().compare(0, start.Units().size(), start.Units()) == 0;
}

} // namespace

ADirPodDB::ADirPodDB(AProgress* reporter) : ADirSong(reporter), database(std::make_unique<IPodDB>(reporter))
{
    database->SetJournal(&journal);
    typeIncludeFilter = AudioFormats::kSongTypes;
}

ADirPodDB::~ADirPodDB() = default;

int ADirPodDB::GetType() const { return kTypeIPodDB; }

void ADirPodDB::TakeBackDatabase() const
{
    if (database->IsSetAside())
        database->TakeBack();
}

void ADirPodDB::ResetDatabase()
{
    // The tree of a whole iPod's records takes a while to free: the run does not wait for it.
    FreeLater::Free(std::move(database));
    database = std::make_unique<IPodDB>(progress);
    database->SetJournal(&journal);
    database->SetLocalTempPath(localTempPath);
    database->SetIPodID(iPodID);
}

AString ADirPodDB::RelativePath(const AString& path, bool upToFirstRoot) const
{
    AString relative = path;
    if (!iPodRoot.IsEmpty()) {
        if (BeginsWith(path, iPodRoot)) {
            relative = path.Mid(iPodRoot.GetLength(), path.GetLength());
        } else if (upToFirstRoot) {
            const int at = path.Find(iPodRoot, 0, 1);
            if (at >= 0)
                relative = path.Mid(at + iPodRoot.GetLength(), path.GetLength());
        }
    }
    if (relative.IsEmpty() || relative[0] != '/')
        relative.Insert('/', 0);
    return relative;
}

int ADirPodDB::FindTrack(const AString& path, signed char exact, MHIT** track, bool upToFirstRoot)
{
    TakeBackDatabase();
    *track = nullptr;
    // Lookups go through the sorted view.
    if (!database->HasSortedView())
        Sort(1);
    const AString relative = RelativePath(path, upToFirstRoot);
    if (database->GetSongInfo(track, relative, exact) && *track)
        return 1;
    // A database read again holds new tracks with new handles: the song is found by its tags.
    return reloaded && exact && database->GetSongInfo(track, relative, 0) && *track ? 1 : 0;
}

AString ADirPodDB::DiskPathOf(const MHIT& track) const
{
    AString disk = iPodRoot;
    disk.AppendPathComponent(track.GetFilepath());
    return disk;
}

ADirPodDB::OwnFile ADirPodDB::ResolveOwnFile(const MHIT& track, AString* file, AString* why) const
{
    // A location is text from the database: ".." parts or a symbolic link can lead anywhere, and
    // the file behind it is read, overwritten, moved or deleted. Only a regular file inside the
    // music folder is the track's.
    if (IPodRecovery::ClimbsOut(track.GetFilepath())) {
        *why = "its location climbs out of its folder";
        return OwnFile::kRefused;
    }
    const AString disk = DiskPathOf(track);
    const int slash = disk.ReverseFind('/');
    if (slash <= 0 || !InsideMusicFolder(disk.Left(slash))) {
        *why = "its location lies outside the iPod's music folder";
        return OwnFile::kRefused;
    }
    struct stat info {};
    if (lstat(disk.CStr(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return OwnFile::kMissing;
        *why = "its location cannot be resolved";
        return OwnFile::kRefused;
    }
    // A link is not the track's file: going through it would reach the file it points to, which
    // may be another track's or the user's own.
    if (S_ISLNK(info.st_mode)) {
        *why = "its location is a symbolic link";
        return OwnFile::kRefused;
    }
    if (!S_ISREG(info.st_mode)) {
        *why = "its location is not a regular file";
        return OwnFile::kRefused;
    }
    *file = disk;
    return OwnFile::kOwn;
}

bool ADirPodDB::InsideMusicFolder(const AString& folder) const
{
    const std::string key = folder.ToStdString();
    if (auto known = insideMusic.find(key); known != insideMusic.end())
        return known->second;
    const bool inside = IPodRecovery::InsideMusicFolder(iPodRoot, folder);
    // The music folders are few; a listing of thousands of songs asks about the same ones.
    if (insideMusic.size() > 1000)
        insideMusic.clear();
    insideMusic.emplace(key, inside);
    return inside;
}

void ADirPodDB::RecoverInterruptedRun()
{
    tidyFiles.clear();
    // The lock is kept until the files are tidied away (the first change, or Finalize) or the
    // listing is dropped.
    const IPodRecovery::Found found = IPodRecovery::Examine(
        iPodRoot, *database, journal, [this] { return lock.Acquire(iPodRoot, 0) == 0; },
        [this](const AString& line) { Log(line); });
    if (!found.examined)
        return;
    tidyFiles = found.left;
    tidyPending = true;
    if (found.takenIn > 0) {
        changed = true;
        addedSinceStore += found.takenIn;
        cadence.Changed();
    }
}

void ADirPodDB::TidyUp()
{
    if (!tidyPending)
        return;
    tidyPending = false;
    std::vector<IPodJournal::Entry> keep;
    IPodRecovery::TidyUp(
        iPodRoot, tidyFiles,
        [this](const IPodRecovery::LeftFile& tidy) {
            const signed char move = moveInsteadOfDelete;
            moveInsteadOfDelete = tidy.move ? 1 : 0;
            const int err = ADir::Delete(&tidy.file, 1, 0);
            moveInsteadOfDelete = move;
            return err;
        },
        pendingRemovals, keep, [this](const AString& line) { Log(line); });
    tidyFiles.clear();
    // With songs taken in, the journal names them until the store that lists them empties it;
    // otherwise all it still has to name are removals that could not be made, and the covers a
    // store that stopped left unused go as that store would have dropped them.
    if (!changed) {
        journal.Set(std::move(keep));
        database->TidyArtwork();
    }
}

void ADirPodDB::CheckRemovedFilesFolder()
{
    // Moved files go to the iPod itself unless a folder that exists was chosen for them (one on a
    // volume that is not mounted now would be made afresh under the volumes root). Where this
    // iPod was mounted before, another iPod may be now: one iPod's songs never go onto another.
    AString chosen = removedFilesFolder;
    if (chosen.GetLength() > 1 && chosen[chosen.GetLength() - 1] == '/')
        chosen = chosen.Left(chosen.GetLength() - 1);
    AString own = iPodRoot;
    if (own.GetLength() > 1 && own[own.GetLength() - 1] == '/')
        own = own.Left(own.GetLength() - 1);
    if (removedFilesFolder.IsEmpty() || removedFilesFolder.Find('/', 0) < 0 ||
        !AFile::DirExists(&removedFilesFolder) || (chosen != own && IPodDB::IsIPodRoot(chosen)))
        removedFilesFolder = iPodRoot;
}

void ADirPodDB::SetRootPath(const AString* root)
{
    insideMusic.clear();
    iPodRoot = root;
    if (!iPodRoot.IsEmpty() && iPodRoot[iPodRoot.GetLength() - 1] != '/')
        iPodRoot += '/';
    CheckRemovedFilesFolder();

    IPodInfo info;
    if (IPodDB::GetIPodInfo(&iPodRoot, &info) == 0 && IPodInfo::PlaysVideo(info.family) &&
        typeIncludeFilter.Find(kVideoTypes, 0) < 0) {
        if (typeIncludeFilter.IsEmpty())
            typeIncludeFilter = ":";
        typeIncludeFilter += kVideoTypes;
    }

    rootPath = IPodDB::ResolveIPodPath(iPodRoot, "iPod_Control/Music");
    rootPath += '/';

    // A database read back from a sync's state (the list saved by the last two-way sync) stays,
    // wherever the iPod is mounted now: reading the name would replace it by one without tracks.
    // Whether that list belongs to this iPod is for the owner of the state to tell.
    MHLT* tracks = database->GetDatabase()->GetTrackList();
    const int held = database->IsSetAside() ? database->GetTrackCount()
                     : tracks               ? tracks->GetTrackCount()
                                            : 0;
    if (!database->IsLoaded() && held > 0) {
        database->SetRootPath(iPodRoot);
        return;
    }
    if (database->LoadName(&iPodRoot, 1) != 0) {
        ResetDatabase();
        return;
    }
    database->DeleteSortedList();
    database->GetVeltranoIPodID(&iPodRoot);
    iPodID = database->GetIPodID();
}

const AString* ADirPodDB::GetRootPath() { return &iPodRoot; }

void ADirPodDB::GetRealRootPath(AString* out)
{
    if (out)
        *out = iPodRoot;
}

int ADirPodDB::InitWPath(const AString* root, signed char, CancelProc cancel)
{
    if (root)
        SetRootPath(root);
    DeleteAll();
    return PopulateFileList(cancel);
}

int ADirPodDB::PopulateFileList(CancelProc cancel)
{
    // An iPod whose music folder is still missing holds no files yet; the folders are made as
    // songs are added.
    int err = 0;
    musicFolders.Forget();
    progress->StartDivision(0.5, nullptr, 0, 0);
    if (AFile::DirExists(&rootPath))
        err = ADir::PopulateFileList(cancel);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0)
        return err;

    CheckRemovedFilesFolder();

    progress->StartDivision(0.5, nullptr, 0, 0);
    database->OfferBytes(std::move(offeredBytes));
    offeredBytes.reset();
    err = database->Load(&iPodRoot, 1, cancel, progress);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0) {
        ResetDatabase();
        return err;
    }
    database->DeleteSortedList();
    database->SetRelevantFields(fileTypeRelevantOnDupSongCompare, genreRelevantOnDupSongCompare,
                                albumRelevantOnDupSongCompare);
    if (err = database->GetVeltranoIPodID(&iPodRoot); err != 0) {
        ResetDatabase();
        return err;
    }
    iPodID = database->GetIPodID();
    reloaded = false;
    storedThisListing = 0;
    RecoverInterruptedRun();
    return 0;
}

bool ADirPodDB::HasRecords()
{
    // A database kept as bytes is not read for this: tracks its filters leave out count too.
    return database->IsSetAside() ? database->GetTrackCount() > 0 : Count() > 0;
}

int ADirPodDB::Count()
{
    TakeBackDatabase();
    if (!database->HasSortedView())
        Sort(1);
    return database->CountSortedSongs();
}

void ADirPodDB::Sort(signed char ascending)
{
    TakeBackDatabase();
    // The view's paths are made with the path-shape flags; a view made with others is made again.
    if (database->GetExtensionFlag() != fileTypeRelevantOnDupSongCompare ||
        database->GetGenreFlag() != genreRelevantOnDupSongCompare ||
        database->GetAlbumFlag() != albumRelevantOnDupSongCompare) {
        database->DeleteSortedList();
        database->SetRelevantFields(fileTypeRelevantOnDupSongCompare, genreRelevantOnDupSongCompare,
                                    albumRelevantOnDupSongCompare);
    }
    // The source's path and type filters apply to the track's file path, then its genre, artist,
    // album and song-name filters.
    database->Sort(ascending, [this](const MHIT& track) {
        AString path = track.GetFilepath();
        AString genre = track.GetGenre(), artist = track.GetArtist(), album = track.GetAlbum();
        AString name = track.GetName();
        return PathFilterCheck(&path) && TypeFilterCheck(&path) && GenreFilterCheck(&genre) &&
               ArtistFilterCheck(&artist) && AlbumFilterCheck(&album) && SongNameFilterCheck(&name);
    });
}

AString* ADirPodDB::GetFPath(int index)
{
    TakeBackDatabase();
    if (!database->HasSortedView())
        Sort(1);
    const AString* path = database->GetSortedPath(index);
    if (!path)
        return nullptr;
    lastPath = *path;
    return &lastPath;
}

int ADirPodDB::GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList)
{
    MHIT* track = nullptr;
    if (!path || !FindTrack(*path, fromList, &track))
        return kErrUnknown;
    // The file is read, compared and written over through this path.
    AString file, why;
    if (ResolveOwnFile(*track, &file, &why) == OwnFile::kRefused)
        return RefuseLocation(*track, why);
    if (diskPath)
        *diskPath = DiskPathOf(*track);
    return 0;
}

int ADirPodDB::RefuseLocation(const MHIT& track, const AString& why) const
{
    AString detail("the file of the song \"");
    detail += track.GetName();
    detail += "\" is not used: ";
    detail += why;
    detail += " (";
    detail += DiskPathOf(track);
    detail += ")";
    AError::NoteFailure(kErrUnknown, detail);
    return kErrUnknown;
}

int ADirPodDB::GetSongInfo(const AString* path, SongInfoStruct* info)
{
    MHIT* track = nullptr;
    if (!path || !FindTrack(*path, 0, &track))
        return kErrUnknown;
    if (info) {
        info->bitRate = track->GetBitrate();
        info->duration = track->GetDuration();
    }
    return 0;
}

std::uint64_t ADirPodDB::GetFileModTime(const AString* path)
{
    AString disk;
    if (GetFileDiskPath(path, &disk, 0) != 0)
        return 0;
    return AFile::FileModTime(&disk);
}

bool ADirPodDB::FileExists(const AString* path)
{
    AString disk;
    return GetFileDiskPath(path, &disk, 0) == 0 && AFile::FileExists(&disk);
}

int ADirPodDB::Delete(const AString* path, signed char fromList, signed char keepFile)
{
    // The database may be read again here: the track is looked for in the one that is changed.
    if (int err = BeginChange(); err != 0)
        return err;
    MHIT* track = nullptr;
    if (!path || !FindTrack(*path, fromList, &track, true))
        return kErrUnknown;
    AString file, why;
    // A file that is kept is not touched, so it needs no check.
    switch (keepFile ? OwnFile::kMissing : ResolveOwnFile(*track, &file, &why)) {
    case OwnFile::kOwn: {
        // The file goes once a stored database no longer lists the track (a track never loses its
        // file); the journal names it meanwhile, so that a file whose track is gone is not left
        // behind by a run that stops after the store. Where it is to be moved to must be there.
        if (moveInsteadOfDelete) {
            const AString target = RemovedFilesTarget();
            if (!AFile::DirExists(&target))
                if (int err = AFile::CreateDir(&target); err != 0)
                    return err;
        }
        IPodJournal::Entry entry;
        entry.kind = IPodJournal::Kind::kRemoved;
        entry.move = moveInsteadOfDelete != 0;
        entry.location = track->GetFilepath();
        if (int err = journal.Add(entry); err != 0)
            return err;
        pendingRemovals.push_back(file);
        break;
    }
    case OwnFile::kRefused: {
        AString line("Removed the song \"");
        line += track->GetName();
        line += "\" but left its file ";
        line += DiskPathOf(*track);
        line += " alone: ";
        line += why;
        line += ".\n";
        progress->AddToLog(&line, 1);
        break;
    }
    case OwnFile::kMissing:
        break;
    }
    database->GetDatabase()->RemoveTrack(track);
    changed = true;
    cadence.Changed();
    ++unwritten.removed;
    return 0;
}

int ADirPodDB::DeleteEntry(int index, signed char removeFile, signed char keepFile)
{
    TakeBackDatabase();
    int err = 0;
    if (removeFile) {
        if (err = BeginChange(); err != 0)
            return err;
        // An entry of a listing made from a database another program has replaced since names
        // another song, or none: the listing must be made again.
        if (reloaded) {
            AError::NoteFailure(kErrBusy, AString("the iPod's database was changed by another program since "
                                                  "it was listed; list the iPod again"));
            return kErrBusy;
        }
        const AString* entry = GetFPath(index);
        if (!entry)
            return kErrInvalidElement;
        AString full = iPodRoot;
        full.AppendPathComponent(*entry);
        err = Delete(&full, 1, keepFile);
    }
    database->RemoveSortedSongEntry(index);
    return err;
}

int ADirPodDB::ForgetRecord(int index)
{
    TakeBackDatabase();
    if (!database->HasSortedView())
        Sort(1);
    if (MHIT* track = database->GetSortedSong(index))
        database->GetDatabase()->RemoveTrack(track);
    database->RemoveSortedSongEntry(index);
    return 0;
}

void ADirPodDB::DeleteAll()
{
    ADir::DeleteAll();
    // Changes not stored are given up: the iPod's database still lists the songs removed, whose
    // files stay, and the journal names the songs copied, which the next listing takes in.
    pendingRemovals.clear();
    tidyFiles.clear();
    tidyPending = false;
    changed = false;
    addedSinceStore = 0;
    cadence.Forget();
    unwritten = Unwritten();
    journal.CloseFile();
    lock.Release();
    if (!database->GetIPodID().IsEmpty())
        iPodID = database->GetIPodID();
    ResetDatabase();
}

int ADirPodDB::Finalize()
{
    TakeBackDatabase();
    if (!database->IsLoaded())
        return kErrUnknown;
    int err = 0;
    if (tidyPending)
        err = BeginChange();
    if (err == 0 && (changed || database->ShuffleFileOutOfDate()))
        err = StoreNow();
    journal.CloseFile();
    lock.Release();
    return err;
}

int ADirPodDB::FillMissingCovers()
{
    TakeBackDatabase();
    if (!database->IsLoaded())
        return kErrUnknown;
    if (int err = BeginChange(); err != 0)
        return err;
    const int count = database->FillMissingArtwork();
    if (count > 0) {
        changed = true;
        cadence.Changed();
    }
    return count;
}

void ADirPodDB::Log(const AString& line) const
{
    AString text = line;
    text += "\n";
    progress->AddToLog(&text, 1);
}

int ADirPodDB::BeginChange()
{
    TakeBackDatabase();
    if (!database->IsLoaded())
        return kErrUnknown;
    if (lock.IsHeld()) {
        TidyUp();
        return 0;
    }
    if (int err = lock.Acquire(iPodRoot, lockWaitMs); err != 0)
        return err;
    // Every song copied is named in the journal first: where it cannot be written, nothing is
    // begun (not even a music folder made for a song that then cannot be copied).
    const AString journalPath = IPodJournal::PathOf(iPodRoot);
    if (const int kind = AFile::GetPathType(&journalPath);
        kind == AFile::kPathFolder || kind == AFile::kPathLink || kind == AFile::kPathSocket) {
        lock.Release();
        AError::NoteFailure(kErrUnknown, AString("the iPod's journal ") + journalPath +
                                             " is not a file, so no song can be copied onto the iPod safely; "
                                             "nothing was changed");
        return kErrUnknown;
    }
    // The stores on the way are paced by the size of the database as it was read.
    if (!changed)
        cadence.Stored(StoredDatabaseBytes());
    if (changed || !database->ChangedOnDisk())
        return 0;
    if (int err = database->ReloadIfChanged(nullptr, nullptr); err != 0) {
        lock.Release();
        ResetDatabase();
        return err;
    }
    database->SetRelevantFields(fileTypeRelevantOnDupSongCompare, genreRelevantOnDupSongCompare,
                                albumRelevantOnDupSongCompare);
    reloaded = true;
    Log(AString("The iPod's database was changed by another program since it was read; this run goes on "
                "with the database as it is now."));
    return 0;
}

int ADirPodDB::StoreNow()
{
    TakeBackDatabase();
    if (int err = BeginChange(); err != 0)
        return err;
    // Every file the database is to list, and the journal naming them, on the disk first.
    int stored = journal.Settle();
    if (stored == 0)
        stored = database->Store(nullptr);
    if (const int err = stored; err != 0) {
        // Nothing the store would have made final has happened: the removed songs' files are
        // still where the iPod's database lists them, and the journal names the songs copied.
        AString detail = AError::FailureDetail(err);
        if (detail.IsEmpty()) {
            detail = "cannot write ";
            detail += IPodDB::ResolveIPodPath(iPodRoot, "iPod_Control/iTunes/iTunesDB");
        }
        if (addedSinceStore == 0 && storedThisListing == 0) {
            detail += "; nothing was changed on the iPod";
        } else if (addedSinceStore == 0) {
            detail += "; the iPod was left as its last store this run made it";
        } else {
            detail += "; the iPod's database was left as it was, and the ";
            detail += addedSinceStore;
            detail += addedSinceStore == 1 ? " song" : " songs";
            detail += " copied onto it since are taken in by the next run";
        }
        AError::NoteFailure(err, detail);
        return err;
    }
    int result = 0;
    std::vector<IPodJournal::Entry> left;
    for (const AString& file : pendingRemovals) {
        if (int err = ADir::Delete(&file, 1, 0); err != 0) {
            Log(IPodRecovery::RemovalFailedLine(file, err));
            left.push_back(IPodRecovery::RemovalEntry(iPodRoot, file, moveInsteadOfDelete != 0));
            if (result == 0)
                result = err;
        }
    }
    pendingRemovals.clear();
    if (int err = journal.Set(std::move(left)); err != 0) {
        // The entries left name songs the stored database holds, or files already gone: the next
        // listing finds nothing to do for them.
        AString line("Could not empty the iPod's journal: ");
        line += err;
        AError::AddErrorMsg(&line, err);
        Log(line);
    }
    changed = false;
    addedSinceStore = 0;
    unwritten = Unwritten();
    ++storedThisListing;
    cadence.Stored(StoredDatabaseBytes());
    return result;
}

void ADirPodDB::StoreIfDue()
{
    if (!cadence.Due())
        return;
    // A store on the way that fails is tried again at the next one, and by Finalize.
    if (int err = StoreNow(); err != 0) {
        AString line("Could not write the iPod's database on the way: ");
        line += err;
        AError::AddErrorMsg(&line, err);
        Log(line);
    }
}

std::uint64_t ADirPodDB::StoredDatabaseBytes() const
{
    const AString path = IPodDB::ResolveIPodPath(iPodRoot, "iPod_Control/iTunes/iTunesDB");
    struct stat info {};
    return stat(path.CStr(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

int ADirPodDB::RefreshSong(const AString* path)
{
    if (int err = BeginChange(); err != 0)
        return err;
    MHIT* track = nullptr;
    if (!path || !FindTrack(*path, 1, &track))
        return kErrUnknown;
    changed = true;
    AString disk, why;
    if (ResolveOwnFile(*track, &disk, &why) != OwnFile::kOwn)
        return RefuseLocation(*track, why.IsEmpty() ? AString("it is missing") : why);
    ID3 tags;
    if (int err = tags.SetFilePath(disk); err != 0)
        return err;
    SongInfoStruct song;
    tags.GetSongInfo(song);
    cadence.Changed();
    track->SetField(MHIT::kOffsetSize, static_cast<std::uint32_t>(song.size));
    track->SetField(MHIT::kOffsetLength, static_cast<std::uint32_t>(song.duration) * 1000u);
    track->SetField(MHIT::kOffsetBitrate, static_cast<std::uint32_t>(song.bitRate));
    track->SetField(MHIT::kOffsetModTime, static_cast<std::uint32_t>(AFile::FileModTime(&disk)));
    track->SetField(MHIT::kOffsetYear, static_cast<std::uint32_t>(song.year));
    track->SetField(MHIT::kOffsetTrackNumber, static_cast<std::uint32_t>(song.trackNumber));
    track->SetGapless(song.pregap, song.postgap, song.sampleCount, song.gaplessData);
    return 0;
}

int ADirPodDB::GetIPodName(AString& name) const { return database->GetIPodName(name); }

void ADirPodDB::SetLocalTempPath(const AString& folder)
{
    localTempPath = folder;
    if (!localTempPath.IsEmpty() && localTempPath[localTempPath.GetLength() - 1] != '/')
        localTempPath += '/';
    database->SetLocalTempPath(localTempPath);
}

AString ADirPodDB::GetRootDisplayName(signed char bare)
{
    TakeBackDatabase();
    if (bare)
        return AString(kMainLibrary);
    AString name;
    if (database->GetIPodName(name) != 0 || name.IsEmpty()) {
        // A database that cannot be read names no iPod; its volume does.
        AString volume = iPodRoot;
        volume.LastPathComponent(&name);
    }
    AString text("iPod: ");
    text += name;
    text += ' ';
    text += kMainLibrary;
    return text;
}

int ADirPodDB::CopyProperties(ADir* other)
{
    if (!other || other == this)
        return 0;
    switch (other->GetType()) {
    case kTypeIPodDB: {
        ADirSong::CopyProperties(other);
        auto* pod = static_cast<ADirPodDB*>(other);
        iPodRoot = pod->iPodRoot;
        lastPath = pod->lastPath;
        iPodID = pod->iPodID;
        SetLocalTempPath(pod->localTempPath);
        database->SetIPodID(iPodID);
        return 0;
    }
    case kTypeIPod:
        // The iPod through iTunes keeps no ID of its own; every iPod's ID is the same placeholder.
        ADirSong::CopyProperties(other);
        iPodID = "00000000";
        database->SetIPodID(iPodID);
        return 0;
    default:
        return other->GetType();
    }
}

int ADirPodDB::AddSongFromDisk(const AString* path, const AString* name, CancelProc cancel)
{
    TakeBackDatabase();
    if (!path)
        return kErrFileNotFound;
    if (int err = BeginChange(); err != 0)
        return err;
    // The file is opened once, for its tags and its copy.
    ID3 tags;
    AFile source;
    if (int err = tags.SetFilePath(*path, source); err != 0)
        return err;
    SongInfoStruct song;
    tags.GetSongInfo(song);
    // The file as the tag reader found it: not looked at again.
    song.modTime = tags.GetFileModTime();
    if (!song.name.IsEmpty())
        song.modifiedName = song.name;
    else if (name && !name->IsEmpty())
        song.modifiedName = *name;

    if (int err = database->AddSong(song, nullptr, 0); err != 0)
        return err;

    AString destination;
    if (int err = IPodMusicFolder::ChooseDestination(iPodRoot, *path, song, destination, &musicFolders);
        err != 0)
        return err;

    // Named in the journal before it is copied: a run that stops between the copy and the store
    // leaves a file the next run can tell as its own.
    song.filePath = destination.Mid(iPodRoot.GetLength() - 1, destination.GetLength());
    IPodJournal::Entry entry;
    entry.location = song.filePath;
    entry.size = tags.GetFileBytes();
    entry.genre = song.genre;
    entry.artist = song.artist;
    entry.album = song.album;
    entry.name = song.modifiedName.IsEmpty() ? song.name : song.modifiedName;
    if (int err = journal.Add(entry); err != 0)
        return err;

    // Unflushed: the journal flushes the batch of copies at once, before any store lists them.
    if (int err = AFile::CopyWithProgress(path, source, &destination, cancel, progress, false); err != 0) {
        if (AFile::GetPathType(&destination) == AFile::kPathFile)
            AFile::Delete(&destination);
        journal.ForgetLast();
        musicFolders.Forget(); // the folder may be gone: the next song looks again
        return err;
    }
    MHIT* track = nullptr;
    if (int err = database->AddSong(song, &track, 1); err != 0) {
        AFile::Delete(&destination);
        journal.ForgetLast();
        return err;
    }
    if (track) {
        track->SetFilepath(song.filePath);
        database->SetArtworkSource(track, *path, tags.GetImageCount() > 0);
    }
    lastAddedFile = destination;
    changed = true;
    ++addedSinceStore;
    ++unwritten.added;
    unwritten.addedBytes += entry.size;
    cadence.Copied(entry.size);
    if (int err = journal.Copied(entry.size); err != 0)
        return err;
    StoreIfDue();
    return 0;
}

int ADirPodDB::AddLooseFile(const AString* file, CancelProc cancel, AString* placed)
{
    lastAddedFile = AString();
    const int err = AddSongFromDisk(file, nullptr, cancel);
    if (placed)
        *placed = err == 0 ? lastAddedFile : AString();
    return err;
}

bool ADirPodDB::TakeListing(ADir& live)
{
    // A listing whose database was changed since, or read again, is not what a new one would give.
    auto* other = dynamic_cast<ADirPodDB*>(&live);
    if (!other || !other->database->IsLoaded() || other->changed || other->tidyPending || other->reloaded ||
        other->iPodRoot != iPodRoot)
        return false;
    // As InitWPath with the same root: the root kept, the list's records and database taken.
    useFullPaths = 0;
    CheckRemovedFilesFolder();
    SwapListing(*other);
    musicFolders.Forget(); // looked for again in this run, as after a listing
    // The iPod's database is the one this list kept as bytes, unchanged: the bytes stay, and are
    // written back as read, not made again from records.
    if (database->IsSetAside() && other->storedThisListing == 0 && other->database->AsRead() &&
        other->database->GetDatabase()->GetReadBytes() == database->GetSetAsideBytes()) {
        database->SetRootPath(other->database->GetRootPath());
        database->SetIPodID(other->database->GetIPodID());
        database->SetRelevantFields(fileTypeRelevantOnDupSongCompare, genreRelevantOnDupSongCompare,
                                    albumRelevantOnDupSongCompare);
        iPodID = database->GetIPodID();
        other->ResetDatabase();
        return true;
    }
    std::swap(database, other->database);
    for (ADirPodDB* side : {this, other}) {
        side->database->SetJournal(&side->journal);
        side->database->SetLocalTempPath(side->localTempPath);
    }
    // Made afresh from the tracks on next use, as after a listing: the run's view may have left out
    // records (the scan for duplicates takes them out of the view only).
    database->DeleteSortedList();
    iPodID = database->GetIPodID();
    other->ResetDatabase();
    reloaded = false;
    storedThisListing = 0;
    return true;
}

void ADirPodDB::ShareWith(ADir& saved)
{
    auto* other = dynamic_cast<ADirPodDB*>(&saved);
    offeredBytes =
        other && other != this && other->iPodRoot == iPodRoot ? other->database->GetSetAsideBytes() : nullptr;
}

bool ADirPodDB::SameListingAs(ADir& live)
{
    // The same database bytes, read unchanged, listed through the same filters and path shape.
    auto* other = dynamic_cast<ADirPodDB*>(&live);
    if (!other || other == this || other->changed || other->reloaded || other->iPodRoot != iPodRoot)
        return false;
    const bool sameSettings =
        other->fileTypeRelevantOnDupSongCompare == fileTypeRelevantOnDupSongCompare &&
        other->genreRelevantOnDupSongCompare == genreRelevantOnDupSongCompare &&
        other->albumRelevantOnDupSongCompare == albumRelevantOnDupSongCompare &&
        other->typeFilterMode == typeFilterMode && other->typeIncludeFilter == typeIncludeFilter &&
        other->typeExcludeFilter == typeExcludeFilter && other->pathFilterMode == pathFilterMode &&
        other->pathIncludeFilter == pathIncludeFilter && other->pathExcludeFilter == pathExcludeFilter &&
        other->genreFilterMode == genreFilterMode && other->genreIncludeFilter == genreIncludeFilter &&
        other->genreExcludeFilter == genreExcludeFilter && other->artistFilterMode == artistFilterMode &&
        other->artistIncludeFilter == artistIncludeFilter &&
        other->artistExcludeFilter == artistExcludeFilter && other->albumFilterMode == albumFilterMode &&
        other->albumIncludeFilter == albumIncludeFilter && other->albumExcludeFilter == albumExcludeFilter &&
        other->songNameFilterMode == songNameFilterMode &&
        other->songNameIncludeFilter == songNameIncludeFilter &&
        other->songNameExcludeFilter == songNameExcludeFilter;
    return sameSettings && database->SameAs(*other->database);
}

int ADirPodDB::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::WriteState(f); err != 0)
        return err;
    if (int err = iPodRoot.WriteState(f); err != 0)
        return err;
    if (int err = AStateStream::WriteFlag(f, 1); err != 0)
        return err;
    if (int err = database->WriteState(f); err != 0)
        return err;
    if (int err = iPodID.WriteState(f); err != 0)
        return err;
    return localTempPath.WriteState(f);
}

int ADirPodDB::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::ReadState(f); err != 0)
        return err;
    if (int err = iPodRoot.ReadState(f); err != 0)
        return err;
    signed char hasDatabase = 0;
    if (int err = AStateStream::ReadFlag(f, &hasDatabase); err != 0)
        return err;
    if (hasDatabase) {
        if (int err = database->ReadState(f); err != 0) {
            ResetDatabase();
            return err;
        }
        // Read whole, so that a damaged one is refused now, then kept as its bytes: a saved list is
        // often never looked at, or is what the iPod holds (SameListingAs).
        database->SetAside();
        // The records just read were many small allocations of this thread, which a run on
        // another thread would not reuse.
        platform::ReturnFreedMemory();
    }
    if (int err = iPodID.ReadState(f); err != 0)
        return err;
    if (int err = localTempPath.ReadState(f); err != 0)
        return err;
    database->SetLocalTempPath(localTempPath);
    return 0;
}
