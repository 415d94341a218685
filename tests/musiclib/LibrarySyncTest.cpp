// Syncs of the library with an iPod, in the test's process, by either route (through the library
// that serves the iPod, or through the iPod's own database): which songs count as the same song on
// both sides (files that are missing, tags of white space, playlists, names too long for a file
// system), and what was listened to on the iPod coming back into the library at the start of a sync:
// plays and skips added once, the later last-played date, the iPod's rating by the rule, the
// On-The-Go playlists in their order; each iPod song's plays go to the library song of its name,
// artist, album and duration, else to none. A dry run brings nothing back, and a run that cannot
// bring the plays back syncs nothing.

#include "fixtures/LibraryFixture.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/IPodArtwork.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/SyncSession.h"
#include "fixtures/FolderPair.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/Pictures.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"
#include "musiclib/LibraryScriptRunner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using fixtures::Has;
using fixtures::itdb::PlayCount;

using fixtures::kCopyToRight, fixtures::kMirrorToRight, fixtures::kMerge, fixtures::kSynchronize;
// The library (or the folder of songs) receives.
constexpr fixtures::SyncType kCopyToLeft{"copy-from-ipod", ASync::kRightToLeft, 0};
constexpr fixtures::SyncType kMirrorToLeft{"make-library-equal", ASync::kRightToLeft, 1};

constexpr std::uint32_t kPlayedAt = 3880000000u;                // Mac time: 2026-12-13T09:46:40Z
constexpr std::int64_t kPlayedAtUnix = 3880000000 - 2082844800; // the same moment in Unix time

