#pragma once
// LibrarySource: the library's own source ("Library"), kept in the LibraryStore. Its library
// playlist lists every track in the order they were added; its special playlists (Music, Movies,
// TV Shows, Podcasts, Audiobooks, Purchased, Party Shuffle) list the tracks of their kind in the
// same order; ordinary playlists list their members in the order they were put in. A track's
// location is the path it was added by, whether or not a file is there now.

#include "musiclib/LibraryStore.h"
#include "musiclib/MusicSource.h"
#include "musiclib/TrackRecord.h"

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class LibrarySource : public MusicSource {
public:
    explicit LibrarySource(LibraryStore& libraryStore) : store(libraryStore) {}

    std::int64_t GetId() const override { return LibraryStore::kLibrarySourceId; }
    std::string GetName() override { return "Library"; }
    std::string GetKind() const override { return "library"; }

    int Playlists(std::vector<PlaylistInfo>& out) override;
    int FindPlaylist(const std::string& name, PlaylistInfo& out) override;
    int GetPlaylist(std::int64_t id, PlaylistInfo& out) override;
    int GetLibraryPlaylist(PlaylistInfo& out) override;
    int MakePlaylist(const std::string& name, PlaylistInfo& out) override;
    int RenamePlaylist(std::int64_t id, const std::string& name) override;
    int SetTrackValue(std::uint32_t id, ScriptProperty property, std::int64_t value) override;
    int DeletePlaylist(std::int64_t id) override;
    int PlaysBroughtBack(std::vector<std::string>& keys) override;
    int AddPlaysBroughtBack(const std::string& key) override;

    int CountTracks(const TrackSelection& selection, int& count) override;
    int ListTracks(const TrackSelection& selection, int offset, int limit,
                   std::vector<TrackEntry>& out) override;
    int ReadTracks(const TrackSelection& selection, ScriptProperty property,
                   std::vector<ScriptValue>& out) override;
    int ReadTrack(std::uint32_t id, ScriptProperty property, ScriptValue& out) override;
    int ReadPictures(std::uint32_t id, std::vector<TrackPicture>& out) override;

    int AddFile(const std::string& path, std::int64_t playlist, std::uint32_t& id) override;
    int AddToPlaylist(std::uint32_t id, std::int64_t playlist) override;
    int DeleteTracks(std::int64_t playlist, const std::vector<TrackEntry>& entries) override;

    // A transaction begun for reading takes no write lock, and a change in it is refused with
    // kErrBusy and NeedsWriter() set: the caller begins again for writing.
    int Begin(bool write) override;
    int Commit() override;
    void Rollback() override;

    // For adding many files: the track a file was added by (0 when none; also the track of a file
    // that was renamed or moved since, see TakeOver), and a track from a record read before (inside a
    // transaction the caller began; a file the library holds by its location already gives that track).
    int FindTrack(const std::string& location, const std::string& canonical, std::uint32_t& id);
    // `inserted` (when given) tells a new track from one another process added meanwhile.
    int InsertTrack(const TrackRecord& record, std::uint32_t& id, bool* inserted = nullptr);
    // Reads again the tags of every track (whose location, or the file its link leads to, lies under
    // `folder`, when one is given) whose file is no longer the one its record was read from
    // (TrackRecord::FileChanged), in a transaction of its own; `refreshed` counts those whose record
    // changed. A track whose file is missing, or cannot be read now, is left as it is.
    int RefreshChanged(const std::string& folder, int& refreshed);
    // The track `id`, found for the file at `location` (FindTrack), inside the caller's transaction:
    // given that path when nothing is at its own any more (a link gone, a file renamed or moved), and
    // read again when its file changed.
    int TakeOver(std::uint32_t id, const std::string& location, const std::string& canonical);
    // Every track added through a link to a file under `folder`, whose link is gone while the file
    // is there, is given the file's own path, in a transaction of its own; `followed` counts them.
    int FollowLinksUnder(const std::string& folder, int& followed);
    // Adds to `out` the location and the resolved path of every track whose file lies under `folder`.
    int PathsUnder(const std::string& folder, std::unordered_set<std::string>& out);
    // The absolute, normalised form of a path a file is added by; empty for one that is not absolute.
    static std::string NormalPath(const std::string& path);
    bool NeedsWriter() const { return needsWriter; }

private:
    int Query(const TrackSelection& selection, const std::string& columns, int offset, int limit,
              const std::function<void(LibraryStore::Query&)>& row);
    int PlaylistRow(LibraryStore::Query& query, PlaylistInfo& out);
    int CheckNewName(const std::string& name, std::int64_t except);
    int Writable();
    // Gives the track `id` another path to its file.
    int Relocate(std::int64_t id, const std::string& location, const std::string& canonical);
    // Reads the file of the track `id` again into its record; `changed` when what it read differs.
    int Reread(std::int64_t id, const std::string& location, bool& changed);

    LibraryStore& store;
    bool writing = false;
    bool needsWriter = false;
};
