// The iPod's journal of song files not yet accounted for by a stored database.

#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/base/AError.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// An iPod's journal, read from the iPod, empty.
class IPodJournalTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(journal.Read(root), 0); }
    // An entry of an added song file.
    static IPodJournal::Entry Added(const char* file)
    {
        IPodJournal::Entry entry;
        entry.location = AString("/iPod_Control/Music/F01/") + file;
        return entry;
    }
    // The locations of the entries the file holds.
    std::vector<AString> Read(int expected = 0) const
    {
        IPodJournal next;
        EXPECT_EQ(next.Read(root), expected);
        std::vector<AString> read;
        for (const IPodJournal::Entry& written : next.Entries())
            read.push_back(written.location);
        return read;
    }

    fixtures::TempDir volumes;
    const AString root = AString::FromUTF8(fixtures::MakeIPod(volumes.Path(), "POD"));
    const std::string path = IPodJournal::PathOf(root).ToStdString();
    IPodJournal journal;
};

} // namespace

TEST_F(IPodJournalTest, EntriesReadBackAsWritten)
{
    EXPECT_TRUE(journal.IsEmpty());
    IPodJournal::Entry added = Added("ABCD.mp3");
    added.size = 123456789012ULL;
    added.artist = AString::FromUTF8("Bj\xC3\xB6rk");
    added.name = "Song";
    IPodJournal::Entry removed = Added("WXYZ.m4a");
    removed.kind = IPodJournal::Kind::kRemoved;
    removed.move = true;
    ASSERT_EQ(journal.Add(added), 0);
    ASSERT_EQ(journal.Add(removed), 0);

    IPodJournal again;
    ASSERT_EQ(again.Read(root), 0);
    ASSERT_EQ(again.Entries().size(), 2u);
    const IPodJournal::Entry& first = again.Entries()[0];
    EXPECT_EQ(first.kind, IPodJournal::Kind::kAdded);
    EXPECT_EQ(first.size, 123456789012ULL);
    EXPECT_EQ(first.location, added.location);
    EXPECT_EQ(first.artist, added.artist);
    EXPECT_EQ(first.name, "Song");
    EXPECT_EQ(again.Entries()[1].kind, IPodJournal::Kind::kRemoved);
    EXPECT_TRUE(again.Entries()[1].move);
    // Pending in the file until the batch is settled, as a process that stops leaves it.
    EXPECT_TRUE(first.pending);
    EXPECT_TRUE(journal.Unsettled());
    ASSERT_EQ(journal.Copied(100), 0);
    ASSERT_EQ(journal.Settle(), 0);
    EXPECT_FALSE(journal.Unsettled());
    IPodJournal settled;
    ASSERT_EQ(settled.Read(root), 0);
    ASSERT_EQ(settled.Entries().size(), 2u);
    EXPECT_FALSE(settled.Entries()[0].pending);

    // Cut anywhere inside the second entry: the first is still read.
    auto bytes = fixtures::ReadFile(path);
    for (std::size_t cut : {bytes.size() - 1, bytes.size() - 20, bytes.size() - 40}) {
        fixtures::WriteFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
        EXPECT_EQ(Read(kErrUnknown), std::vector<AString>{added.location}) << cut;
    }
    // A string length far beyond what is there is damage, not an allocation.
    bytes[4 + 10] = 0xFF;
    bytes[4 + 10 + 3] = 0x7F;
    fixtures::WriteFile(path, bytes);
    Read(kErrUnknown);

    ASSERT_EQ(again.Set({}), 0);
    EXPECT_FALSE(fixtures::Exists(path));
}

