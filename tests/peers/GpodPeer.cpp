#include "GpodPeer.h"

#include <gpod/itdb.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace peers {

namespace {

std::string Text(const gchar* text) { return text ? text : ""; }

gchar* Copy(const std::string& text) { return text.empty() ? nullptr : g_strdup(text.c_str()); }

} // namespace

std::vector<PeerTrack> ThreeTracks()
{
    return {{"One", "Ann", "A", "Rock", ":iPod_Control:Music:F00:ONE1.mp3", 3001, 181000, 192},
            {"Two", "Ann", "A", "Rock", ":iPod_Control:Music:F00:TWO2.mp3", 3002, 182000, 128},
            {"Three", "Bob", "B", "Jazz", ":iPod_Control:Music:F01:THR3.mp3", 3003, 183000, 256}};
}

PeerDatabase ReadWithGpod(const std::string& root)
{
    PeerDatabase result;
    GError* error = nullptr;
    const GLogFunc before = g_log_set_default_handler(
        [](const gchar*, GLogLevelFlags level, const gchar* message, gpointer warnings) {
            if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
                static_cast<std::vector<std::string>*>(warnings)->push_back(message ? message : "");
        },
        &result.warnings);
    Itdb_iTunesDB* db = itdb_parse(root.c_str(), &error);
    g_log_set_default_handler(before, nullptr);
    if (!db) {
        result.error = error ? error->message : "itdb_parse failed";
        ADD_FAILURE() << "libgpod cannot read the database of " << root << ": " << result.error;
        if (error)
            g_error_free(error);
        return result;
    }
    result.ok = true;
    for (GList* node = db->tracks; node; node = node->next) {
        auto* track = static_cast<Itdb_Track*>(node->data);
        result.tracks.push_back({Text(track->title), Text(track->artist), Text(track->album),
                                 Text(track->genre), Text(track->ipod_path), track->size, track->tracklen,
                                 track->bitrate, track->playcount, track->skipcount, track->rating,
                                 static_cast<std::int64_t>(track->time_played),
                                 (track->mediatype & ITDB_MEDIATYPE_PODCAST) != 0});
    }
    for (GList* node = db->playlists; node; node = node->next) {
        auto* playlist = static_cast<Itdb_Playlist*>(node->data);
        PeerPlaylist peer{Text(playlist->name), itdb_playlist_is_mpl(playlist) != FALSE, {}};
        for (GList* member = playlist->members; member; member = member->next)
            peer.titles.push_back(Text(static_cast<Itdb_Track*>(member->data)->title));
        result.playlists.push_back(peer);
    }
    itdb_free(db);
    return result;
}

bool WriteWithGpod(const std::string& root, const std::string& name, const std::vector<PeerTrack>& tracks,
                   const std::vector<std::pair<std::string, std::vector<int>>>& playlists,
                   const std::vector<std::vector<std::uint8_t>>& covers)
{
    Itdb_iTunesDB* db = itdb_new();
    itdb_set_mountpoint(db, root.c_str());
    Itdb_Playlist* library = itdb_playlist_new(name.c_str(), FALSE);
    itdb_playlist_set_mpl(library);
    itdb_playlist_add(db, library, -1);
    Itdb_Playlist* podcasts = nullptr;
    std::vector<Itdb_Track*> made;
    bool thumbnails = true;
    for (const PeerTrack& peer : tracks) {
        Itdb_Track* track = itdb_track_new();
        track->title = Copy(peer.title);
        track->artist = Copy(peer.artist);
        track->album = Copy(peer.album);
        track->genre = Copy(peer.genre);
        track->ipod_path = Copy(peer.path);
        track->filetype = g_strdup("MPEG audio file");
        track->size = peer.size;
        track->tracklen = peer.lengthMs;
        track->bitrate = peer.bitrate;
        track->samplerate = 44100;
        itdb_track_add(db, track, -1);
        itdb_playlist_add_track(library, track, -1);
        if (peer.podcast) {
            if (!podcasts) {
                podcasts = itdb_playlist_new("Podcasts", FALSE);
                itdb_playlist_set_podcasts(podcasts);
                itdb_playlist_add(db, podcasts, -1);
            }
            track->mediatype = ITDB_MEDIATYPE_PODCAST;
            track->flag4 = 1;
            itdb_playlist_add_track(podcasts, track, -1);
        }
        const std::size_t index = made.size();
        if (index < covers.size() && !covers[index].empty() &&
            !itdb_track_set_thumbnails_from_data(track, covers[index].data(), covers[index].size())) {
            ADD_FAILURE() << "libgpod made no thumbnails for " << peer.title;
            thumbnails = false;
        }
        made.push_back(track);
    }
    for (const auto& [playlistName, members] : playlists) {
        Itdb_Playlist* playlist = itdb_playlist_new(playlistName.c_str(), FALSE);
        itdb_playlist_add(db, playlist, -1);
        for (int index : members)
            itdb_playlist_add_track(playlist, made.at(index), -1);
    }
    GError* error = nullptr;
    const bool written = itdb_write(db, &error) != FALSE;
    if (!written)
        ADD_FAILURE() << "libgpod cannot write the database of " << root << ": "
                      << (error ? error->message : "itdb_write failed");
    if (error)
        g_error_free(error);
    itdb_free(db);
    return written && thumbnails;
}

std::vector<PeerTrack> ByTitle(std::vector<PeerTrack> tracks)
{
    std::sort(tracks.begin(), tracks.end(),
              [](const PeerTrack& a, const PeerTrack& b) { return a.title < b.title; });
    return tracks;
}

const PeerPlaylist* FindPlaylist(const PeerDatabase& database, const std::string& name)
{
    for (const PeerPlaylist& playlist : database.playlists)
        if (playlist.name == name)
            return &playlist;
    return nullptr;
}

std::string FileOf(const std::string& root, std::string ipodPath)
{
    std::replace(ipodPath.begin(), ipodPath.end(), ':', '/');
    return root + ipodPath;
}

} // namespace peers

// libgpod and GLib keep a few allocations for the whole process (caches of the device description);
// the leak checker of the sanitizer builds is told to leave them alone.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgpod.so\n";
}
