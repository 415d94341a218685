#pragma once
// ID3: the tag reader of the whole system. SetFilePath reads one music file (MP3 with ID3v1 and
// ID3v2.2/2.3/2.4 tags and its MPEG audio header, MP4-family files, AIFF, FLAC, Ogg Vorbis, Opus and
// WAV) into the members below;
// GetSongInfo turns them into a SongInfoStruct. InsertImage writes album art into an MP3 file.

#include "ACommon/base/AString.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class AFile;
class FileWindow;
class MPEGHeader;
class VorbisComment;
struct SongInfoStruct;

class ID3 {
public:
    // One embedded picture: where its data lies in the file (end inclusive) and what it is.
    // `length` is end - start + 1. In an unsynchronised ID3v2 tag the picture is stored with a
    // 0x00 stuffed after some of its 0xFF bytes; then `unsynchronised` is set, the range covers the
    // stored bytes and ReadImageData gives the picture itself. `kind` is taken from the picture.
    struct Image {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        std::uint64_t length = 0;
        std::uint32_t kind = 0; // 1 PNG, 2 JPEG, 0 other
        bool unsynchronised = false;
        // A picture that is not stored as plain bytes of the file (base64 text in an Ogg comment)
        // is kept decoded here; then start and end are 0 and length is its size.
        std::shared_ptr<const std::vector<std::uint8_t>> decoded;
    };

    // How the music of the file is coded, as far as the reader could tell.
    enum class Codec { kUnknown, kMP3, kAAC, kALAC, kFLAC, kVorbis, kOpus, kPCM };

    // Bits of GetTagKinds().
    enum TagKind : std::uint32_t {
        kID3v10 = 1,
        kID3v11 = 2,
        kID3v22 = 4,
        kID3v23 = 8,
        kID3v24 = 16,
        kMP4 = 32,
        kVorbisComment = 64, // FLAC, Ogg Vorbis, Opus
        kRIFFInfo = 128,     // WAV
    };

    ID3();
    ~ID3();
    ID3(const ID3&) = delete;
    ID3& operator=(const ID3&) = delete;

    // Reads the file at `path`: kErrFileNotFound when it does not exist, kErrInconsistentSize when it is
    // empty, a reader's error, or 0. A file of another type than the readers know yields no values and 0.
    int SetFilePath(const AString& path);
    // SetFilePath, reading through `opened`, which it leaves open on the file read when the file is
    // read (for a caller that copies it next: the file is opened and looked at once).
    int SetFilePath(const AString& path, AFile& opened);

    void GetName(AString& out) const { out = name; }
    void GetModifiedName(AString& out) const { out = modifiedName; }
    void GetAlbum(AString& out) const { out = album; }
    void GetArtist(AString& out) const { out = artist; }
    // The album's artist (TPE2, aART), which the artist falls back to; empty when not tagged.
    const AString& GetAlbumArtist() const { return albumArtist; }
    void GetTVShow(AString& out) const { out = tvShow; }
    void GetGenre(AString& out) const { out = genre; }
    void GetComposer(AString& out) const { out = composer; }
    void GetFileExt(AString& out) const { out = fileExtension; }
    void GetAppleID(AString& out) const { out = appleID; }
    void GetTrackNumber(long& out) const { out = trackNumber; }
    int GetTrackCount() const { return trackCount; }
    void GetDiskNumber(long& out) const { out = discNumber; }
    void GetDiskCount(long& out) const { out = discCount; }
    void GetBitrate(long& out) const { out = bitRate; }
    void GetDuration(long& out) const { out = duration; }
    // Samples per second of the music (MP3, MP4 and AIFF); 0 when not known.
    int GetSampleRate() const { return sampleRateHz; }
    // Gapless playback facts (see SongInfoStruct): MP3 from the encoder's LAME header, MP4 from its
    // iTunSMPB item, FLAC, WAV and AIFF from their exact sample counts, Ogg from the last granule.
    // A sample count of 0: the file does not tell.
    std::uint64_t GetSampleCount() const { return sampleCount; }
    std::uint32_t GetPregap() const { return pregap; }
    std::uint32_t GetPostgap() const { return postgap; }
    std::uint32_t GetGaplessData() const { return gaplessData; }
    long GetYear() const { return year; }
    long GetFileSize() const { return fileSize; }
    // The size and file time (AFile's seconds) of the file as SetFilePath found it, so that a caller
    // that copies the file need not look at it again.
    std::uint64_t GetFileBytes() const { return fileBytes; }
    std::uint64_t GetFileModTime() const { return fileModTime; }
    bool IsCompilation() const { return compilation == 1; }
    bool IsMovie() const { return mediaKind == 9; }
    bool IsTVShow() const { return mediaKind == 10; }
    bool IsPodCast() const { return podcast == 1; }
    int GetMediaKind() const { return mediaKind; }
    int GetCompilation() const { return compilation; }
    int GetPodcast() const { return podcast; }
    int GetImageCount() const { return static_cast<int>(images.size()); }
    const std::vector<Image>& GetImages() const { return images; }
    std::uint32_t GetTagKinds() const { return tagKinds; }
    Codec GetCodec() const { return codec; }
    // True for music stored without loss (FLAC, ALAC, PCM in WAV or AIFF).
    bool IsLossless() const { return codec == Codec::kFLAC || codec == Codec::kALAC || codec == Codec::kPCM; }
    const AString& GetFilePath() const { return filePath; }

