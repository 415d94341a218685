#include "ACommon/sync/ASyncLib.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/sources/ADirPod.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirSong.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sources/SongConverter.h"
#include "ACommon/tags/ID3.h"
#include "APlatform/Unicode.h"

#include <cerrno>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace {

ADirSong* AsSong(ADir* dir) { return dynamic_cast<ADirSong*>(dir); }

bool IsPlain(const ADir* dir) { return dir && dir->GetType() == ADir::kTypeFolder; }

// A song path up to and including its last "?" (all of it when it has none): the song, without
// the handle that finds it in its own source.
std::u16string_view UpToKey(const AString& path)
{
    std::u16string_view view(path.Units());
    const size_t question = view.rfind(u'?');
    return question == std::u16string_view::npos ? view : view.substr(0, question + 1);
}

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

// Compares a new text setting with the one held, as the settings are compared: ignoring case.
bool SameText(const AString& held, const AString* value)
{
    AString given;
    given = value;
    return held.CompareNoCase(given) == 0;
}

AString TextOf(const AString* value)
{
    AString text;
    text = value;
    return text;
}

// Adds the music file `disk` to a song source as a new song: the source names its file and, on an
// iPod, makes the track that describes it. A song without a name tag is called `title`. `added`
// is set to the file the receiving side now holds, when that is known here.
int AddSongTo(ADir* to, const AString* disk, const AString* title, CancelProc cancel, signed char asReady,
              AString* added, const AString* vpath = nullptr, bool* held = nullptr)
{
    *added = AString();
    if (held)
        *held = false;
    switch (to->GetType()) {
    case ADir::kTypeSongFolder:
        // Song files are small: the copy runs to its end, and the cancel is seen between actions.
        return static_cast<ADirSongDir*>(to)->AddSongFromDisk(disk, title, nullptr);
    case ADir::kTypeIPodDB:
        // Onto the iPod and into its database; the database is written when the sync finishes.
        return static_cast<ADirPodDB*>(to)->AddSongFromDisk(disk, title, cancel);
    case ADir::kTypeITunes: {
        auto* tunes = static_cast<ADirTunes*>(to);
        // A song the library holds already goes into the playlist as the track it is.
        if (vpath) {
            const int err = tunes->AddHeldSong(*vpath);
            if (err != kErrObjectNotFound) {
                if (held)
                    *held = err == 0;
                return err;
            }
        }
        if (!asReady) {
            *added = *disk;
            return tunes->AddSongFromDisk(disk);
        }
        // A copy of its own in the music folder first; the library is given that copy.
        AString prepared;
        signed char created = 0;
        if (int err = tunes->AddITunesReadyFile(nullptr, disk, &prepared, title, &created, cancel); err != 0)
            return err;
        int err = tunes->AddSongFromDisk(&prepared);
        if (err == kErrLastSyncPlaylist)
            err = 0;
        if (err != 0 && created)
            AFile::Delete(&prepared);
        if (err == 0)
            *added = prepared;
        return err;
    }
    case ADir::kTypeIPod: {
        auto* pod = static_cast<ADirPod*>(to);
        const int err = pod->AddSongFromDisk(disk);
        *added = pod->GetLastAddedFile();
        return err == kErrLastSyncPlaylist ? 0 : err;
    }
    default:
        return kErrIO;
    }
}

