#include "fixtures/LibraryFixture.h"

#include "musiclib/FolderImport.h"
#include "musiclib/LibraryFiles.h"
#include "musiclib/TrackArtwork.h"

#include "ACommon/base/AError.h"

#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using fixtures::LibraryTest;
using platform::ScriptDescriptor;

TEST_F(LibraryTest, AddingAFileTheLibraryHoldsGivesItsTrack)
{
    const std::string song = Song("a/Song.mp3", Tags("Song", "A"));
    const std::int64_t first = Add(song);
    EXPECT_GT(first, 0);
    EXPECT_EQ(Add(song), first);
    EXPECT_EQ(Add(dir / "a/../a/Song.mp3"), first) << "the same file by another spelling of its path";
    std::filesystem::create_symlink(dir / "a", dir / "link");
    EXPECT_EQ(Add(dir / "link/Song.mp3"), first) << "the same file through a link";
    MakePlaylist("Mix");
    EXPECT_EQ(Add(song, "Mix"), first);
    EXPECT_EQ(Add(song, "Mix"), first);
    EXPECT_EQ(Count("Library"), 1);
    EXPECT_EQ(Count("Mix"), 1) << "put in a playlist once";
}

TEST_F(LibraryTest, ListsKeepThePlaylistsOrder)
{
    MakePlaylist("Mix");
    std::vector<std::int64_t> ids;
    for (const char* title : {"C", "A", "B", "D"})
        ids.push_back(Add(Song(std::string(title) + ".mp3", Tags(title, title)), "Mix"));
    // Out of the playlist and back in: it goes to the end of the playlist, not of the library.
    EXPECT_EQ(Delete(ids[1], "Mix"), 0);
    Add(dir / "A.mp3", "Mix");
    EXPECT_EQ(Property("name", "Mix"), (std::vector<std::string>{"C", "B", "D", "A"}));
    EXPECT_EQ(Property("artist", "Mix"), (std::vector<std::string>{"C", "B", "D", "A"}));
    EXPECT_EQ(Property("name", "Library"), (std::vector<std::string>{"C", "A", "B", "D"}));
    const ScriptDescriptor firstId = Must(Tell("get database ID of track 1 of playlist \"Mix\""));
    EXPECT_EQ(firstId.Int64Value(), ids[0]);
    EXPECT_EQ(Must(Tell("get name of last track of playlist \"Mix\"")).StringValue(), "A");
    EXPECT_EQ(Must(Tell("get name of track -2 of playlist \"Mix\"")).StringValue(), "D");
    EXPECT_EQ(Must(Tell("get name of track \"b\" of playlist \"Mix\"")).StringValue(), "B");
    EXPECT_EQ(
        Must(Tell("count of (every track of playlist \"Mix\" whose artist = \"c\" and name is not \"x\")"))
            .Int32Value(),
        1);
}

TEST_F(LibraryTest, DeletingNeverTakesAFile)
{
    MakePlaylist("One");
    MakePlaylist("Two");
    const std::string file = Song("s.mp3", Tags("S"));
    const std::int64_t id = Add(file, "One");
    Add(file, "Two");
    const std::int64_t other = Add(Song("t.mp3", Tags("T")), "One");

    EXPECT_EQ(Delete(id, "One"), 0);
    EXPECT_EQ(Count("One"), 1);
    EXPECT_EQ(Count("Two"), 1);
    EXPECT_EQ(Count("Library"), 2);

    EXPECT_EQ(Delete(id, "Library"), 0);
    EXPECT_EQ(Count("Two"), 0) << "gone from every playlist";
    EXPECT_EQ(Count("Library"), 1);
    EXPECT_TRUE(std::filesystem::exists(file));

    // A database ID is never given to another track.
    const std::int64_t again = Add(file);
    EXPECT_NE(again, id);
    EXPECT_GT(again, other);

    // Whole playlists: the tracks stay; the library and special playlists cannot be deleted.
    Must(Tell("delete playlist \"One\""));
    EXPECT_EQ(Count("Library"), 2);
    for (const char* fixed : {"Library", "Music", "Purchased"}) {
        EXPECT_NE(Bridge("").DeletePlaylistITunes(AString(fixed)), 0) << fixed;
        EXPECT_FALSE(Run(Tell(std::string("set name of playlist \"") + fixed + "\" to \"X\""))) << fixed;
    }
    EXPECT_NE(Delete(other, "Music"), 0) << "a special playlist keeps its tracks";
    EXPECT_EQ(Must(Tell("delete every track of playlist \"Two\"")).GetKind(),
              ScriptDescriptor::Kind::Nothing);
    EXPECT_EQ(Count("Library"), 2);
}

