#include "ACommon/ID3.h"

#include "ACommon/AError.h"
#include "ACommon/AFile.h"
#include "ACommon/SongInfoStruct.h"

// Interim reader: knows no tag format yet; every file reads as untagged.

ID3::ID3() = default;
ID3::~ID3() = default;

void ID3::Reset()
{
    name = album = artist = tvShow = genre = composer = AString();
    images.clear();
    trackNumber = discNumber = discCount = year = compilation = 0;
    mediaKind = -1;
    podcast = bitRate = duration = 0;
    tagKinds = 0;
    musicStart = musicEnd = 0;
    appleID = modifiedName = fileExtension = AString();
}

int ID3::SetFilePath(const AString& path)
{
    if (!AFile::FileExists(&path))
        return kErrFileNotFound;
    Reset();
    filePath = path;
    fileSize = static_cast<int>(AFile::GetFileSize(&path));
    if (fileSize < 1)
        return kErrInconsistentSize;
    path.PathExtension(&fileExtension);
    AString base;
    path.LastPathComponent(&base);
    int dot = base.ReverseFind('.');
    modifiedName = dot >= 0 ? base.Left(dot) : base;
    return 0;
}

int ID3::GetMusicRange(unsigned long long* start, unsigned long long* end) const
{
    if (musicEnd == 0)
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
    info.size = fileSize;
    info.fileExtension = fileExtension;
    info.appleID = appleID;
    info.modifiedName = modifiedName;
}

void ID3::ClearImages() { images.clear(); }

std::uint64_t ID3::CalcMusicSize(const AString* path)
{
    ID3 tags;
    unsigned long long start = 0, end = 0;
    if (!path || tags.SetFilePath(*path) != 0 || !tags.GetMusicRange(&start, &end))
        return 0;
    return end - start;
}

int ID3::FilesEqualMusicCRC32(const AString*, const AString*, signed char) { return 0; }

int ID3::InsertImage(const unsigned char*, int) { return kErrNotSupported; }

AString ID3::GenreName(int) { return AString(); }
