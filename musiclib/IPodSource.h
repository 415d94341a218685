#pragma once
// IPodSource: an iPod attached to the library, served from the iPod's own database (IPodDB):
// its tracks, in the order of each playlist; its playlists (those of the first playlist dataset,
// every change made to the same playlist of each dataset); adding a file (copied into the iPod's
// music folders and entered in its database); putting tracks in playlists and taking them out;
// making and deleting playlists. A track's database ID comes from the 64-bit id the database keeps
// for it (else from its location on the iPod), so it stays the same across scripts and reloads for
// as long as the track exists.
//
// Changes are kept in memory and written back (safely, with iTunesSD) as IPodStoreCadence says,
// when Flush is called (the bridge asks at the end of a
// sync), and when the object goes: as the iPod's database source stores, never once per song. From
// its first change until that write the source holds the iPod's advisory lock, so no other writer
// can slip in between; a database changed on disk since it was read is read again before anything
// is changed. It keeps the same journal, order and recovery as the database source (IPodRecovery):
// each file is named in the iPod's journal (IPodJournal, shared with the sync's side, which names
// the files of the songs it removes) before it is copied, and the journal is emptied of it by the
// store that lists it; reading the database takes in what an interrupted run left. No operation
// deletes a file of a song the database lists.

#include "musiclib/MusicSource.h"

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/itunesdb/IPodMusicFolder.h"
#include "ACommon/itunesdb/IPodRecovery.h"
#include "ACommon/itunesdb/IPodStoreCadence.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class IPodDB;
struct SongInfoStruct;
struct TrackRecord;
class MHIT;
class MHYP;

class IPodSource : public MusicSource {
public:
    // The iPod mounted at `mountPoint`, known to the library as the source `id`.
    IPodSource(std::int64_t id, std::string mountPoint);
    ~IPodSource() override;

    std::int64_t GetId() const override { return id; }
    std::string GetName() override;
    std::string GetKind() const override { return "iPod"; }
    const std::string& GetMountPoint() const { return mountPoint; }

    int Playlists(std::vector<PlaylistInfo>& out) override;
    int FindPlaylist(const std::string& name, PlaylistInfo& out) override;
    int GetPlaylist(std::int64_t playlist, PlaylistInfo& out) override;
    int GetLibraryPlaylist(PlaylistInfo& out) override;
    int MakePlaylist(const std::string& name, PlaylistInfo& out) override;
    int RenamePlaylist(std::int64_t playlist, const std::string& name) override;
    int DeletePlaylist(std::int64_t playlist) override;

    int CountTracks(const TrackSelection& selection, int& count) override;
    int ListTracks(const TrackSelection& selection, int offset, int limit,
                   std::vector<TrackEntry>& out) override;
    int ReadTracks(const TrackSelection& selection, ScriptProperty property,
                   std::vector<ScriptValue>& out) override;
    int ReadTrack(std::uint32_t track, ScriptProperty property, ScriptValue& out) override;
    int ReadPictures(std::uint32_t track, std::vector<TrackPicture>& out) override;

    int AddFile(const std::string& path, std::int64_t playlist, std::uint32_t& track) override;
    int AddToPlaylist(std::uint32_t track, std::int64_t playlist) override;
    int DeleteTracks(std::int64_t playlist, const std::vector<TrackEntry>& entries) override;

    int Begin(bool write) override;
    int Commit() override;
    void Rollback() override;

    // Writes the database back when it holds unsaved changes (asked for by a script that changed
    // it, at the script's end). With `settle` (the end of a sync), what an interrupted run left on
    // the iPod is settled too, even when nothing else changed. 0 or an error code.
    int Flush(bool settle = false);

private:
    struct Member {
        MHIT* track;
        std::int64_t entry; // the item's place in its playlist, from 1; 0 in the library playlist
    };

