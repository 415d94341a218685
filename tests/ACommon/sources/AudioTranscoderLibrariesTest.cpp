// FFmpeg's libraries are loaded when a song is first converted: on a system where they cannot be
// used, the conversion fails naming the library, never a crash.

#include "ACommon/sources/AudioTranscoder.h"
#include "ACommon/sources/SongConverter.h"

#include "ACommon/base/AError.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Run in a fresh process of its own, where no conversion has loaded the libraries yet.
[[noreturn]] void ConvertWith(const std::vector<std::string>& sonames, const std::string& detail)
{
    AudioTranscoder::UseLibraries(sonames);
    fixtures::TempDir dir;
    fixtures::WriteSong(dir / "a.flac", fixtures::SongSpecOf("Lossless", 0, 1, "A"));
    SongConverter::Options options;
    options.cacheFolder = dir / "cache";
    options.threads = 1;
    SongConverter converter(options);
    converter.Prefetch({dir.A("a.flac")});
    AString out;
    converter.FileForIPod(dir.A("a.flac"), out, nullptr);
    // Asked again, the song's failed conversion is the job's: its reason came from whichever thread ran it.
    AError::ClearFailure();
    const int err = converter.FileForIPod(dir.A("a.flac"), out, nullptr);
    const std::string noted = AError::FailureDetail(kErrNotSupported).ToStdString();
    std::fprintf(stderr, "%d %s\n", err, noted.c_str());
    std::exit(err == kErrNotSupported && noted.find(detail) != std::string::npos ? 0 : 1);
}

TEST(AudioTranscoderLibraries, UnusableLibraryIsNamed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        std::vector<std::string> sonames;
        std::string detail;
    } rows[] = {
        {{"libavformat.so.0-absent", "libavcodec.so.0-absent", "libswresample.so.0-absent",
          "libavutil.so.0-absent"},
         ".flac: FFmpeg's libavformat.so.0-absent is not installed (libavformat.so.0-absent: cannot open"},
        // Loads, but holds none of FFmpeg's functions.
        {{"libc.so.6", "libc.so.6", "libc.so.6", "libc.so.6"},
         "FFmpeg's libc.so.6 has no avformat_close_input"},
    };
    for (const auto& row : rows)
        EXPECT_EXIT(ConvertWith(row.sonames, row.detail), testing::ExitedWithCode(0), "") << row.detail;
}

} // namespace
