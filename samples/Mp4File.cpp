#include "samples/Mp4File.h"

#include "samples/Pictures.h"

#include <algorithm>

namespace samples {

const std::string kItemName = "\xA9"
                              "nam";
const std::string kItemAlbum = "\xA9"
                               "alb";
const std::string kItemArtist = "\xA9"
                                "ART";
const std::string kItemGenre = "\xA9"
                               "gen";
const std::string kItemComposer = "\xA9"
                                  "wrt";
const std::string kItemYear = "\xA9"
                              "day";

Bytes Serialize(const Atom& atom)
{
    Bytes content = atom.payload;
    for (const Atom& child : atom.children)
        Append(content, Serialize(child));
    Bytes out;
    if (atom.largeSize) {
        AppendU32BE(out, 1);
        AppendText(out, atom.type);
        AppendU64BE(out, content.size() + 16);
    } else {
        AppendU32BE(out, static_cast<std::uint32_t>(content.size() + 8));
        AppendText(out, atom.type);
    }
    Append(out, content);
    return out;
}

Atom DataItem(const std::string& type, std::uint32_t dataType, const Bytes& value)
{
    Atom data{"data", {}};
    AppendU32sBE(data.payload, {dataType, 0}); // type, locale
    Append(data.payload, value);
    return Atom{type, {}, {data}};
}

Atom TextItem(const std::string& type, const std::string& utf8)
{
    return DataItem(type, 1, Bytes(utf8.begin(), utf8.end()));
}

Atom IntegerItem(const std::string& type, std::uint64_t value, int width)
{
    Bytes bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return DataItem(type, 21, bytes);
}

Atom PairItem(const std::string& type, int number, int count, int width)
{
    Bytes bytes = {0, 0};
    AppendU16BE(bytes, static_cast<std::uint32_t>(number));
    AppendU16BE(bytes, static_cast<std::uint32_t>(count));
    if (width == 8)
        AppendU16BE(bytes, 0);
    return DataItem(type, 0, bytes);
}

Atom CoverItem(const std::vector<Bytes>& pictures)
{
    Atom covr{"covr", {}};
    for (const Bytes& picture : pictures) {
        std::uint32_t dataType =
            picture.size() >= 2 && picture[0] == 0xFF && picture[1] == 0xD8 ? 13 : (IsPng(picture) ? 14 : 0);
        covr.children.push_back(DataItem("data", dataType, picture).children[0]);
    }
    return covr;
}

namespace {

// A full atom's payload begins with its version and flags.
Atom FullAtom(const std::string& type, std::uint32_t versionAndFlags, std::vector<Atom> children = {})
{
    Bytes payload;
    AppendU32BE(payload, versionAndFlags);
    return Atom{type, payload, std::move(children)};
}

void AppendMatrix(Bytes& out)
{
    AppendU32sBE(out, {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u});
}

// The sample table of `frames` frames of `frameSize` bytes, the first at `audioOffset` in the file.
std::vector<Atom> SampleTable(std::uint32_t frames, std::uint32_t frameSize, std::uint32_t audioOffset)
{
    Atom stts = FullAtom("stts", 0), stsc = FullAtom("stsc", 0), stsz = FullAtom("stsz", 0),
         stco = FullAtom("stco", 0);
    AppendU32sBE(stts.payload, {1, frames, 1024});   // one run of frames of 1024 samples
    AppendU32sBE(stsc.payload, {1, 1, frames, 1});   // chunk 1 holds every frame
    AppendU32sBE(stsz.payload, {frameSize, frames}); // all of one size
    AppendU32sBE(stco.payload, {1, audioOffset});
    return {stts, stsc, stsz, stco};
}

// mp4a sample entry with its esds, laid out as players and other readers expect it.
Atom SoundTrack(const Mp4Spec& movie, std::uint32_t bitRate, std::uint32_t audioOffset)
{
    const std::uint64_t seconds = movie.timeScale ? movie.durationUnits / movie.timeScale : 0;
    const std::uint32_t frames =
        movie.frameSize ? static_cast<std::uint32_t>(movie.audio.size() / movie.frameSize) : 0;
    // Flags 7 (enabled, in movie), two times, track id 1, reserved, duration.
    Atom tkhd = FullAtom("tkhd", 7);
    AppendU32sBE(tkhd.payload, {0, 0, 1, 0, static_cast<std::uint32_t>(movie.durationUnits)});
    tkhd.payload.resize(tkhd.payload.size() + 8 + 4, 0);
    AppendU16BE(tkhd.payload, 0x0100); // volume
    AppendU16BE(tkhd.payload, 0);
    AppendMatrix(tkhd.payload);
    AppendU32sBE(tkhd.payload, {0, 0});

    // The media's duration in samples: what the frames hold, else the movie's length.
    Atom mdhd = FullAtom("mdhd", 0);
    AppendU32sBE(mdhd.payload,
                 {0, 0, static_cast<std::uint32_t>(movie.sampleRate),
                  movie.frameSize
                      ? frames * 1024
                      : static_cast<std::uint32_t>(seconds * static_cast<std::uint64_t>(movie.sampleRate))});
    AppendU16BE(mdhd.payload, 0x55C4); // "und"
    AppendU16BE(mdhd.payload, 0);

    Atom hdlr = FullAtom("hdlr", 0);
    AppendU32BE(hdlr.payload, 0);
    AppendText(hdlr.payload, "soun");
    hdlr.payload.resize(hdlr.payload.size() + 12, 0);
    AppendText(hdlr.payload, "SoundHandler");
    hdlr.payload.push_back(0);

    // The decoder configuration: AAC-LC at 44.1 kHz, then the channel count.
    Bytes decoderConfig = {0x40, 0x15, 0, 0x18, 0};
    AppendU32sBE(decoderConfig, {bitRate, bitRate}); // maximum, average
    Append(decoderConfig, {0x05, 0x02, 0x12, static_cast<std::uint8_t>(movie.channels << 3)});
    Bytes es = {0, 1, 0, 0x04, static_cast<std::uint8_t>(decoderConfig.size())};
    Append(es, decoderConfig);
    Append(es, {0x06, 0x01, 0x02});
    Atom esds = FullAtom("esds", 0);
    esds.payload.push_back(0x03);
    esds.payload.push_back(static_cast<std::uint8_t>(es.size()));
    Append(esds.payload, es);

    Atom mp4a{"mp4a"};
    mp4a.payload.resize(6, 0);
    AppendU16BE(mp4a.payload, 1); // data reference
    AppendU32sBE(mp4a.payload, {0, 0});
    AppendU16BE(mp4a.payload, static_cast<std::uint32_t>(movie.channels));
    AppendU16BE(mp4a.payload, 16); // sample size
    AppendU32BE(mp4a.payload, 0);
    AppendU32BE(mp4a.payload, static_cast<std::uint32_t>(movie.sampleRate) << 16);
    mp4a.children.push_back(esds);

    Atom stsd = FullAtom("stsd", 0, {mp4a});
    AppendU32BE(stsd.payload, 1);
    Atom stbl{"stbl", {}, {stsd}};
    Atom smhd = FullAtom("smhd", 0);
    AppendU32BE(smhd.payload, 0);
    Atom minf{"minf", {}, {smhd}};
    if (movie.frameSize) {
        Atom dref = FullAtom("dref", 0, {FullAtom("url ", 1)}); // the data is in this file
        AppendU32BE(dref.payload, 1);
        minf.children.push_back(Atom{"dinf", {}, {dref}});
        for (Atom& table : SampleTable(frames, movie.frameSize, audioOffset))
            stbl.children.push_back(std::move(table));
    }
    minf.children.push_back(stbl);
    Atom mdia{"mdia", {}, {mdhd, hdlr, minf}};
    return Atom{"trak", {}, {tkhd, mdia}};
}

Bytes Movie(const Mp4Spec& movie, std::uint32_t audioOffset)
{
    Atom mvhd{"mvhd"};
    if (movie.movieHeaderVersion1) {
        AppendU32BE(mvhd.payload, 0x01000000);
        AppendU64BE(mvhd.payload, 0);
        AppendU64BE(mvhd.payload, 0);
        AppendU32BE(mvhd.payload, movie.timeScale);
        AppendU64BE(mvhd.payload, movie.durationUnits);
    } else {
        AppendU32sBE(mvhd.payload,
                     {0, 0, 0, movie.timeScale, static_cast<std::uint32_t>(movie.durationUnits)});
    }
    AppendU32BE(mvhd.payload, 0x00010000); // rate
    AppendU16BE(mvhd.payload, 0x0100);     // volume
    mvhd.payload.resize(mvhd.payload.size() + 10, 0);
    AppendMatrix(mvhd.payload);
    mvhd.payload.resize(mvhd.payload.size() + 24, 0);
    AppendU32BE(mvhd.payload, 2); // next track id

    Atom moov{"moov", {}, {mvhd}};
    const std::uint64_t seconds = movie.timeScale ? movie.durationUnits / movie.timeScale : 0;
    const std::uint32_t bitRate = seconds ? static_cast<std::uint32_t>(movie.audio.size() * 8 / seconds) : 0;
    if (movie.withTrack)
        moov.children.push_back(SoundTrack(movie, bitRate, audioOffset));
    if (movie.withMetadata) {
        Atom hdlr = FullAtom("hdlr", 0);
        AppendU32BE(hdlr.payload, 0);
        AppendText(hdlr.payload, "mdirappl");
        hdlr.payload.resize(hdlr.payload.size() + 9, 0);
        Atom meta = FullAtom("meta", 0, {hdlr, Atom{"ilst", {}, movie.items}});
        moov.children.push_back(Atom{"udta", {}, {meta}});
    }
    return Serialize(moov);
}

} // namespace

Bytes Mp4File(const Mp4Spec& movie)
{
    Atom ftyp{"ftyp"};
    AppendText(ftyp.payload, "M4A ");
    AppendU32BE(ftyp.payload, 0);
    AppendText(ftyp.payload, "M4A mp42isom");

    Bytes out = Serialize(ftyp);
    for (const Atom& extra : movie.extraTopLevel)
        Append(out, Serialize(extra));
    const Bytes mdat = Serialize(Atom{"mdat", movie.audio, {}, movie.largeMdat});
    const std::size_t mdatHeader = movie.largeMdat ? 16 : 8;
    if (movie.mdatFirst) {
        const auto audioOffset = static_cast<std::uint32_t>(out.size() + mdatHeader);
        Append(out, mdat);
        Append(out, Movie(movie, audioOffset));
    } else {
        // The movie's size does not depend on the offset it holds: made once to learn it.
        const auto audioOffset = static_cast<std::uint32_t>(out.size() + Movie(movie, 0).size() + mdatHeader);
        Append(out, Movie(movie, audioOffset));
        Append(out, mdat);
    }
    return out;
}

namespace {

// Writes bit fields from the most significant bit of each byte on.
class BitWriter {
public:
    void Put(std::uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (used % 8 == 0)
                bytes.push_back(0);
            if ((value >> i) & 1)
                bytes.back() |= static_cast<std::uint8_t>(0x80 >> (used % 8));
            ++used;
        }
    }
    Bytes Take() { return std::move(bytes); }

private:
    Bytes bytes;
    std::size_t used = 0;
};

} // namespace

