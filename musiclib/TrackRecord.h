#pragma once
// TrackRecord: what the library keeps of one music file, read with the program's own tag reader
// (so that both sides of a sync see the same tags).

#include <cstdint>
#include <string>

class AFile;
class ID3;

struct TrackRecord {
    std::string location;  // the absolute path the file is added by
    std::string canonical; // the same with links and ".." resolved (Read leaves it the location)
    std::string name, artist, albumArtist, album, genre, composer, show;
    std::string kind;     // "MPEG audio file", "AAC audio file", ...
    std::string category; // music, movie, tv, podcast, audiobook: which special playlist shows it
    std::int64_t size = 0;
    int duration = 0; // seconds
    int bitRate = 0;  // kbit/s
    int sampleRate = 0;
    int trackNumber = 0, trackCount = 0, discNumber = 0, discCount = 0, year = 0;
    bool compilation = false;
    bool podcast = false;
    int mediaKind = -1;
    std::string storeAccount;
    std::int64_t fileTime = 0; // seconds since 1970
    // The file's modification time and the time of its last change of any kind (a write, a rename
    // over it, a date set back), in nanoseconds since 1970: with the size, what tells the version of
    // the file this record was read from from any later one, even within the same second.
    std::int64_t fileTimeNs = 0, changeTimeNs = 0;
    // The bytes of music in the file (without its tags): what an untagged song is matched by, kept
    // so that it still matches while its file cannot be reached.
    std::int64_t musicSize = 0;
    // The file's identity on its system ("device:inode"), which finds it by any path to it.
    std::string fileId;

    // True for the extensions of the music files the library takes (case ignored).
    static bool IsMusicFile(const std::string& path);
    // Reads the file at `path` (absolute). 0, or an error code with `why` set: kErrFileNotFound no such file,
    // kErrFileType not a music file, kErrInvalidPath a path that is not UTF-8, or the tag reader's error.
    // `tags`, when given, keeps what the tag reader read, for a caller that needs more of it;
    // `opened`, when given, is left open on the file read, for a caller that copies it next.
    static int Read(const std::string& path, TrackRecord& out, std::string& why, ID3* tags = nullptr,
                    AFile* opened = nullptr);
    // The identity of the file at `path` ("device:inode"), and its size when `size` is given; empty
    // when there is no file there.
    static std::string FileIdentity(const std::string& path, std::int64_t* size = nullptr);
    // Whether the file at `path` is no longer the one a record with this size and these times was
    // read from. False when there is no file there (a missing file is not a changed one); true for a
    // record whose times are not known (0: kept by an older version of the library).
    static bool FileChanged(const std::string& path, std::int64_t storedSize, std::int64_t storedFileTimeNs,
                            std::int64_t storedChangeTimeNs);
};
