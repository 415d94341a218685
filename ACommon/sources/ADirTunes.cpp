#include "ACommon/sources/ADirTunes.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::ScriptDescriptor;

namespace {

// The largest copy number tried before a placement gives up.
constexpr int kMaxCopyNumber = 9999;

AString ItemText(const ScriptDescriptor& item)
{
    return AString::FromUTF8(item.StringValue().value_or(std::string()));
}

// The real path of an existing file or folder; empty when it cannot be resolved.
std::string Resolved(const AString& path)
{
    char buffer[PATH_MAX];
    if (!realpath(path.CStr(), buffer))
        return std::string();
    return buffer;
}

bool IsInside(const std::string& path, const std::string& folder)
{
    return !folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (folder.back() == '/' || path[folder.size()] == '/');
}

// Puts `temporary` in place at `target` unless something is there already: 0, EEXIST when the
// name is taken, or another errno.
int CommitWithoutReplacing(const AString& temporary, const AString& target)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, temporary.CStr(), AT_FDCWD, target.CStr(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    // A file system without the flag: a hard link fails on a taken name just the same.
    if (link(temporary.CStr(), target.CStr()) != 0)
        return errno;
    unlink(temporary.CStr());
    return 0;
}

} // namespace

ADirTunes::ADirTunes(AProgress* reporter) : ADirSong(reporter), bridge(std::make_unique<ASiTunes>(reporter))
{
    const AString& name = bridge->GetLibName();
    bridge->SetPlaylistName(name.IsEmpty() ? AString("Library") : name);
    appleIDs = AString(":") + bridge->GetUserID() + ":";
    rootPath = kRootMarker;
}

ADirTunes::~ADirTunes() = default;

int ADirTunes::GetType() const { return kTypeITunes; }

bool ADirTunes::ParseKey(const AString& path, std::uint32_t* id, int* index)
{
    const int question = path.ReverseFind('?');
    if (question < 0)
        return false;
    const int colon = path.Find(':', question + 1);
    if (colon < 0)
        return false;
    const AString idText = path.Mid(question + 1, colon - question - 1);
    const AString indexText = path.Mid(colon + 1, path.GetLength());
    if (!idText.IsNumber() || !indexText.IsNumber())
        return false;
    if (id)
        *id = static_cast<std::uint32_t>(idText.Int64Value());
    if (index)
        *index = static_cast<int>(indexText.Int64Value());
    return true;
}

bool ADirTunes::HoldsPlaylistName(const AString& names, const AString& name)
{
    int begin = 0;
    while (begin < names.GetLength()) {
        int end = names.Find('\n', begin);
        if (end < 0)
            end = names.GetLength();
        if (names.Mid(begin, end - begin).CompareNoCase(name) == 0)
            return true;
        begin = end + 1;
    }
    return false;
}

int ADirTunes::GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList)
{
    int index = -1;
    if (!fromList || !path || !diskPath || !ParseKey(*path, nullptr, &index) || index < 0 ||
        index >= diskList.Count())
        return -1;
    *diskPath = *diskList.Get(index);
    return 0;
}

std::uint64_t ADirTunes::GetFileModTime(const AString* path)
{
    AString disk;
    if (GetFileDiskPath(path, &disk, 1) != 0 || disk.IsEmpty())
        return 0;
    return AFile::FileModTime(&disk);
}

