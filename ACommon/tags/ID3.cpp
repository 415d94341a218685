#include "ACommon/tags/ID3.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/base/FileWindow.h"
#include "ACommon/tags/GenreTable.h"
#include "ACommon/tags/ID3Unsynchronisation.h"
#include "ACommon/tags/MPEGHeader.h"
#include "ACommon/tags/OggPackets.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "ACommon/tags/VorbisComment.h"
#include "APlatform/Unicode.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>

// ID3v2 tag: 10-byte header, the body, and in version 2.4 an optional 10-byte footer.
//   0 "ID3"  3 major version  4 revision  5 flags (0x80 unsynchronisation, 0x40 extended header
//   (compression in 2.2), 0x10 footer)  6 body size, 28-bit synchsafe
// Frames: 2.2 has a 3-byte id and a 3-byte size; 2.3 and 2.4 a 4-byte id, a 4-byte size (plain in
// 2.3, synchsafe in 2.4) and two flag bytes (status, format).
//
// ID3v1 tag: the last 128 bytes of the file.
//   0 "TAG"  3 title[30]  33 artist[30]  63 album[30]  93 year[4]  97 comment[28 or 30]
//   125 zero and 126 track number (ID3v1.1)  127 genre index

namespace {

constexpr std::size_t kTagHeaderSize = 10;
constexpr std::size_t kID3v1Size = 128;
constexpr std::uint32_t kMaxSynchsafe = 0x0FFFFFFF;
// No song carries more pictures than this; the bound keeps the records of a crafted file of tiny
// picture frames from outgrowing the file.
constexpr std::size_t kMaxImages = 1000;

// ---- Text -------------------------------------------------------------------------------------

// Bytes up to the first zero byte, as UTF-8 when they are valid UTF-8, else as ISO 8859-1.
AString TextFromBytes(std::span<const std::uint8_t> bytes)
{
    std::size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0)
        ++n;
    std::string_view view(reinterpret_cast<const char*>(bytes.data()), n);
    std::u16string units;
    if (!platform::DecodeUTF8(view, units))
        units = platform::DecodeLatin1(view);
    return AString(std::move(units));
}

// UTF-16 units up to the first zero unit; a byte-order mark chooses the byte order, big-endian
// without one. Text that is not valid UTF-16 gives the empty string.
AString TextFromUTF16(std::span<const std::uint8_t> bytes)
{
    std::size_t n = 0;
    while (n + 1 < bytes.size() && (bytes[n] != 0 || bytes[n + 1] != 0))
        n += 2;
    bool bigEndian = true;
    std::size_t i = 0;
    if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        bigEndian = false;
        i = 2;
    } else if (n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        i = 2;
    }
    std::u16string units;
    units.reserve((n - i) / 2);
    for (; i < n; i += 2)
        units.push_back(bigEndian ? static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1])
                                  : static_cast<char16_t>(bytes[i + 1] << 8 | bytes[i]));
    if (!platform::IsValidUTF16(units))
        return AString();
    return AString(std::move(units));
}

// An ID3v2 text frame: encoding byte, then the text. `maxEncoding` is 1 for 2.2 and 2.3 (ISO 8859-1
// and UTF-16), 3 for 2.4 (also UTF-16 big-endian and UTF-8).
AString DecodeFrameText(std::span<const std::uint8_t> data, int maxEncoding)
{
    if (data.empty())
        return AString();
    int encoding = data[0];
    if (encoding > maxEncoding)
        return AString();
    std::span<const std::uint8_t> text = data.subspan(1);
    if (encoding == 1 || encoding == 2)
        return TextFromUTF16(text);
    return TextFromBytes(text);
}

std::string LowerAscii(const AString& text)
{
    std::string out;
    for (char16_t unit : text.Units())
        out.push_back(unit < 128 ? static_cast<char>(std::tolower(static_cast<int>(unit))) : '?');
    return out;
}

// The value of text such as "2/3": the part before the slash and, when there is one, after it.
void SplitNumberPair(const AString& text, int& first, int& second)
{
    int slash = text.Find(static_cast<short>('/'), 0);
    if (slash < 0) {
        first = text.IntValue(10) & 0xFFFF;
        return;
    }
    first = text.Left(slash).IntValue(10) & 0xFFFF;
    second = text.Mid(slash + 1, text.GetLength()).IntValue(10) & 0xFFFF;
}

int ClampToInt(double value)
{
    if (!(value > 0))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(value);
}

int ClampToInt(std::uint64_t value)
{
    return value > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

int ImageKind(std::span<const std::uint8_t> data)
{
    if (ID3::IsPNG(data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 8))))
        return 1;
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return 2;
    return 0;
}

// ---- ID3v2 frames -----------------------------------------------------------------------------

struct FrameHeader {
    char id[5] = {};
    std::size_t offset = 0; // of the frame header in the body
    std::size_t dataOffset = 0;
    std::size_t dataLength = 0;
    std::uint8_t statusFlags = 0;
    std::uint8_t formatFlags = 0;
};

std::size_t FrameHeaderSize(int version) { return version == 2 ? 6 : 10; }

bool IsFrameIDChar(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsFrameID(std::span<const std::uint8_t> body, std::size_t at, std::size_t idLength)
{
    if (at > body.size() || body.size() - at < idLength)
        return false;
    for (std::size_t i = 0; i < idLength; ++i)
        if (!IsFrameIDChar(body[at + i]))
            return false;
    return true;
}

// Whether a frame that ends at `next` is followed by what may follow a frame: padding, the end of
// the body, or a frame header (an id and a size, read either way, that fits the body).
bool LandsOnFrameBoundary(std::span<const std::uint8_t> body, std::uint64_t next)
{
    if (next > body.size())
        return false;
    if (next == body.size() || body[next] == 0)
        return true;
    if (body.size() - next < 10 || !IsFrameID(body, static_cast<std::size_t>(next), 4))
        return false;
    const std::uint64_t room = body.size() - next - 10;
    ByteReader reader(body.subspan(static_cast<std::size_t>(next) + 4, 4));
    std::uint32_t synchsafe = reader.ReadSynchsafe28();
    bool clean = reader.SynchsafeWasClean();
    ByteReader plainReader(body.subspan(static_cast<std::size_t>(next) + 4, 4));
    std::uint32_t plain = plainReader.ReadU32BE();
    return (clean && synchsafe <= room) || plain <= room;
}

// The data length of the 2.4 frame whose size field is at `at`. The standard writes it synchsafe;
// some encoders wrote plain 32-bit numbers. The two readings agree below 128; otherwise the
// synchsafe one is taken unless only the plain one ends where another frame, padding or the end of
// the tag begins.
std::uint64_t FrameSize24(std::span<const std::uint8_t> body, std::size_t at)
{
    ByteReader reader(body.subspan(at, 4));
    std::uint32_t synchsafe = reader.ReadSynchsafe28();
    bool clean = reader.SynchsafeWasClean();
    ByteReader plainReader(body.subspan(at, 4));
    std::uint32_t plain = plainReader.ReadU32BE();
    if (!clean)
        return plain;
    if (synchsafe == plain)
        return synchsafe;
    const std::uint64_t dataStart = at + 6; // size field, then two flag bytes
    if (LandsOnFrameBoundary(body, dataStart + synchsafe))
        return synchsafe;
    if (LandsOnFrameBoundary(body, dataStart + plain))
        return plain;
    return synchsafe;
}

// Walks the frames of a tag body (decoded from unsynchronisation where the whole body was) from
// `start`, calling `visit` for each whole frame. Stops at padding, at a frame that runs past the
// body, or when no whole frame header is left. Returns where the walk stopped.
template <class Visit>
std::size_t WalkFrames(std::span<const std::uint8_t> body, std::size_t start, int version, Visit&& visit)
{
    const std::size_t headerSize = FrameHeaderSize(version);
    const std::size_t idLength = version == 2 ? 3 : 4;
    std::size_t pos = std::min(start, body.size());
    while (body.size() - pos >= headerSize) {
        ByteReader reader(body.subspan(pos, headerSize));
        if (reader.PeekU8() == 0)
            break; // padding
        FrameHeader frame;
        reader.ReadBytes(frame.id, idLength);
        std::uint64_t length = 0;
        if (version == 2) {
            length = reader.ReadU24BE();
        } else {
            length = version == 3 ? reader.ReadU32BE() : FrameSize24(body, pos + idLength);
            if (version == 4)
                reader.Skip(4);
            frame.statusFlags = reader.ReadU8();
            frame.formatFlags = reader.ReadU8();
        }
        if (length > body.size() - pos - headerSize)
            break; // a frame longer than the rest of the tag
        frame.offset = pos;
        frame.dataOffset = pos + headerSize;
        frame.dataLength = static_cast<std::size_t>(length);
        visit(frame);
        pos += headerSize + frame.dataLength;
    }
    return pos;
}

// Where the frames of a body begin: after the extended header when the tag has one. A 2.3 or 2.4
// header that flags an extended header whose size bytes spell a frame id has none (a bogus flag).
// Nothing when the extended header's size cannot be read.
std::optional<std::size_t> KnownFramesStart(std::span<const std::uint8_t> body, int version,
                                            std::uint8_t flags)
{
    if (version == 2 || !(flags & 0x40))
        return 0;
    if (IsFrameID(body, 0, 4))
        return 0;
    if (body.size() < 4)
        return std::nullopt;
    ByteReader reader(body.subspan(0, 4));
    if (version == 3) {
        // Its size does not count the four size bytes.
        std::uint64_t size = reader.ReadU32BE();
        if (size + 4 > body.size())
            return std::nullopt;
        return static_cast<std::size_t>(size + 4);
    }
    // 2.4: synchsafe, and counts itself; at least the size, a flag count and one flag byte.
    std::uint32_t size = reader.ReadSynchsafe28();
    if (!reader.SynchsafeWasClean() || size < 6 || size > body.size())
        return std::nullopt;
    return size;
}

// As above; a reader takes an unreadable extended header as the end of the frames.
std::size_t FramesStart(std::span<const std::uint8_t> body, int version, std::uint8_t flags)
{
    return KnownFramesStart(body, version, flags).value_or(body.size());
}

enum class Field {
    None,
    Name,
    Album,
    Artist,
    BandArtist,
    Genre,
    Composer,
    Picture,
    Track,
    Disc,
    Year,
    Compilation,
    Podcast
};

Field FieldOf(int version, const char* id)
{
    struct Entry {
        const char* id;
        Field field;
    };
    static constexpr Entry kFields22[] = {
        {"TT2", Field::Name},       {"TAL", Field::Album},       {"TP1", Field::Artist},
        {"TP2", Field::BandArtist}, {"TCO", Field::Genre},       {"TCM", Field::Composer},
        {"PIC", Field::Picture},    {"TRK", Field::Track},       {"TPA", Field::Disc},
        {"TYE", Field::Year},       {"TCP", Field::Compilation}, {"PCS", Field::Podcast},
    };
    static constexpr Entry kFields23[] = {
        {"TIT2", Field::Name},       {"TALB", Field::Album},       {"TPE1", Field::Artist},
        {"TPE2", Field::BandArtist}, {"TCON", Field::Genre},       {"TCOM", Field::Composer},
        {"APIC", Field::Picture},    {"TRCK", Field::Track},       {"TPOS", Field::Disc},
        {"TYER", Field::Year},       {"TCMP", Field::Compilation}, {"PCST", Field::Podcast},
    };
    if (version == 2) {
        for (const Entry& entry : kFields22)
            if (std::memcmp(id, entry.id, 3) == 0)
                return entry.field;
        return Field::None;
    }
    for (const Entry& entry : kFields23)
        if (std::memcmp(id, entry.id, 4) == 0)
            return entry.field;
    if (version == 4 && std::memcmp(id, "TDRC", 4) == 0)
        return Field::Year;
    return Field::None;
}

// ---- AIFF ---------------------------------------------------------------------------------------

// An 80-bit IEEE extended number (the AIFF sample rate): sign, 15-bit exponent, 64-bit mantissa
// with an explicit integer bit. -1 for negative, infinite and undefined values.
double Extended80(std::span<const std::uint8_t> bytes)
{
    ByteReader reader(bytes);
    std::uint16_t signAndExponent = reader.ReadU16BE();
    std::uint64_t mantissa = reader.ReadU64BE();
    if (!reader.Ok() || (signAndExponent & 0x8000) || (signAndExponent & 0x7FFF) == 0x7FFF)
        return -1;
    if (mantissa == 0)
        return 0;
    return std::ldexp(static_cast<double>(mantissa), static_cast<int>(signAndExponent & 0x7FFF) - 16383 - 63);
}

// ---- MP4 ----------------------------------------------------------------------------------------

// Item types of the ilst list; 0xA9 is the copyright sign that begins Apple's text items.
const char kItemName[] = "\xA9"
                         "nam";
const char kItemAlbum[] = "\xA9"
                          "alb";
const char kItemArtist[] = "\xA9"
                           "ART";
const char kItemGenre[] = "\xA9"
                          "gen";
const char kItemComposer[] = "\xA9"
                             "wrt";
const char kItemYear[] = "\xA9"
                         "day";

} // namespace

