#include "ACommon/AFile.h"

#include "ACommon/AError.h"
#include "ACommon/AProgress.h"
#include "APlatform/FileSystem.h"
#include "APlatform/Frontend.h"
#include "APlatform/Recorders.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>

using fixtures::Bytes;

namespace {

constexpr std::uint64_t kFileTimeOffset = 2082830400;

// Content that differs from byte to byte, so that a misplaced chunk shows.
std::string Pattern(size_t size, char seed = 0)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 31 + i / 997 + static_cast<size_t>(seed)) & 0xFF);
    return text;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

std::int64_t MTimeOf(const std::string& path)
{
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mtim.tv_sec;
}

// Restores the file system's own free space when a test has forced a figure.
struct FreeSpaceOverride {
    explicit FreeSpaceOverride(std::uint64_t bytes) { platform::OverrideFreeSpaceForTesting(bytes); }
    ~FreeSpaceOverride() { platform::OverrideFreeSpaceForTesting(UINT64_MAX); }
};

} // namespace

// ---- The open file ----

class AFileOpen : public ::testing::Test {
protected:
    fixtures::TempDir dir;
};

TEST_F(AFileOpen, OpeningAMissingFileCreatesItEmptyInEveryMode)
{
    for (unsigned mode : {1u, 2u, 3u}) {
        std::string path = dir / ("new" + std::to_string(mode));
        AString name = AString::FromUTF8(path);
        AFile f;
        ASSERT_EQ(f.Open(&name, mode), 0) << mode;
        EXPECT_TRUE(fixtures::Exists(path)) << mode;
        EXPECT_EQ(f.GetEOF(), 0u);
        if (mode != 2) {
            char byte;
            EXPECT_EQ(f.Read(&byte, 1, nullptr), kErrEndOfFile) << mode;
        }
    }
}

TEST_F(AFileOpen, OpenFailsWithMinusOne)
{
    AFile f;
    AString missingFolder = dir.A("no/such/file");
    AString folder = dir.A();
    AString name = dir.A("x");
    EXPECT_EQ(f.Open(&missingFolder, 1), kErrOpen);
    EXPECT_EQ(f.Open(&folder, 1), kErrOpen);
    EXPECT_EQ(f.Open(&name, 0), kErrOpen);
    EXPECT_EQ(f.Open(&name, 4), kErrOpen);
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(AFileOpen, ReadWithACountTakesWhatIsThereWithoutOneAllOrNothing)
{
    AFile f;
    ASSERT_EQ(fixtures::OpenWith(f, dir / "f", Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}), 0);
    ASSERT_EQ(f.Seek(10), 0);
    unsigned char buffer[10] = {};
    unsigned got = 99;
    EXPECT_EQ(f.Read(buffer, 10, &got), 0);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{11, 12, 13, 14}));
    EXPECT_EQ(f.Read(buffer, 10, &got), 0);
    EXPECT_EQ(got, 0u) << "at the end a counted read gives 0 bytes, not an error";

    ASSERT_EQ(f.Seek(10), 0);
    unsigned char untouched[10] = {};
    EXPECT_EQ(f.Read(untouched, 10, nullptr), kErrEndOfFile);
    EXPECT_EQ(Bytes(untouched, untouched + 10), Bytes(10, 0)) << "nothing is copied";
    EXPECT_EQ(f.GetFilePos(), 10u);
    EXPECT_EQ(f.Read(untouched, 4, nullptr), 0);
    EXPECT_EQ(f.GetFilePos(), 14u);
}

