// What a run did, counted as it performed: copies each way with their size, replacements, removals,
// changes left undone and failures, and the summary line made of them.

#include "ACommon/sync/SyncTally.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/ASync.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using fixtures::SetModTime;
using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

// Copies of b.txt fail, as on a full disk.
class FailingSync : public ASync {
public:
    int Copy(const AString* src, const AString* dst, signed char overwrite, signed char isReplace,
             CancelProc cancel) override
    {
        if (src->Find("b.txt", 0) >= 0)
            return kErrIO;
        return ASync::Copy(src, dst, overwrite, isReplace, cancel);
    }
};

void Put(const std::string& path, const std::string& text, std::int64_t time = 1000000000)
{
    WriteFile(path, text);
    SetModTime(path, time);
}

const SyncTally& RunBetween(ASync& sync, const TempDir& tmp, int autoAction, signed char destDeletes)
{
    AString left = tmp.A("L"), right = tmp.A("R");
    sync.SetRootPath1(&left, nullptr, 0);
    sync.SetRootPath2(&right, nullptr, 0);
    sync.SetAutoAction(autoAction);
    sync.SetDestDeletes(destDeletes);
    sync.SetShowActionsList(0);
    sync.DoSync(nullptr);
    return sync.GetTally();
}

} // namespace

TEST(SyncTally, CountsWhatWasPerformedNotWhatWasPlanned)
{
    {
        // Both ways, and a replacement of the older copy.
        fixtures::RecordingFrontend frontend;
        frontend.questions.SetDefaultAnswer("Yes to All");
        TempDir tmp;
        Put(tmp / "L/a.txt", std::string(1500, 'a'));
        Put(tmp / "L/c.txt", "new", 1000100000);
        Put(tmp / "R/c.txt", "old");
        Put(tmp / "R/z.txt", "zz");
        ASync sync;
        const SyncTally& tally = RunBetween(sync, tmp, ASync::kTwoWay, 0);
        EXPECT_EQ(tally.Summary(AString("L"), AString("R"), false, false, 0),
                  "Copied 1 file (2 kB) to R and 1 file (2 bytes) to L; replaced 1 (3 bytes); removed 0; 0 "
                  "errors.");
    }
    {
        // A failed copy, a deletion answered Yes and one answered No.
        fixtures::RecordingFrontend frontend;
        frontend.questions.Script({"Yes", "No"});
        TempDir tmp;
        Put(tmp / "L/b.txt", "b");
        Put(tmp / "R/w.txt", "w");
        Put(tmp / "R/y.txt", "y");
        FailingSync sync;
        const SyncTally& tally = RunBetween(sync, tmp, ASync::kLeftToRight, 1);
        EXPECT_EQ(tally.Changes(), 1);
        EXPECT_EQ(tally.Summary(AString("L"), AString("R"), true, true, kErrIO),
                  "Copied 0 songs; removed 1 (moved into \"Removed Files\"); kept 1 as they were; 1 error.");
    }
}

TEST(SyncTally, SummarySaysWhenTheRunWasCancelledOrFailedWithoutAFailedAction)
{
    SyncTally tally;
    tally.CountCopy(2, 142000000);
    for (int i = 1; i < 39; ++i)
        tally.CountCopy(2, 0);
    struct Case {
        int result;
        const char* line;
    };
    for (auto [result, line] :
         {Case{0, "Copied 39 songs (142 MB) to Demo iPod; removed 0; 0 errors."},
          {kErrUserCancel, "Cancelled. Copied 39 songs (142 MB) to Demo iPod; removed 0; 0 errors."},
          {kErrIO, "Copied 39 songs (142 MB) to Demo iPod; removed 0; 1 error."}})
        EXPECT_EQ(tally.Summary(AString("Folder"), AString("Demo iPod"), true, true, result), line) << result;
    for (auto [bytes, text] : {std::pair<std::uint64_t, const char*>{999, "999 bytes"},
                               {48200, "48 kB"},
                               {3460000, "3.5 MB"},
                               {12400000000ull, "12.4 GB"}})
        EXPECT_EQ(SyncTally::FormatSize(bytes), text) << bytes;
}