class LibrarySync : public fixtures::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        runner = std::make_unique<LibraryScriptRunner>(dir / "Library");
        platform::SetScriptRunner(runner.get());
        frontend.questions.SetDefaultAnswer("Yes"); // as --yes --allow-mass-deletion
    }
    void TearDown() override
    {
        platform::SetScriptRunner(nullptr);
        runner.reset();
        LibraryTest::TearDown();
    }
    // An iPod called `name` (and of `options`), served by the library when `attached`.
    void MakeIPod(const std::string& name = "Pod", bool attached = true, fixtures::IPodOptions options = {})
    {
        options.name = name;
        root = fixtures::MakeIPod(volumes, "POD", options);
        std::string error;
        if (attached) {
            ASSERT_EQ(library->AttachIPod("POD", error), 0) << error;
        }
    }
    // The library holds `titles`, which an iPod called `name` (served by the library when
    // `attached`) receives; `order` is then the iPod's titles in the order of its records.
    void CopyOnto(const std::vector<std::string>& titles, const std::string& name = "Pod",
                  bool attached = true)
    {
        for (std::size_t i = 0; i < titles.size(); ++i)
            Add(Song(titles[i] + ".mp3", Tags(titles[i], "Artist", "Album", static_cast<std::uint32_t>(i))));
        MakeIPod(name, attached);
        ASSERT_EQ(Sync(), 0) << said;
        IPodDB db;
        AString at = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&at, 1, nullptr, nullptr), 0);
        order.resize(static_cast<std::size_t>(db.GetTrackCount()));
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& t) {
            order.at(static_cast<std::size_t>(t.GetReadIndex())) = t.GetName().ToStdString();
        });
    }
    // A sync of `type` of the library (its `playlist`; or the songs of `folder`) with the iPod
    // (`dryRun`: planned only); what the run said, then its closing line and the reason it failed, is in
    // `said`.
    int Sync(const fixtures::SyncType& type = kCopyToRight, bool dryRun = false,
             const std::string& folder = "", const std::string& playlist = "")
    {
        MountedIPod pod;
        EXPECT_TRUE(MountedIPod::Read(AString::FromUTF8(root), &pod));
        const auto access = SyncSession::AccessOf(pod.name, folder.empty());
        SyncSession session;
        AError::ClearFailure();
        int result =
            session.OpenIPod(folder.empty() ? ADir::kTypeITunes : ADir::kTypeSongFolder,
                             folder.empty() ? AString(ADirTunes::kRootMarker) : AString::FromUTF8(folder),
                             pod, SyncSession::IPodStatePath(pod.name, access), access);
        AString summary;
        if (result == 0) {
            if (folder.empty())
                session.SetPlaylists(AString::FromUTF8(playlist), AString());
            SyncSession::Settings settings;
            settings.autoAction = type.autoAction;
            settings.destDeletes = type.destDeletes != 0;
            settings.dryRun = dryRun;
            settings.moveInsteadOfDelete = false;
            session.Apply(settings);
            const SyncSession::Outcome outcome = session.Run(nullptr, nullptr);
            EXPECT_EQ(runner->Flush(), 0);
            result = outcome.result;
            summary = outcome.summary;
        }
        said.clear();
        for (const SyncSession::Notice& notice : session.TakeNotices())
            said += notice.text.ToStdString() + "\n";
        said += summary.ToStdString() + "\n" + AError::FailureDetail(result).ToStdString();
        return result;
    }
    // Runs a script through the runner that holds the iPod's source, which writes it back.
    platform::ScriptDescriptor Served(const std::string& script)
    {
        std::string error;
        std::optional<platform::ScriptDescriptor> reply = runner->Run(script, &error);
        EXPECT_TRUE(reply) << error << "\nin\n" << script;
        EXPECT_EQ(runner->Flush(), 0);
        return reply.value_or(platform::ScriptDescriptor());
    }
    // The library no longer serves the iPod.
    void Detach()
    {
        platform::SetScriptRunner(nullptr);
        runner.reset();
        std::string error;
        ASSERT_EQ(library->DetachIPod("POD", error), 0) << error;
        runner = std::make_unique<LibraryScriptRunner>(dir / "Library");
        platform::SetScriptRunner(runner.get());
    }
    // What the iPod recorded: `counts` for its tracks in the order of `order`, and an On-The-Go
    // playlist of the tracks at `onTheGo`.
    void Listen(const std::vector<PlayCount>& counts, const std::vector<std::uint32_t>& onTheGo = {})
    {
        fixtures::WriteFile(root + "/iPod_Control/iTunes/Play Counts",
                            fixtures::itdb::PlayCounts(0x1C, counts));
        if (!onTheGo.empty())
            fixtures::WriteFile(root + "/iPod_Control/iTunes/OTGPlaylistInfo",
                                fixtures::itdb::OnTheGo(4, onTheGo));
    }
    // A property of the library's tracks called `title`, in the library's order.
    std::vector<std::int64_t> Get(const std::string& property, const std::string& title)
    {
        const platform::ScriptDescriptor reply =
            Must(Tell(property + " of (every track in playlist \"Library\" whose name = \"" + title + "\")"));
        std::vector<std::int64_t> values;
        for (const platform::ScriptDescriptor& item : reply.Items())
            values.push_back(item.Int64Value());
        return values;
    }
    using Values = std::vector<std::int64_t>;

    std::int64_t Count(const std::string& playlist = "Library") { return LibraryTest::Count(playlist); }
    std::vector<std::string> IPodTitles() { return fixtures::IPodTitles(root); }

    std::unique_ptr<LibraryScriptRunner> runner;
    fixtures::RecordingFrontend frontend;
    std::string root, said;
    std::vector<std::string> order;
};

class LibraryMatch : public LibrarySync {
protected:
    // Songs of `titles` by "Artist" on "Album" in Drive/, added to the library; `copied`: then
    // copied onto the iPod, served by the library.
    void Import(const std::vector<std::string>& titles, bool copied = true)
    {
        for (std::size_t i = 0; i < titles.size(); ++i)
            Add(Song("Drive/" + std::to_string(i) + ".mp3",
                     Tags(titles[i], "Artist", "Album", static_cast<std::uint32_t>(i + 1))));
        MakeIPod();
        if (copied) {
            ASSERT_EQ(Sync(), 0) << said;
            ASSERT_TRUE(Has(said, "Copied " + std::to_string(titles.size()) + " song")) << said;
        }
    }
};

