#include "cli/DemoFiles.h"

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace cli::demo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kSampleRate = 44100;
constexpr int kBitRate = 128; // kbit/s

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

// ---- MP3 ----------------------------------------------------------------------------------------

// An ID3v2.3 text frame: Latin-1 for plain ASCII, else UTF-16 with a byte-order mark.
Bytes TextFrame(const char* id, const std::string& utf8)
{
    Bytes data;
    if (IsAscii(utf8)) {
        data.push_back(0);
        data.insert(data.end(), utf8.begin(), utf8.end());
    } else {
        data.push_back(1);
        data.push_back(0xFF);
        data.push_back(0xFE);
        const AString text = AString::FromUTF8(utf8);
        for (char16_t unit : text.Units()) {
            data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            data.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
    }
    ByteWriter frame;
    frame.WriteTag(id);
    frame.WriteU32BE(static_cast<std::uint32_t>(data.size()));
    frame.WriteU16BE(0);
    frame.WriteBytes(data);
    return frame.Take();
}

Bytes ID3v2Tag(const DemoSong& song)
{
    Bytes frames;
    Append(frames, TextFrame("TIT2", song.title));
    Append(frames, TextFrame("TPE1", song.artist));
    Append(frames, TextFrame("TALB", song.album));
    Append(frames, TextFrame("TCON", song.genre));
    if (song.track > 0)
        Append(frames, TextFrame("TRCK", std::to_string(song.track) + "/" + std::to_string(song.trackCount)));
    if (song.year > 0)
        Append(frames, TextFrame("TYER", std::to_string(song.year)));
    ByteWriter tag;
    tag.WriteTag("ID3");
    tag.WriteU8(3);
    tag.WriteU8(0);
    tag.WriteU8(0);
    tag.WriteSynchsafe28(static_cast<std::uint32_t>(frames.size()));
    tag.WriteBytes(frames);
    return tag.Take();
}

// ---- M4A ----------------------------------------------------------------------------------------

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

// One AAC-LC raw frame of 1024 silent samples (a mono channel element with no scale-factor bands),
// padded with fill elements to about `size` bytes so that the stream has the bit rate of real music.
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

Bytes Box(const char* type, const Bytes& payload)
{
    ByteWriter box;
    box.WriteU32BE(static_cast<std::uint32_t>(payload.size() + 8));
    box.WriteTag(type);
    box.WriteBytes(payload);
    return box.Take();
}

Bytes Boxes(const char* type, std::initializer_list<Bytes> children)
{
    Bytes payload;
    for (const Bytes& child : children)
        Append(payload, child);
    return Box(type, payload);
}

Bytes FullBox(const char* type, std::uint32_t versionAndFlags, const Bytes& rest)
{
    ByteWriter payload;
    payload.WriteU32BE(versionAndFlags);
    payload.WriteBytes(rest);
    return Box(type, payload.Bytes());
}

Bytes IlstText(const char* type, const std::string& utf8)
{
    ByteWriter data;
    data.WriteU32BE(1); // UTF-8
    data.WriteU32BE(0); // locale
    data.WriteBytes(utf8.data(), utf8.size());
    return Box(type, Box("data", data.Bytes()));
}

Bytes Matrix()
{
    ByteWriter out;
    for (std::uint32_t m : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u})
        out.WriteU32BE(m);
    return out.Take();
}

