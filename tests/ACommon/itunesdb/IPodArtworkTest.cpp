// Covers written onto an iPod with the stores of its database: shared pictures, incremental writes,
// images dropped with their tracks, and what a stopped write leaves put right.

#include "ACommon/itunesdb/IPodArtwork.h"
#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/SongPicture.h"
#include "fixtures/IPodDatabase.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/Pictures.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>

namespace {

namespace fs = std::filesystem;

class IPodArtworkTest : public ::testing::Test {
protected:
    void MakeIPod(const std::string& model)
    {
        pod = std::make_unique<fixtures::TestIPod>(fixtures::IPodOptions{.modelNumStr = model});
        root = pod->root;
    }
    void SetUp() override { MakeIPod("MA147"); } // a 5th-generation iPod with video

    std::string Artwork(const std::string& name) const { return root + "/iPod_Control/Artwork/" + name; }

    // An album folder of the library with a cover image and empty song files.
    std::string Album(const std::string& name, int seed)
    {
        const std::string folder = library / name;
        fs::create_directories(folder);
        fixtures::WriteFile(folder + "/cover.png", fixtures::MakeGradientPng(300, 300, seed));
        return folder;
    }

    // Adds songs to the iPod's database with covers from `album` (none when empty), and stores it.
    void AddAndStore(const std::vector<std::pair<std::string, std::string>>& songs)
    {
        IPodDB db;
        ASSERT_EQ(pod->Load(db), 0);
        for (const auto& [name, album] : songs) {
            const std::string file = "/iPod_Control/Music/F00/" + name + ".mp3";
            fixtures::WriteFile(root + file, std::vector<std::uint8_t>(100, 0));
            MHIT* track = nullptr;
            SongInfoStruct song = fixtures::MakeSong(name, "Artist", album, "Rock", file);
            ASSERT_EQ(db.AddSong(song, &track, 1), 0);
            track->SetFilepath(song.filePath);
            const std::string folder = library / album;
            db.SetArtworkSource(track, AString::FromUTF8(folder + "/" + name + ".mp3"));
            fixtures::WriteFile(folder + "/" + name + ".mp3", std::vector<std::uint8_t>(100, 0));
        }
        ASSERT_EQ(db.Store(nullptr), 0);
        stats = db.GetArtworkStats();
    }

    void RemoveAndStore(const std::set<std::string>& names)
    {
        IPodDB db;
        ASSERT_EQ(pod->Load(db), 0);
        std::vector<AString> paths;
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
            if (names.count(track.GetName().ToStdString()))
                paths.push_back(track.ToString(db.GetExtensionFlag(), db.GetGenreFlag(), db.GetAlbumFlag(), 1,
                                               db.GetRootPath()));
        });
        for (const AString& path : paths)
            EXPECT_EQ(db.RemoveSong(path), 0);
        ASSERT_EQ(db.Store(nullptr), 0);
    }

    ArtworkDB ReadArtwork() const
    {
        ArtworkDB db;
        EXPECT_EQ(db.Parse(fixtures::ReadFile(Artwork("ArtworkDB"))), 0);
        return db;
    }

    // The image id each track (by name) links to; 0 for a track without a cover.
    std::map<std::string, std::uint32_t> Links() const
    {
        IPodDB db;
        EXPECT_EQ(pod->Load(db), 0);
        std::map<std::string, std::uint32_t> links;
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
            links[track.GetName().ToStdString()] = track.GetByte(IPodArtwork::kOffsetHasArtwork) == 1
                                                       ? track.GetField(IPodArtwork::kOffsetImageLink)
                                                       : 0;
        });
        return links;
    }

    std::unique_ptr<fixtures::TestIPod> pod;
    fixtures::TempDir library;
    std::string root;
    IPodArtwork::Stats stats;
};

TEST_F(IPodArtworkTest, SongsOfOneAlbumShareOneStoredPicture)
{
    Album("A", 1);
    Album("B", 2);
    AddAndStore({{"a1", "A"}, {"a2", "A"}, {"a3", "A"}, {"b1", "B"}});
    // Two pictures per format: 100x100 and 200x200, two bytes a pixel.
    EXPECT_EQ(fs::file_size(Artwork("F1028_1.ithmb")), 2u * 100 * 100 * 2);
    EXPECT_EQ(fs::file_size(Artwork("F1029_1.ithmb")), 2u * 200 * 200 * 2);
    const ArtworkDB art = ReadArtwork();
    std::map<std::uint32_t, const ArtworkDB::Image*> images;
    for (const auto& image : art.Images())
        images[image.id] = &image;
    const auto links = Links();
    ASSERT_EQ(links.size(), 4u);
    for (const auto& [name, link] : links)
        ASSERT_TRUE(images.count(link)) << name;
    EXPECT_EQ(images[links.at("a1")]->thumbs[0].offset, images[links.at("a3")]->thumbs[0].offset);
    EXPECT_NE(images[links.at("a1")]->thumbs[0].offset, images[links.at("b1")]->thumbs[0].offset);
}

