// The library tools on folders of songs: what each scan finds, asks and changes, the rules that keep
// them from removing what is only out of reach, the group's lock, the settings file that is never
// lost, and which menu items are enabled.

#include "ACommon/sync/LibraryTools.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/Pictures.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using fixtures::Exists;
using fixtures::Has;
using fixtures::ReadFile;
using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

using Tool = LibraryTools::Tool;
using Side = LibraryTools::Side;

// A folder of songs whose music folder (what the disconnected-files scan lists) is another folder,
// and whose adding answers what the test says.
class LooseSongs : public ADirSongDir {
public:
    AString GetMusicFolder() override { return musicFolder; }
    int AddLooseFile(const AString* file, CancelProc cancel, AString* placed) override
    {
        if (addResult != 0)
            return addResult;
        if (!copyTo.IsEmpty())
            AFile::Copy(file, &copyTo);
        if (placed)
            *placed = copyTo.IsEmpty() ? *file : copyTo;
        return ADirSongDir::AddLooseFile(file, cancel, nullptr);
    }
    AString musicFolder;
    AString copyTo;
    int addResult = 0;
};

class LibraryToolsTest : public ::testing::Test {
protected:
    std::string Song(const std::string& relative, const std::string& title, std::uint32_t seed = 0)
    {
        fixtures::WriteSong(tmp / relative, fixtures::SongSpecOf(title, seed));
        return tmp / relative;
    }
    void List(ADirSongDir& songs, const std::string& folder = "Music")
    {
        AString root = tmp.A(folder);
        songs.SetRemovedFilesFolder(tmp.A());
        ASSERT_EQ(songs.InitWPath(&root, 0, nullptr), 0);
    }
    int ImagesIn(const std::string& path)
    {
        ID3 tags;
        EXPECT_EQ(tags.SetFilePath(AString::FromUTF8(path)), 0);
        return tags.GetImageCount();
    }

    fixtures::RecordingFrontend frontend;
    TempDir tmp;
};

} // namespace

TEST_F(LibraryToolsTest, OrphansOnAFolderThatCannotBeReachedOrOfManySongsRemoveNothingUnasked)
{
    for (int i = 0; i < 12; ++i)
        Song("Music/A/Song " + std::to_string(i) + ".mp3", "Song " + std::to_string(i), i);
    ADirSongDir songs;
    List(songs);
    // Most files gone: one question with the counts, and "No" removes nothing.
    for (int i = 0; i < 11; ++i)
        std::filesystem::remove(tmp / ("Music/A/Song " + std::to_string(i) + ".mp3"));
    frontend.questions.Script({"No"});
    EXPECT_EQ(songs.DeleteOrphans(1, 1, 1, nullptr, 1), kErrUserCancel);
    ASSERT_EQ(frontend.questions.Asked().size(), 1u);
    EXPECT_TRUE(frontend.questions.Asked()[0].massDeletion);
    EXPECT_TRUE(Has(frontend.questions.Asked()[0].title, "11 of the 12 songs"));
    EXPECT_EQ(songs.Count(), 12);

    // The whole folder out of reach (an unmounted disk): nothing is even asked.
    std::filesystem::rename(tmp / "Music", tmp / "Elsewhere");
    frontend.Clear();
    EXPECT_EQ(songs.DeleteOrphans(1, 1, 1, nullptr, 1), kErrVolumeNotFound);
    EXPECT_TRUE(frontend.questions.Asked().empty());
    EXPECT_EQ(songs.Count(), 12);
    EXPECT_TRUE(Has(frontend.Log(), "cannot be reached"));
}

TEST_F(LibraryToolsTest, OnlyConfirmedOrphansGo)
{
    Song("Music/A/One.mp3", "One", 1);
    Song("Music/A/Two.mp3", "Two", 2);
    Song("Music/A/Three.mp3", "Three", 3);
    ADirSongDir songs;
    List(songs);
    std::filesystem::remove(tmp / "Music/A/One.mp3");
    std::filesystem::remove(tmp / "Music/A/Two.mp3");
    frontend.questions.Script({"No", "Yes"});
    EXPECT_EQ(songs.DeleteOrphans(1, 1, 1, nullptr, 1), 0);
    EXPECT_EQ(frontend.QuestionTitles(), (std::vector<std::string>{"Delete Orphan?", "Delete Orphan?"}));
    EXPECT_EQ(songs.Count(), 2);
    EXPECT_EQ(songs.GetScanCounts().found, 2);
    EXPECT_EQ(songs.GetScanCounts().changed, 1);
}

