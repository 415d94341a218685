#include "samples/SongFile.h"

#include "samples/AiffFile.h"
#include "samples/ID3Tags.h"
#include "samples/Mp4File.h"
#include "samples/MpegAudio.h"
#include "samples/Noise.h"
#include "samples/Pictures.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

namespace samples {
namespace {

constexpr int kAacSampleRate = 44100;

bool IsAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string NumberPair(int number, int count)
{
    return count > 0 ? std::to_string(number) + "/" + std::to_string(count) : std::to_string(number);
}

Bytes SongID3v2Tag(const SongSpec& song)
{
    const int version = song.id3Version;
    auto id = [&](const char* v22, const char* v23) { return std::string(version == 2 ? v22 : v23); };
    auto encodingFor = [&](const std::string& text) {
        if (IsAscii(text))
            return TextEncoding::Latin1;
        return version == 4 ? TextEncoding::UTF8 : TextEncoding::UTF16;
    };
    std::vector<ID3v2Frame> frames;
    auto text = [&](const char* v22, const char* v23, const std::string& value) {
        if (!value.empty())
            frames.push_back(TextFrame(id(v22, v23), value, encodingFor(value)));
    };
    text("TT2", "TIT2", song.title);
    text("TP1", "TPE1", song.artist);
    text("TAL", "TALB", song.album);
    text("TCO", "TCON", song.genre);
    text("TCM", "TCOM", song.composer);
    if (song.track > 0)
        text("TRK", "TRCK", NumberPair(song.track, song.trackCount));
    if (song.disc > 0)
        text("TPA", "TPOS", NumberPair(song.disc, song.discCount));
    if (song.year > 0)
        text("TYE", version == 4 ? "TDRC" : "TYER", std::to_string(song.year));
    if (song.compilation)
        text("TCP", "TCMP", "1");
    if (!song.picture.empty())
        frames.push_back(
            PictureFrame(version, song.picture, IsPng(song.picture) ? "image/png" : "image/jpeg"));
    ID3v2Options options;
    options.version = version;
    options.padding = song.id3Padding;
    return ID3v2Tag(frames, options);
}

Bytes Noisy(std::size_t size, std::uint32_t seed)
{
    Noise noise(seed);
    Bytes out(size);
    for (auto& byte : out)
        byte = noise.Next();
    return out;
}

Bytes Mp3Bytes(const SongSpec& song)
{
    Bytes out;
    if (song.id3Version != 0)
        out = SongID3v2Tag(song);
    if (song.silent) {
        Append(out, SilentMpegFrames(song.bitRate, song.seconds, song.ancillary));
    } else {
        MpegFrameSpec frame;
        frame.bitRate = song.bitRate;
        if (song.sampleRate != 0) {
            frame.sampleRate = song.sampleRate;
            frame.version = song.sampleRate >= 32000   ? MpegVersion::V1
                            : song.sampleRate >= 16000 ? MpegVersion::V2
                                                       : MpegVersion::V25;
        }
        const std::size_t length = MpegFrameLength(frame);
        // Enough frames to last `seconds` and less than one frame more.
        const std::uint64_t bytesNeeded = static_cast<std::uint64_t>(song.seconds) * song.bitRate * 1000 / 8;
        Append(out,
               MpegFrames(frame, static_cast<std::size_t>((bytesNeeded + length - 1) / length), song.seed));
    }
    if (song.id3v1) {
        ID3v1Spec v1{song.title, song.artist, song.album, song.year > 0 ? std::to_string(song.year) : "", ""};
        v1.track = song.track;
        Append(out, ID3v1Tag(v1));
    }
    return out;
}

Bytes Mp4Bytes(const SongSpec& song)
{
    Mp4Spec movie;
    movie.durationUnits = static_cast<std::uint64_t>(song.seconds) * movie.timeScale;
    if (song.silent) {
        // Frames of 1024 samples, each as long as the bit rate gives it.
        const Bytes frame = SilentAacFrame((song.bitRate * 128000 + kAacSampleRate / 2) / kAacSampleRate);
        const std::size_t frames = (static_cast<std::size_t>(song.seconds) * kAacSampleRate + 1023) / 1024;
        for (std::size_t i = 0; i < frames; ++i)
            Append(movie.audio, frame);
        movie.frameSize = static_cast<std::uint32_t>(frame.size());
        movie.channels = 1;
    } else {
        if (song.sampleRate != 0)
            movie.sampleRate = song.sampleRate;
        movie.audio =
            Noisy(static_cast<std::size_t>(song.seconds) * static_cast<std::size_t>(song.bitRate) * 1000 / 8,
                  song.seed);
    }
    auto text = [&](const std::string& type, const std::string& value) {
        if (!value.empty())
            movie.items.push_back(TextItem(type, value));
    };
    text(kItemName, song.title);
    text(kItemArtist, song.artist);
    text(kItemAlbum, song.album);
    text(kItemGenre, song.genre);
    text(kItemComposer, song.composer);
    if (song.year > 0)
        text(kItemYear, std::to_string(song.year));
    if (song.track > 0)
        movie.items.push_back(PairItem("trkn", song.track, song.trackCount, 8));
    if (song.disc > 0)
        movie.items.push_back(PairItem("disk", song.disc, song.discCount, 6));
    if (song.compilation)
        movie.items.push_back(IntegerItem("cpil", 1, 1));
    if (!song.picture.empty())
        movie.items.push_back(CoverItem({song.picture}));
    return Mp4File(movie);
}

Bytes AiffBytes(const SongSpec& song)
{
    AiffSpec aiff;
    if (song.sampleRate != 0)
        aiff.sampleRate = song.sampleRate;
    aiff.sampleFrames = static_cast<std::uint32_t>(song.seconds * aiff.sampleRate);
    aiff.sound = Noisy(aiff.sampleFrames * 2u, song.seed);
    if (song.id3Version != 0)
        aiff.id3Tag = SongID3v2Tag(song);
    return AiffFile(aiff);
}

void AppendU32LE(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// FLAC: "fLaC", STREAMINFO, a Vorbis comment and a picture block, then `bitRate` worth of noise as
// the frames (which no decoder plays: the files are for reading tags).
Bytes FlacBytes(const SongSpec& song)
{
    const std::uint64_t rate = song.sampleRate != 0 ? static_cast<std::uint64_t>(song.sampleRate) : 44100;
    Bytes out;
    AppendText(out, "fLaC");
    Bytes info(10, 0);
    AppendU64BE(info,
                rate << 44 | 1ull << 41 | 15ull << 36 | rate * static_cast<std::uint64_t>(song.seconds));
    info.resize(34, 0);
    std::vector<std::string> fields;
    auto field = [&](const char* name, const std::string& value) {
        if (!value.empty())
            fields.push_back(std::string(name) + "=" + value);
    };
    field("TITLE", song.title);
    field("ARTIST", song.artist);
    field("ALBUM", song.album);
    field("GENRE", song.genre);
    field("COMPOSER", song.composer);
    if (song.track > 0)
        field("TRACKNUMBER", std::to_string(song.track));
    if (song.trackCount > 0)
        field("TRACKTOTAL", std::to_string(song.trackCount));
    if (song.disc > 0)
        field("DISCNUMBER", std::to_string(song.disc));
    if (song.discCount > 0)
        field("DISCTOTAL", std::to_string(song.discCount));
    if (song.year > 0)
        field("DATE", std::to_string(song.year));
    if (song.compilation)
        field("COMPILATION", "1");
    Bytes comment;
    AppendU32LE(comment, 7);
    AppendText(comment, "samples");
    AppendU32LE(comment, static_cast<std::uint32_t>(fields.size()));
    for (const std::string& text : fields) {
        AppendU32LE(comment, static_cast<std::uint32_t>(text.size()));
        AppendText(comment, text);
    }
    std::vector<std::pair<int, Bytes>> blocks = {{0, info}, {4, comment}};
    if (!song.picture.empty()) {
        Bytes picture;
        AppendU32sBE(picture, {3, 0, 0, 0, 0, 24, 0, static_cast<std::uint32_t>(song.picture.size())});
        Append(picture, song.picture);
        blocks.emplace_back(6, picture);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        out.push_back(static_cast<std::uint8_t>(blocks[i].first | (i + 1 == blocks.size() ? 0x80 : 0)));
        AppendU24BE(out, static_cast<std::uint32_t>(blocks[i].second.size()));
        Append(out, blocks[i].second);
    }
    Append(out,
           Noisy(static_cast<std::size_t>(song.bitRate) * 1000 / 8 * static_cast<std::size_t>(song.seconds),
                 song.seed));
    return out;
}

} // namespace

Bytes SongBytes(const std::string& extension, const SongSpec& song)
{
    std::string ext;
    for (char c : extension)
        ext.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    if (ext == "mp3")
        return Mp3Bytes(song);
    if (ext == "m4a" || ext == "m4b" || ext == "m4p" || ext == "mp4" || ext == "m4v")
        return Mp4Bytes(song);
    if (ext == "aif" || ext == "aiff")
        return AiffBytes(song);
    if (ext == "flac")
        return FlacBytes(song);
    throw std::invalid_argument("no song format for the extension " + extension);
}

void WriteSong(const std::string& path, const SongSpec& song)
{
    WriteFile(path, SongBytes(std::filesystem::path(path).extension().string(), song));
}

} // namespace samples
