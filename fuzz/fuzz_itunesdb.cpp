// Arbitrary bytes as an iPod database: loaded with and without playlists, stored, loaded again
// (a database this program wrote must read back to the same bytes), and as an IPodDB state record,
// after which the lookups, the sorted view, removal and the shuffle file run on what was read.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void RoundTrip(const std::uint8_t* data, std::size_t size, signed char withPlaylists)
{
    MHBD db;
    ByteReader in(data, size);
    if (db.Load(in, withPlaylists, nullptr, nullptr) != 0)
        return;
    ByteWriter first;
    db.Store(first);
    if (first.Size() != db.GetTotalSize())
        std::abort();
    MHBD again;
    ByteReader back(first.Bytes().data(), first.Size());
    if (again.Load(back, withPlaylists, nullptr, nullptr) != 0)
        std::abort();
    ByteWriter second;
    again.Store(second);
    if (second.Bytes() != first.Bytes())
        std::abort();
}

const AString& StatePath()
{
    static const AString path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string name =
            std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_itunesdb_state_" + std::to_string(getpid());
        return AString::FromUTF8(name);
    }();
    return path;
}

void State(const std::uint8_t* data, std::size_t size)
{
    const AString& path = StatePath();
    if (AFile::WriteWholeFileSafely(&path, data, size) != 0)
        return;
    AFile f;
    if (f.Open(&path, 1) != 0)
        return;
    IPodDB db;
    if (db.ReadState(&f) != 0)
        return;
    for (signed char ascending : {1, 0}) {
        db.DeleteSortedList();
        db.Sort(ascending);
    }
    db.Sort(1);
    const int count = db.CountSortedSongs();
    for (int i = 0; i < count && i < 64; ++i) {
        MHIT* track = db.GetSortedSong(i);
        if (!track)
            continue;
        AString path = track->ToString(db.GetExtensionFlag(), db.GetGenreFlag(), db.GetAlbumFlag(), 1);
        MHIT* found = nullptr;
        db.GetSongInfo(&found, path, 0);
        AString filePath, extension;
        db.GetSongPath(filePath, path, 0);
        db.GetSongExt(&extension, path, &filePath);
        if (i % 3 == 0)
            db.RemoveSong(path);
    }
    std::vector<std::uint8_t> shuffle;
    db.BuildSDFile(shuffle);
    AString name;
    db.GetIPodName(name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RoundTrip(data, size, 1);
    RoundTrip(data, size, 0);
    State(data, size);
    return 0;
}