TEST_F(LibraryTest, PlaylistNamesAreUnique)
{
    MakePlaylist("Caf\xC3\xA9");
    std::string error;
    for (const std::string& name : std::vector<std::string>{"Library", "library", "MUSIC", "cafe\xCC\x81",
                                                            "CAF\xC3\x89", "a\nb", "tab\there", ""}) {
        EXPECT_FALSE(Run(
            Tell("set p to make playlist of source \"Library\"\n set name of p to \"" + name + "\""), &error))
            << name;
        EXPECT_FALSE(error.empty());
    }
    // A name that fails leaves no "untitled playlist" behind: the script changed nothing.
    const std::vector<std::string> names = Playlists();
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.find("untitled") == 0; }),
              0);
    // The decomposed spelling finds the composed name, which stays as it was given.
    EXPECT_EQ(Must(Tell("get name of playlist \"cafe\xCC\x81\"")).StringValue(), "Caf\xC3\xA9");
    EXPECT_EQ(Must(Tell("make new playlist with properties {name:\"Other\"}")).GetKind(),
              ScriptDescriptor::Kind::String);
    Must(Tell("set name of playlist \"other\" to \"OTHER\""));
    EXPECT_EQ(Must(Tell("get name of playlist \"Other\"")).StringValue(), "OTHER")
        << "renamed to a change of case";
}

TEST_F(LibraryTest, AScriptThatFailsChangesNothing)
{
    const std::string file = Song("s.mp3", Tags("S"));
    const std::int64_t id = Add(file);
    MakePlaylist("Keep");
    Add(file, "Keep");
    std::string error;
    for (const std::string& body : std::vector<std::string>{
             // Fails at its last statement, after changes.
             std::string("set p to make new playlist with properties {name:\"New\"}\n add alias \"Root") +
                 file.substr(0, file.rfind('/')) + ":nothing.mp3\" to p",
             "delete playlist \"Keep\"\n delete (first track of playlist \"Library\" whose database ID = " +
                 std::to_string(id) + ")\n get name of playlist \"Missing\"",
             "delete every track of playlist \"Keep\"\n get colour of track 1",
             // Does not parse after a statement that would change the library.
             "delete playlist \"Keep\"\n delete delete",
         }) {
        EXPECT_FALSE(Run(Tell(body), &error)) << body;
        EXPECT_EQ(Playlists().back(), "Keep") << body;
        EXPECT_EQ(Count("Keep"), 1) << body;
        EXPECT_EQ(Count("Library"), 1) << body;
    }
}

TEST_F(LibraryTest, SpecialPlaylistsListTheTracksOfTheirKind)
{
    Add(Song("song.mp3", Tags("Song")));
    Add(Song("book.m4b", Tags("Book")));
    Add(Song("film.m4v", Tags("Film")));
    struct Case {
        const char* playlist;
        std::vector<std::string> names;
    };
    for (const Case& c :
         {Case{"Music", {"Song"}}, Case{"Audiobooks", {"Book"}}, Case{"Movies", {"Film"}},
          Case{"Podcasts", {}}, Case{"Purchased", {}}, Case{"Library", {"Song", "Book", "Film"}}})
        EXPECT_EQ(Property("name", c.playlist), c.names) << c.playlist;
}

TEST_F(LibraryTest, TwoProcessesAddingAtOnceBothSucceed)
{
    constexpr int kPerProcess = 30;
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kPerProcess; ++i)
            Song("p" + std::to_string(p) + "/" + std::to_string(i) + ".mp3",
                 Tags("S" + std::to_string(i), "P" + std::to_string(p)));
    library.reset();
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // One library per process, as the window and a terminal command have.
            std::string error;
            if (MusicLibrary::Open(dir / "Library", false, library, error) != 0)
                _exit(10);
            for (int i = 0; i < kPerProcess; ++i)
                if (Add(dir / ("p" + std::to_string(p) + "/" + std::to_string(i) + ".mp3")) <= 0)
                    _exit(20 + i);
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    Reopen();
    EXPECT_EQ(Count("Library"), 2 * kPerProcess);
}

