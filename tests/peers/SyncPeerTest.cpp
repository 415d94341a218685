// Cross-checks of `pelorin sync` with libgpod, an independent reader and writer of the iPod
// database: after a sync onto an iPod libgpod reads exactly the songs that were synced, with their
// files, and a database libgpod wrote comes out of a sync with exactly the songs and playlists
// expected.

#include "ACommon/base/AString.h"
#include "ACommon/tags/ID3.h"
#include "GpodPeer.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

using fixtures::ListFiles;
using fixtures::ReadFile;
using peers::ByTitle;
using peers::FileOf;
using peers::PeerPlaylist;
using peers::PeerTrack;

namespace {

// What libgpod must read for a song file put on the iPod at `ipodPath`: its tags as read here.
PeerTrack ExpectedTrack(const std::string& file, const std::string& ipodPath)
{
    ID3 tags;
    EXPECT_EQ(tags.SetFilePath(AString::FromUTF8(file)), 0) << file;
    AString title, artist, album, genre;
    tags.GetName(title);
    tags.GetArtist(artist);
    tags.GetAlbum(album);
    tags.GetGenre(genre);
    long seconds = 0, bitRate = 0;
    tags.GetDuration(seconds);
    tags.GetBitrate(bitRate);
    return {title.ToStdString(),
            artist.ToStdString(),
            album.ToStdString(),
            genre.ToStdString(),
            ipodPath,
            static_cast<std::uint32_t>(std::filesystem::file_size(file)),
            static_cast<std::int32_t>(seconds * 1000),
            static_cast<std::int32_t>(bitRate)};
}

std::multiset<std::string> Members(const PeerPlaylist& playlist)
{
    return {playlist.titles.begin(), playlist.titles.end()};
}

fixtures::CommandResult Sync(const fixtures::TempDir& tmp, const std::string& folder, const std::string& type)
{
    return fixtures::RunPelorin(
        {"sync", "--from", folder, "--type", type, "--yes"}, "",
        {"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data", "HOME=" + tmp / "home"});
}

} // namespace

TEST(SyncPeer, LibgpodReadsExactlyTheSongsSyncedOntoTheDemonstrationIPod)
{
    fixtures::TempDir tmp;
    ASSERT_EQ(fixtures::RunPelorin({"demo", tmp.Path()}).exitStatus, 0);
    const std::string root = tmp / "Volumes/DEMOPOD";
    fixtures::CommandResult result = Sync(tmp, tmp / "Songs", "copy-to-ipod");
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    peers::PeerDatabase peer = peers::ReadWithGpod(root);
    // Each track's file is a copy of one song of the folder, and carries that song's tags.
    std::map<std::string, std::string> songByTitle;
    for (const std::string& file : ListFiles(tmp / "Songs")) {
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(tmp / ("Songs/" + file))), 0);
        AString title;
        tags.GetName(title);
        songByTitle[title.ToStdString()] = tmp / ("Songs/" + file);
    }
    ASSERT_EQ(peer.tracks.size(), songByTitle.size());
    std::vector<PeerTrack> expected;
    std::multiset<std::string> titles;
    for (const PeerTrack& track : peer.tracks) {
        ASSERT_EQ(songByTitle.count(track.title), 1u) << track.title;
        const std::string& song = songByTitle[track.title];
        EXPECT_EQ(ReadFile(FileOf(root, track.path)), ReadFile(song)) << track.title;
        expected.push_back(ExpectedTrack(song, track.path));
        titles.insert(track.title);
    }
    EXPECT_EQ(ByTitle(peer.tracks), ByTitle(expected));
    // One playlist, the iPod's library, holding every song.
    ASSERT_EQ(peer.playlists.size(), 1u);
    EXPECT_EQ(peer.playlists[0].name, "Demo iPod");
    EXPECT_TRUE(peer.playlists[0].library);
    EXPECT_EQ(Members(peer.playlists[0]), titles);
}

TEST(SyncPeer, ADatabaseLibgpodWroteComesOutOfASyncWithExactlyThePlannedChanges)
{
    fixtures::TempDir tmp;
    const std::string root = fixtures::MakeIPod(tmp / "Volumes", "GPODPOD");
    // Three songs on the iPod, put there by libgpod; the folder holds two of them and a new one.
    struct Song {
        const char* title;
        const char* artist;
        const char* ipodPath;
        const char* folderFile; // empty: not in the folder
    };
    const Song songs[] = {
        {"Kept One", "Ann", ":iPod_Control:Music:F00:KEP1.mp3", "Ann/Album/01 Kept One.mp3"},
        {"Kept Two", "Bob", ":iPod_Control:Music:F01:KEP2.mp3", "Bob/Album/01 Kept Two.mp3"},
        {"Dropped", "Cy", ":iPod_Control:Music:F02:DROP.mp3", ""},
    };
    std::vector<PeerTrack> written;
    std::uint32_t seed = 0;
    for (const Song& song : songs) {
        const fixtures::SongSpec songSpec = fixtures::SongSpecOf(song.title, seed++, 0, song.artist);
        const std::string onIPod = FileOf(root, song.ipodPath);
        fixtures::WriteSong(onIPod, songSpec);
        if (*song.folderFile)
            fixtures::WriteSong(tmp / ("Songs/" + std::string(song.folderFile)), songSpec);
        written.push_back(ExpectedTrack(onIPod, song.ipodPath));
    }
    fixtures::WriteSong(tmp / "Songs/Dee/Album/01 Added.mp3", fixtures::SongSpecOf("Added", 7, 0, "Dee"));
    ASSERT_TRUE(peers::WriteWithGpod(root, "Gpod iPod", written, {{"Road Trip", {2, 0}}}));

    fixtures::CommandResult result = Sync(tmp, tmp / "Songs", "make-ipod-equal");
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    peers::PeerDatabase peer = peers::ReadWithGpod(root);
    ASSERT_EQ(peer.tracks.size(), 3u);
    const PeerTrack* added = nullptr;
    for (const PeerTrack& track : peer.tracks)
        if (track.title == "Added")
            added = &track;
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(ReadFile(FileOf(root, added->path)), ReadFile(tmp / "Songs/Dee/Album/01 Added.mp3"));
    EXPECT_EQ(ByTitle(peer.tracks),
              ByTitle({written[0], written[1], ExpectedTrack(FileOf(root, added->path), added->path)}));
    // The dropped song's file went into "Removed Files" on the iPod; the kept ones stayed put.
    EXPECT_FALSE(std::filesystem::exists(FileOf(root, songs[2].ipodPath)));
    EXPECT_EQ(ListFiles(root + "/Removed Files"), std::vector<std::string>{"Cy/Album/Dropped.mp3"});

    std::map<std::string, PeerPlaylist> playlists;
    for (const PeerPlaylist& playlist : peer.playlists)
        playlists[playlist.name] = playlist;
    ASSERT_EQ(playlists.size(), 2u);
    EXPECT_TRUE(playlists["Gpod iPod"].library);
    EXPECT_EQ(Members(playlists["Gpod iPod"]), (std::multiset<std::string>{"Added", "Kept One", "Kept Two"}));
    EXPECT_FALSE(playlists["Road Trip"].library);
    EXPECT_EQ(playlists["Road Trip"].titles, std::vector<std::string>{"Kept One"});
}