TEST_F(LibraryMatch, ASongWhoseFileIsMissingIsNeverDeletedNorReplaced)
{
    // One song with tags, one without any (it matches by its name and the size of its music).
    fixtures::SongSpec bare;
    bare.title = "Bare";
    bare.seed = 2;
    bare.seconds = 1;
    bare.bitRate = 32;
    const std::vector<std::string> files = {Song("Drive/tagged.mp3", fixtures::SongSpecOf("Tagged", 1)),
                                            Song("Drive/bare.mp3", bare)};
    for (const std::string& file : files)
        Add(file);
    MakeIPod();
    ASSERT_EQ(Sync(), 0);
    ASSERT_TRUE(Has(said, "Copied 2 songs")) << said;
    for (const std::string& file : files)
        fs::remove(file);
    for (const fixtures::SyncType& type : {kMirrorToRight, kMirrorToLeft, kSynchronize}) {
        SCOPED_TRACE(type.name);
        EXPECT_EQ(Sync(type), 0) << said;
        EXPECT_TRUE(Has(said, "Copied 0 songs; removed 0; 0 errors.")) << said;
        EXPECT_EQ(IPodTitles(), (std::vector<std::string>{"Bare", "Tagged"}));
        EXPECT_EQ(Count(), 2);
    }
}

TEST_F(LibraryMatch, ALibraryWhoseDriveIsNotMountedStopsBeforeAnyAction)
{
    for (int i = 0; i < 6; ++i) {
        fixtures::SongSpec song = fixtures::SongSpecOf(
            "Song " + std::to_string(i), static_cast<std::uint32_t>(10 + i), 0, i % 2 ? "Artist" : "");
        song.album.clear();
        Add(Song("Drive/" + std::to_string(i) + ".mp3", song));
    }
    MakeIPod();
    ASSERT_EQ(Sync(), 0);
    ASSERT_TRUE(Has(said, "Copied 6 songs")) << said;
    const std::vector<std::string> onIPod = IPodTitles();
    fs::rename(dir / "Drive", dir / "Elsewhere");
    for (const fixtures::SyncType& type : {kMirrorToRight, kMirrorToLeft, kSynchronize, kCopyToRight}) {
        SCOPED_TRACE(type.name);
        EXPECT_NE(Sync(type), 0);
        EXPECT_TRUE(Has(said, "seems not to be mounted")) << said;
        EXPECT_EQ(IPodTitles(), onIPod);
        EXPECT_EQ(Count(), 6);
    }
}

TEST_F(LibraryMatch, FilesDeletedFromAFolderThatIsStillThereDoNotStopTheSync)
{
    Import({"One", "Two", "Three", "Four", "Five", "Six"});
    const std::vector<std::string> onIPod = IPodTitles();
    for (int i = 0; i < 5; ++i)
        fs::remove(dir / ("Drive/" + std::to_string(i) + ".mp3"));
    for (const fixtures::SyncType& type : {kMirrorToRight, kSynchronize}) {
        SCOPED_TRACE(type.name);
        EXPECT_EQ(Sync(type), 0) << said;
        EXPECT_FALSE(Has(said, "seems not to be mounted")) << said;
        EXPECT_TRUE(Has(said, "Copied 0 songs; removed 0; 0 errors.")) << said;
        EXPECT_EQ(IPodTitles(), onIPod);
        EXPECT_EQ(Count(), 6);
    }
    // The last one gone too leaves the folder empty, as the folder of a drive that is not mounted.
    fs::remove(dir / "Drive/5.mp3");
    EXPECT_NE(Sync(kMirrorToRight), 0);
    EXPECT_TRUE(Has(said, "seems not to be mounted")) << said;
    EXPECT_EQ(IPodTitles(), onIPod);
}

