#include "ACommon/sources/ADirSong.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/base/ListString.h"
#include "ACommon/tags/AudioFormats.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "ACommon/tags/SongName.h"

#include "APlatform/KnownFolders.h"

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

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

// Whole-value filter: the value must (include) or must not (exclude) be an item of the list, both
// compared as they stand in a virtual path, case ignored, so that a side that holds the tag and a
// side that holds only the virtual path judge a song alike.
bool ValueFilterCheck(const AString& value, int mode, const AString& include, const AString& exclude)
{
    if (mode == 0)
        return true;
    if ((mode & 0x1) && !include.IsEmpty() && !liststring::HoldsValue(include, value))
        return false;
    if ((mode & 0x2) && !exclude.IsEmpty() && liststring::HoldsValue(exclude, value))
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

// One component of a virtual path: trimmed, path-safe, "*" when nothing is left. A tag of white
// space only is an empty tag, as an iPod keeps it (trimmed), so it is trimmed before it is made
// path-safe (which would keep its length).
AString PathComponent(const AString& tag)
{
    AString component = tag;
    component.Trim();
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

ADirSong::ADirSong(AProgress* reporter) : ADir(reporter)
{
    typeFilterMode = 1;
    typeIncludeFilter = AudioFormats::kSongTypes;
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
    // A state saved before FLAC, Ogg, Opus and WAV files were songs lists them from now on.
    if (typeIncludeFilter.CompareNoCase(AString(AudioFormats::kOldSongTypes)) == 0)
        typeIncludeFilter = AudioFormats::kSongTypes;
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

AString ADirSong::FitName(const AString& stem, const AString& tail)
{
    auto bytesOf = [](const std::u16string& units, std::size_t i, std::size_t* step) -> int {
        const char16_t unit = units[i];
        *step = 1;
        if (unit < 0x80)
            return 1;
        if (unit < 0x800)
            return 2;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            *step = 2;
            return 4;
        }
        return 3;
    };
    int budget = kMaxNameBytes;
    const std::u16string& tailUnits = tail.Units();
    for (std::size_t i = 0, step = 1; i < tailUnits.size(); i += step)
        budget -= bytesOf(tailUnits, i, &step);
    const std::u16string& units = stem.Units();
    std::size_t keep = 0;
    for (std::size_t step = 1; keep < units.size(); keep += step) {
        const int bytes = bytesOf(units, keep, &step);
        if (bytes > budget)
            break;
        budget -= bytes;
    }
    if (keep == units.size())
        return stem + tail;
    // Cut short: no space or dot left at the end of the stem (a FAT volume drops or refuses them).
    while (keep > 0 && (units[keep - 1] == u' ' || units[keep - 1] == u'.'))
        --keep;
    return AString(units.substr(0, keep)) + tail;
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
    return FitName(tag);
}

AString ADirSong::DescribeSong(const AString& vpath)
{
    const AString name = GetName(vpath, 0, genreRelevantOnDupSongCompare, albumRelevantOnDupSongCompare);
    // The artist is the component after the genre, when the path holds one.
    int begin = (vpath.GetLength() > 0 && vpath[0] == '/') ? 1 : 0;
    if (genreRelevantOnDupSongCompare) {
        const int slash = vpath.Find('/', begin);
        begin = slash < 0 ? vpath.GetLength() : slash + 1;
    }
    int end = vpath.Find('/', begin);
    if (end < 0)
        end = vpath.GetLength();
    const AString artist = vpath.Mid(begin, end - begin);
    if (name.IsEmpty())
        return vpath;
    AString text = name;
    if (!artist.IsEmpty() && artist.Compare(AString("*")) != 0) {
        text += " \u2014 ";
        text += artist;
    }
    AString disk;
    AString path = vpath;
    if (GetFileDiskPath(&path, &disk, 1) == 0 && !disk.IsEmpty()) {
        text += " (";
        text += disk;
        text += ")";
    }
    return text;
}

bool ADirSong::AskUserToDelete(int* answer, AString* text, const AString* what)
{
    if (*answer == 4)
        return false;
    progress->ShowStatus(nullptr, text);
    if (*answer == 2)
        return true;
    AString none;
    switch (progress->YesNoAlert(text, what ? what : &none, nullptr)) {
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

int ADirSong::RunScan(const ScanFrame& frame, signed char deleteFiles, signed char interactive,
                      const ScanStep& step)
{
    APLock::TryGuard guard(busyLock);
    if (!guard)
        return kErrBusy;
    if (frame.freshCounts)
        scanCounts = ScanCounts();
    if (frame.refuse)
        if (const int refused = frame.refuse(); refused != 0)
            return refused;
    if (frame.sortFirst || GetType() == kTypeIPodDB)
        Sort(frame.ascending);
    AString title(frame.title);
    progress->StartDivision(frame.share, &title, 0, interactive);
    const int result = step(detectOnly ? 0 : deleteFiles);
    AString done(result == 0 ? "Scanning...Done. No Errors."
                             : (result == kErrUserCancel ? "User Cancelled." : frame.failed));
    progress->EndDivision(&done, 0, interactive);
    return result;
}

int ADirSong::ScanForDuplicates(signed char removeFiles, signed char sortFirst, signed char ascending,
                                CancelProc cancel, signed char interactive)
{
    const ScanFrame frame{.title = "Scanning for Duplicates...",
                          .failed = "Error Deleting!",
                          .sortFirst = sortFirst,
                          .ascending = ascending,
                          .freshCounts = false};
    return RunScan(frame, removeFiles, interactive, [&](signed char deleteFiles) {
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
                // The question names the copy that goes and the file of the copy that stays.
                AString what;
                if (interactive && !detectOnly) {
                    const bool removesA = removeIndex == i;
                    what = DescribeSong(removesA ? ka : kb);
                    what += oneFile ? AString("\nOnly the record goes; the file stays.")
                                    : AString("\nThe copy kept: ") + (removesA ? diskB : diskA);
                }
                const bool remove = !interactive || detectOnly || AskUserToDelete(&answer, &message, &what);
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
            if (CancelAsked(cancel)) {
                result = kErrUserCancel;
                break;
            }
        }
        return result;
    });
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
    if (!name || songNameFilterMode == 0)
        return true;
    // Name and items compared as they stand in a virtual path, as the whole-value filters are.
    auto inComparisonForm = [](const AString& list) {
        std::vector<AString> items = liststring::Items(list);
        for (AString& item : items)
            item = liststring::ComparisonForm(item);
        return liststring::Join(items);
    };
    return FragmentFilterCheck(liststring::ComparisonForm(*name), songNameFilterMode,
                               inComparisonForm(songNameIncludeFilter),
                               inComparisonForm(songNameExcludeFilter));
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
    // Facing an iPod, a song that is converted on its way there is of the converted type.
    return MakeVirtualPath(genreRelevantOnDupSongCompare, albumRelevantOnDupSongCompare,
                           fileTypeRelevantOnDupSongCompare, genre, artist, album, name,
                           convertsForIPod ? AudioFormats::IPodExtension(extension) : extension, musicSize,
                           key);
}

AString ADirSong::GetName(AString vpath, signed char withExtension, signed char withGenre,
                          signed char withAlbum)
{
    return SongName::OfVirtualPath(vpath, withExtension, withGenre, withAlbum);
}

void ADirSong::RemoveSpaceNumber(AString* name) { SongName::RemoveSpaceNumber(name); }

// ---------------------------------------------------------------------------------------------
// The other library scans.

namespace {

AString CountText(int number, int count)
{
    AString text;
    text += number;
    text += " of ";
    text += count;
    return text;
}

bool IsDotFile(const AString& path)
{
    AString name;
    path.LastPathComponent(&name);
    return name.GetLength() > 0 && name[0] == '.';
}

// Errors that say the file itself is not a song this program can read.
bool IsTagOrFormatError(int err) { return err == kErrFileNotFound || err == kErrFileType; }

// Errors after which no further file can be added either.
bool StopsTheAdding(int err)
{
    return err == kErrUserCancel || err == kErrNoSpace || err == kErrIO || err == kErrBusy ||
           err == kErrOutOfMemory || err == kErrVolumeNotFound;
}

// Two paths name two distinct files (different device or inode), both there.
bool DistinctFiles(const AString& a, const AString& b)
{
    struct stat sa {
    }, sb{};
    if (stat(a.CStr(), &sa) != 0 || stat(b.CStr(), &sb) != 0)
        return false;
    return sa.st_dev != sb.st_dev || sa.st_ino != sb.st_ino;
}

std::uint32_t BigEndian32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

} // namespace

bool ADirSong::PictureWithinBounds(const unsigned char* data, std::uint64_t size)
{
    if (!data || size < 24 || size > kMaxPictureBytes)
        return false;
    // PNG: signature, then the IHDR chunk with width and height.
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (std::equal(kPng, kPng + 8, data)) {
        if (data[12] != 'I' || data[13] != 'H' || data[14] != 'D' || data[15] != 'R')
            return false;
        const std::uint32_t width = BigEndian32(data + 16), height = BigEndian32(data + 20);
        return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide;
    }
    if (data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF)
        return false;
    // JPEG: walk the segments to the first start-of-frame marker, which holds the dimensions. A
    // JPEG whose frame header cannot be found is written as it is (nothing here decodes it).
    std::uint64_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return true;
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const std::uint32_t length = (std::uint32_t(data[at + 2]) << 8) | data[at + 3];
        if (length < 2)
            return true;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 9 > size)
                return true;
            const std::uint32_t height = (std::uint32_t(data[at + 5]) << 8) | data[at + 6];
            const std::uint32_t width = (std::uint32_t(data[at + 7]) << 8) | data[at + 8];
            return width <= kMaxPictureSide && height <= kMaxPictureSide;
        }
        at += 2 + length;
    }
    return true;
}

