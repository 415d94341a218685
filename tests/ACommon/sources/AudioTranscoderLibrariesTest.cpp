// FFmpeg's libraries are loaded when first needed: one that cannot be used is named, never a crash.

#include "ACommon/sources/AudioTranscoder.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(AudioTranscoderLibraries, UnusableLibraryIsNamed)
{
    const struct {
        std::vector<std::string> sonames;
        const char* detail;
    } rows[] = {
        {{"libavformat.so.0-absent", "libavcodec.so.0-absent", "libswresample.so.0-absent",
          "libavutil.so.0-absent"},
         "FFmpeg's libavformat.so.0-absent is not installed (libavformat.so.0-absent: cannot open"},
        // Loads, but holds none of FFmpeg's functions.
        {{"libc.so.6", "libc.so.6", "libc.so.6", "libc.so.6"},
         "FFmpeg's libc.so.6 has no avformat_close_input"},
    };
    for (const auto& row : rows) {
        AError::ClearFailure();
        EXPECT_EQ(AudioTranscoder::TryLibraries(row.sonames), kErrNotSupported) << row.detail;
        EXPECT_NE(AError::FailureDetail(kErrNotSupported).ToStdString().find(row.detail), std::string::npos)
            << AError::FailureDetail(kErrNotSupported).ToStdString();
    }
}
