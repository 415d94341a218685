#include "ACommon/sources/ADirSong.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "ACommon/tags/SongName.h"

#include <sys/stat.h>

namespace {

// Two paths name one file: the same file on the disk when both can be looked at (names that differ
// only in case are two files on most of our disks), otherwise the same path.
bool SameFile(const AString& a, const AString& b)
{
    struct stat sa {
    }, sb{};
    if (stat(a.CStr(), &sa) == 0 && stat(b.CStr(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a == b;
}

// Two songs that share genre, artist, album and name are still two songs when their track or disc
// numbers say so (two "Interlude"s of one album): a number counts when both files carry one.
bool DifferentTracks(const AString& diskA, const AString& diskB)
{
    ID3 tagsA, tagsB;
    if (tagsA.SetFilePath(diskA) != 0 || tagsB.SetFilePath(diskB) != 0)
        return false;
    SongInfoStruct a, b;
    tagsA.GetSongInfo(a);
    tagsB.GetSongInfo(b);
    auto differ = [](int x, int y) { return x != 0 && y != 0 && x != y; };
    return differ(a.trackNumber, b.trackNumber) || differ(a.discNumber, b.discNumber);
}

// Whole-value filter: the value wrapped in colons must (include) or must not (exclude) occur in the
// list, case ignored. An empty value is "::".
bool ValueFilterCheck(const AString& value, int mode, const AString& include, const AString& exclude)
{
    if (mode == 0)
        return true;
    AString wrapped(":");
    wrapped += value;
    wrapped += ':';
    if ((mode & 0x1) && !include.IsEmpty() && include.Find(wrapped, 0, 0) < 0)
        return false;
    if ((mode & 0x2) && !exclude.IsEmpty() && exclude.Find(wrapped, 0, 0) >= 0)
        return false;
    return true;
}

// Component `index` of a virtual path that begins with "/" (0 is the text between the first and the
// second "/"). The last component runs to the "?" of the key.
AString Component(const AString& vpath, int index, bool cutAtKey)
{
    int begin = 0;
    if (vpath.GetLength() > 0 && vpath[0] == '/')
        begin = 1;
    for (int i = 0; i < index; ++i) {
        int slash = vpath.Find('/', begin);
        if (slash < 0)
            return AString();
        begin = slash + 1;
    }
    int end = vpath.Find('/', begin);
    if (end < 0) {
        end = cutAtKey ? vpath.ReverseFind('?') : -1;
        if (end < begin)
            end = vpath.GetLength();
    }
    return vpath.Mid(begin, end - begin);
}

// Protected music: the store's copy-protected file types.
const char* const kProtectedTypes = ":m4p:m4v:";

bool HasProtectedType(const AString& path)
{
    AString extension;
    path.PathExtension(&extension);
    if (extension.IsEmpty())
        return false;
    AString key(":");
    key += extension;
    key += ':';
    return AString(kProtectedTypes).Find(key, 0, 0) >= 0;
}

// One component of a virtual path: path-safe, trimmed, "*" when nothing is left.
AString PathComponent(const AString& tag)
{
    AString component = tag;
    AString::FormatPathString(component, '_', 0);
    component.Trim();
    if (component.IsEmpty())
        component = "*";
    return component;
}

int WriteStrings(AFile* f, std::initializer_list<const AString*> strings)
{
    for (const AString* s : strings)
        if (int err = s->WriteState(f); err != 0)
            return err;
    return 0;
}

} // namespace

ADirSong::ADirSong(AProgress* progress) : ADir(progress)
{
    typeFilterMode = 1;
    typeIncludeFilter = ":mp3:m4p:m4a:m4b:";
}

ADirSong::~ADirSong() = default;

int ADirSong::PathCompare(const AString* a, const AString* b) { return a->CompareNoCase(*b); }

void ADirSong::GetRealRootPath(AString* out)
{
    if (out)
        *out = rootPath;
}

int ADirSong::GetPlayListType() const { return 0; }

int ADirSong::GetImageInfo(const AString*, int, unsigned char** data, int* size)
{
    if (data)
        *data = nullptr;
    if (size)
        *size = 0;
    return 0;
}

int ADirSong::GetImageCount(const AString*, int* count)
{
    if (count)
        *count = 0;
    return 0;
}

int ADirSong::CopyProperties(ADir* other)
{
    ADir::CopyProperties(other);
    auto* song = dynamic_cast<ADirSong*>(other);
    if (!song)
        return 0;
    dontDupSongs = song->dontDupSongs;
    favorSizeVsDate = song->favorSizeVsDate;
    fileTypeRelevantOnDupSongCompare = song->fileTypeRelevantOnDupSongCompare;
    genreRelevantOnDupSongCompare = song->genreRelevantOnDupSongCompare;
    albumRelevantOnDupSongCompare = song->albumRelevantOnDupSongCompare;
    favorProtectedMusic = song->favorProtectedMusic;
    deleteMusicNotOwned = song->deleteMusicNotOwned;
    genreFilterMode = song->genreFilterMode;
    genreIncludeFilter = song->genreIncludeFilter;
    genreExcludeFilter = song->genreExcludeFilter;
    artistFilterMode = song->artistFilterMode;
    artistIncludeFilter = song->artistIncludeFilter;
    artistExcludeFilter = song->artistExcludeFilter;
    albumFilterMode = song->albumFilterMode;
    albumIncludeFilter = song->albumIncludeFilter;
    albumExcludeFilter = song->albumExcludeFilter;
    songNameFilterMode = song->songNameFilterMode;
    songNameIncludeFilter = song->songNameIncludeFilter;
    songNameExcludeFilter = song->songNameExcludeFilter;
    favorFileTypes = song->favorFileTypes;
    appleIDs = song->appleIDs;
    return 0;
}

int ADirSong::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = ADir::WriteState(f); err != 0)
        return err;
    if (int err = favorFileTypes.WriteState(f); err != 0)
        return err;
    struct Filter {
        int mode;
        const AString* include;
        const AString* exclude;
    };
    for (const Filter& filter :
         {Filter{genreFilterMode, &genreIncludeFilter, &genreExcludeFilter},
          Filter{artistFilterMode, &artistIncludeFilter, &artistExcludeFilter},
          Filter{albumFilterMode, &albumIncludeFilter, &albumExcludeFilter},
          Filter{songNameFilterMode, &songNameIncludeFilter, &songNameExcludeFilter}}) {
        if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(filter.mode)); err != 0)
            return err;
        if (int err = WriteStrings(f, {filter.include, filter.exclude}); err != 0)
            return err;
    }
    for (signed char flag :
         {favorSizeVsDate, dontDupSongs, fileTypeRelevantOnDupSongCompare, genreRelevantOnDupSongCompare,
          albumRelevantOnDupSongCompare, favorProtectedMusic, deleteMusicNotOwned, createLastPlaylist})
        if (int err = AStateStream::WriteFlag(f, flag); err != 0)
            return err;
    return appleIDs.WriteState(f);
}

