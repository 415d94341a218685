#pragma once
// ADirTunes: one playlist of the music library (by default its library playlist, the whole library)
// as a song source. Its songs come from the library by script (ASiTunes): each track is listed
// under the virtual path its tags make, followed by "?" + its database ID + ":" + the index of its
// file in the disk path list. Songs are added to the library through the bridge, after the file is
// placed in the library's music folder the way the library arranges it (AddITunesReadyFile).
//
// The listing reads the database IDs before and after the property scripts and reads again when
// another process changed the playlist in between: a song never gets another song's location. A
// script that fails fails the listing (an empty list would read as every song deleted). Tracks
// whose file is missing (music on a drive that is not mounted) are listed from their stored
// location.

#include "ACommon/bridge/ASiTunes.h"
#include "ACommon/sources/ADirSong.h"

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class ADirTunes : public ADirSong {
public:
    static constexpr std::uint32_t kStateMark = 10001;
    static constexpr const char* kRootMarker = "*ITunes_Root*";
    static constexpr const char* kLastSync = "Last Sync";
    // How often a listing reads again when the playlist changed while it was read.
    static constexpr int kListingAttempts = 3;

    explicit ADirTunes(AProgress* progress = &AProgress::Shared());
    ~ADirTunes() override;

    int GetType() const override;
    int GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList) override;
    std::uint64_t GetFileModTime(const AString* path) override;
    int Delete(const AString* path, signed char fromList, signed char keepFile) override;
    int GetSongInfo(const AString* path, SongInfoStruct* info) override;
    bool FileExists(const AString* path) override;
    void SetPlaylist(const AString* name) override;
    void DeleteAll() override;
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    int Initialize() override;
    int CopyProperties(ADir* other) override;
    AString GetRootDisplayName(signed char bare) override;
    int PopulateFileList(CancelProc cancel) override;
    bool TakeListing(ADir& live) override;
    void GetRealRootPath(AString* out) override;
    int GetPlayListType() const override;
    int GetImageInfo(const AString* path, int index, unsigned char** data, int* size) override;
    int GetImageCount(const AString* path, int* count) override;

    const AString& GetPlaylist() const { return bridge->GetPlaylistName(); }
    // Places the music file `src` in the music folder, in Artist/Album (or the podcast, TV show and
    // movie folders) under its track-numbered name, and sets `dest` to the file the library is to be
    // given: the new copy, or an equal file found there. `copied` tells which. Never replaces a
    // file: a name taken meanwhile gets the next number.
    int AddITunesReadyFile(const AString* unused, const AString* src, AString* dest,
                           const AString* fallbackName, signed char* copied, CancelProc cancel);
    // Adds a file that lies in place to the library (and to "Last Sync" when that is kept).
    int AddSongFromDisk(const AString* path);
    // Places the file in the music folder (AddITunesReadyFile) and adds it; `placed` gets the file
    // the library keeps. A copy made for a song the library then refuses is removed again.
    int AddLooseFile(const AString* file, CancelProc cancel, AString* placed) override;
    // A song a sync is to copy into this playlist (`vpath`, the song's virtual path on either side):
    // when this is not the library playlist and the library holds the same song already, that
    // track is put in the playlist (and in "Last Sync") instead of a second copy of the file. 0 when
    // it was, kErrObjectNotFound when the library holds no such song, or an error.
    int AddHeldSong(const AString& vpath);
    ASiTunes& Bridge() { return *bridge; }
    const AFileList& GetDiskList() const { return diskList; }

    // The database ID and the index a virtual path ends with ("...?ID:index"); false when it has none.
    static bool ParseKey(const AString& path, std::uint32_t* id, int* index);
    // True when `names` (playlist names, each followed by a line break) holds `name` as a whole
    // name, case ignored: "Not Last Sync" is not "Last Sync".
    static bool HoldsPlaylistName(const AString& names, const AString& name);

protected:
    // True for a regular file (not a link) inside `folder`, both resolved.
    static bool IsFileInside(const AString& file, const AString& folder);
    // What the listing asks of its side of the library (the iPod source overrides them).
    virtual int ListIDs(std::vector<std::uint32_t>* ids) { return bridge->ReadLibIDs(ids); }
    virtual int ListProperty(const char* param, std::vector<platform::ScriptDescriptor>* items)
    {
        return bridge->ReadLibProperty(param, items);
    }
    virtual int ArtCount(std::uint32_t id) { return bridge->GetITunesSongAlbumArtCount(id); }
    virtual int Art(std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg)
    {
        return bridge->GetITunesSongAlbumArt(id, index, jpeg);
    }
    // The disk path list's entry for a track's location (the location itself here).
    virtual AString DiskEntry(const AString& location) { return location; }
    // The "Reading ..." message of a listing.
    virtual AString ListingMessage() { return AString("Reading Library... Playlist: ") + GetPlaylist(); }
    // What a listing sets before it reads the tracks: the root and the removed-files folder.
    virtual void PrepareListing();
    // Lists the tracks of the playlist into the file list and the disk path list.
    int ListTracks(CancelProc cancel);

    std::unique_ptr<ASiTunes> bridge;
    AFileList diskList;

private:
    // The songs of the whole library by their virtual paths (keys cut off), sorted, case ignored;
    // listed on the first AddHeldSong of a run.
    struct HeldSong {
        AString path;
        std::uint32_t id = 0;
    };
    std::unique_ptr<ADirTunes> wholeLibrary;
    std::vector<HeldSong> heldSongs;
    // The folders of the music folder that copies went into this run, rid of stopped runs' leftovers.
    std::unordered_set<std::string> sweptFolders;

    int ReadTracks(std::vector<AString>* paths, CancelProc cancel);
    // The add of the song and its place in "Last Sync" as two scripts, for when "Last Sync" failed
    // the single script: a song added without its place in that playlist gives kErrLastSyncPlaylist.
    int AddSongAlone(const AString& path);
};