Bytes Moov(const DemoSong& song, std::uint32_t frames, std::uint32_t frameSize, std::uint32_t audioOffset)
{
    const std::uint32_t samples = frames * 1024;
    const std::uint32_t milliseconds = static_cast<std::uint32_t>(song.seconds) * 1000;
    const std::uint32_t bitsPerSecond =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(frames) * frameSize * 8 / song.seconds);

    ByteWriter mvhd;
    mvhd.WriteU32BE(0);
    mvhd.WriteU32BE(0);
    mvhd.WriteU32BE(1000);
    mvhd.WriteU32BE(milliseconds);
    mvhd.WriteU32BE(0x00010000);
    mvhd.WriteU16BE(0x0100);
    mvhd.WriteZeros(10);
    mvhd.WriteBytes(Matrix());
    mvhd.WriteZeros(24);
    mvhd.WriteU32BE(2);

    ByteWriter tkhd;
    tkhd.WriteU32BE(0);
    tkhd.WriteU32BE(0);
    tkhd.WriteU32BE(1); // track id
    tkhd.WriteU32BE(0);
    tkhd.WriteU32BE(milliseconds);
    tkhd.WriteZeros(8);
    tkhd.WriteU16BE(0);
    tkhd.WriteU16BE(0);
    tkhd.WriteU16BE(0x0100); // volume
    tkhd.WriteU16BE(0);
    tkhd.WriteBytes(Matrix());
    tkhd.WriteU32BE(0);
    tkhd.WriteU32BE(0);

    ByteWriter mdhd;
    mdhd.WriteU32BE(0);
    mdhd.WriteU32BE(0);
    mdhd.WriteU32BE(kSampleRate);
    mdhd.WriteU32BE(samples);
    mdhd.WriteU16BE(0x55C4); // "und"
    mdhd.WriteU16BE(0);

    ByteWriter soundHandler;
    soundHandler.WriteU32BE(0);
    soundHandler.WriteTag("soun");
    soundHandler.WriteZeros(12);
    soundHandler.WriteTag("SoundHandler");
    soundHandler.WriteU8(0);

    // The decoder configuration: AAC-LC, 44.1 kHz, one channel.
    Bytes decoderConfig = {0x40, 0x15, 0, 0x18, 0};
    ByteWriter rates;
    rates.WriteU32BE(bitsPerSecond);
    rates.WriteU32BE(bitsPerSecond);
    Append(decoderConfig, rates.Bytes());
    Append(decoderConfig, {0x05, 0x02, 0x12, 0x08});
    Bytes stream = {0, 1, 0, 0x04, static_cast<std::uint8_t>(decoderConfig.size())};
    Append(stream, decoderConfig);
    Append(stream, {0x06, 0x01, 0x02});
    Bytes esdsBody = {0x03, static_cast<std::uint8_t>(stream.size())};
    Append(esdsBody, stream);

    ByteWriter mp4a;
    mp4a.WriteZeros(6);
    mp4a.WriteU16BE(1); // data reference
    mp4a.WriteZeros(8);
    mp4a.WriteU16BE(1);  // channels
    mp4a.WriteU16BE(16); // sample size
    mp4a.WriteU32BE(0);
    mp4a.WriteU32BE(static_cast<std::uint32_t>(kSampleRate) << 16);
    mp4a.WriteBytes(FullBox("esds", 0, esdsBody));

    ByteWriter stsd, stts, stsc, stsz, stco;
    stsd.WriteU32BE(1);
    stsd.WriteBytes(Box("mp4a", mp4a.Bytes()));
    stts.WriteU32BE(1);
    stts.WriteU32BE(frames);
    stts.WriteU32BE(1024);
    stsc.WriteU32BE(1);
    stsc.WriteU32BE(1);
    stsc.WriteU32BE(frames);
    stsc.WriteU32BE(1);
    stsz.WriteU32BE(frameSize);
    stsz.WriteU32BE(frames);
    stco.WriteU32BE(1);
    stco.WriteU32BE(audioOffset);
    const Bytes stbl = Boxes("stbl", {FullBox("stsd", 0, stsd.Bytes()), FullBox("stts", 0, stts.Bytes()),
                                      FullBox("stsc", 0, stsc.Bytes()), FullBox("stsz", 0, stsz.Bytes()),
                                      FullBox("stco", 0, stco.Bytes())});
    ByteWriter dref;
    dref.WriteU32BE(1);
    dref.WriteBytes(FullBox("url ", 1, {}));
    const Bytes minf = Boxes(
        "minf", {FullBox("smhd", 0, {0, 0, 0, 0}), Boxes("dinf", {FullBox("dref", 0, dref.Bytes())}), stbl});
    const Bytes trak = Boxes("trak", {FullBox("tkhd", 7, tkhd.Bytes()),
                                      Boxes("mdia", {FullBox("mdhd", 0, mdhd.Bytes()),
                                                     FullBox("hdlr", 0, soundHandler.Bytes()), minf})});

    Bytes items;
    Append(items, IlstText("\xA9nam", song.title));
    Append(items, IlstText("\xA9"
                           "ART",
                           song.artist));
    Append(items, IlstText("\xA9"
                           "alb",
                           song.album));
    Append(items, IlstText("\xA9gen", song.genre));
    if (song.year > 0)
        Append(items, IlstText("\xA9"
                               "day",
                               std::to_string(song.year)));
    if (song.track > 0) {
        ByteWriter pair;
        pair.WriteU32BE(0); // implicit type
        pair.WriteU32BE(0);
        pair.WriteU16BE(0);
        pair.WriteU16BE(static_cast<std::uint16_t>(song.track));
        pair.WriteU16BE(static_cast<std::uint16_t>(song.trackCount));
        pair.WriteU16BE(0);
        Append(items, Box("trkn", Box("data", pair.Bytes())));
    }
    ByteWriter metaHandler;
    metaHandler.WriteU32BE(0);
    metaHandler.WriteTag("mdir");
    metaHandler.WriteTag("appl");
    metaHandler.WriteZeros(9);
    const Bytes meta = FullBox("meta", 0, [&] {
        Bytes children = FullBox("hdlr", 0, metaHandler.Bytes());
        Append(children, Box("ilst", items));
        return children;
    }());
    return Boxes("moov", {FullBox("mvhd", 0, mvhd.Bytes()), trak, Boxes("udta", {meta})});
}

} // namespace

