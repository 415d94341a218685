// The tag reader on FLAC, Ogg (Vorbis and Opus) and WAV files built byte by byte, for the cases the
// encoders never write: damaged sizes, packets across pages, chunks in an unusual order.

#include "ACommon/tags/ID3.h"
#include "ACommon/tags/VorbisComment.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TagReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fixtures::Bytes;

namespace {

void AppendLE(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Comment(const std::vector<std::string>& fields)
{
    Bytes out;
    AppendLE(out, 0, 4);
    AppendLE(out, fields.size(), 4);
    for (const std::string& field : fields) {
        AppendLE(out, field.size(), 4);
        samples::AppendText(out, field);
    }
    return out;
}

Bytes PictureRecord(const Bytes& data)
{
    Bytes out;
    samples::AppendU32sBE(out, {3, 0, 0, 1, 1, 24, 0, static_cast<std::uint32_t>(data.size())});
    samples::Append(out, data);
    return out;
}

const Bytes kPng = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 1, 2, 3, 4};

// ---- FLAC ---------------------------------------------------------------------------------------

Bytes FlacBlock(int type, bool last, const Bytes& data)
{
    Bytes out{static_cast<std::uint8_t>(type | (last ? 0x80 : 0))};
    samples::AppendU24BE(out, static_cast<std::uint32_t>(data.size()));
    samples::Append(out, data);
    return out;
}

Bytes StreamInfo(std::uint64_t sampleRate, std::uint64_t samples)
{
    Bytes out(10, 0);
    const std::uint64_t bits = sampleRate << 44 | 1ull << 41 | 15ull << 36 | samples;
    samples::AppendU64BE(out, bits);
    out.resize(34, 0);
    return out;
}

using ID3Formats = fixtures::TagReaderTest;

TEST_F(ID3Formats, FlacBlocksGiveEveryValue)
{
    Bytes file = TextBytes("fLaC");
    samples::Append(file, FlacBlock(0, false, StreamInfo(44100, 44100 * 3 + 10)));
    samples::Append(file,
                    FlacBlock(4, false, Comment({"TITLE=Song", "ALBUMARTIST=Band", "TRACKNUMBER=4/9"})));
    samples::Append(file, FlacBlock(1, false, Bytes(20, 0))); // padding
    const std::size_t pictureRecord = file.size() + 4;
    samples::Append(file, FlacBlock(6, true, PictureRecord(kPng)));
    const std::size_t audio = file.size();
    samples::Append(file, Bytes(3000, 0x55));

    ASSERT_EQ(Load("a.flac", file), 0);
    EXPECT_EQ(Text(&ID3::GetName), "Song");
    EXPECT_EQ(Text(&ID3::GetArtist), "Band"); // the album artist stands in for a missing artist
    EXPECT_EQ(Number(&ID3::GetTrackNumber), 4);
    EXPECT_EQ(tags.GetTrackCount(), 9);
    EXPECT_EQ(Number(&ID3::GetDuration), 3);
    EXPECT_EQ(Number(&ID3::GetBitrate), 8); // 3000 bytes in 3 seconds
    EXPECT_EQ(tags.GetSampleRate(), 44100);
    EXPECT_EQ(tags.GetCodec(), ID3::Codec::kFLAC);
    EXPECT_EQ(Range(), std::make_pair(static_cast<unsigned long long>(audio),
                                      static_cast<unsigned long long>(file.size() - 1)));
    ASSERT_EQ(tags.GetImageCount(), 1);
    EXPECT_EQ(tags.GetImages()[0].start, pictureRecord + 32);
    EXPECT_EQ(tags.GetImages()[0].kind, 1u);
    std::vector<std::uint8_t> data;
    ASSERT_EQ(tags.ReadImageData(0, data), 0);
    EXPECT_EQ(data, kPng);
}

TEST_F(ID3Formats, FlacBehindAnID3v2TagIsFound)
{
    Bytes file = fixtures::ID3v2Tag({fixtures::TextFrame("TIT2", "Ignored")}, {});
    samples::Append(file, TextBytes("fLaC"));
    samples::Append(file, FlacBlock(4, true, Comment({"TITLE=Flac Title"})));
    samples::Append(file, Bytes(100, 1));
    ASSERT_EQ(Load("b.flac", file), 0);
    EXPECT_EQ(Text(&ID3::GetName), "Flac Title");
}

TEST_F(ID3Formats, FlacBlockRunningPastTheFileEndsTheWalk)
{
    Bytes file = TextBytes("fLaC");
    samples::Append(file, FlacBlock(4, false, Comment({"TITLE=Kept"})));
    samples::Append(file, FlacBlock(6, true, PictureRecord(kPng)));
    file.resize(file.size() - 5);
    ASSERT_EQ(Load("c.flac", file), 0);
    EXPECT_EQ(Text(&ID3::GetName), "Kept");
    EXPECT_EQ(tags.GetImageCount(), 0);
    EXPECT_EQ(Number(&ID3::GetDuration), 0);
}

// ---- Ogg ----------------------------------------------------------------------------------------

// Lays `packets` out on pages of stream `serial` with at most `segmentsPerPage` segments each; a
// packet may run on over several pages. Every page after the header packets' ends at a packet.
struct OggWriter {
    std::uint32_t serial = 0x1234;
    std::uint32_t page = 0;
    Bytes file;

