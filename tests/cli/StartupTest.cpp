// What a run loads before it does anything.

#include "fixtures/RunCommand.h"

#include <gtest/gtest.h>

#include <string>

// FFmpeg and the hundred libraries it needs are loaded only when a song is converted.
TEST(Startup, FFmpegIsNotLoaded)
{
    const fixtures::CommandResult run = fixtures::RunPelorin({"--version"}, "", {"LD_DEBUG=files"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    ASSERT_NE(run.err.find("file=libc.so"), std::string::npos) << "the loader reported nothing";
    EXPECT_EQ(run.err.find("libavcodec"), std::string::npos);
}
