// Cross-checks of the iPod's covers with libgpod: it finds a thumbnail for every track this program
// gave a cover, in every format of the model, showing the picture; and covers libgpod wrote stay
// through a run of this program that adds and removes songs.

#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "GpodPeer.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/Pictures.h"
#include "fixtures/TempDir.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gpod/itdb.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;

// The bound on the mean difference per channel between a thumbnail and the source scaled by
// gdk-pixbuf: RGB565 alone rounds by up to 4 (red, blue) and 2 (green); the two smooth filters
// differ by a little more.
constexpr double kMaxMeanDifference = 6.0;

// A smooth picture: what two good filters scale alike.
std::vector<std::uint8_t> SmoothPng(int seed)
{
    return fixtures::MakePng(300, 300, [seed](int x, int y) {
        return fixtures::Rgb{static_cast<std::uint8_t>(x * 255 / 300),
                             static_cast<std::uint8_t>(y * 255 / 300),
                             static_cast<std::uint8_t>((seed * 60 + (x + y) / 3) % 256)};
    });
}

GdkPixbuf* PixbufOf(const std::vector<std::uint8_t>& png)
{
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    gdk_pixbuf_loader_write(loader, png.data(), png.size(), nullptr);
    gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf)
        g_object_ref(pixbuf);
    g_object_unref(loader);
    return pixbuf;
}

// The mean absolute difference per channel of two pictures of one size.
double MeanDifference(GdkPixbuf* a, GdkPixbuf* b)
{
    const int width = gdk_pixbuf_get_width(a), height = gdk_pixbuf_get_height(a);
    const int na = gdk_pixbuf_get_n_channels(a), nb = gdk_pixbuf_get_n_channels(b);
    const guchar* pa = gdk_pixbuf_get_pixels(a);
    const guchar* pb = gdk_pixbuf_get_pixels(b);
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(pa[y * gdk_pixbuf_get_rowstride(a) + x * na + c] -
                                pb[y * gdk_pixbuf_get_rowstride(b) + x * nb + c]);
    return sum / (3.0 * width * height);
}

struct Thumbs {
    bool has = false;
    std::vector<std::pair<int, int>> sizes;
    double worst = 0; // the largest mean difference to the source over the formats
};

// What libgpod finds of each track's cover (by title), each thumbnail compared with `sources`
// (by album) scaled to its size.
std::map<std::string, Thumbs> ReadThumbs(const std::string& root,
                                         const std::map<std::string, std::vector<std::uint8_t>>& sources)
{
    std::map<std::string, Thumbs> result;
    GError* error = nullptr;
    Itdb_iTunesDB* db = itdb_parse(root.c_str(), &error);
    EXPECT_NE(db, nullptr) << (error ? error->message : "");
    if (error)
        g_error_free(error);
    if (!db)
        return result;
    for (GList* node = db->tracks; node; node = node->next) {
        auto* track = static_cast<Itdb_Track*>(node->data);
        Thumbs& thumbs = result[track->title ? track->title : ""];
        thumbs.has = itdb_track_has_thumbnails(track) != FALSE;
        if (!thumbs.has || !track->artwork || !track->artwork->thumbnail)
            continue;
        GdkPixbuf* source = nullptr;
        if (auto found = sources.find(track->album ? track->album : ""); found != sources.end())
            source = PixbufOf(found->second);
        GList* pixbufs = itdb_thumb_to_pixbufs(db->device, track->artwork->thumbnail);
        for (GList* each = pixbufs; each; each = each->next) {
            auto* pixbuf = static_cast<GdkPixbuf*>(each->data);
            const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
            thumbs.sizes.emplace_back(width, height);
            if (source) {
                GdkPixbuf* scaled = gdk_pixbuf_scale_simple(source, width, height, GDK_INTERP_HYPER);
                thumbs.worst = std::max(thumbs.worst, MeanDifference(pixbuf, scaled));
                g_object_unref(scaled);
            }
            g_object_unref(pixbuf);
        }
        g_list_free(pixbufs);
        if (source)
            g_object_unref(source);
    }
    itdb_free(db);
    return result;
}

class ArtworkPeerTest : public ::testing::Test {
protected:
    std::string MakeIPod(const std::string& model)
    {
        return fixtures::MakeIPod(volumes.Path(), "POD" + model, {.modelNumStr = model});
    }