// The data of one ID3v2 frame, as decoded, and how to find its bytes in the file again.
struct ID3::FrameData {
    std::span<const std::uint8_t> bytes;
    std::uint64_t origin = 0; // file offset of offset 0 of the drop list's (or the body's) bytes
    std::uint64_t base = 0;   // offset of bytes[0] in those bytes
    const ID3Unsynchronisation::DropList* drops = nullptr;

    std::uint64_t FileOffset(std::uint64_t k) const
    {
        return origin + (drops ? ID3Unsynchronisation::RawOffset(base + k, *drops) : base + k);
    }
};

// MP4 atom: 4-byte big-endian size (header included), 4-byte type; size 1 means a 64-bit size
// follows the type, size 0 (at the top level) that the atom runs to the end of the file.
struct ID3::Atom {
    char type[4] = {};
    std::uint64_t offset = 0;
    std::uint64_t headerSize = 8;
    std::uint64_t size = 0;

    std::uint64_t PayloadStart() const { return offset + headerSize; }
    std::uint64_t End() const { return offset + size; }
    bool Is(const char* kind) const { return std::memcmp(type, kind, 4) == 0; }
};

ID3::ID3() = default;
ID3::~ID3() = default;

void ID3::Reset()
{
    name = album = artist = albumArtist = tvShow = genre = composer = AString();
    images.clear();
    trackNumber = trackCount = discNumber = discCount = year = compilation = 0;
    mediaKind = -1;
    podcast = bitRate = duration = sampleRateHz = 0;
    sampleCount = 0;
    pregap = postgap = gaplessData = 0;
    fileSize = 0;
    tagKinds = 0;
    codec = Codec::kUnknown;
    musicStart = musicEnd = 0;
    appleID = modifiedName = fileExtension = AString();
    fileBytes = 0;
    fileModTime = 0;
    id3v2End = 0;
    id3v1Found = false;
}

int ID3::SetFilePath(const AString& path)
{
    AFile file;
    return SetFilePath(path, file);
}

int ID3::SetFilePath(const AString& path, AFile& file)
{
    Reset();
    filePath = path;
    if (path.IsEmpty())
        return kErrFileNotFound;
    path.PathExtension(&fileExtension);
    const std::string extension = LowerAscii(fileExtension);
    const bool mp4 = extension == "m4a" || extension == "m4b" || extension == "m4p" || extension == "mp4" ||
                     extension == "m4v";
    const bool aiff = extension == "aif" || extension == "aiff";
    const bool mp3 = extension == "mp3";
    const bool flac = extension == "flac";
    const bool ogg = extension == "ogg" || extension == "oga" || extension == "opus";
    const bool wav = extension == "wav";
    const bool readable = mp4 || aiff || mp3 || flac || ogg || wav;

    // A file whose tags are read is opened once, and what it is comes from the open file: no look
    // at the path beforehand that the file could change after.
    struct stat info {};
    if (readable) {
        if (int err = file.OpenRegular(&path); err != 0)
            return err;
        info = file.OpenedInfo();
    } else if (stat(path.CStr(), &info) != 0) {
        return kErrFileNotFound;
    } else if (!S_ISREG(info.st_mode)) {
        // Only regular files are taken: a folder cannot be read, nor a pipe waited on.
        return kErrOpen;
    }
    fileBytes = static_cast<std::uint64_t>(info.st_size);
    const long long seconds =
        static_cast<long long>(info.st_mtim.tv_sec) + static_cast<long long>(AFile::kFileTimeOffset);
    fileModTime = seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
    fileSize = ClampToInt(fileBytes);
    if (fileBytes < 1) {
        file.Close(0);
        return kErrInconsistentSize;
    }

    if (readable) {
        FileWindow window(file, fileBytes);
        int err = 0;
        if (mp4) {
            err = LoadAAC(window);
        } else if (aiff) {
            err = LoadAIFF(window);
        } else if (flac) {
            err = LoadFLAC(window);
        } else if (ogg) {
            err = LoadOgg(window);
        } else if (wav) {
            err = LoadWAV(window);
        } else {
            if (err = LoadID3v1(window); err == 0)
                err = LoadID3v2(window, 0, fileBytes);
            if (err == 0 && LoadMP3HeaderInfo(window, id3v2End) == 0)
                codec = Codec::kMP3; // a file without a usable frame has no duration
        }
        if (err != 0)
            return err;
    }

    modifiedName = name;
    if (modifiedName.IsEmpty()) {
        int slash = path.ReverseFind('/');
        AString last = slash >= 0 ? path.Mid(slash + 1, path.GetLength()) : path;
        int dot = last.ReverseFind('.');
        modifiedName = dot >= 0 ? last.Left(dot) : last;
    }
    return 0;
}

// ---- ID3v1 --------------------------------------------------------------------------------------

int ID3::LoadID3v1(FileWindow& window)
{
    if (fileBytes < kID3v1Size)
        return kErrUnknown;
    std::uint8_t tag[kID3v1Size];
    if (int err = window.ReadExact(fileBytes - kID3v1Size, kID3v1Size, tag); err != 0)
        return err;
    musicEnd = fileBytes - 1;
    if (std::memcmp(tag, "TAG", 3) != 0)
        return 0;
    id3v1Found = true;
    musicEnd = fileBytes > kID3v1Size ? fileBytes - kID3v1Size - 1 : 0;

    ByteReader reader(tag, kID3v1Size);
    reader.Skip(3);
    name = TextFromBytes(reader.ReadSpan(30));
    artist = TextFromBytes(reader.ReadSpan(30));
    album = TextFromBytes(reader.ReadSpan(30));
    std::span<const std::uint8_t> yearField = reader.ReadSpan(4);
    // "199 " is a year that was never filled in.
    if (yearField[3] != ' ')
        year = TextFromBytes(yearField).IntValue(10);
    reader.Skip(28);
    // ID3v1.1: a zero at the end of the comment, then the track number (0 to 255).
    const std::uint8_t commentEnd = reader.ReadU8();
    const std::uint8_t track = reader.ReadU8();
    if (commentEnd == 0)
        trackNumber = track;
    genre = GenreName(reader.ReadU8());
    for (AString* field : {&name, &album, &artist}) {
        if (!field->IsEmpty() && (*field)[0] == ' ')
            *field = AString();
        else
            field->Trim();
    }
    tagKinds |= trackNumber != 0 ? kID3v11 : kID3v10;
    return 0;
}

// ---- ID3v2 --------------------------------------------------------------------------------------

int ID3::LoadID3v2(FileWindow& window, std::uint64_t base, std::uint64_t limit)
{
    if (limit < base || limit - base < kTagHeaderSize)
        return kErrInconsistentSize;
    std::uint8_t header[kTagHeaderSize];
    if (int err = window.ReadExact(base, kTagHeaderSize, header); err != 0)
        return err;
    if (std::memcmp(header, "ID3", 3) != 0)
        return 0;

    // An ID3v2 tag replaces everything an ID3v1 tag said, even what it does not say itself.
    name = album = artist = albumArtist = tvShow = genre = composer = AString();
    images.clear();
    trackNumber = trackCount = discNumber = discCount = year = compilation = 0;
    mediaKind = -1;
    podcast = bitRate = duration = 0;

    const int version = header[3];
    if (version < 2 || version > 4)
        return kErrUnknown;
    const std::uint8_t flags = header[5];
    ByteReader sizeReader(header + 6, 4);
    const std::uint64_t size = sizeReader.ReadSynchsafe28();
    const std::uint64_t bodyOffset = base + kTagHeaderSize;
    // A tag that claims more than the file holds is read as far as the file goes.
    const std::uint64_t bodySize = std::min(size, limit - bodyOffset);
    const std::uint64_t footerSize = version == 4 && (flags & 0x10) ? kTagHeaderSize : 0;
    musicStart = id3v2End = std::min(bodyOffset + size + footerSize, limit);
    // A compressed 2.2 tag: no compression scheme was ever defined, so its frames cannot be read;
    // the song is still read from its audio.
    if (version == 2 && (flags & 0x40))
        return 0;

    std::span<const std::uint8_t> body;
    std::vector<std::uint8_t> storage;
    if (bodySize <= FileWindow::kBlockSize) {
        body = window.View(bodyOffset, static_cast<std::size_t>(bodySize));
        if (body.size() != bodySize)
            return window.Error() != 0 ? window.Error() : kErrEndOfFile;
    } else {
        if (int err = window.ReadInto(bodyOffset, static_cast<std::size_t>(bodySize), storage); err != 0)
            return err;
        body = storage;
    }
    if (version == 2)
        return LoadID3v22(body, header, bodyOffset);
    if (version == 3)
        return LoadID3v23(body, header, bodyOffset);
    return LoadID3v24(body, header, bodyOffset);
}

