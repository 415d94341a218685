#include "ACommon/base/AFile.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "APlatform/FileSystem.h"
#include "fixtures/Recorders.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>

using fixtures::Bytes;
using fixtures::ListFiles;
using fixtures::ReadText;
using fixtures::WriteFile;
using Files = std::vector<std::string>;

namespace {

// Content that differs from byte to byte, so that a misplaced chunk shows.
std::string Pattern(size_t size, char seed = 0)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 31 + i / 997 + static_cast<size_t>(seed)) & 0xFF);
    return text;
}

struct stat StatOf(const std::string& path)
{
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
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

TEST_F(AFileOpen, OpeningAMissingFileCreatesNothing)
{
    AFile f;
    AString missing = dir.A("new");
    EXPECT_EQ(f.Open(&missing, 1), kErrOpen);
    EXPECT_TRUE(ListFiles(dir.Path()).empty());
    AString missingFolder = dir.A("no/such/file"), folder = dir.A(), name = dir.A("x");
    EXPECT_EQ(f.Open(&missingFolder, 1), kErrOpen);
    EXPECT_EQ(f.Open(&folder, 1), kErrOpen);
    EXPECT_EQ(f.Open(&name, 0), kErrOpen);
    EXPECT_EQ(f.Open(&name, 4), kErrOpen);
    EXPECT_FALSE(f.IsOpen());
}

// ---- Queries ----

TEST_F(AFileOpen, QueriesOfALinkDescribeWhatItPointsTo)
{
    WriteFile(dir / "file", "12345");
    fixtures::SetModTime(dir / "file", 1234567890);
    symlink((dir / "file").c_str(), (dir / "link").c_str());
    mkfifo((dir / "fifo").c_str(), 0600);
    for (auto [name, type] : {std::pair{"", AFile::kPathFolder},
                              {"file", AFile::kPathFile},
                              {"link", AFile::kPathLink},
                              {"fifo", AFile::kPathOther},
                              {"missing", AFile::kPathOther}}) {
        AString path = dir.A(name);
        EXPECT_EQ(AFile::GetPathType(&path), type) << name;
    }
    AString file = dir.A("file"), link = dir.A("link"), missing = dir.A("missing");
    for (const AString* path : {&file, &link}) {
        EXPECT_EQ(AFile::GetFileSize(path), 5u) << path->ToStdString();
        EXPECT_EQ(AFile::FileModTime(path), 1234567890u + AFile::kFileTimeOffset) << path->ToStdString();
    }
    EXPECT_EQ(AFile::FileModTime(&missing), 0u);
}

TEST_F(AFileOpen, FastFilesEqualComparesSizesWithDates)
{
    struct Case {
        const char* what;
        std::string contentB;
        std::int64_t timeB;
        bool expected;
    };
    const std::int64_t timeA = 1500000000;
    const Case cases[] = {{"other bytes, same size and date", "wxyz", timeA, true},
                          {"an hour apart", "abcd", timeA + 3600, true},
                          {"two minutes apart", "abcd", timeA - 120, false},
                          {"different size, same date", "abc", timeA, false}};
    WriteFile(dir / "a", "abcd");
    fixtures::SetModTime(dir / "a", timeA);
    AString a = dir.A("a"), b = dir.A("b"), missing = dir.A("missing");
    for (const Case& c : cases) {
        WriteFile(dir / "b", c.contentB);
        fixtures::SetModTime(dir / "b", c.timeB);
        EXPECT_EQ(AFile::FastFilesEqual(&a, &b), c.expected) << c.what;
    }
    EXPECT_FALSE(AFile::FastFilesEqual(&a, &missing));
}

TEST_F(AFileOpen, FilesEqualComparesContents)
{
    for (std::string tree : {"x", "y", "z"}) {
        WriteFile(dir / (tree + "/1"), "one");
        WriteFile(dir / (tree + "/sub/2"), tree == "z" ? "twO" : "two");
    }
    AString x = dir.A("x"), y = dir.A("y"), z = dir.A("z"), x1 = dir.A("x/1"), y1 = dir.A("y/1");
    EXPECT_TRUE(AFile::FilesEqual(&x, &y));
    EXPECT_FALSE(AFile::FilesEqual(&x, &z));
    EXPECT_TRUE(AFile::FilesEqual(&x1, &y1));
    EXPECT_FALSE(AFile::FilesEqual(&x, &x1));
}

// ---- Changing the file system ----

TEST_F(AFileOpen, CreateDirMakesMissingParents)
{
    WriteFile(dir / "a/file", "x");
    const std::pair<const char*, int> cases[] = {{"a/b/c", 0},
                                                 {"a/b/c", kErrUnknown},
                                                 {"a", kErrUnknown},
                                                 {"a/file", kErrUnknown},
                                                 {"a/file/x", kErrUnknown},
                                                 {"e/f/g/", 0}};
    for (auto [path, expected] : cases) {
        AString p = dir.A(path);
        EXPECT_EQ(AFile::CreateDir(&p), expected) << path;
    }
    for (const char* made : {"a/b", "a/b/c", "e/f/g"})
        EXPECT_TRUE(std::filesystem::is_directory(dir / made)) << made;
}

TEST_F(AFileOpen, DeleteNeverFollowsALink)
{
    WriteFile(dir / "f", "x");
    WriteFile(dir / "t/a/b", "x");
    WriteFile(dir / "target", "kept");
    symlink((dir / "target").c_str(), (dir / "link").c_str());
    for (const char* name : {"f", "t", "missing", "link"}) {
        AString p = dir.A(name);
        EXPECT_EQ(AFile::Delete(&p), 0) << name;
        EXPECT_FALSE(fixtures::Exists(dir / name)) << name;
    }
    EXPECT_EQ(ReadText(dir / "target"), "kept");
}

TEST_F(AFileOpen, WriteWholeFileSafelyKeepsThePermissions)
{
    WriteFile(dir / "db", "old contents");
    chmod((dir / "db").c_str(), 0640);
    WriteFile(dir / "db.tmp", "the user's own file"); // a file of the name a temporary might take
    AString name = dir.A("db");
    ASSERT_EQ(AFile::WriteWholeFileSafely(&name, "new", 3), 0);
    EXPECT_EQ(ReadText(dir / "db"), "new");
    EXPECT_EQ(StatOf(dir / "db").st_mode & 07777, 0640u);
    EXPECT_EQ(ReadText(dir / "db.tmp"), "the user's own file");
    EXPECT_EQ(ListFiles(dir.Path()), (Files{"db", "db.tmp"})) << "no temporary file is left";
}

TEST_F(AFileOpen, FailuresNameTheSystemsReason)
{
    WriteFile(dir / "file", "x");
    AString inMissingFolder = dir.A("no/db"), underAFile = dir.A("file/db");
    AFile f;
    struct Case {
        std::function<int()> call;
        int code;
        std::string detail;
    };
    const Case cases[] = {
        {[&] { return AFile::WriteWholeFileSafely(&inMissingFolder, "x", 1); }, kErrIO,
         "cannot write " + dir / "no/db" + ": No such file or directory"},
        {[&] { return f.Open(&underAFile, 1); }, kErrOpen,
         "cannot open " + dir / "file/db" + ": Not a directory"},
        {[&] { return AFile::CreateDir(&underAFile); }, kErrUnknown,
         "cannot create the folder " + dir / "file" + ": File exists"},
        {[&] { return AFile::Rename(&inMissingFolder, &underAFile); }, kErrUnknown,
         "cannot move " + dir / "no/db" + " to " + dir / "file/db" + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        AError::ClearFailure();
        EXPECT_EQ(c.call(), c.code) << c.detail;
        EXPECT_EQ(AError::FailureDetail(c.code).ToStdString(), c.detail);
    }
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
        WriteFile(dir / "from", Pattern(size));
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

TEST_F(AFileCopy, ASongReachedThroughALinkIsCopiedAsTheSong)
{
    // Large enough for the chunked copy with progress; the checked copies verify against the song.
    MakeSource(AFile::kLargeFileSize + 1000);
    ASSERT_EQ(chmod(from.CStr(), 0640), 0);
    AString link = dir.A("link");
    ASSERT_EQ(symlink(from.CStr(), link.CStr()), 0);
    using CopyProc = int (*)(const AString*, const AString*);
    const std::pair<const char*, CopyProc> copies[] = {
        {"plain", AFile::Copy},
        {"checked", AFile::CopyWithCheck},
        {"progress",
         [](const AString* a, const AString* b) { return AFile::CopyWithProgress(a, b, nullptr, nullptr); }}};
    for (auto [name, copy] : copies) {
        AString target = dir.A(name);
        EXPECT_EQ(copy(&link, &target), 0) << name;
        EXPECT_EQ(ReadText(dir / name), Pattern(AFile::kLargeFileSize + 1000)) << name;
        EXPECT_EQ(StatOf(dir / name).st_mode & 07777, 0640u) << name;
        EXPECT_EQ(StatOf(dir / name).st_mtim.tv_sec, 1300000000) << name;
    }
}

TEST_F(AFileCopy, AFailedCopyLeavesTheOldDestination)
{
    // Copying used to delete the destination first: a copy that then failed lost the user's file.
    WriteFile(dir / "to", "precious");
    AString missing = dir.A("missing");
    EXPECT_EQ(AFile::Copy(&missing, &to), kErrUnableToCopy);
    EXPECT_EQ(AFile::CopyWithCheck(&missing, &to), kErrUnableToCopy);
    EXPECT_EQ(ReadText(dir / "to"), "precious");
    EXPECT_EQ(ListFiles(dir.Path()), Files{"to"});
}

TEST_F(AFileCopy, CopyOfAFolderCopiesTheTreeWithItsDates)
{
    WriteFile(dir / "src/a.mp3", "A");
    WriteFile(dir / "src/sub/b.mp3", "B");
    fixtures::SetModTime(dir / "src/sub/b.mp3", 1200000000);
    chmod((dir / "src/a.mp3").c_str(), 0600);
    WriteFile(dir / "dst/old.mp3", "old");
    AString src = dir.A("src"), dst = dir.A("dst");
    EXPECT_EQ(AFile::Copy(&src, &dst), 0);
    EXPECT_EQ(ListFiles(dir / "dst"), (Files{"a.mp3", "sub/b.mp3"}));
    EXPECT_TRUE(AFile::FilesEqual(&src, &dst));
    EXPECT_EQ(StatOf(dir / "dst/sub/b.mp3").st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(StatOf(dir / "dst/a.mp3").st_mode & 07777, 0600u);
    EXPECT_EQ(ListFiles(dir.Path()).size(), 4u) << "nothing else is left beside the copy";
}

TEST_F(AFileCopy, AFileNeverReplacesAFolder)
{
    MakeSource(100);
    WriteFile(dir / "to/inside.mp3", "kept");
    EXPECT_EQ(AFile::Copy(&from, &to), kErrUnableToCopy);
    EXPECT_EQ(ListFiles(dir.Path()), (Files{"from", "to/inside.mp3"}));
}

TEST_F(AFileCopy, CopyWithCheckNeedsFreeSpaceForTheGrowthOnly)
{
    MakeSource(5000);
    struct Case {
        std::uint64_t free;
        bool replacing;
        int expected;
    };
    // Replacing a file gets its size back: only the difference must fit, and be smaller than what
    // is free.
    for (auto [free, replacing, expected] :
         {Case{5000, false, kErrNoSpace}, {5000, true, 0}, {4001, true, 0}, {4000, true, kErrNoSpace}}) {
        std::filesystem::remove(dir / "to");
        if (replacing)
            WriteFile(dir / "to", std::string(1000, 'x'));
        FreeSpaceOverride space(free);
        EXPECT_EQ(AFile::CopyWithCheck(&from, &to), expected) << free;
        if (expected != 0) {
            EXPECT_EQ(fixtures::Exists(dir / "to") ? ReadText(dir / "to") : "",
                      replacing ? std::string(1000, 'x') : "");
        }
    }
}

TEST_F(AFileCopy, CopyWithProgressReportsRisingProgressWithinTheOpenDivision)
{
    MakeSource(1250000);
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.StartDivision(0.5, nullptr, 0, 0);
    bar.Clear();
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, &progress), 0);
    EXPECT_EQ(ReadText(dir / "to"), Pattern(1250000));
    const std::vector<double> values = bar.Values();
    ASSERT_GT(values.size(), 1u);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GT(values.front(), 0.0);
    EXPECT_NEAR(values.back(), 0.5, 1e-12) << "the division ends with the copy";
}

TEST_F(AFileCopy, CancelMidCopyLeavesTheDestinationAsItWas)
{
    // The copy used to overwrite the destination in place and delete it on cancel.
    MakeSource(1000000);
    WriteFile(dir / "to", "the user's old file");
    gCancelCalls = 0;
    gCancelAt = 4;
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, CountingCancel, &progress), kErrUserCancel);
    EXPECT_EQ(gCancelCalls, 4) << "the copy stops at the first check that asks it to";
    EXPECT_EQ(ReadText(dir / "to"), "the user's old file");
    EXPECT_EQ(ListFiles(dir.Path()), (Files{"from", "to"})) << "no partial file";
    std::filesystem::remove(dir / "to");
    gCancelCalls = 0;
    gCancelAt = 1;
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, CountingCancel, nullptr), kErrUserCancel);
    EXPECT_EQ(ListFiles(dir.Path()), Files{"from"});
}

