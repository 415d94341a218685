#include "ACommon/AFileList.h"

#include "ACommon/AError.h"
#include "ACommon/AFile.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

using fixtures::Bytes;

namespace {

std::vector<std::string> Paths(const AFileList& list)
{
    std::vector<std::string> paths;
    for (int i = 0; i < list.Count(); ++i)
        paths.push_back(list.Get(i)->ToStdString());
    return paths;
}

constexpr std::uint64_t kFileTimeOffset = 2082830400;

Bytes ArrayHeader(std::uint32_t count)
{
    Bytes bytes;
    fixtures::PutU32LE(bytes, 0x00100001);
    fixtures::PutU32LE(bytes, count);
    return bytes;
}

Bytes InfoBlock(std::uint64_t time)
{
    Bytes bytes;
    fixtures::PutU32LE(bytes, 12);
    fixtures::PutU64LE(bytes, time);
    fixtures::PutU32LE(bytes, 0);
    return bytes;
}

Bytes StringRecord(const std::u16string& units)
{
    Bytes bytes;
    fixtures::PutStringRecord(bytes, units);
    return bytes;
}

Bytes ListMark() { return Bytes{0x00, 0x00, 0x10, 0x00}; }

} // namespace

TEST(AFileList, SetRootPathEndsTheRootWithOneSlash)
{
    struct Case {
        const char* in;
        const char* expected;
    };
    for (auto [in, expected] : {Case{"Music", "Music/"}, {"Music/", "Music/"}, {"", ""}, {"/a/b", "/a/b/"}}) {
        AFileList list;
        AString root(in);
        list.SetRootPath(&root);
        EXPECT_EQ(list.GetRootPath(), expected) << in;
    }
}

TEST(AFileList, RecordsTakeTheTimeOfTheFileUnderTheRoot)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "Music/a.mp3", "x");
    fixtures::SetModTime(dir / "Music/a.mp3", 1000000000);
    fixtures::WriteFile(dir / "b.mp3", "x");
    fixtures::SetModTime(dir / "b.mp3", 1100000000);

    AFileList list;
    AString root = dir.A("Music");
    list.SetRootPath(&root);
    EXPECT_EQ(list.Add(new AString("a.mp3")), 0);
    EXPECT_EQ(list.Add(new AString("missing.mp3")), 1);
    EXPECT_EQ(list.GetModTime(0), 1000000000u + kFileTimeOffset);
    EXPECT_EQ(list.GetModTime(1), 0u) << "a missing file has no date";

    AFileList rootless;
    rootless.Add(new AString(dir.A("b.mp3")));
    EXPECT_EQ(rootless.GetModTime(0), 1100000000u + kFileTimeOffset)
        << "with no root the path is used as it is";

    list.Replace(new AString("a.mp3"), 1);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"a.mp3", "a.mp3"}));
    EXPECT_EQ(list.GetModTime(1), 1000000000u + kFileTimeOffset);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 1);
    list.DeleteAll();
    EXPECT_EQ(list.Count(), 0);
}

TEST(AFileList, SortIgnoresCaseAndKeepsCanonicalFormsTogether)
{
    AFileList list;
    for (const char* p : {"b.mp3", "A.mp3", "c.mp3"})
        list.AddWithTime(new AString(p), 0);
    list.Sort(1);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"A.mp3", "b.mp3", "c.mp3"}));
    list.Sort(0);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"c.mp3", "b.mp3", "A.mp3"}));

    // The composed and the decomposed é are one letter: both sort between "e" and "f".
    AFileList accents;
    for (const char* p : {"f", "Caf\xC3\xA9/2", "cafe\xCC\x81/1", "cafe", "CAFF"})
        accents.AddWithTime(new AString(p), 0);
    accents.Sort(1);
    EXPECT_EQ(Paths(accents),
              (std::vector<std::string>{"cafe", "cafe\xCC\x81/1", "Caf\xC3\xA9/2", "CAFF", "f"}));
}

TEST(AFileList, TheComparisonsOrderRecords)
{
    AFileList::AFileInfo a{0, new AString("a")}, b{0, new AString("B")};
    EXPECT_EQ(AFileList::CompareAscending(&a, &b), -1);
    EXPECT_EQ(AFileList::CompareDescending(&a, &b), 1);
    EXPECT_EQ(AFileList::CompareAscending(&a, &a), 0);
    delete a.path;
    delete b.path;
}

class AFileListState : public ::testing::Test {
protected:
    fixtures::TempDir dir;
    std::string path = dir / "state";

    int Read(AFileList& list, const Bytes& bytes)
    {
        AFile f;
        if (fixtures::OpenWith(f, path, bytes) != 0)
            return -1;
        return list.ReadState(&f);
    }
};

TEST_F(AFileListState, AnEmptyListIsMarkRootArrayMarkAndZeroCount)
{
    AFileList list;
    AString root("/r");
    list.SetRootPath(&root);
    Bytes expected = fixtures::Concat({ListMark(), StringRecord(u"/r/"), ArrayHeader(0)});
    EXPECT_EQ(fixtures::BytesWrittenBy(path, [&](AFile* f) { return list.WriteState(f); }), expected);
}