TEST_F(LibraryToolsTest, MusicNotOwnedRefusesToRunWithoutAnAccount)
{
    Song("Music/A/Bought.m4p", "Bought");
    ADirSongDir songs;
    songs.SetFileExtentionIncludeFilter(AString(":mp3:m4p:"));
    List(songs);
    EXPECT_EQ(songs.DeleteMusicNotOwned(1, 1, 1, nullptr, 1), kErrUnknown);
    EXPECT_TRUE(frontend.questions.Asked().empty());
    EXPECT_TRUE(Exists(tmp / "Music/A/Bought.m4p"));
    EXPECT_TRUE(Has(frontend.Log(), "No store account"));
}

TEST_F(LibraryToolsTest, DisconnectedFilesOfferDeletionOnlyForFilesThatAreNoSongs)
{
    Song("Music/A/Known.mp3", "Known", 1);
    Song("Loose/New.mp3", "New", 2);
    Song("Loose/Other.flac", "Other", 3);
    WriteFile(tmp / "Loose/Broken.mp3", fixtures::Bytes());
    WriteFile(tmp / "Loose/._New.mp3", fixtures::Bytes(100, 0x00));
    struct Case {
        int addResult;
        int result;
        std::vector<std::string> questions;
        int added; // FLAC files are songs too
    };
    // Only the file that is no song is offered for deletion: a full disk ends the scan, a song
    // already there is left alone, and "._" files are not looked at.
    for (const Case& c :
         {Case{kErrNoSpace, kErrNoSpace, {"A disconnected file"}, 0},
          Case{kErrDuplicate, 0, {"A disconnected file"}, 0}, Case{0, 0, {"A disconnected file"}, 2}}) {
        frontend.Clear();
        frontend.questions.SetDefaultAnswer("No");
        LooseSongs songs;
        songs.musicFolder = tmp.A("Loose");
        songs.addResult = c.addResult;
        List(songs);
        EXPECT_EQ(songs.AddDisconnectedFiles(1, nullptr, 1), c.result) << c.addResult;
        std::vector<std::string> asked;
        for (const auto& question : frontend.questions.Asked()) {
            asked.push_back(question.title.substr(0, 19));
            EXPECT_TRUE(Has(question.informative, "Broken.mp3")) << question.informative;
        }
        EXPECT_EQ(asked, c.questions) << c.addResult;
        EXPECT_EQ(songs.GetScanCounts().changed, c.added) << c.addResult;
        EXPECT_TRUE(Exists(tmp / "Loose/Broken.mp3"));
        EXPECT_TRUE(Exists(tmp / "Loose/._New.mp3"));
        if (c.result == 0) {
            EXPECT_TRUE(Has(frontend.Log(), "1 hidden file skipped")) << frontend.Log();
        }
    }
}

TEST_F(LibraryToolsTest, ALooseFileGoesOnlyWhenADistinctCopyWithTheSameBytesWasMade)
{
    struct Case {
        bool copy; // the source keeps a copy of its own, or (a link) the same file
        bool looseFileStays;
    };
    for (const Case& c : {Case{false, true}, Case{true, false}}) {
        TempDir dir;
        fixtures::WriteSong(dir / "Music/A/Known.mp3", fixtures::SongSpecOf("Known", 1));
        fixtures::WriteSong(dir / "Loose/New.mp3", fixtures::SongSpecOf("New", 2));
        std::filesystem::create_symlink(dir / "Loose", dir / "Link");
        LooseSongs songs;
        // The file named another way (through a link) is the same file, not a copy of it.
        songs.musicFolder = c.copy ? dir.A("Loose") : dir.A("Link");
        if (c.copy)
            songs.copyTo = dir.A("Kept.mp3");
        AString root = dir.A("Music");
        songs.SetRemovedFilesFolder(dir.A());
        ASSERT_EQ(songs.InitWPath(&root, 0, nullptr), 0);
        EXPECT_EQ(songs.AddDisconnectedFiles(1, nullptr, 1), 0);
        EXPECT_EQ(Exists(dir / "Loose/New.mp3"), c.looseFileStays) << c.copy;
        EXPECT_EQ(songs.GetScanCounts().changed, 1);
    }
}