    // Songs (title, album) added with this program, the album's cover beside the source file.
    void AddSongs(const std::string& root, const std::vector<std::pair<std::string, std::string>>& songs,
                  const std::set<std::string>& remove = {})
    {
        IPodDB db;
        AString r = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
        std::vector<AString> gone;
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
            if (remove.count(track.GetName().ToStdString()))
                gone.push_back(track.ToString(db.GetExtensionFlag(), db.GetGenreFlag(), db.GetAlbumFlag(), 1,
                                              db.GetRootPath()));
        });
        for (const AString& path : gone)
            EXPECT_EQ(db.RemoveSong(path), 0);
        for (const auto& [title, album] : songs) {
            const std::string folder = library / album;
            if (!covers.count(album)) {
                covers[album] = SmoothPng(static_cast<int>(covers.size()));
                fixtures::WriteFile(folder + "/cover.png", covers[album]);
            }
            fixtures::WriteFile(folder + "/" + title + ".mp3", std::vector<std::uint8_t>(100, 0));
            const std::string file = "/iPod_Control/Music/F00/" + title + ".mp3";
            fixtures::WriteFile(root + file, std::vector<std::uint8_t>(100, 0));
            SongInfoStruct song = fixtures::MakeSong(title, "Artist", album, "Rock", file);
            MHIT* track = nullptr;
            ASSERT_EQ(db.AddSong(song, &track, 1), 0);
            track->SetFilepath(song.filePath);
            db.SetArtworkSource(track, AString::FromUTF8(folder + "/" + title + ".mp3"));
        }
        ASSERT_EQ(db.Store(nullptr), 0);
    }

    fixtures::TempDir volumes, library;
    std::map<std::string, std::vector<std::uint8_t>> covers;
};

TEST_F(ArtworkPeerTest, LibgpodFindsEveryCoverThisProgramWrote)
{
    struct Case {
        const char* model;
        std::vector<std::pair<int, int>> sizes;
    };
    for (const Case& c : {Case{"MA147", {{100, 100}, {200, 200}}}, Case{"MA350", {{42, 42}, {100, 100}}},
                          Case{"MA079", {{56, 56}, {140, 140}}},
                          Case{"MB029", {{56, 56}, {128, 128}, {128, 128}, {320, 320}}}}) {
        const std::string root = MakeIPod(c.model);
        AddSongs(root, {{"a1", "A"}, {"a2", "A"}, {"b1", "B"}});
        const auto thumbs = ReadThumbs(root, covers);
        ASSERT_EQ(thumbs.size(), 3u) << c.model;
        for (const auto& [title, found] : thumbs) {
            EXPECT_TRUE(found.has) << c.model << " " << title;
            std::vector<std::pair<int, int>> sizes = found.sizes, expected = c.sizes;
            std::sort(sizes.begin(), sizes.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(sizes, expected) << c.model << " " << title;
            EXPECT_LT(found.worst, kMaxMeanDifference) << c.model << " " << title;
        }
    }
}

// libgpod writes a database with covers; this program adds a song and removes one: every cover
// of a track that stays is still there, the same pixels, and the new one too.
TEST_F(ArtworkPeerTest, CoversLibgpodWroteStayThroughARunThatChangesTracks)
{
    const std::string root = MakeIPod("MA147");
    std::vector<peers::PeerTrack> tracks;
    std::vector<std::vector<std::uint8_t>> pictures;
    for (int i = 0; i < 4; ++i) {
        const std::string album = "G" + std::to_string(i % 2), title = "g" + std::to_string(i);
        if (!covers.count(album))
            covers[album] = SmoothPng(7 + i);
        tracks.push_back(
            {title, "Artist", album, "Rock", ":iPod_Control:Music:F00:" + title + ".mp3", 100, 1000});
        pictures.push_back(covers[album]);
    }
    ASSERT_TRUE(peers::WriteWithGpod(root, "POD", tracks, {}, pictures));
    const auto before = ReadThumbs(root, covers);
    ASSERT_EQ(before.size(), 4u);
    for (const auto& [title, found] : before)
        ASSERT_TRUE(found.has) << title;

    AddSongs(root, {{"n1", "New"}}, {"g3"});
    const auto after = ReadThumbs(root, covers);
    ASSERT_EQ(after.size(), 4u);
    for (const char* title : {"g0", "g1", "g2"}) {
        ASSERT_TRUE(after.count(title));
        EXPECT_TRUE(after.at(title).has) << title;
        EXPECT_EQ(after.at(title).sizes, before.at(title).sizes) << title;
        EXPECT_EQ(after.at(title).worst, before.at(title).worst) << title;
    }
    EXPECT_TRUE(after.at("n1").has);
    EXPECT_LT(after.at("n1").worst, kMaxMeanDifference);
    ArtworkDB stored;
    ASSERT_EQ(stored.Parse(fixtures::ReadFile(root + "/iPod_Control/Artwork/ArtworkDB")), 0);
    EXPECT_EQ(stored.Images().size(), 4u); // g0, g1, g2 and n1; g3's is gone
}

} // namespace