TEST_F(IPodJournalTest, CopiesAreFlushedTogetherOnceABatchIsFull)
{
    struct Case {
        int copies;
        std::uint64_t bytesEach;
        bool unsettled;
    };
    const std::uint64_t big = IPodJournal::kBatchBytes;
    for (const Case& c : {Case{1, 1000, true}, Case{IPodJournal::kBatchSongs - 1, 1000, true},
                          Case{IPodJournal::kBatchSongs, 1000, false}, Case{2, big / 2 - 1, true},
                          Case{2, big / 2, false}, Case{1, big, false}}) {
        IPodJournal batch;
        ASSERT_EQ(batch.Read(root), 0);
        for (int i = 0; i < c.copies; ++i)
            ASSERT_EQ(batch.Copied(c.bytesEach), 0);
        EXPECT_EQ(batch.Unsettled(), c.unsettled) << c.copies << " copies of " << c.bytesEach;
    }
}

TEST_F(IPodJournalTest, AFlushThatFailedFailsEveryLaterOne)
{
    ASSERT_EQ(journal.Copied(1000), 0);
    // The volume gone while the batch waits: what it held may be lost, so the journal never again
    // reports the copies as on the disk, not even once the volume is back.
    const std::string mounted = root.ToStdString(), away = volumes / "away";
    std::filesystem::rename(mounted, away);
    EXPECT_EQ(journal.Settle(), kErrIO);
    std::filesystem::rename(away, mounted);
    EXPECT_EQ(journal.Settle(), kErrIO);
    EXPECT_TRUE(journal.Unsettled());
}

TEST_F(IPodJournalTest, ThePlaysMarkOutlivesEveryOtherChangeOfTheJournal)
{
    const IPodJournal::PlaysMark mark{0x12345678u, 0x9ABCDEF0u};
    ASSERT_EQ(journal.MarkPlays(mark), 0);
    ASSERT_EQ(journal.Add(Added("ABCD.mp3")), 0);
    ASSERT_EQ(journal.Settle(), 0);
    ASSERT_EQ(journal.Set({}), 0); // as a store that accounts for every file does
    EXPECT_EQ(IPodJournal::ReadPlaysMark(root), mark);
    IPodJournal again;
    ASSERT_EQ(again.Read(root), 0);
    EXPECT_TRUE(again.IsEmpty());
    ASSERT_EQ(again.ClearPlays(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// The same file, grown: not a new file written whole for every song.
TEST_F(IPodJournalTest, AnEntryIsWrittenAtTheEndOfTheFileItJoins)
{
    ASSERT_EQ(journal.Add(Added("AAAA.mp3")), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(journal.Add(Added("BBBB.mp3")), 0);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_GT(after.st_size, before.st_size);
}

// What the file holds after an entry is added, whatever happened to it before: exactly the entries
// the journal keeps, readable without damage.
TEST_F(IPodJournalTest, AnEntryTakesThePlaceOfOneWhoseCopyFailed)
{
    ASSERT_EQ(journal.Add(Added("AAAA.mp3")), 0);
    ASSERT_EQ(journal.Add(Added("BBBB.mp3")), 0);
    journal.ForgetLast();
    ASSERT_EQ(journal.Add(Added("CCCC.mp3")), 0);
    EXPECT_EQ(Read(), (std::vector<AString>{Added("AAAA.mp3").location, Added("CCCC.mp3").location}));
}

TEST_F(IPodJournalTest, BytesAnotherWriterAppendedAreNotReadAsAnEntry)
{
    ASSERT_EQ(journal.Add(Added("AAAA.mp3")), 0);
    std::vector<std::uint8_t> bytes = fixtures::ReadFile(path);
    bytes.insert(bytes.end(), {1, 0, 9, 9});
    fixtures::WriteFile(path, bytes);
    ASSERT_EQ(journal.Add(Added("BBBB.mp3")), 0);
    EXPECT_EQ(Read(), (std::vector<AString>{Added("AAAA.mp3").location, Added("BBBB.mp3").location}));
}

TEST_F(IPodJournalTest, AnAddCutShortByAFullVolumeLeavesTheEntriesBefore)
{
    ASSERT_EQ(journal.Add(Added("AAAA.mp3")), 0);
    // The volume fills up a few bytes into the entry.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(path) + 5);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_EQ(journal.Add(Added("BBBB.mp3")), kErrIO);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(Read(), std::vector<AString>{Added("AAAA.mp3").location});
}
