// Feeds arbitrary bytes, as the content of an iPod's state file, to ASyncGroup::ReadState: the
// group's record with its syncs, their source records (folders of songs, iPod databases with whole
// databases inside), their file lists and strings. Bad bytes must give an error code, never a crash,
// a hang or an allocation larger than the file. A record that reads must write back and read again
// to the same bytes.

#include "ACommon/AFile.h"
#include "ACommon/ASyncGroup.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Scratch {
    std::string input;
    std::string output;
    Scratch()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelorin-fuzz-group-" + std::to_string(getpid());
        input = base + ".in";
        output = base + ".out";
    }
    ~Scratch()
    {
        unlink(input.c_str());
        unlink(output.c_str());
    }
};

Scratch& Files()
{
    static Scratch scratch;
    return scratch;
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(file)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(file);
    }
    return bytes;
}

// Writes `group` to the output file and returns its bytes.
std::vector<uint8_t> Written(ASyncGroup& group)
{
    unlink(Files().output.c_str());
    AString path = AString::FromUTF8(Files().output);
    AFile out;
    if (out.Open(&path, 2) != 0)
        std::abort();
    if (group.WriteState(&out) != 0)
        std::abort();
    out.Close(0);
    return ReadBytes(Files().output);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteBytes(Files().input, data, size);
    AString path = AString::FromUTF8(Files().input);
    AFile in;
    if (in.Open(&path, 1) != 0)
        std::abort();
    ASyncGroup group;
    if (group.ReadState(&in) != 0)
        return 0;
    // Writing empties the current lists (they are never stored), so compare a second generation.
    std::vector<uint8_t> first = Written(group);
    ASyncGroup again;
    AString written = AString::FromUTF8(Files().output);
    AFile back;
    if (back.Open(&written, 1) != 0 || again.ReadState(&back) != 0)
        std::abort();
    back.Close(0);
    if (Written(again) != first)
        std::abort();
    return 0;
}