TEST_F(LibraryMatch, TagsOfWhiteSpaceOnlyMatchTheTrimmedTagsOfTheIPod)
{
    Add(Song("Drive/a.mp3", Tags("   ", "Artist", "Album", 1)));
    Add(Song("Drive/b.mp3", Tags("Title", "Artist", "  ", 2)));
    Add(Song("Drive/c.mp3", Tags(" Padded ", " Artist ", "\tAlbum ", 3)));
    MakeIPod();
    // Through the library, and from the folder through the iPod's own database.
    for (const std::string& folder : {std::string(), dir / "Drive"}) {
        SCOPED_TRACE(folder.empty() ? "library" : "folder");
        EXPECT_EQ(Sync(kCopyToRight, false, folder), 0);
        EXPECT_TRUE(Has(said, "0 errors.")) << said;
        for (const fixtures::SyncType& type : {kCopyToRight, kMerge, kSynchronize}) {
            EXPECT_EQ(Sync(type, false, folder), 0) << type.name;
            EXPECT_TRUE(Has(said, "Copied 0 songs; removed 0; 0 errors.")) << type.name << "\n" << said;
        }
    }
    EXPECT_EQ(Count(), 3);
    EXPECT_EQ(IPodTitles().size(), 3u);
}

TEST_F(LibraryMatch, CopyingIntoALibraryPlaylistTakesTheTrackTheLibraryHolds)
{
    Import({"One", "Two"});
    MakePlaylist("Road");
    for (const fixtures::SyncType& type : {kCopyToLeft, kSynchronize}) {
        SCOPED_TRACE(type.name);
        EXPECT_EQ(Sync(type, false, "", "Road"), 0) << said;
        if (type.name == kCopyToLeft.name) {
            EXPECT_TRUE(Has(said, "Copied 0 songs; put 2 songs the library held already into its playlist; "
                                  "removed 0; 0 errors."))
                << said;
        }
        EXPECT_EQ(Count(), 2) << "no second track of a song the library holds";
        EXPECT_EQ(Count("Road"), 2);
        EXPECT_FALSE(fs::exists(dir / "Library/iTunes Music/Artist")) << "no file copied";
    }
}

TEST_F(LibraryMatch, APlaylistNamedAroundLastSyncIsLeftAlone)
{
    Import({"One"}, false);
    MakePlaylist("Not Last Sync");
    Served(Tell(
        "set myPlayList to make playlist of source \"Pod\"\n set name of myPlayList to \"Not Last Sync\""));
    for (const fixtures::SyncType& type : {kCopyToRight, kCopyToLeft}) {
        EXPECT_EQ(Sync(type), 0) << type.name << said;
        EXPECT_TRUE(Has(said, "0 errors.")) << type.name << said;
    }
    const std::vector<std::string> playlists = Playlists();
    EXPECT_EQ(std::count(playlists.begin(), playlists.end(), "Last Sync"), 1);
    EXPECT_EQ(Count("Not Last Sync"), 0);
    const std::vector<std::string> onIPod = Playlists("Pod");
    EXPECT_EQ(std::count(onIPod.begin(), onIPod.end(), "Not Last Sync"), 1);
}

TEST_F(LibraryMatch, ARetaggedFileIsCopiedAsItIsNow)
{
    Song("Drive/a.mp3", Tags("Old Title", "Artist", "Album", 1));
    Import({}, false);
    Add(dir / "Drive/a.mp3");
    Song("Drive/a.mp3", Tags("New Title, longer", "Artist", "Album", 1));
    ASSERT_EQ(Sync(), 0);
    EXPECT_TRUE(Has(said, "Copied 1 song")) << said;
    ASSERT_EQ(Sync(), 0);
    EXPECT_TRUE(Has(said, "Copied 0 songs;")) << said;
    EXPECT_EQ(IPodTitles(), std::vector<std::string>{"New Title, longer"});
}