    void Page(const std::vector<std::uint8_t>& lacing, const Bytes& payload, std::uint64_t granule,
              std::uint32_t pageSerial)
    {
        samples::AppendText(file, "OggS");
        file.push_back(0);
        file.push_back(0);
        AppendLE(file, granule, 8);
        AppendLE(file, pageSerial, 4);
        AppendLE(file, page++, 4);
        AppendLE(file, 0, 4); // the CRC is not checked
        file.push_back(static_cast<std::uint8_t>(lacing.size()));
        file.insert(file.end(), lacing.begin(), lacing.end());
        samples::Append(file, payload);
    }
    void Packets(const std::vector<Bytes>& packets, std::size_t segmentsPerPage, std::uint64_t granule)
    {
        std::vector<std::uint8_t> lacing;
        Bytes payload;
        for (const Bytes& packet : packets) {
            std::size_t left = packet.size();
            std::size_t at = 0;
            for (bool done = false; !done;) {
                const std::size_t n = std::min<std::size_t>(left, 255);
                lacing.push_back(static_cast<std::uint8_t>(n));
                payload.insert(payload.end(), packet.begin() + static_cast<std::ptrdiff_t>(at),
                               packet.begin() + static_cast<std::ptrdiff_t>(at + n));
                at += n;
                left -= n;
                done = n < 255;
                if (lacing.size() == segmentsPerPage) {
                    Page(lacing, payload, done ? granule : UINT64_MAX, serial);
                    lacing.clear();
                    payload.clear();
                }
            }
        }
        if (!lacing.empty())
            Page(lacing, payload, granule, serial);
    }
};

Bytes VorbisIdentification(std::uint32_t rate, std::uint32_t nominal)
{
    Bytes out = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    AppendLE(out, 0, 4);
    out.push_back(2);
    AppendLE(out, rate, 4);
    AppendLE(out, 0, 4);
    AppendLE(out, nominal, 4);
    AppendLE(out, 0, 4);
    out.push_back(0xB8);
    out.push_back(1);
    return out;
}

Bytes WithPrefix(const Bytes& prefix, const Bytes& rest)
{
    Bytes out = prefix;
    samples::Append(out, rest);
    return out;
}

std::string Base64(const Bytes& data)
{
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        std::uint32_t v = data[i] << 16;
        if (i + 1 < data.size())
            v |= data[i + 1] << 8;
        if (i + 2 < data.size())
            v |= data[i + 2];
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += i + 1 < data.size() ? kAlphabet[v >> 6 & 63] : '=';
        out += i + 2 < data.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

TEST_F(ID3Formats, VorbisCommentAcrossPagesWithAnotherStreamBetweenIsRead)
{
    OggWriter ogg;
    ogg.Packets({VorbisIdentification(44100, 128000)}, 255, 0);
    // A long comment that spans three pages of two segments, with a foreign page between them.
    const std::string longTitle(700, 'x');
    ogg.Packets({WithPrefix({3, 'v', 'o', 'r', 'b', 'i', 's'}, Comment({"TITLE=" + longTitle, "ARTIST=A"}))},
                2, 0);
    ogg.Page({3}, {9, 9, 9}, 0, 0x9999);
    ogg.Packets({Bytes{5, 'v', 'o', 'r', 'b', 'i', 's'}}, 255, 0);
    const std::size_t audio = ogg.file.size();
    ogg.Packets({Bytes(400, 7), Bytes(400, 8)}, 255, 44100 * 2 + 5);

    ASSERT_EQ(Load("a.ogg", ogg.file), 0);
    EXPECT_EQ(Text(&ID3::GetName), longTitle);
    EXPECT_EQ(Text(&ID3::GetArtist), "A");
    EXPECT_EQ(tags.GetCodec(), ID3::Codec::kVorbis);
    EXPECT_EQ(Number(&ID3::GetDuration), 2);
    EXPECT_EQ(tags.GetSampleRate(), 44100);
    EXPECT_EQ(Range().first, audio);
}

TEST_F(ID3Formats, OpusDurationLeavesOutThePreSkip)
{
    OggWriter ogg;
    Bytes head = TextBytes("OpusHead");
    head.push_back(1);
    head.push_back(2);
    AppendLE(head, 48000, 2); // pre-skip of one second
    AppendLE(head, 44100, 4);
    AppendLE(head, 0, 3);
    ogg.Packets({head}, 255, 0);
    const std::string picture = "METADATA_BLOCK_PICTURE=" + Base64(PictureRecord(kPng));
    ogg.Packets(
        {WithPrefix(TextBytes("OpusTags"), Comment({"TITLE=Opus", picture, "METADATA_BLOCK_PICTURE=!!"}))},
        255, 0);
    ogg.Packets({Bytes(300, 1)}, 255, 48000 * 4);

    ASSERT_EQ(Load("a.opus", ogg.file), 0);
    EXPECT_EQ(Text(&ID3::GetName), "Opus");
    EXPECT_EQ(tags.GetCodec(), ID3::Codec::kOpus);
    EXPECT_EQ(Number(&ID3::GetDuration), 3);
    EXPECT_EQ(tags.GetSampleRate(), 48000);
    ASSERT_EQ(tags.GetImageCount(), 1); // the damaged one is left out
    std::vector<std::uint8_t> data;
    ASSERT_EQ(tags.ReadImageData(0, data), 0);
    EXPECT_EQ(data, kPng);
    EXPECT_EQ(tags.GetImages()[0].kind, 1u);
}

TEST_F(ID3Formats, DamagedOggPagesEndTheReadingWithoutValues)
{
    OggWriter ogg;
    ogg.Packets({VorbisIdentification(44100, 0)}, 255, 0);
    ogg.Packets({WithPrefix({3, 'v', 'o', 'r', 'b', 'i', 's'}, Comment({"TITLE=Never"}))}, 255, 0);
    struct Case {
        const char* what;
        std::size_t cut;
        std::size_t corrupt;
    };
    const std::size_t second = ogg.file.size() - 40;
    for (auto [what, cut, corrupt] :
         {Case{"cut inside the comment page", 10, 0}, {"second page marker broken", 0, second}}) {
        Bytes file = ogg.file;
        file.resize(file.size() - cut);
        if (corrupt)
            for (std::size_t i = 58; i < file.size(); ++i)
                if (file[i] == 'O' && file[i + 1] == 'g')
                    file[i] = 'X';
        ASSERT_EQ(Load("d.ogg", file), 0) << what;
        EXPECT_EQ(Text(&ID3::GetName), "") << what;
        EXPECT_EQ(Number(&ID3::GetDuration), 0) << what;
    }
}

// ---- WAV ----------------------------------------------------------------------------------------

Bytes Chunk(const std::string& id, const Bytes& data)
{
    Bytes out = TextBytes(id);
    AppendLE(out, data.size(), 4);
    samples::Append(out, data);
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

Bytes Wav(const std::vector<Bytes>& chunks)
{
    Bytes body = TextBytes("WAVE");
    for (const Bytes& chunk : chunks)
        samples::Append(body, chunk);
    Bytes out = TextBytes("RIFF");
    AppendLE(out, body.size(), 4);
    samples::Append(out, body);
    return out;
}

Bytes Format()
{
    Bytes fmt;
    AppendLE(fmt, 1, 2);
    AppendLE(fmt, 2, 2);
    AppendLE(fmt, 8000, 4);
    AppendLE(fmt, 32000, 4);
    AppendLE(fmt, 4, 2);
    AppendLE(fmt, 16, 2);
    return fmt;
}

Bytes Info(const std::string& type, const std::vector<std::pair<std::string, std::string>>& items)
{
    Bytes list = TextBytes(type);
    for (const auto& [id, text] : items) {
        Bytes value = TextBytes(text);
        value.push_back(0);
        samples::Append(list, Chunk(id, value));
    }
    return Chunk("LIST", list);
}

TEST_F(ID3Formats, WavChunksGiveEveryValue)
{
    ASSERT_EQ(Load("a.wav", Wav({Chunk("fmt ", Format()), Chunk("junk", Bytes(3, 0)),
                                 Info("INFO", {{"INAM", "Name"},
                                               {"IART", "Artist"},
                                               {"IPRD", "Album"},
                                               {"IGNR", "Genre"},
                                               {"ICRD", "1999-01-01"},
                                               {"IPRT", "5"}}),
                                 Chunk("data", Bytes(32000 * 2 + 100, 0))})),
              0);
    EXPECT_EQ(Text(&ID3::GetName) + "|" + Text(&ID3::GetArtist) + "|" + Text(&ID3::GetAlbum) + "|" +
                  Text(&ID3::GetGenre),
              "Name|Artist|Album|Genre");
    EXPECT_EQ(tags.GetYear(), 1999);
    EXPECT_EQ(Number(&ID3::GetTrackNumber), 5);
    EXPECT_EQ(Number(&ID3::GetDuration), 2);
    EXPECT_EQ(Number(&ID3::GetBitrate), 256);
    EXPECT_EQ(tags.GetSampleRate(), 8000);
    EXPECT_EQ(tags.GetCodec(), ID3::Codec::kPCM);
    EXPECT_TRUE(tags.GetTagKinds() & ID3::kRIFFInfo);
}

TEST_F(ID3Formats, WavID3ChunkWinsOverTheInfoListWhereverItStands)
{
    const Bytes id3 = fixtures::ID3v2Tag({fixtures::TextFrame("TIT2", "From ID3")}, {});
    for (bool id3First : {true, false}) {
        std::vector<Bytes> chunks = {Chunk("fmt ", Format()), Chunk("data", Bytes(64, 0))};
        const Bytes info = Info("INFO", {{"INAM", "From Info"}, {"IART", "Info Artist"}});
        const std::vector<Bytes> tagChunks = id3First ? std::vector<Bytes>{Chunk("id3 ", id3), info}
                                                      : std::vector<Bytes>{info, Chunk("ID3 ", id3)};
        chunks.insert(chunks.end(), tagChunks.begin(), tagChunks.end());
        ASSERT_EQ(Load("b.wav", Wav(chunks)), 0) << id3First;
        EXPECT_EQ(Text(&ID3::GetName), "From ID3") << id3First;
        EXPECT_EQ(Text(&ID3::GetArtist), "Info Artist") << id3First;
    }
}

TEST_F(ID3Formats, WavChunksItCannotUseAreLeftAlone)
{
    Bytes file = Wav({Chunk("fmt ", Format()), Info("adtl", {{"INAM", "Not a tag"}}),
                      Info("INFO", {{"INAM", "Tag"}}), Chunk("data", Bytes(64, 0))});
    file.resize(file.size() - 10); // the data chunk is cut short
    ASSERT_EQ(Load("c.wav", file), 0);
    EXPECT_EQ(Text(&ID3::GetName), "Tag");
    unsigned long long start = 0, end = 0;
    EXPECT_EQ(tags.GetMusicRange(&start, &end), 1);
    EXPECT_EQ(end, file.size() - 1);
}

} // namespace