TEST_F(AFileOpen, WritingDoesNotTruncateAndSetEOFDoes)
{
    std::string path = dir / "f";
    fixtures::WriteFile(path, "abcdef");
    AString name = AString::FromUTF8(path);
    AFile f;
    ASSERT_EQ(f.Open(&name, 2), 0);
    ASSERT_EQ(f.Write("XY", 2), 0);
    EXPECT_EQ(f.GetFilePos(), 2u);
    f.Close(1);
    EXPECT_EQ(fixtures::ReadText(path), "XYcdef");

    ASSERT_EQ(f.Open(&name, 3), 0);
    ASSERT_EQ(f.Seek(8), 0);
    ASSERT_EQ(f.Write("!", 1), 0);
    EXPECT_EQ(f.GetEOF(), 9u);
    ASSERT_EQ(f.SetEOF(3), 0);
    EXPECT_EQ(f.GetEOF(), 3u);
    f.Close(0);
    f.Close(0); // closing a closed file does nothing
    EXPECT_EQ(fixtures::ReadText(path), "XYc");
    EXPECT_EQ(f.Write("x", 1), kErrIO) << "a closed file cannot be written";
}

// ---- Queries ----

TEST_F(AFileOpen, GetPathTypeTellsKindsApartWithoutFollowingLinks)
{
    fixtures::WriteFile(dir / "file", "x");
    symlink((dir / "file").c_str(), (dir / "link").c_str());
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = dir / "sock";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    mkfifo((dir / "fifo").c_str(), 0600);

    struct Case {
        const char* name;
        int type;
    };
    for (auto [name, type] :
         {Case{"", 0}, {"file", 1}, {"link", 2}, {"sock", 3}, {"fifo", 4}, {"missing", 4}}) {
        AString path = dir.A(name);
        EXPECT_EQ(AFile::GetPathType(&path), type) << name;
    }
    close(sock);
}

TEST_F(AFileOpen, ExistenceSizeAndTimeQueries)
{
    fixtures::WriteFile(dir / "file", "12345");
    fixtures::SetModTime(dir / "file", 1234567890);
    AString file = dir.A("file"), folder = dir.A(), missing = dir.A("missing");
    EXPECT_TRUE(AFile::FileExists(&file));
    EXPECT_TRUE(AFile::FileExists(&folder));
    EXPECT_FALSE(AFile::FileExists(&missing));
    EXPECT_TRUE(AFile::DirExists(&folder));
    EXPECT_FALSE(AFile::DirExists(&file));
    EXPECT_EQ(AFile::GetFileSize(&file), 5u);
    EXPECT_EQ(AFile::GetFileSize(&missing), 0u);
    EXPECT_EQ(AFile::FileModTime(&file), 1234567890u + kFileTimeOffset);
    EXPECT_EQ(AFile::FileModTime(&missing), 0u);
    unsigned long long freeBytes = 0;
    EXPECT_EQ(AFile::GetVolumeFreeSpace(&folder, &freeBytes), 0);
    EXPECT_GT(freeBytes, 0u);
    EXPECT_EQ(AFile::GetVolumeFreeSpace(&missing, &freeBytes), kErrObjectNotFound);
}

TEST(AFileDates, DatesEssentiallyEqualAllowsAMinuteOrAnHourAndAMinute)
{
    struct Case {
        double difference;
        bool expected;
    };
    for (auto [difference, expected] : {Case{0, true},
                                        {60, true},
                                        {60.5, false},
                                        {61, false},
                                        {3539, false},
                                        {3540, true},
                                        {3600, true},
                                        {3660, true},
                                        {3661, false},
                                        {7200, false}}) {
        EXPECT_EQ(AFile::DatesEssentiallyEqual(1e9, 1e9 + difference), expected) << difference;
        EXPECT_EQ(AFile::DatesEssentiallyEqual(1e9 + difference, 1e9), expected) << difference;
    }
}

