// Reads and writes kept in memory: a file open for reading only serves small reads from the block
// it read ahead, and a file ReplaceSafely writes keeps back what it is given; every mix of reads,
// writes and seeks gives the file's bytes, and the end of the file is where it is.

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kBlock = AFile::kReadAhead;
constexpr unsigned kSize = 2 * kBlock + 100;

std::string Content()
{
    std::string bytes(kSize, '\0');
    for (unsigned i = 0; i < kSize; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

struct Step {
    unsigned long long seek; // where the read starts
    unsigned n;              // bytes asked for
    bool withGot;            // the form that takes what is there
    int err;                 // expected result
    unsigned got;            // bytes expected
};

// Every step also checks what remains to the end from where the read left off.
TEST(AFileReadAhead, ReadsGiveTheFileBytesWhereverTheyStart)
{
    fixtures::TempDir dir;
    const std::string content = Content();
    fixtures::WriteFile(dir / "f", content);
    const AString path = dir.A("f");
    AFile file;
    ASSERT_EQ(file.Open(&path, 1), 0);
    const Step steps[] = {
        {0, 0, true, 0, 0},                              // nothing, before any block: no buffer needed
        {0, 0, false, 0, 0},                             // the same without the count
        {0, 4, false, 0, 4},                             // fills the first block
        {4, 8, false, 0, 8},                             // from the block
        {kBlock - 2, 4, false, 0, 4},                    // across the end of the block
        {10, 100, false, 0, 100},                        // back before the block now held
        {kBlock + 5, 10000, true, 0, 10000},             // a large read, past the block
        {20, 3, false, 0, 3},                            // a small one after it
        {kSize - 3, 4, false, kErrEndOfFile, 0},         // beyond the end: nothing
        {kSize - 3, 4, true, 0, 3},                      // what is there
        {kSize, 1, true, 0, 0},                          // at the end
        {kSize + 10, 2, false, kErrEndOfFile, 0},        // past the end
        {kBlock - 1, 3 * kBlock, true, 0, kBlock + 101}, // one large read to the end
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.seek) + "+" + std::to_string(step.n));
        file.Seek(step.seek);
        std::vector<char> buffer(step.n, '\x5a'); // empty: no buffer at all
        unsigned got = 0;
        ASSERT_EQ(file.Read(buffer.data(), step.n, step.withGot ? &got : nullptr), step.err);
        if (!step.withGot)
            got = step.err == 0 ? step.n : 0;
        EXPECT_EQ(got, step.got);
        EXPECT_EQ(std::string(buffer.data(), got),
                  content.substr(std::min<std::size_t>(step.seek, kSize), got));
        EXPECT_EQ(file.GetFilePos(), step.seek + got); // a refused read leaves the position
        EXPECT_EQ(file.Remaining(), step.seek + got < kSize ? kSize - step.seek - got : 0);
    }
}

struct Write {
    unsigned long long at;
    std::string bytes;
};

} // namespace

TEST(AFileWriteBehind, AReplacedFileHoldsEveryWriteWhereverItWent)
{
    const std::string big(AFile::kWriteBehind + 10, 'b');
    const std::vector<std::vector<Write>> cases = {
        {{0, "abc"}, {3, "def"}},              // in order
        {{0, "abcdef"}, {1, "XY"}, {6, "gh"}}, // back over what is kept, then on
        {{0, big}, {2, "cc"}},                 // past the block, then into it
        {{4, "tail"}, {0, "head"}},            // a hole filled afterwards
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::string expected;
        for (const Write& write : cases[i]) {
            if (expected.size() < write.at + write.bytes.size())
                expected.resize(write.at + write.bytes.size(), '\0');
            expected.replace(write.at, write.bytes.size(), write.bytes);
        }
        fixtures::TempDir dir;
        const AString path = dir.A("f");
        unsigned long long end = 0;
        ASSERT_EQ(AFile::ReplaceSafely(&path,
                                       [&](AFile* f) {
                                           for (const Write& write : cases[i]) {
                                               f->Seek(write.at);
                                               if (int err =
                                                       f->Write(write.bytes.data(),
                                                                static_cast<unsigned>(write.bytes.size()));
                                                   err != 0)
                                                   return err;
                                           }
                                           end = f->GetEOF();
                                           return 0;
                                       }),
                  0);
        EXPECT_EQ(end, expected.size());
        EXPECT_EQ(fixtures::ReadText(dir / "f"), expected);
    }
}

TEST(AFileReadAhead, EachFileReadsOnlyItsOwnBytesAfterOthers)
{
    fixtures::TempDir dir;
    const std::string content = Content();
    // Longer and shorter than the block, one of its size and an empty one, each after the other.
    const std::size_t sizes[] = {kSize, 10, kBlock, 0, 3, kBlock + 1};
    auto readAll = [&dir, &content](std::size_t i, std::size_t size) {
        const std::string name = "f" + std::to_string(i);
        fixtures::WriteFile(dir / name, content.substr(i, size));
        const AString path = dir.A(name);
        AFile file;
        ASSERT_EQ(file.Open(&path, 1), 0);
        std::string bytes;
        char buffer[1000];
        for (unsigned got = 1; got > 0;) {
            ASSERT_EQ(file.Read(buffer, sizeof buffer, &got), 0);
            bytes.append(buffer, got);
        }
        EXPECT_EQ(bytes, content.substr(i, size)) << name;
    };
    for (std::size_t i = 0; i < std::size(sizes); ++i)
        readAll(i, sizes[i]);
    std::thread other([&] { readAll(std::size(sizes), 20); });
    other.join();
}