TEST_F(IPodArtworkTest, ClassicTracksOfOneAlbumShareOneImageRecord)
{
    MakeIPod("MB029");
    Album("A", 1);
    AddAndStore({{"a1", "A"}, {"a2", "A"}});
    EXPECT_EQ(ReadArtwork().Images().size(), 1u);
    const auto links = Links();
    EXPECT_EQ(links.at("a1"), links.at("a2"));
    EXPECT_EQ(fs::file_size(Artwork("F1060_1.ithmb")), 320u * 320 * 2);
}

// A new album's pictures are added after the ones there, which stay as they were; a song of an
// album already on the iPod links to its picture; a song without a cover writes no picture.
TEST_F(IPodArtworkTest, AStoreWritesOnlyThePicturesNotYetOnTheIPod)
{
    for (int i = 0; i < 5; ++i)
        Album("A" + std::to_string(i), i);
    AddAndStore({{"s0", "A0"}, {"s1", "A1"}, {"s2", "A2"}, {"s3", "A3"}, {"s4", "A4"}});
    const auto pixels = fixtures::ReadFile(Artwork("F1029_1.ithmb"));
    Album("New", 9);
    AddAndStore({{"new", "New"}});
    EXPECT_EQ(stats.imagesWritten, 2);
    const auto after = fixtures::ReadFile(Artwork("F1029_1.ithmb"));
    ASSERT_EQ(after.size(), pixels.size() + 200 * 200 * 2);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), after.begin()));
    AddAndStore({{"s5", "A0"}});
    EXPECT_EQ(stats.imagesWritten, 0);
    EXPECT_EQ(fixtures::ReadFile(Artwork("F1029_1.ithmb")), after);
    EXPECT_NE(Links().at("s5"), 0u);
    // A store that changes no cover leaves the cover database as it was.
    const auto before = fs::last_write_time(Artwork("ArtworkDB"));
    const auto bytes = fixtures::ReadFile(Artwork("ArtworkDB"));
    AddAndStore({{"n1", "NoCover"}});
    EXPECT_FALSE(stats.databaseWritten);
    EXPECT_EQ(fs::last_write_time(Artwork("ArtworkDB")), before);
    EXPECT_EQ(fixtures::ReadFile(Artwork("ArtworkDB")), bytes);
    EXPECT_EQ(fixtures::ReadFile(Artwork("F1029_1.ithmb")), after);
    EXPECT_EQ(Links().at("n1"), 0u);
}

// A removed song's image goes: space at the end of a picture file is given back, space before
// another picture is used by a later cover, and a file left without pictures goes.
TEST_F(IPodArtworkTest, ARemovedSongsImageGivesBackItsSpace)
{
    Album("A", 1);
    Album("B", 2);
    Album("C", 3);
    AddAndStore({{"a1", "A"}, {"b1", "B"}, {"b2", "B"}, {"c1", "C"}});
    RemoveAndStore({"a1", "c1"});
    ArtworkDB art = ReadArtwork();
    ASSERT_EQ(art.Images().size(), 2u); // b1's and b2's, sharing their pictures
    EXPECT_EQ((std::set<std::uint32_t>{art.Images()[0].id, art.Images()[1].id}),
              (std::set<std::uint32_t>{Links().at("b1"), Links().at("b2")}));
    EXPECT_EQ(fs::file_size(Artwork("F1028_1.ithmb")), 2u * 100 * 100 * 2);
    Album("D", 4);
    AddAndStore({{"d1", "D"}});
    EXPECT_EQ(fs::file_size(Artwork("F1028_1.ithmb")), 2u * 100 * 100 * 2);
    std::set<std::uint32_t> offsets;
    art = ReadArtwork();
    for (const auto& image : art.Images())
        offsets.insert(image.thumbs[0].offset);
    EXPECT_EQ(offsets, (std::set<std::uint32_t>{0, 20000}));
    RemoveAndStore({"b1", "b2", "d1"});
    EXPECT_TRUE(ReadArtwork().Images().empty());
    EXPECT_FALSE(fs::exists(Artwork("F1028_1.ithmb")));
}