    // 1 and the offsets that enclose the audio data (end inclusive), or 0 when the end is unknown.
    int GetMusicRange(unsigned long long* start, unsigned long long* end) const;
    void GetSongInfo(SongInfoStruct& info) const;

    // The bytes of picture `index` of the file that was read, unsynchronisation undone. 0, kErrUnknown
    // for an index out of range, or a file error.
    int ReadImageData(int index, std::vector<std::uint8_t>& out) const;

    // The size of the audio data of a file (music end - music start), 0 when unknown.
    static std::uint64_t CalcMusicSize(const AString* path);
    // 1 when both files hold the same music: their music ranges have the same non-zero length and
    // the same bytes; else 0.
    static int FilesEqualMusicCRC32(const AString* a, const AString* b);

    // Writes `image` (JPEG or PNG) into the ID3v2 tag of the file that was read, as a new picture
    // after the existing ones; the file is replaced safely. kErrNotSupported for MP4 and AIFF files, 0 and
    // nothing written for other types than MP3, kErrUnknown for an image that is neither JPEG nor PNG.
    int InsertImage(const unsigned char* image, int length);

    // The genre name of an ID3v1 genre index (0 to 125), or the empty string.
    static AString GenreName(int index);

    // "(17)" and the like: every digit after the opening parenthesis, plus `offset`, as a genre
    // index; an index outside the list gives the empty genre. Text without "(" stays. The argument
    // is changed too.
    static AString LookUpGenreID3(AString& genre, int offset);
    // A number, with or without parentheses, plus `offset`, as a genre index (empty when outside
    // the list); other text stays. The argument is changed too.
    static AString LookUpGenreAAC(AString& genre, int offset);
    // True when `data` begins with the 8-byte PNG signature.
    static bool IsPNG(const unsigned char* data, int length);

private:
    struct FrameData;

    void Reset();

    // ID3v1 and ID3v2 (the ID3v2 tag may stand inside an AIFF chunk: `base` and `limit` enclose it).
    int LoadID3v1(FileWindow& window);
    int LoadID3v2(FileWindow& window, std::uint64_t base, std::uint64_t limit);
    int LoadID3v22(std::span<const std::uint8_t> body, const std::uint8_t* header, std::uint64_t bodyOffset);
    int LoadID3v23(std::span<const std::uint8_t> body, const std::uint8_t* header, std::uint64_t bodyOffset);
    int LoadID3v24(std::span<const std::uint8_t> body, const std::uint8_t* header, std::uint64_t bodyOffset);
    int LoadID3v2Frames(int version, std::span<const std::uint8_t> stored, const std::uint8_t* header,
                        std::uint64_t bodyOffset);
    void ApplyFrame(int version, const char* id, const FrameData& data, bool refused);
    static AString GetFrameString22(std::span<const std::uint8_t> data);
    static AString GetFrameString23(std::span<const std::uint8_t> data);
    static AString GetFrameString24(std::span<const std::uint8_t> data);
    static std::optional<Image> GetImage22(const FrameData& data);
    static std::optional<Image> GetImage23(const FrameData& data);
    static std::optional<Image> GetImage24(const FrameData& data);