TEST_F(LibraryMatch, NamesLongerThanAFileSystemTakesAreShortenedByBytes)
{
    std::string longText;
    for (int i = 0; i < 90; ++i)
        longText += "\xE8\xAA\x9E"; // 90 characters of 3 bytes: 270 bytes
    Import({longText});
    Must(Tell("delete (every track of playlist \"Library\")"));
    // Back into the library's music folder, and into a folder of songs through the iPod's database.
    fs::create_directories(dir / "Folder");
    for (const std::string& folder : {std::string(), dir / "Folder"}) {
        EXPECT_EQ(Sync(kCopyToLeft, false, folder), 0) << said;
        EXPECT_TRUE(Has(said, "Copied 1 song")) << folder << "\n" << said;
        int songs = 0;
        for (const auto& entry :
             fs::recursive_directory_iterator(folder.empty() ? dir / "Library/iTunes Music" : folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_LE(name.size(), 255u) << name;
            if (entry.is_regular_file() && name.ends_with(".mp3")) {
                ++songs;
                EXPECT_EQ(name.rfind("\xE8\xAA\x9E"), name.size() - 7) << "cut on a character: " << name;
            }
        }
        EXPECT_EQ(songs, 1) << folder;
    }
}

// Once both sides hold the same songs, a sync of any type by either route leaves every file on the
// iPod as it was (its bytes and its time); so does a run whose playlist the library lacks.
TEST_F(LibraryMatch, ASyncWithNothingToDoLeavesEveryFileOnTheIPodUntouched)
{
    Import({"One", "Two"});
    const auto files = [this] {
        std::map<std::string, std::pair<fixtures::Bytes, fs::file_time_type>> all;
        for (const std::string& file : fixtures::ListFiles(root))
            all[file] = {fixtures::ReadFile(root + "/" + file), fs::last_write_time(root + "/" + file)};
        return all;
    };
    const auto before = files();
    EXPECT_NE(Sync(kCopyToRight, false, "", "No Such"), 0);
    EXPECT_TRUE(files() == before);
    for (const std::string& folder : {std::string(), dir / "Drive"})
        for (const fixtures::SyncType& type :
             {kCopyToRight, kMirrorToRight, kCopyToLeft, kMerge, kSynchronize, kMirrorToLeft}) {
            EXPECT_EQ(Sync(type, false, folder), 0) << type.name << " " << folder << "\n" << said;
            EXPECT_TRUE(files() == before) << type.name << " " << folder;
        }
}

// A song that can never be synced delays only itself: the saved lists of a two-way sync through the
// iPod's own database take in what every other action did, so a deletion made after such a run is
// carried over by the next one instead of being undone.
TEST_F(LibraryMatch, ADeletionAfterARunWithASongThatAlwaysFailsIsCarriedOver)
{
    MakeIPod("Pod", false);
    // X is on the iPod only; its artist's folder in the song folder is taken by a file, so copying
    // it into the folder fails on every run.
    Song("other/X.mp3", fixtures::SongSpecOf("X", 0, 0, "Zed"));
    ASSERT_EQ(Sync(kCopyToRight, false, dir / "other"), 0) << said;
    Song("Songs/A.mp3", fixtures::SongSpecOf("A"));
    fixtures::WriteFile(dir / "Songs/Zed", std::string("not a folder"));
    EXPECT_NE(Sync(kSynchronize, false, dir / "Songs"), 0);
    ASSERT_EQ(IPodTitles(), (std::vector<std::string>{"A", "X"}));
    fs::remove(dir / "Songs/A.mp3");
    EXPECT_NE(Sync(kSynchronize, false, dir / "Songs"), 0);
    EXPECT_EQ(IPodTitles(), std::vector<std::string>{"X"});
    for (const std::string& file : fixtures::ListFiles(dir / "Songs"))
        EXPECT_EQ(file.find("A.mp3"), std::string::npos) << file << " came back";
}

// What the library route gives an iPod beside its songs: covers, and the signature of its database.
class LibraryRoute : public LibrarySync {};

TEST_F(LibraryRoute, TheIPodsSongsGetTheirCovers)
{
    for (int i = 0; i < 2; ++i)
        Add(Song(std::to_string(i) + ".mp3", Tags(i ? "Two" : "One", "Artist", i ? "Second" : "First", 0,
                                                  fixtures::MakeGradientPng(80, 80, i))));
    MakeIPod();
    ASSERT_EQ(Sync(kMirrorToRight), 0) << said;
    ArtworkDB art;
    ASSERT_EQ(art.Parse(fixtures::ReadFile(root + "/iPod_Control/Artwork/ArtworkDB")), 0);
    std::set<std::uint32_t> ids;
    for (const ArtworkDB::Image& image : art.Images())
        ids.insert(image.id);
    EXPECT_EQ(ids.size(), 2u);
    IPodDB db;
    AString at = AString::FromUTF8(root);
    ASSERT_EQ(db.Load(&at, 1, nullptr, nullptr), 0);
    int tracks = 0;
    db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
        ++tracks;
        EXPECT_TRUE(ids.count(track.GetField(IPodArtwork::kOffsetImageLink)))
            << track.GetName().ToStdString();
    });
    EXPECT_EQ(tracks, 2);
}