TEST_F(AFileOpen, FastFilesEqualNeedsEqualSizesAndCloseDates)
{
    struct Case {
        const char* what;
        std::string contentB;
        std::int64_t timeB;
        bool expected;
    };
    const std::int64_t timeA = 1500000000;
    const Case cases[] = {
        {"same size and date", "abcd", timeA, true},
        {"other bytes, same size and date", "wxyz", timeA, true},
        {"an hour apart", "abcd", timeA + 3600, true},
        {"two minutes apart", "abcd", timeA - 120, false},
        {"different size, same date", "abc", timeA, false},
    };
    for (const Case& c : cases) {
        fixtures::WriteFile(dir / "a", "abcd");
        fixtures::SetModTime(dir / "a", timeA);
        fixtures::WriteFile(dir / "b", c.contentB);
        fixtures::SetModTime(dir / "b", c.timeB);
        AString a = dir.A("a"), b = dir.A("b");
        EXPECT_EQ(AFile::FastFilesEqual(&a, &b), c.expected) << c.what;
    }
    AString a = dir.A("a"), missing = dir.A("missing");
    EXPECT_FALSE(AFile::FastFilesEqual(&a, &missing));
}

TEST_F(AFileOpen, FilesEqualComparesBytesAndTrees)
{
    fixtures::WriteFile(dir / "x/1", "one");
    fixtures::WriteFile(dir / "x/sub/2", "two");
    fixtures::WriteFile(dir / "y/1", "one");
    fixtures::WriteFile(dir / "y/sub/2", "two");
    fixtures::WriteFile(dir / "z/1", "one");
    fixtures::WriteFile(dir / "z/sub/2", "twO");
    AString x = dir.A("x"), y = dir.A("y"), z = dir.A("z"), x1 = dir.A("x/1"), y1 = dir.A("y/1");
    EXPECT_TRUE(AFile::FilesEqual(&x, &y));
    EXPECT_FALSE(AFile::FilesEqual(&x, &z));
    EXPECT_TRUE(AFile::FilesEqual(&x1, &y1));
    EXPECT_FALSE(AFile::FilesEqual(&x, &x1));
}

TEST_F(AFileOpen, DestNewerComparesFileTimes)
{
    fixtures::WriteFile(dir / "old", "x");
    fixtures::SetModTime(dir / "old", 1000);
    fixtures::WriteFile(dir / "new", "x");
    fixtures::SetModTime(dir / "new", 2000);
    AString oldFile = dir.A("old"), newFile = dir.A("new");
    EXPECT_TRUE(AFile::DestNewer(&oldFile, &newFile));
    EXPECT_FALSE(AFile::DestNewer(&newFile, &oldFile));
    EXPECT_FALSE(AFile::DestNewer(&oldFile, &oldFile));
}

// ---- Changing the file system ----

TEST_F(AFileOpen, CreateDirMakesMissingParentsAndRefusesWhatExists)
{
    fixtures::WriteFile(dir / "a/file", "x");
    struct Case {
        const char* path;
        int expected;
    };
    for (auto [path, expected] : {Case{"a/b/c", 0},
                                  {"a/b/c", kErrUnknown},
                                  {"a", kErrUnknown},
                                  {"a/file", kErrUnknown},
                                  {"a/file/x", kErrUnknown},
                                  {"d/", 0},
                                  {"e/f/g/", 0}}) {
        AString p = dir.A(path);
        EXPECT_EQ(AFile::CreateDir(&p), expected) << path;
    }
    for (const char* made : {"a/b", "a/b/c", "d", "e/f/g"})
        EXPECT_TRUE(std::filesystem::is_directory(dir / made)) << made;
}

TEST_F(AFileOpen, DeleteRemovesFilesAndTreesAndSucceedsWhenNothingIsThere)
{
    fixtures::WriteFile(dir / "f", "x");
    fixtures::WriteFile(dir / "t/a/b", "x");
    fixtures::WriteFile(dir / "target", "kept");
    symlink((dir / "target").c_str(), (dir / "link").c_str());
    for (const char* name : {"f", "t", "missing", "link"}) {
        AString p = dir.A(name);
        EXPECT_EQ(AFile::Delete(&p), 0) << name;
        EXPECT_FALSE(fixtures::Exists(dir / name)) << name;
    }
    EXPECT_EQ(fixtures::ReadText(dir / "target"), "kept") << "deleting a link leaves what it points to";
}

