// The library reads a file it holds again whenever it is no longer the file its track was read from,
// also when the change kept the file's size and second, or its date, or came by a rename; and a
// library kept by an older version is brought up to date in place.

#include "fixtures/LibraryFixture.h"

#include "musiclib/FolderImport.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>

using fixtures::LibraryTest;
namespace fs = std::filesystem;

namespace {

timespec ModifiedAt(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mtim;
}

void SetModified(const std::string& path, timespec when)
{
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Waits until a change made now gets a later change time than the file's last change had: file times
// come from a clock that moves in ticks of a few milliseconds.
void PastTheFilesTick(const std::string& path)
{
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
    timespec now{};
    do {
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (now.tv_sec < info.st_ctim.tv_sec ||
             (now.tv_sec == info.st_ctim.tv_sec && now.tv_nsec <= info.st_ctim.tv_nsec));
}

// The same second, another nanosecond.
timespec WithinTheSecond(timespec when) { return {when.tv_sec, (when.tv_nsec + 1) % 1000000000}; }

} // namespace

class LibraryChangedFiles : public LibraryTest {
protected:
    // The title and the database ID of the track held by `path`; "(no track)" and "0" when none is.
    std::string TitleOf(const std::string& path, const char* column = "name")
    {
        LibraryStore::Query query =
            library->Store().Prepare(std::string("SELECT ") + column + " FROM tracks WHERE location = ?1");
        query.Bind(1, path);
        return query.Step() == SQLITE_ROW ? query.Text(0) : *column == 'n' ? "(no track)" : "0";
    }
    std::string IdOf(const std::string& path) { return TitleOf(path, "id"); }
    int Import(const std::string& folder)
    {
        FolderImport::Summary summary;
        std::string error;
        EXPECT_EQ(FolderImport::Run(*library, folder, "", nullptr, nullptr, summary, error), 0) << error;
        return summary.refreshed;
    }
    // "a.mp3" titled "A" and "b.mp3" titled "B" in `folder`, of the same size and time.
    void TwoSongs(const std::string& folder)
    {
        Song(folder + "/a.mp3", Tags("A", "Artist"));
        Song(folder + "/b.mp3", Tags("B", "Artist"));
        ASSERT_EQ(fs::file_size(dir / (folder + "/a.mp3")), fs::file_size(dir / (folder + "/b.mp3")));
        SetModified(dir / (folder + "/b.mp3"), ModifiedAt(dir / (folder + "/a.mp3")));
    }
};

TEST_F(LibraryChangedFiles, AChangedFileOfUnchangedSizeIsReadAgainWhenImportedOrAdded)
{
    struct Change {
        const char* what;
        // On the songs of TwoSongs, by their paths in the test's folder.
        std::function<void(const std::string& a, const std::string& b)> apply;
        const char* titleOfA;
        const char* titleOfB;
    };
    const Change changes[] = {
        {"retagged within the same second",
         [this](const std::string& a, const std::string&) {
             const timespec before = ModifiedAt(dir / a);
             Song(a, Tags("C", "Artist"));
             SetModified(dir / a, WithinTheSecond(before));
         },
         "C", "B"},
        {"retagged by a tagger that keeps the date",
         [this](const std::string& a, const std::string&) {
             const timespec before = ModifiedAt(dir / a);
             Song(a, Tags("C", "Artist"));
             SetModified(dir / a, before);
         },
         "C", "B"},
        {"replaced by a file of the same size and date",
         [this](const std::string& a, const std::string&) {
             const std::string other = Song("Elsewhere/" + a, Tags("C", "Artist"));
             SetModified(other, ModifiedAt(dir / a));
             fs::rename(other, dir / a);
         },
         "C", "B"},
        {"swapped with another file",
         [this](const std::string& a, const std::string& b) {
             fs::rename(dir / a, dir / (a + ".swap"));
             fs::rename(dir / b, dir / a);
             fs::rename(dir / (a + ".swap"), dir / b);
         },
         "B", "A"},
    };
    int row = 0;
    for (const Change& change : changes) {
        for (const bool import : {true, false}) {
            const std::string folder = "Songs" + std::to_string(row++);
            TwoSongs(folder);
            const std::string a = dir / (folder + "/a.mp3"), b = dir / (folder + "/b.mp3");
            const auto take = [&] {
                if (import)
                    return Import(dir / folder);
                Add(a);
                Add(b);
                return 0;
            };
            take();
            PastTheFilesTick(a);
            PastTheFilesTick(b);
            change.apply(folder + "/a.mp3", folder + "/b.mp3");
            const int refreshed = take();
            const std::string how = std::string(change.what) + (import ? ", import" : ", add");
            EXPECT_EQ(TitleOf(a), change.titleOfA) << how;
            EXPECT_EQ(TitleOf(b), change.titleOfB) << how;
            if (import) {
                EXPECT_EQ(refreshed, change.titleOfB[0] == 'B' ? 1 : 2) << how;
                EXPECT_EQ(Import(dir / folder), 0) << how << ": read again though unchanged";
            }
        }
    }
}

TEST_F(LibraryChangedFiles, AnOlderLibraryOpensWithItsTracksCheckedOnce)
{
    Song("Songs/a.mp3", Tags("A", "Artist"));
    Import(dir / "Songs");
    // The library as an older version made it: no file times finer than seconds.
    library.reset();
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "Library/Library.sqlite").c_str(), &database), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(database,
                           "ALTER TABLE tracks DROP COLUMN file_time_ns; "
                           "ALTER TABLE tracks DROP COLUMN change_time_ns",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(database);
    sqlite3_close(database);
    const timespec before = ModifiedAt(dir / "Songs/a.mp3");
    Song("Songs/a.mp3", Tags("C", "Artist"));
    SetModified(dir / "Songs/a.mp3", WithinTheSecond(before));

    Reopen();
    LibraryStore::Query version = library->Store().Prepare("PRAGMA user_version");
    ASSERT_EQ(version.Step(), SQLITE_ROW);
    EXPECT_EQ(version.Integer(0), LibraryStore::kSchemaVersion) << "an older version refuses a newer one";
    EXPECT_EQ(Import(dir / "Songs"), 1);
    EXPECT_EQ(TitleOf(dir / "Songs/a.mp3"), "C");
}

TEST_F(LibraryChangedFiles, AnImportOfAFolderReadsAgainItsFilesTheLibraryHoldsByLinks)
{
    Song("Songs/a.mp3", Tags("A", "Artist"));
    fs::create_directories(dir / "Links");
    fs::create_symlink(dir / "Songs/a.mp3", dir / "Links/a.mp3");
    Add(dir / "Links/a.mp3");
    Song("Songs/a.mp3", Tags("Changed", "Artist"));
    EXPECT_EQ(Import(dir / "Songs"), 1);
    EXPECT_EQ(TitleOf(dir / "Links/a.mp3"), "Changed");
}

TEST_F(LibraryChangedFiles, ALinkLedToAnotherFileNoLongerHoldsTheFirst)
{
    Song("Songs/a.mp3", Tags("A", "Artist"));
    Song("Songs/b.mp3", Tags("Bee", "Artist"));
    fs::create_directories(dir / "Links");
    fs::create_symlink(dir / "Songs/a.mp3", dir / "Links/x.mp3");
    Import(dir / "Links");
    fs::remove(dir / "Links/x.mp3");
    fs::create_symlink(dir / "Songs/b.mp3", dir / "Links/x.mp3");
    Import(dir / "Links");
    EXPECT_EQ(TitleOf(dir / "Links/x.mp3"), "Bee");
    // "a.mp3" is no longer the link's file: an import of its folder adds it.
    Import(dir / "Songs");
    EXPECT_EQ(TitleOf(dir / "Songs/a.mp3"), "A");
}

TEST_F(LibraryChangedFiles, AFileHeldThroughALinkThatIsGoneIsHeldByItsOwnPathOnceTakenAgain)
{
    for (const bool import : {true, false}) {
        const std::string folder = import ? "Imported" : "Added";
        const std::string file = Song(folder + "/a.mp3", Tags(folder, "Artist"));
        const std::string link = dir / (folder + "Links/a.mp3");
        fs::create_directories(dir / (folder + "Links"));
        fs::create_symlink(file, link);
        Add(link);
        fs::remove(link);
        if (import)
            Import(dir / folder);
        else
            Add(file);
        EXPECT_EQ(TitleOf(file), folder);
        EXPECT_EQ(TitleOf(link), "(no track)") << folder;
    }
    EXPECT_EQ(Count("Library"), 2);
}

TEST_F(LibraryChangedFiles, ARenamedFileKeepsItsTrackOnceImportedOrAddedAgain)
{
    for (const bool import : {true, false}) {
        const std::string folder = import ? "Imported" : "Added";
        const std::string before = Song(folder + "/a.mp3", Tags(folder, "Artist"));
        const std::string after = dir / (folder + "/Renamed/01 " + folder + ".mp3");
        import ? Import(dir / folder) : Add(before);
        const std::string id = IdOf(before);
        ASSERT_NE(id, "0") << folder;
        fs::create_directories(dir / (folder + "/Renamed"));
        fs::rename(before, after);
        import ? Import(dir / folder) : Add(after);
        EXPECT_EQ(IdOf(after), id) << folder;
        EXPECT_EQ(IdOf(before), "0") << folder;
    }
    EXPECT_EQ(Count("Library"), 2);
}
