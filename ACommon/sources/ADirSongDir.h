#pragma once
// ADirSongDir: a folder of music files as a song source. It lists the folder like the plain folder,
// reads the tags of every music file and lists each song under its virtual path, so that it can be
// synchronised song by song with another song source. Songs added to it are filed into
// Artist/Album folders under track-numbered names.
//
// Record k of the own list is "<virtual path>?k"; entry k of `diskList` is that song's file,
// relative to the root. The own records carry the date and size of the song's file as listed (a sync
// tells changed songs by them); the current date comes from GetFileModTime.

#include "ACommon/sources/ADirSong.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class ADirSongDir : public ADirSong {
public:
    // The record mark of this source (decimal, as it has always been written).
    static constexpr std::uint32_t kStateMark = 10002;

    explicit ADirSongDir(AProgress* progress = &AProgress::Shared());
    ~ADirSongDir() override;

    int GetType() const override;
    void Sort(signed char ascending) override;
    int GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList) override;
    std::uint64_t GetFileModTime(const AString* path) override;
    int DeleteEntry(int index, signed char removeFile, signed char keepFile) override;
    int Delete(const AString* path, signed char fromList, signed char keepFile) override;
    int GetSongInfo(const AString* path, SongInfoStruct* info) override;
    bool FileExists(const AString* path) override;
    int AddFPath(AString* path) override;
    int AddRecord(const AString& path, std::uint64_t modTime, std::uint64_t size) override;
    void DeleteAll() override;
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    int PopulateFileList(CancelProc cancel) override;
    bool TakeListing(ADir& live) override;

    // The virtual path of a music file, without its key: 0, or kErrFileNotFound when its tags cannot be read.
    // Reads only settings: the listing calls it from several threads at once.
    // With `modTime` and `size`: the file's date (AFile's seconds) and size as the read found them.
    int MakeSongInfoString(const AString* file, AString* vpath, std::uint64_t* modTime = nullptr,
                           std::uint64_t* size = nullptr);
    // Copies a music file into the folder, under Artist/Album/"07 Name.mp3". Nothing is copied when
    // the folder already holds the same file (or, with dontDupSongs, a song of that name by a known
    // artist); a different file of the same name gets " 1", " 2", ... before its extension.
    int AddSongFromDisk(const AString* file, const AString* fallbackName, CancelProc cancel);

    // Adds a music file from elsewhere as AddSongFromDisk does; `placed` gets nothing (the folder
    // keeps no record of where the copy went, so the file given is never removed).
    int AddLooseFile(const AString* file, CancelProc cancel, AString* placed) override;
    // A song's linked picture is its folder's image (cover, folder or front; .jpg, .jpeg or .png;
    // case ignored), as the library takes it. GetImageInfo gives it in a block of new[].
    int GetImageCount(const AString* path, int* count) override;
    int GetImageInfo(const AString* path, int index, unsigned char** data, int* size) override;

    // The files of the last listing whose tags could not be read (they are not in the list).
    int GetUnreadableCount() const override { return unreadable; }
    const AFileList& GetDiskList() const { return diskList; }

private:
    // The music files below the root that pass the type and path filters, relative to the root
    // (whole paths with useFullPaths). 0, -1 when a folder cannot be read, or kErrUserCancel.
    int ListMusicFiles(std::vector<AString>& files, CancelProc cancel);
    // Reads the tags of `files` (as ListMusicFiles gives them) and puts the songs into the lists.
    int ReadSongs(std::vector<AString>& files, CancelProc cancel);
    // The disk path of entry `k` of diskList; kErrObjectNotFound when there is none.
    int DiskPathOfKey(long long k, AString* diskPath) const;
    // Finds the key of the first record whose path (up to its "?") equals `relative` ignoring case.
    int FindKey(const AString& relative, long long* k);
    // The list changed: the index is built again when it is next needed.
    void ForgetIndex() { indexBuilt = false; }

    AFileList diskList;
    int unreadable = 0;
    // Case-folded virtual path without key and without a leading "/", to the key of the first
    // record that has it, in list order: what a search through the records would find first.
    std::unordered_map<std::u16string, long long> index;
    bool indexBuilt = false;
};