std::vector<std::uint8_t> Mp3Bytes(const DemoSong& song)
{
    Bytes out = ID3v2Tag(song);
    // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, mono. All-zero side information gives granules without
    // main data: silence. The rest of each frame is ancillary data, which decoders skip.
    // Frames are 417 or 418 bytes (the padding bit), as an encoder lays them out for 128 kbit/s.
    constexpr std::uint64_t kBytesPerFrameTimes44100 = 144ULL * kBitRate * 1000;
    constexpr std::size_t kSideInfo = 17;
    const std::string mark = "Pelorin demo: " + song.artist + " - " + song.title + ". ";
    const std::size_t frames = (static_cast<std::size_t>(song.seconds) * kSampleRate + 1151) / 1152;
    std::size_t at = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t length = static_cast<std::size_t>((i + 1) * kBytesPerFrameTimes44100 / kSampleRate -
                                                            i * kBytesPerFrameTimes44100 / kSampleRate);
        const bool padded = length > kBytesPerFrameTimes44100 / kSampleRate;
        const std::uint8_t header[4] = {0xFF, 0xFB, static_cast<std::uint8_t>(padded ? 0x92 : 0x90), 0xC4};
        out.insert(out.end(), header, header + 4);
        out.insert(out.end(), kSideInfo, 0);
        for (std::size_t k = 4 + kSideInfo; k < length; ++k)
            out.push_back(static_cast<std::uint8_t>(mark[at++ % mark.size()]));
    }
    return out;
}

std::vector<std::uint8_t> M4aBytes(const DemoSong& song)
{
    const Bytes frame = SilentAacFrame(372); // about 128 kbit/s at 44.1 kHz
    const std::uint32_t frames =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(song.seconds) * kSampleRate + 1023) / 1024);

    ByteWriter ftypBody;
    ftypBody.WriteTag("M4A ");
    ftypBody.WriteU32BE(0);
    ftypBody.WriteTag("M4A mp42isom");
    const Bytes ftyp = Box("ftyp", ftypBody.Bytes());
    // The movie's size does not depend on the offset it holds, so it is made once to learn it.
    const std::size_t moovSize = Moov(song, frames, static_cast<std::uint32_t>(frame.size()), 0).size();
    const auto audioOffset = static_cast<std::uint32_t>(ftyp.size() + moovSize + 8);
    Bytes out = ftyp;
    Append(out, Moov(song, frames, static_cast<std::uint32_t>(frame.size()), audioOffset));
    ByteWriter mdat;
    mdat.WriteU32BE(static_cast<std::uint32_t>(8 + frame.size() * frames));
    mdat.WriteTag("mdat");
    Append(out, mdat.Bytes());
    for (std::uint32_t i = 0; i < frames; ++i)
        Append(out, frame);
    return out;
}

