// `pelorin scan duplicates`: the report, the removal with its answers, and the exit statuses.

#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fixtures::ListFiles;
using fixtures::RunPelorin;
using Files = std::vector<std::string>;

namespace {

using fixtures::Has;

// A folder "Music" holding one song twice (the copy with a copy number) and another song once.
class Library {
public:
    Library()
    {
        Put("Song.mp3", "Song", 0);
        Put("Song 1.mp3", "Song", 1);
        Put("Other.mp3", "Other", 2);
    }
    void Put(const std::string& name, const std::string& title, std::uint32_t seed)
    {
        fixtures::WriteSong(Music(name), fixtures::SongSpecOf(title, seed));
        fixtures::SetModTime(Music(name), 1000000000);
    }
    std::string Music(const std::string& relative = "") const { return tmp / ("Music/" + relative); }
    fixtures::CommandResult Run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"scan", "duplicates", tmp / "Music"});
        return RunPelorin(args, "", {"XDG_DATA_HOME=" + tmp / "data", "HOME=" + tmp / "home"});
    }

    fixtures::TempDir tmp;
};

} // namespace

TEST(ScanCommand, WithoutDeleteItChangesNothing)
{
    Library library;
    fixtures::CommandResult result = library.Run({});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(
        Has(result.err, "Detected Dup: /Rock/Artist/Album/Song/mp3 from " + library.Music("Song 1.mp3")))
        << result.err;
    EXPECT_TRUE(Has(result.out, "1 duplicate song found among 3 songs; run again with --delete"))
        << result.out;
    EXPECT_EQ(ListFiles(library.tmp.Path()),
              (Files{"Music/Other.mp3", "Music/Song 1.mp3", "Music/Song.mp3"}));
}

TEST(ScanCommand, DeleteMovesOrDeletesTheDuplicateAsAnswered)
{
    struct Case {
        std::vector<std::string> args;
        Files files;
        std::string summary;
        bool moved;
    };
    const Case cases[] = {{{"--delete", "--yes"},
                           {"Music/Other.mp3", "Music/Song.mp3", "Removed Files/Artist/Album/Song 1.mp3"},
                           "1 duplicate song removed (moved into ",
                           true},
                          {{"--delete", "--yes", "--delete-instead-of-move"},
                           {"Music/Other.mp3", "Music/Song.mp3"},
                           "1 duplicate song",
                           false},
                          {{"--delete", "--no"},
                           {"Music/Other.mp3", "Music/Song 1.mp3", "Music/Song.mp3"},
                           "0 duplicate songs removed",
                           false}};
    for (const Case& c : cases) {
        Library library;
        fixtures::CommandResult result = library.Run(c.args);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(ListFiles(library.tmp.Path()), c.files) << c.summary;
        EXPECT_TRUE(Has(result.out, c.summary + (c.moved ? library.tmp / "Removed Files)" : "")))
            << result.out;
        EXPECT_EQ(Has(result.err,
                      "Deleting Duplicate: /Rock/Artist/Album/Song/mp3 from " + library.Music("Song 1.mp3")),
                  c.args[1] == "--yes")
            << result.err;
    }
}

TEST(ScanCommand, ADuplicateThatCouldNotBeRemovedIsNotCountedAsRemoved)
{
    Library library;
    fixtures::WriteFile(library.tmp / "Removed Files/Artist", std::string("a file where a folder must go"));
    fixtures::CommandResult result = library.Run({"--delete", "--yes"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(fixtures::Exists(library.Music("Song 1.mp3")));
    EXPECT_TRUE(Has(result.out, "0 duplicate songs removed; 1 duplicate could not be removed")) << result.out;
}

TEST(ScanCommand, FileTypeCanBeLeftOutOfTheComparison)
{
    Library library;
    library.Put("Other.m4a", "Other", 3);
    EXPECT_TRUE(Has(library.Run({}).out, "1 duplicate song found among 4 songs"));
    EXPECT_TRUE(Has(library.Run({"--no-file-type"}).out, "2 duplicate songs found among 4 songs"));
}

TEST(ScanCommand, RefusesWhatItCannotDo)
{
    Library library;
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"scan", "duplicates", library.tmp / "missing"}, "does not exist"},
        {{"scan", "duplicates", library.Music("Song.mp3")}, "not a folder"},
        {{"scan", "duplicates", library.Music(), "--delete"}, "pass --yes"},
        {{"scan", "duplicates", library.Music(), "--delete", "--yes", "--no"}, "excludes"},
    };
    for (const Case& c : cases) {
        fixtures::CommandResult result = RunPelorin(c.args);
        EXPECT_EQ(result.exitStatus, 2) << c.message;
        EXPECT_TRUE(Has(result.err + result.out, c.message)) << c.message << ": " << result.err;
    }
    EXPECT_EQ(ListFiles(library.tmp.Path()).size(), 3u);
}

TEST(ScanCommand, UnreadableFilesAreCountedInTheSummary)
{
    Library library;
    fixtures::WriteFile(library.Music("broken.mp3"), std::string());
    fixtures::CommandResult result = library.Run({"--log", library.tmp / "scan.log"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Has(result.out, "; 1 file could not be read (left out)")) << result.out;
    EXPECT_TRUE(Has(fixtures::ReadText(library.tmp / "scan.log"), "1 file could not be read"));
}