TEST_F(LibraryRoute, AClassicsDatabaseIsSignedWithItsGuid)
{
    Add(Song("One.mp3", Tags("One", "Artist", "Album")));
    MakeIPod("Pod", true, {.modelNumStr = "MC293"});
    IPodSigning::Guid guid{};
    ASSERT_TRUE(IPodSigning::ParseGuid(AString("000A2700138A0000"), &guid));
    // The second run finds nothing to do and leaves the signature good.
    for (const char* expected : {"Copied 1 song", "Copied 0 songs"}) {
        EXPECT_EQ(Sync(), 0) << said;
        EXPECT_TRUE(Has(said, expected)) << said;
        EXPECT_TRUE(IPodSigning::HasHash58(fixtures::ReadFile(fixtures::DatabasePath(root)), guid));
    }
}

TEST_F(LibraryRoute, AClassicWithoutItsGuidIsRefusedBeforeAnythingChanges)
{
    Add(Song("One.mp3", Tags("One", "Artist", "Album")));
    MakeIPod("Pod", true, {.modelNumStr = "MC293", .firewireGuid = ""});
    const auto files = fixtures::ListFiles(root);
    const auto database = fixtures::ReadFile(fixtures::DatabasePath(root));
    EXPECT_NE(Sync(), 0);
    EXPECT_TRUE(Has(said, "needs its FireWire GUID")) << said;
    EXPECT_TRUE(Has(said, "Nothing was changed.")) << said;
    EXPECT_EQ(fixtures::ListFiles(root), files);
    EXPECT_EQ(fixtures::ReadFile(fixtures::DatabasePath(root)), database);
}

class PlaysBack : public LibrarySync {};

TEST_F(PlaysBack, ListeningComesBackOnceByEitherRoute)
{
    CopyOnto({"One", "Two", "Three"});
    // Through the library, then through the iPod's database: the second adds to the first.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "through the library" : "through the iPod's database");
        if (round == 2)
            Detach();
        Listen({{3, kPlayedAt, 0, 0, 0, 0}, {0, 0, 0, 20u * (3u + round), 0, 0}, {0, 0, 0, 0, 2, kPlayedAt}});
        ASSERT_EQ(Sync(), 0) << said;
        EXPECT_TRUE(Has(said, "Brought back 3 plays and 1 rating from Pod")) << said;
        ASSERT_EQ(Sync(), 0);
        EXPECT_FALSE(Has(said, "Brought back")) << said;
        EXPECT_EQ(Get("played count", order[0]), Values{3 * round});
        EXPECT_EQ(Get("played date", order[0]), Values{kPlayedAtUnix});
        EXPECT_EQ(Get("rating", order[1]), Values{20 * (3 + round)});
        EXPECT_EQ(Get("skipped count", order[2]), Values{2 * round});
    }
}