int ADirSong::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    if (int err = ADir::ReadState(f); err != 0)
        return err;
    if (int err = favorFileTypes.ReadState(f); err != 0)
        return err;
    struct Filter {
        int* mode;
        AString* include;
        AString* exclude;
    };
    for (const Filter& filter :
         {Filter{&genreFilterMode, &genreIncludeFilter, &genreExcludeFilter},
          Filter{&artistFilterMode, &artistIncludeFilter, &artistExcludeFilter},
          Filter{&albumFilterMode, &albumIncludeFilter, &albumExcludeFilter},
          Filter{&songNameFilterMode, &songNameIncludeFilter, &songNameExcludeFilter}}) {
        if (int err = AStateStream::ReadI32(f, filter.mode); err != 0)
            return err;
        if (int err = filter.include->ReadState(f); err != 0)
            return err;
        if (int err = filter.exclude->ReadState(f); err != 0)
            return err;
    }
    for (signed char* flag :
         {&favorSizeVsDate, &dontDupSongs, &fileTypeRelevantOnDupSongCompare, &genreRelevantOnDupSongCompare,
          &albumRelevantOnDupSongCompare, &favorProtectedMusic, &deleteMusicNotOwned, &createLastPlaylist})
        if (int err = AStateStream::ReadFlag(f, flag); err != 0)
            return err;
    return appleIDs.ReadState(f);
}

