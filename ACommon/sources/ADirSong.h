#pragma once
// ADirSong: the base of every source whose entries are songs. Each song is listed under a virtual
// path made from its tags ("/Genre/Artist/Album/Name/ext?key"), so that the same song gets the same
// path on both sides of a sync whatever its file is called. Holds the settings that decide which
// tags take part, the tag filters, the duplicate-resolution preferences and the owned store
// accounts, and the library scans.

#include "ACommon/sources/ADir.h"

#include <cstdint>
#include <functional>

class ADirSong : public ADir {
public:
    static constexpr std::uint32_t kStateMark = 0x00100005;

    explicit ADirSong(AProgress* progress = &AProgress::Shared());
    ~ADirSong() override;

    int ScanForDuplicates(signed char deleteFiles, signed char sortFirst, signed char ascending,
                          CancelProc cancel, signed char interactive) override;
    // The duplicates of the last scan whose removal failed: their records left the list, their
    // files stayed.
    int GetFailedRemovalCount() const { return failedRemovals; }
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    int CopyProperties(ADir* other) override;
    void AppendArtistAlbum(const ID3* tags, AString* path, signed char& unknownArtist,
                           unsigned int options) override;

    virtual int PathCompare(const AString* a, const AString* b);
    virtual int DirPickFileToKeep(const AString* a, const AString* b);
    virtual void GetRealRootPath(AString* out);
    virtual int GetPlayListType() const;
    virtual int GetImageInfo(const AString* path, int index, unsigned char** data, int* size);
    virtual int GetImageCount(const AString* path, int* count);

    // Tag filters on one value (the value may be changed) and on a virtual path.
    bool GenreFilterCheck(AString* genre) const;
    bool ArtistFilterCheck(AString* artist) const;
    bool AlbumFilterCheck(AString* album) const;
    bool SongNameFilterCheck(AString* name) const;
    bool VPathGenreFilterCheck(AString* vpath) const;
    bool VPathArtistFilterCheck(AString* vpath) const;
    bool VPathAlbumFilterCheck(AString* vpath) const;
    bool VPathSongNameFilterCheck(AString* vpath) const;
    bool VPathFilterCheck(AString* vpath) const;

    // The virtual path of a song: "/Genre/Artist/Album/Name/ext", the genre, album and extension
    // present by the three flags, each component made path-safe and trimmed ("*" when empty), then
    // "?" and `key` when one is given. A song without usable tags (every tag component before the
    // name is "*") loses a trailing " N" copy number from its name and is filed under the size of
    // its music data as its artist, so that untagged songs match by size and name; `musicSize` is
    // asked only for such songs. Every song source builds its paths here.
    static AString MakeVirtualPath(signed char withGenre, signed char withAlbum, signed char withFileType,
                                   const AString& genre, const AString& artist, const AString& album,
                                   const AString& name, const AString& extension,
                                   const std::function<std::uint64_t()>& musicSize, const AString* key);
    // The same with this source's flags.
    AString BuildVirtualPath(const AString& genre, const AString& artist, const AString& album,
                             const AString& name, const AString& extension,
                             const std::function<std::uint64_t()>& musicSize, const AString* key) const;

    // The name component of a virtual path (the first flag is not used).
    static AString GetName(AString vpath, signed char, signed char withGenre, signed char withAlbum);
    // Removes a trailing " N" copy number (N a digit 1 to 9): "Song 2" gives "Song".
    static void RemoveSpaceNumber(AString* name);
    static void RemoveSpaceNumberWithVPathCheck(AString* name, AString* vpathSoFar);

    // Asks whether to remove one item found by a scan; `answer` carries "Yes to All" (2) and
    // "No to All" (4) from one question to the next.
    bool AskUserToDelete(int* answer, AString* text);