TEST_F(AFileOpen, MoveAndRenameMoveFilesAndFolders)
{
    fixtures::WriteFile(dir / "a", "A");
    fixtures::WriteFile(dir / "folder/inner", "I");
    AString a = dir.A("a"), b = dir.A("b"), folder = dir.A("folder"), moved = dir.A("moved");
    EXPECT_EQ(AFile::Move(&a, &b), 0);
    EXPECT_EQ(AFile::Rename(&folder, &moved), 0);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"b", "moved/inner"}));
    AString missing = dir.A("missing");
    EXPECT_EQ(AFile::Move(&missing, &a), kErrUnknown);
}

TEST_F(AFileOpen, SetVisibilityHasNothingToSetOffFat)
{
    fixtures::WriteFile(dir / "f", "x");
    AString f = dir.A("f"), missing = dir.A("missing");
    EXPECT_EQ(AFile::SetVisibility(&f, 0), 0);
    EXPECT_EQ(AFile::SetVisibility(&f, 1), 0);
    EXPECT_EQ(AFile::SetVisibility(&missing, 0), kErrUnknown);
}

TEST_F(AFileOpen, WriteWholeFileSafelyReplacesTheFileAndKeepsItsPermissions)
{
    std::string path = dir / "db";
    fixtures::WriteFile(path, "old contents");
    chmod(path.c_str(), 0640);
    AString name = AString::FromUTF8(path);
    ASSERT_EQ(AFile::WriteWholeFileSafely(&name, "new", 3), 0);
    EXPECT_EQ(fixtures::ReadText(path), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"db"}))
        << "no temporary file is left";

    AString inMissingFolder = dir.A("no/db");
    EXPECT_EQ(AFile::WriteWholeFileSafely(&inMissingFolder, "x", 1), kErrIO);
}

TEST_F(AFileOpen, GetFileAsksTheChooserAndJoinsTheChoiceLastFirst)
{
    platform::ScriptedQuestions questions;
    platform::SetQuestionInterface(&questions);
    questions.SetChosenFiles({"/a/one.mp3", "/b/two.mp3"});
    AString title("Add music");
    AString types("mp3 m4a");
    EXPECT_TRUE(AFile::GetFile(&types, &title, 0, 1));
    EXPECT_EQ(title, "/b/two.mp3\n/a/one.mp3");

    questions.SetChosenFiles({});
    AString cancelled("Add music");
    EXPECT_FALSE(AFile::GetFile(nullptr, &cancelled, 1, 1));
    EXPECT_TRUE(cancelled.IsEmpty());
    platform::SetQuestionInterface(nullptr);
}

// ---- Copies ----

class AFileCopy : public ::testing::Test {
protected:
    fixtures::TempDir dir;
    AString from = dir.A("from");
    AString to = dir.A("to");
    AProgress progress;
    platform::RecordingProgressBar bar;

    void SetUp() override { progress.SetProgressControl(nullptr, nullptr, &bar); }
    void TearDown() override { progress.SetProgressControl(nullptr, nullptr, nullptr); }

    void MakeSource(size_t size, std::int64_t time = 1300000000)
    {
        fixtures::WriteFile(dir / "from", Pattern(size));
        fixtures::SetModTime(dir / "from", time);
    }
};

// The cancel callback is a plain function: these count its calls and stop at a given one.
std::atomic<int> gCancelCalls{0};
std::atomic<int> gCancelAt{0};
signed char CountingCancel()
{
    int call = ++gCancelCalls;
    return (gCancelAt != 0 && call >= gCancelAt) ? 1 : 0;
}

TEST_F(AFileCopy, CopyOntoALargerFileLeavesExactlyTheSource)
{
    MakeSource(1000);
    fixtures::WriteFile(dir / "to", Pattern(5000, 7));
    EXPECT_EQ(AFile::Copy(&from, &to), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "to"), Pattern(1000));
    EXPECT_EQ(MTimeOf(dir / "to"), 1300000000) << "the copy keeps the date";
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"from", "to"}));
}

