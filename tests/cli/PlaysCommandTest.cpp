// `pelorin library plays`: the plays the library recorded, exported since a date as JSON lines or
// CSV. (How plays come back from an iPod is checked on the library's side: PlaysBack.)

#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(PlaysCommand, PlaysAreExportedSinceADateAsJsonLinesOrCsv)
{
    fixtures::TempDir tmp;
    const std::vector<std::string> env = fixtures::EnvironmentIn(tmp.Path());
    fixtures::WriteSong(tmp / "Songs/One.mp3", fixtures::SongSpecOf("One"));
    ASSERT_EQ(fixtures::RunPelorin({"library", "add", tmp / "Songs/One.mp3"}, "", env).exitStatus, 0);
    // Three plays recorded at 2026-12-13T09:46:40Z.
    const std::string track = " of first track of playlist \"Library\" whose name = \"One\"";
    ASSERT_EQ(fixtures::RunPelorin({"library", "script"},
                                   "tell application \"iTunes\"\n set played date" + track +
                                       " to 1797155200\n set played count" + track + " to 3\n end tell\n",
                                   env)
                  .exitStatus,
              0);
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        std::string expected;
    };
    const std::string json = "{\"playedDate\": \"2026-12-13T09:46:40Z\", \"plays\": 3";
    for (const Case& c :
         {Case{{"--since", "2026-12-13"}, 0, json}, Case{{"--since", "2026-12-13T09:46:40Z"}, 0, json},
          Case{{"--since", "2026-12-13T09:46:41Z"}, 0, ""},
          Case{{"--since", "2026-12-01", "--csv"},
               0,
               "playedDate,plays,databaseID,artist,album,name\r\n2026-12-13T09:46:40Z,3,"},
          Case{{"--since", "yesterday"}, 2, ""}}) {
        std::vector<std::string> args{"library", "plays"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const fixtures::CommandResult run = fixtures::RunPelorin(args, "", env);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.args[1] << run.err;
        if (c.expected.empty())
            EXPECT_EQ(run.out, "") << c.args[1];
        else
            EXPECT_EQ(run.out.rfind(c.expected, 0), 0u) << c.args[1] << ": " << run.out;
    }
}
