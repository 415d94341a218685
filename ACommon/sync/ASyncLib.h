#pragma once
// ASyncLib: the song library sync. Its sides are song sources (or plain folders), chosen by type
// number; entries are virtual paths made from each song's tags, so that the planner matches songs
// by their tags, not by their file names. The file operations of ASync go to the source of the side
// a path belongs to: a copy adds the song to the other side, a replacement rewrites the song's file
// in place, a deletion removes the song from its side. It also carries the settings that decide
// when two songs are the same song, and the checks that must pass before a sync may start.

#include "ACommon/base/CopyAhead.h"
#include "ACommon/sync/ASync.h"

#include "ACommon/tags/AudioFormats.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

class ADirSong;
class SongConverter;

class ASyncLib : public ASync {
public:
    static constexpr std::uint32_t kStateMark = 0x00100000;
    // The extensions the song sources list.
    static constexpr const char* kSongExtensions = AudioFormats::kSongTypes;
    // More songs of the library than this whose files are missing, with the folders that held them:
    // its music is taken to be on a drive that is not mounted, and the sync stops before it plans
    // anything.
    static constexpr int kUnreachableHandful = 3;

    // The iTunes library on the left and an iPod through iTunes on the right.
    explicit ASyncLib(AProgress* progress = &AProgress::Shared());
    ASyncLib(int type1, int type2, AProgress* progress = &AProgress::Shared());
    ~ASyncLib() override;

    // A new, empty source of a type number; null for a number that has no source class here.
    static std::unique_ptr<ADir> NewSource(int type, AProgress* progress);

    // Makes the sides sources of these types (a side whose type does not change keeps its sources
    // and their lists). 0; kErrNotSupported when a type has no source class (that side stays as it was);
    // kErrBusy while the sync is busy.
    int SetTypes(int type1, int type2);
    void SetPlaylist1(const AString* name);
    void SetPlaylist2(const AString* name);

    // Song settings. They live in the song sources; getters read the left side's (the right
    // side's when the left is a plain folder). Changing one that takes part in telling songs apart
    // sets it on all four sources and drops the saved lists (their paths no longer compare).
    void SetDontDupSongs(signed char value);
    signed char GetDontDupSongs() const;
    void SetFileTypeRelevantOnDupSongCompare(signed char value);
    signed char GetFileTypeRelevantOnDupSongCompare() const;
    void SetGenreRelevantOnDupSongCompare(signed char value);
    signed char GetGenreRelevantOnDupSongCompare() const;
    void SetAlbumRelevantOnDupSongCompare(signed char value);
    signed char GetAlbumRelevantOnDupSongCompare() const;
    void SetFavorSizeVsDate(signed char value);
    signed char GetFavorSizeVsDate() const;
    void SetFavorProtectedMusic(signed char value);
    signed char GetFavorProtectedMusic() const;
    void SetDeleteMusicNotOwned(signed char value);
    signed char GetDeleteMusicNotOwned() const;
    void SetFavorFileTypes(AString* list);
    const AString* GetFavorFileTypes() const;
    void SetGenreFilterMode(int mode);
    int GetGenreFilterMode() const;
    void SetGenreIncludeFilter(AString* list);
    const AString* GetGenreIncludeFilter() const;
    void SetGenreExcludeFilter(AString* list);
    const AString* GetGenreExcludeFilter() const;
    void SetArtistFilterMode(int mode);
    int GetArtistFilterMode() const;
    void SetArtistIncludeFilter(AString* list);
    const AString* GetArtistIncludeFilter() const;
    void SetArtistExcludeFilter(AString* list);
    const AString* GetArtistExcludeFilter() const;
    void SetAlbumFilterMode(int mode);
    int GetAlbumFilterMode() const;
    void SetAlbumIncludeFilter(AString* list);
    const AString* GetAlbumIncludeFilter() const;
    void SetAlbumExcludeFilter(AString* list);
    const AString* GetAlbumExcludeFilter() const;
    void SetSongNameFilterMode(int mode);
    int GetSongNameFilterMode() const;
    void SetSongNameIncludeFilter(AString* list);
    const AString* GetSongNameIncludeFilter() const;
    void SetSongNameExcludeFilter(AString* list);
    const AString* GetSongNameExcludeFilter() const;
    // These three keep the saved lists.
    void SetCreateLastPlaylist(signed char value);
    signed char GetCreateLastPlaylist() const;
    void SetMoveInsteadOfDelete(signed char value);
    signed char GetMoveInsteadOfDelete() const;
    void SetAppleIDs(AString* list);
    const AString* GetAppleIDs() const;