TEST_F(AFileCopy, AFailedCopyLeavesTheOldDestination)
{
    // Copying used to delete the destination first: a copy that then failed lost the user's file.
    fixtures::WriteFile(dir / "to", "precious");
    AString missing = dir.A("missing");
    EXPECT_EQ(AFile::Copy(&missing, &to), kErrUnableToCopy);
    EXPECT_EQ(fixtures::ReadText(dir / "to"), "precious");
    EXPECT_EQ(AFile::CopyWithCheck(&missing, &to), kErrUnableToCopy);
    EXPECT_EQ(fixtures::ReadText(dir / "to"), "precious");
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"to"}));
}

TEST_F(AFileCopy, CopyOfAFolderCopiesTheTreeWithItsDatesAndReplacesAnOldOne)
{
    fixtures::WriteFile(dir / "src/a.mp3", "A");
    fixtures::WriteFile(dir / "src/sub/b.mp3", "B");
    fixtures::SetModTime(dir / "src/sub/b.mp3", 1200000000);
    chmod((dir / "src/a.mp3").c_str(), 0600);
    fixtures::WriteFile(dir / "dst/old.mp3", "old");
    AString src = dir.A("src"), dst = dir.A("dst");
    EXPECT_EQ(AFile::Copy(&src, &dst), 0);
    EXPECT_EQ(fixtures::ListFiles(dir / "dst"), (std::vector<std::string>{"a.mp3", "sub/b.mp3"}));
    EXPECT_TRUE(AFile::FilesEqual(&src, &dst));
    EXPECT_EQ(MTimeOf(dir / "dst/sub/b.mp3"), 1200000000);
    EXPECT_EQ(ModeOf(dir / "dst/a.mp3"), 0600u);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()).size(), 4u) << "nothing else is left beside the copy";
}

TEST_F(AFileCopy, AFileNeverReplacesAFolder)
{
    MakeSource(100);
    fixtures::WriteFile(dir / "to/inside.mp3", "kept");
    EXPECT_EQ(AFile::Copy(&from, &to), kErrUnableToCopy);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"from", "to/inside.mp3"}));
}

TEST_F(AFileCopy, CopyWithCheckRefusesWhenTheVolumeIsTooFull)
{
    MakeSource(5000);
    {
        FreeSpaceOverride full(5000);
        EXPECT_EQ(AFile::CopyWithCheck(&from, &to), kErrNoSpace) << "needs more than is free";
        EXPECT_FALSE(fixtures::Exists(dir / "to"));
        // Replacing a file gets its size back: only the difference must fit.
        fixtures::WriteFile(dir / "to", std::string(1000, 'x'));
        EXPECT_EQ(AFile::CopyWithCheck(&from, &to), 0);
    }
    FreeSpaceOverride almost(4001);
    fixtures::WriteFile(dir / "to", std::string(1000, 'x'));
    EXPECT_EQ(AFile::CopyWithCheck(&from, &to), 0) << "4000 more bytes fit in 4001";
    FreeSpaceOverride exact(4000);
    fixtures::WriteFile(dir / "to", std::string(1000, 'x'));
    EXPECT_EQ(AFile::CopyWithCheck(&from, &to), kErrNoSpace)
        << "the difference must be smaller than what is free";
    EXPECT_EQ(fixtures::ReadText(dir / "to"), std::string(1000, 'x'));
}

TEST_F(AFileCopy, CopyWithProgressOfJustUnderAMegabyteIsOneCallWithoutProgress)
{
    MakeSource(999999);
    gCancelCalls = 0;
    gCancelAt = 0;
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, CountingCancel, &progress), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "to"), Pattern(999999));
    EXPECT_EQ(gCancelCalls, 0) << "the single-call copy cannot be cancelled";
    EXPECT_TRUE(bar.Values().empty()) << "nor does it report progress";
}