int ID3::LoadID3v22(std::span<const std::uint8_t> body, const std::uint8_t* header, std::uint64_t bodyOffset)
{
    return LoadID3v2Frames(2, body, header, bodyOffset);
}

int ID3::LoadID3v23(std::span<const std::uint8_t> body, const std::uint8_t* header, std::uint64_t bodyOffset)
{
    return LoadID3v2Frames(3, body, header, bodyOffset);
}

int ID3::LoadID3v24(std::span<const std::uint8_t> body, const std::uint8_t* header, std::uint64_t bodyOffset)
{
    return LoadID3v2Frames(4, body, header, bodyOffset);
}

int ID3::LoadID3v2Frames(int version, std::span<const std::uint8_t> stored, const std::uint8_t* header,
                         std::uint64_t bodyOffset)
{
    const std::uint8_t flags = header[5];
    try {
        // 2.2 and 2.3 unsynchronise the whole body, frame headers included; 2.4 single frames.
        std::vector<std::uint8_t> decoded;
        ID3Unsynchronisation::DropList bodyDrops;
        std::span<const std::uint8_t> body = stored;
        const ID3Unsynchronisation::DropList* drops = nullptr;
        if (version < 4 && (flags & 0x80)) {
            ID3Unsynchronisation::Decode(stored, decoded, &bodyDrops);
            body = decoded;
            drops = &bodyDrops;
        }
        std::vector<std::uint8_t> frameBytes;
        ID3Unsynchronisation::DropList frameDrops;
        WalkFrames(body, FramesStart(body, version, flags), version, [&](const FrameHeader& frame) {
            if (FieldOf(version, frame.id) == Field::None)
                return;
            // Compressed and encrypted frames cannot be read. Grouping and data length fields stand
            // between the header and the data.
            bool refused = false;
            std::size_t extra = 0;
            bool frameUnsynchronised = false;
            if (version == 3) {
                refused = (frame.formatFlags & 0xC0) != 0;
                extra = (frame.formatFlags & 0x20) ? 1 : 0;
            } else if (version == 4) {
                refused = (frame.formatFlags & 0x0C) != 0;
                extra = ((frame.formatFlags & 0x40) ? 1 : 0) + ((frame.formatFlags & 0x01) ? 4 : 0);
                frameUnsynchronised = (frame.formatFlags & 0x02) != 0;
            }
            FrameData data;
            if (extra > frame.dataLength)
                refused = true;
            if (!refused) {
                std::span<const std::uint8_t> raw =
                    body.subspan(frame.dataOffset + extra, frame.dataLength - extra);
                if (frameUnsynchronised) {
                    ID3Unsynchronisation::Decode(raw, frameBytes, &frameDrops);
                    data.bytes = frameBytes;
                    data.origin = bodyOffset + frame.dataOffset + extra;
                    data.drops = &frameDrops;
                } else {
                    data.bytes = raw;
                    data.origin = bodyOffset;
                    data.base = frame.dataOffset + extra;
                    data.drops = drops;
                }
            }
            ApplyFrame(version, frame.id, data, refused);
        });
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (artist.IsEmpty())
        artist = albumArtist;
    tagKinds |= version == 2 ? kID3v22 : (version == 3 ? kID3v23 : kID3v24);
    return 0;
}

void ID3::ApplyFrame(int version, const char* id, const FrameData& data, bool refused)
{
    const Field field = FieldOf(version, id);
    if (field == Field::Picture) {
        if (refused)
            return;
        std::optional<Image> image =
            version == 2 ? GetImage22(data) : (version == 3 ? GetImage23(data) : GetImage24(data));
        if (image && images.size() < kMaxImages)
            images.push_back(*image);
        return;
    }
    if (field == Field::Podcast) {
        podcast = 1;
        return;
    }
    AString text;
    if (!refused)
        text = version == 2 ? GetFrameString22(data.bytes)
                            : (version == 3 ? GetFrameString23(data.bytes) : GetFrameString24(data.bytes));
    switch (field) {
    case Field::Name:
        name = text;
        break;
    case Field::Album:
        album = text;
        break;
    case Field::Composer:
        composer = text;
        break;
    case Field::Artist:
        // 2.2 and 2.4: the first artist frame wins; 2.3: the last.
        if (version == 3 || artist.IsEmpty())
            artist = text;
        break;
    case Field::BandArtist:
        // The album's artist ("Various Artists" on every track of a compilation) stands in for
        // the track's artist only where the tag names none (see LoadID3v2Frames), whatever the
        // order of the frames.
        albumArtist = text;
        break;
    case Field::Genre:
        genre = LookUpGenreID3(text, 0);
        break;
    case Field::Track: {
        trackNumber = text.IntValue(10) & 0xFFFF;
        int number = 0;
        SplitNumberPair(text, number, trackCount);
        break;
    }
    case Field::Disc:
        SplitNumberPair(text, discNumber, discCount);
        break;
    case Field::Year:
        year = text.GetLength() < 4 ? 0 : text.IntValue(10);
        break;
    case Field::Compilation:
        compilation = text.IntValue(10);
        break;
    default:
        break;
    }
}

AString ID3::GetFrameString22(std::span<const std::uint8_t> data) { return DecodeFrameText(data, 1); }
AString ID3::GetFrameString23(std::span<const std::uint8_t> data) { return DecodeFrameText(data, 1); }
AString ID3::GetFrameString24(std::span<const std::uint8_t> data) { return DecodeFrameText(data, 3); }

namespace {

// The picture frames, after the encoding byte:
//   PIC:  3-byte image format, picture type, description (in the frame's encoding), picture data
//   APIC: MIME type (ISO 8859-1, zero-terminated), picture type, description, picture data
// Returns the offset of the picture data in `data`, or 0 when the frame holds none.
std::size_t PictureDataOffset(std::span<const std::uint8_t> data, bool pic, int maxEncoding)
{
    ByteReader reader(data);
    int encoding = reader.ReadU8();
    if (!reader.Ok() || encoding > maxEncoding)
        return 0;
    if (pic) {
        reader.Skip(4);
    } else {
        while (reader.Ok() && reader.ReadU8() != 0) {
        }
        reader.Skip(1);
    }
    const bool wide = encoding == 1 || encoding == 2;
    for (;;) {
        std::uint16_t unit = wide ? reader.ReadU16BE() : reader.ReadU8();
        if (!reader.Ok())
            return 0;
        if (unit == 0)
            break;
    }
    // A frame whose data ends before any picture byte holds no picture.
    return reader.Remaining() > 0 ? reader.Position() : 0;
}

// The picture whose data begins at `at` of the frame data `bytes` and lies in the file from `start`
// up to `endExclusive`.
std::optional<ID3::Image> MakePicture(std::span<const std::uint8_t> bytes, std::size_t at,
                                      std::uint64_t start, std::uint64_t endExclusive)
{
    ID3::Image image;
    image.start = start;
    image.end = endExclusive - 1;
    image.length = endExclusive - start;
    image.kind = static_cast<std::uint32_t>(ImageKind(bytes.subspan(at)));
    image.unsynchronised = image.length != bytes.size() - at;
    return image;
}

} // namespace

std::optional<ID3::Image> ID3::GetImage22(const FrameData& data)
{
    std::size_t at = PictureDataOffset(data.bytes, true, 1);
    if (at == 0)
        return std::nullopt;
    return MakePicture(data.bytes, at, data.FileOffset(at), data.FileOffset(data.bytes.size()));
}

std::optional<ID3::Image> ID3::GetImage23(const FrameData& data)
{
    std::size_t at = PictureDataOffset(data.bytes, false, 1);
    if (at == 0)
        return std::nullopt;
    return MakePicture(data.bytes, at, data.FileOffset(at), data.FileOffset(data.bytes.size()));
}

std::optional<ID3::Image> ID3::GetImage24(const FrameData& data)
{
    // 2.4 also allows descriptions in UTF-16 big-endian and UTF-8.
    std::size_t at = PictureDataOffset(data.bytes, false, 3);
    if (at == 0)
        return std::nullopt;
    return MakePicture(data.bytes, at, data.FileOffset(at), data.FileOffset(data.bytes.size()));
}

AString ID3::GenreName(int index)
{
    const char* genreName = GenreTable::Name(index);
    return genreName ? AString(genreName) : AString();
}

AString ID3::LookUpGenreID3(AString& genre, int offset)
{
    if (genre.IsEmpty() || genre[0] != '(')
        return genre;
    long long number = 0;
    for (int i = 1; i < genre.GetLength(); ++i) {
        char16_t unit = genre[i];
        if (unit >= '0' && unit <= '9' && number < 1000000)
            number = number * 10 + (unit - '0');
    }
    long long index = number + offset;
    genre = index >= 0 && index < GenreTable::kCount ? GenreName(static_cast<int>(index)) : AString();
    return genre;
}

AString ID3::LookUpGenreAAC(AString& genre, int offset)
{
    AString rest = genre;
    if (!rest.IsEmpty() && rest[0] == '(')
        rest = rest.Mid(1, rest.GetLength());
    if (!rest.IsEmpty() && rest[rest.GetLength() - 1] == ')')
        rest = rest.Left(rest.GetLength() - 1);
    if (!rest.IsNumber())
        return genre;
    long long index = std::min<long long>(rest.Int64Value(), 1000000) + offset;
    genre = index >= 0 && index < GenreTable::kCount ? GenreName(static_cast<int>(index)) : AString();
    return genre;
}

bool ID3::IsPNG(const unsigned char* data, int length)
{
    static constexpr unsigned char kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    return data && length >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

// ---- MPEG audio ---------------------------------------------------------------------------------

int ID3::SeekValidHeader(FileWindow& window, std::uint64_t from, std::uint8_t header[4],
                         std::uint64_t* headerOffset)
{
    std::uint64_t position = from;
    for (;;) {
        std::span<const std::uint8_t> bytes = window.ViewAtLeast(position, 4);
        if (bytes.size() < 4)
            break;
        for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
            if (bytes[i] == 0xFF && MPEGHeader::LooksValid(bytes.data() + i)) {
                std::memcpy(header, bytes.data() + i, 4);
                *headerOffset = position + i;
                return 0;
            }
        }
        // The last three bytes may begin a header that the next block completes.
        position += bytes.size() - 3;
    }
    return window.Error() != 0 ? window.Error() : kErrUnknown;
}

int ID3::LoadMP3HeaderInfo(FileWindow& window, std::uint64_t from)
{
    // Some encoders leave zero padding between the tag and the first frame.
    std::uint64_t position = from;
    while (position < fileBytes) {
        std::span<const std::uint8_t> bytes = window.ViewAtLeast(position, 1);
        if (bytes.empty())
            break;
        std::size_t zeros = 0;
        while (zeros < bytes.size() && bytes[zeros] == 0)
            ++zeros;
        position += zeros;
        if (zeros < bytes.size())
            break;
    }
    if (window.Error() != 0)
        return window.Error();

    const std::uint64_t audioEnd = fileBytes - (id3v1Found ? kID3v1Size : 0);
    for (;;) {
        std::uint8_t bytes[4];
        std::uint64_t frameStart = 0;
        if (int err = SeekValidHeader(window, position, bytes, &frameStart); err != 0) {
            bitRate = duration = 0;
            return err;
        }
        position = frameStart + 1;
        const MPEGHeader header(bytes[0], bytes[1], bytes[2], bytes[3]);
        const std::uint64_t audioBytes = audioEnd > frameStart ? audioEnd - frameStart : 0;
        const std::uint64_t rate = static_cast<std::uint64_t>(header.BitRate());
        const std::uint64_t sampleRate = static_cast<std::uint64_t>(header.SampleRate());
        sampleRateHz = ClampToInt(sampleRate);
        const std::uint64_t frameLength = static_cast<std::uint64_t>(header.FrameLength());
        // Bytes per frame = factor x bit rate / sample rate, so the average bit rate of a variable
        // bit-rate file is its average frame length x sample rate / factor.
        const std::uint64_t factor = static_cast<std::uint64_t>(header.BytesPerFrameFactor());

        std::uint64_t average = 0;
        bool xing = false;
        const std::uint64_t xingAt = frameStart + static_cast<std::uint64_t>(header.XingOffset());
        if (xingAt + 8 <= audioEnd) {
            std::span<const std::uint8_t> tag = window.View(xingAt, 120);
            const bool info = tag.size() >= 8 && std::memcmp(tag.data(), "Info", 4) == 0;
            if (info || (tag.size() >= 8 && std::memcmp(tag.data(), "Xing", 4) == 0)) {
                // "Info" is the same header on a constant bit-rate file: read for its gapless facts
                // only, the bit rate of the frame header stands.
                const std::uint8_t flags = tag[7];
                const std::uint64_t length = 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) +
                                             ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
                ByteReader counts(tag.subspan(8));
                const std::uint64_t frames = (flags & 1) ? counts.ReadU32BE() : 0;
                const std::uint64_t streamBytes = (flags & 2) ? counts.ReadU32BE() : 0;
                if (frames > 0 && counts.Ok())
                    LoadLAMEGapless(window, header, frameStart, xingAt + length, frames,
                                    streamBytes > 0 && frameStart + streamBytes <= audioEnd
                                        ? frameStart + streamBytes
                                        : audioEnd);
            }
            if (!info && tag.size() >= 8 && std::memcmp(tag.data(), "Xing", 4) == 0) {
                // "Xing", 4 flag bytes, then the frame count (flag 1), byte count (flag 2), a
                // 100-byte seek table (flag 4) and a quality (flag 8), each when flagged.
                xing = true;
                const std::uint8_t flags = tag[7];
                const std::uint64_t length = 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) +
                                             ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
                if (xingAt + length <= audioEnd && tag.size() >= length) {
                    ByteReader reader(tag.subspan(8));
                    std::uint64_t frames = (flags & 1) ? reader.ReadU32BE() : 0;
                    std::uint64_t count = (flags & 2) ? reader.ReadU32BE() : 0;
                    if (frames > 0) {
                        if (count == 0)
                            count = audioBytes;
                        average = ((count / frames) * sampleRate) / factor;
                    }
                }
            }
        }
        const std::uint64_t vbriAt = frameStart + MPEGHeader::kVBRIOffset;
        if (!xing && vbriAt + 26 <= audioEnd) {
            // "VBRI", version, delay, quality, then the byte count and the frame count.
            std::span<const std::uint8_t> tag = window.View(vbriAt, 26);
            if (tag.size() == 26 && std::memcmp(tag.data(), "VBRI", 4) == 0) {
                ByteReader reader(tag.subspan(10));
                std::uint64_t count = reader.ReadU32BE();
                std::uint64_t frames = reader.ReadU32BE();
                if (frames >= 1) {
                    if (count == 0)
                        count = audioBytes;
                    average = (count / frames) * (sampleRate / factor);
                }
            }
        }

        const std::uint64_t used = average != 0 ? average : rate;
        if (frameLength == 0 || audioBytes < frameLength || used == 0)
            duration = 0;
        else
            duration =
                ClampToInt(std::floor(static_cast<double>(audioBytes) * 8.0 / static_cast<double>(used)));
        bitRate = ClampToInt(used / 1000);
        if (duration != 0 && bitRate != 0)
            return 0;
    }
}