TEST_F(AFileListState, WriteStateLayout)
{
    AFileList list;
    AString root("/M");
    list.SetRootPath(&root);
    list.AddWithTime(new AString("b"), 0x0102030405060708ull);
    list.AddWithTime(new AString("\xC3\xA9"), 7);
    Bytes expected =
        fixtures::Concat({ListMark(), StringRecord(u"/M/"), ArrayHeader(2), InfoBlock(0x0102030405060708ull),
                          InfoBlock(7), StringRecord(u"b"), StringRecord(u"\u00E9")});
    EXPECT_EQ(fixtures::BytesWrittenBy(path, [&](AFile* f) { return list.WriteState(f); }), expected);
}

TEST_F(AFileListState, ReadStateReplacesTheListWithTheStoredOne)
{
    AFileList list;
    list.AddWithTime(new AString("old"), 1);
    Bytes bytes = fixtures::Concat({ListMark(), StringRecord(u"/M/"), ArrayHeader(2), InfoBlock(5),
                                    InfoBlock(6), StringRecord(u"a"), StringRecord(u"b")});
    ASSERT_EQ(Read(list, bytes), 0);
    EXPECT_EQ(list.GetRootPath(), "/M/");
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.GetModTime(0), 5u);
    EXPECT_EQ(list.GetModTime(1), 6u);
}

TEST_F(AFileListState, ReadStateAcceptsEmptyPathsWrittenWithoutAByteOrderMark)
{
    // Each record here takes 22 bytes: 16 in the array and a 6-byte string record (mark, length 0).
    Bytes bytes = fixtures::Concat(
        {ListMark(), StringRecord(u""), ArrayHeader(3), InfoBlock(1), InfoBlock(2), InfoBlock(3)});
    for (int i = 0; i < 3; ++i)
        bytes.insert(bytes.end(), {0x00, 0x00, 0x10, 0x00, 0, 0});
    AFileList list;
    ASSERT_EQ(Read(list, bytes), 0);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"", "", ""}));
}

TEST_F(AFileListState, ReadStateIgnoresTheSpareBytesOfEachRecord)
{
    Bytes info = InfoBlock(9);
    std::fill(info.end() - 4, info.end(), 0xAB);
    Bytes bytes = fixtures::Concat({ListMark(), StringRecord(u""), ArrayHeader(1), info, StringRecord(u"x")});
    AFileList list;
    ASSERT_EQ(Read(list, bytes), 0);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"x"}));
    EXPECT_EQ(list.GetModTime(0), 9u);
}

TEST_F(AFileListState, FailuresLeaveNoRecordWithoutAPath)
{
    struct Case {
        const char* what;
        Bytes bytes;
        int expected;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"array mark as list mark", fixtures::Concat({ArrayHeader(0)}), kErrVersion, {}},
        {"wrong array mark",
         fixtures::Concat({ListMark(), StringRecord(u""), ListMark(), Bytes{0, 0, 0, 0}}),
         kErrVersion,
         {}},
        {"count past the end",
         fixtures::Concat({ListMark(), StringRecord(u""), ArrayHeader(1000), InfoBlock(1)}),
         kErrEndOfFile,
         {}},
        {"info block longer than the file",
         fixtures::Concat({ListMark(), StringRecord(u""), ArrayHeader(1), Bytes{64, 0, 0, 0}, Bytes(20, 0)}),
         kErrEndOfFile,
         {}},
        {"second path missing",
         fixtures::Concat({ListMark(), StringRecord(u""), ArrayHeader(2), InfoBlock(1), InfoBlock(2),
                           StringRecord(u"a"), Bytes(6, 0)}),
         kErrVersion,
         {"a"}},
    };
    for (const Case& c : cases) {
        AFileList list;
        list.AddWithTime(new AString("old"), 1);
        EXPECT_EQ(Read(list, c.bytes), c.expected) << c.what;
        EXPECT_EQ(Paths(list), c.paths) << c.what;
    }
}

TEST_F(AFileListState, AHugeCountIsRefusedBeforeAnythingIsReserved)
{
    Bytes bytes = fixtures::Concat(
        {ListMark(), StringRecord(u""), ArrayHeader(0xFFFFFFFF), InfoBlock(1), StringRecord(u"a")});
    AFileList list;
    int err = 0;
    std::uint64_t growth = fixtures::PeakMemoryGrowth([&] { err = Read(list, bytes); });
    EXPECT_EQ(err, kErrEndOfFile);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_LT(growth, 64u << 20);
}

TEST_F(AFileListState, WrittenListsReadBackAlike)
{
    AFileList list;
    AString root("/Volumes/iPod");
    list.SetRootPath(&root);
    for (int i = 0; i < 200; ++i) {
        AString* p = new AString("Artist/Album/Song ");
        *p += i;
        *p += ".mp3";
        list.AddWithTime(p, 3000000000ull + i);
    }
    fixtures::BytesWrittenBy(path, [&](AFile* f) { return list.WriteState(f); });
    AFileList back;
    AFile f;
    AString name = AString::FromUTF8(path);
    ASSERT_EQ(f.Open(&name, 1), 0);
    ASSERT_EQ(back.ReadState(&f), 0);
    EXPECT_EQ(back.GetRootPath(), "/Volumes/iPod/");
    EXPECT_EQ(Paths(back), Paths(list));
    EXPECT_EQ(back.GetModTime(199), 3000000199ull);
}