bool ADirTunes::IsFileInside(const AString& file, const AString& folder)
{
    struct stat info;
    if (lstat(file.CStr(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return IsInside(Resolved(file), Resolved(folder));
}

int ADirTunes::Delete(const AString* path, signed char fromList, signed char keepFile)
{
    std::uint32_t id = 0;
    if (!path || !ParseKey(*path, &id, nullptr))
        return kErrUnableToDelete;
    AString disk;
    GetFileDiskPath(path, &disk, 1);
    if (int err = bridge->DeleteITunesSong(id); err != 0)
        return err;
    // Only a track gone from the library playlist itself has given up its file; taken out of any
    // other playlist, the song stays in the library and so does its file.
    if (bridge->GetPlaylistName() != bridge->GetLibName() || bridge->LibTrackCount(id) != 0)
        return 0;
    if (disk.GetLength() <= 1 || !AFile::FileExists(&disk))
        return 0;
    AString music;
    GetRealRootPath(&music);
    if (!IsFileInside(disk, music)) {
        AString line("Kept a file outside the music folder: ");
        line += disk;
        progress->UpdateDivision(-1, nullptr, nullptr, &line, verboseLog);
        return 0;
    }
    return ADir::Delete(&disk, fromList, keepFile);
}

int ADirTunes::GetSongInfo(const AString*, SongInfoStruct* info)
{
    if (info) {
        info->duration = 0;
        info->bitRate = 0;
    }
    return -1;
}

bool ADirTunes::FileExists(const AString*) { return false; }

void ADirTunes::SetPlaylist(const AString* name)
{
    AString playlist;
    playlist = name;
    bridge->SetPlaylistName(playlist);
}

void ADirTunes::DeleteAll()
{
    ADir::DeleteAll();
    diskList.DeleteAll();
    wholeLibrary.reset();
    heldSongs.clear();
}

bool ADirTunes::TakeListing(ADir& live)
{
    // The same kind of source listing the same playlist (and, for an iPod, the same iPod).
    auto* other = dynamic_cast<ADirTunes*>(&live);
    if (!other || other->GetType() != GetType() || other->useFullPaths ||
        GetPlaylist() != other->GetPlaylist())
        return false;
    AString mine, theirs;
    GetRealRootPath(&mine);
    other->GetRealRootPath(&theirs);
    if (mine != theirs)
        return false;
    InitRoot(other->GetRootPath(), 0);
    PrepareListing();
    SwapListing(*other);
    diskList.SwapRecords(other->diskList);
    return true;
}

int ADirTunes::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::WriteState(f); err != 0)
        return err;
    if (int err = diskList.WriteState(f); err != 0)
        return err;
    return GetPlaylist().WriteState(f);
}

int ADirTunes::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::ReadState(f); err != 0)
        return err;
    if (int err = diskList.ReadState(f); err != 0)
        return err;
    AString playlist;
    if (int err = playlist.ReadState(f); err != 0)
        return err;
    bridge->SetPlaylistName(playlist);
    rootPath = kRootMarker;
    return 0;
}

int ADirTunes::Initialize()
{
    if (!createLastPlaylist)
        return 0;
    AString names;
    if (int err = ASiTunes::GetITunesPlaylist(0, &names); err != 0)
        return err;
    if (HoldsPlaylistName(names, AString(kLastSync)))
        if (int err = bridge->DeletePlaylistITunes(AString(kLastSync)); err != 0)
            return err;
    return bridge->MakePlaylistITunes(AString(kLastSync));
}

int ADirTunes::CopyProperties(ADir* other)
{
    if (int err = ADirSong::CopyProperties(other); err != 0)
        return err;
    if (auto* tunes = dynamic_cast<ADirTunes*>(other)) {
        diskList.DeleteAll();
        for (int i = 0; i < tunes->diskList.Count(); ++i)
            diskList.AddWithTime(new AString(*tunes->diskList.Get(i)), 0);
    }
    return 0;
}

AString ADirTunes::GetRootDisplayName(signed char bare)
{
    return bare ? GetPlaylist() : AString("Library:") + GetPlaylist();
}

void ADirTunes::GetRealRootPath(AString* out)
{
    if (out)
        *out = bridge->GetITunesRootFolder();
}

int ADirTunes::GetPlayListType() const
{
    const int type = bridge->GetITunesPlayListType();
    return type == ASiTunes::kPlaylistOrdinary || type == ASiTunes::kPlaylistOther ? 0 : 1;
}

int ADirTunes::GetImageCount(const AString* path, int* count)
{
    std::uint32_t id = 0;
    if (count)
        *count = 0;
    if (!path || !count || !ParseKey(*path, &id, nullptr))
        return kErrArtworkCount;
    *count = ArtCount(id);
    if (*count < 0) {
        *count = 0;
        return kErrArtworkCount;
    }
    return 0;
}