// LAME extension, right after the Xing or Info fields: the encoder's name (9 bytes), revision and
// method (1), lowpass (1), peak (4), two gains (2, 2), flags (1), bit rate (1), then 24 bits:
// encoder delay (12) and padding (12), in samples. A decoder adds 529 samples of its own before the
// music, which the delay does not count; the padding does.
void ID3::LoadLAMEGapless(FileWindow& window, const MPEGHeader& header, std::uint64_t frameStart,
                          std::uint64_t lameAt, std::uint64_t frames, std::uint64_t streamEnd)
{
    constexpr std::uint32_t kDecoderDelay = 529;
    ByteReader lame(window.View(lameAt, 24));
    const std::string encoder = lame.ReadTag(4);
    lame.Skip(17);
    const std::uint32_t delayAndPadding = lame.ReadU24BE();
    if (!lame.Ok() || !std::isalpha(static_cast<unsigned char>(encoder[0])))
        return;
    const std::uint32_t delay = delayAndPadding >> 12;
    const std::uint32_t padding = delayAndPadding & 0xFFF;
    const std::uint64_t total = frames * static_cast<std::uint64_t>(header.SamplesPerFrame());
    if (total <= static_cast<std::uint64_t>(delay) + padding)
        return;
    sampleCount = total - delay - padding;
    pregap = delay + kDecoderDelay;
    postgap = padding > kDecoderDelay ? padding - kDecoderDelay : 0;

    // The frames run back to back up to the end of the stream: the chain of valid headers that,
    // starting inside the last few kilobytes, lands exactly on the end finds the last frames.
    constexpr std::uint64_t kTail = 3 * FileWindow::kBlockSize / 2;
    constexpr int kLastFrames = 8;
    if (streamEnd <= frameStart + kTail)
        return;
    const std::uint64_t tailStart = streamEnd - kTail;
    std::vector<std::uint8_t> tail;
    if (window.ReadInto(tailStart, static_cast<std::size_t>(kTail), tail) != 0 || tail.size() != kTail)
        return;
    for (std::size_t candidate = 0; candidate + 4 <= tail.size(); ++candidate) {
        std::vector<std::size_t> starts;
        std::size_t at = candidate;
        while (at + 4 <= tail.size() && tail[at] == 0xFF && MPEGHeader::LooksValid(&tail[at])) {
            const MPEGHeader frame(tail[at], tail[at + 1], tail[at + 2], tail[at + 3]);
            if (frame.FrameLength() <= 0 || frame.SampleRate() != header.SampleRate())
                break;
            starts.push_back(at);
            at += static_cast<std::size_t>(frame.FrameLength());
        }
        if (at == tail.size() && starts.size() > kLastFrames) {
            gaplessData = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                tailStart + starts[starts.size() - kLastFrames] - frameStart, UINT32_MAX));
            return;
        }
    }
}

// ---- MP4 ----------------------------------------------------------------------------------------

bool ID3::ReadAtomHeader(FileWindow& window, std::uint64_t offset, std::uint64_t parentEnd, bool topLevel,
                         Atom& atom)
{
    if (offset > parentEnd || parentEnd - offset < 8)
        return false;
    std::span<const std::uint8_t> bytes = window.View(offset, 16);
    ByteReader reader(bytes);
    std::uint64_t size = reader.ReadU32BE();
    reader.ReadBytes(atom.type, 4);
    if (!reader.Ok())
        return false;
    atom.offset = offset;
    atom.headerSize = 8;
    if (size == 1) {
        size = reader.ReadU64BE();
        atom.headerSize = 16;
        if (!reader.Ok() || size < 16)
            return false;
    } else if (size == 0) {
        if (!topLevel)
            return false;
        size = parentEnd - offset;
    } else if (size < 8) {
        return false;
    }
    if (size > parentEnd - offset)
        return false; // runs past its parent
    atom.size = size;
    return true;
}

bool ID3::FindChildAtom(FileWindow& window, std::uint64_t from, std::uint64_t parentEnd, const char* type,
                        Atom& child)
{
    std::uint64_t position = from;
    while (ReadAtomHeader(window, position, parentEnd, false, child)) {
        if (child.Is(type))
            return true;
        position = child.End();
    }
    return false;
}

int ID3::LoadAAC(FileWindow& window)
{
    Atom atom;
    if (!ReadAtomHeader(window, 0, fileBytes, true, atom) || !atom.Is("ftyp"))
        return window.Error();
    bool moovRead = false;
    double seconds = 0;
    std::uint64_t audioBytes = 0;
    std::uint64_t position = 0;
    while (ReadAtomHeader(window, position, fileBytes, true, atom)) {
        if (atom.Is("moov") && !moovRead) {
            moovRead = true;
            if (int err = LoadMoov(window, atom, seconds); err != 0)
                return err;
        } else if (atom.Is("mdat") && atom.size > atom.headerSize) {
            // The music range is the audio data wherever it lies, before or after the movie atom.
            musicStart = atom.PayloadStart();
            musicEnd = atom.End() - 1;
            audioBytes = atom.size - atom.headerSize;
        }
        position = atom.End();
    }
    if (seconds > 0 && audioBytes > 0)
        bitRate = ClampToInt(std::round(static_cast<double>(audioBytes) * 8.0 / seconds / 1000.0));
    return window.Error();
}

