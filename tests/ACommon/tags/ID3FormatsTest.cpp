// The tag reader on FLAC, Ogg (Vorbis and Opus) and WAV files built byte by byte, for the cases the
// encoders never write: damaged sizes, packets across pages, chunks in an unusual order.

#include "ACommon/tags/ID3.h"
#include "ACommon/tags/VorbisComment.h"
#include "VorbisBytes.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/StateFile.h"
#include "fixtures/TagReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fixtures::Bytes;
using tagbytes::AppendLE;
using tagbytes::Comment;
using tagbytes::PictureRecord;
using tagbytes::TextBytes;

namespace {

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
            for (std::size_t at = 0, n = 255; n == 255; at += n) { // a segment of 255 bytes goes on
                n = std::min<std::size_t>(packet.size() - at, 255);
                lacing.push_back(static_cast<std::uint8_t>(n));
                payload.insert(payload.end(), packet.begin() + static_cast<std::ptrdiff_t>(at),
                               packet.begin() + static_cast<std::ptrdiff_t>(at + n));
                if (lacing.size() == segmentsPerPage) {
                    Page(lacing, payload, n < 255 ? granule : UINT64_MAX, serial);
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

// PCM, two channels of 16 bits at 8000 Hz: 32000 bytes a second.
const Bytes kFormat = {1, 0, 2, 0, 0x40, 0x1F, 0, 0, 0x00, 0x7D, 0, 0, 4, 0, 16, 0};

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

// The files, each laid out as no encoder would lay it out.

Bytes Flac(const std::vector<Bytes>& blocks, std::size_t audio)
{
    Bytes file = TextBytes("fLaC");
    for (const Bytes& block : blocks)
        samples::Append(file, block);
    samples::Append(file, Bytes(audio, 0x55));
    return file;
}

Bytes VorbisTags(const std::vector<std::string>& fields)
{
    return WithPrefix({3, 'v', 'o', 'r', 'b', 'i', 's'}, Comment(fields));
}

// A comment that spans three pages of two segments, with a page of another stream between them.
Bytes OggAcrossPages(const std::string& title)
{
    OggWriter ogg;
    ogg.Packets({VorbisIdentification(44100, 128000)}, 255, 0);
    ogg.Packets({VorbisTags({"TITLE=" + title, "ARTIST=A"})}, 2, 0);
    ogg.Page({3}, {9, 9, 9}, 0, 0x9999);
    ogg.Packets({Bytes{5, 'v', 'o', 'r', 'b', 'i', 's'}}, 255, 0);
    ogg.Packets({Bytes(400, 7), Bytes(400, 8)}, 255, 44100 * 2 + 5);
    return ogg.file;
}

// One second of pre-skip in four; a picture, and one that is not Base64.
Bytes OpusWithPreSkip()
{
    OggWriter ogg;
    Bytes head = TextBytes("OpusHead");
    head.push_back(1);
    head.push_back(2);
    AppendLE(head, 48000, 2);
    AppendLE(head, 44100, 4);
    AppendLE(head, 0, 3);
    ogg.Packets({head}, 255, 0);
    // A picture record of kPng in Base64.
    const std::string picture =
        "METADATA_BLOCK_PICTURE=AAAAAwAAAAAAAAAAAAAAAQAAAAEAAAAYAAAAAAAAAAyJUE5HDQoaCgECAwQ=";
    ogg.Packets(
        {WithPrefix(TextBytes("OpusTags"), Comment({"TITLE=Opus", picture, "METADATA_BLOCK_PICTURE=!!"}))},
        255, 0);
    ogg.Packets({Bytes(300, 1)}, 255, 48000 * 4);
    return ogg.file;
}

Bytes WavWithID3(bool id3First)
{
    const Bytes id3 =
        Chunk(id3First ? "id3 " : "ID3 ", fixtures::ID3v2Tag({fixtures::TextFrame("TIT2", "ID3")}, {}));
    const Bytes info = Info("INFO", {{"INAM", "Info"}, {"IART", "Info Artist"}, {"ICRD", "1999-01-01"}});
    return Wav({Chunk("fmt ", kFormat), Chunk("data", Bytes(32000 * 2 + 100, 0)), id3First ? id3 : info,
                id3First ? info : id3});
}

// The values every row checks, as one line: name|artist|year|seconds|pictures|first-last byte of the
// music|tag kinds. Every picture must read as kPng.
class ID3Formats : public fixtures::TagReaderTest {
protected:
    struct Row {
        const char* what;
        const char* fileName;
        Bytes file;
        std::string summary;
    };
    void Check(const Row& row)
    {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(Load(row.fileName, row.file), 0);
        const MusicRange range = Range();
        EXPECT_EQ(Text(&ID3::GetName) + "|" + Text(&ID3::GetArtist) + "|" + std::to_string(tags.GetYear()) +
                      "|" + std::to_string(Number(&ID3::GetDuration)) + "|" +
                      std::to_string(tags.GetImageCount()) + "|" + std::to_string(range.first) + "-" +
                      std::to_string(range.second) + "|" + std::to_string(tags.GetTagKinds()),
                  row.summary);
        for (int i = 0; i < tags.GetImageCount(); ++i) {
            std::vector<std::uint8_t> data;
            EXPECT_EQ(tags.ReadImageData(i, data), 0);
            EXPECT_EQ(data, kPng);
            EXPECT_EQ(tags.GetImages()[static_cast<std::size_t>(i)].kind, 1u);
        }
    }
    static std::string Music(const Bytes& file, std::size_t audio)
    {
        return std::to_string(file.size() - audio) + "-" + std::to_string(file.size() - 1);
    }
};

// (What the formats' own encoders write is read against TagLib in TagFormatsPeer.)
TEST_F(ID3Formats, LayoutsNoEncoderWritesAreRead)
{
    const Bytes flac = Flac({FlacBlock(0, false, StreamInfo(44100, 44100 * 3 + 10)),
                             FlacBlock(4, false, Comment({"TITLE=Song", "ALBUMARTIST=Band", "DATE=2004"})),
                             FlacBlock(1, false, Bytes(20, 0)), FlacBlock(6, true, PictureRecord(kPng))},
                            3000);
    const Bytes flacBehindID3 =
        fixtures::Concat({fixtures::ID3v2Tag({fixtures::TextFrame("TIT2", "Ignored")}, {}),
                          Flac({FlacBlock(4, true, Comment({"TITLE=Flac"}))}, 100)});
    const std::string longTitle(700, 'x');
    const Bytes ogg = OggAcrossPages(longTitle), opus = OpusWithPreSkip();
    const Bytes wavID3First = WavWithID3(true), wavID3Last = WavWithID3(false);
    // A list that is not INFO is no tag; a data chunk cut short runs to the end of the file.
    Bytes wavCut =
        Wav({Chunk("fmt ", kFormat), Chunk("junk", Bytes(3, 0)), Info("adtl", {{"INAM", "Not a tag"}}),
             Info("INFO", {{"INAM", "Tag"}}), Chunk("data", Bytes(64, 0))});
    wavCut.resize(wavCut.size() - 10);
    const std::string vorbis = std::to_string(ID3::kVorbisComment);
    const std::string wavKinds = std::to_string(ID3::kID3v23 | ID3::kRIFFInfo);
    const Row rows[] = {
        {"FLAC with padding and a picture; the album artist stands in", "a.flac", flac,
         "Song|Band|2004|3|1|" + Music(flac, 3000) + "|" + vorbis},
        {"FLAC behind an ID3v2 tag", "b.flac", flacBehindID3,
         "Flac||0|0|0|" + Music(flacBehindID3, 100) + "|" + vorbis},
        {"Vorbis comment across pages, another stream between", "a.ogg", ogg,
         longTitle + "|A|0|2|0|" + Music(ogg, 27 + 4 + 800) + "|" + vorbis},
        {"Opus duration leaves out the pre-skip; a damaged picture is left out", "a.opus", opus,
         "Opus||0|3|1|" + Music(opus, 27 + 2 + 300) + "|" + vorbis},
        {"WAV ID3 chunk before the INFO list wins", "a.wav", wavID3First,
         "ID3|Info Artist|1999|2|0|44-" + std::to_string(44 + 64099) + "|" + wavKinds},
        {"WAV ID3 chunk after the INFO list wins", "b.wav", wavID3Last,
         "ID3|Info Artist|1999|2|0|44-" + std::to_string(44 + 64099) + "|" + wavKinds},
        {"WAV chunks it cannot use", "c.wav", wavCut,
         "Tag||0|0|0|" + Music(wavCut, 54) + "|" + std::to_string(ID3::kRIFFInfo)},
    };
    for (const Row& row : rows)
        Check(row);
}

TEST_F(ID3Formats, DamagedFilesGiveOnlyWhatPrecedesTheDamage)
{
    Bytes flac =
        Flac({FlacBlock(4, false, Comment({"TITLE=Kept"})), FlacBlock(6, true, PictureRecord(kPng))}, 0);
    flac.resize(flac.size() - 5);
    OggWriter ogg;
    ogg.Packets({VorbisIdentification(44100, 0)}, 255, 0);
    ogg.Packets({VorbisTags({"TITLE=Never"})}, 255, 0);
    Bytes oggCut = ogg.file, oggBroken = ogg.file;
    oggCut.resize(oggCut.size() - 10);
    oggBroken[58] = 'X'; // the second page's marker, after the first page's 58 bytes
    const Row rows[] = {
        {"FLAC block running past the file", "c.flac", flac,
         "Kept||0|0|0|" + Music(flac, flac.size() - 36) + "|" + std::to_string(ID3::kVorbisComment)},
        {"Ogg cut inside the comment page", "c.ogg", oggCut, "||0|0|0|0-0|0"},
        {"Ogg page marker broken", "d.ogg", oggBroken, "||0|0|0|0-0|0"},
    };
    for (const Row& row : rows)
        Check(row);
}

} // namespace
