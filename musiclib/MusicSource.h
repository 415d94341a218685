#pragma once
// MusicSource: one source of the library as scripts see it: the library itself, or an iPod attached
// to it. A source has playlists, the first of which (its library playlist) holds every track of
// the source; every list of tracks comes in the playlist's order, the same order for every
// property and for counts. Changes happen between Begin and Commit and are undone by Rollback;
// no operation of a source deletes a music file.
//
// Operations return 0 or an error code (AError.h); LastError() says what went wrong in words.

#include "ACommon/base/AError.h"
#include "musiclib/ScriptProperty.h"
#include "musiclib/ScriptValue.h"

#include <cstdint>
#include <string>
#include <vector>

struct PlaylistInfo {
    std::int64_t id = 0;
    std::string name;
    bool smart = false;
    // What the playlist is for: "kSpN" for an ordinary playlist; "kSpZ" music, "kSpI" movies,
    // "kSpT" TV shows, "kSpP" podcasts, "Audiobooks", "kSpM" purchased music, "kSpS" party shuffle.
    std::string specialKind = "kSpN";
    bool library = false; // holds every track of the source
    // A library playlist or a special one: its tracks follow from the source's, so it cannot be
    // renamed, deleted, or have tracks taken out of it directly.
    bool IsFixed() const { return library || specialKind != "kSpN"; }
};

// One track of a list: its database ID and the playlist entry it stands in (0 in a library or a
// special playlist).
struct TrackEntry {
    std::uint32_t id = 0;
    std::int64_t entry = 0;
};

// One picture of a track, JPEG or PNG bytes.
struct TrackPicture {
    std::vector<std::uint8_t> bytes;
    std::string format; // "JPEG" or "PNG"
};

class MusicSource {
public:
    virtual ~MusicSource() = default;

    virtual std::int64_t GetId() const = 0;
    virtual std::string GetName() = 0;
    virtual std::string GetKind() const = 0; // "library" or "iPod"

    // The playlists, the library playlist first. Names are matched ignoring case, with canonically
    // equivalent text equal.
    virtual int Playlists(std::vector<PlaylistInfo>& out) = 0;
    virtual int FindPlaylist(const std::string& name, PlaylistInfo& out) = 0;
    virtual int GetPlaylist(std::int64_t id, PlaylistInfo& out) = 0;
    virtual int GetLibraryPlaylist(PlaylistInfo& out) = 0;
    // A new ordinary playlist. A name that another playlist of the source has, that is empty, or
    // that holds a line break or another control character is refused.
    virtual int MakePlaylist(const std::string& name, PlaylistInfo& out) = 0;
    virtual int RenamePlaylist(std::int64_t id, const std::string& name) = 0;
    // Removes an ordinary playlist; its tracks stay in the source.
    virtual int DeletePlaylist(std::int64_t id) = 0;

    virtual int CountTracks(const TrackSelection& selection, int& count) = 0;
    // The tracks of the selection from `offset` on, at most `limit` of them (all when negative).
    virtual int ListTracks(const TrackSelection& selection, int offset, int limit,
                           std::vector<TrackEntry>& out) = 0;
    // One property of every track of the selection.
    virtual int ReadTracks(const TrackSelection& selection, ScriptProperty property,
                           std::vector<ScriptValue>& out) = 0;
    // One property of one track; kErrObjectNotFound when the source holds no such track.
    virtual int ReadTrack(std::uint32_t id, ScriptProperty property, ScriptValue& out) = 0;
    // The pictures of a track: those in its file, then (library only) an image in its folder.
    virtual int ReadPictures(std::uint32_t id, std::vector<TrackPicture>& out) = 0;

    // Adds the music file at `path` to the source and to `playlist` (its library playlist: to the
    // source only). A file the source holds already gives its track, which is then put in the
    // playlist if it is not there yet.
    virtual int AddFile(const std::string& path, std::int64_t playlist, std::uint32_t& id) = 0;
    // Puts a track of the source in an ordinary playlist (once).
    virtual int AddToPlaylist(std::uint32_t id, std::int64_t playlist) = 0;
    // Takes tracks out of a playlist: out of an ordinary playlist only the entries (or, for an
    // entry of 0, every entry of the track); out of the library playlist the tracks themselves,
    // from every playlist. The files stay.
    virtual int DeleteTracks(std::int64_t playlist, const std::vector<TrackEntry>& entries) = 0;

    // Sets what was listened to of a track (played count, skipped count, played date, rating). A
    // played count that grows records the plays it grew by, at the track's played date (set first).
    // Only the library keeps these of its own.
    virtual int SetTrackValue(std::uint32_t id, ScriptProperty property, std::int64_t value)
    {
        (void)id;
        (void)value;
        return Fail(kErrUnknown,
                    "the " + ScriptPropertyText(property) + " of this source's tracks cannot be set");
    }

    // The keys of the iPods' records of plays the source took in (PlaysBroughtBack); adding a key it
    // holds is refused with kErrDuplicate. Only the library keeps these.
    virtual int PlaysBroughtBack(std::vector<std::string>& keys)
    {
        (void)keys;
        return Fail(kErrUnknown, "this source keeps no plays brought back");
    }
    virtual int AddPlaysBroughtBack(const std::string& key)
    {
        (void)key;
        return Fail(kErrUnknown, "this source keeps no plays brought back");
    }

    // A script's changes: Begin before the first, Commit or Rollback at the end of the script.
    virtual int Begin(bool write) = 0;
    virtual int Commit() = 0;
    virtual void Rollback() = 0;

    const std::string& LastError() const { return lastError; }

protected:
    // Records `why` and returns `code`.
    int Fail(int code, std::string why)
    {
        lastError = std::move(why);
        return code;
    }

private:
    std::string lastError;
};