// An ithmb file no image names (left by a write stopped before its database was replaced) goes
// with the next store; pixels past the last image and temporary files of such a write are checked
// by stopping a run at every call in the fault suite.
TEST_F(IPodArtworkTest, NextStoreRemovesAPictureFileNoImageNames)
{
    Album("A", 1);
    AddAndStore({{"a1", "A"}});
    fixtures::WriteFile(Artwork("F1028_2.ithmb"), std::vector<std::uint8_t>(20000, 1));
    AddAndStore({{"n1", "NoCover"}});
    EXPECT_FALSE(fs::exists(Artwork("F1028_2.ithmb")));
    EXPECT_TRUE(fs::exists(Artwork("F1028_1.ithmb")));
}

// The iPod's disk ignores case: a picture file the database names in another case is the same file.
TEST_F(IPodArtworkTest, PictureFileNamedInAnotherCaseIsKept)
{
    Album("A", 1);
    AddAndStore({{"a1", "A"}});
    ArtworkDB art = ReadArtwork();
    for (auto& image : art.Images())
        for (auto& thumb : image.thumbs)
            thumb.file = ":f" + thumb.file.substr(2);
    const auto bytes = art.Serialize();
    fixtures::WriteFile(Artwork("ArtworkDB"), bytes);
    AddAndStore({{"n1", "NoCover"}});
    EXPECT_TRUE(fs::exists(Artwork("F1028_1.ithmb")));
    EXPECT_TRUE(fs::exists(Artwork("F1029_1.ithmb")));
}

} // namespace

// The songs of one folder share its image, looked at once, while a song with a picture in its tags
// shows its own.
TEST_F(IPodArtworkTest, AnEmbeddedPictureWinsOverTheImageOfItsFolder)
{
    MakeIPod("MB029"); // tracks that show one picture share one image record
    const std::string folder = Album("A", 1);
    IPodDB db;
    ASSERT_EQ(pod->Load(db), 0);
    for (const char* name : {"plain1", "tagged", "plain2"}) {
        fixtures::SongSpec tags = fixtures::SongSpecOf(name);
        const bool tagged = std::string(name) == "tagged";
        if (tagged)
            tags.picture = fixtures::MakeGradientPng(120, 120, 9);
        fixtures::WriteSong(folder + "/" + name + ".mp3", tags);
        const std::string file = std::string("/iPod_Control/Music/F00/") + name + ".mp3";
        fixtures::WriteSong(root + file, tags);
        SongInfoStruct song = fixtures::MakeSong(name, "Artist", "A", "Rock", file);
        MHIT* track = nullptr;
        ASSERT_EQ(db.AddSong(song, &track, 1), 0);
        track->SetFilepath(song.filePath);
        db.SetArtworkSource(track, AString::FromUTF8(folder + "/" + name + ".mp3"), tagged);
    }
    ASSERT_EQ(db.Store(nullptr), 0);
    const auto links = Links();
    EXPECT_NE(links.at("plain1"), 0u);
    EXPECT_EQ(links.at("plain1"), links.at("plain2"));
    EXPECT_NE(links.at("tagged"), 0u);
    EXPECT_NE(links.at("tagged"), links.at("plain1"));
}

TEST(SongPicture, TheFolderImageIsTheBestNamedPictureWhateverItsCase)
{
    fixtures::TempDir dir;
    for (const char* name : {"front.png", "Cover.JPEG", "xcover.jpg", "cover.jpg.bak", "folder.jpg"})
        fixtures::WriteFile(dir / ("Album/" + std::string(name)), fixtures::Bytes{1, 2, 3});
    std::filesystem::create_directories(dir / "Album/cover.jpg"); // a folder is no picture
    struct Step {
        const char* removed;
        const char* chosen;
    };
    for (const Step& step : {Step{nullptr, "Cover.JPEG"}, Step{"Cover.JPEG", "folder.jpg"},
                             Step{"folder.jpg", "front.png"}, Step{"front.png", ""}}) {
        if (step.removed)
            std::filesystem::remove(dir / ("Album/" + std::string(step.removed)));
        EXPECT_EQ(SongPicture::FolderImage(dir / "Album").filename().string(), step.chosen);
    }
    // Of names alike but for case, the first in byte order, whatever order the folder lists them in.
    for (const char* name : {"cover.png", "COVER.png", "Cover.png"})
        fixtures::WriteFile(dir / ("Album/" + std::string(name)), fixtures::Bytes{1});
    EXPECT_EQ(SongPicture::FolderImage(dir / "Album").filename().string(), "COVER.png");
}
