#include "ACommon/sources/ADir.h"

#include "ACommon/base/AError.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadText;
using fixtures::TempDir;
using fixtures::WriteFile;
using Files = std::vector<std::string>;

namespace {

Files Entries(ADir& dir)
{
    Files entries;
    for (int i = 0; i < dir.Count(); ++i)
        entries.push_back(dir.GetFPath(i)->ToStdString());
    return entries;
}

Files Sorted(Files entries)
{
    std::sort(entries.begin(), entries.end());
    return entries;
}

// An MP3 file with a title: the move into "Removed Files" reads each file's tags first.
void WriteMp3(const std::string& path, const std::string& title)
{
    fixtures::SongSpec song;
    song.title = title;
    fixtures::WriteSong(path, song);
}

// A plain folder source over the folder "root" of a temporary folder.
struct Folder {
    int List(signed char fullPaths = 0, CancelProc cancel = nullptr)
    {
        AString root = tmp.A("root");
        return dir.InitWPath(&root, fullPaths, cancel);
    }
    int Delete(const std::string& relative, signed char keepFile = 0)
    {
        AString root = tmp.A("root"), path = tmp.A("root/" + relative);
        dir.SetRootPath(&root);
        return dir.Delete(&path, 1, keepFile);
    }
    TempDir tmp;
    ADir dir;
};

} // namespace

// ---- Filters ----

TEST(ADir, FiltersMatchAsTheirKindAsks)
{
    ADir dir;
    dir.SetTypeFilter(3);
    dir.SetFileExtentionIncludeFilter(AString(":mp3:m4a:"));
    dir.SetTypeExcludeFilter(AString(":m4a:"));
    dir.SetPathExcludeFilter(AString(":Podcasts:"));
    dir.SetPathIncludeFilter(AString(":Music:Books:"));
    struct Case {
        int pathMode;
        const char* path;
        bool typePasses, pathPasses;
    };
    const Case cases[] = {{2, "a.m4a", false, true},         {2, "Song.MP3", true, true},
                          {2, "a.wav", false, true},         {2, "Song", false, true},
                          {2, "dir.mp3/a.wav", false, true}, {2, "Podcasts/x.mp3", true, false},
                          {2, "Music/x.mp3", true, true},    {2, "podcasts/x.mp3", true, true},
                          {1, "Books/y", false, true},       {1, "Other/z", false, false}};
    for (const Case& c : cases) {
        dir.SetPathFilterMode(c.pathMode);
        AString p(c.path);
        EXPECT_EQ(dir.TypeFilterCheck(&p), c.typePasses) << c.path;
        EXPECT_EQ(dir.PathFilterCheck(&p), c.pathPasses) << c.path;
    }
}

TEST(ADir, ATypeIsCheckedAgainAfterItsFiltersChange)
{
    ADir dir;
    dir.SetTypeFilter(3);
    dir.SetFileExtentionIncludeFilter(AString(":mp3:m4a:"));
    dir.SetTypeExcludeFilter(AString(":m4a:"));
    AString song("b.m4a");
    EXPECT_FALSE(dir.TypeFilterCheck(&song));
    dir.SetTypeExcludeFilter(AString(":wav:"));
    EXPECT_TRUE(dir.TypeFilterCheck(&song));
    dir.SetFileExtentionIncludeFilter(AString(":mp3:"));
    EXPECT_FALSE(dir.TypeFilterCheck(&song));
    dir.SetTypeFilter(2);
    EXPECT_TRUE(dir.TypeFilterCheck(&song));
    ADir copy;
    copy.CopyProperties(&dir);
    copy.SetTypeFilter(1);
    EXPECT_FALSE(copy.TypeFilterCheck(&song));
}
// ---- Listing ----