void ADirSong::AppendArtistAlbum(const ID3* tags, AString* path, signed char& unknownArtist,
                                 unsigned int options)
{
    unknownArtist = 0;
    if (!tags || !path)
        return;
    AString album;
    tags->GetAlbum(album);
    if (options > 699 && tags->IsPodCast()) {
        path->AppendPathComponent("Podcasts");
        if (!tags->IsMovie() && !tags->IsTVShow())
            path->AppendPathComponent(FolderNameFromTag(album, "Unknown Podcast"));
        return;
    }
    AString artistFolder;
    if (tags->IsCompilation()) {
        artistFolder = "Compilations";
    } else {
        AString artist;
        tags->GetArtist(artist);
        if (artist.IsEmpty())
            unknownArtist = 1;
        artistFolder = FolderNameFromTag(artist, "Unknown Artist");
    }
    path->AppendPathComponent(artistFolder);
    path->AppendPathComponent(FolderNameFromTag(album, "Unknown Album"));
}

AString ADirSong::FolderNameFromTag(AString tag, const char* whenEmpty)
{
    if (tag.IsEmpty())
        return AString(whenEmpty);
    AString trimmed = tag;
    trimmed.Trim();
    if (trimmed.IsEmpty()) {
        std::u16string units = tag.Units();
        units.front() = u'_';
        units.back() = u'_';
        tag = AString(units);
    } else {
        tag = trimmed;
    }
    // Dots are fixed after trimming, so that no folder name ends up beginning or ending with one.
    AString::FormatPathString(tag, '_', 1);
    return tag;
}

bool ADirSong::AskUserToDelete(int* answer, AString* text)
{
    if (*answer == 4)
        return false;
    progress->ShowStatus(nullptr, text);
    if (*answer == 2)
        return true;
    AString none;
    switch (progress->YesNoAlert(text, &none, nullptr)) {
    case 2:
        *answer = 2;
        return true;
    case 3:
        return false;
    case 4: {
        *answer = 4;
        AString empty;
        progress->ShowStatus(nullptr, &empty);
        return false;
    }
    default:
        return true;
    }
}

int ADirSong::DirPickFileToKeep(const AString* a, const AString* b)
{
    if (favorProtectedMusic) {
        // 1 protected, 0 not protected, -1 a protected type the user does not own (loses at once).
        auto protection = [this](const AString& path) {
            if (!HasProtectedType(path))
                return 0;
            if (!deleteMusicNotOwned)
                return 1;
            ID3 tags;
            if (tags.SetFilePath(path) != 0)
                return 1;
            AString account;
            tags.GetAppleID(account);
            if (account.IsEmpty())
                return 0;
            // The list holds whole accounts between colons; a part of another account is no match.
            AString key(":");
            key += account;
            key += ':';
            return appleIDs.Find(key, 0, 0) >= 0 ? 1 : -1;
        };
        int pa = protection(*a);
        if (pa < 0)
            return 2;
        int pb = protection(*b);
        if (pb < 0)
            return 1;
        if (pa != pb)
            return pa ? 1 : 2;
    }
    if (!favorFileTypes.IsEmpty()) {
        auto favoured = [this](const AString& path) {
            AString extension;
            path.PathExtension(&extension);
            AString key(":");
            key += extension;
            key += ':';
            return !extension.IsEmpty() && favorFileTypes.Find(key, 0, 0) >= 0;
        };
        bool fa = favoured(*a), fb = favoured(*b);
        if (fa != fb)
            return fa ? 1 : 2;
    }
    const std::uint64_t sizeA = AFile::GetFileSize(a), sizeB = AFile::GetFileSize(b);
    const std::uint64_t timeA = AFile::FileModTime(a), timeB = AFile::FileModTime(b);
    if (favorSizeVsDate) {
        if (sizeA != sizeB)
            return sizeA > sizeB ? 1 : 2;
        if (timeA != timeB)
            return timeA > timeB ? 1 : 2;
    } else {
        if (timeA != timeB)
            return timeA > timeB ? 1 : 2;
        if (sizeA != sizeB)
            return sizeA > sizeB ? 1 : 2;
    }
    return a->ExtractFileNum() > b->ExtractFileNum() ? 2 : 1;
}