TEST_F(LibraryTest, ImportAddsEverySongUnderAFolderOnce)
{
    Song("Music/A/1.mp3", Tags("One"));
    Song("Music/A/B/2.m4a", Tags("Two"));
    Song("Music/A/B/3.flac", Tags("Three"));
    Song("Music/.hidden/3.mp3", Tags("Hidden"));
    Song("Music/.4.mp3", Tags("Hidden too"));
    fixtures::WriteFile(dir / "Music/bad.mp3", std::string());
    fixtures::WriteFile(dir / "Music/notes.txt", std::string("x"));
    MakePlaylist("Imported");

    FolderImport::Summary summary;
    std::string error;
    std::vector<int> seen;
    ASSERT_EQ(FolderImport::Run(
                  *library, dir / "Music", "Imported",
                  [&](int done, int, const std::string&) { seen.push_back(done); }, nullptr, summary, error),
              0)
        << error;
    EXPECT_EQ(summary.added, 3);
    EXPECT_EQ(summary.present, 0);
    EXPECT_EQ(summary.hidden, 2);
    EXPECT_EQ(summary.unreadable, 1);
    ASSERT_EQ(summary.problems.size(), 1u);
    EXPECT_NE(summary.problems[0].find("bad.mp3"), std::string::npos);
    EXPECT_EQ(summary.other, 1);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(Property("name", "Imported"), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(Property("kind", "Imported")[2], "FLAC audio file");

    // Again, with one new song: only that one is added.
    Song("Music/C/5.mp3", Tags("Five"));
    ASSERT_EQ(FolderImport::Run(*library, dir / "Music", "Imported", nullptr, nullptr, summary, error), 0);
    EXPECT_EQ(summary.added, 1);
    EXPECT_EQ(summary.present, 3);
    EXPECT_EQ(Count("Library"), 4);

    EXPECT_NE(
        FolderImport::Run(*library, dir / "Music", "No Such Playlist", nullptr, nullptr, summary, error), 0);
    EXPECT_NE(FolderImport::Run(*library, dir / "Nowhere", "", nullptr, nullptr, summary, error), 0);
}

TEST_F(LibraryTest, ArtworksAreEmbeddedPicturesThenTheFolderImageWithinTheLimits)
{
    const fixtures::Bytes embedded = fixtures::FakeJpeg(2000, 1);
    const std::int64_t id = Add(Song("Album/1.mp3", Tags("One", "", "", 0, embedded)));
    EXPECT_EQ(Bridge("Library").GetITunesSongAlbumArtCount(id), 1);

    // A PNG header that says 9000 pixels wide is never handed on; a small one is, after the embedded.
    auto png = [](std::uint32_t width, std::uint32_t height) {
        fixtures::Bytes bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                                 0,    0,   0,   13,  'I',  'H',  'D',  'R'};
        for (std::uint32_t value : {width, height})
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes.push_back(static_cast<std::uint8_t>(value >> shift));
        for (std::uint8_t b : {8, 2, 0, 0, 0, 0, 0, 0, 0})
            bytes.push_back(b);
        return bytes;
    };
    fixtures::WriteFile(dir / "Album/Cover.PNG", png(9000, 10));
    EXPECT_EQ(Bridge("Library").GetITunesSongAlbumArtCount(id), 1);
    fixtures::WriteFile(dir / "Album/folder.png", png(8000, 8000));
    EXPECT_EQ(Bridge("Library").GetITunesSongAlbumArtCount(id), 1) << "cover comes first, and is refused";
    std::filesystem::remove(dir / "Album/Cover.PNG");
    EXPECT_EQ(Bridge("Library").GetITunesSongAlbumArtCount(id), 2);
    // Read by script: the bridge would convert the PNG, and this one is a header only.
    auto art = [&](int n) {
        return Must(Tell("data of (artwork " + std::to_string(n) +
                         " of (artworks of (first track of playlist " +
                         "\"Library\" whose database ID = " + std::to_string(id) + ")))"))
            .DataValue();
    };
    EXPECT_EQ(art(2), png(8000, 8000));
    EXPECT_EQ(art(1), embedded);

    fixtures::Bytes huge = fixtures::FakeJpeg(TrackArtwork::kMaxPictureBytes + 1, 2);
    EXPECT_EQ(TrackArtwork::Inspect(huge), "");
    huge.resize(TrackArtwork::kMaxPictureBytes);
    EXPECT_EQ(TrackArtwork::Inspect(huge), "JPEG");
    EXPECT_EQ(TrackArtwork::Inspect({'G', 'I', 'F', '8'}), "");
}

TEST_F(LibraryTest, TheXmlFollowsTheLibraryWhenItMoves)
{
    EXPECT_EQ(LibraryFiles::ReadMusicFolderUrl(library->GetXmlPath()),
              "file://localhost" + dir.Path() + "/Library/iTunes%20Music/");
    EXPECT_EQ(LibraryFiles::FolderUrl("/a b/\xC3\xA9%#?/"), "file://localhost/a%20b/%C3%A9%25%23%3F/");
    library.reset();
    std::filesystem::rename(dir / "Library", dir / "Moved Library");
    std::string error;
    ASSERT_EQ(MusicLibrary::Open(dir / "Moved Library", false, library, error), 0) << error;
    EXPECT_EQ(LibraryFiles::ReadMusicFolderUrl(library->GetXmlPath()),
              "file://localhost" + dir.Path() + "/Moved%20Library/iTunes%20Music/");
    // No library is made where the folder's parent is missing (a drive that is not mounted).
    std::unique_ptr<MusicLibrary> other;
    EXPECT_NE(MusicLibrary::Open(dir / "Unmounted/Music/iTunes", true, other, error), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "Unmounted"));
    EXPECT_NE(MusicLibrary::Open(dir / "Elsewhere", false, other, error), 0)
        << "not made without being asked";
}