TEST(ADir, ListsEverythingBelowTheRootFoldersFirst)
{
    Folder folder;
    WriteFile(folder.tmp / "root/a.mp3", "a");
    fixtures::SetModTime(folder.tmp / "root/a.mp3", 1000000000);
    WriteFile(folder.tmp / "root/.hidden", "h");
    WriteFile(folder.tmp / "root/Album/b.mp3", "b");
    WriteFile(folder.tmp / "root/Album/Disc 2/c.m4a", "c");
    std::filesystem::create_directories(folder.tmp / "root/Empty");
    ASSERT_EQ(folder.List(), 0);
    const Files entries = Entries(folder.dir);
    EXPECT_EQ(Sorted(entries), (Files{".hidden", "Album", "Album/Disc 2", "Album/Disc 2/c.m4a", "Album/b.mp3",
                                      "Empty", "a.mp3"}));
    // A folder is listed before anything inside it, so creating it can precede copying into it.
    auto position = [&](const std::string& entry) {
        return std::find(entries.begin(), entries.end(), entry);
    };
    EXPECT_LT(position("Album"), position("Album/b.mp3"));
    EXPECT_LT(position("Album/Disc 2"), position("Album/Disc 2/c.m4a"));
    AString full = folder.tmp.A("root/a.mp3");
    EXPECT_EQ(folder.dir.GetFileModTime(&full), 1000000000ULL + AFile::kFileTimeOffset);
    ASSERT_EQ(folder.List(1), 0);
    EXPECT_EQ(Entries(folder.dir).size(), 7u);
    EXPECT_EQ(Entries(folder.dir)[0].rfind(folder.tmp / "root/", 0), 0u) << "full paths";
    // What the filters let through.
    folder.dir.SetTypeFilter(1);
    folder.dir.SetFileExtentionIncludeFilter(AString(":mp3:"));
    folder.dir.SetPathFilterMode(2);
    folder.dir.SetPathExcludeFilter(AString(":Disc 2:"));
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(Sorted(Entries(folder.dir)), (Files{"Album", "Album/b.mp3", "Empty", "a.mp3"}));
}

// A link to a file is listed with the file's time and size, so that a run after the one that copied
// it (as the file: AFileCopy's test) finds the two alike.
TEST(ADir, OnlyFilesFoldersOrLinksToFilesAreListed)
{
    Folder folder;
    fixtures::RecordingFrontend frontend;
    WriteFile(folder.tmp / "song.mp3", "music");
    fixtures::SetModTime(folder.tmp / "song.mp3", 1000000000);
    WriteFile(folder.tmp / "elsewhere/inside.mp3", "x");
    std::filesystem::create_directories(folder.tmp / "root");
    ASSERT_EQ(symlink((folder.tmp / "song.mp3").c_str(), (folder.tmp / "root/link.mp3").c_str()), 0);
    ASSERT_EQ(symlink((folder.tmp / "elsewhere").c_str(), (folder.tmp / "root/folder").c_str()), 0);
    ASSERT_EQ(symlink((folder.tmp / "missing").c_str(), (folder.tmp / "root/broken").c_str()), 0);
    ASSERT_EQ(mkfifo((folder.tmp / "root/pipe").c_str(), 0600), 0);
    // Temporary files of this program: one of a run still going (this one), one of a run long gone.
    WriteFile(folder.tmp / ("root/.a.mp3.pelorin-" + std::to_string(getpid()) + "-1.tmp"), "half");
    WriteFile(folder.tmp / "root/.b.mp3.pelorin-999999999-1.tmp", "half");
    WriteFile(folder.tmp / "root/.c.pelorin-notes.tmp", "a user's file");
    WriteFile(folder.tmp / "root/bad\xff.mp3", "not UTF-8");
    ASSERT_EQ(folder.List(), 0);
    const Files entries = Entries(folder.dir);
    ASSERT_EQ(Sorted(entries), (Files{".c.pelorin-notes.tmp", "link.mp3"}));
    const std::string log = frontend.Log();
    EXPECT_EQ(log.find("Skipped 3"), log.rfind("Skipped 3")) << "said once: " << log;
    EXPECT_NE(log.find("Skipped 3 items in " + folder.tmp / "root/"), std::string::npos) << log;
    EXPECT_NE(log.find("Skipped a name that is not valid UTF-8 in " + folder.tmp / "root"),
              std::string::npos);
    // Only the one whose process is gone is removed, and only when asked.
    EXPECT_EQ(folder.dir.RemoveStaleTemporaries(), 1);
    EXPECT_TRUE(Exists(folder.tmp / ("root/.a.mp3.pelorin-" + std::to_string(getpid()) + "-1.tmp")));
    EXPECT_FALSE(Exists(folder.tmp / "root/.b.mp3.pelorin-999999999-1.tmp"));
    const int index =
        static_cast<int>(std::find(entries.begin(), entries.end(), "link.mp3") - entries.begin());
    ADir::ListedFile listed;
    ASSERT_TRUE(folder.dir.GetListedFile(index, &listed));
    EXPECT_FALSE(listed.isDir);
    EXPECT_EQ(listed.size, 5u);
    EXPECT_EQ(listed.modTime, 1000000000ULL + AFile::kFileTimeOffset);
}

