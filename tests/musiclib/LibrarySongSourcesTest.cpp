// The library and an attached iPod as song sources (ADirTunes, ADirPod), reached through the bridge
// and the library's own interpreter: listing, adding, deleting, and the faults a listing or a
// deletion must not fall into.

#include "fixtures/LibraryFixture.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sources/ADirPod.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/tags/ID3.h"
#include "APlatform/HfsPath.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/RecordingFrontend.h"

#include <filesystem>
#include <fstream>

using fixtures::LibraryTest;
namespace fs = std::filesystem;

namespace {

class LibrarySongSources : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        music = dir / "Library/iTunes Music";
    }
    // The list of a source, keys cut off, sorted.
    static std::vector<std::string> Listed(ADir& source)
    {
        std::vector<std::string> out;
        for (int i = 0; i < source.Count(); ++i) {
            const std::string path = source.GetFPath(i)->ToStdString();
            out.push_back(path.substr(0, path.rfind('?')));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    // The full path of the listed song whose path begins with `song`, and its file on disk.
    static AString Full(ADir& source, const std::string& song)
    {
        for (int i = 0; i < source.Count(); ++i)
            if (source.GetFPath(i)->ToStdString().rfind(song, 0) == 0)
                return *source.GetRootPath() + *source.GetFPath(i);
        return AString();
    }
    static AString DiskOf(ADir& source, const std::string& song)
    {
        AString full = Full(source, song), disk;
        source.GetFileDiskPath(&full, &disk, 1);
        return disk;
    }

    fixtures::RecordingFrontend frontend;
    std::string music;
};

} // namespace

TEST_F(LibrarySongSources, TheLibraryIsListedByTags)
{
    const std::string a = Song("Library/iTunes Music/A/B/01 One.mp3", Tags("One", "A", "B", 1));
    const std::string b = Song("elsewhere/two.mp3", Tags("Two", "", "", 2));
    Add(a);
    const std::int64_t idB = Add(b);
    MakePlaylist("12\" Mixes");
    Add(a, "12\" Mixes");
    const AString bPath = AString::FromUTF8(b);
    const std::string bMusic = std::to_string(ID3::CalcMusicSize(&bPath));
    fs::remove(b); // on a drive that is not mounted now

    ADirTunes tunes;
    EXPECT_EQ(tunes.GetPlaylist(), AString("Library"));
    ASSERT_EQ(tunes.PopulateFileList(nullptr), 0);
    ASSERT_EQ(tunes.Count(), 2);
    EXPECT_EQ(Listed(tunes)[0], "/*/" + bMusic + "/*/Two/mp3")
        << "untagged, its file missing: listed by the music size the library stored";
    EXPECT_EQ(Listed(tunes)[1], "/*/A/B/One/mp3");
    EXPECT_EQ(DiskOf(tunes, "/*/A").ToStdString(), a);
    EXPECT_EQ(DiskOf(tunes, "/*/" + bMusic).ToStdString(), b)
        << "the location of a missing file is its stored path";
    EXPECT_EQ(Bridge("Library").GetITunesSongAlbumArtCount(static_cast<std::uint32_t>(idB)), 0);
    AString real;
    tunes.GetRealRootPath(&real);
    EXPECT_EQ(real.ToStdString(), music);

    tunes.DeleteAll();
    AString mixes("12\" Mixes");
    tunes.SetPlaylist(&mixes);
    ASSERT_EQ(tunes.PopulateFileList(nullptr), 0);
    EXPECT_EQ(Listed(tunes), std::vector<std::string>{"/*/A/B/One/mp3"});
    EXPECT_EQ(tunes.GetRootDisplayName(0), AString("Library:12\" Mixes"));
}

