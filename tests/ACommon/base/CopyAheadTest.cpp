#include "ACommon/base/CopyAhead.h"

#include "ACommon/base/AError.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using fixtures::ListFiles;
using fixtures::ReadText;
using fixtures::WriteFile;

namespace {

// Songs "0.mp3"... in `songs/`, copied in their order into the folders of `music/` as a run copies
// them onto an iPod: each opened first (for its tags), then copied unflushed.
class CopyAheadRun : public ::testing::Test {
protected:
    // Every copy ahead is waited for, so that which copies are taken does not depend on timing.
    CopyAheadRun() { CopyAhead::SetPatientForTesting(true); }
    ~CopyAheadRun() override { CopyAhead::SetPatientForTesting(false); }

    fixtures::TempDir dir;
    std::vector<AString> sources;

    void MakeSongs(int count, std::size_t bytes = 5000)
    {
        for (int i = 0; i < count; ++i) {
            WriteFile(dir / ("songs/" + std::to_string(i) + ".mp3"), Content(i, bytes));
            sources.push_back(dir.A("songs/" + std::to_string(i) + ".mp3"));
        }
        WriteFile(dir / "music/F00/.keep", "");
    }
    static std::string Content(int song, std::size_t bytes, char mark = 'a')
    {
        std::string text(bytes, mark);
        text.replace(0, std::to_string(song).size(), std::to_string(song));
        return text;
    }
    std::string Copied(int song) const { return dir / ("music/F00/" + std::to_string(song) + ".mp3"); }

    // The run's copy of song `i`; `opened` runs once the song is open, before it is copied.
    int CopySong(int i, const std::function<void()>& opened = nullptr)
    {
        AFile source;
        if (int err = source.Open(&sources[i], 1); err != 0)
            return err;
        if (opened)
            opened();
        const AString to = AString::FromUTF8(Copied(i));
        return AFile::CopyWithProgress(&sources[i], source, &to, nullptr, nullptr, false);
    }

    // Waits until the copies ahead of the songs after `taken` are made (the thread stops there).
    void WaitForCopiesAhead(int count)
    {
        for (int tries = 0; tries < 2000 && Temporaries() < count; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(Temporaries(), count);
    }
    int Temporaries() const
    {
        int found = 0;
        for (const std::string& file : ListFiles(dir / "music"))
            found += AFile::IsTemporaryName(file.c_str()) ? 1 : 0;
        return found;
    }
};

} // namespace

TEST_F(CopyAheadRun, EverySongAfterTheFirstIsPutInPlaceFromItsCopyAhead)
{
    MakeSongs(12);
    {
        CopyAhead ahead(sources);
        for (int i = 0; i < 12; ++i)
            ASSERT_EQ(CopySong(i), 0) << i;
    }
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(ReadText(Copied(i)), Content(i, 5000)) << i;
    // The first song shows where the copies go, and is copied by the run itself.
    EXPECT_EQ(CopyAhead::LastCounts().taken, 11);
    EXPECT_EQ(Temporaries(), 0);
}

TEST_F(CopyAheadRun, ASongChangedAfterItsCopyAheadIsCopiedAsItIsNow)
{
    MakeSongs(4);
    const std::string second = dir / "songs/1.mp3", changed = Content(1, 7000, 'b');
    // Rewritten in place, replaced by another file, or rewritten after the run opened it.
    struct Case {
        const char* how;
        std::function<void()> before, afterOpening;
        int expected;
    } cases[] = {
        {"rewritten", [&] { WriteFile(second, changed); }, nullptr, 0},
        {"replaced",
         [&] {
             WriteFile(dir / "songs/new", changed);
             std::rename((dir / "songs/new").c_str(), second.c_str());
         },
         nullptr, 0},
        {"rewritten while open", nullptr, [&] { WriteFile(second, changed); }, kErrChangedWhileCopied},
    };
    for (const Case& c : cases) {
        WriteFile(second, Content(1, 5000));
        std::remove(Copied(1).c_str());
        CopyAhead ahead(sources);
        ASSERT_EQ(CopySong(0), 0);
        WaitForCopiesAhead(3);
        if (c.before)
            c.before();
        EXPECT_EQ(CopySong(1, c.afterOpening), c.expected) << c.how;
        if (c.expected == 0)
            EXPECT_EQ(ReadText(Copied(1)), changed) << c.how;
        else
            EXPECT_FALSE(fixtures::Exists(Copied(1))) << c.how;
    }
    EXPECT_EQ(Temporaries(), 0);
}

TEST_F(CopyAheadRun, CopiesAheadOfSongsTheRunDoesNotCopyAreRemoved)
{
    MakeSongs(10);
    {
        CopyAhead ahead(sources);
        ASSERT_EQ(CopySong(0), 0);
        WaitForCopiesAhead(3);
        // Songs 1 to 4 are skipped (on the iPod already): the run goes on with song 5.
        ASSERT_EQ(CopySong(5), 0);
        EXPECT_EQ(ReadText(Copied(5)), Content(5, 5000));
        WaitForCopiesAhead(3);
    }
    // What was copied ahead and never taken is gone with the copying.
    EXPECT_EQ(Temporaries(), 0);
    EXPECT_EQ(ListFiles(dir / "music").size(), 3U); // .keep, 0.mp3 and 5.mp3
}

TEST_F(CopyAheadRun, OnlyOneCopyingAtATime)
{
    MakeSongs(3);
    CopyAhead first(sources);
    CopyAhead second(std::vector<AString>{sources.rbegin(), sources.rend()});
    // The songs in the second's order copy as they would without it.
    for (int i : {2, 1, 0})
        ASSERT_EQ(CopySong(i), 0);
    EXPECT_EQ(ReadText(Copied(0)), Content(0, 5000));
}