TEST_F(AFileCopy, CopyWithProgressRefusesWhatItCannotFinish)
{
    MakeSource(1000000);
    EXPECT_EQ(AFile::CopyWithProgress(&from, &from, nullptr, nullptr), 0);
    EXPECT_EQ(ReadText(dir / "from"), Pattern(1000000));
    AString small = dir.A("small"), elsewhere = dir.A("new"), nowhere = dir.A("missing/to");
    EXPECT_EQ(AFile::CopyWithProgress(&from, &nowhere, nullptr, nullptr), kErrObjectNotFound);
    EXPECT_EQ(AFile::CopyWithCheck(&from, &nowhere), kErrObjectNotFound);
    WriteFile(dir / "to", "old");
    FreeSpaceOverride full(999997);
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, &progress), kErrNoSpace);
    EXPECT_EQ(ReadText(dir / "to"), "old");
    WriteFile(dir / "small", std::string(10, 's'));
    FreeSpaceOverride none(0);
    EXPECT_EQ(AFile::CopyWithProgress(&small, &elsewhere, nullptr, nullptr), kErrNoSpace)
        << "small files too";
    EXPECT_FALSE(fixtures::Exists(dir / "new"));
}

TEST_F(AFileCopy, AttributesTheVolumeCannotKeepAreOptional)
{
    MakeSource(1000);
    struct Case {
        int injected;
        bool copies;
    };
    for (auto [injected, copies] : {Case{ENOSYS, true}, Case{ENOTSUP, true}, Case{EPERM, true},
                                    Case{EIO, false}, Case{EACCES, false}}) {
        platform::FailAttributeCallsForTesting(injected);
        AString target = dir.A("to-" + std::to_string(injected));
        EXPECT_EQ(AFile::CopyWithProgress(&from, &target, nullptr, nullptr) == 0, copies) << injected;
        EXPECT_EQ(AFile::Copy(&from, &target) == 0, copies) << injected;
        EXPECT_EQ(fixtures::Exists(target.ToStdString()), copies) << injected;
    }
    platform::FailAttributeCallsForTesting(0);
}

TEST_F(AFileCopy, ACopyFromAPipeFailsWithoutWaitingForAWriter)
{
    ASSERT_EQ(mkfifo(from.CStr(), 0644), 0);
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, nullptr), kErrUnableToCopy);
    EXPECT_FALSE(AFile::FileExists(&to));
}
