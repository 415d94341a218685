#pragma once
// MHIT: one track of the iTunesDB, with its data objects.
//
// mhit: header of at least 244 bytes (a shorter one is read as far as it goes and written back
// padded with zeros to 244; a longer one keeps its extra bytes), then its mhod children.
//   0 "mhit"  4 header length  8 total length  12 number of mhods  16 track id (renumbered on
//   every store)  20 1  28 0x100  31 rating (stars x 20)  32 modification time  36 file size
//   40 length in ms  44 track number  52 year  56 bit rate (kbit/s)  60 sample rate (16.16)
//   80 play count  88 last played (Mac time)  126 0xFFFF for compressed audio (16 bits)
//   136 sample rate (32-bit float)  144 audio kind: 0x0C MPEG, 0x33 AAC (16 bits)  156 skip count
//   160 last skipped  184 pregap (samples)  188 sample count (64 bits)  200 postgap (samples)
//   248 gapless data (MP3: bytes up to the last eight frames)  256 gapless track (16 bits)
// A track with gapless facts has the longer header the iPod's other writers give every track.
// Every other header byte is kept as read.

#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHOD.h"

#include <cstdint>
#include <memory>
#include <vector>

struct SongInfoStruct;

class MHIT {
public:
    // Header offsets this program reads or sets.
    enum : std::size_t {
        kOffsetMhodCount = 12,
        kOffsetTrackId = 16,
        kOffsetRating = 31, // one byte
        kOffsetModTime = 32,
        kOffsetSize = 36,
        kOffsetLength = 40,
        kOffsetTrackNumber = 44,
        kOffsetYear = 52,
        kOffsetBitrate = 56,
        kOffsetSampleRate = 60,
        kOffsetPlayCount = 80,
        kOffsetLastPlayed = 88,
        kOffsetCompressed = 126,
        kOffsetSampleRateFloat = 136,
        kOffsetAudioKind = 144,
        kOffsetSkipCount = 156,
        kOffsetLastSkipped = 160,
        kOffsetPregap = 184,
        kOffsetSampleCount = 188,
        kOffsetPostgap = 200,
        kOffsetGaplessData = 248,
        kOffsetGaplessTrack = 256,
        kMinHeaderLength = 244,
        kGaplessHeaderLength = 584,
    };

    MHIT(); // a new track with the defaults of a fresh record and a handle of its own
    // A track about to be read by Load: a handle of its own and nothing else yet.
    enum ForLoading { kForLoading };
    explicit MHIT(ForLoading);
    MHIT(const MHIT&) = delete;
    MHIT& operator=(const MHIT&) = delete;

    // 0 or kErrUnknown. With the store of the bytes being read, the data objects refer to them and the
    // strings are decoded when first asked for.
    int Load(ByteReader& in, const MHOD::TextStore* texts = nullptr);
    void Store(ByteWriter& out);
    std::uint32_t GetTotalSize() const;

    void SetStringField(const AString& text, unsigned type);
    void SetName(const AString& text);
    void SetAlbum(const AString& text);
    void SetArtist(const AString& text);
    void SetGenre(const AString& text);
    void SetComposer(const AString& text);
    // `path` relative to the iPod root ("/iPod_Control/Music/F01/ABCD.mp3"); stored as the location
    // ":iPod_Control:Music:F01:ABCD.mp3".
    void SetFilepath(const AString& path);

    // Decoded strings: album, artist, genre and composer made path-safe and trimmed, name trimmed.
    const AString& GetName() const { return Text(name); }
    const AString& GetAlbum() const { return Text(album); }
    const AString& GetArtist() const { return Text(artist); }
    const AString& GetGenre() const { return Text(genre); }
    const AString& GetComposer() const { return Text(composer); }
    const AString& GetFilepath() const
    {
        if (!pathKnown)
            DecodePath();
        return filePath;
    }
    const AString& GetExtension() const
    {
        if (!pathKnown)
            DecodePath();
        return extension;
    }
    const std::vector<MHOD>& GetDataObjects() const { return children; }

    int GetBitrate() const { return static_cast<int>(GetField(kOffsetBitrate)); }        // kbit/s
    int GetDuration() const { return static_cast<int>(GetField(kOffsetLength) / 1000); } // seconds
    std::uint32_t GetFileSize() const { return GetField(kOffsetSize); }
    std::uint32_t GetTrackId() const { return GetField(kOffsetTrackId); }
    std::uint32_t GetField(std::size_t offset) const;
    void SetField(std::size_t offset, std::uint32_t value);
    std::uint8_t GetByte(std::size_t offset) const { return offset < header.size() ? header[offset] : 0; }
    void SetByte(std::size_t offset, std::uint8_t value);
    std::uint32_t GetHeaderLength() const { return static_cast<std::uint32_t>(header.size()); }
    // Lengthens the header with zeros to at least `length` bytes, for fields past its end.
    void EnsureHeaderLength(std::size_t length)
    {
        if (header.size() < length)
            header.resize(length, 0);
    }
    // The gapless fields; a sample count of 0 clears them (the track plays as any other).
    void SetGapless(std::uint32_t pregap, std::uint32_t postgap, std::uint64_t sampleCount,
                    std::uint32_t gaplessData);
    std::uint64_t GetSampleCount() const
    {
        return GetField(kOffsetSampleCount) | static_cast<std::uint64_t>(GetField(kOffsetSampleCount + 4))
                                                  << 32;
    }