    int Load();
    int Reload();
    int Ready();
    bool ChangedOnDisk() const;
    // Before a change: the database current and the iPod's lock held.
    int Change();
    // Takes the lock and removes what an interrupted run left; the songs it took in count as
    // unsaved changes.
    int SettleRecovery();
    // Sets the fields of a track just entered for the file `record` describes, gives it its IDs
    // and puts it in `playlist`; undone, the track goes, and `copy` (the file copied for it) too.
    int Entered(MHIT* added, const TrackRecord& record, std::int64_t playlist, std::uint32_t& track,
                const AString& copy);
    int Listing();
    std::vector<MHYP*> Mirrors(MHYP* playlist) const;
    MHYP* PlaylistOf(std::int64_t playlist);
    std::int64_t IdOf(MHYP* playlist);
    PlaylistInfo InfoOf(MHYP* playlist);
    int Members(const TrackSelection& selection, std::vector<Member>& out);
    bool PassesAll(MHIT* track, const std::vector<TrackCondition>& conditions);
    ScriptValue ValueOf(MHIT* track, ScriptProperty property);
    MHIT* TrackOf(std::uint32_t id);
    std::uint32_t AssignId(MHIT* track, std::uint64_t persistentId);
    int CheckNewName(const std::string& name, MHYP* except);
    void Forget(MHYP* playlist);
    void Forget(const MHIT* track);
    // The track whose file is `location` (a path on this iPod), ignoring ASCII case; null when none.
    MHIT* TrackAt(const std::string& location);
    // The track of the same song as `song` (MHIT::CompareTo); null when none.
    MHIT* SameSong(const SongInfoStruct& song);
    // True when `track` is in `playlist`.
    bool Holds(MHYP* playlist, const MHIT* track);

    std::int64_t id;
    std::string mountPoint;
    AString root;
    std::unique_ptr<IPodDB> database;
    IPodLock lock;
    IPodJournal& journal;                // shared with the sync's side of this iPod
    IPodMusicFolder::Known musicFolders; // the music folders found or made since the database was read
    // What an interrupted run left, found when the database was read: removed at the first change
    // (or a settling flush), when the songs taken in also become changes to store.
    std::vector<IPodRecovery::LeftFile> leftFiles;
    bool recoveryPending = false;
    int takenIn = 0;
    // When the changes kept are written.
    IPodStoreCadence cadence;
    int storeCount = 0;
    struct Stamp {
        std::int64_t size = -1, seconds = 0, nanoseconds = 0;
        std::uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    } loaded;

    std::unordered_map<std::uint32_t, MHIT*> tracksById;
    std::unordered_map<const MHIT*, std::uint32_t> idsOfTracks;
    std::unordered_map<std::int64_t, MHYP*> playlistsById;
    std::unordered_map<const MHYP*, std::int64_t> idsOfPlaylists;
    std::int64_t nextPlaylistId = 1;
    // Tracks by their file's path below the mount point in lower case, made on first use (a copy
    // puts its track in "Last Sync" by its file, so every copy asks) and kept with tracksById.
    std::unordered_multimap<std::string, MHIT*> tracksByLocation;
    bool locationsIndexed = false;
    // Tracks by their title's key (MHIT::GetNameKey), made on first use (a file added again is
    // found as the track of its song) and kept with tracksById.
    std::unordered_multimap<std::uint32_t, MHIT*> tracksByNameKey;
    bool nameKeysIndexed = false;
    // The tracks of each playlist asked about, made on first use; adding a track keeps it, every
    // other change to playlists or tracks drops them all.
    std::unordered_map<const MHYP*, std::unordered_set<const MHIT*>> membersOf;
    // The library playlist's tracks as every listing of it without conditions gives them (a sync
    // reads six properties of each): made on first use, dropped by every change.
    std::vector<Member> libraryListing;
    bool libraryListed = false;

    // The script under way.
    bool inScript = false;
    bool checkDisk = true;
    bool changedInScript = false;
    bool listedInScript = false;
    bool flushAtCommit = false;
    std::vector<std::function<void()>> undo;
    std::vector<std::function<void()>> onCommit;
    std::set<MHIT*> deleting; // tracks taken out of the library playlist; removed at the commit
    int changesInScript = 0;
    int unsavedChanges = 0;
};
