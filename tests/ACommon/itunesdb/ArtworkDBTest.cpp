// The cover database's reader and writer, and the thumbnails made for the iPod's screen.

#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/ArtworkThumbnail.h"
#include "ACommon/itunesdb/IPodIdentity.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/Pictures.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

ArtworkDB SampleDatabase()
{
    ArtworkDB db;
    for (std::uint32_t i = 0; i < 3; ++i) {
        ArtworkDB::Image image;
        image.id = db.TakeImageId();
        image.songId = 0x1122334455667700ull + i;
        image.sourceSize = 5000 + i;
        image.thumbs.push_back({1028, ":F1028_1.ithmb", i * 20000u, 20000, 0, 0, 100, 100});
        image.thumbs.push_back({1029, ":F1029_1.ithmb", i * 80000u, 80000, 2, 4, 198, 196});
        db.Images().push_back(image);
    }
    return db;
}

using fixtures::itdb::GetU32;

TEST(ArtworkDB, WrittenDatabaseReadsBackAsWritten)
{
    const std::vector<std::uint8_t> bytes = SampleDatabase().Serialize();
    // The header the iPod checks: tag, header length, file length, 2 at 16, the three datasets.
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "mhfd");
    EXPECT_EQ(std::vector<std::uint32_t>(
                  {GetU32(bytes, 4), GetU32(bytes, 8), GetU32(bytes, 16), GetU32(bytes, 20)}),
              std::vector<std::uint32_t>({0x84u, static_cast<std::uint32_t>(bytes.size()), 2u, 3u}));
    // Every field of an image and its pictures is written from what was read: reading and writing
    // again gives the same bytes.
    ArtworkDB read;
    ASSERT_EQ(read.Parse(bytes), 0);
    ASSERT_EQ(read.Images().size(), 3u);
    EXPECT_EQ(read.Images()[2].id, 102u);
    ASSERT_EQ(read.Formats().size(), 2u);
    EXPECT_EQ(read.Formats()[1].imageSize, 80000u);
    EXPECT_GT(read.NextImageId(), 102u);
    EXPECT_EQ(read.Serialize(), bytes);
}

// Unknown records, inside an image and as a fourth dataset, come back byte for byte.
TEST(ArtworkDB, UnknownRecordsAreKeptByteForByte)
{
    std::vector<std::uint8_t> bytes = SampleDatabase().Serialize();
    // A fourth dataset of a type this program does not know, at the end of the file.
    using namespace fixtures::itdb;
    const Bytes extra = Dataset(9, Record("mhzz", 16, {{12, 0xDEADBEEF}}, {}));
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    bytes[20] = 4;
    PutU32(bytes, 8, static_cast<std::uint32_t>(bytes.size()));
    ArtworkDB read;
    ASSERT_EQ(read.Parse(bytes), 0);
    EXPECT_EQ(read.Serialize(), bytes);
}

TEST(ArtworkDB, DamagedBytesAreRefused)
{
    const std::vector<std::uint8_t> good = SampleDatabase().Serialize();
    struct Case {
        const char* what;
        std::size_t at;
        std::uint8_t value;
        std::size_t keep;
    };
    for (const Case& c : {Case{"cut short", 0, 'm', good.size() - 30}, Case{"not mhfd", 0, 'x', good.size()},
                          Case{"total length past the end", 9, 0x7F, good.size()},
                          Case{"header length zero", 4, 0, good.size()},
                          Case{"list count huge", 0x84 + 0x60 + 10, 0x7F, good.size()}}) {
        std::vector<std::uint8_t> bad(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(c.keep));
        bad[c.at] = c.value;
        ArtworkDB read;
        EXPECT_EQ(read.Parse(bad), kErrUnknown) << c.what;
        EXPECT_TRUE(read.Images().empty()) << c.what;
    }
}

TEST(ArtworkDB, StoredFileNamesOutsideTheArtworkFolderAreRefused)
{
    struct Case {
        const char* stored;
        const char* name;
    };
    for (auto [stored, name] :
         {Case{":F1028_1.ithmb", "F1028_1.ithmb"}, Case{"F1028_1.ithmb", "F1028_1.ithmb"},
          Case{":..:x.ithmb", ""}, Case{"../x", ""}, Case{"", ""}, Case{":..", ""}})
        EXPECT_EQ(ArtworkDB::FileNameOf(stored), name) << stored;
}

