#pragma once
// Songs in a folder and iPods under a volumes folder, in a temporary folder, and the sessions that
// sync them with their state in tmp/state.

#include "ACommon/sync/SyncSession.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace syncruns {

struct SongsAndIPods {
    // Each song in tmp/Songs under its title.
    explicit SongsAndIPods(const std::vector<fixtures::SongSpec>& songs)
    {
        for (const fixtures::SongSpec& song : songs)
            fixtures::WriteSong(tmp / ("Songs/" + song.title + ".mp3"), song);
    }
    MountedIPod IPod(const std::string& volume, const fixtures::IPodOptions& options = {})
    {
        MountedIPod pod;
        const std::string root = fixtures::MakeIPod(tmp / "Volumes", volume, options);
        EXPECT_TRUE(MountedIPod::Read(AString::FromUTF8(root), &pod));
        return pod;
    }
    // Opens `session` between the folder `songs` of tmp and `pod`.
    int Open(SyncSession& session, const MountedIPod& pod, const std::string& songs = "Songs")
    {
        return session.OpenIPod(ADir::kTypeSongFolder, tmp.A(songs), pod, tmp.A("state"));
    }
    // One run of `session` between the songs and `pod` with `settings`.
    SyncSession::Outcome Run(SyncSession& session, const MountedIPod& pod,
                             const SyncSession::Settings& settings = {})
    {
        EXPECT_EQ(Open(session, pod), 0);
        session.Apply(settings);
        return session.Run(nullptr, nullptr);
    }

    fixtures::RecordingFrontend frontend;
    fixtures::TempDir tmp;
};

} // namespace syncruns
