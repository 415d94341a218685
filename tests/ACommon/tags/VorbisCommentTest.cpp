#include "ACommon/tags/VorbisComment.h"

#include "samples/SampleBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using samples::Bytes;

namespace {

void AppendU32LE(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes Comment(const std::vector<std::string>& fields)
{
    Bytes out;
    AppendU32LE(out, 6);
    samples::AppendText(out, "vendor");
    AppendU32LE(out, static_cast<std::uint32_t>(fields.size()));
    for (const std::string& field : fields) {
        AppendU32LE(out, static_cast<std::uint32_t>(field.size()));
        samples::AppendText(out, field);
    }
    return out;
}

Bytes PictureRecord(const Bytes& data, std::uint32_t declaredLength)
{
    Bytes out;
    samples::AppendU32sBE(out, {3, 9});
    samples::AppendText(out, "image/png");
    samples::AppendU32sBE(out, {4});
    samples::AppendText(out, "desc");
    samples::AppendU32sBE(out, {16, 16, 24, 0, declaredLength});
    samples::Append(out, data);
    return out;
}

// (Each field's value, as the encoders write it, is read against TagLib in TagFormatsPeer.)
TEST(VorbisComment, FieldNamesIgnoreCase)
{
    VorbisComment comment;
    ASSERT_TRUE(comment.Parse(Comment({"title=T", "AlbumArtist=AA", "Date=2004-05-06", "DiscTotal=4"})));
    EXPECT_EQ(comment.title.ToStdString() + "|" + comment.albumArtist.ToStdString(), "T|AA");
    EXPECT_EQ(comment.year, 2004);
    EXPECT_EQ(comment.discCount, 4);
}

TEST(VorbisComment, NumberFieldsReadTheirLeadingDigits)
{
    struct Case {
        const char* field;
        int track, count;
    };
    for (auto [field, track, count] : {Case{"TRACKNUMBER=7", 7, 0},
                                       {"TRACKNUMBER= 07/10", 7, 10},
                                       {"TRACKNUMBER=x", 0, 0},
                                       {"TRACKNUMBER=70000", 70000 & 0xFFFF, 0},
                                       {"TRACKNUMBER=99999999999999999999", 0, 0}}) {
        VorbisComment comment;
        ASSERT_TRUE(comment.Parse(Comment({field})));
        EXPECT_EQ(comment.trackNumber, track) << field;
        EXPECT_EQ(comment.trackCount, count) << field;
    }
}

TEST(VorbisComment, FirstValueOfARepeatedFieldWins)
{
    VorbisComment comment;
    ASSERT_TRUE(comment.Parse(Comment({"ARTIST=First", "ARTIST=Second", "TITLE=", "TITLE=Named"})));
    EXPECT_EQ(comment.artist.ToStdString(), "First");
    EXPECT_EQ(comment.title.ToStdString(), "Named");
}

TEST(VorbisComment, ADamagedFieldEndsTheList)
{
    Bytes bytes = Comment({"TITLE=Kept", "ARTIST=Lost"});
    bytes.resize(bytes.size() - 3); // the last field's length now runs past the block
    VorbisComment comment;
    ASSERT_TRUE(comment.Parse(bytes));
    EXPECT_EQ(comment.title.ToStdString(), "Kept");
    EXPECT_TRUE(comment.artist.IsEmpty());

    Bytes vendorTooLong = Comment({});
    vendorTooLong[0] = 0xFF;
    EXPECT_FALSE(VorbisComment().Parse(vendorTooLong));
}

TEST(VorbisComment, TextThatIsNotUTF8IsReadAsLatin1)
{
    VorbisComment comment;
    ASSERT_TRUE(comment.Parse(Comment({"TITLE=Caf\xE9", "ARTIST=Caf\xC3\xA9"})));
    EXPECT_EQ(comment.title.ToStdString(), "Caf\xC3\xA9");
    EXPECT_EQ(comment.artist.ToStdString(), "Caf\xC3\xA9");
}

TEST(VorbisComment, Base64DecodesOnlyItsAlphabet)
{
    struct Case {
        const char* text;
        bool ok;
        const char* decoded;
    };
    for (auto [text, ok, decoded] : {Case{"UGVsb3Jpbg==", true, "Pelorin"},
                                     {"UGVs\r\nb3Jp", true, "Pelori"},
                                     {"", true, ""},
                                     {"UGVs*b3Jp", false, ""},
                                     {"UG==Vs", false, ""}}) {
        std::vector<std::uint8_t> out;
        EXPECT_EQ(VorbisComment::DecodeBase64(text, out), ok) << text;
        if (ok) {
            EXPECT_EQ(std::string(out.begin(), out.end()), decoded) << text;
        }
    }
}

TEST(VorbisComment, PictureRecordGivesWhereItsDataLies)
{
    const Bytes data = {0x89, 'P', 'N', 'G', 1, 2, 3};
    const Bytes record = PictureRecord(data, static_cast<std::uint32_t>(data.size()));
    VorbisComment::Picture picture;
    ASSERT_TRUE(VorbisComment::ParsePicture(record, record.size(), picture));
    EXPECT_EQ(picture.type, 3u);
    EXPECT_EQ(picture.length, data.size());
    EXPECT_EQ(Bytes(record.begin() + static_cast<std::ptrdiff_t>(picture.offset), record.end()), data);

    // Only a prefix is at hand: the length is checked against the whole record.
    const Bytes head(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(picture.offset));
    EXPECT_TRUE(VorbisComment::ParsePicture(head, record.size(), picture));
}

TEST(VorbisComment, PictureRecordsThatRunPastTheirEndAreRefused)
{
    const Bytes data(10, 0xAB);
    for (std::uint32_t declared : {0u, 11u, 0xFFFFFFFFu}) {
        const Bytes record = PictureRecord(data, declared);
        VorbisComment::Picture picture;
        EXPECT_FALSE(VorbisComment::ParsePicture(record, record.size(), picture)) << declared;
    }
    Bytes mimeTooLong = PictureRecord(data, 10);
    mimeTooLong[7] = 0xFF;
    VorbisComment::Picture picture;
    EXPECT_FALSE(VorbisComment::ParsePicture(mimeTooLong, mimeTooLong.size(), picture));
}

} // namespace