// True when two files' extensions differ, ignoring case: they hold different kinds of music.
bool OtherFileType(const AString& a, const AString& b)
{
    AString extensionA, extensionB;
    a.PathExtension(&extensionA);
    b.PathExtension(&extensionB);
    return extensionA.CompareNoCase(extensionB) != 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and sources

ASyncLib::ASyncLib(AProgress* reporter) : ASync(reporter) { SetTypes(ADir::kTypeITunes, ADir::kTypeIPod); }

ASyncLib::ASyncLib(int left, int right, AProgress* reporter) : ASync(reporter) { SetTypes(left, right); }

ASyncLib::~ASyncLib() = default;

std::unique_ptr<ADir> ASyncLib::NewSource(int type, AProgress* progress)
{
    switch (type) {
    case ADir::kTypeFolder:
        return std::make_unique<ADir>(progress);
    case ADir::kTypeSongFolder:
        return std::make_unique<ADirSongDir>(progress);
    case ADir::kTypeIPodDB:
        return std::make_unique<ADirPodDB>(progress);
    case ADir::kTypeITunes:
        return std::make_unique<ADirTunes>(progress);
    case ADir::kTypeIPod:
        return std::make_unique<ADirPod>(progress);
    default:
        return nullptr;
    }
}

int ASyncLib::SetTypes(int newType1, int newType2)
{
    int result = 0;
    {
        APLock::TryGuard guard(lock);
        if (!guard)
            return kErrBusy;
        auto replace = [&](int type, std::unique_ptr<ADir>& dir, std::unique_ptr<ADir>& saved, int& stored) {
            if (dir && dir->GetType() == type && saved && saved->GetType() == type) {
                stored = type;
                return;
            }
            std::unique_ptr<ADir> current = NewSource(type, progress);
            std::unique_ptr<ADir> kept = NewSource(type, progress);
            if (!current || !kept) {
                // A side is never left without sources: every operation of the sync uses them.
                result = kErrNotSupported;
                return;
            }
            // New sources start from their own defaults; only the sync's own flags reach them.
            for (ADir* source : {current.get(), kept.get()}) {
                source->SetVerboseLog(verboseLog);
                source->SetOpenLogAutomatically(openLogAutomatically);
            }
            dir = std::move(current);
            saved = std::move(kept);
            stored = type;
        };
        replace(newType1, dir1, savedDir1, type1);
        replace(newType2, dir2, savedDir2, type2);
    }
    if (type1 != ADir::kTypeFolder && type2 != ADir::kTypeFolder)
        SetIncludeFilter(AString(kSongExtensions));
    auto isIPod = [](int type) { return type == ADir::kTypeIPod || type == ADir::kTypeIPodDB; };
    for (auto [dir, saved, facesIPod] : {std::tuple{dir1.get(), savedDir1.get(), isIPod(type2)},
                                         std::tuple{dir2.get(), savedDir2.get(), isIPod(type1)}})
        for (ADir* source : {dir, saved})
            if (source && source->GetType() != ADir::kTypeFolder)
                static_cast<ADirSong*>(source)->SetConvertsForIPod(facesIPod ? 1 : 0);
    return result;
}

void ASyncLib::SetPlaylist1(const AString* name)
{
    // Only the library and the iPod through the library have playlists; the saved lists belong to
    // the playlist they were made of, so another playlist drops them (else every song missing from
    // it would read as deleted). Other sources ignore the name.
    const bool changed = PlaylistChanges(dir1.get(), name);
    dir1->SetPlaylist(name);
    savedDir1->SetPlaylist(name);
    if (changed) {
        savedDir1->DeleteAll();
        savedDir2->DeleteAll();
    }
}

void ASyncLib::SetPlaylist2(const AString* name)
{
    const bool changed = PlaylistChanges(dir2.get(), name);
    dir2->SetPlaylist(name);
    savedDir2->SetPlaylist(name);
    if (changed) {
        savedDir1->DeleteAll();
        savedDir2->DeleteAll();
    }
}

bool ASyncLib::PlaylistChanges(ADir* dir, const AString* name)
{
    if (!dir || !name || (dir->GetType() != ADir::kTypeITunes && dir->GetType() != ADir::kTypeIPod))
        return false;
    return static_cast<ADirTunes*>(dir)->GetPlaylist().Compare(*name) != 0;
}

ADir* ASyncLib::SideSource(int side) const
{
    return side == 1 ? dir1.get() : side == 2 ? dir2.get() : nullptr;
}

ADirSong* ASyncLib::SettingsSource() const
{
    if (ADirSong* left = AsSong(dir1.get()))
        return left;
    return AsSong(dir2.get());
}

// ---------------------------------------------------------------------------------------------
// Song settings

template <typename Unchanged, typename Apply>
void ASyncLib::ChangeSongSetting(Unchanged unchanged, Apply apply)
{
    if (ADirSong* held = SettingsSource(); held && unchanged(held))
        return;
    for (ADir* dir : {dir1.get(), savedDir1.get(), dir2.get(), savedDir2.get()})
        if (ADirSong* song = AsSong(dir))
            apply(song);
    // The saved lists were made with the old setting: their paths (or the songs they hold) no
    // longer compare with lists made now.
    savedDir1->DeleteAll();
    savedDir2->DeleteAll();
}

template <typename Apply> void ASyncLib::SetOnSongSources(Apply apply)
{
    for (ADir* dir : {dir1.get(), savedDir1.get(), dir2.get(), savedDir2.get()})
        if (ADirSong* song = AsSong(dir))
            apply(song);
}

void ASyncLib::SetDontDupSongs(signed char value)
{
    // Set on each side that holds songs; the saved lists stay.
    for (ADir* dir : {dir1.get(), savedDir1.get(), dir2.get(), savedDir2.get()})
        if (ADirSong* song = AsSong(dir); song && !IsPlain(dir))
            song->SetDontDupSongs(value);
}

signed char ASyncLib::GetDontDupSongs() const
{
    // Two plain folders have nothing to duplicate.
    ADirSong* song = SettingsSource();
    return song ? song->GetDontDupSongs() : 1;
}

#define PELORIN_FLAG_SETTING(Name)                                                                           \
    void ASyncLib::Set##Name(signed char value)                                                              \
    {                                                                                                        \
        ChangeSongSetting([value](ADirSong* song) { return song->Get##Name() == value; },                    \
                          [value](ADirSong* song) { song->Set##Name(value); });                              \
    }                                                                                                        \
    signed char ASyncLib::Get##Name() const                                                                  \
    {                                                                                                        \
        ADirSong* song = SettingsSource();                                                                   \
        return song ? song->Get##Name() : 0;                                                                 \
    }

#define PELORIN_MODE_SETTING(Name)                                                                           \
    void ASyncLib::Set##Name(int mode)                                                                       \
    {                                                                                                        \
        ChangeSongSetting([mode](ADirSong* song) { return song->Get##Name() == mode; },                      \
                          [mode](ADirSong* song) { song->Set##Name(mode); });                                \
    }                                                                                                        \
    int ASyncLib::Get##Name() const                                                                          \
    {                                                                                                        \
        ADirSong* song = SettingsSource();                                                                   \
        return song ? song->Get##Name() : 0;                                                                 \
    }

#define PELORIN_TEXT_SETTING(Name)                                                                           \
    void ASyncLib::Set##Name(AString* list)                                                                  \
    {                                                                                                        \
        const AString text = TextOf(list);                                                                   \
        ChangeSongSetting([list](ADirSong* song) { return SameText(song->Get##Name(), list); },              \
                          [&text](ADirSong* song) { song->Set##Name(text); });                               \
    }                                                                                                        \
    const AString* ASyncLib::Get##Name() const                                                               \
    {                                                                                                        \
        ADirSong* song = SettingsSource();                                                                   \
        return song ? &song->Get##Name() : nullptr;                                                          \
    }

PELORIN_FLAG_SETTING(FileTypeRelevantOnDupSongCompare)
PELORIN_FLAG_SETTING(GenreRelevantOnDupSongCompare)
PELORIN_FLAG_SETTING(AlbumRelevantOnDupSongCompare)
PELORIN_FLAG_SETTING(FavorSizeVsDate)
PELORIN_FLAG_SETTING(FavorProtectedMusic)
PELORIN_FLAG_SETTING(DeleteMusicNotOwned)
PELORIN_TEXT_SETTING(FavorFileTypes)
PELORIN_MODE_SETTING(GenreFilterMode)
PELORIN_TEXT_SETTING(GenreIncludeFilter)
PELORIN_TEXT_SETTING(GenreExcludeFilter)
PELORIN_MODE_SETTING(ArtistFilterMode)
PELORIN_TEXT_SETTING(ArtistIncludeFilter)
PELORIN_TEXT_SETTING(ArtistExcludeFilter)
PELORIN_MODE_SETTING(AlbumFilterMode)
PELORIN_TEXT_SETTING(AlbumIncludeFilter)
PELORIN_TEXT_SETTING(AlbumExcludeFilter)
PELORIN_MODE_SETTING(SongNameFilterMode)
PELORIN_TEXT_SETTING(SongNameIncludeFilter)
PELORIN_TEXT_SETTING(SongNameExcludeFilter)

#undef PELORIN_FLAG_SETTING
#undef PELORIN_MODE_SETTING
#undef PELORIN_TEXT_SETTING

void ASyncLib::SetCreateLastPlaylist(signed char value)
{
    SetOnSongSources([value](ADirSong* song) { song->SetCreateLastPlaylist(value); });
}

signed char ASyncLib::GetCreateLastPlaylist() const
{
    ADirSong* song = SettingsSource();
    return song ? song->GetCreateLastPlaylist() : 0;
}

void ASyncLib::SetMoveInsteadOfDelete(signed char value)
{
    // A field of every source, plain folders included.
    for (ADir* dir : {dir1.get(), savedDir1.get(), dir2.get(), savedDir2.get()})
        if (dir)
            dir->SetMoveInsteadOfDelete(value);
}

signed char ASyncLib::GetMoveInsteadOfDelete() const { return dir1 ? dir1->GetMoveInsteadOfDelete() : 0; }

void ASyncLib::SetAppleIDs(AString* list)
{
    const AString text = TextOf(list);
    SetOnSongSources([&text](ADirSong* song) { song->SetAppleIDs(text); });
}

const AString* ASyncLib::GetAppleIDs() const
{
    ADirSong* song = SettingsSource();
    return song ? &song->GetAppleIDs() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// File operations by side

signed char ASyncLib::FilterCheck(const AString* path)
{
    if (includeFilter.IsEmpty() && excludeFilter.IsEmpty())
        return 1;
    AString disk;
    if (ADir* source = SideSource(SideOfPath(path)))
        source->GetFileDiskPath(path, &disk, 1);
    return ASync::FilterCheck(&disk);
}

int ASyncLib::SyncCompare(const AString& a, const AString& b)
{
    return Sign(platform::CompareCanonical(UpToKey(a), UpToKey(b), true));
}

signed char ASyncLib::FilesEqual(const AString* a, const AString* b)
{
    AString da, db;
    ADir* sa = SideSource(SideOfPath(a));
    ADir* sb = SideSource(SideOfPath(b));
    // The library sources answer only with the files they listed.
    auto real = [](ADir* dir) -> signed char {
        return dir->GetType() == ADir::kTypeITunes || dir->GetType() == ADir::kTypeIPod ? 1 : 0;
    };
    if (!sa || !sb || sa->GetFileDiskPath(a, &da, real(sa)) != 0)
        return 0;
    // A song just copied across is found by the file its add made, not by the path it came from
    // (whose key means nothing on the receiving side).
    // A song the library held already was put in the playlist as it was: nothing was copied.
    if (b && *b == lastAddedPath && lastAddedHeld)
        return 1;
    if (b && *b == lastAddedPath && real(sb))
        db = lastAddedDisk;
    else if (sb->GetFileDiskPath(b, &db, real(sb)) != 0)
        return 0;
    if (db.IsEmpty())
        return 0;
    return AFile::FilesEqual(&da, &db) ? 1 : 0;
}

signed char ASyncLib::FastFilesEqual(const AString* a, const AString* b)
{
    ADir* sa = SideSource(SideOfPath(a));
    ADir* sb = SideSource(SideOfPath(b));
    AString da, db;
    if (sa)
        sa->GetFileDiskPath(a, &da, 1);
    // With dontDupSongs a song present on the receiving side is that song, whatever its file holds.
    if (ADirSong* song = AsSong(sb); song && !IsPlain(sb) && song->GetDontDupSongs())
        return 1;
    if (sb)
        sb->GetFileDiskPath(b, &db, 1);
    // An iPod holds a song of a type it cannot play as a file converted from it, never equal byte
    // for byte: the two are the same while the original has not changed since its copy was made
    // (the copy carries the original's time, and the iPod's time is never older than the copy's).
    auto isIPod = [](const ADir* dir) {
        return dir && (dir->GetType() == ADir::kTypeIPod || dir->GetType() == ADir::kTypeIPodDB);
    };
    AString extensionA, extensionB;
    da.PathExtension(&extensionA);
    db.PathExtension(&extensionB);
    if (isIPod(sb) && !isIPod(sa) && AudioFormats::NeedsConversion(extensionA))
        return FileModTime(b) >= FileModTime(a) ? 1 : 0;
    if (isIPod(sa) && !isIPod(sb) && AudioFormats::NeedsConversion(extensionB))
        return FileModTime(a) >= FileModTime(b) ? 1 : 0;
    // Two plain files are compared with what their listing learned, where it can. Dates count as
    // equal within the tolerance only where a volume keeps coarse dates.
    if (IsPlain(sa) && IsPlain(sb) ? ASync::FastFilesEqual(a, b) : SameSizeAndDate(da, db))
        return 1;
    // A song whose file cannot be reached now (its drive is not mounted) is the song it was: it is
    // never replaced for what cannot be read, nor replaces anything.
    if (!IsPlain(sa) && !IsPlain(sb) && !da.IsEmpty() && !db.IsEmpty() &&
        (!AFile::FileExists(&da) || !AFile::FileExists(&db)))
        return 1;
    // The same music under other tags is the same song: a change of tags alone is not copied. (The
    // music bytes themselves are compared, not only their length.)
    return ID3::FilesEqualMusicCRC32(&da, &db) ? 1 : 0;
}

bool ASyncLib::SameSizeAndDate(const AString& a, const AString& b) const
{
    std::uint64_t sizeA = 0, sizeB = 0, timeA = 0, timeB = 0;
    if (!AFile::SizeAndModTime(&a, &sizeA, &timeA) || !AFile::SizeAndModTime(&b, &sizeB, &timeB) ||
        sizeA != sizeB)
        return false;
    return timeA == timeB || (coarseDates && AFile::DatesEssentiallyEqual(static_cast<double>(timeA),
                                                                          static_cast<double>(timeB)));
}

bool ASyncLib::JudgesByChanges() const
{
    // Folders (of songs or plain) keep the dates and sizes of their files in their records; the
    // library and iPods do not.
    for (const ADir* side : {dir1.get(), dir2.get()})
        if (!side || (side->GetType() != ADir::kTypeFolder && side->GetType() != ADir::kTypeSongFolder))
            return false;
    return true;
}

bool ASyncLib::SameFileState(const AString& left, const AString& right)
{
    ADir* sa = SideSource(SideOfPath(&left));
    ADir* sb = SideSource(SideOfPath(&right));
    if (!sa || !sb)
        return true;
    if (ADirSong* song = AsSong(sb); song && !IsPlain(sb) && song->GetDontDupSongs())
        return true;
    AString da, db;
    if (sa->GetFileDiskPath(&left, &da, 1) != 0 || sb->GetFileDiskPath(&right, &db, 1) != 0)
        return true;
    return SameSizeAndDate(da, db);
}

bool ASyncLib::KeepsReplacedFiles(const AString& path)
{
    ADir* side = SideSource(SideOfPath(&path));
    return side && (side->GetType() == ADir::kTypeFolder || side->GetType() == ADir::kTypeSongFolder);
}

bool ASyncLib::NamesFileOnDisk(const AString& path)
{
    const ADir* side = SideSource(SideOfPath(&path));
    return !side || (side->GetType() != ADir::kTypeITunes && side->GetType() != ADir::kTypeIPod &&
                     side->GetType() != ADir::kTypeIPodDB);
}

int ASyncLib::PutAside(const AString* path)
{
    ADir* side = SideSource(SideOfPath(path));
    if (!side || IsPlain(side))
        return ASync::PutAside(path);
    // Moved into "Removed Files" (or deleted with --delete-instead-of-move), as a deleted song is.
    return side->Delete(path, 1, 0);
}

signed char ASyncLib::FileExists(const AString* path)
{
    ADir* source = SideSource(SideOfPath(path));
    if (!source)
        return 0;
    if (IsPlain(source))
        return ASync::FileExists(path);
    return source->FileExists(path) ? 1 : 0;
}

signed char ASyncLib::DirExists(const AString* path)
{
    // Song sources have no folders.
    return IsPlain(SideSource(SideOfPath(path))) ? ASync::DirExists(path) : 0;
}

int ASyncLib::CreateDir(const AString* path)
{
    return IsPlain(SideSource(SideOfPath(path))) ? AFile::CreateDir(path) : kErrIO;
}

std::uint64_t ASyncLib::FileModTime(const AString* path)
{
    ADir* source = SideSource(SideOfPath(path));
    if (!source)
        return 0;
    if (IsPlain(source))
        return ASync::FileModTime(path);
    return source->GetFileModTime(path);
}

int ASyncLib::Delete(const AString* path)
{
    ADir* source = SideSource(SideOfPath(path));
    if (!source)
        return kErrIO;
    return source->Delete(path, 1, 0);
}

std::uint64_t ASyncLib::FileSize(const AString* path)
{
    ADir* source = SideSource(SideOfPath(path));
    if (!source || IsPlain(source))
        return ASync::FileSize(path);
    AString disk;
    if (source->GetFileDiskPath(path, &disk, 1) != 0)
        return 0;
    return AFile::GetFileSize(&disk);
}

AString ASyncLib::VolumePathOfSide(int side)
{
    ADir* source = SideSource(side);
    ADirSong* song = AsSong(source);
    if (!song || IsPlain(source))
        return ASync::VolumePathOfSide(side);
    return song->GetMusicFolder();
}

bool ASyncLib::RemovalFreesSpace(int side)
{
    // A removed song goes into "Removed Files" on its own volume unless it is deleted outright.
    ADir* source = SideSource(side);
    return !IsPlain(source) && AsSong(source) && !GetMoveInsteadOfDelete();
}

std::uint64_t ASyncLib::PlannedCopySize(const AString* src, bool* estimated, std::uint64_t listed)
{
    if (estimated)
        *estimated = false;
    const std::uint64_t bytes = listed != 0 ? listed : FileSize(src);
    const int side = SideOfPath(src);
    ADir* to = SideSource(side == 1 ? 2 : 1);
    ADir* from = SideSource(side);
    if (!to || !from || (to->GetType() != ADir::kTypeIPod && to->GetType() != ADir::kTypeIPodDB))
        return bytes;
    // A song the iPod cannot play is converted on the way; its size there is not known yet.
    AString disk, extension;
    if (IsPlain(from))
        disk = *src;
    else
        from->GetFileDiskPath(src, &disk, 1);
    disk.PathExtension(&extension);
    if (estimated && AudioFormats::NeedsConversion(extension))
        *estimated = true;
    return bytes;
}

int ASyncLib::Copy(const AString* src, const AString* dst, signed char, signed char isReplace,
                   CancelProc cancel)
{
    lastAddedHeld = false;
    const int side = SideOfPath(src);
    ADir* from = SideSource(side);
    ADir* to = SideSource(side == 1 ? 2 : 1);
    if (!from || !to || !dst)
        return kErrIO;

    // The song's title, for a file that has no name tag: the name component of a song path, the
    // file name without its extension for a plain folder.
    AString title = *src;
    if (int question = title.ReverseFind('?'); question >= 0)
        title = title.Left(question);
    ADirSong* song = AsSong(from);
    if (song && !IsPlain(from) && song->GetFileTypeRelevantOnDupSongCompare()) {
        if (int slash = title.ReverseFind('/'); slash >= 0)
            title = title.Left(slash);
    }
    if (int slash = title.ReverseFind('/'); slash >= 0)
        title = title.Mid(slash + 1, title.GetLength());
    if (IsPlain(from)) {
        if (int dot = title.ReverseFind('.'); dot > 0)
            title = title.Left(dot);
    }

    AString disk;
    if (int err = from->GetFileDiskPath(src, &disk, 1); err != 0)
        return err;
    const bool toIPod = to->GetType() == ADir::kTypeIPod || to->GetType() == ADir::kTypeIPodDB;
    if (toIPod) {
        if (int err = FileForIPod(to, disk, cancel); err != 0)
            return err;
    }

    if (isReplace) {
        // The song's file on the receiving side is overwritten in place; its entry stays.
        AString destination;
        to->GetFileDiskPath(dst, &destination, 1);
        if (destination.IsEmpty())
            return kErrOriginalNotFound;
        // The iPod holds a converted copy of a song kept in a type it cannot play: the original
        // is never replaced by what was made of it.
        AString kept;
        destination.PathExtension(&kept);
        if (!toIPod && AudioFormats::NeedsConversion(kept) &&
            (from->GetType() == ADir::kTypeIPod || from->GetType() == ADir::kTypeIPodDB)) {
            LogLine(AString("Kept the original of a converted song: ") + destination, verboseLog);
            return 0;
        }
        // A folder takes the whole file: the plan replaces one whose music is the same only to
        // carry a change of its tags.
        if (SameSizeAndDate(disk, destination) ||
            (!KeepsReplacedFiles(*dst) && ID3::FilesEqualMusicCRC32(&disk, &destination)))
            return 0;
        // A song whose file type is not part of its match may be replaced by another type of file
        // (an M4A for an MP3). Written over the old file, its bytes would go under the old type's
        // name, and an iPod would take them for what its database and the name say. The new file
        // is added as a song of its own, named for its type, and the old one goes the way a
        // deleted song goes; when the new one cannot be added, the old one stays as it was.
        if (!IsPlain(to) && OtherFileType(disk, destination)) {
            AString added;
            if (int err = AddSongTo(to, &disk, &title, cancel, copyAsITunesReady, &added); err != 0)
                return err;
            return to->Delete(dst, 1, 0);
        }
        const int err = AFile::CopyWithCheck(&disk, &destination);
        // The iPod plays what its database says of a file: its record must describe the new one.
        if (err == 0 && to->GetType() == ADir::kTypeIPodDB)
            return static_cast<ADirPodDB*>(to)->RefreshSong(dst);
        return err;
    }

    switch (to->GetType()) {
    case ADir::kTypeFolder: {
        // Plain folders take the file at the path the plan gives; its folder is made when missing.
        if (int slash = dst->ReverseFind('/'); slash > 0 && !logOnly) {
            AString folder = dst->Left(slash);
            if (!AFile::DirExists(&folder))
                AFile::CreateDir(&folder);
        }
        return AFile::CopyWithCheck(&disk, dst);
    }
    default:
        lastAddedPath = *dst;
        return AddSongTo(to, &disk, &title, cancel, copyAsITunesReady, &lastAddedDisk, dst, &lastAddedHeld);
    }
}

void ASyncLib::EnsureConverter(ADir* to)
{
    if (converter)
        return;
    // Only the shuffle lacks Apple Lossless among the iPods the program knows.
    AString root;
    static_cast<ADirSong*>(to)->GetRealRootPath(&root);
    IPodInfo info;
    SongConverter::Options options;
    options.settings = conversionSettings;
    options.modelPlaysALAC =
        IPodDB::GetIPodInfo(&root, &info) != 0 || info.family != IPodInfo::kFamilyShuffle;
    options.cacheFolder = conversionCacheFolder;
    converter = std::make_unique<SongConverter>(options);
}

int ASyncLib::FileForIPod(ADir* to, AString& disk, CancelProc cancel)
{
    EnsureConverter(to);
    AString extension;
    disk.PathExtension(&extension);
    if (AudioFormats::NeedsConversion(extension)) {
        AString status = AString("Converting for the iPod: ") + disk;
        progress->ShowStatus(&status, &status);
    }
    AString file;
    if (int err = converter->FileForIPod(disk, file, cancel); err != 0) {
        // The converter may have read the file on another thread: a file that is gone says so here.
        if (err != kErrUserCancel && !AFile::FileExists(&disk))
            AError::NoteFailure(err, "find", disk, ENOENT);
        return err;
    }
    disk = file;
    return 0;
}

void ASyncLib::BeforePerforming()
{
    // The songs this run copies onto an iPod are converted on every core while it copies.
    converter.reset();
    copyAhead.reset();
    ADir* to = nullptr;
    std::vector<AString> songs, asTheyAre;
    for (int i = 0; i < actions.Count(); ++i) {
        auto* action = static_cast<SyncAction*>(actions.GetDataPtr(i));
        if (!action || !action->active || (action->operation != kOpCopy && action->operation != kOpReplace))
            continue;
        const int side = SideOfPath(&action->path1);
        ADir* from = SideSource(side);
        ADir* other = SideSource(side == 1 ? 2 : 1);
        if (!from || !other || (other->GetType() != ADir::kTypeIPod && other->GetType() != ADir::kTypeIPodDB))
            continue;
        AString disk;
        if (from->GetFileDiskPath(&action->path1, &disk, 1) == 0) {
            songs.push_back(disk);
            to = other;
            // A new song the iPod plays as it is: its file goes there as it is.
            AString extension;
            disk.PathExtension(&extension);
            if (action->operation == kOpCopy && !AudioFormats::NeedsConversion(extension))
                asTheyAre.push_back(disk);
        }
    }
    if (!to || songs.empty())
        return;
    if (!logOnly && !asTheyAre.empty())
        copyAhead = std::make_unique<CopyAhead>(asTheyAre);
    EnsureConverter(to);
    converter->Prefetch(songs);
}

void ASyncLib::AfterPerforming()
{
    // A run that ended early converts nothing more: what is under way stops and leaves no file; nor
    // does it keep copies made ahead.
    converter.reset();
    copyAhead.reset();
}

void ASyncLib::GetFileTitle(const AString* vp, AString* out)
{
    if (!vp || !out)
        return;
    if (vp->ReverseFind('?') < 0) {
        ASync::GetFileTitle(vp, out);
        return;
    }
    // The name component: after the genre (when used), the artist and the album (when used).
    ADirSong* settings = SettingsSource();
    const bool withGenre = !settings || settings->GetGenreRelevantOnDupSongCompare();
    const bool withAlbum = !settings || settings->GetAlbumRelevantOnDupSongCompare();
    const bool withType = !settings || settings->GetFileTypeRelevantOnDupSongCompare();
    const int skip = 2 + (withGenre ? 1 : 0) - (withAlbum ? 0 : 1);
    int begin = 1;
    for (int i = 0; i < skip; ++i) {
        const int slash = vp->Find('/', begin);
        if (slash < 0) {
            *out = AString();
            return;
        }
        begin = slash + 1;
    }
    int end = withType ? vp->Find('/', begin) : vp->Find('?', begin);
    if (end < 0)
        end = vp->ReverseFind('?');
    if (end < begin)
        end = vp->GetLength();
    *out = vp->Mid(begin, end - begin);
}

// ---------------------------------------------------------------------------------------------
// The run

int ASyncLib::CheckReceivingSide(int side)
{
    ADir* dir = SideSource(side);
    ADirSong* song = AsSong(dir);
    if (!song)
        return 0;
    auto refuse = [this](std::initializer_list<const char*> sentences, int code) {
        AString text;
        for (const char* sentence : sentences) {
            if (!text.IsEmpty())
                text += ' ';
            text += sentence;
        }
        progress->ReportMessage(&text, 0);
        return code;
    };
    switch (dir->GetType()) {
    case ADir::kTypeITunes:
        if (song->GetPlayListType() == 1)
            return refuse({"The selected Playlist in iTunes is a Read Only Playlist.",
                           "Songs cannot be added to a Read Only Playlist.",
                           "Select a different Playlist or a different Sync type."},
                          kErrInvalidPlaylist);
        return 0;
    case ADir::kTypeIPod:
        if (song->GetPlayListType() == 1)
            return refuse({"The selected Playlist in iPod is a Read Only Playlist.",
                           "Songs cannot be added to a Read Only Playlist.",
                           "Select a different Playlist or a different Sync type."},
                          kErrInvalidPlaylist);
        return 0;
    default:
        // Folders and the iPod database accept songs whenever they can be written.
        return 0;
    }
}

int ASyncLib::PreSyncCheck()
{
    const bool receives[3] = {false, autoAction == kRightToLeft || autoAction == kTwoWay,
                              autoAction == kLeftToRight || autoAction == kTwoWay};

    // An iPod seen through iTunes must be mounted with disk use enabled.
    for (int side = 1; side <= 2; ++side) {
        ADir* dir = SideSource(side);
        if (dir->GetType() != ADir::kTypeIPod)
            continue;
        AString volume;
        if (ADirSong* song = AsSong(dir))
            song->GetRealRootPath(&volume);
        if (volume.IsEmpty()) {
            AString text("Selected iPod's volume cannot be found!");
            text += " The iPod must be set to \"Enable Disk Use\" before performing a sync.";
            progress->ReportMessage(&text, 0);
            return kErrVolumeNotFound;
        }
    }
    // A receiving iPod seen through the library must be set to manual updates.
    for (int side = 1; side <= 2; ++side) {
        ADir* dir = SideSource(side);
        if (!receives[side] || dir->GetType() != ADir::kTypeIPod)
            continue;
        AString volume;
        static_cast<ADirSong*>(dir)->GetRealRootPath(&volume);
        signed char automatic = 0;
        // A file that cannot be read is said as the disk said it; only a folder that is no iPod
        // (nothing to read) is refused as such.
        if (int err = IPodDB::GetAutoUpdates(&volume, automatic); err != 0) {
            if (side == 2 && err == kErrEndOfFile)
                return kErrUnknown;
            AString text("The iPod's settings cannot be read: ");
            text += err;
            AError::AddErrorMsg(&text, err);
            progress->ReportMessage(&text, 1);
            return err;
        }
        if (automatic) {
            AString text("Selected iPod is set to Automatic Update.");
            text += " The iPod must be set to \"Manual Update\" before performing a Sync.";
            progress->ReportMessage(&text, 0);
            return kErrAutoUpdate;
        }
    }

    // An iPod that checks its database's signature shows no songs at all after a store without
    // the right one: when it cannot be made, the run is refused before anything is copied onto it,
    // whichever way the iPod is reached.
    for (int side = 1; side <= 2; ++side) {
        ADir* dir = SideSource(side);
        if (!receives[side] || (dir->GetType() != ADir::kTypeIPodDB && dir->GetType() != ADir::kTypeIPod))
            continue;
        AString volume;
        static_cast<ADirSong*>(dir)->GetRealRootPath(&volume);
        if (AString text = IPodDB::SignatureRefusal(&volume); !text.IsEmpty()) {
            progress->ReportMessage(&text, 0);
            AError::NoteFailure(kErrNotSupported, text);
            return kErrNotSupported;
        }
    }

    // A receiving playlist must accept songs: the iTunes sides first, then the iPod ones, each
    // left before right.
    for (int type : {ADir::kTypeITunes, ADir::kTypeIPod})
        for (int side = 1; side <= 2; ++side)
            if (receives[side] && SideSource(side)->GetType() == type)
                if (int err = CheckReceivingSide(side); err != 0)
                    return err;
    return 0;
}

int ASyncLib::GetType() const { return kSongSync; }

std::uint64_t ASyncLib::ListedSize(ADir* dir, int index)
{
    if (const std::uint64_t size = ASync::ListedSize(dir, index); size != 0)
        return size;
    const AString* record = dir->GetFPath(index);
    const auto found = reachedFiles.find(record);
    return found != reachedFiles.end() && found->second.path == *record ? found->second.size : 0;
}

int ASyncLib::CheckMusicReachable()
{
    reachedFiles.clear();
    for (int side = 1; side <= 2; ++side) {
        ADir* dir = SideSource(side);
        if (!dir || dir->GetType() != ADir::kTypeITunes)
            continue;
        const int count = dir->Count();
        int missing = 0;
        AString first;
        // Whether each folder of a missing file is there and holds something: a file gone from such
        // a folder was deleted or moved, which says nothing of the drive (the song is then kept, as
        // any song whose file is missing). Folders gone with their files, or left empty (as the
        // folder a drive is mounted on), are a drive that is not there.
        std::unordered_map<std::string, bool> folderThere;
        auto inFolderThatIsThere = [&folderThere](const AString& file) {
            const int slash = file.ReverseFind('/');
            if (slash <= 0)
                return false;
            const AString folder = file.Left(slash);
            auto [known, added] = folderThere.try_emplace(folder.ToStdString(), false);
            if (added)
                known->second = AFile::DirectoryEmptiness(&folder) == 0;
            return known->second;
        };
        for (int i = 0; i < count; ++i) {
            AString full = *dir->GetRootPath() + *dir->GetFPath(i);
            AString disk;
            if (dir->GetFileDiskPath(&full, &disk, 1) != 0 || disk.IsEmpty())
                continue;
            // The one look that tells the file is there tells its size too, for the plan and the tally.
            std::uint64_t size = 0, time = 0;
            if (AFile::SizeAndModTime(&disk, &size, &time)) {
                if (const AString* record = dir->GetFPath(i); record && size != 0)
                    reachedFiles[record] = ReachedFile{*record, size};
                continue;
            }
            if (inFolderThatIsThere(disk))
                continue;
            if (missing++ == 0)
                first = disk;
        }
        if (missing <= kUnreachableHandful)
            continue;
        AString text("The drive of the library's music seems not to be mounted: the files of ");
        text += missing;
        text += " of its ";
        text += count;
        text += " songs cannot be found (such as ";
        text += first;
        text += "). Mount it and sync again; nothing was changed.";
        progress->ReportMessage(&text, 0);
        LogLine(text, verboseLog);
        AError::NoteFailure(kErrVolumeNotFound, text);
        return kErrVolumeNotFound;
    }
    return 0;
}

int ASyncLib::ScanForDups(CancelProc cancel)
{
    // Before anything is planned: a side whose music cannot be reached would read as songs gone.
    if (int err = CheckMusicReachable(); err != 0)
        return err;
    for (ADir* dir : {dir1.get(), savedDir1.get(), dir2.get(), savedDir2.get()}) {
        progress->StartDivision(0.25, nullptr, 0, 0);
        // The saved lists serve only a two-way run that carries deletions (and one taken to be its
        // side's listing is that listing, scanned already).
        const bool saved = dir == savedDir1.get() || dir == savedDir2.get();
        const bool skipped = (saved && (autoAction != kTwoWay || !destDeletes)) ||
                             (dir == savedDir1.get() && savedIsSide[0]) ||
                             (dir == savedDir2.get() && savedIsSide[1]);
        const int err = skipped ? 0 : dir->ScanForDuplicates(0, 1, 1, cancel, 0);
        progress->EndDivision(nullptr, 0, 0);
        if (err != 0)
            return err;
    }
    return 0;
}

AString ASyncLib::FormatVPForDisplay(const AString* vp, signed char isFile, int maxLen, signed char detailed)
{
    if (!vp || vp->ReverseFind('?') < 0)
        return ASync::FormatVPForDisplay(vp, isFile, maxLen, detailed);
    const int side = SideOfPath(vp);
    ADir* source = SideSource(side);
    if (!source)
        return ASync::FormatVPForDisplay(vp, isFile, maxLen, detailed);
    if (!isFile)
        return source->GetRootDisplayName(0);

    const AString prefix = maxLen < 0 ? source->GetRootDisplayName(detailed) : AString();
    const AString& root = *source->GetRootPath();
    int start = root.GetLength();
    if (!root.IsEmpty() && root[root.GetLength() - 1] != '/')
        ++start;
    while (start < vp->GetLength() && (*vp)[start] == '/')
        ++start;
    const int question = vp->ReverseFind('?');
    const AString song = vp->Mid(start, question - start);

    ADirSong* settings = SettingsSource();
    const bool withGenre = !settings || settings->GetGenreRelevantOnDupSongCompare();
    const bool withAlbum = !settings || settings->GetAlbumRelevantOnDupSongCompare();
    const bool withType = !settings || settings->GetFileTypeRelevantOnDupSongCompare();
    AString genre, artist, album, title, type;
    AString* order[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    int parts = 0;
    if (withGenre)
        order[parts++] = &genre;
    order[parts++] = &artist;
    if (withAlbum)
        order[parts++] = &album;
    order[parts++] = &title;
    if (withType)
        order[parts++] = &type;
    int begin = 0;
    for (int i = 0; i < parts && begin <= song.GetLength(); ++i) {
        int slash = song.Find('/', begin);
        // The last part takes the rest, "/" and all.
        if (slash < 0 || i == parts - 1)
            slash = song.GetLength();
        *order[i] = song.Mid(begin, slash - begin);
        begin = slash + 1;
    }

    bool show[5] = {true, true, true, true, true}; // genre, artist, album, title, type
    if (maxLen >= 0) {
        show[0] = show[1] = show[2] = show[4] = false;
        int budget = maxLen - title.GetLength() - 2;
        const std::pair<int, const AString*> candidates[] = {
            {1, &artist}, {2, &album}, {0, &genre}, {4, &type}};
        for (const auto& [which, part] : candidates) {
            if (budget <= 0)
                break;
            if (part->IsEmpty())
                continue;
            if (part->GetLength() + 2 > budget)
                break;
            show[which] = true;
            budget -= part->GetLength() + 2;
        }
    }

    static const char* const kUnknown[5] = {"Unknown Genre", "Unknown Artist", "Unknown Album",
                                            "Unknown Title", "Unknown Type"};
    const AString* values[5] = {&genre, &artist, &album, &title, &type};
    AString text;
    for (int i = 0; i < 5; ++i) {
        if (!show[i] || values[i]->IsEmpty())
            continue;
        if (values[i]->GetLength() == 1 && (*values[i])[0] == '*') // the form of an empty tag
            text += kUnknown[i];
        else
            text += *values[i];
        text += "; ";
    }
    if (int semicolon = text.ReverseFind(';'); semicolon >= 0)
        text = text.Left(semicolon);
    if (!text.IsEmpty() && !prefix.IsEmpty() && !detailed)
        return prefix + ": " + text;
    return text;
}

// ---------------------------------------------------------------------------------------------
// State record: mark, the ASync record, then this class's two fields. The text field holds
// "key=value" pairs separated by ";": the conversion settings, and whatever else it held, kept.

namespace {

constexpr const char* kAACKbpsKey = "aac-kbps";
constexpr const char* kAlwaysAACKey = "always-aac";

std::vector<std::pair<std::string, std::string>> Pairs(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        const std::size_t equals = item.find('=');
        if (!item.empty())
            pairs.emplace_back(item.substr(0, equals),
                               equals == std::string::npos ? std::string() : item.substr(equals + 1));
        start = end + 1;
    }
    return pairs;
}

AudioFormats::Settings ConversionSettingsOf(const AString& text)
{
    AudioFormats::Settings settings;
    for (const auto& [key, value] : Pairs(text.ToStdString())) {
        if (key == kAACKbpsKey) {
            const int kbps = std::atoi(value.c_str());
            if (kbps >= AudioFormats::kMinAACKbps && kbps <= AudioFormats::kMaxAACKbps)
                settings.aacKbps = kbps;
        } else if (key == kAlwaysAACKey) {
            settings.alwaysAAC = value == "on";
        }
    }
    return settings;
}

AString WithConversionSettings(const AString& text, const AudioFormats::Settings& settings)
{
    const AudioFormats::Settings defaults;
    std::string out;
    auto add = [&out](const std::string& key, const std::string& value) {
        out += (out.empty() ? "" : ";") + key + "=" + value;
    };
    if (settings.aacKbps != defaults.aacKbps)
        add(kAACKbpsKey, std::to_string(settings.aacKbps));
    if (settings.alwaysAAC != defaults.alwaysAAC)
        add(kAlwaysAACKey, settings.alwaysAAC ? "on" : "off");
    for (const auto& [key, value] : Pairs(text.ToStdString()))
        if (key != kAACKbpsKey && key != kAlwaysAACKey)
            add(key, value);
    return AString::FromUTF8(out);
}

} // namespace

int ASyncLib::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = ASync::WriteState(f); err != 0)
        return err;
    if (int err = AStateStream::WriteFlag(f, copyAsITunesReady); err != 0)
        return err;
    reservedText = WithConversionSettings(reservedText, conversionSettings);
    return reservedText.WriteState(f);
}

int ASyncLib::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    int err = ASync::ReadState(f);
    if (err == 0)
        err = AStateStream::ReadFlag(f, &copyAsITunesReady);
    if (err == 0)
        err = reservedText.ReadState(f);
    if (err == 0)
        conversionSettings = ConversionSettingsOf(reservedText);
    type1 = dir1->GetType();
    type2 = dir2->GetType();
    return err;
}
