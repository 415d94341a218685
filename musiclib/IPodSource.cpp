#include "musiclib/IPodSource.h"

#include "ACommon/base/FreeLater.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/sources/ADir.h"
#include "musiclib/LibrarySource.h"
#include "musiclib/LibraryText.h"
#include "musiclib/TrackArtwork.h"
#include "musiclib/TrackRecord.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/CRC32.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodMusicFolder.h"
#include "ACommon/itunesdb/IPodPlayCounts.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/MHSD.h"
#include "ACommon/itunesdb/MHYP.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "APlatform/Unicode.h"

#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unordered_set>

namespace {

// How long a change waits for another writer of the iPod's database to finish: once per run, as
// every writer does (a holder that keeps it longer is running a sync of its own), after which the
// changes of the run only try.
constexpr int kLockTimeoutMs = IPodLock::kDefaultWaitMs;

// mhit header fields read here besides those MHIT names.
constexpr std::size_t kOffsetCompilation = 30; // one byte
constexpr std::size_t kOffsetTrackCount = 48;
constexpr std::size_t kOffsetDiscNumber = 92;
constexpr std::size_t kOffsetDiscCount = 96;
constexpr std::size_t kOffsetPersistentId = 112; // 64 bits, little-endian: the track's lasting id
constexpr std::size_t kOffsetMediaType = 208;
constexpr std::uint32_t kMediaAudio = 1;
constexpr std::uint32_t kMediaPodcast = 4;

// String objects read here besides those MHOD names.
constexpr std::uint32_t kFileType = 6;
constexpr std::uint32_t kShow = 19;
constexpr std::uint32_t kAlbumArtist = 22;

constexpr std::uint32_t kIdMask = 0x7FFFFFFF;

// The text of a track's string object of `type` as stored (not made path-safe); empty when the
// track has none.
std::string TextOf(const MHIT& track, std::uint32_t type)
{
    for (const MHOD& object : track.GetDataObjects()) {
        if (object.GetType() != type)
            continue;
        if (MHOD::IsStringType(type)) {
            // Plain ASCII text as stored needs no decoding, and is not kept decoded in the track:
            // a listing reads four texts of every track.
            const MHOD::StoredText stored = object.GetUndecodedText();
            std::string ascii;
            if (stored.unitSize > 0) {
                ascii.reserve(stored.bytes.size() / stored.unitSize);
                for (std::size_t i = 0; i + stored.unitSize <= stored.bytes.size(); i += stored.unitSize) {
                    const std::uint8_t unit = stored.bytes[i];
                    if (unit == 0 || unit >= 0x80 || (stored.unitSize == 2 && stored.bytes[i + 1] != 0))
                        break;
                    ascii += static_cast<char>(unit);
                }
                if (ascii.size() * stored.unitSize == stored.bytes.size())
                    return ascii;
            }
            return object.GetString().ToStdString();
        }
        // Sub-header: 0 encoding (2 UTF-8, else UTF-16LE), 4 byte length of the text.
        const std::span<const std::uint8_t> payload = object.GetPayload();
        if (payload.size() < 16)
            return std::string();
        auto u32 = [&payload](std::size_t at) {
            return static_cast<std::uint32_t>(payload[at] | payload[at + 1] << 8 | payload[at + 2] << 16 |
                                              static_cast<std::uint32_t>(payload[at + 3]) << 24);
        };
        const std::uint32_t encoding = u32(0);
        const std::size_t length = std::min<std::size_t>(u32(4), payload.size() - 16);
        const std::span<const std::uint8_t> text = payload.subspan(16, length);
        if (encoding == 2)
            return std::string(text.begin(), text.end());
        std::u16string units;
        for (std::size_t i = 0; i + 1 < text.size(); i += 2)
            units += static_cast<char16_t>(text[i] | text[i + 1] << 8);
        return platform::EncodeUTF8(units);
    }
    return std::string();
}

std::uint64_t PersistentIdOf(const MHIT& track)
{
    return static_cast<std::uint64_t>(track.GetField(kOffsetPersistentId)) |
           static_cast<std::uint64_t>(track.GetField(kOffsetPersistentId + 4)) << 32;
}

// The database ID a persistent id stands for.
std::uint32_t Fold(std::uint64_t persistentId)
{
    return static_cast<std::uint32_t>((persistentId ^ (persistentId >> 32)) & kIdMask);
}

// The file and the system's reason noted for `code`, in brackets; empty when none was noted.
std::string Detail(int code)
{
    const AString detail = AError::FailureDetail(code);
    return detail.IsEmpty() ? std::string() : " (" + detail.ToStdString() + ")";
}

// Why the iPod's lock was not had: another sync holds it, or its folder cannot be opened.
std::string LockRefused(int code)
{
    const AString detail = AError::FailureDetail(code);
    return detail.IsEmpty() ? std::string("another sync is running on this iPod") : detail.ToStdString();
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// What a track's file is found by: its path below the mount point, as its location gives it, in
// lower case.
std::string LocationKey(const MHIT& track)
{
    std::string relative = Lower(track.GetFilepath().ToStdString());
    if (relative.empty() || relative.front() != '/')
        relative.insert(0, "/");
    return relative;
}

} // namespace

IPodSource::IPodSource(std::int64_t sourceId, std::string mountedAt)
    : id(sourceId), mountPoint(std::move(mountedAt)), root(AString::FromUTF8(this->mountPoint + "/")),
      journal(IPodJournal::Shared(root))
{
}

IPodSource::~IPodSource()
{
    Flush();
    // Written back: what is left of the database is memory only, which a thread of its own frees.
    FreeLater::Free(std::move(database));
}

// ---- loading -------------------------------------------------------------------------------------

bool IPodSource::ChangedOnDisk() const
{
    const AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes/iTunesDB");
    struct stat info {};
    Stamp now;
    if (stat(path.CStr(), &info) == 0) {
        now.size = info.st_size;
        now.seconds = info.st_mtim.tv_sec;
        now.nanoseconds = info.st_mtim.tv_nsec;
        now.inode = info.st_ino;
    }
    return !(now == loaded);
}

int IPodSource::Load()
{
    musicFolders.Forget();
    tracksById.clear();
    idsOfTracks.clear();
    playlistsById.clear();
    idsOfPlaylists.clear();
    tracksByLocation.clear();
    locationsIndexed = false;
    tracksByNameKey.clear();
    nameKeysIndexed = false;
    membersOf.clear();
    libraryListed = false;
    auto fresh = std::make_unique<IPodDB>();
    fresh->SetJournal(&journal);
    AString where = root;
    // The stamp first: a write that lands while the database is read makes the next script read it again.
    const AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes/iTunesDB");
    struct stat info {};
    loaded = Stamp();
    if (stat(path.CStr(), &info) == 0)
        loaded = Stamp{info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ino};
    if (int err = fresh->Load(&where, 1, nullptr, nullptr); err != 0) {
        database.reset();
        return Fail(err,
                    "the database of the iPod at " + mountPoint + " cannot be read" + AError::Message(err));
    }
    database = std::move(fresh);
    // What a run that stopped left is looked at by whoever reads the whole database, as the
    // database source does; nothing on the iPod changes before this source's first change.
    leftFiles.clear();
    recoveryPending = false;
    takenIn = 0;
    const IPodRecovery::Found found = IPodRecovery::Examine(
        root, *database, journal, [this] { return lock.Acquire(root, 0) == 0; }, [](const AString&) {});
    if (found.examined) {
        leftFiles = found.left;
        takenIn = found.takenIn;
        recoveryPending = true;
    }
    if (unsavedChanges == 0 && !inScript && lock.IsHeld())
        lock.Release();
    if (MHLT* tracks = database->GetDatabase()->GetTrackList())
        tracks->ForEachTrack([this](MHIT& track) { AssignId(&track, PersistentIdOf(track)); });
    return 0;
}

int IPodSource::Reload()
{
    database.reset();
    return Load();
}

std::uint32_t IPodSource::AssignId(MHIT* track, std::uint64_t persistentId)
{
    std::uint32_t candidate = persistentId != 0 ? Fold(persistentId) : 0;
    if (candidate == 0) {
        // No lasting id yet (the track was written by a program that keeps none): its location
        // lasts as long as the track.
        CRC32 crc;
        crc.Update(track->GetFilepath());
        candidate = crc.GetValue() & kIdMask;
    }
    while (candidate == 0 || tracksById.count(candidate))
        candidate = (candidate + 1) & kIdMask;
    tracksById[candidate] = track;
    idsOfTracks[track] = candidate;
    if (locationsIndexed)
        tracksByLocation.emplace(LocationKey(*track), track);
    if (nameKeysIndexed)
        tracksByNameKey.emplace(track->GetNameKey(), track);
    return candidate;
}

MHIT* IPodSource::TrackAt(const std::string& location)
{
    if (!locationsIndexed) {
        tracksByLocation.reserve(tracksById.size());
        for (auto& [trackId, track] : tracksById)
            tracksByLocation.emplace(LocationKey(*track), track);
        locationsIndexed = true;
    }
    const auto [first, last] = tracksByLocation.equal_range(Lower(location.substr(mountPoint.size())));
    for (auto it = first; it != last; ++it)
        if (!deleting.count(it->second))
            return it->second;
    return nullptr;
}

MHIT* IPodSource::SameSong(const SongInfoStruct& song)
{
    if (!nameKeysIndexed) {
        tracksByNameKey.reserve(tracksById.size());
        for (auto& [trackId, track] : tracksById)
            tracksByNameKey.emplace(track->GetNameKey(), track);
        nameKeysIndexed = true;
    }
    const AString& name = song.modifiedName.IsEmpty() ? song.name : song.modifiedName;
    const auto [first, last] = tracksByNameKey.equal_range(MHIT::NameKeyOf(MHIT::Component(name)));
    for (auto it = first; it != last; ++it)
        if (!deleting.count(it->second) && it->second->CompareTo(&song) == 0)
            return it->second;
    return nullptr;
}

bool IPodSource::Holds(MHYP* playlist, const MHIT* track)
{
    auto found = membersOf.find(playlist);
    if (found == membersOf.end()) {
        std::unordered_set<const MHIT*> members;
        members.reserve(static_cast<std::size_t>(playlist->GetSongCount()));
        for (int i = 0; i < playlist->GetSongCount(); ++i)
            members.insert(playlist->GetSong(i));
        found = membersOf.emplace(playlist, std::move(members)).first;
    }
    return found->second.count(track) > 0;
}

MHIT* IPodSource::TrackOf(std::uint32_t track)
{
    if (Ready() != 0)
        return nullptr;
    auto found = tracksById.find(track);
    if (found == tracksById.end() || deleting.count(found->second))
        return nullptr;
    return found->second;
}

std::string IPodSource::GetName()
{
    AString name;
    if (database) {
        database->GetIPodName(name);
    } else {
        // Only the playlists' titles are read for it, not the whole database.
        AString where = root;
        IPodDB::LoadName(&where, &name);
    }
    return name.IsEmpty() ? std::filesystem::path(mountPoint).filename().string() : name.ToStdString();
}

int IPodSource::Ready()
{
    // Read on first use; read again, once a script, when another program wrote it since and
    // nothing is unsaved here.
    if (database && !checkDisk)
        return 0;
    if (database && (unsavedChanges > 0 || !ChangedOnDisk())) {
        checkDisk = false;
        return 0;
    }
    if (int err = Reload(); err != 0)
        return err;
    checkDisk = false;
    return 0;
}

// ---- the script's transaction --------------------------------------------------------------------

int IPodSource::Begin(bool)
{
    inScript = true;
    changedInScript = listedInScript = false;
    changesInScript = 0;
    undo.clear();
    onCommit.clear();
    if (!deleting.empty())
        libraryListed = false;
    deleting.clear();
    checkDisk = true;
    flushAtCommit = false;
    return 0;
}

int IPodSource::Change()
{
    if (int err = Ready(); err != 0)
        return err;
    if (!lock.IsHeld()) {
        if (int err = lock.Acquire(root, kLockTimeoutMs); err != 0)
            return Fail(err, LockRefused(err));
        if (unsavedChanges == 0 && ChangedOnDisk())
            return Fail(kErrBusy, "the database of the iPod at " + mountPoint +
                                      " was changed by another program while the script ran; run it again");
    }
    if (int err = SettleRecovery(); err != 0)
        return err;
    libraryListed = false;
    changedInScript = true;
    ++changesInScript;
    return 0;
}

int IPodSource::SettleRecovery()
{
    if (!recoveryPending)
        return 0;
    if (!lock.IsHeld())
        if (int err = lock.Acquire(root, kLockTimeoutMs); err != 0)
            return Fail(err, LockRefused(err));
    recoveryPending = false;
    membersOf.clear();
    libraryListed = false;
    std::vector<AString> due;
    std::vector<IPodJournal::Entry> keep;
    IPodRecovery::TidyUp(
        root, leftFiles,
        [this](const IPodRecovery::LeftFile& left) {
            ADir mover;
            mover.SetRemovedFilesFolder(root);
            mover.SetMoveInsteadOfDelete(left.move ? 1 : 0);
            return mover.Delete(&left.file, 1, 0);
        },
        due, keep, [](const AString&) {});
    leftFiles.clear();
    if (takenIn > 0) {
        cadence.Changed();
        unsavedChanges += takenIn;
        takenIn = 0;
    } else {
        // All the journal still has to name are removals that could not be made; the covers a
        // store that stopped left unused go as that store would have dropped them.
        journal.Set(std::move(keep));
        if (unsavedChanges == 0)
            database->TidyArtwork();
    }
    return 0;
}

int IPodSource::Listing()
{
    // Answered from the database in memory: changes are written back in batches, not before every
    // listing.
    if (int err = Ready(); err != 0)
        return err;
    listedInScript = true;
    return 0;
}

int IPodSource::Commit()
{
    if (!deleting.empty()) {
        membersOf.clear();
        libraryListed = false;
    }
    for (MHIT* track : deleting) {
        Forget(track);
        database->GetDatabase()->RemoveTrack(track);
    }
    deleting.clear();
    for (auto& action : onCommit)
        action();
    onCommit.clear();
    undo.clear();
    if (changesInScript > 0)
        cadence.Changed();
    unsavedChanges += changesInScript;
    const bool write = unsavedChanges > 0 && (flushAtCommit || cadence.Due());
    flushAtCommit = false;
    inScript = changedInScript = false;
    changesInScript = 0;
    // The script's changes are made; a failed write keeps them to be written by the next attempt.
    if (write)
        Flush();
    if (unsavedChanges == 0 && lock.IsHeld())
        lock.Release();
    return 0;
}

void IPodSource::Rollback()
{
    for (auto it = undo.rbegin(); it != undo.rend(); ++it)
        (*it)();
    undo.clear();
    membersOf.clear();
    libraryListed = false;
    onCommit.clear();
    deleting.clear();
    inScript = changedInScript = false;
    changesInScript = 0;
    if (unsavedChanges == 0 && lock.IsHeld())
        lock.Release();
}

int IPodSource::Flush(bool settle)
{
    // Asked for in the middle of a script: once the script's changes are made.
    if (inScript && changedInScript) {
        flushAtCommit = true;
        return 0;
    }
    if (settle && database && recoveryPending)
        if (int err = SettleRecovery(); err != 0)
            return err;
    if (!database)
        return 0;
    // A run that stopped between the database and iTunesSD left the second behind the first.
    if (settle && unsavedChanges == 0 && database->ShuffleFileOutOfDate())
        unsavedChanges = 1;
    if (unsavedChanges == 0)
        return 0;
    if (!lock.IsHeld()) {
        if (int err = lock.Acquire(root, kLockTimeoutMs); err != 0)
            return Fail(err, LockRefused(err));
    }
    // A track that had no lasting id gets the one its database ID came from, so the ID outlives
    // a move of its file.
    for (auto& [trackId, track] : tracksById) {
        if (PersistentIdOf(*track) == 0)
            track->SetField(kOffsetPersistentId, trackId);
    }
    // Every file the database is to list, and the journal naming them, on the disk first.
    if (int err = journal.Settle(); err != 0)
        return Fail(err, "the database of the iPod at " + mountPoint + " cannot be written" +
                             AError::Message(err) + Detail(err));
    AString where = root;
    if (int err = database->Store(&where); err != 0)
        return Fail(err, "the database of the iPod at " + mountPoint + " cannot be written" +
                             AError::Message(err) + Detail(err));
    ++storeCount;
    const AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes/iTunesDB");
    struct stat info {};
    if (stat(path.CStr(), &info) == 0)
        loaded = Stamp{info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ino};
    unsavedChanges = 0;
    cadence.Stored(static_cast<std::uint64_t>(std::max<std::int64_t>(loaded.size, 0)));
    // The stored database accounts for every song the journal names as copied. The files of
    // removed songs it names are the sync's side's to move once the store is made; it drops them.
    std::vector<IPodJournal::Entry> removals;
    for (const IPodJournal::Entry& entry : journal.Entries()) {
        AString file = root;
        file.AppendPathComponent(entry.location);
        if (entry.kind == IPodJournal::Kind::kRemoved && AFile::GetPathType(&file) == AFile::kPathFile)
            removals.push_back(entry);
    }
    if (removals.size() != journal.Entries().size())
        journal.Set(std::move(removals));
    // The end of a run (settle) also forgets a wait for the lock that ran out.
    if (!inScript && (settle || lock.IsHeld()))
        lock.Release();
    return 0;
}

// ---- playlists -----------------------------------------------------------------------------------

namespace {

// The playlist list scripts see: that of the first playlist dataset (type 2), else the first there is.
MHLP* PrimaryList(MHBD* database)
{
    MHLP* first = nullptr;
    for (int i = 0; i < database->GetDatasetCount(); ++i) {
        MHSD* dataset = database->GetDataset(i);
        if (MHLP* list = dataset->GetPlaylistList()) {
            if (dataset->GetType() == MHSD::kPlaylists)
                return list;
            if (!first)
                first = list;
        }
    }
    return first;
}

std::string NameOf(const MHYP* playlist)
{
    AString name;
    playlist->GetName(name);
    return name.ToStdString();
}

} // namespace

std::int64_t IPodSource::IdOf(MHYP* playlist)
{
    auto found = idsOfPlaylists.find(playlist);
    if (found != idsOfPlaylists.end())
        return found->second;
    const std::int64_t assigned = nextPlaylistId++;
    idsOfPlaylists[playlist] = assigned;
    playlistsById[assigned] = playlist;
    return assigned;
}

void IPodSource::Forget(const MHIT* track)
{
    auto found = idsOfTracks.find(track);
    if (found == idsOfTracks.end())
        return;
    tracksById.erase(found->second);
    idsOfTracks.erase(found);
    if (locationsIndexed) {
        const auto [first, last] = tracksByLocation.equal_range(LocationKey(*track));
        for (auto it = first; it != last; ++it) {
            if (it->second == track) {
                tracksByLocation.erase(it);
                break;
            }
        }
    }
    if (nameKeysIndexed) {
        const auto [first, last] = tracksByNameKey.equal_range(track->GetNameKey());
        for (auto it = first; it != last; ++it) {
            if (it->second == track) {
                tracksByNameKey.erase(it);
                break;
            }
        }
    }
}

void IPodSource::Forget(MHYP* playlist)
{
    auto found = idsOfPlaylists.find(playlist);
    if (found == idsOfPlaylists.end())
        return;
    playlistsById.erase(found->second);
    idsOfPlaylists.erase(found);
}

MHYP* IPodSource::PlaylistOf(std::int64_t playlist)
{
    if (Ready() != 0)
        return nullptr;
    auto found = playlistsById.find(playlist);
    if (found == playlistsById.end())
        return nullptr;
    MHLP* list = PrimaryList(database->GetDatabase());
    return list && list->IndexOf(found->second) >= 0 ? found->second : nullptr;
}

PlaylistInfo IPodSource::InfoOf(MHYP* playlist)
{
    PlaylistInfo info;
    info.id = IdOf(playlist);
    info.name = NameOf(playlist);
    MHLP* list = PrimaryList(database->GetDatabase());
    info.library = list && list->IndexOf(playlist) == 0;
    if (info.library && info.name.empty())
        info.name = GetName();
    return info;
}

std::vector<MHYP*> IPodSource::Mirrors(MHYP* playlist) const
{
    std::vector<MHYP*> mirrors;
    MHBD* db = database->GetDatabase();
    MHLP* primary = PrimaryList(db);
    const int index = primary ? primary->IndexOf(playlist) : -1;
    const std::string name = NameOf(playlist);
    for (MHLP* list : db->GetPlaylistLists()) {
        if (list == primary)
            continue;
        if (index == 0) {
            if (MHYP* library = list->GetPlaylist(0))
                mirrors.push_back(library);
            continue;
        }
        for (int i = 1; i < list->GetPlaylistCount(); ++i) {
            if (NameOf(list->GetPlaylist(i)) == name) {
                mirrors.push_back(list->GetPlaylist(i));
                break;
            }
        }
    }
    return mirrors;
}

int IPodSource::Playlists(std::vector<PlaylistInfo>& out)
{
    out.clear();
    if (int err = Ready(); err != 0)
        return err;
    MHLP* list = PrimaryList(database->GetDatabase());
    if (!list)
        return Fail(kErrObjectNotFound, "the iPod's database holds no playlists");
    for (int i = 0; i < list->GetPlaylistCount(); ++i)
        out.push_back(InfoOf(list->GetPlaylist(i)));
    return 0;
}

int IPodSource::FindPlaylist(const std::string& name, PlaylistInfo& out)
{
    // Every script that names a playlist asks: only the names are compared, and only the playlist
    // found is described.
    if (int err = Ready(); err != 0)
        return err;
    MHLP* list = PrimaryList(database->GetDatabase());
    if (!list)
        return Fail(kErrObjectNotFound, "the iPod's database holds no playlists");
    for (int i = 0; i < list->GetPlaylistCount(); ++i) {
        MHYP* playlist = list->GetPlaylist(i);
        std::string named = NameOf(playlist);
        // The library playlist without a name of its own is called as the iPod is (InfoOf).
        if (i == 0 && named.empty())
            named = GetName();
        if (LibraryText::Equal(named, name)) {
            out = InfoOf(playlist);
            return 0;
        }
    }
    return Fail(kErrObjectNotFound, "the iPod \"" + GetName() + "\" has no playlist \"" + name + "\"");
}

int IPodSource::GetPlaylist(std::int64_t playlist, PlaylistInfo& out)
{
    MHYP* found = PlaylistOf(playlist);
    if (!found)
        return Fail(kErrObjectNotFound, "the playlist no longer exists");
    out = InfoOf(found);
    return 0;
}

int IPodSource::GetLibraryPlaylist(PlaylistInfo& out)
{
    if (int err = Ready(); err != 0)
        return err;
    MHLP* list = PrimaryList(database->GetDatabase());
    if (!list || list->GetPlaylistCount() == 0)
        return Fail(kErrObjectNotFound, "the iPod's database holds no playlists");
    out = InfoOf(list->GetPlaylist(0));
    return 0;
}

int IPodSource::CheckNewName(const std::string& name, MHYP* except)
{
    if (std::string why = LibraryText::CheckName(name); !why.empty())
        return Fail(kErrUnknown, why);
    std::vector<PlaylistInfo> all;
    if (int err = Playlists(all); err != 0)
        return err;
    for (const PlaylistInfo& info : all)
        if (LibraryText::Equal(info.name, name) && PlaylistOf(info.id) != except)
            return Fail(kErrDuplicateNames, "the iPod has a playlist \"" + info.name + "\" already");
    return 0;
}

int IPodSource::MakePlaylist(const std::string& name, PlaylistInfo& out)
{
    if (int err = CheckNewName(name, nullptr); err != 0)
        return err;
    if (int err = Change(); err != 0)
        return err;
    const std::vector<MHYP*> made = database->GetDatabase()->AddPlaylist(AString::FromUTF8(name));
    undo.push_back([this, made] {
        for (MHYP* playlist : made) {
            Forget(playlist);
            for (MHLP* list : database->GetDatabase()->GetPlaylistLists())
                if (int index = list->IndexOf(playlist); index >= 0)
                    list->TakePlaylist(index);
        }
    });
    MHLP* primary = PrimaryList(database->GetDatabase());
    for (MHYP* playlist : made)
        if (primary && primary->IndexOf(playlist) >= 0)
            out = InfoOf(playlist);
    return 0;
}

int IPodSource::RenamePlaylist(std::int64_t playlist, const std::string& name)
{
    MHYP* target = PlaylistOf(playlist);
    if (!target)
        return Fail(kErrObjectNotFound, "the playlist no longer exists");
    if (InfoOf(target).library)
        return Fail(kErrUnknown, "the iPod's library playlist is the iPod's name and is not renamed here");
    if (int err = CheckNewName(name, target); err != 0)
        return err;
    if (int err = Change(); err != 0)
        return err;
    const AString oldName = AString::FromUTF8(NameOf(target));
    std::vector<MHYP*> all = Mirrors(target);
    all.push_back(target);
    for (MHYP* each : all)
        each->SetName(AString::FromUTF8(name));
    undo.push_back([all, oldName] {
        for (MHYP* each : all)
            each->SetName(oldName);
    });
    return 0;
}

int IPodSource::DeletePlaylist(std::int64_t playlist)
{
    MHYP* target = PlaylistOf(playlist);
    if (!target)
        return Fail(kErrObjectNotFound, "the playlist no longer exists");
    if (InfoOf(target).library)
        return Fail(kErrUnknown, "the iPod's library playlist cannot be deleted");
    if (int err = Change(); err != 0)
        return err;
    membersOf.clear();
    std::vector<MHYP*> all = Mirrors(target);
    all.push_back(target);
    // Taken out now, destroyed at the commit, put back by an undo.
    struct Taken {
        MHLP* list;
        int index;
        std::unique_ptr<MHYP> playlist;
    };
    auto taken = std::make_shared<std::vector<Taken>>();
    for (MHLP* list : database->GetDatabase()->GetPlaylistLists()) {
        for (MHYP* each : all) {
            if (int index = list->IndexOf(each); index >= 0)
                taken->push_back(Taken{list, index, list->TakePlaylist(index)});
        }
    }
    Forget(target);
    // Destroyed with the undo list at the commit; put back in place by an undo.
    undo.push_back([taken] {
        for (auto it = taken->rbegin(); it != taken->rend(); ++it)
            it->list->InsertPlaylist(it->index, std::move(it->playlist));
    });
    return 0;
}

// ---- tracks --------------------------------------------------------------------------------------

int IPodSource::Members(const TrackSelection& selection, std::vector<Member>& out)
{
    out.clear();
    MHYP* playlist = PlaylistOf(selection.playlist);
    if (!playlist)
        return Fail(kErrObjectNotFound, "the playlist no longer exists");
    const bool library = InfoOf(playlist).library;
    auto take = [&](MHIT* track, std::int64_t entry) {
        if (track && !deleting.count(track) && idsOfTracks.count(track) &&
            PassesAll(track, selection.conditions))
            out.push_back(Member{track, entry});
    };
    if (!library) {
        for (int i = 0; i < playlist->GetSongCount(); ++i)
            take(playlist->GetSong(i), i + 1);
        return 0;
    }
    // One track asked for by its database ID (as every script of a copy asks): found at once,
    // where the whole library would be looked through for every song.
    for (const TrackCondition& condition : selection.conditions) {
        if (condition.property != ScriptProperty::DatabaseID || !condition.equal || condition.isText)
            continue;
        const auto found = condition.number >= 0 && condition.number <= 0xFFFFFFFFu
                               ? tracksById.find(static_cast<std::uint32_t>(condition.number))
                               : tracksById.end();
        if (found != tracksById.end() && static_cast<double>(found->first) == condition.number)
            take(found->second, 0);
        return 0;
    }
    if (selection.conditions.empty() && libraryListed) {
        out = libraryListing;
        return 0;
    }
    // The library playlist's order; a track that a damaged database left out of it comes after.
    std::unordered_set<const MHIT*> seen;
    seen.reserve(static_cast<std::size_t>(playlist->GetSongCount()));
    for (int i = 0; i < playlist->GetSongCount(); ++i) {
        MHIT* track = playlist->GetSong(i);
        if (track && seen.insert(track).second)
            take(track, 0);
    }
    if (MHLT* tracks = database->GetDatabase()->GetTrackList()) {
        if (static_cast<int>(seen.size()) < tracks->GetTrackCount())
            tracks->ForEachTrack([&](MHIT& track) {
                if (!seen.count(&track))
                    take(&track, 0);
            });
    }
    if (selection.conditions.empty()) {
        libraryListing = out;
        libraryListed = true;
    }
    return 0;
}

bool IPodSource::PassesAll(MHIT* track, const std::vector<TrackCondition>& conditions)
{
    for (const TrackCondition& condition : conditions)
        if (!ValueOf(track, condition.property).Passes(condition))
            return false;
    return true;
}

ScriptValue IPodSource::ValueOf(MHIT* track, ScriptProperty property)
{
    auto integer = [track](std::size_t offset) { return ScriptValue::Integer(track->GetField(offset)); };
    switch (property) {
    case ScriptProperty::Name:
        return ScriptValue::Text(TextOf(*track, MHOD::kTitle));
    case ScriptProperty::Artist:
        return ScriptValue::Text(TextOf(*track, MHOD::kArtist));
    case ScriptProperty::AlbumArtist:
        return ScriptValue::Text(TextOf(*track, kAlbumArtist));
    case ScriptProperty::Album:
        return ScriptValue::Text(TextOf(*track, MHOD::kAlbum));
    case ScriptProperty::Genre:
        return ScriptValue::Text(TextOf(*track, MHOD::kGenre));
    case ScriptProperty::Composer:
        return ScriptValue::Text(TextOf(*track, MHOD::kComposer));
    case ScriptProperty::Show:
        return ScriptValue::Text(TextOf(*track, kShow));
    case ScriptProperty::Kind: {
        std::string kind = TextOf(*track, kFileType);
        if (kind.empty()) {
            const std::string extension = Lower(track->GetExtension().ToStdString());
            if (extension == "mp3")
                kind = "MPEG audio file";
            else if (extension == "m4p")
                kind = "Protected AAC audio file";
            else if (extension == "m4a" || extension == "m4b")
                kind = "AAC audio file";
            else if (extension == "m4v" || extension == "mp4")
                kind = "MPEG-4 video file";
            else if (extension.rfind("aif", 0) == 0)
                kind = "AIFF audio file";
        }
        return ScriptValue::Text(kind);
    }
    case ScriptProperty::Location: {
        std::string relative = track->GetFilepath().ToStdString();
        if (relative.empty() || relative.front() != '/')
            relative.insert(0, "/");
        return ScriptValue::Alias(mountPoint + relative);
    }
    case ScriptProperty::Size:
        return integer(MHIT::kOffsetSize);
    case ScriptProperty::Duration:
        return ScriptValue::Real(track->GetField(MHIT::kOffsetLength) / 1000.0);
    case ScriptProperty::BitRate:
        return integer(MHIT::kOffsetBitrate);
    case ScriptProperty::SampleRate:
        return ScriptValue::Integer(track->GetField(MHIT::kOffsetSampleRate) >> 16);
    case ScriptProperty::TrackNumber:
        return integer(MHIT::kOffsetTrackNumber);
    case ScriptProperty::TrackCount:
        return integer(kOffsetTrackCount);
    case ScriptProperty::DiscNumber:
        return integer(kOffsetDiscNumber);
    case ScriptProperty::DiscCount:
        return integer(kOffsetDiscCount);
    case ScriptProperty::Year:
        return integer(MHIT::kOffsetYear);
    case ScriptProperty::Compilation:
        return ScriptValue::Boolean(track->GetByte(kOffsetCompilation) != 0);
    case ScriptProperty::Podcast:
        return ScriptValue::Boolean((track->GetField(kOffsetMediaType) & kMediaPodcast) != 0);
    case ScriptProperty::PlayedCount:
        return integer(MHIT::kOffsetPlayCount);
    case ScriptProperty::SkippedCount:
        return integer(MHIT::kOffsetSkipCount);
    case ScriptProperty::PlayedDate:
        return ScriptValue::Integer(IPodPlayCounts::UnixTimeOf(track->GetField(MHIT::kOffsetLastPlayed)));
    case ScriptProperty::Rating:
        return ScriptValue::Integer(track->GetByte(MHIT::kOffsetRating));
    case ScriptProperty::DatabaseID: {
        auto found = idsOfTracks.find(track);
        return ScriptValue::Integer(found == idsOfTracks.end() ? 0 : found->second);
    }
    default:
        return ScriptValue();
    }
}

int IPodSource::CountTracks(const TrackSelection& selection, int& count)
{
    count = 0;
    if (int err = Listing(); err != 0)
        return err;
    std::vector<Member> members;
    if (int err = Members(selection, members); err != 0)
        return err;
    count = static_cast<int>(members.size());
    return 0;
}

int IPodSource::ListTracks(const TrackSelection& selection, int offset, int limit,
                           std::vector<TrackEntry>& out)
{
    out.clear();
    if (int err = Listing(); err != 0)
        return err;
    std::vector<Member> members;
    if (int err = Members(selection, members); err != 0)
        return err;
    for (std::size_t i = static_cast<std::size_t>(std::max(offset, 0));
         i < members.size() && (limit < 0 || static_cast<int>(out.size()) < limit); ++i)
        out.push_back(TrackEntry{idsOfTracks[members[i].track], members[i].entry});
    return 0;
}

int IPodSource::ReadTracks(const TrackSelection& selection, ScriptProperty property,
                           std::vector<ScriptValue>& out)
{
    out.clear();
    if (!IsTrackProperty(property))
        return Fail(kErrUnknown, "a track has no " + ScriptPropertyText(property));
    if (int err = Listing(); err != 0)
        return err;
    std::vector<Member> members;
    if (int err = Members(selection, members); err != 0)
        return err;
    out.reserve(members.size());
    for (const Member& member : members)
        out.push_back(ValueOf(member.track, property));
    return 0;
}

int IPodSource::ReadTrack(std::uint32_t track, ScriptProperty property, ScriptValue& out)
{
    MHIT* found = TrackOf(track);
    if (!found)
        return Fail(kErrObjectNotFound,
                    "the iPod has no track with the database ID " + std::to_string(track));
    if (!IsTrackProperty(property))
        return Fail(kErrUnknown, "a track has no " + ScriptPropertyText(property));
    out = ValueOf(found, property);
    return 0;
}

int IPodSource::ReadPictures(std::uint32_t track, std::vector<TrackPicture>& out)
{
    ScriptValue location;
    if (int err = ReadTrack(track, ScriptProperty::Location, location); err != 0)
        return err;
    TrackArtwork::Read(location.GetText(), false, out);
    return 0;
}

int IPodSource::AddToPlaylist(std::uint32_t track, std::int64_t playlist)
{
    MHIT* found = TrackOf(track);
    MHYP* target = PlaylistOf(playlist);
    if (!found || !target)
        return Fail(kErrObjectNotFound, "the track or the playlist no longer exists");
    if (InfoOf(target).library || Holds(target, found))
        return 0;
    if (int err = Change(); err != 0)
        return err;
    std::vector<MHYP*> all = Mirrors(target);
    all.push_back(target);
    for (MHYP* each : all) {
        each->AddSong(found, -1);
        if (auto members = membersOf.find(each); members != membersOf.end())
            members->second.insert(found);
    }
    undo.push_back([all, found] {
        for (MHYP* each : all)
            if (each->GetSongCount() > 0 && each->GetSong(each->GetSongCount() - 1) == found)
                each->RemoveSong(each->GetSongCount() - 1);
    });
    return 0;
}

int IPodSource::AddFile(const std::string& path, std::int64_t playlist, std::uint32_t& track)
{
    track = 0;
    const std::string location = LibrarySource::NormalPath(path);
    if (location.empty())
        return Fail(kErrInvalidPath, "\"" + path + "\" is not an absolute path");
    if (!PlaylistOf(playlist))
        return Fail(kErrObjectNotFound, "the playlist no longer exists");

    // A file of this iPod is its track.
    bool inPlace = false;
    if (location.size() > mountPoint.size() &&
        location.compare(0, mountPoint.size() + 1, mountPoint + "/") == 0) {
        if (MHIT* candidate = TrackAt(location)) {
            track = idsOfTracks[candidate];
            return AddToPlaylist(track, playlist);
        }
        // A song file in the iPod's music folder that no track lists (left by a program that
        // stopped, or one the database lost) becomes a track where it is; any other file of the
        // iPod is not a song.
        const AString folder = AString::FromUTF8(location.substr(0, location.rfind('/')));
        if (!IPodRecovery::InsideMusicFolder(root, folder))
            return Fail(kErrObjectNotFound, location + " lies on the iPod outside its music folder");
        inPlace = true;
    }

    TrackRecord record;
    std::string why;
    ID3 tags;
    // The file is opened once, for its tags and its copy.
    AFile source;
    if (int err = TrackRecord::Read(location, record, why, &tags, &source); err != 0)
        return Fail(err, "cannot add " + location + ": " + why);
    const AString file = AString::FromUTF8(location);
    SongInfoStruct song;
    tags.GetSongInfo(song);
    // The file as the tag reader found it: not looked at again.
    const std::uint64_t fileSize = tags.GetFileBytes();
    song.modTime = tags.GetFileModTime();
    song.modifiedName = AString::FromUTF8(record.name);

    // The same song (genre, artist, album, name and file type) is on the iPod already: that track.
    if (MHIT* same = SameSong(song)) {
        track = idsOfTracks[same];
        return AddToPlaylist(track, playlist);
    }

    if (int err = Change(); err != 0)
        return err;
    AString destination;
    if (inPlace) {
        song.filePath = file.Mid(root.GetLength() - 1, file.GetLength());
        MHIT* added = nullptr;
        if (int err = database->AddSong(song, &added, 1); err != 0 || !added)
            return Fail(err != 0 ? err : kErrAddSong, "cannot enter " + location + " in the iPod's database");
        added->SetFilepath(song.filePath);
        return Entered(added, record, playlist, track, AString());
    }
    if (int err = IPodMusicFolder::ChooseDestination(root, file, song, destination, &musicFolders); err != 0)
        return Fail(err, "cannot copy " + location + " onto the iPod" + AError::Message(err) + Detail(err));
    song.filePath = destination.Mid(root.GetLength() - 1, destination.GetLength());
    // Named in the iPod's journal before it is copied: a process that stops between the copy and
    // the next store leaves a file the next run takes in as the song it is, never an orphan.
    IPodJournal::Entry entry;
    entry.location = song.filePath;
    entry.size = fileSize;
    entry.genre = song.genre;
    entry.artist = song.artist;
    entry.album = song.album;
    entry.name = song.modifiedName.IsEmpty() ? song.name : song.modifiedName;
    if (int err = journal.Add(entry); err != 0)
        return Fail(err, "cannot write the iPod's journal" + std::string(AError::Message(err)) + Detail(err));
    // Unflushed: the journal flushes the batch of copies at once, before any store lists them.
    if (int err = AFile::CopyWithProgress(&file, source, &destination, nullptr, nullptr, false); err != 0) {
        if (AFile::GetPathType(&destination) == AFile::kPathFile)
            AFile::Delete(&destination);
        journal.ForgetLast();
        musicFolders.Forget(); // the folder may be gone: the next song looks again
        return Fail(err, "cannot copy " + location + " onto the iPod" + AError::Message(err) + Detail(err));
    }
    MHIT* added = nullptr;
    if (int err = database->AddSong(song, &added, 1); err != 0 || !added) {
        AFile::Delete(&destination);
        journal.ForgetLast();
        return Fail(err != 0 ? err : kErrAddSong, "cannot enter " + location + " in the iPod's database");
    }
    added->SetFilepath(song.filePath);
    database->SetArtworkSource(added, file, tags.GetImageCount() > 0);
    if (int err = Entered(added, record, playlist, track, destination); err != 0)
        return err;
    cadence.Copied(entry.size);
    if (int err = journal.Copied(entry.size); err != 0)
        return Fail(err, "cannot write onto the iPod at " + mountPoint + AError::Message(err) + Detail(err));
    return 0;
}

int IPodSource::Entered(MHIT* added, const TrackRecord& record, std::int64_t playlist, std::uint32_t& track,
                        const AString& copy)
{
    added->SetField(kOffsetTrackCount, static_cast<std::uint32_t>(record.trackCount));
    added->SetField(kOffsetDiscNumber, static_cast<std::uint32_t>(record.discNumber));
    added->SetField(kOffsetDiscCount, static_cast<std::uint32_t>(record.discCount));
    added->SetByte(kOffsetCompilation, record.compilation ? 1 : 0);
    if (record.sampleRate > 0)
        added->SetField(MHIT::kOffsetSampleRate, static_cast<std::uint32_t>(record.sampleRate) << 16);
    added->SetField(kOffsetMediaType, record.podcast ? kMediaPodcast : kMediaAudio);
    added->SetStringField(AString::FromUTF8(record.kind), kFileType);
    if (!record.albumArtist.empty())
        added->SetStringField(AString::FromUTF8(record.albumArtist), kAlbumArtist);

    // A lasting id of its own that folds to a database ID no other track has.
    static std::mt19937_64 random{std::random_device{}()};
    std::uint32_t chosen = 0;
    while (chosen == 0 || tracksById.count(chosen))
        chosen = static_cast<std::uint32_t>(random()) & kIdMask;
    const std::uint32_t high = static_cast<std::uint32_t>(random() >> 32) & kIdMask;
    const std::uint64_t persistentId = static_cast<std::uint64_t>(high) << 32 | (chosen ^ high);
    added->SetField(kOffsetPersistentId, static_cast<std::uint32_t>(persistentId));
    added->SetField(kOffsetPersistentId + 4, static_cast<std::uint32_t>(persistentId >> 32));
    track = AssignId(added, persistentId);

    // Undone, the track goes, and the copy made for it (a file taken in where it was stays).
    undo.push_back([this, added, copy] {
        Forget(added);
        database->GetDatabase()->RemoveTrack(added);
        if (!copy.IsEmpty()) {
            AString file = copy;
            AFile::Delete(&file);
        }
    });
    return AddToPlaylist(track, playlist);
}

int IPodSource::DeleteTracks(std::int64_t playlist, const std::vector<TrackEntry>& entries)
{
    MHYP* target = PlaylistOf(playlist);
    if (!target)
        return Fail(kErrObjectNotFound, "the playlist no longer exists");
    const bool library = InfoOf(target).library;
    membersOf.clear();
    for (const TrackEntry& entry : entries) {
        MHIT* track = TrackOf(entry.id);
        if (!track)
            continue;
        if (int err = Change(); err != 0)
            return err;
        if (library) {
            // Out of every playlist and the track list at the commit; the file stays.
            deleting.insert(track);
            undo.push_back([this, track] { deleting.erase(track); });
            continue;
        }
        std::vector<MHYP*> all{target};
        for (MHYP* mirror : Mirrors(target))
            all.push_back(mirror);
        for (std::size_t n = 0; n < all.size(); ++n) {
            MHYP* each = all[n];
            // The entry itself in the playlist the script read, the track's first entry in the others.
            int index = -1;
            if (n == 0 && entry.entry > 0 && entry.entry <= each->GetSongCount() &&
                each->GetSong(static_cast<int>(entry.entry - 1)) == track)
                index = static_cast<int>(entry.entry - 1);
            for (int i = 0; index < 0 && i < each->GetSongCount(); ++i)
                if (each->GetSong(i) == track)
                    index = i;
            if (index < 0)
                continue;
            each->RemoveSong(index);
            undo.push_back([each, index, track] { each->AddSong(track, index); });
        }
    }
    return 0;
}
