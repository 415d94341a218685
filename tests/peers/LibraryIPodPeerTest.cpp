// An iPod served by the library, checked with libgpod: what the library writes, libgpod reads, with
// every member of every playlist; what libgpod wrote, the library serves with lasting IDs.

#include "GpodPeer.h"

#include "fixtures/IPodFixture.h"
#include "fixtures/LibraryFixture.h"

#include <algorithm>

namespace {

constexpr const char* kPod = "Peer Pod";

class LibraryIPodPeer : public fixtures::LibraryTest {
protected:
    static std::vector<std::uint32_t> Ids(const std::string& playlist)
    {
        std::vector<std::uint32_t> ids;
        EXPECT_EQ(Bridge(playlist, kPod).ReadIPodIDs(&ids), 0) << playlist;
        return ids;
    }
};

} // namespace

TEST_F(LibraryIPodPeer, WhatTheLibraryWritesLibgpodReadsWithEveryPlaylistMember)
{
    const std::string root = fixtures::MakeIPod(volumes, "POD", {.name = kPod});
    ASSERT_TRUE(peers::WriteWithGpod(root, kPod, peers::ThreeTracks(), {{"Mixed", {2, 0}}}));
    std::string error;
    ASSERT_EQ(library->AttachIPod("POD", error), 0) << error;
    const std::vector<std::uint32_t> before = Ids(kPod);
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(Ids("Mixed"), (std::vector<std::uint32_t>{before[2], before[0]}));

    MakePlaylist("Fresh", kPod);
    const auto four =
        static_cast<std::uint32_t>(Add(Song("in/Four.mp3", Tags("Four", "Library", "", 4)), "Mixed", kPod));
    Add(Song("in/Five.mp3", Tags("Five", "Library", "", 5)), "Fresh", kPod);
    EXPECT_EQ(Bridge(kPod, kPod).IPodAddSongToPlaylist(AString("Fresh"), before[1]), 0);
    EXPECT_EQ(Delete(before[0], kPod, kPod), 0);
    EXPECT_EQ(Delete(four, "Mixed", kPod), 0);
    EXPECT_EQ(Bridge(kPod, kPod).UpdateIPod(), 0);

    peers::PeerDatabase peer = peers::ReadWithGpod(root);
    ASSERT_EQ(peer.tracks.size(), 4u);
    // libgpod lists the library playlist in the order of the track list; the other playlists in their own.
    std::vector<peers::PeerPlaylist> expected = {{"Peer Pod", true, {"Five", "Four", "Three", "Two"}},
                                                 {"Mixed", false, {"Three"}},
                                                 {"Fresh", false, {"Five", "Two"}}};
    ASSERT_EQ(peer.playlists.size(), expected.size());
    std::sort(peer.playlists[0].titles.begin(), peer.playlists[0].titles.end());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(peer.playlists[i].name, expected[i].name);
        EXPECT_EQ(peer.playlists[i].library, expected[i].library);
        EXPECT_EQ(peer.playlists[i].titles, expected[i].titles) << expected[i].name;
    }
    for (const peers::PeerTrack& track : peer.tracks) {
        if (track.title == "Four" || track.title == "Five") {
            EXPECT_EQ(track.artist, "Library");
            EXPECT_EQ(track.path.rfind(":iPod_Control:Music:F", 0), 0u) << track.path;
        }
    }

    // The tracks libgpod made keep their IDs through the write and a fresh library.
    Reopen();
    const std::vector<std::uint32_t> after = Ids(kPod);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0], before[1]);
    EXPECT_EQ(after[1], before[2]);
    EXPECT_EQ(after[2], four);
}