int ADirSong::ScanForDuplicates(signed char deleteFiles, signed char sortFirst, signed char ascending,
                                CancelProc cancel, signed char interactive)
{
    APLock::TryGuard guard(busyLock);
    if (!guard)
        return kErrBusy;
    if (detectOnly)
        deleteFiles = 0;
    if (sortFirst || GetType() == kTypeIPodDB)
        Sort(ascending);
    AString title("Scanning for Duplicates...");
    progress->StartDivision(1.0, &title, 0, interactive);

    const int total = Count();
    int answer = 0;
    failedRemovals = 0;
    int result = 0;
    int comparison = 1;
    for (int i = Count() - 1; i >= 1; --i) {
        if (stopOnError && result != 0)
            break;
        if (i >= Count())
            continue;
        ++comparison;
        AString countText;
        countText = comparison;
        countText += " of ";
        countText += Count();
        progress->UpdateDivision(total > 0 ? static_cast<double>(comparison) / total : 0.0, nullptr,
                                 interactive ? &countText : nullptr, nullptr, 0);

        AString ka = *GetFPath(i);
        AString kb = *GetFPath(i - 1);
        AString keyA = ka.ReverseFind('?') >= 0 ? ka.Left(ka.ReverseFind('?')) : ka;
        AString keyB = kb.ReverseFind('?') >= 0 ? kb.Left(kb.ReverseFind('?')) : kb;
        if (PathCompare(&keyA, &keyB) == 0) {
            AString diskA, diskB;
            GetFileDiskPath(&ka, &diskA, 1);
            GetFileDiskPath(&kb, &diskB, 1);
            AString message(deleteFiles ? "Deleting Duplicate: " : "Detected Dup: ");
            int removeIndex = i;
            signed char keepFile = 0;
            const bool oneFile = SameFile(diskA, diskB);
            // The scan the user runs reports and removes true copies only; the silent scan before a
            // sync keeps one record of a virtual path whatever the numbers, as the sync matches
            // songs by it (and removes no file).
            if (!oneFile && interactive && DifferentTracks(diskA, diskB))
                continue;
            if (!oneFile) {
                if (DirPickFileToKeep(&diskA, &diskB) != 1) {
                    message += keyA;
                    message += " from ";
                    message += diskA;
                } else {
                    message += keyB;
                    message += " from ";
                    message += diskB;
                    removeIndex = i - 1;
                }
            } else {
                // Two records of one file: only the record goes, the file stays.
                message = "Detected Dup: ";
                message += keyA;
                message += " from ";
                message += diskA;
                keepFile = 1;
            }
            // A scan that only detects removes records, never files: there is nothing to ask.
            const bool remove = !interactive || detectOnly || AskUserToDelete(&answer, &message);
            if (remove) {
                // The first failure is the scan's result, whatever follows it.
                if (const int removed = DeleteEntry(removeIndex, deleteFiles, keepFile); removed != 0) {
                    ++failedRemovals;
                    if (result == 0)
                        result = removed;
                }
            }
            if (interactive)
                progress->ShowStatus(nullptr, &countText);
            // What a detecting scan finds is its report; a removing one logs what it removed (a
            // duplicate the user chose to keep was not deleted, and is not logged as if it were).
            if (remove && (detectOnly || (interactive && verboseLog))) {
                if (verboseLog)
                    progress->AddDateToLog(0, 0);
                progress->AddToLog(&message, 0);
                progress->AddToLog("\n", 1);
            }
        }
        if (cancel && cancel()) {
            result = kErrUserCancel;
            break;
        }
    }
    AString done(result == 0 ? "Scanning...Done. No Errors."
                             : (result == kErrUserCancel ? "User Cancelled." : "Error Deleting!"));
    progress->EndDivision(&done, 0, interactive);
    return result;
}

bool ADirSong::GenreFilterCheck(AString* genre) const
{
    if (!genreRelevantOnDupSongCompare || !genre)
        return true;
    return ValueFilterCheck(*genre, genreFilterMode, genreIncludeFilter, genreExcludeFilter);
}

bool ADirSong::ArtistFilterCheck(AString* artist) const
{
    if (!artist)
        return true;
    return ValueFilterCheck(*artist, artistFilterMode, artistIncludeFilter, artistExcludeFilter);
}

bool ADirSong::AlbumFilterCheck(AString* album) const
{
    if (!albumRelevantOnDupSongCompare || !album)
        return true;
    return ValueFilterCheck(*album, albumFilterMode, albumIncludeFilter, albumExcludeFilter);
}