TEST_F(AFileCopy, CopyWithProgressOfAMegabyteGoesInTenChunks)
{
    MakeSource(1000000);
    gCancelCalls = 0;
    gCancelAt = 0;
    progress.StartProgress(nullptr, 0, 0, 0);
    bar.Clear();
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, CountingCancel, &progress), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "to"), Pattern(1000000));
    EXPECT_EQ(gCancelCalls, 10) << "one cancel check before each chunk";
    std::vector<double> values = bar.Values();
    ASSERT_EQ(values.size(), 10u);
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(values[i], 0.1 * static_cast<double>(i + 1), 1e-12) << i;
}

TEST_F(AFileCopy, CopyWithProgressReportsWithinTheOpenDivision)
{
    MakeSource(1250000);
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.StartDivision(0.5, nullptr, 0, 0);
    bar.Clear();
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, &progress), 0);
    std::vector<double> values = bar.Values();
    ASSERT_EQ(values.size(), 13u) << "twelve full chunks and the rest";
    EXPECT_NEAR(values.front(), 0.5 * 100000 / 1250000, 1e-12);
    EXPECT_NEAR(values.back(), 0.5, 1e-12);
}

TEST_F(AFileCopy, CopyWithProgressKeepsTheSourceDatesAndPermissions)
{
    MakeSource(1500000, 1100000000);
    chmod((dir / "from").c_str(), 0604);
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, nullptr), 0);
    EXPECT_EQ(MTimeOf(dir / "to"), 1100000000);
    EXPECT_EQ(ModeOf(dir / "to"), 0604u);
    EXPECT_TRUE(AFile::FilesEqual(&from, &to));
}

TEST_F(AFileCopy, CancelMidCopyLeavesTheOldDestinationIntact)
{
    // The copy used to overwrite the destination in place and delete it on cancel.
    MakeSource(1000000);
    fixtures::WriteFile(dir / "to", "the user's old file");
    gCancelCalls = 0;
    gCancelAt = 4;
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, CountingCancel, &progress), kErrUserCancel);
    EXPECT_EQ(gCancelCalls, 4) << "the copy stops at the first check that asks it to";
    EXPECT_EQ(fixtures::ReadText(dir / "to"), "the user's old file");
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"from", "to"})) << "no partial file";
}

TEST_F(AFileCopy, CancelOfANewCopyLeavesNothingBehind)
{
    MakeSource(2000000);
    gCancelCalls = 0;
    gCancelAt = 1;
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, CountingCancel, nullptr), kErrUserCancel);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"from"}));
}

TEST_F(AFileCopy, CopyWithProgressRefusesWhenTheVolumeIsTooFull)
{
    MakeSource(1000000);
    fixtures::WriteFile(dir / "to", "old");
    FreeSpaceOverride full(999997);
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, &progress), kErrNoSpace);
    EXPECT_EQ(fixtures::ReadText(dir / "to"), "old");
    AString small = dir.A("small");
    fixtures::WriteFile(dir / "small", std::string(10, 's'));
    FreeSpaceOverride none(0);
    AString elsewhere = dir.A("new");
    EXPECT_EQ(AFile::CopyWithProgress(&small, &elsewhere, nullptr, nullptr), kErrNoSpace)
        << "small files too";
    EXPECT_FALSE(fixtures::Exists(dir / "new"));
}

TEST_F(AFileCopy, CopyIntoAMissingFolderFailsOnTheFreeSpaceQuery)
{
    MakeSource(1000000);
    AString nowhere = dir.A("missing/to");
    EXPECT_EQ(AFile::CopyWithProgress(&from, &nowhere, nullptr, nullptr), kErrObjectNotFound);
    EXPECT_EQ(AFile::CopyWithCheck(&from, &nowhere), kErrObjectNotFound);
}

TEST_F(AFileCopy, CopyOfAFileOntoItselfKeepsIt)
{
    MakeSource(1000000);
    EXPECT_EQ(AFile::CopyWithProgress(&from, &from, nullptr, nullptr), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "from"), Pattern(1000000));
    MakeSource(100);
    EXPECT_EQ(AFile::Copy(&from, &from), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "from"), Pattern(100));
}