TEST(ADir, SortedListPutsAFolderBeforeItsContentsIgnoringCase)
{
    Folder folder;
    for (const char* file : {"a/x", "a.txt", "B.txt", "b c/y", "a b", "A/Z", "\xC3\xA9t\xC3\xA9/1"})
        WriteFile(folder.tmp / ("root/" + std::string(file)), "x");
    ASSERT_EQ(folder.List(), 0);
    folder.dir.Sort(1);
    // "A" and "a" are equal without case; each folder comes right before what sorts after it.
    const Files entries = Entries(folder.dir);
    EXPECT_EQ(entries.size(), 11u);
    for (size_t i = 1; i < entries.size(); ++i)
        EXPECT_LE(AString::FromUTF8(entries[i - 1]).CompareNoCase(AString::FromUTF8(entries[i])), 0)
            << entries[i - 1] << " before " << entries[i];
    auto position = [&](const std::string& entry) {
        return std::find(entries.begin(), entries.end(), entry);
    };
    EXPECT_LT(position("a b"), position("a.txt"));
    EXPECT_LT(position("a.txt"), position("a/x"));
    EXPECT_LT(position("b c/y"), position("B.txt"));
    folder.dir.Sort(0);
    EXPECT_EQ(Entries(folder.dir).front(), "\xC3\xA9t\xC3\xA9/1");
}

// A list with a hole would read as deleted files to a sync, so a folder that cannot be read, the
// root or one below it, gives an error and no list at all.
TEST(ADir, AFolderThatCannotBeReadFailsTheWholeListing)
{
    Folder folder;
    WriteFile(folder.tmp / "root/a.mp3", "a");
    ASSERT_EQ(folder.List(), 0);
    AString missing = folder.tmp.A("nowhere");
    EXPECT_EQ(folder.dir.InitWPath(&missing, 0, nullptr), kErrOpen);
    EXPECT_EQ(folder.dir.Count(), 0);
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not keep root out of a folder";
    ASSERT_EQ(folder.List(), 0);
    WriteFile(folder.tmp / "root/Locked/b.mp3", "b");
    chmod((folder.tmp / "root/Locked").c_str(), 0);
    EXPECT_EQ(folder.List(), kErrOpen);
    EXPECT_EQ(folder.dir.Count(), 0);
    chmod((folder.tmp / "root/Locked").c_str(), 0755);
}

TEST(ADir, CancelStopsTheListingWithWhatWasFound)
{
    Folder folder;
    for (int i = 0; i < 5; ++i)
        WriteFile(folder.tmp / ("root/f" + std::to_string(i)), "x");
    static int calls;
    calls = 0;
    EXPECT_EQ(folder.List(0, [] { return static_cast<signed char>(++calls >= 2); }), kErrUserCancel);
    EXPECT_EQ(folder.dir.Count(), 2);
}

// ---- Deleting ----
// Keeping a file and deleting it outright are checked through the song folder source.

