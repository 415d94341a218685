#include "musiclib/TrackRecord.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/tags/AudioFormats.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"

#include <sys/stat.h>

namespace {

struct FileType {
    const char* extension;
    const char* kind;
};

constexpr FileType kFileTypes[] = {
    {"mp3", "MPEG audio file"},  {"m4a", "AAC audio file"},        {"m4p", "Protected AAC audio file"},
    {"m4b", "AAC audio file"},   {"aif", "AIFF audio file"},       {"aiff", "AIFF audio file"},
    {"aifc", "AIFF audio file"}, {"mp4", "MPEG-4 video file"},     {"m4v", "MPEG-4 video file"},
    {"flac", "FLAC audio file"}, {"ogg", "Ogg Vorbis audio file"}, {"oga", "Ogg Vorbis audio file"},
    {"opus", "Opus audio file"}, {"wav", "WAV audio file"},
};

// MP4 media kinds (stik).
constexpr int kMediaAudiobook = 2;
constexpr int kMediaMovie = 9;
constexpr int kMediaTVShow = 10;

const FileType* TypeOf(const std::string& path)
{
    const std::string extension = AudioFormats::LowerExtension(path);
    for (const FileType& type : kFileTypes)
        if (extension == type.extension)
            return &type;
    return nullptr;
}

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + static_cast<std::int64_t>(time.tv_nsec);
}

} // namespace

bool TrackRecord::IsMusicFile(const std::string& path) { return TypeOf(path) != nullptr; }

std::string TrackRecord::FileIdentity(const std::string& path, std::int64_t* size)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::string();
    if (size)
        *size = static_cast<std::int64_t>(info.st_size);
    return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(info.st_ino));
}

bool TrackRecord::FileChanged(const std::string& path, std::int64_t storedSize, std::int64_t storedFileTimeNs,
                              std::int64_t storedChangeTimeNs)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // The change time moves with every write, also one that sets the modification time back, and
    // with a rename over the file, which a copy of another file's size and dates would not show.
    return storedChangeTimeNs == 0 || static_cast<std::int64_t>(info.st_size) != storedSize ||
           Nanoseconds(info.st_mtim) != storedFileTimeNs || Nanoseconds(info.st_ctim) != storedChangeTimeNs;
}

int TrackRecord::Read(const std::string& path, TrackRecord& out, std::string& why, ID3* read, AFile* opened)
{
    out = TrackRecord();
    const AString file = AString::FromUTF8(path);
    if (file.IsEmpty()) {
        why = "its path is not UTF-8 text";
        return kErrInvalidPath;
    }
    auto noFile = [&path]() {
        struct stat there {};
        return stat(path.c_str(), &there) != 0 || !S_ISREG(there.st_mode);
    };
    const FileType* type = TypeOf(path);
    if (!type) {
        if (noFile()) {
            why = "there is no file there";
            return kErrFileNotFound;
        }
        why = "it is not a music file (mp3, m4a, m4p, m4b, aif, aiff, mp4, m4v)";
        return kErrFileType;
    }
    // The file is opened once: its size, dates and identity are those of the open file, taken
    // before the tags are read from it.
    ID3 own;
    ID3& tags = read ? *read : own;
    AFile ownFile;
    AFile& source = opened ? *opened : ownFile;
    if (int err = tags.SetFilePath(file, source); err != 0) {
        if (err == kErrFileNotFound || (err == kErrOpen && noFile())) {
            why = "there is no file there";
            return kErrFileNotFound;
        }
        why = std::string("its tags cannot be read") + AError::Message(err);
        return err;
    }
    struct stat info {};
    if (source.IsOpen()) {
        info = source.OpenedInfo();
    } else if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        // A type whose tags are not read from the file (AIFC).
        why = "there is no file there";
        return kErrFileNotFound;
    }
    SongInfoStruct song;
    tags.GetSongInfo(song);

    out.location = path;
    out.canonical = path;
    out.name = (song.name.IsEmpty() ? song.modifiedName : song.name).ToStdString();
    out.artist = song.artist.ToStdString();
    out.albumArtist = tags.GetAlbumArtist().ToStdString();
    out.album = song.album.ToStdString();
    out.genre = song.genre.ToStdString();
    out.composer = song.composer.ToStdString();
    out.show = song.tvShow.ToStdString();
    out.kind = type->kind;
    out.size = static_cast<std::int64_t>(info.st_size);
    out.duration = song.duration;
    out.bitRate = song.bitRate;
    out.sampleRate = tags.GetSampleRate();
    out.trackNumber = song.trackNumber;
    out.trackCount = tags.GetTrackCount();
    out.discNumber = song.discNumber;
    out.discCount = song.discCount;
    out.year = song.year;
    out.compilation = song.compilation == 1;
    out.podcast = song.podcast == 1;
    out.mediaKind = song.mediaKind;
    out.storeAccount = song.appleID.ToStdString();
    // Taken before the tags are read: a change while they are read shows at the next comparison.
    out.fileTime = static_cast<std::int64_t>(info.st_mtime);
    out.fileTimeNs = Nanoseconds(info.st_mtim);
    out.changeTimeNs = Nanoseconds(info.st_ctim);
    out.fileId = std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
                 std::to_string(static_cast<unsigned long long>(info.st_ino));
    unsigned long long musicStart = 0, musicEnd = 0;
    if (tags.GetMusicRange(&musicStart, &musicEnd) && musicEnd >= musicStart)
        out.musicSize = static_cast<std::int64_t>(musicEnd - musicStart);

    const std::string extension = AudioFormats::LowerExtension(path);
    const bool video = extension == "mp4" || extension == "m4v";
    if (out.podcast)
        out.category = "podcast";
    else if (song.mediaKind == kMediaAudiobook || extension == "m4b")
        out.category = "audiobook";
    else if (song.mediaKind == kMediaTVShow)
        out.category = "tv";
    else if (song.mediaKind == kMediaMovie || video)
        out.category = "movie";
    else
        out.category = "music";
    return 0;
}
