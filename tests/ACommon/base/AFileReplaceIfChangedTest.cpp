// A file replaced only when its bytes change: the same bytes, however they are written, leave the
// file as it is; any difference writes the whole new file.

#include "ACommon/base/AFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Write {
    unsigned long long at;
    std::string bytes;
};

std::string Pattern(std::size_t size, char salt = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251 + salt);
    return bytes;
}

ino_t Inode(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

TEST(AFileReplaceIfChanged, OnlyDifferentBytesReplaceTheFile)
{
    const std::size_t block = AFile::kWriteBehind;
    const std::string large = Pattern(3 * block + 100);
    std::string lastByteChanged = large;
    lastByteChanged.back() ^= 1;
    struct Case {
        std::optional<std::string> old;
        std::vector<Write> writes;
        bool replaced;
    };
    const std::vector<Case> cases = {
        {"abc", {{0, "abc"}}, false},
        {large,
         {{0, large.substr(0, 10)},
          {10, large.substr(10, 2 * block)},
          {10 + 2 * block, large.substr(10 + 2 * block)}},
         false},
        // A header written first and again once the rest is known, with the same bytes.
        {large, {{0, large.substr(0, 4)}, {4, large.substr(4)}, {0, large.substr(0, 4)}}, false},
        {large, {{0, lastByteChanged}}, true},
        {large, {{0, large.substr(0, large.size() - 1)}}, true},
        {"abc", {{0, "abcd"}}, true},
        {std::nullopt, {{0, "abc"}}, true},
        {"", {}, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        fixtures::TempDir dir;
        if (c.old)
            fixtures::WriteFile(dir / "f", *c.old);
        const ino_t before = Inode(dir / "f");
        std::string expected;
        for (const Write& write : c.writes) {
            expected.resize(std::max<std::size_t>(expected.size(), write.at + write.bytes.size()), '\0');
            expected.replace(write.at, write.bytes.size(), write.bytes);
        }
        const AString path = dir.A("f");
        bool replaced = !c.replaced;
        ASSERT_EQ(AFile::ReplaceIfChanged(
                      &path,
                      [&](AFile* f) {
                          for (const Write& write : c.writes) {
                              f->Seek(write.at);
                              if (int err =
                                      f->Write(write.bytes.data(), static_cast<unsigned>(write.bytes.size()));
                                  err != 0)
                                  return err;
                          }
                          return 0;
                      },
                      &replaced),
                  0);
        EXPECT_EQ(replaced, c.replaced);
        EXPECT_EQ(Inode(dir / "f") != before, c.replaced);
        EXPECT_EQ(fixtures::ReadText(dir / "f"), expected);
        EXPECT_EQ(fixtures::ListFiles(dir.Path()).size(), 1u) << "no temporary file is left";
    }
}

// What a run killed while replacing the file left beside it goes, changed or not; a temporary file
// of a process still running, or of another file, stays.
TEST(AFileReplaceIfChanged, TheTemporaryFilesOfStoppedRunsGo)
{
    const std::string stale = ".f.pelorin-999999999-1.tmp";
    const std::string running = ".f.pelorin-" + std::to_string(getpid()) + "-999.tmp";
    const std::string other = ".g.pelorin-999999999-1.tmp";
    for (const std::string bytes : {"abc", "abcd"}) {
        fixtures::TempDir dir;
        for (const std::string& name : {std::string("f"), stale, running, other})
            fixtures::WriteFile(dir / name, "abc");
        const AString path = dir.A("f");
        ASSERT_EQ(
            AFile::ReplaceIfChanged(
                &path, [&](AFile* f) { return f->Write(bytes.data(), static_cast<unsigned>(bytes.size())); }),
            0);
        EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{running, other, "f"})) << bytes;
    }
}
