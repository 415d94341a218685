// What a run did, counted as it performed: copies each way with their size, replacements, removals,
// changes left undone and failures, and the summary line made of them.

#include "ACommon/sync/SyncTally.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/ASync.h"
#include "SyncRuns.h"

#include <string>

using syncruns::Put;

namespace {

const SyncTally& RunBetween(ASync& sync, const fixtures::FolderPair& pair, fixtures::SyncType type)
{
    pair.Aim(sync, type);
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
        fixtures::FolderPair pair;
        Put(pair.L("a.txt"), std::string(1500, 'a'));
        Put(pair.L("c.txt"), "new", 1000100000);
        Put(pair.R("c.txt"), "old");
        Put(pair.R("z.txt"), "zz");
        ASync sync;
        const SyncTally& tally = RunBetween(sync, pair, fixtures::kMerge);
        EXPECT_EQ(tally.Summary(AString("L"), AString("R"), false, false, 0),
                  "Copied 1 file (2 kB) to R and 1 file (2 bytes) to L; replaced 1 (3 bytes); removed 0; 0 "
                  "errors.");
    }
    {
        // A failed copy, a deletion answered Yes and one answered No.
        fixtures::RecordingFrontend frontend;
        frontend.questions.Script({"Yes", "No"});
        fixtures::FolderPair pair;
        Put(pair.L("b.txt"), "b");
        Put(pair.R("w.txt"), "w");
        Put(pair.R("y.txt"), "y");
        fixtures::FailingSync sync;
        const SyncTally& tally = RunBetween(sync, pair, fixtures::kMirrorToRight);
        EXPECT_EQ(tally.Changes(), 1);
        EXPECT_EQ(tally.Summary(AString("L"), AString("R"), true, true, kErrIO).ToStdString(),
                  (AString("Copied 0 songs; removed 1 (moved into \"Removed Files\"); kept 1 as they were; 1 "
                           "error. Not synced, tried again by the next run: ") +
                   AString::FromUTF8(pair.L("b.txt")) + " (-36: IO error.).")
                      .ToStdString());
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