TEST_F(LibraryTest, TheStoreAccountIsKeptInThePreferencesOrSaysNoneIsSet)
{
    EXPECT_EQ(library->GetAccount(), "");
    std::string error;
    ASSERT_EQ(library->SetAccount("j\xC3\xBCrgen@example.com", error), 0) << error;
    EXPECT_EQ(library->GetAccount(), "j\xC3\xBCrgen@example.com");
    EXPECT_NE(library->SetAccount("no at sign", error), 0);
    EXPECT_NE(library->SetAccount("a@b\nc", error), 0);
    EXPECT_EQ(library->GetAccount(), "j\xC3\xBCrgen@example.com");
    ASSERT_EQ(library->SetAccount("", error), 0);
    EXPECT_EQ(library->GetAccount(), "");

    // The layout read back by the way its reader finds it; damaged data gives no account.
    const std::vector<std::uint8_t> data = LibraryFiles::EncodeAccount("me@x.org");
    EXPECT_EQ(LibraryFiles::DecodeAccount(data), "me@x.org");
    for (std::size_t cut = 0; cut < data.size(); ++cut) {
        const std::string decoded = LibraryFiles::DecodeAccount({data.begin(), data.begin() + cut});
        EXPECT_TRUE(decoded.empty() || decoded == "me@x.org") << cut;
    }
    std::vector<std::uint8_t> lying = data;
    lying[8] = 0xFF; // a length that runs past the data
    EXPECT_EQ(LibraryFiles::DecodeAccount(lying), "");
}

TEST_F(LibraryTest, APlayedCountThatGrowsRecordsThePlaysAtThePlayedDate)
{
    const std::int64_t id = Add(Song("Song.mp3", Tags("Song", "A")));
    const std::string track =
        " of first track of playlist \"Library\" whose database ID = " + std::to_string(id);
    Must(Tell("set played date" + track + " to 1800000000\n set played count" + track + " to 3"));
    Must(Tell("set played count" + track + " to 2")); // lowered by hand: no plays
    Must(Tell("set played date" + track + " to 1800000100\n set played count" + track + " to 4"));
    EXPECT_EQ(Must(Tell("get played count" + track)).Int64Value(), 4);
    LibraryStore::Query plays =
        library->Store().Prepare("SELECT count, played_date FROM plays WHERE track_id = ?1 ORDER BY id");
    plays.Bind(1, id);
    std::vector<std::pair<std::int64_t, std::int64_t>> rows;
    while (plays.Step() == SQLITE_ROW)
        rows.push_back({plays.Integer(0), plays.Integer(1)});
    EXPECT_EQ(rows, (std::vector<std::pair<std::int64_t, std::int64_t>>{{3, 1800000000}, {2, 1800000100}}));
}

TEST_F(LibraryTest, AListeningValueOutOfRangeFailsTheWholeScript)
{
    const std::int64_t id = Add(Song("Song.mp3", Tags("Song", "A")));
    const std::string track =
        " of first track of playlist \"Library\" whose database ID = " + std::to_string(id);
    for (const char* statement :
         {"set rating%s to 101", "set played count%s to -1", "set skipped count%s to \"x\"",
          "set rating%s to 60\n set played count%s to -1"}) {
        std::string script = statement;
        for (std::size_t at; (at = script.find("%s")) != std::string::npos;)
            script.replace(at, 2, track);
        EXPECT_FALSE(Run(Tell(script))) << statement;
    }
    EXPECT_EQ(Must(Tell("get rating" + track)).Int64Value(), 0);
}

// The library's XML file, found as it should be, is left as it is; what a run killed while writing
// it left beside it goes.
TEST(LibraryFiles, TheTemporaryFileOfAStoppedWriteOfTheXmlGoes)
{
    fixtures::TempDir dir;
    const std::string xml = dir / "iTunes Music Library.xml";
    const std::string left = dir / ".iTunes Music Library.xml.pelorin-999999999-1.tmp";
    std::string error;
    ASSERT_EQ(LibraryFiles::WriteLibraryXml(xml, dir / "Music", error), 0) << error;
    fixtures::WriteFile(left, "cut short");
    ASSERT_EQ(LibraryFiles::WriteLibraryXml(xml, dir / "Music", error), 0) << error;
    EXPECT_FALSE(fixtures::Exists(left));
}