    // How songs an iPod cannot play are converted on their way there (the AAC bit rate, "always
    // AAC"): saved in the state record's text field as "aac-kbps=N;always-aac=on" (only what differs
    // from the defaults, so a sync with the defaults writes the field empty, as before). The folder of
    // converted files (empty: the user's cache folder) is not saved.
    void SetConversionSettings(const AudioFormats::Settings& settings) { conversionSettings = settings; }
    const AudioFormats::Settings& GetConversionSettings() const { return conversionSettings; }
    void SetAACKbps(int kbps) { conversionSettings.aacKbps = kbps; }
    int GetAACKbps() const { return conversionSettings.aacKbps; }
    void SetAlwaysAAC(signed char value) { conversionSettings.alwaysAAC = value != 0; }
    signed char GetAlwaysAAC() const { return conversionSettings.alwaysAAC ? 1 : 0; }
    void SetConversionCacheFolder(const std::string& folder) { conversionCacheFolder = folder; }

    // ASync
    signed char FilterCheck(const AString* path) override;
    int SyncCompare(const AString& a, const AString& b) override;
    signed char FilesEqual(const AString* a, const AString* b) override;
    signed char FastFilesEqual(const AString* a, const AString* b) override;
    signed char FileExists(const AString* path) override;
    signed char DirExists(const AString* path) override;
    int CreateDir(const AString* path) override;
    std::uint64_t FileModTime(const AString* path) override;
    int Copy(const AString* src, const AString* dst, signed char overwrite, signed char isReplace,
             CancelProc cancel) override;
    bool LastCopyTookHeldSong() const override { return lastAddedHeld; }
    int Delete(const AString* path) override;
    void GetFileTitle(const AString* vp, AString* out) override;
    int PreSyncCheck() override;
    int GetType() const override;
    int ScanForDups(CancelProc cancel) override;
    int WriteState(AFile* f) override;
    int ReadState(AFile* f) override;
    AString FormatVPForDisplay(const AString* vp, signed char isFile, int maxLen,
                               signed char detailed) override;
    std::uint64_t FileSize(const AString* path) override;
    AString VolumePathOfSide(int side) override;
    bool RemovalFreesSpace(int side) override;
    std::uint64_t PlannedCopySize(const AString* src, bool* estimated, std::uint64_t listed = 0) override;
    bool JudgesByChanges() const override;
    bool SameFileState(const AString& left, const AString& right) override;

protected:
    bool KeepsReplacedFiles(const AString& path) override;
    bool NamesFileOnDisk(const AString& path) override;
    // A song file about to be replaced goes where a deleted song goes ("Removed Files").
    int PutAside(const AString* path) override;
    // Whether two files have the same size and date, as the volumes keep dates.
    bool SameSizeAndDate(const AString& a, const AString& b) const;
    // The source of a side (1 left, 2 right); null for 0.
    ADir* SideSource(int side) const;
    // The song source whose settings the getters report: the left side's, else the right side's;
    // null when neither side holds songs.
    ADirSong* SettingsSource() const;
    // Applies a changed song setting: nothing when `unchanged` says the settings source already has
    // it; otherwise `apply` on every song source, and the saved lists are emptied.
    template <typename Unchanged, typename Apply> void ChangeSongSetting(Unchanged unchanged, Apply apply);
    // Applies a setting to every song source without touching the saved lists.
    template <typename Apply> void SetOnSongSources(Apply apply);
    // 0, or kErrVolumeNotFound (after saying so) when more than kUnreachableHandful songs of a
    // library side have no file now, nor the folder their file was in.
    int CheckMusicReachable();
    std::uint64_t ListedSize(ADir* dir, int index) override;
    // The sizes of the library's song files CheckMusicReachable found, by their records (whose path
    // is kept too, so that a record made since at the same address is not taken for it).
    struct ReachedFile {
        AString path;
        std::uint64_t size = 0;
    };
    std::unordered_map<const AString*, ReachedFile> reachedFiles;
    // The check of one receiving side before a sync: 0, or the code after its alert.
    int CheckReceivingSide(int side);

    // True when `name` is another playlist than the one `dir` (a library or iPod-through-library
    // source) holds.
    static bool PlaylistChanges(ADir* dir, const AString* name);

    signed char copyAsITunesReady = 1;
    AString reservedText;
    // The path of the last song copied across as a new song, and the file its side now holds for it
    // (when known), for verifying the copy.
    AString lastAddedPath;
    AString lastAddedDisk;
    bool lastAddedHeld = false; // the last song went into a playlist as a track the library held

    // Conversion on the way to an iPod: `disk` becomes the file to copy there.
    int FileForIPod(ADir* to, AString& disk, CancelProc cancel);
    void EnsureConverter(ADir* to);
    void BeforePerforming() override;
    void AfterPerforming() override;
    AudioFormats::Settings conversionSettings;
    std::string conversionCacheFolder;
    std::unique_ptr<SongConverter> converter;
    // The songs copied onto an iPod as they are, copied ahead while the run enters the ones before.
    std::unique_ptr<CopyAhead> copyAhead;
};
