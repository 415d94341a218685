#pragma once
// Scratch files for the fuzz targets whose readers take an open file: one input and one output file
// per process, rewritten for every input and removed at exit.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

class FuzzScratch {
public:
    explicit FuzzScratch(const char* name)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelorin-fuzz-" + name + "-" +
                           std::to_string(getpid());
        input = base + ".in";
        output = base + ".out";
    }
    ~FuzzScratch()
    {
        unlink(input.c_str());
        unlink(output.c_str());
    }

    // Writes the fuzzer's bytes to the input file and opens it for reading.
    void OpenInput(const std::uint8_t* data, std::size_t size, AFile& file)
    {
        FILE* out = std::fopen(input.c_str(), "wb");
        if (!out || (size > 0 && std::fwrite(data, 1, size, out) != size))
            std::abort();
        std::fclose(out);
        Open(input, file);
    }

    // Opens the output file for reading.
    void OpenOutput(AFile& file) { Open(output, file); }

    // Replaces the output file with what `record` writes with WriteState.
    template <typename Record> void WriteOutput(Record& record)
    {
        AString name = AString::FromUTF8(output);
        if (AFile::ReplaceSafely(
                &name, [&](AFile* f) { return record.WriteState(f); }, false) != 0)
            std::abort();
    }

    // Writes `record` to the output file with WriteState and returns the bytes written.
    template <typename Record> std::vector<std::uint8_t> Written(Record& record)
    {
        WriteOutput(record);
        std::vector<std::uint8_t> bytes;
        if (FILE* in = std::fopen(output.c_str(), "rb")) {
            for (int c; (c = std::fgetc(in)) != EOF;)
                bytes.push_back(static_cast<std::uint8_t>(c));
            std::fclose(in);
        }
        return bytes;
    }

private:
    static void Open(const std::string& path, AFile& file)
    {
        AString name = AString::FromUTF8(path);
        if (file.Open(&name, 1) != 0)
            std::abort();
    }

    std::string input;
    std::string output;
};

// Reads the fuzzer's bytes as the state record of a `Record` (made by `make`). A record that reads
// must write back and read again to the same bytes; writing may drop what is never stored (the
// current lists of a sync), so the second generation is compared with the first.
template <typename Make>
void CheckStateRoundTrip(FuzzScratch& scratch, const std::uint8_t* data, std::size_t size, Make make)
{
    AFile in;
    scratch.OpenInput(data, size, in);
    auto record = make();
    if (record->ReadState(&in) != 0)
        return;
    std::vector<std::uint8_t> first = scratch.Written(*record);
    auto again = make();
    AFile back;
    scratch.OpenOutput(back);
    if (again->ReadState(&back) != 0)
        std::abort();
    back.Close(0);
    if (scratch.Written(*again) != first)
        std::abort();
}