TEST_F(LibrarySongSources, AListingFailsOnAFailedScript)
{
    for (int i = 0; i < 3; ++i)
        Add(Song("s" + std::to_string(i) + ".mp3", Tags("S" + std::to_string(i), "A", "B", i)));
    ADirTunes tunes;
    beforeScript = [](const std::string& script) { return script.find(" location of") == std::string::npos; };
    EXPECT_EQ(tunes.PopulateFileList(nullptr), kErrITunesRefused);
    EXPECT_EQ(tunes.Count(), 0);

    // Another process adds a song while the properties are read: the IDs differ, the listing reads
    // again, and every song keeps its own file.
    const std::string late = Song("late.mp3", Tags("Late", "Z", "B", 9));
    bool added = false;
    beforeScript = [&](const std::string& script) {
        if (!added && script.find(" name of") != std::string::npos) {
            added = true;
            ScriptValue ignored;
            std::string why;
            library->RunScript(Tell("add alias \"" + Quote(platform::PosixToHfsPath(late)) + "\""), ignored,
                               why);
        }
        return true;
    };
    tunes.DeleteAll();
    ASSERT_EQ(tunes.PopulateFileList(nullptr), 0);
    ASSERT_EQ(tunes.Count(), 4);
    EXPECT_EQ(DiskOf(tunes, "/*/Z/B/Late").ToStdString(), late);
    EXPECT_EQ(DiskOf(tunes, "/*/A/B/S2").ToStdString(), dir / "s2.mp3");
}

TEST_F(LibrarySongSources, DeletingRemovesOnlyWhatTheLibraryOwns)
{
    const std::string inside = Song("Library/iTunes Music/A/B/In.mp3", Tags("In", "A", "B", 1));
    const std::string outside = Song("outside/Out.mp3", Tags("Out", "A", "B", 2));
    const std::string listed = Song("Library/iTunes Music/A/B/Pl.mp3", Tags("Pl", "A", "B", 3));
    Add(inside);
    Add(outside);
    MakePlaylist("Mix");
    Add(listed, "Mix");
    ADirTunes tunes;
    tunes.SetMoveInsteadOfDelete(0);

    AString mix("Mix");
    tunes.SetPlaylist(&mix);
    ASSERT_EQ(tunes.PopulateFileList(nullptr), 0);
    AString path = Full(tunes, "/*/A/B/Pl");
    EXPECT_EQ(tunes.Delete(&path, 1, 0), 0);
    EXPECT_TRUE(fs::exists(listed)) << "taken out of a playlist, the song stays in the library";

    AString wholeLibrary("Library");
    tunes.SetPlaylist(&wholeLibrary);
    tunes.DeleteAll();
    ASSERT_EQ(tunes.PopulateFileList(nullptr), 0);
    ASSERT_EQ(tunes.Count(), 3);
    path = Full(tunes, "/*/A/B/Out");
    EXPECT_EQ(tunes.Delete(&path, 1, 0), 0);
    EXPECT_TRUE(fs::exists(outside)) << "a file outside the music folder is never deleted";
    path = Full(tunes, "/*/A/B/In");
    EXPECT_EQ(tunes.Delete(&path, 1, 0), 0);
    EXPECT_FALSE(fs::exists(inside));

    // A delete the library refuses leaves the file.
    path = Full(tunes, "/*/A/B/Pl");
    beforeScript = [](const std::string& script) { return script.find(" delete") == std::string::npos; };
    EXPECT_NE(tunes.Delete(&path, 1, 0), 0);
    EXPECT_TRUE(fs::exists(listed));
}

TEST_F(LibrarySongSources, PlacingAFileNeverReplaces)
{
    ADirTunes tunes;
    struct Case {
        const char* artist;
        const char* album;
        const char* folder;
    };
    int seed = 0;
    for (auto [artist, album, folder] : {Case{" .. ", "a/b", "__/a_b"}, Case{"..", ".", "__/_"},
                                         Case{"", "", "Unknown Artist/Unknown Album"}}) {
        ++seed;
        const std::string src = Song("in/" + std::to_string(seed) + ".mp3", Tags("T", artist, album, seed));
        AString source = AString::FromUTF8(src), dest;
        signed char copied = 0;
        ASSERT_EQ(tunes.AddITunesReadyFile(nullptr, &source, &dest, nullptr, &copied, nullptr), 0) << artist;
        EXPECT_EQ(dest.ToStdString(), music + "/" + folder + "/T.mp3");
        EXPECT_EQ(copied, 1);
    }

    // The same file again copies nothing; another song of that name gets the next number, and an
    // existing file is never written over.
    const std::string one = Song("in/x.mp3", Tags("Song", "A", "B", 40));
    const std::string two = Song("in/y.mp3", Tags("Song", "A", "B", 41));
    AString dest;
    signed char copied = 0;
    AString source = AString::FromUTF8(one);
    ASSERT_EQ(tunes.AddITunesReadyFile(nullptr, &source, &dest, nullptr, &copied, nullptr), 0);
    ASSERT_EQ(tunes.AddITunesReadyFile(nullptr, &source, &dest, nullptr, &copied, nullptr), 0);
    EXPECT_EQ(copied, 0);
    fs::copy_file(two, music + "/A/B/Song 1.mp3");
    fixtures::SongSpec longer = Tags("Song", "A", "B", 42);
    longer.seconds = 3;
    const std::string three = Song("in/z.mp3", longer);
    source = AString::FromUTF8(three);
    ASSERT_EQ(tunes.AddITunesReadyFile(nullptr, &source, &dest, nullptr, &copied, nullptr), 0);
    EXPECT_EQ(dest.ToStdString(), music + "/A/B/Song 2.mp3");
    EXPECT_EQ(fs::file_size(music + "/A/B/Song 1.mp3"), fs::file_size(two));

    // A music folder whose parent is missing (a drive not mounted) is not made.
    fs::remove_all(music);
    fs::rename(dir / "Library", dir / "Moved");
    ADirTunes unmounted;
    EXPECT_NE(unmounted.AddITunesReadyFile(nullptr, &source, &dest, nullptr, &copied, nullptr), 0);
    EXPECT_FALSE(fs::exists(dir / "Library"));
}

