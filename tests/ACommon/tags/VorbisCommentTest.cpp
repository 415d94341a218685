#include "ACommon/tags/VorbisComment.h"

#include "VorbisBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tagbytes::Bytes;
using tagbytes::Comment;
using tagbytes::PictureRecord;

namespace {

// (Each field's value, as the encoders write it, is read against TagLib in TagFormatsPeer.)
TEST(VorbisComment, FieldsFillTheirMembers)
{
    struct Case {
        const char* what;
        std::vector<std::string> fields;
        std::string values; // title|artist|album artist|year|track/count|disc count
    };
    const Case cases[] = {
        {"names ignore case",
         {"title=T", "AlbumArtist=AA", "Date=2004-05-06", "DiscTotal=4"},
         "T||AA|2004|0/0|4"},
        {"the first value wins, an empty one does not count",
         {"ARTIST=First", "ARTIST=Second", "TITLE=", "TITLE=Named"},
         "Named|First||0|0/0|0"},
        {"text that is not UTF-8 is Latin-1",
         {"TITLE=Caf\xE9", "ARTIST=Caf\xC3\xA9"},
         "Caf\xC3\xA9|Caf\xC3\xA9||0|0/0|0"},
        {"a number", {"TRACKNUMBER=7"}, "|||0|7/0|0"},
        {"a number and a count", {"TRACKNUMBER= 07/10"}, "|||0|7/10|0"},
        {"no number", {"TRACKNUMBER=x"}, "|||0|0/0|0"},
        {"a number keeps its low 16 bits", {"TRACKNUMBER=70000"}, "|||0|4464/0|0"},
        {"a number beyond any width", {"TRACKNUMBER=99999999999999999999"}, "|||0|0/0|0"},
    };
    for (const Case& c : cases) {
        VorbisComment comment;
        ASSERT_TRUE(comment.Parse(Comment(c.fields))) << c.what;
        EXPECT_EQ(comment.title.ToStdString() + "|" + comment.artist.ToStdString() + "|" +
                      comment.albumArtist.ToStdString() + "|" + std::to_string(comment.year) + "|" +
                      std::to_string(comment.trackNumber) + "/" + std::to_string(comment.trackCount) + "|" +
                      std::to_string(comment.discCount),
                  c.values)
            << c.what;
    }
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

// (Where a whole record's data lies, from the record or a prefix of it, is read with every FLAC
// picture in ID3Formats.)
TEST(VorbisComment, PictureRecordsThatRunPastTheirEndAreRefused)
{
    const Bytes data(10, 0xAB);
    Bytes mimeTooLong = PictureRecord(data);
    mimeTooLong[7] = 0xFF;
    for (const Bytes& record :
         {PictureRecord(data, 0), PictureRecord(data, 11), PictureRecord(data, 0xFFFFFFFFu), mimeTooLong}) {
        VorbisComment::Picture picture;
        EXPECT_FALSE(VorbisComment::ParsePicture(record, record.size(), picture)) << record.size();
    }
}

} // namespace