int ID3::LoadMoov(FileWindow& window, const Atom& moov, double& seconds)
{
    bool mvhdRead = false;
    bool udtaRead = false;
    Atom atom;
    std::uint64_t position = moov.PayloadStart();
    while (ReadAtomHeader(window, position, moov.End(), false, atom)) {
        if (atom.Is("mvhd") && !mvhdRead) {
            mvhdRead = true;
            LoadMovieHeader(window, atom, seconds);
        } else if (atom.Is("trak") && sampleRateHz == 0) {
            LoadTrackSampleRate(window, atom);
        } else if (atom.Is("udta") && !udtaRead) {
            udtaRead = true;
            Atom meta;
            if (FindChildAtom(window, atom.PayloadStart(), atom.End(), "meta", meta)) {
                // meta is a full atom (4 bytes of version and flags before its children), except in
                // files that follow the older QuickTime layout, where a child follows at once.
                std::uint64_t first = meta.PayloadStart() + 4;
                std::span<const std::uint8_t> peek = window.View(meta.PayloadStart(), 8);
                if (peek.size() == 8 && std::memcmp(peek.data() + 4, "hdlr", 4) == 0)
                    first = meta.PayloadStart();
                Atom ilst;
                if (FindChildAtom(window, first, meta.End(), "ilst", ilst))
                    if (int err = LoadIlst(window, ilst); err != 0)
                        return err;
            }
        }
        position = atom.End();
    }
    return 0;
}

// mvhd: version (1), flags (3); version 0: created (4), modified (4), time scale (4), duration (4);
// version 1: created (8), modified (8), time scale (4), duration (8).
void ID3::LoadMovieHeader(FileWindow& window, const Atom& mvhd, double& seconds)
{
    std::span<const std::uint8_t> bytes =
        window.View(mvhd.PayloadStart(),
                    static_cast<std::size_t>(std::min<std::uint64_t>(mvhd.size - mvhd.headerSize, 32)));
    ByteReader reader(bytes);
    const int version = reader.ReadU8();
    reader.Skip(3);
    std::uint64_t timeScale = 0;
    std::uint64_t units = 0;
    bool unknown = false;
    if (version == 1) {
        reader.Skip(16);
        timeScale = reader.ReadU32BE();
        units = reader.ReadU64BE();
        unknown = units == UINT64_MAX;
    } else {
        reader.Skip(8);
        timeScale = reader.ReadU32BE();
        units = reader.ReadU32BE();
        unknown = units == 0xFFFFFFFFu;
    }
    if (!reader.Ok() || timeScale == 0 || unknown)
        return;
    seconds = static_cast<double>(units) / static_cast<double>(timeScale);
    duration = ClampToInt(std::floor(seconds));
}

int ID3::LoadIlst(FileWindow& window, const Atom& ilst)
{
    Atom item;
    std::uint64_t position = ilst.PayloadStart();
    while (ReadAtomHeader(window, position, ilst.End(), false, item)) {
        position = item.End();
        AString text;
        int err = 0;
        auto readText = [&](bool numberPair = false) {
            text = AString();
            err = GetFrameStringAAC(text, window, item, numberPair);
            return err == 0 && !text.IsEmpty();
        };
        if (item.Is(kItemName)) {
            if (readText())
                name = text;
        } else if (item.Is(kItemAlbum)) {
            if (readText())
                album = text;
        } else if (item.Is(kItemArtist)) {
            if (readText())
                artist = text;
        } else if (item.Is("aART")) {
            if (readText()) {
                albumArtist = text;
                if (artist.IsEmpty())
                    artist = text;
            }
        } else if (item.Is("tvsh")) {
            if (readText())
                tvShow = text;
        } else if (item.Is(kItemGenre)) {
            if (readText())
                genre = LookUpGenreAAC(text, -1);
        } else if (item.Is("gnre")) {
            if (readText() && genre.IsEmpty())
                genre = LookUpGenreAAC(text, -1);
        } else if (item.Is(kItemComposer)) {
            if (readText())
                composer = text;
        } else if (item.Is("covr")) {
            err = AppendImagesAAC(window, item);
        } else if (item.Is("trkn")) {
            if (readText(true)) {
                trackNumber = text.IntValue(10) & 0xFFFF;
                int number = 0;
                SplitNumberPair(text, number, trackCount);
            }
        } else if (item.Is("disk")) {
            if (readText(true))
                SplitNumberPair(text, discNumber, discCount);
        } else if (item.Is(kItemYear)) {
            if (readText())
                year = text.IntValue(10);
        } else if (item.Is("cpil")) {
            if (readText())
                compilation = text.IntValue(10);
        } else if (item.Is("stik")) {
            if (readText())
                mediaKind = text.IntValue(10);
        } else if (item.Is("pcst")) {
            if (readText())
                podcast = text.IntValue(10);
        } else if (item.Is("apID")) {
            if (readText())
                appleID = text;
        } else if (item.Is("----")) {
            LoadFreeformItem(window, item);
        }
        if (err != 0)
            return err;
    }
    tagKinds |= kMP4;
    return window.Error();
}

// iTunSMPB holds twelve hexadecimal numbers, each after a blank: 0, the encoder delay, the padding
// (samples), the sample count, then eight more that are not used.
void ID3::LoadFreeformItem(FileWindow& window, const Atom& item)
{
    Atom child;
    bool named = false;
    std::string value;
    for (std::uint64_t position = item.PayloadStart();
         ReadAtomHeader(window, position, item.End(), false, child); position = child.End()) {
        // Each child is a full atom: 4 bytes of version and flags, then for data 4 locale bytes.
        const std::uint64_t skip = child.Is("data") ? 8 : 4;
        if (child.size < child.headerSize + skip || child.size - child.headerSize - skip > 256)
            continue;
        std::span<const std::uint8_t> text = window.View(
            child.PayloadStart() + skip, static_cast<std::size_t>(child.size - child.headerSize - skip));
        if (child.Is("name"))
            named = std::string(text.begin(), text.end()) == "iTunSMPB";
        else if (child.Is("data"))
            value.assign(text.begin(), text.end());
    }
    if (!named)
        return;
    std::uint64_t numbers[4] = {};
    const char* cursor = value.c_str();
    for (std::uint64_t& number : numbers) {
        char* end = nullptr;
        while (*cursor == ' ')
            ++cursor;
        if (!std::isxdigit(static_cast<unsigned char>(*cursor)))
            return;
        number = std::strtoull(cursor, &end, 16);
        cursor = end;
    }
    if (numbers[3] == 0 || numbers[1] > UINT32_MAX || numbers[2] > UINT32_MAX)
        return;
    pregap = static_cast<std::uint32_t>(numbers[1]);
    postgap = static_cast<std::uint32_t>(numbers[2]);
    sampleCount = numbers[3];
}

// An item holds a data atom: size, "data", type (1 UTF-8, 2 UTF-16, 0 binary, 21 integer), 4 locale
// bytes, the value. Numbers are rendered as text; a binary value of more than four bytes gives
// "first/second". Track and disc numbers (`numberPair`) are 2 reserved bytes, the number and the
// count, 16 bits each.
int ID3::GetFrameStringAAC(AString& out, FileWindow& window, const Atom& item, bool numberPair)
{
    Atom data;
    if (!ReadAtomHeader(window, item.PayloadStart(), item.End(), false, data) || !data.Is("data") ||
        data.size - data.headerSize < 8)
        return window.Error();
    const std::uint64_t valueStart = data.PayloadStart() + 8;
    const std::size_t valueLength = static_cast<std::size_t>(data.End() - valueStart);
    std::uint8_t typeBytes[4];
    if (int err = window.ReadExact(data.PayloadStart(), 4, typeBytes); err != 0)
        return err;
    const std::uint32_t type = ByteReader(typeBytes, 4).ReadU32BE();
    if (type != 0 && type != 1 && type != 2 && type != 21)
        return 0;

    std::span<const std::uint8_t> value;
    std::vector<std::uint8_t> storage;
    if (valueLength <= FileWindow::kBlockSize) {
        value = window.View(valueStart, valueLength);
        if (value.size() != valueLength)
            return window.Error() != 0 ? window.Error() : kErrEndOfFile;
    } else {
        if (int err = window.ReadInto(valueStart, valueLength, storage); err != 0)
            return err;
        value = storage;
    }
    if (type == 1) {
        out = TextFromBytes(value);
    } else if (type == 2) {
        out = TextFromUTF16(value);
    } else if (numberPair && value.size() >= 6) {
        ByteReader reader(value.subspan(2, 4));
        unsigned number = reader.ReadU16BE();
        unsigned count = reader.ReadU16BE();
        out = number;
        if (count > 0) {
            out += "/";
            out += static_cast<int>(count);
        }
    } else {
        auto bigEndian = [](std::span<const std::uint8_t> bytes) {
            std::uint64_t v = 0;
            for (std::uint8_t byte : bytes)
                v = v << 8 | byte;
            return v;
        };
        std::size_t firstLength = std::min<std::size_t>(value.size(), 4);
        out = static_cast<unsigned long long>(bigEndian(value.subspan(0, firstLength)));
        if (value.size() > 4) {
            std::uint64_t second = bigEndian(value.subspan(4, std::min<std::size_t>(value.size() - 4, 4)));
            if (second > 0) {
                out += "/";
                out += AString(std::to_string(second).c_str());
            }
        }
    }
    return 0;
}

// covr holds one data atom per picture: size, "data", type, locale, the picture.
int ID3::AppendImagesAAC(FileWindow& window, const Atom& item)
{
    std::uint64_t position = item.PayloadStart();
    while (position < item.End() && item.End() - position >= 16) {
        std::span<const std::uint8_t> header = window.View(position, 16);
        if (header.size() < 16)
            break;
        const std::uint64_t size = ByteReader(header).ReadU32BE();
        if (size < 16 + 8 || size > item.End() - position)
            break;
        Image image;
        image.start = position + 16;
        image.length = size - 16;
        image.end = image.start + image.length - 1;
        image.kind = static_cast<std::uint32_t>(ImageKind(window.View(image.start, 8)));
        if (images.size() < kMaxImages) {
            try {
                images.push_back(image);
            } catch (const std::bad_alloc&) {
                return kErrOutOfMemory;
            }
        }
        position += size;
    }
    return window.Error();
}

// stsd: version and flags (4), entry count (4), then the sample entries. An audio entry: size (4),
// format (4), reserved (6), data reference (2), version, revision and vendor (8), channels (2),
// sample size (2), compression id (2), packet size (2), sample rate (16.16).
void ID3::LoadTrackSampleRate(FileWindow& window, const Atom& trak)
{
    Atom level = trak;
    for (const char* type : {"mdia", "minf", "stbl", "stsd"}) {
        Atom child;
        if (!FindChildAtom(window, level.PayloadStart(), level.End(), type, child))
            return;
        level = child;
    }
    if (level.size - level.headerSize < 8 + 36)
        return;
    ByteReader entry(window.View(level.PayloadStart() + 8, 36));
    entry.Skip(4);
    const std::string format = entry.ReadTag(4);
    entry.Skip(24);
    const std::uint32_t rate = entry.ReadU32BE() >> 16;
    if (entry.Ok() && (format == "mp4a" || format == "alac")) {
        sampleRateHz = static_cast<int>(rate);
        codec = format == "alac" ? Codec::kALAC : Codec::kAAC;
    }
}

