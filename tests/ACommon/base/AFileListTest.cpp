#include "ACommon/base/AFileList.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
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

Bytes ArrayHeader(std::uint32_t count)
{
    Bytes bytes;
    fixtures::PutU32LE(bytes, 0x00100001);
    fixtures::PutU32LE(bytes, count);
    return bytes;
}

// A record's 12 bytes: the time, then the low 32 bits of the size.
Bytes InfoBlock(std::uint64_t time, std::uint32_t size = 0)
{
    Bytes bytes;
    fixtures::PutU32LE(bytes, 12);
    fixtures::PutU64LE(bytes, time);
    fixtures::PutU32LE(bytes, size);
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

TEST(AFileList, RecordsTakeTheTimeOfTheFileUnderTheRoot)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "Music/a.mp3", "x");
    fixtures::SetModTime(dir / "Music/a.mp3", 1000000000);
    fixtures::WriteFile(dir / "b.mp3", "x");
    fixtures::SetModTime(dir / "b.mp3", 1100000000);

    AFileList list;
    AString root = dir.A("Music"), slashed = dir.A("Music/");
    list.SetRootPath(&root);
    EXPECT_EQ(list.GetRootPath(), slashed) << "the root ends with one slash";
    EXPECT_EQ(list.Add(new AString("a.mp3")), 0);
    EXPECT_EQ(list.Add(new AString("missing.mp3")), 1);
    EXPECT_EQ(list.GetModTime(0), 1000000000u + AFile::kFileTimeOffset);
    EXPECT_EQ(list.GetModTime(1), 0u) << "a missing file has no date";

    AFileList rootless;
    rootless.Add(new AString(dir.A("b.mp3")));
    EXPECT_EQ(rootless.GetModTime(0), 1100000000u + AFile::kFileTimeOffset)
        << "with no root the path is used as it is";
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

TEST_F(AFileListState, WriteStateIsMarkRootCountInfoBlocksThenPaths)
{
    AFileList list;
    AString root("/M");
    list.SetRootPath(&root);
    list.AddWithTime(new AString("b"), 0x0102030405060708ull);
    list.AddWithTime(new AString("\xC3\xA9"), 7, 0x1122334455ull);
    Bytes expected =
        fixtures::Concat({ListMark(), StringRecord(u"/M/"), ArrayHeader(2), InfoBlock(0x0102030405060708ull),
                          InfoBlock(7, 0x22334455u), StringRecord(u"b"), StringRecord(u"\u00E9")});
    EXPECT_EQ(fixtures::BytesWrittenBy(path, [&](AFile* f) { return list.WriteState(f); }), expected);
    list.DeleteAll();
    EXPECT_EQ(fixtures::BytesWrittenBy(path, [&](AFile* f) { return list.WriteState(f); }),
              fixtures::Concat({ListMark(), StringRecord(u"/M/"), ArrayHeader(0)}));
}

TEST_F(AFileListState, ReadStateReplacesTheListWithTheStoredOne)
{
    AFileList list;
    list.AddWithTime(new AString("old"), 1);
    // The last four bytes of a record are the low bits of the size; lists saved before sizes were
    // kept have 0 there.
    Bytes spare = InfoBlock(6, 0xABABABABu);
    Bytes bytes = fixtures::Concat({ListMark(), StringRecord(u"/M/"), ArrayHeader(2), InfoBlock(5), spare,
                                    StringRecord(u"a"), StringRecord(u"b")});
    ASSERT_EQ(Read(list, bytes), 0);
    EXPECT_EQ(list.GetRootPath(), "/M/");
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.GetModTime(0), 5u);
    EXPECT_EQ(list.GetModTime(1), 6u);
    EXPECT_EQ(list.GetSize(0), 0u);
    EXPECT_EQ(list.GetSize(1), 0xABABABABu);
    // Empty paths written without a byte-order mark: 6-byte string records (mark, length 0).
    bytes = fixtures::Concat({ListMark(), StringRecord(u""), ArrayHeader(2), InfoBlock(1), InfoBlock(2),
                              Bytes{0x00, 0x00, 0x10, 0x00, 0, 0, 0x00, 0x00, 0x10, 0x00, 0, 0}});
    ASSERT_EQ(Read(list, bytes), 0);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"", ""}));
}

// (Cuts and another mark are refused as for every state record.)
TEST_F(AFileListState, FailuresLeaveNoRecordWithoutAPath)
{
    struct Case {
        const char* what;
        Bytes bytes;
        int expected;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"wrong array mark",
         fixtures::Concat({ListMark(), StringRecord(u""), ListMark(), Bytes{0, 0, 0, 0}}),
         kErrVersion,
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