// A deleted file goes into "Removed Files" beside the root, or below the chosen folder: a name
// taken there gains tildes, a four-letter upper-case name (as files put on an iPod get) becomes the
// title made safe, a file whose tags cannot be read keeps its name, an empty folder goes, and a file
// that is not there is an error that makes no folder.
TEST(ADir, DeleteMovesIntoRemovedFiles)
{
    Folder folder;
    EXPECT_EQ(folder.Delete("gone.mp3"), kErrFileNotFound);
    EXPECT_FALSE(Exists(folder.tmp / "Removed Files"));
    for (const char* title : {"first", "second", "third"}) {
        WriteMp3(folder.tmp / "root/Album/Song.mp3", title);
        ASSERT_EQ(folder.Delete("Album/Song.mp3"), 0) << title;
    }
    WriteFile(folder.tmp / "root/README", "r1");
    WriteFile(folder.tmp / "Removed Files/README", "r0");
    for (const char* name : {"abcd.mp3", "ABCDE.mp3", "AbCD.mp3", "ABCD.mp3"})
        WriteMp3(folder.tmp / ("root/" + std::string(name)), "My Song: Live");
    WriteFile(folder.tmp / "root/empty.mp3", std::string());
    WriteFile(folder.tmp / "root/WXYZ.mp3", std::string());
    std::filesystem::create_directories(folder.tmp / "root/Empty");
    WriteFile(folder.tmp / "root/Full/a.mp3", "a");
    for (const char* name : {"README", "abcd.mp3", "ABCDE.mp3", "AbCD.mp3", "ABCD.mp3", "empty.mp3",
                             "WXYZ.mp3", "Empty", "Full"})
        ASSERT_EQ(folder.Delete(name), 0) << name;
    const std::string removed = folder.tmp / "Removed Files/";
    EXPECT_EQ(ListFiles(removed),
              (Files{"ABCDE.mp3", "AbCD.mp3", "Full/a.mp3", "My Song_ Live.mp3", "README", "README~",
                     "Song.mp3", "Song~.mp3", "Song~~.mp3", "WXYZ.mp3", "abcd.mp3", "empty.mp3"}));
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(removed + "Song~~.mp3")), 0);
    AString title;
    tags.GetName(title);
    EXPECT_EQ(title, "third");
    EXPECT_EQ(ReadText(removed + "README~"), "r1");
    // The folder the files came from stays, empty.
    EXPECT_TRUE(std::filesystem::is_directory(folder.tmp / "root/Album"));
    EXPECT_FALSE(Exists(folder.tmp / "root/Empty"));
    EXPECT_EQ(ListFiles(folder.tmp / "root"), Files{});

    WriteMp3(folder.tmp / "root/a.mp3", "a");
    folder.dir.SetRemovedFilesFolder(folder.tmp.A("elsewhere/deep"));
    ASSERT_EQ(folder.Delete("a.mp3"), 0);
    EXPECT_EQ(ListFiles(folder.tmp / "elsewhere"), Files{"deep/Removed Files/a.mp3"});
}

TEST(ADir, DeleteEntryLeavesNoTraceOfTheFile)
{
    Folder folder;
    WriteFile(folder.tmp / "root/a.mp3", "a");
    WriteFile(folder.tmp / "root/b.mp3", "b");
    folder.dir.SetMoveInsteadOfDelete(0);
    ASSERT_EQ(folder.List(), 0);
    folder.dir.Sort(1);
    EXPECT_EQ(folder.dir.DeleteEntry(0, 1, 0), 0);
    EXPECT_EQ(Entries(folder.dir), Files{"b.mp3"});
    EXPECT_EQ(ListFiles(folder.tmp.Path()), Files{"root/b.mp3"});
    EXPECT_EQ(folder.dir.DeleteEntry(0, 0, 0), 0);
    EXPECT_EQ(folder.dir.Count(), 0);
    EXPECT_EQ(ListFiles(folder.tmp.Path()), Files{"root/b.mp3"});
}

// ---- Settings and the state record ----

TEST(ADir, CopyPropertiesCopiesTheSavedSettings)
{
    TempDir tmp;
    ADir from, to;
    from.SetTypeFilter(3);
    from.SetFileExtentionIncludeFilter(AString(":mp3:"));
    from.SetTypeExcludeFilter(AString(":wav:"));
    from.SetPathFilterMode(2);
    from.SetPathIncludeFilter(AString(":A:"));
    from.SetPathExcludeFilter(AString(":B:"));
    from.SetDetectOnly(1);
    from.SetStopOnError(0);
    from.SetMoveInsteadOfDelete(0);
    auto state = [&tmp](ADir& dir) {
        return fixtures::BytesWrittenBy(tmp / "state", [&dir](AFile* f) { return dir.WriteState(f); });
    };
    EXPECT_EQ(to.CopyProperties(&from), 0);
    EXPECT_EQ(state(to), state(from));
}
