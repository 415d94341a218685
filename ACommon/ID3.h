#pragma once
// ID3: the tag reader of the whole system. SetFilePath reads one music file (MP3 with ID3v1 and
// ID3v2.2/2.3/2.4 tags and its MPEG audio header, MP4-family files, AIFF) into the members below;
// GetSongInfo turns them into a SongInfoStruct. InsertImage writes album art into an MP3 file.

#include "ACommon/AString.h"

#include <cstdint>
#include <vector>

class AFile;
struct SongInfoStruct;

class ID3 {
public:
    // One embedded picture: where its data lies in the file (end inclusive) and what it is.
    struct Image {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        std::uint64_t length = 0;
        std::uint32_t kind = 0; // 1 PNG, 2 JPEG, 0 other
    };

    // Bits of GetTagKinds().
    enum TagKind : std::uint32_t {
        kID3v10 = 1,
        kID3v11 = 2,
        kID3v22 = 4,
        kID3v23 = 8,
        kID3v24 = 16,
        kMP4 = 32,
    };

    ID3();
    ~ID3();
    ID3(const ID3&) = delete;
    ID3& operator=(const ID3&) = delete;

    // Reads the file at `path`: -11160 when it does not exist, -102392 when it is empty, a reader's
    // error, or 0. A file of another type than the readers know yields no values and 0.
    int SetFilePath(const AString& path);

    void GetName(AString& out) const { out = name; }
    void GetModifiedName(AString& out) const { out = modifiedName; }
    void GetAlbum(AString& out) const { out = album; }
    void GetArtist(AString& out) const { out = artist; }
    void GetTVShow(AString& out) const { out = tvShow; }
    void GetGenre(AString& out) const { out = genre; }
    void GetComposer(AString& out) const { out = composer; }
    void GetFileExt(AString& out) const { out = fileExtension; }
    void GetAppleID(AString& out) const { out = appleID; }
    void GetTrackNumber(long& out) const { out = trackNumber; }
    void GetDiskNumber(long& out) const { out = discNumber; }
    void GetDiskCount(long& out) const { out = discCount; }
    void GetBitrate(long& out) const { out = bitRate; }
    void GetDuration(long& out) const { out = duration; }
    long GetYear() const { return year; }
    long GetFileSize() const { return fileSize; }
    bool IsCompilation() const { return compilation == 1; }
    bool IsMovie() const { return mediaKind == 9; }
    bool IsTVShow() const { return mediaKind == 10; }
    bool IsPodCast() const { return podcast == 1; }
    int GetMediaKind() const { return mediaKind; }
    int GetImageCount() const { return static_cast<int>(images.size()); }
    const std::vector<Image>& GetImages() const { return images; }
    std::uint32_t GetTagKinds() const { return tagKinds; }
    const AString& GetFilePath() const { return filePath; }

    // 1 and the offsets that enclose the audio data (end inclusive), or 0 when the end is unknown.
    int GetMusicRange(unsigned long long* start, unsigned long long* end) const;
    void GetSongInfo(SongInfoStruct& info) const;
    void ClearImages();

    // The size of the audio data of a file (music end - music start), 0 when unknown.
    static std::uint64_t CalcMusicSize(const AString* path);
    // 1 when both files' music ranges have the same non-zero length (with `untaggedOnly`: and both
    // read and have no artist), else 0.
    static int FilesEqualMusicCRC32(const AString* a, const AString* b, signed char untaggedOnly);

    // Writes `image` (JPEG or PNG) into the ID3v2 tag of the file that was read, as a new picture
    // after the existing ones; the file is replaced safely. -11167 for MP4 and AIFF files.
    int InsertImage(const unsigned char* image, int length);

    // The genre name of an ID3v1 genre index (0 to 125), or the empty string.
    static AString GenreName(int index);

private:
    void Reset();

    AString filePath;
    AString name, album, artist, tvShow, genre, composer;
    std::vector<Image> images;
    int trackNumber = 0;
    int discNumber = 0;
    int discCount = 0;
    int year = 0;
    int compilation = 0;
    int mediaKind = -1;
    int podcast = 0;
    int bitRate = 0;
    int duration = 0;
    int fileSize = 0;
    AString fileExtension;
    AString appleID;
    AString modifiedName;
    std::uint32_t tagKinds = 0;
    std::uint64_t musicStart = 0;
    std::uint64_t musicEnd = 0;
};
