#include "ACommon/sources/ADirPodDB.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/IPodMusicFolder.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"

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

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

ADirPodDB::ADirPodDB(AProgress* progress) : ADirSong(progress), database(std::make_unique<IPodDB>(progress))
{
    typeIncludeFilter = ":mp3:m4p:m4a:m4b:";
}

ADirPodDB::~ADirPodDB() = default;

int ADirPodDB::GetType() const { return kTypeIPodDB; }

void ADirPodDB::ResetDatabase()
{
    database = std::make_unique<IPodDB>(progress);
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
    *track = nullptr;
    // Lookups go through the sorted view.
    if (!database->HasSortedView())
        Sort(1);
    return database->GetSongInfo(track, RelativePath(path, upToFirstRoot), exact) && *track ? 1 : 0;
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
    // deleting takes whole folders. Only a regular file inside the music folder is the track's.
    const AString disk = DiskPathOf(track);
    // A link is not the track's file: deleting through it would take the file it points to, which
    // may be another track's.
    struct stat entryInfo {};
    if (lstat(disk.CStr(), &entryInfo) == 0 && S_ISLNK(entryInfo.st_mode)) {
        *why = "its location is a symbolic link";
        return OwnFile::kRefused;
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(disk.ToStdString(), error);
    if (error == std::errc::no_such_file_or_directory)
        return OwnFile::kMissing;
    if (error) {
        *why = "its location cannot be resolved";
        return OwnFile::kRefused;
    }
    struct stat fileInfo {};
    if (stat(resolved.c_str(), &fileInfo) != 0 || !S_ISREG(fileInfo.st_mode)) {
        *why = "its location is not a regular file";
        return OwnFile::kRefused;
    }
    // The folders are compared as the disk knows them, so a music folder whose name differs in
    // case (FAT) or that is reached through a link still counts.
    const AString musicFolder = IPodDB::ResolveIPodPath(iPodRoot, "iPod_Control/Music");
    struct stat musicInfo {};
    if (stat(musicFolder.CStr(), &musicInfo) == 0) {
        for (std::filesystem::path folder = resolved.parent_path();; folder = folder.parent_path()) {
            struct stat folderInfo {};
            if (stat(folder.c_str(), &folderInfo) == 0 && SameFile(folderInfo, musicInfo)) {
                *file = AString::FromUTF8(resolved.string());
                return OwnFile::kOwn;
            }
            if (folder == folder.parent_path())
                break;
        }
    }
    *why = "its location lies outside the iPod's music folder";
    return OwnFile::kRefused;
}

void ADirPodDB::CheckRemovedFilesFolder()
{
    // Moved files go to the iPod itself unless a folder that exists was chosen for them (one on a
    // volume that is not mounted now would be made afresh under the volumes root).
    if (removedFilesFolder.IsEmpty() || removedFilesFolder.Find('/', 0) < 0 ||
        !AFile::DirExists(&removedFilesFolder))
        removedFilesFolder = iPodRoot;
}

void ADirPodDB::SetRootPath(const AString* root)
{
    iPodRoot = root;
    if (!iPodRoot.IsEmpty() && iPodRoot[iPodRoot.GetLength() - 1] != '/')
        iPodRoot += '/';
    CheckRemovedFilesFolder();

    IPodInfo info;
    if (IPodDB::GetIPodInfo(&iPodRoot, &info) == 0 && info.family == IPodInfo::kFamilyVideo &&
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
    if (!database->IsLoaded() && tracks && tracks->GetTrackCount() > 0) {
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
    progress->StartDivision(0.5, nullptr, 0, 0);
    if (AFile::DirExists(&rootPath))
        err = ADir::PopulateFileList(cancel);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0)
        return err;

    CheckRemovedFilesFolder();

    progress->StartDivision(0.5, nullptr, 0, 0);
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
    return 0;
}

int ADirPodDB::Count()
{
    if (!database->HasSortedView())
        Sort(1);
    return database->CountSortedSongs();
}

void ADirPodDB::Sort(signed char ascending)
{
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
    if (diskPath)
        *diskPath = DiskPathOf(*track);
    return 0;
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
    MHIT* track = nullptr;
    if (!path || !FindTrack(*path, fromList, &track, true))
        return kErrUnknown;
    AString file, why;
    // A file that is kept is not touched, so it needs no check.
    switch (keepFile ? OwnFile::kMissing : ResolveOwnFile(*track, &file, &why)) {
    case OwnFile::kOwn:
        // The file goes first: a track whose file could not be moved or deleted stays listed,
        // rather than leaving a file on the iPod that nothing lists.
        if (int err = ADir::Delete(&file, fromList, keepFile); err != 0)
            return err;
        break;
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
    return 0;
}

int ADirPodDB::DeleteEntry(int index, signed char removeFile, signed char keepFile)
{
    int err = 0;
    if (removeFile) {
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

void ADirPodDB::DeleteAll()
{
    ADir::DeleteAll();
    if (!database->GetIPodID().IsEmpty())
        iPodID = database->GetIPodID();
    ResetDatabase();
}

int ADirPodDB::Finalize() { return database->Store(nullptr); }

int ADirPodDB::RefreshSong(const AString* path)
{
    MHIT* track = nullptr;
    if (!path || !FindTrack(*path, 1, &track))
        return kErrUnknown;
    const AString disk = DiskPathOf(*track);
    ID3 tags;
    if (int err = tags.SetFilePath(disk); err != 0)
        return err;
    SongInfoStruct song;
    tags.GetSongInfo(song);
    track->SetField(MHIT::kOffsetSize, static_cast<std::uint32_t>(song.size));
    track->SetField(MHIT::kOffsetLength, static_cast<std::uint32_t>(song.duration) * 1000u);
    track->SetField(MHIT::kOffsetBitrate, static_cast<std::uint32_t>(song.bitRate));
    track->SetField(MHIT::kOffsetModTime, static_cast<std::uint32_t>(AFile::FileModTime(&disk)));
    track->SetField(MHIT::kOffsetYear, static_cast<std::uint32_t>(song.year));
    track->SetField(MHIT::kOffsetTrackNumber, static_cast<std::uint32_t>(song.trackNumber));
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
    if (!path)
        return kErrFileNotFound;
    ID3 tags;
    if (int err = tags.SetFilePath(*path); err != 0)
        return err;
    SongInfoStruct song;
    tags.GetSongInfo(song);
    song.modTime = AFile::FileModTime(path);
    if (!song.name.IsEmpty())
        song.modifiedName = song.name;
    else if (name && !name->IsEmpty())
        song.modifiedName = *name;

    if (int err = database->AddSong(song, nullptr, 0); err != 0)
        return err;

    AString destination;
    if (int err = IPodMusicFolder::CopyIn(iPodRoot, *path, song, cancel, progress, destination); err != 0)
        return err;
    song.filePath = destination.Mid(iPodRoot.GetLength(), destination.GetLength());
    MHIT* track = nullptr;
    if (int err = database->AddSong(song, &track, 1); err != 0) {
        AFile::Delete(&destination);
        return err;
    }
    if (track)
        track->SetFilepath(song.filePath);
    return 0;
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
    }
    if (int err = iPodID.ReadState(f); err != 0)
        return err;
    if (int err = localTempPath.ReadState(f); err != 0)
        return err;
    database->SetLocalTempPath(localTempPath);
    return 0;
}