bool ADirSong::SongNameFilterCheck(AString* name) const
{
    return !name ||
           FragmentFilterCheck(*name, songNameFilterMode, songNameIncludeFilter, songNameExcludeFilter);
}

bool ADirSong::VPathGenreFilterCheck(AString* vpath) const
{
    if (!vpath || !genreRelevantOnDupSongCompare || genreFilterMode == 0)
        return true;
    AString genre = Component(*vpath, 0, false);
    return GenreFilterCheck(&genre);
}

bool ADirSong::VPathArtistFilterCheck(AString* vpath) const
{
    if (!vpath || artistFilterMode == 0)
        return true;
    AString artist = Component(*vpath, genreRelevantOnDupSongCompare ? 1 : 0, false);
    return ArtistFilterCheck(&artist);
}

bool ADirSong::VPathAlbumFilterCheck(AString* vpath) const
{
    if (!vpath || !albumRelevantOnDupSongCompare || albumFilterMode == 0)
        return true;
    AString album = Component(*vpath, genreRelevantOnDupSongCompare ? 2 : 1, false);
    return AlbumFilterCheck(&album);
}

bool ADirSong::VPathSongNameFilterCheck(AString* vpath) const
{
    if (!vpath || songNameFilterMode == 0)
        return true;
    int index = 1 + (genreRelevantOnDupSongCompare ? 1 : 0) + (albumRelevantOnDupSongCompare ? 1 : 0);
    AString name = Component(*vpath, index, true);
    return SongNameFilterCheck(&name);
}

bool ADirSong::VPathFilterCheck(AString* vpath) const
{
    return VPathGenreFilterCheck(vpath) && VPathArtistFilterCheck(vpath) && VPathAlbumFilterCheck(vpath) &&
           VPathSongNameFilterCheck(vpath);
}

AString ADirSong::MakeVirtualPath(signed char withGenre, signed char withAlbum, signed char withFileType,
                                  const AString& genre, const AString& artist, const AString& album,
                                  const AString& name, const AString& extension,
                                  const std::function<std::uint64_t()>& musicSize, const AString* key)
{
    AString genrePart, albumPart;
    if (withGenre)
        genrePart = PathComponent(genre);
    AString artistPart = PathComponent(artist);
    if (withAlbum)
        albumPart = PathComponent(album);
    AString namePart = PathComponent(name);
    const bool untagged =
        artistPart == "*" && (!withGenre || genrePart == "*") && (!withAlbum || albumPart == "*");
    if (untagged) {
        RemoveSpaceNumber(&namePart);
        artistPart = static_cast<unsigned long long>(musicSize ? musicSize() : 0);
    }
    AString path("/");
    if (withGenre) {
        path += genrePart;
        path += '/';
    }
    path += artistPart;
    path += '/';
    if (withAlbum) {
        path += albumPart;
        path += '/';
    }
    path += namePart;
    if (withFileType) {
        path += '/';
        path += PathComponent(extension);
    }
    if (key) {
        path += '?';
        path += *key;
    }
    return path;
}

AString ADirSong::BuildVirtualPath(const AString& genre, const AString& artist, const AString& album,
                                   const AString& name, const AString& extension,
                                   const std::function<std::uint64_t()>& musicSize, const AString* key) const
{
    return MakeVirtualPath(genreRelevantOnDupSongCompare, albumRelevantOnDupSongCompare,
                           fileTypeRelevantOnDupSongCompare, genre, artist, album, name, extension, musicSize,
                           key);
}

AString ADirSong::GetName(AString vpath, signed char withExtension, signed char withGenre,
                          signed char withAlbum)
{
    return SongName::OfVirtualPath(vpath, withExtension, withGenre, withAlbum);
}

void ADirSong::RemoveSpaceNumber(AString* name) { SongName::RemoveSpaceNumber(name); }

void ADirSong::RemoveSpaceNumberWithVPathCheck(AString* name, AString* vpathSoFar)
{
    if (!vpathSoFar)
        return;
    if (*vpathSoFar == "/*" || *vpathSoFar == "/*/*" || *vpathSoFar == "/*/*/*")
        RemoveSpaceNumber(name);
}