    // The handle: a number that no other track object of this process has had or will have. It
    // names the track in virtual paths and is never stored in the iPod's files.
    std::uint64_t GetHandle() const { return handle; }
    // The bucket key: see NameKeyOf.
    std::uint32_t GetNameKey() const { return nameKey; }

    // The track's place in the database file as it was read (-1 for a track added since), which
    // the iPod's play-count file refers to.
    int GetReadIndex() const { return readIndex; }
    void SetReadIndex(int index) { readIndex = index; }

    // Case-insensitive comparison of genre, artist, album, name and extension with a song record
    // (its modified name, which becomes the track's name); the first difference decides.
    int CompareTo(const SongInfoStruct* song) const;

    // The track's virtual path: "/" [genre "/"] artist "/" [album "/"] name ["/" extension], with
    // "?" and the handle when `withHandle` is set. A track without the tags that take part (no
    // artist, and no genre or album where they take part) is untagged: its artist component is the
    // music size of its file, found under `root` (the iPod's mount point), and a trailing " N" copy
    // number is dropped from its name.
    AString ToString(signed char withExtension, signed char withGenre, signed char withAlbum,
                     signed char withHandle, const AString& root = AString()) const;
    // 0 when the virtual path names this track (case ignored, the key after "?" ignored); the
    // untagged form uses the same music size as ToString, so that a path ToString made (or the other
    // side made for the same file) finds the track.
    int CompareTo(const AString& virtualPath, signed char withExtension, signed char withGenre,
                  signed char withAlbum, const AString& root = AString()) const;
    // As CompareTo, but the last component is always the file size in bytes, and the untagged
    // artist component is the file size too.
    int SizeBasedCompareTo(const AString& virtualPath, signed char withExtension, signed char withGenre,
                           signed char withAlbum) const;

    // The bucket key of a name component of a virtual path: the CRC-32 of the component without a
    // trailing " N" copy number, in upper case. A track's key is that of the name component
    // ToString writes, so that a lookup finds its bucket whatever the path-shape flags are and
    // whatever the case of the path.
    static std::uint32_t NameKeyOf(const AString& nameComponent);
    // A tag as a path component: path-safe, trimmed, "*" when empty.
    static AString Component(const AString& tag);

private:
    // A decoded string: most tags need no trimming and no path-safe replacement, and then the
    // decoded string is the data object's own text (`child`), not a copy.
    struct Decoded {
        int child = -1;
        std::unique_ptr<AString> own; // rare: only for tags that need trimming or replacing
    };
    const AString& Text(const Decoded& decoded) const
    {
        if (decoded.child >= 0)
            return children[decoded.child].GetString();
        return decoded.own ? *decoded.own : NoText();
    }
    static const AString& NoText();
    static Decoded Own(AString text) { return Decoded{-1, std::make_unique<AString>(std::move(text))}; }
    void SetDecoded(Decoded& decoded, int child, bool formatted);
    // Stores a tag trimmed in its string object and keeps the form the virtual paths use.
    void SetTagField(const AString& text, unsigned type, Decoded& field);
    static std::uint32_t NameKeyOfName(const AString& name);

    void Decode();
    void DecodePath() const;
    bool IsUntagged(signed char withGenre, signed char withAlbum) const;
    AString BuildPath(signed char withGenre, signed char withAlbum, const AString& untaggedArtist,
                      const AString& lastComponent, signed char withLast) const;
    AString MusicSizeText(const AString& root) const;

    std::vector<std::uint8_t> header; // offset 0 up to the header length (at least 244 bytes)
    std::vector<MHOD> children;
    std::vector<std::uint8_t> trailing; // bytes after the children inside the total length
    Decoded genre, artist, album, name, composer;
    // The location as a path, made from the location object when first asked for.
    mutable AString filePath, extension;
    mutable bool pathKnown = true;
    int location = -1;
    std::uint32_t nameKey = 0;
    std::uint64_t handle = 0;
    int readIndex = -1;
    mutable AString musicSizeRoot; // the root the cached music size was found under
    mutable std::uint64_t musicSize = 0;
    mutable bool musicSizeKnown = false;
};