TEST_F(PlaysBack, OnTheGoPlaylistsComeBackWithTheirSongsInOrder)
{
    CopyOnto({"One", "Two", "Three"}, "Pod\nTwo");
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &today);
    // A second one of the same day takes the next number; an iPod named on two lines gives a name
    // the library takes on one.
    for (const auto& [number, places] : {std::pair<int, std::vector<std::uint32_t>>{1, {2, 0}}, {2, {1}}}) {
        Listen({{}, {}, {}}, places);
        ASSERT_EQ(Sync(), 0) << said;
        std::vector<std::string> expected;
        for (std::uint32_t place : places)
            expected.push_back(order[place]);
        const std::string name = "On-The-Go " + std::to_string(number) + " (Pod Two, " + date + ")";
        EXPECT_EQ(Property("name", name), expected) << name;
    }
}

TEST_F(PlaysBack, TheLibrarysRatingStaysWhenItChangedSinceTheLastSyncToo)
{
    CopyOnto({"One", "Two"});
    Must(Tell("set rating of first track of playlist \"Library\" whose name = \"" + order[1] + "\" to 40"));
    Listen({{3, kPlayedAt, 0, 0, 0, 0}, {0, 0, 0, 80, 0, 0}});
    ASSERT_EQ(Sync(), 0) << said;
    EXPECT_EQ(Get("rating", order[1]), Values{40});
    EXPECT_TRUE(Has(said, "Brought back 3 plays and 0 ratings from Pod")) << said;
    EXPECT_TRUE(Has(said, "The library's rating of \"" + order[1] + "\" is kept")) << said;
}

TEST_F(PlaysBack, ADryRunBringsNothingBack)
{
    CopyOnto({"One"});
    Listen({{3, kPlayedAt, 0, 0, 0, 0}});
    ASSERT_EQ(Sync(kCopyToRight, true), 0) << said;
    EXPECT_TRUE(fixtures::Exists(root + "/iPod_Control/iTunes/Play Counts"));
    EXPECT_EQ(Get("played count", "One"), Values{0});
}

// The iPod's songs of 10 s came from a folder; the library holds songs of their name, artist and
// album: the one of the iPod song's duration takes its plays, and of two alike neither does.
TEST_F(PlaysBack, PlaysGoToTheLibrarySongOfTheIPodSongsDuration)
{
    MakeIPod("Pod", false);
    for (const char* title : {"Apart", "Alike"})
        for (const auto& [folder, seconds] :
             {std::pair<std::string, int>{"Short/", 10}, {"Long/", 20}, {"Copy/", 10}}) {
            fixtures::SongSpec song = Tags(title, "Artist", "Album");
            song.seconds = seconds;
            Song(folder + title + ".mp3", song);
        }
    ASSERT_EQ(Sync(kCopyToRight, false, dir / "Short"), 0) << said;
    for (const char* file : {"Long/Apart.mp3", "Short/Apart.mp3", "Short/Alike.mp3", "Copy/Alike.mp3"})
        Add(dir / file);
    Listen({{3, kPlayedAt, 0, 0, 0, 0}, {3, kPlayedAt, 0, 0, 0, 0}});
    ASSERT_EQ(Sync(), 0) << said;
    EXPECT_TRUE(Has(said, "Brought back 3 plays and 0 ratings from Pod; 1 song not found in the library"))
        << said;
    EXPECT_EQ(Get("played count", "Apart"), (Values{0, 3}));
    EXPECT_EQ(Get("played count", "Alike"), (Values{0, 0}));
}

TEST_F(PlaysBack, ARunThatCannotBringThePlaysBackLeavesThemOnTheIPod)
{
    CopyOnto({"One"});
    Listen({{3, kPlayedAt, 0, 0, 0, 0}});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "Library/Library.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE plays_brought_back", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_NE(Sync(), 0);
    EXPECT_TRUE(Has(said, "Nothing was synced, so that those plays are not lost")) << said;
    EXPECT_TRUE(fixtures::Exists(root + "/iPod_Control/iTunes/Play Counts"));
    EXPECT_EQ(Get("played count", "One"), Values{0});
}

} // namespace