    void SetDontDupSongs(signed char value) { dontDupSongs = value; }
    signed char GetDontDupSongs() const { return dontDupSongs; }
    void SetFavorSizeVsDate(signed char value) { favorSizeVsDate = value; }
    signed char GetFavorSizeVsDate() const { return favorSizeVsDate; }
    void SetFileTypeRelevantOnDupSongCompare(signed char value) { fileTypeRelevantOnDupSongCompare = value; }
    signed char GetFileTypeRelevantOnDupSongCompare() const { return fileTypeRelevantOnDupSongCompare; }
    void SetGenreRelevantOnDupSongCompare(signed char value) { genreRelevantOnDupSongCompare = value; }
    signed char GetGenreRelevantOnDupSongCompare() const { return genreRelevantOnDupSongCompare; }
    void SetAlbumRelevantOnDupSongCompare(signed char value) { albumRelevantOnDupSongCompare = value; }
    signed char GetAlbumRelevantOnDupSongCompare() const { return albumRelevantOnDupSongCompare; }
    void SetFavorProtectedMusic(signed char value) { favorProtectedMusic = value; }
    signed char GetFavorProtectedMusic() const { return favorProtectedMusic; }
    void SetDeleteMusicNotOwned(signed char value) { deleteMusicNotOwned = value; }
    signed char GetDeleteMusicNotOwned() const { return deleteMusicNotOwned; }
    void SetCreateLastPlaylist(signed char value) { createLastPlaylist = value; }
    signed char GetCreateLastPlaylist() const { return createLastPlaylist; }

    void SetGenreFilterMode(int mode) { genreFilterMode = mode; }
    int GetGenreFilterMode() const { return genreFilterMode; }
    void SetGenreIncludeFilter(const AString& list) { genreIncludeFilter = list; }
    const AString& GetGenreIncludeFilter() const { return genreIncludeFilter; }
    void SetGenreExcludeFilter(const AString& list) { genreExcludeFilter = list; }
    const AString& GetGenreExcludeFilter() const { return genreExcludeFilter; }
    void SetArtistFilterMode(int mode) { artistFilterMode = mode; }
    int GetArtistFilterMode() const { return artistFilterMode; }
    void SetArtistIncludeFilter(const AString& list) { artistIncludeFilter = list; }
    const AString& GetArtistIncludeFilter() const { return artistIncludeFilter; }
    void SetArtistExcludeFilter(const AString& list) { artistExcludeFilter = list; }
    const AString& GetArtistExcludeFilter() const { return artistExcludeFilter; }
    void SetAlbumFilterMode(int mode) { albumFilterMode = mode; }
    int GetAlbumFilterMode() const { return albumFilterMode; }
    void SetAlbumIncludeFilter(const AString& list) { albumIncludeFilter = list; }
    const AString& GetAlbumIncludeFilter() const { return albumIncludeFilter; }
    void SetAlbumExcludeFilter(const AString& list) { albumExcludeFilter = list; }
    const AString& GetAlbumExcludeFilter() const { return albumExcludeFilter; }
    void SetSongNameFilterMode(int mode) { songNameFilterMode = mode; }
    int GetSongNameFilterMode() const { return songNameFilterMode; }
    void SetSongNameIncludeFilter(const AString& list) { songNameIncludeFilter = list; }
    const AString& GetSongNameIncludeFilter() const { return songNameIncludeFilter; }
    void SetSongNameExcludeFilter(const AString& list) { songNameExcludeFilter = list; }
    const AString& GetSongNameExcludeFilter() const { return songNameExcludeFilter; }
    void SetFavorFileTypes(const AString& list) { favorFileTypes = list; }
    const AString& GetFavorFileTypes() const { return favorFileTypes; }
    void SetAppleIDs(const AString& list) { appleIDs = list; }
    const AString& GetAppleIDs() const { return appleIDs; }

protected:
    int failedRemovals = 0;
    // A folder name made from a tag (artist, album): `whenEmpty` for an empty tag; a tag of white
    // space only keeps its length with its first and last characters replaced by "_"; any other is
    // trimmed; then the name is made path-safe, dots at either end included.
    static AString FolderNameFromTag(AString tag, const char* whenEmpty);

    signed char dontDupSongs = 0;
    signed char favorSizeVsDate = 1;
    signed char fileTypeRelevantOnDupSongCompare = 1;
    signed char genreRelevantOnDupSongCompare = 1;
    signed char albumRelevantOnDupSongCompare = 1;
    signed char favorProtectedMusic = 1;
    signed char deleteMusicNotOwned = 1;
    signed char createLastPlaylist = 1;
    int genreFilterMode = 0;
    AString genreIncludeFilter;
    AString genreExcludeFilter;
    int artistFilterMode = 0;
    AString artistIncludeFilter;
    AString artistExcludeFilter;
    int albumFilterMode = 0;
    AString albumIncludeFilter;
    AString albumExcludeFilter;
    int songNameFilterMode = 0;
    AString songNameIncludeFilter;
    AString songNameExcludeFilter;
    AString favorFileTypes;
    AString appleIDs;
};