Bytes SilentAacFrame(int size)
{
    BitWriter bits;
    bits.Put(0, 3);   // single channel element
    bits.Put(0, 4);   // instance tag
    bits.Put(140, 8); // global gain
    bits.Put(0, 1);   // reserved
    bits.Put(0, 2);   // only long window
    bits.Put(1, 1);   // window shape
    bits.Put(0, 6);   // no scale-factor bands: silence
    bits.Put(0, 1);   // no prediction
    bits.Put(0, 1);   // no pulse data
    bits.Put(0, 1);   // no noise shaping
    bits.Put(0, 1);   // no gain control
    int remaining = size * 8 - 29 - 3;
    while (remaining >= 7 + 8) {
        // A fill element: its byte count (a 4-bit count, or 15 and an 8-bit escape for 15 to 269
        // bytes), then an extension of the fill type: its type and a nibble, then bytes to skip.
        int count = 0;
        if (remaining >= 15 + 8 * 15) {
            count = std::min(269, (remaining - 15) / 8);
            bits.Put(6, 3);
            bits.Put(15, 4);
            bits.Put(static_cast<std::uint32_t>(count - 14), 8);
            remaining -= 15;
        } else {
            count = std::min(14, (remaining - 7) / 8);
            bits.Put(6, 3);
            bits.Put(static_cast<std::uint32_t>(count), 4);
            remaining -= 7;
        }
        bits.Put(0, 4); // fill extension
        bits.Put(0, 4); // fill nibble
        for (int i = 1; i < count; ++i)
            bits.Put(0xA5, 8);
        remaining -= count * 8;
    }
    bits.Put(7, 3); // end
    return bits.Take();
}

} // namespace samples