int ADirTunes::GetImageInfo(const AString* path, int index, unsigned char** data, int* size)
{
    if (data)
        *data = nullptr;
    if (size)
        *size = 0;
    std::uint32_t id = 0;
    if (!path || !data || !size || !ParseKey(*path, &id, nullptr))
        return kErrFileNotFound;
    std::vector<std::uint8_t> jpeg;
    if (int err = Art(id, index, &jpeg); err != 0)
        return err;
    unsigned char* bytes = new (std::nothrow) unsigned char[jpeg.size()];
    if (!bytes)
        return kErrOutOfMemory;
    std::copy(jpeg.begin(), jpeg.end(), bytes);
    *data = bytes;
    *size = static_cast<int>(jpeg.size());
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Listing

int ADirTunes::ReadTracks(std::vector<AString>* vpaths, CancelProc cancel)
{
    for (int attempt = 0; attempt < kListingAttempts; ++attempt) {
        std::vector<std::uint32_t> before, after;
        if (int err = ListIDs(&before); err != 0)
            return err;
        const std::size_t n = before.size();
        std::vector<ScriptDescriptor> genres, artists, albums, names, locations;
        struct Read {
            const char* param;
            std::vector<ScriptDescriptor>* items;
            bool wanted;
        };
        bool changed = false;
        for (const Read& read :
             {Read{"genre", &genres, genreRelevantOnDupSongCompare != 0}, Read{"artist", &artists, true},
              Read{"album", &albums, albumRelevantOnDupSongCompare != 0}, Read{"name", &names, true},
              Read{"location", &locations, true}}) {
            if (!read.wanted)
                continue;
            if (int err = ListProperty(read.param, read.items); err != 0)
                return err;
            if (read.items->size() != n)
                changed = true;
            if (cancel && cancel())
                return kErrUserCancel;
        }
        if (int err = ListIDs(&after); err != 0)
            return err;
        if (changed || after != before)
            continue; // another process changed the playlist meanwhile: read it again

        // An untagged song is matched by the size of its music; while its file cannot be reached
        // (a drive that is not mounted) the size the library stored stands in, read only then.
        std::vector<ScriptDescriptor> storedSizes;
        bool sizesRead = false;
        auto storedSize = [&](std::size_t i) -> std::uint64_t {
            if (!sizesRead) {
                sizesRead = true;
                if (ListProperty("music size", &storedSizes) != 0 || storedSizes.size() != n)
                    storedSizes.clear();
            }
            if (i >= storedSizes.size() || storedSizes[i].GetKind() != ScriptDescriptor::Kind::Integer)
                return 0;
            const std::int64_t size = storedSizes[i].Int64Value();
            return size > 0 ? static_cast<std::uint64_t>(size) : 0;
        };

        progress->StartDivision(0.7, nullptr, 0, 0);
        AString detail;
        for (std::size_t i = 0; i < n; ++i) {
            AString disk;
            if (std::optional<std::string> location = locations[i].AliasPath())
                disk = AString::FromUTF8(*location);
            const AString entry = DiskEntry(disk);
            AString extension;
            disk.PathExtension(&extension);
            AString key;
            key += std::to_string(before[i]).c_str();
            key += ":";
            key += diskList.Count();
            const AString none;
            AString vpath = BuildVirtualPath(
                genres.empty() ? none : ItemText(genres[i]), ItemText(artists[i]),
                albums.empty() ? none : ItemText(albums[i]), ItemText(names[i]), extension,
                [&] {
                    if (!disk.IsEmpty() && AFile::FileExists(&disk))
                        return ID3::CalcMusicSize(&disk);
                    return storedSize(i);
                },
                &key);
            if (PathFilterCheck(&disk) && TypeFilterCheck(&disk) && VPathFilterCheck(&vpath)) {
                vpaths->push_back(vpath);
                diskList.AddWithTime(new AString(entry), 0);
            }
            if ((i + 1) % 500 == 0 || i + 1 == n) {
                detail = "Processing Song ";
                detail += static_cast<int>(i + 1);
                detail += " of ";
                detail += static_cast<int>(n);
                progress->UpdateDivision(static_cast<double>(i + 1) / n, nullptr, &detail, nullptr, 0);
            }
            if (cancel && (i + 1) % 256 == 0 && cancel()) {
                progress->EndDivision(nullptr, 0, 0);
                return kErrUserCancel;
            }
        }
        progress->EndDivision(nullptr, 0, 0);
        return 0;
    }
    AString line("The library changed while it was read; try again: ");
    line += GetPlaylist();
    progress->UpdateDivision(-1, nullptr, nullptr, &line, 0);
    return kErrInconsistentSize;
}

void ADirTunes::PrepareListing()
{
    bridge->GetLibName();
    rootPath = kRootMarker;
    const AString& music = bridge->GetITunesRootFolder();
    if (const int slash = music.ReverseFind('/'); slash > 0)
        removedFilesFolder = music.Left(slash);
}

int ADirTunes::PopulateFileList(CancelProc cancel)
{
    PrepareListing();
    return ListTracks(cancel);
}

int ADirTunes::ListTracks(CancelProc cancel)
{
    const AString text = ListingMessage();
    progress->StartDivision(0.3, &text, 0, 1);
    std::vector<AString> vpaths;
    diskList.DeleteAll();
    const int err = ReadTracks(&vpaths, cancel);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0) {
        diskList.DeleteAll();
        // Without a reason of the library's own, the playlist is missing or the script failed.
        if (err == kErrITunesRefused && AError::FailureDetail(err).IsEmpty()) {
            const AString line = AString("The library did not list the playlist \"") + GetPlaylist() +
                                 "\": it has no such playlist, or its script failed.";
            progress->UpdateDivision(-1, nullptr, nullptr, &line, 0);
        }
        return err;
    }
    for (AString& vpath : vpaths)
        fileList.AddWithTime(new AString(std::move(vpath)), 0);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Adding songs

int ADirTunes::AddHeldSong(const AString& vpath)
{
    const AString& libraryName = bridge->GetLibName();
    if (GetPlaylist() == libraryName || GetPlaylist() == AString("Library"))
        return kErrObjectNotFound;
    auto songOf = [](const AString& path) {
        const int question = path.ReverseFind('?');
        AString song = question >= 0 ? path.Left(question) : path;
        if (song.GetLength() >= static_cast<int>(std::strlen(kRootMarker)) &&
            song.Left(static_cast<int>(std::strlen(kRootMarker))) == AString(kRootMarker))
            song = song.Mid(static_cast<int>(std::strlen(kRootMarker)), song.GetLength());
        return song;
    };
    auto before = [](const HeldSong& a, const HeldSong& b) { return a.path.CompareNoCase(b.path) < 0; };
    if (!wholeLibrary) {
        auto whole = std::make_unique<ADirTunes>(progress);
        if (int err = whole->CopyProperties(this); err != 0)
            return err;
        whole->SetCreateLastPlaylist(0);
        // Its songs named as this side names them: facing an iPod, by the type they are converted to.
        whole->SetConvertsForIPod(GetConvertsForIPod());
        const AString name = libraryName.IsEmpty() ? AString("Library") : libraryName;
        whole->SetPlaylist(&name);
        if (int err = whole->PopulateFileList(nullptr); err != 0)
            return err;
        heldSongs.clear();
        for (int i = 0; i < whole->Count(); ++i) {
            std::uint32_t id = 0;
            if (ParseKey(*whole->GetFPath(i), &id, nullptr))
                heldSongs.push_back(HeldSong{songOf(*whole->GetFPath(i)), id});
        }
        std::sort(heldSongs.begin(), heldSongs.end(), before);
        wholeLibrary = std::move(whole);
    }
    const HeldSong wanted{songOf(vpath), 0};
    auto found = std::lower_bound(heldSongs.begin(), heldSongs.end(), wanted, before);
    if (found == heldSongs.end() || found->path.CompareNoCase(wanted.path) != 0)
        return kErrObjectNotFound;
    // The track is added by its location, which the library knows as this very track.
    if (int err = wholeLibrary->Bridge().ITunesAddSongToPlaylist(GetPlaylist(), found->id); err != 0)
        return err;
    if (createLastPlaylist &&
        wholeLibrary->Bridge().ITunesAddSongToPlaylist(AString(kLastSync), found->id) != 0) {
        AString line("Error Adding to LastSync Playlist in iTunes: ");
        line += wanted.path;
        progress->UpdateDivision(-1, nullptr, nullptr, &line, verboseLog);
    }
    return 0;
}

int ADirTunes::AddSongFromDisk(const AString* path)
{
    if (!path)
        return kErrAddSong;
    // The song and its place in "Last Sync" by one script (one transaction of the library).
    const AString lastSync(kLastSync);
    if (bridge->ITunesAddSong(*path, createLastPlaylist ? &lastSync : nullptr) >= 0)
        return 0;
    // A "Last Sync" gone meanwhile undid the song with it: the song is added on its own then, and
    // only the playlist is reported.
    if (createLastPlaylist && ASiTunes::LastScriptFailure(nullptr) == kErrObjectNotFound)
        return AddSongAlone(*path);
    // The library's reason (the file, the system's words) stands for itself rather than as a
    // refusal to add the song.
    return ASiTunes::NoteLastScriptFailure(kErrAddSong);
}

int ADirTunes::AddSongAlone(const AString& path)
{
    const long long id = bridge->ITunesAddSongFromDisk(path, nullptr);
    if (id < 0)
        return ASiTunes::NoteLastScriptFailure(kErrAddSong);
    if (bridge->ITunesAddSongToPlaylist(AString(kLastSync), static_cast<std::uint32_t>(id)) == 0)
        return 0;
    AString line("Error Adding to LastSync Playlist in iTunes: ");
    line += path;
    progress->UpdateDivision(-1, nullptr, nullptr, &line, verboseLog);
    return kErrLastSyncPlaylist;
}

int ADirTunes::AddITunesReadyFile(const AString*, const AString* src, AString* dest,
                                  const AString* fallbackName, signed char* copied, CancelProc cancel)
{
    if (copied)
        *copied = 0;
    if (!src || !dest)
        return kErrFileNotFound;
    ID3 tags;
    if (tags.SetFilePath(*src) != 0) {
        if (AFile::FileExists(src))
            AError::NoteFailure(kErrFileNotFound, AString("cannot read the tags of ") + *src);
        else
            AError::NoteFailure(kErrFileNotFound, "find", *src, ENOENT);
        return kErrFileNotFound;
    }

    // The music folder is made when missing, but only inside an existing folder: a missing parent
    // is a drive that is not mounted, and nothing is written in its place.
    const AString music = bridge->GetITunesRootFolder();
    if (!AFile::DirExists(&music)) {
        const int slash = music.ReverseFind('/');
        AString parent = slash > 0 ? music.Left(slash) : AString();
        if (parent.IsEmpty() || !AFile::DirExists(&parent)) {
            AError::NoteFailure(kErrVolumeNotFound, AString("the library's music folder ") + music +
                                                        " is on a drive that seems not to be mounted; mount "
                                                        "it and sync again");
            return kErrVolumeNotFound;
        }
        if (mkdir(music.CStr(), 0777) != 0 && errno != EEXIST)
            return kErrIO;
    }
    AString extension;
    src->PathExtension(&extension);
    const int version = ASiTunes::GetITunesVersion();

    AString folder = music;
    signed char unknownArtist = 0;
    bool film = false;
    if (version >= 700 && tags.IsPodCast()) {
        AppendArtistAlbum(&tags, &folder, unknownArtist, static_cast<unsigned>(version));
        unknownArtist = 0;
        film = true;
    } else if (version >= 700 &&
               (extension.CompareNoCase("m4v") == 0 || extension.CompareNoCase("mp4") == 0)) {
        if (tags.IsTVShow() && !tags.IsMovie()) {
            folder.AppendPathComponent("TV Shows");
            AString show;
            tags.GetTVShow(show);
            if (!show.IsEmpty())
                folder.AppendPathComponent(FolderNameFromTag(show, "_"));
        } else {
            folder.AppendPathComponent("Movies");
        }
        film = true;
    } else {
        AString artist, album;
        tags.GetArtist(artist);
        tags.GetAlbum(album);
        const bool m4v = extension.CompareNoCase("m4v") == 0;
        AString trimmed = artist;
        trimmed.Trim();
        unknownArtist = trimmed.IsEmpty() ? 1 : 0;
        folder.AppendPathComponent(tags.IsCompilation()
                                       ? AString("Compilations")
                                       : FolderNameFromTag(trimmed, m4v ? "Movies" : "Unknown Artist"));
        AString albumTrimmed = album;
        albumTrimmed.Trim();
        if (!albumTrimmed.IsEmpty() || !m4v)
            folder.AppendPathComponent(FolderNameFromTag(albumTrimmed, "Unknown Album"));
    }
    const bool compilation = !film && tags.IsCompilation();
    if (film)
        unknownArtist = 0;
    if (!AFile::DirExists(&folder))
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;
    if (!IsInside(Resolved(folder) + "/", Resolved(music) + "/") && Resolved(folder) != Resolved(music)) {
        AString line("Refused a folder outside the music folder: ");
        line += folder;
        progress->UpdateDivision(-1, nullptr, nullptr, &line, 0);
        return kErrInvalidPath;
    }

    // "2-03 Name.ext": disc (of several), track with two digits at least, then the name.
    AString prefix;
    long track = 0, disc = 0, discCount = 0;
    tags.GetTrackNumber(track);
    tags.GetDiskNumber(disc);
    tags.GetDiskCount(discCount);
    if (track >= 1) {
        if (discCount > 1) {
            prefix += static_cast<int>(disc);
            prefix += '-';
        }
        if (track < 10)
            prefix += '0';
        prefix += static_cast<int>(track);
        prefix += ' ';
    }
    auto stripPrefix = [&prefix](AString name) {
        if (!prefix.IsEmpty() && name.GetLength() >= prefix.GetLength() &&
            name.Left(prefix.GetLength()) == prefix)
            name = name.Mid(prefix.GetLength(), name.GetLength());
        return name;
    };
    AString name;
    tags.GetName(name);
    AString base = prefix;
    AString fileExtension = extension;
    if (name.IsEmpty() && fallbackName && !fallbackName->IsEmpty())
        name = stripPrefix(*fallbackName);
    AString::FormatPathString(name, '_', 1);
    name.Trim();
    if (!name.IsEmpty() && name != "." && name != "..") {
        base += name;
    } else {
        AString own;
        src->LastPathComponent(&own);
        const int dot = own.ReverseFind('.');
        if (dot > 0) {
            fileExtension = own.Mid(dot + 1, own.GetLength());
            own = own.Left(dot);
        }
        AString::FormatPathString(own, '_', 1);
        base = prefix + stripPrefix(own);
    }
    auto target = [&](int copy) {
        AString tail;
        if (copy > 0) {
            tail += ' ';
            tail += copy;
        }
        if (!fileExtension.IsEmpty()) {
            tail += '.';
            tail += fileExtension;
        }
        AString path = folder;
        path.AppendPathComponent(FitName(base, tail));
        return path;
    };
    // An equal file already there is the song: nothing is copied.
    auto sameSong = [&](const AString& there) {
        if (AFile::FastFilesEqual(&there, src))
            return true;
        return unknownArtist && ID3::FilesEqualMusicCRC32(&there, src) == 1;
    };
    AString first = target(0);
    if (AFile::FileExists(&first)) {
        if (dontDupSongs && !unknownArtist && !compilation && ID3::FilesEqualMusicCRC32(&first, src) == 1) {
            *dest = first;
            return 0;
        }
    }

    // A copy into this folder that a stopped run cut short is the same song's, copied again now.
    if (sweptFolders.insert(folder.ToStdString()).second)
        AFile::RemoveStaleTemporariesIn(folder);

    // Copied under a temporary name, then put in place without replacing: a name that is taken,
    // also by a file that appeared meanwhile, moves on to the next number.
    AString temporary;
    for (int copy = 0; copy <= kMaxCopyNumber; ++copy) {
        AString candidate = target(copy);
        if (AFile::FileExists(&candidate)) {
            if (sameSong(candidate)) {
                if (!temporary.IsEmpty())
                    AFile::Delete(&temporary);
                *dest = candidate;
                return 0;
            }
            continue;
        }
        if (temporary.IsEmpty()) {
            temporary = AFile::TemporaryPathBeside(&candidate);
            if (int err = AFile::CopyWithProgress(src, &temporary, cancel, progress); err != 0) {
                AFile::Delete(&temporary);
                return err;
            }
        }
        const int committed = CommitWithoutReplacing(temporary, candidate);
        if (committed == 0) {
            *dest = candidate;
            if (copied)
                *copied = 1;
            return 0;
        }
        if (committed != EEXIST) {
            AFile::Delete(&temporary);
            AError::NoteFailure(kErrIO, "place", candidate, committed);
            return kErrIO;
        }
    }
    if (!temporary.IsEmpty())
        AFile::Delete(&temporary);
    return kErrDuplicate;
}

int ADirTunes::AddLooseFile(const AString* file, CancelProc cancel, AString* placed)
{
    if (placed)
        *placed = AString();
    AString dest;
    signed char copied = 0;
    if (int err = AddITunesReadyFile(nullptr, file, &dest, nullptr, &copied, cancel); err != 0)
        return err;
    // A file found in place may be one the library holds already: then nothing was added.
    const int before = copied ? -1 : bridge->LibCount();
    const int err = AddSongFromDisk(&dest);
    if (err == 0 || err == kErrLastSyncPlaylist) {
        if (before >= 0 && bridge->LibCount() == before)
            return kErrDuplicate;
        if (placed)
            *placed = dest;
        return err;
    }
    if (copied)
        AFile::Delete(&dest);
    return err;
}