TEST(ArtworkThumbnail, ModelsShowTheirKnownFormats)
{
    struct Case {
        const char* model;
        std::vector<std::uint32_t> ids;
    };
    for (const Case& c : {Case{"A147", {1028, 1029}}, Case{"A350", {1031, 1027}}, Case{"A079", {1017, 1016}},
                          Case{"B029", {1061, 1055, 1068, 1060}}, Case{"A978", {1061, 1055, 1068, 1060}},
                          Case{"9160", {}}, Case{"A133", {}}}) {
        IPodInfo info;
        info.SetModel(AString(c.model));
        std::vector<std::uint32_t> ids;
        for (const auto& format : ArtworkThumbnail::FormatsOf(info, {}))
            ids.push_back(format.id);
        EXPECT_EQ(ids, c.ids) << c.model;
    }
}

TEST(ArtworkThumbnail, SysInfoExtendedListOverridesTheModel)
{
    const std::string plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>AlbumArt</key><array>
<dict><key>FormatId</key><integer>1044</integer><key>RenderWidth</key><integer>55</integer><key>RenderHeight</key><integer>56</integer></dict>
<dict><key>FormatId</key><integer>1060</integer><key>RenderWidth</key><integer>320</integer><key>RenderHeight</key><integer>320</integer></dict>
<dict><key>FormatId</key><integer>7</integer><key>RenderWidth</key><integer>99999</integer><key>RenderHeight</key><integer>1</integer></dict>
</array></dict></plist>)";
    IPodIdentity::Extended extended;
    ASSERT_TRUE(IPodIdentity::ParseExtended(plist, &extended));
    IPodInfo info;
    info.SetModel(AString("A147"));
    const auto formats = ArtworkThumbnail::FormatsOf(info, extended.artworkFormats);
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0], (ArtworkThumbnail::Format{1044, 55, 56}));
    // An odd width pads each row to four bytes.
    EXPECT_EQ(formats[0].ImageSize(), 112u * 56);
}

TEST(ArtworkThumbnail, WidePictureIsLetterboxedOnBlack)
{
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    ASSERT_EQ(
        ArtworkThumbnail::Decode(fixtures::MakePng(200, 100, fixtures::Rgb{255, 0, 0}), rgb, width, height),
        0);
    const ArtworkThumbnail::Format format{1028, 100, 100};
    const auto bytes = ArtworkThumbnail::Make(rgb, width, height, format);
    ASSERT_EQ(bytes.size(), 20000u);
    struct Case {
        int x, y;
        std::uint8_t r;
    };
    for (auto [x, y, r] :
         {Case{50, 5, 0}, Case{50, 94, 0}, Case{0, 50, 255}, Case{99, 50, 255}, Case{50, 26, 255}}) {
        std::uint8_t pixel[3];
        ArtworkThumbnail::PixelAt(bytes, format, x, y, pixel);
        EXPECT_EQ(pixel[0], r) << x << "," << y;
        EXPECT_EQ(pixel[1], 0) << x << "," << y;
    }
    // Red in RGB565, little-endian.
    EXPECT_EQ(bytes[50 * 200 + 100], 0x00);
    EXPECT_EQ(bytes[50 * 200 + 101], 0xF8);
}

// A smooth filter: a downscaled picture of fine stripes is their average, not one of them.
TEST(ArtworkThumbnail, ScalingAveragesFineDetail)
{
    const auto png = fixtures::MakePng(400, 400, [](int x, int) {
        return x % 2 ? fixtures::Rgb{255, 255, 255} : fixtures::Rgb{0, 0, 0};
    });
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    ASSERT_EQ(ArtworkThumbnail::Decode(png, rgb, width, height), 0);
    const ArtworkThumbnail::Format format{1028, 100, 100};
    const auto bytes = ArtworkThumbnail::Make(rgb, width, height, format);
    std::uint8_t pixel[3];
    ArtworkThumbnail::PixelAt(bytes, format, 40, 40, pixel);
    EXPECT_GT(pixel[1], 60);
    EXPECT_LT(pixel[1], 230);
}

TEST(ArtworkThumbnail, BytesThatAreNoPictureAreRefused)
{
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    const std::vector<std::uint8_t> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    EXPECT_EQ(ArtworkThumbnail::Decode(text, rgb, width, height), kErrFileType);
    EXPECT_EQ(ArtworkThumbnail::Decode({}, rgb, width, height), kErrFileType);
}

} // namespace