TEST_F(LibrarySongSources, AnAttachedIPodIsASide)
{
    const std::string root = AttachNewIPod("Pod");
    const std::string prefs = root + "/iPod_Control/iTunes/iTunesPrefs";
    auto prefsBytes = [&] {
        std::ifstream in(prefs, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = prefsBytes();
    ADirPod pod;
    EXPECT_EQ(pod.GetIPodVolName(), AString("POD"));
    EXPECT_EQ(pod.GetPlaylist(), AString("Pod"));
    EXPECT_EQ(prefsBytes(), before) << "choosing an iPod writes nothing to it";
    ASSERT_EQ(pod.Initialize(), 0);

    const std::string song = Song("s.mp3", Tags("One", "A", "B", 1));
    AString path = AString::FromUTF8(song);
    ASSERT_EQ(pod.AddSongFromDisk(&path), 0);
    EXPECT_NE(prefsBytes(), before) << "sending a song marks the iPod";
    EXPECT_EQ(pod.GetLastAddedFile().ToStdString().rfind(root + "/iPod_Control/Music/", 0), 0u);
    ASSERT_EQ(pod.PopulateFileList(nullptr), 0);
    ASSERT_EQ(Listed(pod), std::vector<std::string>{"/*/A/B/One/mp3"});
    const AString file = DiskOf(pod, "/*/A");
    EXPECT_EQ(file, pod.GetLastAddedFile());
    // "Last Sync" holds the song once, and the iPod holds one file.
    EXPECT_EQ(Count("Last Sync", "Pod"), 1);
    EXPECT_EQ(Count("Pod", "Pod"), 1);

    pod.SetMoveInsteadOfDelete(0);
    AString full = Full(pod, "/*/A");
    ASSERT_EQ(pod.Delete(&full, 1, 0), 0);
    EXPECT_EQ(Count("Pod", "Pod"), 0);
    // The file goes once the database that no longer lists it is stored; until then the iPod's
    // journal names it, so a run that stops in between leaves no orphan.
    const std::string journal = root + "/iPod_Control/iTunes/PelorinJournal";
    EXPECT_TRUE(fs::exists(file.ToStdString()));
    EXPECT_TRUE(fs::exists(journal));
    ASSERT_EQ(pod.Finalize(), 0);
    EXPECT_FALSE(fs::exists(file.ToStdString()));
    EXPECT_FALSE(fs::exists(journal));
    IPodDB stored;
    AString at = AString::FromUTF8(root);
    ASSERT_EQ(stored.Load(&at, 1, nullptr, nullptr), 0);
    EXPECT_EQ(stored.GetDatabase()->GetTrackList()->GetTrackCount(), 0);
}

TEST_F(LibrarySongSources, CopiesIntoTheLibraryAreVerifiedAgainstTheFilesTheyMade)
{
    struct VerifyingSync : ASyncLib {
        VerifyingSync() : ASyncLib(ADir::kTypeSongFolder, ADir::kTypeITunes) { verifyCopies = 1; }
    };
    Song("folder/A/B/One.mp3", Tags("One", "A", "B", 1));
    Song("folder/A/B/Two.mp3", Tags("Two", "A", "B", 2));
    VerifyingSync sync;
    AString left = AString::FromUTF8(dir / "folder"), right(ADirTunes::kRootMarker);
    sync.SetRootPath1(&left, nullptr, 0);
    sync.SetRootPath2(&right, nullptr, 0);
    sync.SetAutoAction(ASync::kLeftToRight);
    sync.SetCreateLastPlaylist(0);
    ASSERT_EQ(sync.DoSync(nullptr), 0);
    EXPECT_EQ(sync.GetTally().Errors(), 0);
    EXPECT_EQ(Count("Library"), 2);
    EXPECT_TRUE(fs::exists(music + "/A/B/One.mp3"));
}

TEST_F(LibrarySongSources, ASongTheIPodCannotTakeIsReported)
{
    const std::string root = AttachNewIPod("Pod");
    ADirPod pod;
    struct Case {
        const char* what;
        std::string file;
        std::string says; // in the detail noted for the code returned
    };
    // The music folder is a file: nothing can be copied into it.
    fs::remove_all(root + "/iPod_Control/Music");
    fixtures::WriteFile(root + "/iPod_Control/Music", std::string("not a folder"));
    for (const Case& c : {Case{"music folder a file", Song("s.mp3", Tags("One", "A")), "iPod_Control/Music"},
                          Case{"line break", Song("line\nbreak.mp3", Tags("Two", "B")), "line\nbreak.mp3"}}) {
        AString path = AString::FromUTF8(c.file);
        const int err = pod.AddSongFromDisk(&path);
        EXPECT_NE(err, 0) << c.what;
        EXPECT_NE(err, kErrAddSong) << c.what << ": not a refusal to add";
        const std::string detail = AError::FailureDetail(err).ToStdString();
        EXPECT_NE(detail.find(c.says), std::string::npos) << c.what << ": " << detail;
    }
    EXPECT_NE(frontend.Log().find("line\nbreak.mp3"), std::string::npos) << "the file is named, not the iPod";
}

// One filter on the three kinds of song side: a folder of songs and the library judge a song by its
// virtual path, the iPod's database by the tags it holds; each must keep the same songs, whichever
// way the list was typed.
TEST_F(LibrarySongSources, AFilterKeepsTheSameSongsOnEverySide)
{
    const std::string podRoot = fixtures::MakeIPod(volumes, "POD", {.name = "Pod"});
    ADirPodDB filling;
    AString podPath = AString::FromUTF8(podRoot);
    ASSERT_EQ(filling.InitWPath(&podPath, 0, nullptr), 0);
    int n = 0;
    for (const fixtures::SongSpec& tags :
         {Tags("Thunderstruck", "AC/DC", "Razors Edge", 1), Tags("Waterloo", "ABBA", "Waterloo", 2),
          Tags("Intro: Live/Loud", " Other ", "Tour", 3)}) {
        const std::string file = Song("Songs/" + std::to_string(++n) + ".mp3", tags);
        Add(file);
        AString path = AString::FromUTF8(file);
        ASSERT_EQ(filling.AddSongFromDisk(&path, nullptr, nullptr), 0) << file;
    }
    ASSERT_EQ(filling.Finalize(), 0);

    enum Field { kArtist, kName };
    struct Case {
        const char* row;
        Field field;
        int mode; // 1 include, 2 exclude
        const char* list;
        std::vector<std::string> kept; // artists as listed, sorted
    };
    const std::vector<Case> cases = {
        {"a name with a slash, as typed", kArtist, 1, ":AC/DC:", {"AC_DC"}},
        {"a name with a slash, as a path shows it", kArtist, 1, ":AC_DC:", {"AC_DC"}},
        {"items without the outer colons", kArtist, 1, "AC/DC:ABBA", {"ABBA", "AC_DC"}},
        {"case ignored, excluded", kArtist, 2, ":ac/dc:", {"ABBA", "Other"}},
        {"a tag with spaces around it", kArtist, 1, ":Other:", {"Other"}},
        {"a fragment of a song name with a slash", kName, 1, ":Live/Loud:", {"Other"}},
        {"a fragment excluded", kName, 2, ":Water:", {"AC_DC", "Other"}},
    };
    for (const Case& c : cases) {
        auto filter = [&](ADirSong& side) {
            if (c.field == kArtist) {
                side.SetArtistFilterMode(c.mode);
                (c.mode == 1 ? side.SetArtistIncludeFilter(AString(c.list))
                             : side.SetArtistExcludeFilter(AString(c.list)));
            } else {
                side.SetSongNameFilterMode(c.mode);
                (c.mode == 1 ? side.SetSongNameIncludeFilter(AString(c.list))
                             : side.SetSongNameExcludeFilter(AString(c.list)));
            }
        };
        // The artist of every listed song (the second part of "/Genre/Artist/Album/Name/ext").
        auto artists = [](ADir& side) {
            std::vector<std::string> out;
            for (const std::string& path : Listed(side))
                out.push_back(fs::path(path).parent_path().parent_path().parent_path().filename());
            std::sort(out.begin(), out.end());
            return out;
        };
        ADirSongDir folder;
        filter(folder);
        AString songs = AString::FromUTF8(dir / "Songs");
        ASSERT_EQ(folder.InitWPath(&songs, 0, nullptr), 0);
        ADirTunes tunes;
        filter(tunes);
        ASSERT_EQ(tunes.PopulateFileList(nullptr), 0);
        ADirPodDB pod;
        filter(pod);
        ASSERT_EQ(pod.InitWPath(&podPath, 0, nullptr), 0);
        EXPECT_EQ(artists(folder), c.kept) << c.row << ", a folder of songs";
        EXPECT_EQ(artists(tunes), c.kept) << c.row << ", the library";
        EXPECT_EQ(artists(pod), c.kept) << c.row << ", the iPod's database";
    }
}

// Each side of the library as a sync adds a song to it: through the library and through its iPod.
TEST_F(LibrarySongSources, ASongAddedToEitherSideTakesOneScript)
{
    const std::string root = AttachNewIPod("Pod");
    ADirTunes tunes;
    ADirPod pod;
    struct Case {
        const char* iPod;
        std::function<int(AString*)> add;
    };
    for (const Case& c : {Case{"", [&](AString* path) { return tunes.AddSongFromDisk(path); }},
                          Case{"Pod", [&](AString* path) { return pod.AddSongFromDisk(path); }}}) {
        ASSERT_EQ(*c.iPod ? pod.Initialize() : tunes.Initialize(), 0);
        int scripts = 0;
        beforeScript = [&scripts](const std::string&) { return ++scripts > 0; };
        AString path = AString::FromUTF8(Song(std::string(c.iPod) + "s.mp3", Tags("One", "A", "B", 1)));
        ASSERT_EQ(c.add(&path), 0) << c.iPod;
        EXPECT_EQ(scripts, 1) << c.iPod << ": the add and its place in \"Last Sync\" together";
        beforeScript = nullptr;
        EXPECT_EQ(Count("Last Sync", c.iPod), 1) << c.iPod;
    }
    // The iPod's reply names the song's file there too.
    EXPECT_EQ(pod.GetLastAddedFile().ToStdString().rfind(root + "/iPod_Control/Music/", 0), 0u);
    EXPECT_TRUE(fs::exists(pod.GetLastAddedFile().ToStdString()));
}

TEST_F(LibrarySongSources, ASongAddedToEitherSideStaysWhenLastSyncIsGone)
{
    AttachNewIPod("Pod");
    ADirTunes tunes;
    ADirPod pod;
    ASSERT_EQ(tunes.Initialize(), 0);
    ASSERT_EQ(pod.Initialize(), 0);
    ASSERT_EQ(Bridge("Library").DeletePlaylistITunes(AString("Last Sync")), 0);
    ASSERT_EQ(Bridge("Pod", "Pod").DeletePlaylistIPod(AString("Last Sync")), 0);
    AString first = AString::FromUTF8(Song("one.mp3", Tags("One", "A", "B", 1)));
    AString second = AString::FromUTF8(Song("two.mp3", Tags("Two", "A", "B", 2)));
    EXPECT_EQ(tunes.AddSongFromDisk(&first), kErrLastSyncPlaylist);
    EXPECT_EQ(pod.AddSongFromDisk(&second), kErrLastSyncPlaylist);
    EXPECT_EQ(Count("Library"), 1);
    EXPECT_EQ(Count("Pod", "Pod"), 1);
    EXPECT_TRUE(fs::exists(pod.GetLastAddedFile().ToStdString()));
}