// ---- AIFF ---------------------------------------------------------------------------------------

// AIFF: "FORM", size, "AIFF" or "AIFC", then chunks: 4-byte id, 4-byte big-endian size, the data,
// and a pad byte after data of odd length.
//   COMM: channels (2), sample frames (4), bits per sample (2), sample rate (80-bit extended);
//         AIFC adds the compression type (4) and its name.
//   SSND: offset (4), block size (4), then the sound data from that offset.
int ID3::LoadAIFF(FileWindow& window)
{
    std::span<const std::uint8_t> form = window.View(0, 12);
    if (form.size() < 12 || std::memcmp(form.data(), "FORM", 4) != 0 || fileBytes < 13)
        return window.Error();
    const bool compressedForm = std::memcmp(form.data() + 8, "AIFC", 4) == 0;

    int channels = 0;
    int sampleBits = 0;
    std::uint64_t sampleFrames = 0;
    double sampleRate = 0;
    bool pcm = true;
    std::uint64_t soundStart = 0;
    std::uint64_t soundBytes = 0;
    bool id3Read = false;

    std::uint64_t position = 12;
    while (position < fileBytes && fileBytes - position >= 8) {
        std::span<const std::uint8_t> header = window.View(position, 8);
        if (header.size() < 8)
            break;
        ByteReader reader(header);
        char id[4];
        reader.ReadBytes(id, 4);
        const std::uint64_t size = reader.ReadU32BE();
        const std::uint64_t dataStart = position + 8;
        const bool truncated = size > fileBytes - dataStart;
        const std::uint64_t dataSize = truncated ? fileBytes - dataStart : size;

        if (std::memcmp(id, "COMM", 4) == 0 && dataSize >= 18) {
            ByteReader comm(
                window.View(dataStart, static_cast<std::size_t>(std::min<std::uint64_t>(dataSize, 22))));
            channels = comm.ReadU16BE();
            sampleFrames = comm.ReadU32BE();
            sampleBits = comm.ReadU16BE();
            std::uint8_t rate[10];
            comm.ReadBytes(rate, sizeof rate);
            if (comm.Ok())
                sampleRate = Extended80({rate, sizeof rate});
            if (sampleRate > 0 && sampleRate < 1e7)
                sampleRateHz = ClampToInt(std::round(sampleRate));
            std::string compression = comm.ReadTag(4);
            if (compressedForm && comm.Ok())
                pcm = compression == "NONE" || compression == "sowt" || compression == "twos" ||
                      compression == "raw ";
        } else if (std::memcmp(id, "SSND", 4) == 0 && dataSize >= 8) {
            ByteReader ssnd(window.View(dataStart, 8));
            const std::uint64_t offset = ssnd.ReadU32BE();
            if (ssnd.Ok() && offset < dataSize - 8) {
                soundStart = dataStart + 8 + offset;
                soundBytes = dataSize - 8 - offset;
            }
        } else if ((std::memcmp(id, "ID3 ", 4) == 0 || std::memcmp(id, "id3 ", 4) == 0) && !id3Read &&
                   dataSize >= kTagHeaderSize) {
            id3Read = true;
            if (int err = LoadID3v2(window, dataStart, dataStart + dataSize); err != 0)
                return err;
        }
        if (truncated)
            break;
        position = dataStart + size + (size & 1);
    }
    if (window.Error() != 0)
        return window.Error();

    if (pcm)
        sampleCount = sampleFrames;
    // The music is the sound data; the ID3 reader's idea of it does not apply inside a chunk.
    musicStart = soundBytes > 0 ? soundStart : 0;
    musicEnd = soundBytes > 0 ? soundStart + soundBytes - 1 : 0;
    if (pcm && channels > 0)
        codec = Codec::kPCM;
    if (sampleRate > 0 && sampleFrames > 0) {
        const double seconds = static_cast<double>(sampleFrames) / sampleRate;
        duration = ClampToInt(std::floor(seconds));
        if (pcm)
            bitRate =
                ClampToInt(std::round(static_cast<double>(channels) * sampleBits * sampleRate / 1000.0));
        else if (soundBytes > 0 && seconds > 0)
            bitRate = ClampToInt(std::round(static_cast<double>(soundBytes) * 8.0 / seconds / 1000.0));
    }
    return 0;
}

// ---- FLAC, Ogg, WAV ------------------------------------------------------------------------------

void ID3::ApplyVorbisComment(const VorbisComment& comment)
{
    name = comment.title;
    artist = comment.artist;
    albumArtist = comment.albumArtist;
    if (artist.IsEmpty())
        artist = albumArtist;
    album = comment.album;
    genre = comment.genre;
    composer = comment.composer;
    trackNumber = comment.trackNumber;
    trackCount = comment.trackCount;
    discNumber = comment.discNumber;
    discCount = comment.discCount;
    year = comment.year;
    compilation = comment.compilation ? 1 : 0;
    tagKinds |= kVorbisComment;
    for (std::string_view text : comment.encodedPictures) {
        auto bytes = std::make_shared<std::vector<std::uint8_t>>();
        VorbisComment::Picture picture;
        if (!VorbisComment::DecodeBase64(text, *bytes) ||
            !VorbisComment::ParsePicture(*bytes, bytes->size(), picture))
            continue;
        bytes->erase(bytes->begin() + static_cast<std::ptrdiff_t>(picture.offset + picture.length),
                     bytes->end());
        bytes->erase(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(picture.offset));
        Image image;
        image.length = bytes->size();
        image.kind = static_cast<std::uint32_t>(ImageKind(*bytes));
        image.decoded = std::move(bytes);
        AppendImage(image);
    }
}