    // MPEG audio frames.
    int LoadMP3HeaderInfo(FileWindow& window, std::uint64_t from);
    static int SeekValidHeader(FileWindow& window, std::uint64_t from, std::uint8_t header[4],
                               std::uint64_t* headerOffset);
    // The encoder delay and padding of the LAME extension after a Xing or Info header, and where
    // the last frames lie.
    void LoadLAMEGapless(FileWindow& window, const MPEGHeader& header, std::uint64_t frameStart,
                         std::uint64_t lameAt, std::uint64_t frames, std::uint64_t streamEnd);

    // MP4 atoms.
    struct Atom;
    static bool ReadAtomHeader(FileWindow& window, std::uint64_t offset, std::uint64_t parentEnd,
                               bool topLevel, Atom& atom);
    static bool FindChildAtom(FileWindow& window, std::uint64_t from, std::uint64_t parentEnd,
                              const char* type, Atom& child);
    int LoadAAC(FileWindow& window);
    int LoadMoov(FileWindow& window, const Atom& moov, double& seconds);
    void LoadMovieHeader(FileWindow& window, const Atom& mvhd, double& seconds);
    // The sample rate of a track's first sample entry (trak/mdia/minf/stbl/stsd).
    void LoadTrackSampleRate(FileWindow& window, const Atom& trak);
    int LoadIlst(FileWindow& window, const Atom& ilst);
    // A "----" item: mean, name and data atoms; only iTunSMPB is read.
    void LoadFreeformItem(FileWindow& window, const Atom& item);
    int GetFrameStringAAC(AString& out, FileWindow& window, const Atom& item, bool numberPair);
    int AppendImagesAAC(FileWindow& window, const Atom& item);

    // AIFF chunks.
    int LoadAIFF(FileWindow& window);

    // FLAC metadata blocks, Ogg Vorbis and Opus header packets, WAV chunks.
    int LoadFLAC(FileWindow& window);
    int LoadOgg(FileWindow& window);
    int LoadWAV(FileWindow& window);
    void ApplyVorbisComment(const VorbisComment& comment);
    int AppendImage(const Image& image);

    // Album art.
    int InsertImageID3v2(AFile* file, const unsigned char* image, int length);
    int InsertImageNewID3(AFile* file, const unsigned char* image, int length);
    int InsertImageID3v22(AFile* file, const unsigned char* image, int length, const std::uint8_t* header);
    int InsertImageID3v23(AFile* file, const unsigned char* image, int length, const std::uint8_t* header);
    int InsertImageID3v24(AFile* file, const unsigned char* image, int length, const std::uint8_t* header);
    int RewriteWithPicture(AFile* file, const unsigned char* image, int length, const std::uint8_t* header,
                           bool existingTag);

    AString filePath;
    AString name, album, artist, albumArtist, tvShow, genre, composer;
    std::vector<Image> images;
    int trackNumber = 0;
    int trackCount = 0;
    int discNumber = 0;
    int discCount = 0;
    int year = 0;
    int compilation = 0;
    int mediaKind = -1;
    int podcast = 0;
    int bitRate = 0;
    int duration = 0;
    int sampleRateHz = 0; // of the music, when its header tells
    std::uint64_t sampleCount = 0;
    std::uint32_t pregap = 0, postgap = 0, gaplessData = 0;
    int fileSize = 0;
    AString fileExtension;
    AString appleID;
    AString modifiedName;
    std::uint32_t tagKinds = 0;
    Codec codec = Codec::kUnknown;
    std::uint64_t musicStart = 0;
    std::uint64_t musicEnd = 0;

    // Bookkeeping of one read.
    std::uint64_t fileBytes = 0; // the real size; fileSize is kept to 32 bits
    std::uint64_t fileModTime = 0;
    std::uint64_t id3v2End = 0; // where the audio frames of an MP3 file are looked for
    bool id3v1Found = false;
};