std::vector<DemoSong> Catalogue()
{
    struct Album {
        const char* artist;
        const char* album;
        const char* genre;
        int year;
        const char* extension;
        std::vector<const char*> titles;
    };
    const Album albums[] = {
        {"The Lanterns",
         "Harbour Lights",
         "Rock",
         2004,
         "mp3",
         {"Harbour Lights", "Paper Boats", "Salt and Iron", "The Long Pier", "Lighthouse Keeper"}},
        {"The Lanterns",
         "Low Tide",
         "Rock",
         2006,
         "mp3",
         {"Low Tide", "Driftwood", "Undertow", "Morning Ferry"}},
        {"Mira Okafor",
         "Quiet Rooms",
         "Jazz",
         2005,
         "mp3",
         {"Blue Hour", "Quiet Rooms", "Late Train", "Smoke Rings", "After Midnight"}},
        {"Northbound",
         "Long Way Home",
         "Country",
         2003,
         "mp3",
         {"Long Way Home", "Dusty Boots", "County Line", "Porch Light"}},
        {"Velvet Static",
         "Neon Tide",
         "Electronic",
         2007,
         "m4a",
         {"Neon Tide", "Pulse Width", "Night Drive", "Signal Lost", "Afterglow"}},
        {"Juniper Hall",
         "Field Notes",
         "Folk",
         2002,
         "m4a",
         {"Field Notes", "Wild Thyme", "Old Orchard", "River Song"}},
        {"Kai Brennan",
         "Two Cities",
         "Pop",
         2006,
         "mp3",
         {"Two Cities", "Postcards", "Summer Again", "Skyline", "Overnight"}},
        {"Ensemble Aurora",
         "Nocturnes",
         "Classical",
         2001,
         "m4a",
         {"Nocturne in Blue", "Étude for Strings", "Café Waltz", "Lullaby"}},
        {"Sofía Marín", "Luz de Mar", "Latin", 2005, "mp3", {"Luz de Mar", "Canción del Sur", "Mañana"}},
    };
    std::vector<DemoSong> songs;
    for (const Album& album : albums) {
        int track = 0;
        for (const char* title : album.titles) {
            DemoSong song;
            song.title = title;
            song.artist = album.artist;
            song.album = album.album;
            song.genre = album.genre;
            song.year = album.year;
            song.track = ++track;
            song.trackCount = static_cast<int>(album.titles.size());
            song.seconds = 2 + static_cast<int>(songs.size() % 4);
            song.extension = album.extension;
            songs.push_back(song);
        }
    }
    return songs;
}

std::string SongFileName(const DemoSong& song)
{
    char number[8];
    std::snprintf(number, sizeof number, "%02d ", song.track);
    return number + song.title + "." + song.extension;
}

bool WriteSongs(const std::string& folder, std::string& problem)
{
    for (const DemoSong& song : Catalogue()) {
        const std::string path = folder + "/" + song.artist + "/" + song.album + "/" + SongFileName(song);
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        const Bytes bytes = song.extension == "m4a" ? M4aBytes(song) : Mp3Bytes(song);
        // New files of a demonstration: written plainly, not flushed one by one.
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (error || !out) {
            problem = "cannot write " + path;
            return false;
        }
    }
    return true;
}

bool MakeIPod(const std::string& root, const std::string& name, const std::string& model,
              std::string& problem)
{
    std::error_code error;
    for (const char* folder : {"iPod_Control/Device", "iPod_Control/iTunes"}) {
        std::filesystem::create_directories(root + "/" + folder, error);
        if (error) {
            problem = "cannot make " + root + "/" + folder + ": " + error.message();
            return false;
        }
    }
    for (int i = 0; i < 20; ++i) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "/iPod_Control/Music/F%02d", i);
        std::filesystem::create_directories(root + folder, error);
        if (error) {
            problem = "cannot make " + root + folder + ": " + error.message();
            return false;
        }
    }
    auto write = [&](const std::string& relative, const void* data, std::size_t size) {
        AString path = AString::FromUTF8(root + "/" + relative);
        if (AFile::WriteWholeFileSafely(&path, data, size) == 0)
            return true;
        problem = "cannot write " + root + "/" + relative;
        return false;
    };
    // Every iPod has a FireWire GUID of its own, by which a sync tells it from another iPod of the
    // same name: each demonstration iPod gets one (Apple's prefix, then random digits).
    std::random_device random;
    const std::uint64_t serial = (static_cast<std::uint64_t>(random()) << 32 | random()) & 0xFFFFFFFFFFull;
    char guid[32];
    std::snprintf(guid, sizeof guid, "0x000A27%010llX", static_cast<unsigned long long>(serial));
    const std::string sysInfo = "BoardHwName: iPod M25\nModelNumStr: " + model + "\nFirewireGuid: " + guid +
                                "\nvisibleBuildID: 0x01118000\n";
    // The preferences: byte 10 says whether the iPod updates itself from a library (here: no).
    Bytes prefs(64, 0);
    std::memcpy(prefs.data(), "frpd", 4);
    prefs[10] = 0;
    IPodDB db;
    db.SetIPodName(AString::FromUTF8(name));
    ByteWriter database;
    db.GetDatabase()->Store(database);
    return write("iPod_Control/Device/SysInfo", sysInfo.data(), sysInfo.size()) &&
           write("iPod_Control/iTunes/iTunesPrefs", prefs.data(), prefs.size()) &&
           write("iPod_Control/iTunes/iTunesDB", database.Bytes().data(), database.Size());
}

} // namespace cli::demo