int ID3::AppendImage(const Image& image)
{
    if (images.size() >= kMaxImages)
        return 0;
    try {
        images.push_back(image);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return 0;
}

// FLAC: "fLaC" (after an ID3v2 tag that some programs put first), then metadata blocks: a byte
// (0x80 the last block, the low seven bits the type), a 24-bit big-endian length, the data.
//   0 STREAMINFO: minimum and maximum block size (2, 2), frame size (3, 3), then 64 bits: sample
//     rate (20), channels - 1 (3), bits per sample - 1 (5), total samples (36); MD5 (16).
//   4 VORBIS_COMMENT: a comment block (VorbisComment).  6 PICTURE: a picture record.
// The audio frames follow the last block.
int ID3::LoadFLAC(FileWindow& window)
{
    std::uint64_t position = 0;
    ByteReader id3(window.View(0, kTagHeaderSize));
    if (id3.ReadTag(3) == "ID3") {
        id3.Skip(2);
        const std::uint8_t flags = id3.ReadU8();
        position = kTagHeaderSize + id3.ReadSynchsafe28() + ((flags & 0x10) ? kTagHeaderSize : 0);
    }
    std::span<const std::uint8_t> marker = window.View(position, 4);
    if (marker.size() < 4 || std::memcmp(marker.data(), "fLaC", 4) != 0)
        return window.Error();
    position += 4;

    std::uint64_t sampleRate = 0, totalSamples = 0;
    std::vector<std::uint8_t> block;
    for (bool last = false; !last;) {
        ByteReader header(window.View(position, 4));
        const std::uint8_t flags = header.ReadU8();
        const std::uint64_t length = header.ReadU24BE();
        const std::uint64_t dataStart = position + 4;
        if (!header.Ok() || length > fileBytes - dataStart)
            break;
        last = (flags & 0x80) != 0;
        const int type = flags & 0x7F;
        if (type == 0 && length >= 18) {
            ByteReader info(window.View(dataStart + 10, 8));
            const std::uint64_t bits = static_cast<std::uint64_t>(info.ReadU32BE()) << 32 | info.ReadU32BE();
            if (info.Ok()) {
                sampleRate = bits >> 44;
                totalSamples = bits & 0xFFFFFFFFFull;
            }
        } else if (type == 4) {
            if (int err = window.ReadInto(dataStart, static_cast<std::size_t>(length), block); err != 0)
                return err;
            VorbisComment comment;
            if (comment.Parse(block))
                ApplyVorbisComment(comment);
        } else if (type == 6) {
            VorbisComment::Picture picture;
            const std::size_t head =
                static_cast<std::size_t>(std::min<std::uint64_t>(length, FileWindow::kBlockSize));
            if (VorbisComment::ParsePicture(window.View(dataStart, head), length, picture)) {
                Image image;
                image.start = dataStart + picture.offset;
                image.length = picture.length;
                image.end = image.start + image.length - 1;
                image.kind = static_cast<std::uint32_t>(ImageKind(window.View(image.start, 8)));
                if (int err = AppendImage(image); err != 0)
                    return err;
            }
        }
        position = dataStart + length;
    }
    if (window.Error() != 0)
        return window.Error();

    codec = Codec::kFLAC;
    if (position < fileBytes) {
        musicStart = position;
        musicEnd = fileBytes - 1;
    }
    if (sampleRate > 0 && sampleRate < INT_MAX) {
        sampleRateHz = static_cast<int>(sampleRate);
        sampleCount = totalSamples;
        const double seconds = static_cast<double>(totalSamples) / static_cast<double>(sampleRate);
        duration = ClampToInt(std::floor(seconds));
        if (seconds > 0 && position < fileBytes)
            bitRate =
                ClampToInt(std::round(static_cast<double>(fileBytes - position) * 8.0 / seconds / 1000.0));
    }
    return 0;
}

// Ogg Vorbis: three header packets, then the audio.
//   identification: 1 "vorbis" version (4) channels (1) sample rate (4) bit rates: maximum,
//     nominal, minimum (4 each), all little-endian
//   comment: 3 "vorbis" and a comment block   setup: 5 "vorbis" ...
// Opus: "OpusHead" version (1) channels (1) pre-skip (2) input sample rate (4) gain (2) mapping (1),
//   then "OpusTags" and a comment block. Opus always decodes at 48 kHz.
// The granule position of the last page counts the samples of the whole stream.
int ID3::LoadOgg(FileWindow& window)
{
    OggPackets packets(window);
    std::vector<std::uint8_t> packet;
    if (int got = packets.Next(packet); got <= 0)
        return got < 0 ? got : window.Error();
    auto startsWith = [&packet](const char* magic, std::size_t n) {
        return packet.size() >= n && std::memcmp(packet.data(), magic, n) == 0;
    };
    std::uint64_t sampleRate = 0, preSkip = 0, nominalBitRate = 0;
    std::size_t commentSkip = 0;
    int headerPackets = 0;
    if (startsWith("\x01vorbis", 7) && packet.size() >= 30) {
        ByteReader reader(packet);
        reader.Skip(7 + 4 + 1);
        sampleRate = reader.ReadU32LE();
        reader.Skip(4);
        const std::uint32_t nominal = reader.ReadU32LE();
        nominalBitRate = nominal < 0x80000000u ? nominal : 0;
        codec = Codec::kVorbis;
        commentSkip = 7;
        headerPackets = 3;
    } else if (startsWith("OpusHead", 8) && packet.size() >= 19) {
        ByteReader reader(packet);
        reader.Skip(8 + 2);
        preSkip = reader.ReadU16LE();
        sampleRate = 48000;
        codec = Codec::kOpus;
        commentSkip = 8;
        headerPackets = 2;
    } else {
        return 0;
    }

    if (int got = packets.Next(packet); got < 0)
        return got;
    else if (got > 0 && packet.size() >= commentSkip &&
             std::memcmp(packet.data(), codec == Codec::kVorbis ? "\x03vorbis" : "OpusTags", commentSkip) ==
                 0) {
        VorbisComment comment;
        if (comment.Parse(std::span<const std::uint8_t>(packet).subspan(commentSkip)))
            ApplyVorbisComment(comment);
    }
    for (int read = 2; read < headerPackets; ++read)
        if (int got = packets.Next(packet); got <= 0)
            return got < 0 ? got : window.Error();
    packet.clear();
    packet.shrink_to_fit();

    const std::uint64_t audioStart = packets.PacketPageEnd();
    if (audioStart < fileBytes) {
        musicStart = audioStart;
        musicEnd = fileBytes - 1;
    }
    sampleRateHz = ClampToInt(static_cast<double>(sampleRate));
    std::uint64_t granule = 0;
    double seconds = 0;
    if (sampleRate > 0 && OggPackets::LastGranule(window, packets.Serial(), granule) && granule > preSkip) {
        sampleCount = granule - preSkip;
        seconds = static_cast<double>(sampleCount) / static_cast<double>(sampleRate);
    }
    duration = ClampToInt(std::floor(seconds));
    if (seconds > 0 && audioStart < fileBytes)
        bitRate =
            ClampToInt(std::round(static_cast<double>(fileBytes - audioStart) * 8.0 / seconds / 1000.0));
    else if (nominalBitRate > 0)
        bitRate = ClampToInt(std::round(static_cast<double>(nominalBitRate) / 1000.0));
    return window.Error();
}

// WAV: "RIFF", size, "WAVE", then chunks: 4-byte id, 4-byte little-endian size, the data, and a pad
// byte after data of odd length.
//   "fmt ": format (2; 1 PCM, 0xFFFE extensible), channels (2), sample rate (4), bytes per second
//           (4), block alignment (2), bits per sample (2)
//   "data": the samples
//   "LIST" of type "INFO": text sub-chunks in the same form: INAM title, IART artist, IPRD album,
//           IGNR genre, ICRD date, IPRT or ITRK track
//   "id3 " or "ID3 ": an ID3v2 tag, whose values win over those of the INFO list.
int ID3::LoadWAV(FileWindow& window)
{
    ByteReader riff(window.View(0, 12));
    if (riff.ReadTag(4) != "RIFF" || (riff.Skip(4), riff.ReadTag(4)) != "WAVE")
        return window.Error();

    int format = 0, channels = 0, sampleBits = 0;
    std::uint64_t sampleRate = 0, byteRate = 0, blockAlign = 0, dataStart = 0, dataBytes = 0;
    std::uint64_t id3Start = 0, id3Size = 0;
    std::vector<std::uint8_t> list;
    AString infoName, infoArtist, infoAlbum, infoGenre;
    int infoYear = 0, infoTrack = 0;
    bool infoRead = false;
    std::uint64_t position = 12;
    while (position < fileBytes && fileBytes - position >= 8) {
        ByteReader header(window.View(position, 8));
        const std::string id = header.ReadTag(4);
        const std::uint64_t size = header.ReadU32LE();
        const std::uint64_t start = position + 8;
        if (!header.Ok())
            break;
        const bool truncated = size > fileBytes - start;
        const std::uint64_t available = truncated ? fileBytes - start : size;
        if (id == "fmt " && available >= 16) {
            ByteReader fmt(window.View(start, 16));
            format = fmt.ReadU16LE();
            channels = fmt.ReadU16LE();
            sampleRate = fmt.ReadU32LE();
            byteRate = fmt.ReadU32LE();
            blockAlign = fmt.ReadU16LE();
            sampleBits = fmt.ReadU16LE();
        } else if (id == "data" && dataBytes == 0) {
            dataStart = start;
            dataBytes = available;
        } else if ((id == "id3 " || id == "ID3 ") && id3Size == 0) {
            id3Start = start;
            id3Size = available;
        } else if (id == "LIST" && available >= 4 && !infoRead) {
            if (int err = window.ReadInto(start, static_cast<std::size_t>(available), list); err != 0)
                return err;
            ByteReader info(list);
            const bool infoList = info.ReadTag(4) == "INFO";
            infoRead = infoList;
            while (infoList && info.Remaining() >= 8) {
                const std::string item = info.ReadTag(4);
                const std::uint32_t length = info.ReadU32LE();
                std::span<const std::uint8_t> text =
                    info.ReadSpan(std::min<std::size_t>(length, info.Remaining()));
                info.Skip(std::min<std::size_t>(length & 1, info.Remaining()));
                AString value = TextFromBytes(text);
                value.Trim();
                if (value.IsEmpty())
                    continue;
                if (item == "INAM")
                    infoName = value;
                else if (item == "IART")
                    infoArtist = value;
                else if (item == "IPRD")
                    infoAlbum = value;
                else if (item == "IGNR")
                    infoGenre = value;
                else if (item == "ICRD")
                    infoYear = value.IntValue(10);
                else if (item == "IPRT" || item == "ITRK")
                    infoTrack = value.IntValue(10) & 0xFFFF;
                else
                    continue;
                tagKinds |= kRIFFInfo;
            }
        }
        if (truncated)
            break;
        position = start + size + (size & 1);
    }
    if (window.Error() != 0)
        return window.Error();
    if (id3Size >= kTagHeaderSize)
        if (int err = LoadID3v2(window, id3Start, id3Start + id3Size); err != 0)
            return err;
    // What the ID3 tag leaves out, the INFO list may give.
    auto fill = [](AString& member, const AString& info) {
        if (member.IsEmpty())
            member = info;
    };
    fill(name, infoName);
    fill(artist, infoArtist);
    fill(album, infoAlbum);
    fill(genre, infoGenre);
    if (year == 0)
        year = infoYear;
    if (trackNumber == 0)
        trackNumber = infoTrack;

    if (format == 1 || format == 0xFFFE)
        codec = Codec::kPCM;
    musicStart = dataBytes > 0 ? dataStart : 0;
    musicEnd = dataBytes > 0 ? dataStart + dataBytes - 1 : 0;
    if (sampleRate > 0 && sampleRate < INT_MAX)
        sampleRateHz = static_cast<int>(sampleRate);
    if (byteRate > 0 && dataBytes > 0) {
        const double frames = blockAlign > 0 ? std::floor(static_cast<double>(dataBytes) / blockAlign) : 0;
        if (codec == Codec::kPCM && blockAlign > 0)
            sampleCount = dataBytes / blockAlign;
        const double seconds = frames > 0 && sampleRate > 0 ? frames / static_cast<double>(sampleRate)
                                                            : static_cast<double>(dataBytes) / byteRate;
        duration = ClampToInt(std::floor(seconds));
        bitRate =
            codec == Codec::kPCM && channels > 0 && sampleBits > 0
                ? ClampToInt(std::round(static_cast<double>(channels) * sampleBits * sampleRate / 1000.0))
                : ClampToInt(std::round(static_cast<double>(byteRate) * 8.0 / 1000.0));
    }
    return 0;
}

// ---- Results ------------------------------------------------------------------------------------

int ID3::GetMusicRange(unsigned long long* start, unsigned long long* end) const
{
    // A file that holds a tag and nothing after it has no music: its range would end before it
    // starts.
    if (musicEnd == 0 || musicStart > musicEnd)
        return 0;
    *start = musicStart;
    *end = musicEnd;
    return 1;
}

void ID3::GetSongInfo(SongInfoStruct& info) const
{
    info.name = name;
    info.album = album;
    info.artist = artist;
    info.tvShow = tvShow;
    info.genre = genre;
    info.composer = composer;
    info.trackNumber = trackNumber;
    info.discNumber = discNumber;
    info.discCount = discCount;
    info.year = year;
    info.compilation = compilation;
    info.mediaKind = mediaKind;
    info.podcast = podcast;
    info.bitRate = bitRate;
    info.duration = duration;
    info.sampleRate = sampleRateHz;
    info.pregap = pregap;
    info.postgap = postgap;
    info.sampleCount = sampleCount;
    info.gaplessData = gaplessData;
    info.size = fileSize;
    info.fileExtension = fileExtension;
    info.appleID = appleID;
    info.modifiedName = modifiedName;
}

int ID3::ReadImageData(int index, std::vector<std::uint8_t>& out) const
{
    if (index < 0 || index >= GetImageCount())
        return kErrUnknown;
    const Image& image = images[static_cast<std::size_t>(index)];
    if (image.decoded) {
        try {
            out = *image.decoded;
        } catch (const std::bad_alloc&) {
            return kErrOutOfMemory;
        }
        return 0;
    }
    AFile file;
    if (!AFile::FileExists(&filePath))
        return kErrFileNotFound;
    if (int err = file.Open(&filePath, 1); err != 0)
        return err;
    FileWindow window(file, file.GetEOF());
    std::vector<std::uint8_t> stored;
    if (int err = window.ReadInto(image.start, static_cast<std::size_t>(image.length), stored); err != 0)
        return err;
    if (!image.unsynchronised) {
        out = std::move(stored);
        return 0;
    }
    try {
        ID3Unsynchronisation::Decode(stored, out, nullptr);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return 0;
}

std::uint64_t ID3::CalcMusicSize(const AString* path)
{
    ID3 tags;
    unsigned long long start = 0, end = 0;
    if (!path || tags.SetFilePath(*path) != 0 || !tags.GetMusicRange(&start, &end) || end < start)
        return 0;
    return end - start;
}

int ID3::FilesEqualMusicCRC32(const AString* a, const AString* b)
{
    if (!a || !b)
        return 0;
    ID3 tagsA, tagsB;
    unsigned long long startA = 0, endA = 0, startB = 0, endB = 0;
    if (tagsA.SetFilePath(*a) != 0 || !tagsA.GetMusicRange(&startA, &endA) || endA < startA)
        return 0;
    if (tagsB.SetFilePath(*b) != 0 || !tagsB.GetMusicRange(&startB, &endB) || endB < startB)
        return 0;
    const std::uint64_t sizeA = endA - startA, sizeB = endB - startB;
    if (static_cast<std::uint32_t>(sizeA) == 0 ||
        static_cast<std::uint32_t>(sizeA) != static_cast<std::uint32_t>(sizeB) || sizeA != sizeB)
        return 0;

    // Equal lengths are not yet equal music: compare the audio bytes themselves.
    AFile fileA, fileB;
    if (fileA.Open(a, 1) != 0 || fileB.Open(b, 1) != 0)
        return 0;
    std::vector<std::uint8_t> blockA(1 << 16), blockB(1 << 16);
    std::uint64_t remaining = sizeA + 1;
    std::uint64_t at = 0;
    while (remaining > 0) {
        unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(remaining, blockA.size()));
        unsigned gotA = 0, gotB = 0;
        if (fileA.Seek(startA + at) != 0 || fileA.Read(blockA.data(), n, &gotA) != 0 || gotA != n)
            return 0;
        if (fileB.Seek(startB + at) != 0 || fileB.Read(blockB.data(), n, &gotB) != 0 || gotB != n)
            return 0;
        if (std::memcmp(blockA.data(), blockB.data(), n) != 0)
            return 0;
        remaining -= n;
        at += n;
    }
    return 1;
}

// ---- Album art ----------------------------------------------------------------------------------

int ID3::InsertImage(const unsigned char* image, int length)
{
    if (!AFile::FileExists(&filePath))
        return kErrOpen;
    // Through a symbolic link the song it points to gets the picture: the new file is written
    // beside that song and replaces it, and the link stays a link. A link that leads nowhere has
    // no song (and opening it would create one).
    char* real = realpath(filePath.CStr(), nullptr);
    if (!real)
        return kErrOpen;
    const AString song = AString::FromUTF8(real);
    std::free(real);
    AFile file;
    if (int err = file.Open(&song, 1); err != 0)
        return err;
    const std::string extension = LowerAscii(fileExtension);
    if (extension == "m4a" || extension == "m4b" || extension == "m4p" || extension == "mp4" ||
        extension == "m4v" || extension == "aif" || extension == "aiff")
        return kErrNotSupported;
    if (extension != "mp3")
        return 0;
    int err = InsertImageID3v2(&file, image, length);
    file.Close(0);
    if (err == 0) {
        // The offsets of the pictures and of the music have moved.
        AString path = filePath;
        SetFilePath(path);
    }
    return err;
}

int ID3::InsertImageID3v2(AFile* file, const unsigned char* image, int length)
{
    if (file->GetEOF() <= 9)
        return kErrInconsistentSize;
    std::uint8_t header[kTagHeaderSize];
    if (int err = file->Seek(0); err != 0)
        return err;
    if (int err = file->Read(header, kTagHeaderSize, nullptr); err != 0)
        return err;
    if (std::memcmp(header, "ID3", 3) != 0)
        return InsertImageNewID3(file, image, length);
    switch (header[3]) {
    case 2:
        return InsertImageID3v22(file, image, length, header);
    case 3:
        return InsertImageID3v23(file, image, length, header);
    case 4:
        return InsertImageID3v24(file, image, length, header);
    default:
        return kErrUnknown;
    }
}

int ID3::InsertImageNewID3(AFile* file, const unsigned char* image, int length)
{
    const std::uint8_t header[kTagHeaderSize] = {'I', 'D', '3', 2, 0, 0, 0, 0, 0, 0};
    return RewriteWithPicture(file, image, length, header, false);
}

int ID3::InsertImageID3v22(AFile* file, const unsigned char* image, int length, const std::uint8_t* header)
{
    return RewriteWithPicture(file, image, length, header, true);
}

int ID3::InsertImageID3v23(AFile* file, const unsigned char* image, int length, const std::uint8_t* header)
{
    return RewriteWithPicture(file, image, length, header, true);
}

int ID3::InsertImageID3v24(AFile* file, const unsigned char* image, int length, const std::uint8_t* header)
{
    return RewriteWithPicture(file, image, length, header, true);
}

// The new picture frame:
//   2.2: "PIC", 3-byte size, encoding 0, "JPG"/"PNG", picture type 0, empty description, image
//   2.3: "APIC", plain 4-byte size, flags 0, encoding 0, "image/jpg"/"image/png" + zero, picture
//        type 0, empty description, image
//   2.4: as 2.3 with a synchsafe size (and unsynchronised when the tag says all frames are)
// The new tag holds the old frames (without padding and without an extended header, whose CRC and
// padding size would no longer hold), then the new frame; the audio follows unchanged.
int ID3::RewriteWithPicture(AFile* file, const unsigned char* image, int length, const std::uint8_t* header,
                            bool existingTag)
{
    if (!image || length <= 0)
        return kErrUnknown;
    const bool jpeg = length >= 2 && image[0] == 0xFF && image[1] == 0xD8;
    const bool png = !jpeg && IsPNG(image, length);
    if (!jpeg && !png)
        return kErrUnknown;
    const int version = header[3];
    const std::uint8_t flags = header[5];
    if (version == 2 && (flags & 0x40))
        return kErrUnknown; // a compressed tag cannot be extended
    const std::uint64_t size = file->GetEOF();
    const std::size_t imageLength = static_cast<std::size_t>(length);

    std::uint8_t newHeader[kTagHeaderSize];
    std::vector<std::uint8_t> newBody;
    std::uint64_t oldTagEnd = 0;
    const bool footer = existingTag && version == 4 && (flags & 0x10);
    try {
        std::vector<std::uint8_t> stored;
        std::uint64_t oldSize = 0;
        if (existingTag) {
            ByteReader sizeReader(header + 6, 4);
            oldSize = sizeReader.ReadSynchsafe28();
            const std::uint64_t bodySize = std::min<std::uint64_t>(oldSize, size - kTagHeaderSize);
            oldTagEnd =
                std::min<std::uint64_t>(kTagHeaderSize + oldSize + (footer ? kTagHeaderSize : 0), size);
            stored.resize(static_cast<std::size_t>(bodySize));
            if (int err = file->Seek(kTagHeaderSize); err != 0)
                return err;
            if (int err = file->Read(stored.data(), static_cast<unsigned>(bodySize), nullptr); err != 0)
                return err;
        }
        const bool wholeBodyUnsynchronised = version < 4 && (flags & 0x80);
        std::vector<std::uint8_t> decoded;
        std::span<const std::uint8_t> body = stored;
        if (wholeBodyUnsynchronised) {
            ID3Unsynchronisation::Decode(stored, decoded, nullptr);
            body = decoded;
        }
        const std::optional<std::size_t> knownStart = KnownFramesStart(body, version, flags);
        const std::size_t start = knownStart.value_or(body.size());
        const std::size_t end = WalkFrames(body, start, version, [](const FrameHeader&) {});
        // Only the frames from `start` to `end` are kept. Before them only an extended header that
        // could be read is dropped; what follows them must be padding. Anything else (frames behind
        // an extended header of unreadable size, a frame that cannot be walked, or audio inside a
        // tag whose size is too large) is not ours to lose.
        const std::size_t unaccounted = knownStart ? end : 0;
        if (existingTag && (kTagHeaderSize + oldSize > size ||
                            std::any_of(body.begin() + static_cast<std::ptrdiff_t>(unaccounted), body.end(),
                                        [](std::uint8_t byte) { return byte != 0; })))
            return kErrUnknown;

        ByteWriter writer;
        writer.WriteBytes(body.subspan(start, end - start));
        if (version == 2) {
            const std::uint64_t frameLength = imageLength + 6;
            if (frameLength > 0xFFFFFF)
                return kErrUnknown;
            writer.WriteTag("PIC");
            writer.WriteU24BE(static_cast<std::uint32_t>(frameLength));
            writer.WriteU8(0);
            writer.WriteTag(jpeg ? "JPG" : "PNG");
            writer.WriteU8(0);
            writer.WriteU8(0);
            writer.WriteBytes(image, imageLength);
        } else {
            ByteWriter payload;
            payload.WriteU8(0);
            payload.WriteTag(jpeg ? "image/jpg" : "image/png");
            payload.WriteU8(0);
            payload.WriteU8(0);
            payload.WriteU8(0);
            payload.WriteBytes(image, imageLength);
            std::vector<std::uint8_t> data = payload.Take();
            std::uint8_t formatFlags = 0;
            if (version == 4 && (flags & 0x80)) {
                data = ID3Unsynchronisation::Encode(data);
                formatFlags = 0x02;
            }
            if (data.size() > kMaxSynchsafe)
                return kErrUnknown;
            writer.WriteTag("APIC");
            if (version == 4)
                writer.WriteSynchsafe28(static_cast<std::uint32_t>(data.size()));
            else
                writer.WriteU32BE(static_cast<std::uint32_t>(data.size()));
            writer.WriteU8(0);
            writer.WriteU8(formatFlags);
            writer.WriteBytes(data);
        }
        newBody = wholeBodyUnsynchronised ? ID3Unsynchronisation::Encode(writer.Bytes()) : writer.Take();
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (newBody.size() > kMaxSynchsafe)
        return kErrUnknown;
    std::memcpy(newHeader, header, kTagHeaderSize);
    newHeader[5] = static_cast<std::uint8_t>(flags & ~0x40);
    ByteWriter sizeWriter;
    sizeWriter.WriteSynchsafe28(static_cast<std::uint32_t>(newBody.size()));
    std::memcpy(newHeader + 6, sizeWriter.Bytes().data(), 4);

    const AString song = file->GetPath();
    return AFile::ReplaceSafely(&song, [&](AFile* out) {
        int err = out->Write(newHeader, kTagHeaderSize);
        if (err == 0)
            err = out->Write(newBody.data(), static_cast<unsigned>(newBody.size()));
        if (err == 0 && footer) {
            std::uint8_t newFooter[kTagHeaderSize];
            std::memcpy(newFooter, newHeader, kTagHeaderSize);
            std::memcpy(newFooter, "3DI", 3);
            err = out->Write(newFooter, kTagHeaderSize);
        }
        // The audio and whatever follows it, unchanged.
        std::vector<std::uint8_t> block(1 << 16);
        std::uint64_t at = oldTagEnd;
        while (err == 0 && at < size) {
            unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(size - at, block.size()));
            err = file->Seek(at);
            if (err == 0)
                err = file->Read(block.data(), n, nullptr);
            if (err == 0)
                err = out->Write(block.data(), n);
            at += n;
        }
        return err;
    });
}
