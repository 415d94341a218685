// What the room check costs: a plan that copies N generated songs from a folder onto an empty iPod
// (reached through its database) is made, then the bytes it copies to the iPod are summed as the
// check before copying and the window's capacity bar do (SyncSpace::PlannedChange), and the iPod's
// volume is measured. Prints the time of each beside the time of the plan itself.
//
//   build/bench/bench_space [songs]      (files go to $TMPDIR, removed afterwards)

#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/SyncSession.h"
#include "ACommon/sync/SyncSpace.h"
#include "ACommon/sync/SyncTally.h"
#include "bench/Seconds.h"
#include "fixtures/TempDir.h"
#include "samples/IPodTree.h"
#include "samples/SongFile.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using bench::Seconds;

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    fixtures::TempDir tmp;
    const double made = Seconds([&] {
        for (int i = 0; i < count; ++i) {
            samples::SongSpec song;
            song.title = "Song " + std::to_string(i);
            song.artist = "Artist " + std::to_string(i / 200);
            song.album = "Album " + std::to_string(i / 12);
            song.genre = "Rock";
            song.seed = static_cast<std::uint32_t>(i);
            song.seconds = 1;
            song.bitRate = 32;
            samples::WriteSong(tmp / ("Songs/" + song.artist + "/" + song.album + "/" + song.title + ".mp3"),
                               song);
        }
    });
    MountedIPod pod;
    if (!MountedIPod::Read(AString::FromUTF8(samples::MakeIPod(tmp / "Volumes", "POD", {})), &pod))
        return 1;
    SyncSession session;
    if (session.OpenIPod(ADir::kTypeSongFolder, tmp.A("Songs"), pod, tmp.A("state")) != 0)
        return 1;
    session.Apply(SyncSession::Settings());
    ASync* sync = session.GetSync();
    sync->SetPlanOnly(true);
    int planned = 0;
    const double plan = Seconds([&] { planned = sync->DoSync(nullptr); });
    SyncSpace::Change change;
    const double sum = Seconds([&] { change = SyncSpace::PlannedChange(*sync, 2); });
    SyncSpace::Volume volume;
    const double measure = Seconds([&] { volume = SyncSpace::Measure(sync->VolumePathOfSide(2)); });
    std::printf("songs %d (written in %.1f s), plan %d actions in %.2f s (result %d)\n", count, made,
                sync->GetActionCount(), plan, planned);
    std::printf("room check: %d copies, %s, summed in %.3f s; volume measured in %.6f s (%s)\n", change.files,
                SyncTally::FormatSize(change.adds).CStr(), sum, measure,
                SyncSpace::Describe(volume, &change).CStr());
    return 0;
}