TEST_F(LibraryToolsTest, AlbumArtGoesIntoMp3FilesWithoutAPictureOnlyWhenItIsWithinBounds)
{
    Song("Music/A/Plain.mp3", "Plain", 1);
    fixtures::SongSpec pictured = fixtures::SongSpecOf("Pictured", 2);
    pictured.picture = fixtures::FakeJpeg(2000);
    fixtures::WriteSong(tmp / "Music/A/Pictured.mp3", pictured);
    WriteFile(tmp / "Music/A/cover.jpg", fixtures::FakeJpeg(3000));
    Song("Music/B/Huge.mp3", "Huge", 3);
    // A PNG 9000 pixels wide is not written into any file.
    WriteFile(tmp / "Music/B/Cover.PNG", fixtures::MakePng(9000, 10, fixtures::Rgb{}));
    ADirSongDir songs;
    List(songs);
    frontend.questions.SetDefaultAnswer("Yes to All");
    EXPECT_EQ(songs.AddAlbumArtToFiles(nullptr, 1), 0);
    EXPECT_EQ(ImagesIn(tmp / "Music/A/Plain.mp3"), 1);
    EXPECT_EQ(ImagesIn(tmp / "Music/A/Pictured.mp3"), 1);
    EXPECT_EQ(ImagesIn(tmp / "Music/B/Huge.mp3"), 0);
    EXPECT_EQ(songs.GetScanCounts().changed, 1);
    EXPECT_EQ(songs.GetScanCounts().skipped, 1);
    EXPECT_EQ(frontend.QuestionTitles().size(), 1u);
}

TEST_F(LibraryToolsTest, AToolHoldsTheGroupsLockSoTheGroupIsNeitherSavedNorReadUnderIt)
{
    Song("Music/A/One.mp3", "One", 1);
    ASyncGroup group;
    ASyncLib* sync = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
    AString root = tmp.A("Music");
    sync->SetRootPath1(&root, nullptr, 0);
    const AString state = tmp.A("group.snc");
    WriteFile(state.ToStdString(), fixtures::Bytes{1, 2, 3});
    int writeDuringTool = 0;
    ASyncGroup::Load loadDuringTool = ASyncGroup::Load::kRead;
    EXPECT_EQ(group.RunTool([&](ASync*) {
        writeDuringTool = group.WriteSyncState(&state);
        loadDuringTool = group.LoadSyncState(state, nullptr);
        return 0;
    }),
              0);
    EXPECT_EQ(writeDuringTool, kErrBusy);
    EXPECT_EQ(loadDuringTool, ASyncGroup::Load::kBusy);
    EXPECT_EQ(ReadFile(state.ToStdString()), (fixtures::Bytes{1, 2, 3}));

    LibraryTools::Options options;
    const LibraryTools::Outcome outcome =
        LibraryTools::RunOnGroup(Tool::kDuplicates, Side::kLibrary, group, options, nullptr);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(Has(frontend.Log(), "Duplicate Songs Scan Complete."));
}

TEST_F(LibraryToolsTest, ASettingsFileThatCannotBeReadIsSetAside)
{
    const AString state = tmp.A("POD.snc");
    ASyncGroup group;
    AString notice;
    EXPECT_EQ(group.LoadSyncState(state, &notice), ASyncGroup::Load::kMissing);
    EXPECT_FALSE(Exists(state.ToStdString()));

    // A record of a later version (another mark) and a damaged one alike.
    for (const fixtures::Bytes& bytes : {fixtures::Bytes{9, 0, 0x20, 0}, fixtures::Bytes{1, 0, 0x10, 0, 5}}) {
        WriteFile(state.ToStdString(), bytes);
        std::filesystem::remove(tmp / "POD.snc.bad");
        // A run that changes nothing leaves it where it is.
        EXPECT_EQ(group.LoadSyncState(state, &notice, false), ASyncGroup::Load::kUnreadable);
        EXPECT_EQ(ReadFile(state.ToStdString()), bytes);
        EXPECT_EQ(group.LoadSyncState(state, &notice), ASyncGroup::Load::kSetAside);
        EXPECT_EQ(ReadFile(tmp / "POD.snc.bad"), bytes);
        EXPECT_FALSE(Exists(state.ToStdString()));
        EXPECT_TRUE(Has(notice.ToStdString(), "POD.snc.bad")) << notice.ToStdString();
        EXPECT_EQ(group.NumSyncs(), 0);
    }
}

TEST(LibraryToolsMenu, OnlyWhatCanRunNowIsEnabled)
{
    struct Case {
        bool busy;
        int iPods;
        bool settings, library, iPod;
    };
    for (const Case& c : {Case{true, 1, false, false, false}, Case{false, 0, true, true, false},
                          Case{false, 2, true, true, true}}) {
        const LibraryTools::MenuState state = LibraryTools::MenuEnabling(c.busy, c.iPods);
        EXPECT_EQ(state.settings, c.settings);
        EXPECT_EQ(state.save, c.settings);
        for (const bool* item : {state.addFiles, state.duplicates, state.notOwned, state.disconnected,
                                 state.albumArt, state.orphans}) {
            EXPECT_EQ(item[0], c.library) << c.busy << c.iPods;
            EXPECT_EQ(item[1], c.iPod) << c.busy << c.iPods;
        }
    }
}
