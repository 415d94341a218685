#pragma once
// ADirPod: one playlist of an iPod that is attached to the music library, as a song source. The
// library serves the iPod from the iPod's own database: its songs, their tags and their files'
// locations come by script (ASiTunes, the iPod's source in the library), and songs are added and
// removed through the library, which writes the iPod's database back. It lists and changes the
// iPod the way ADirTunes does the library (IDs read before and after, no song dropped); the disk
// path list holds each song's file relative to the iPod's mount point.
//
// Choosing an iPod only reads it: the iPod's files are first written when songs are sent to it.
//
// It keeps the iPod's journal, order and recovery as the database source does: a removed song's
// file is named in the iPod's journal (shared with the library's iPod source, which names the files
// it copies) before the song is dropped; the files go once Finalize has had the library store the
// database, so no track loses its file and no file is left that nothing names, whenever a run stops.

#include "ACommon/sources/ADirTunes.h"

class ADirPod : public ADirTunes {
public:
    // The mark of its saved record (its type number is 10002).
    static constexpr std::uint32_t kStateMark = 10006;

    explicit ADirPod(AProgress* progress = &AProgress::Shared());
    ~ADirPod() override;

    int GetType() const override;
    int GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList) override;
    int Delete(const AString* path, signed char fromList, signed char keepFile) override;
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    int Initialize() override;
    // Has the library write the iPod's database back, then moves or deletes the files of the songs
    // removed. 0, or why the database could not be written (the files then stay, still named in
    // the iPod's journal).
    int Finalize() override;
    int CopyProperties(ADir* other) override;
    AString GetRootDisplayName(signed char bare) override;
    int PopulateFileList(CancelProc cancel) override;
    void GetRealRootPath(AString* out) override;
    int GetPlayListType() const override;

    const AString& GetIPodName() const { return bridge->GetIPodName(); }
    const AString& GetIPodVolName() const { return bridge->GetIPodVolName(); }
    // Chooses the iPod by its volume; with `loadName` its name (and main playlist) is read from its
    // database. An iPod that plays video lists its video files too. Nothing is written to it.
    void SetIPodVolName(const AString& volume, bool loadName);
    // Chooses the iPod mounted on `volume` whose source in the library is called `name`, reading
    // nothing; the playlist is kept (the main playlist, `name`, when none was chosen).
    void ChooseIPod(const AString& volume, const AString& name);
    // Adds a music file to the iPod through the library (and to "Last Sync" when that is kept).
    int AddSongFromDisk(const AString* path);
    // AddSongFromDisk; `placed` gets the song's file on the iPod when it is known.
    int AddLooseFile(const AString* file, CancelProc cancel, AString* placed) override;
    // The file on the iPod of the song the last AddSongFromDisk added; empty when unknown.
    const AString& GetLastAddedFile() const { return lastAddedFile; }

protected:
    int ListIDs(std::vector<std::uint32_t>* ids) override { return bridge->ReadIPodIDs(ids); }
    int ListProperty(const char* param, std::vector<platform::ScriptDescriptor>* items) override
    {
        return bridge->ReadIPodProperty(param, items);
    }
    int ArtCount(std::uint32_t id) override { return bridge->GetIPodSongAlbumArtCount(id); }
    int Art(std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg) override
    {
        return bridge->GetIPodSongAlbumArt(id, index, jpeg);
    }
    AString DiskEntry(const AString& location) override;
    AString ListingMessage() override;
    void PrepareListing() override;

private:
    AString IPodRoot() const;
    // The add of the song, the read of its file and its place in "Last Sync" as three scripts, for
    // when "Last Sync" failed the single script: a song added without its place in that playlist
    // gives kErrLastSyncPlaylist.
    int AddSongAlone(const AString& path);

    bool flagsSet = false;
    // The files of the songs removed this run, which go once the database is stored.
    std::vector<AString> pendingRemovals;
    AString lastAddedFile;
};