int ADirSong::AddLooseFile(const AString*, CancelProc, AString* placed)
{
    if (placed)
        *placed = AString();
    return kErrNotSupported;
}

AString ADirSong::GetMusicFolder()
{
    AString folder;
    GetRealRootPath(&folder);
    if (GetType() == kTypeIPod || GetType() == kTypeIPodDB) {
        folder.AppendPathComponent("iPod_Control");
        folder.AppendPathComponent("Music");
    }
    return folder;
}

int ADirSong::RemoveLooseFile(const AString& file)
{
    // A plain folder's removal (into "Removed Files" unless files are deleted), with this source's
    // "Removed Files" folder.
    AString target = RemovedFilesTarget();
    AString parent = target.Left(target.ReverseFind('/') > 0 ? target.ReverseFind('/') : 1);
    ADir plain(progress);
    plain.SetRemovedFilesFolder(parent);
    plain.SetMoveInsteadOfDelete(moveInsteadOfDelete);
    return plain.Delete(&file, 0, 0);
}

void ADirSong::LogLine(const AString& text)
{
    if (verboseLog)
        progress->AddDateToLog(0, 0);
    progress->AddToLog(&text, 0);
    progress->AddToLog("\n", 1);
}

bool ADirSong::MusicReachable(const AString& disk, AString* why)
{
    // A song on a volume that is not mounted now is not gone; nor are the songs of a music folder
    // that cannot be reached.
    const std::string path = disk.ToStdString();
    const std::string volumes = platform::VolumesRoot();
    if (!volumes.empty() && path.size() > volumes.size() + 1 &&
        path.compare(0, volumes.size(), volumes) == 0 && path[volumes.size()] == '/') {
        const std::size_t end = path.find('/', volumes.size() + 1);
        const std::string volume = path.substr(0, end);
        struct stat st {};
        if (stat(volume.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (why)
                *why = AString::FromUTF8(volume);
            return false;
        }
    }
    return true;
}

int ADirSong::DeleteOrphans(signed char removeFiles, signed char sortFirst, signed char ascending,
                            CancelProc cancel, signed char interactive)
{
    const ScanFrame frame{.title = "Scanning for Orphans...",
                          .failed = "Error Finding Orphans!",
                          .sortFirst = sortFirst,
                          .ascending = ascending};
    return RunScan(frame, removeFiles, interactive, [&](signed char deleteFiles) {
        int result = 0;
        // First the whole list is looked at: what cannot be reached is no orphan, and how many songs
        // would go decides whether to ask before any goes.
        const int total = Count();
        std::vector<char> orphan(static_cast<std::size_t>(total), 0);
        const AString musicFolder = GetMusicFolder();
        int unreachable = 0;
        AString unreachableWhere;
        if (total > 0 && !musicFolder.IsEmpty() && !AFile::DirExists(&musicFolder)) {
            LogLine(
                AString("The music folder ") + musicFolder +
                " cannot be reached (is its disk mounted?); no song was looked at and nothing was removed.");
            result = kErrVolumeNotFound;
        }
        for (int i = 0; result == 0 && i < total; ++i) {
            AString disk;
            const AString* path = GetFPath(i);
            if (!path)
                continue;
            if (GetFileDiskPath(path, &disk, 1) == 0 && disk.GetLength() > 1 && AFile::FileExists(&disk))
                continue;
            AString where;
            if (disk.GetLength() > 1 && !MusicReachable(disk, &where)) {
                ++unreachable;
                unreachableWhere = where;
                continue;
            }
            orphan[static_cast<std::size_t>(i)] = 1;
            ++scanCounts.found;
            if (CancelAsked(cancel)) {
                result = kErrUserCancel;
                break;
            }
        }
        if (unreachable > 0) {
            AString line;
            line += unreachable;
            line += unreachable == 1 ? " song was" : " songs were";
            line += " not looked at: the volume ";
            line += unreachableWhere;
            line += " is not mounted.";
            LogLine(line);
        }
        int answer = 0;
        if (result == 0 && deleteFiles && scanCounts.found > kOrphanHandful) {
            AString question;
            question += scanCounts.found;
            question += " of the ";
            question += total;
            question += " songs have no file. Remove them all?";
            AString informative(
                "Their files may be on a disk that is not connected; removed songs lose their "
                "playlists and play counts.");
            if (progress->ConfirmMassDeletion(&question, &informative) != 1) {
                LogLine(question + " No: nothing was removed.");
                result = kErrUserCancel;
            } else {
                answer = 2;
            }
        }

        for (int i = 0, original = 0; result == 0 && original < total && i < Count(); ++original) {
            if (interactive) {
                AString countText = CountText(original + 1, total);
                progress->UpdateDivision(static_cast<double>(original + 1) / total, &countText, nullptr,
                                         nullptr, 0);
            } else {
                progress->UpdateDivision(static_cast<double>(original + 1) / total, nullptr, nullptr, nullptr,
                                         0);
            }
            if (!orphan[static_cast<std::size_t>(original)] || answer == 4) {
                ++i;
            } else {
                AString path = *GetFPath(i);
                AString text(deleteFiles ? "Removing Orphan: " : "Detected Orphan: ");
                text += path;
                progress->ShowStatus(nullptr, &text);
                int reply = answer == 2 || !deleteFiles ? 1 : 0;
                if (reply == 0) {
                    AString question("Delete Orphan?");
                    const AString described = DescribeSong(path);
                    reply = progress->YesNoAlert(&question, &described, nullptr);
                }
                if (reply == 2)
                    answer = 2;
                if (reply == 3 || reply == 4) {
                    if (reply == 4) {
                        answer = 4;
                        AString empty;
                        progress->ShowStatus(nullptr, &empty);
                    }
                    ++i;
                } else {
                    LogLine(text);
                    if (!deleteFiles) {
                        ++i;
                    } else if (int err = DeleteEntry(i, deleteFiles, 0); err != 0) {
                        result = err;
                    } else {
                        ++scanCounts.changed;
                    }
                }
            }
            if (CancelAsked(cancel))
                result = kErrUserCancel;
        }
        return result;
    });
}

int ADirSong::DeleteMusicNotOwned(signed char removeFiles, signed char sortFirst, signed char ascending,
                                  CancelProc cancel, signed char interactive)
{
    ScanFrame frame{.title = "Scanning for Unauthorized Music...",
                    .failed = "Error Finding Orphans!",
                    .sortFirst = sortFirst,
                    .ascending = ascending};
    // Without an account of the user's every purchase would look like someone else's.
    frame.refuse = [this]() -> int {
        if (!appleIDs.IsEmpty() && appleIDs != ":")
            return 0;
        LogLine(
            AString("No store account of yours is known, so no purchase can be told to be yours; set your "
                    "store account first. Nothing was removed."));
        return kErrUnknown;
    };
    return RunScan(frame, removeFiles, interactive, [&](signed char deleteFiles) {
        int result = 0;
        int answer = 0;
        const int total = Count();
        for (int i = 0, original = 0; original < total && i < Count(); ++original) {
            if (stopOnError && result != 0)
                break;
            AString path = *GetFPath(i);
            AString countText = CountText(original + 1, total);
            AString checking = AString("Checking Song: ") + path;
            progress->UpdateDivision(static_cast<double>(original + 1) / total,
                                     interactive ? &countText : nullptr, interactive ? &checking : nullptr,
                                     nullptr, 0);
            bool removed = false;
            AString disk;
            if (int err = GetFileDiskPath(&path, &disk, 1); err != 0) {
                AString line = AString("Disk path error: ") + path;
                LogLine(line);
                progress->ShowStatus(nullptr, &line);
                result = err;
            } else if (disk.GetLength() >= 2 && disk != "/" && AFile::FileExists(&disk) &&
                       HasProtectedType(disk) && answer != 4) {
                ID3 tags;
                AString account;
                if (tags.SetFilePath(disk) == 0)
                    tags.GetAppleID(account);
                AString key = AString(":") + account + ":";
                if (!account.IsEmpty() && appleIDs.Find(key, 0, 0) < 0) {
                    ++scanCounts.found;
                    AString text(deleteFiles ? "Removing Music Not Owned: " : "Detected Music Not Owned: ");
                    text += path;
                    progress->ShowStatus(nullptr, &text);
                    int reply = answer == 2 || !deleteFiles ? 1 : 0;
                    if (reply == 0) {
                        AString question = AString("Delete Unauthorized Music? (from: ") + account + ")";
                        const AString described = DescribeSong(path);
                        reply = progress->UnauthorizedAlert(&question, &described);
                    }
                    if (reply == 2)
                        answer = 2;
                    if (reply == 1 || reply == 2) {
                        AString line(deleteFiles ? "Removing Music: " : "Detected Problem Music: ");
                        line += path + " (" + account + ")";
                        LogLine(line);
                        if (deleteFiles) {
                            result = DeleteEntry(i, deleteFiles, 0);
                            removed = result == 0;
                            if (removed)
                                ++scanCounts.changed;
                        }
                    } else if (reply == 4) {
                        AString empty;
                        progress->ShowStatus(nullptr, &empty);
                        answer = 4;
                        result = kErrUserCancel;
                    } else if (reply == 5) {
                        if (addAccount)
                            addAccount(account);
                        else
                            appleIDs += account + ":";
                        if (appleIDs.IsEmpty() || appleIDs[0] != ':')
                            appleIDs = AString(":") + appleIDs;
                    }
                }
            }
            if (!removed)
                ++i;
            if (result == kErrUserCancel)
                break;
            if (CancelAsked(cancel)) {
                result = kErrUserCancel;
                break;
            }
        }
        return result;
    });
}

int ADirSong::AddDisconnectedFiles(signed char, CancelProc cancel, signed char interactive)
{
    const ScanFrame frame{
        .title = "Scanning for Songs...", .failed = "Error Finding Disconnected Files!", .share = 0.1};
    return RunScan(frame, 0, interactive, [&](signed char) {
        const AString folder = GetMusicFolder();
        ADir listing(progress);
        listing.SetTypeFilter(1);
        listing.SetFileExtentionIncludeFilter(AString(AudioFormats::kSongTypes) + "m4v:mp4:ipg:");
        int result = AFile::DirExists(&folder) ? listing.InitWPath(&folder, 1, cancel) : kErrVolumeNotFound;
        if (result == kErrVolumeNotFound)
            LogLine(AString("The music folder ") + folder + " cannot be reached (is its disk mounted?).");
        progress->EndDivision(nullptr, 0, 0);

        AString processing("Processing List of Songs...");
        progress->StartDivision(0.9, &processing, 0, interactive);
        // Every song's file, case ignored: one look-up per listed file instead of a walk of the list.
        std::unordered_set<std::u16string> known;
        const int listedFiles = listing.Count();
        if (result == 0) {
            const int count = Count();
            known.reserve(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) {
                const AString* path = GetFPath(i);
                AString disk;
                if (!path)
                    continue;
                if (GetFileDiskPath(path, &disk, 1) != 0) {
                    LogLine(AString("Disk path error: ") + *path);
                    continue;
                }
                if (disk.GetLength() <= 1 || disk == "/")
                    continue;
                disk.Upper();
                known.insert(disk.Units());
            }
        }
        int answer = 0;
        int dotFiles = 0;
        for (int k = 1; result == 0 && k <= listedFiles; ++k) {
            const AString f = *listing.GetFPath(k - 1);
            if (AFile::GetPathType(&f) != AFile::kPathFile)
                continue;
            AString detail;
            detail += "Processing #";
            detail += k;
            detail += " ";
            detail += f;
            progress->UpdateDivision(static_cast<double>(k) / listedFiles, nullptr, &detail, nullptr, 0);
            AString upper = f;
            upper.Upper();
            if (known.count(upper.Units()) != 0)
                continue;
            // Hidden files (the "._Song.mp3" a Mac leaves beside every song) are no songs.
            if (IsDotFile(f)) {
                ++dotFiles;
                continue;
            }
            ++scanCounts.found;
            if (detectOnly) {
                LogLine(AString("Disconnected File Found: ") + f);
            } else {
                // A file that cannot be opened (or is gone) is not damaged: only what its tags and
                // format say makes it so.
                ID3 tags;
                int err = tags.SetFilePath(f);
                if (err != 0 && err != kErrOpen && err != kErrFileNotFound)
                    err = kErrFileType;
                else if (err == kErrFileNotFound)
                    err = kErrOpen;
                AString placed;
                if (err == 0)
                    err = AddLooseFile(&f, cancel, &placed);
                if (err == 0 || err == kErrLastSyncPlaylist) {
                    // The loose file goes only when the source keeps a distinct copy of the same bytes.
                    if (!placed.IsEmpty() && DistinctFiles(placed, f) && AFile::FilesEqual(&placed, &f))
                        if (int removeErr = RemoveLooseFile(f); removeErr != 0)
                            LogLine(
                                AString("Disconnected File Added, but not removed from the music folder: ") +
                                f);
                    ++scanCounts.changed;
                    AString line = AString("Disconnected File Added: ") + f;
                    LogLine(line);
                    progress->ShowStatus(nullptr, &line);
                } else if (IsTagOrFormatError(err)) {
                    ++scanCounts.damaged;
                    if (answer != 4) {
                        AString line = AString("Disconnected Damaged File: ") + f;
                        LogLine(line);
                        AString question(
                            "A disconnected file was found that iTunes/iPod does not want to accept. "
                            "Delete the Damaged File?");
                        int reply = answer == 2 ? 2 : progress->YesNoAlert(&question, &f, nullptr);
                        if (reply == 2)
                            answer = 2;
                        if (reply == 4) {
                            answer = 4;
                            AString empty;
                            progress->ShowStatus(nullptr, &empty);
                        }
                        if (reply == 1 || reply == 2)
                            RemoveLooseFile(f);
                    }
                } else if (StopsTheAdding(err)) {
                    AString line = AString("Error Adding: ") + f + " code=";
                    line += err;
                    AError::AddErrorMsg(&line, err);
                    LogLine(line);
                    result = err;
                } else {
                    // Refused for a reason of its own (the song is there already, a type this side
                    // does not take): the file stays, and the scan goes on.
                    ++scanCounts.skipped;
                    AString line = AString("Disconnected File Not Added: ") + f + " code=";
                    line += err;
                    AError::AddErrorMsg(&line, err);
                    LogLine(line);
                }
            }
            if (result == 0 && cancel && cancel())
                result = kErrUserCancel;
        }
        if (dotFiles > 0) {
            AString line;
            line += dotFiles;
            line += dotFiles == 1 ? " hidden file skipped" : " hidden files skipped";
            line += ": names that begin with \".\" are no songs.";
            LogLine(line);
        }
        return result;
    });
}

int ADirSong::AddAlbumArtToFiles(CancelProc cancel, signed char interactive)
{
    const ScanFrame frame{.title = "Scanning for MP3 Files with Linked Artwork...",
                          .failed = "Error Adding Album Art to Files!"};
    return RunScan(frame, 0, interactive, [&](signed char) {
        int result = 0;
        int answer = 0;
        const int total = Count();
        for (int i = 0; i < total && i < Count(); ++i) {
            if (stopOnError && result != 0)
                break;
            if (CancelAsked(cancel)) {
                result = kErrUserCancel;
                break;
            }
            AString path = *GetFPath(i);
            AString countText = CountText(i + 1, total);
            AString checking = AString("Checking Song: ") + path;
            progress->UpdateDivision(static_cast<double>(i + 1) / total, interactive ? &countText : nullptr,
                                     interactive ? &checking : nullptr, nullptr, 0);
            AString disk;
            if (int err = GetFileDiskPath(&path, &disk, 1); err != 0) {
                LogLine(AString("Disk path error: ") + path);
                result = err;
                continue;
            }
            AString extension;
            disk.PathExtension(&extension);
            if (extension.CompareNoCase("mp3") != 0)
                continue;
            int images = 0;
            if (int err = GetImageCount(&path, &images); err != 0) {
                LogLine(AString("iTunes request error: ") + path);
                result = err;
                continue;
            }
            if (images < 1)
                continue;
            ID3 tags;
            if (int err = tags.SetFilePath(disk); err != 0) {
                LogLine(AString("Disk path error: ") + path);
                result = err;
                continue;
            }
            if (tags.GetImageCount() > 0)
                continue;
            ++scanCounts.found;
            if (detectOnly) {
                LogLine(AString("Linked Artwork Found: ") + disk);
                continue;
            }
            if (answer != 2) {
                AString question("Insert Album Artwork to File?");
                int reply = progress->YesNoAlert(&question, &path, &disk);
                if (reply == 2)
                    answer = 2;
                if (reply == 3)
                    continue;
                if (reply == 4) {
                    AString empty;
                    progress->ShowStatus(nullptr, &empty);
                    answer = 4;
                    result = kErrUserCancel;
                    break;
                }
            }
            LogLine(AString("Adding Album Artwork to File: ") + disk);
            unsigned char* data = nullptr;
            int size = 0;
            if (int err = GetImageInfo(&path, 0, &data, &size); err != 0) {
                LogLine(AString("Error Retrieving Image Data: ") + path);
                result = err;
                continue;
            }
            std::unique_ptr<unsigned char[]> owned(data);
            if (!data || size < 1)
                continue;
            if (!PictureWithinBounds(data, static_cast<std::uint64_t>(size))) {
                ++scanCounts.skipped;
                LogLine(
                    AString("Picture not written (not a JPEG or PNG picture, or larger than 8000 pixels or "
                            "16 MB): ") +
                    path);
                continue;
            }
            if (int err = tags.InsertImage(data, size); err != 0) {
                LogLine(AString("Error Writing Image Data: ") + path);
                result = err;
                continue;
            }
            ++scanCounts.changed;
        }
        return result;
    });
}
