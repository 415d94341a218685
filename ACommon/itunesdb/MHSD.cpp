#include "ACommon/itunesdb/MHSD.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodRecord.h"

namespace {
constexpr std::size_t kOffsetType = 12;
}

MHSD::MHSD(std::uint32_t type) : header(IPodRecord::NewHeader("mhsd", 96))
{
    IPodRecord::SetU32(header, kOffsetType, type);
    if (type == kTracks)
        trackList = std::make_unique<MHLT>();
    else if (type == kPlaylists || type == kPodcasts)
        playlistList = std::make_unique<MHLP>();
}

MHSD::~MHSD() = default;

std::uint32_t MHSD::GetType() const { return IPodRecord::GetU32(header, kOffsetType); }

int MHSD::Load(ByteReader& in, bool decode, CancelProc cancel, AProgress* progress,
               const MHOD::TextStore* texts)
{
    ByteReader body;
    if (int err = IPodRecord::OpenRecord(in, "mhsd", kOffsetType + 4, header, body); err != 0)
        return err;
    trackList.reset();
    playlistList.reset();
    const std::uint32_t type = GetType();
    int err = 0;
    if (decode && type == kTracks) {
        trackList = std::make_unique<MHLT>();
        err = trackList->Load(body, cancel, progress, texts);
    } else if (decode && (type == kPlaylists || type == kPodcasts)) {
        playlistList = std::make_unique<MHLP>();
        err = playlistList->Load(body, cancel, progress, texts);
    }
    if (err != 0)
        return err;
    // A decoded list fills its dataset: what follows the children its header counts belongs to no
    // list (a track count of 10 with 50 tracks following).
    if (trackList)
        err = IPodRecord::CheckNothingLeft(body, "its track list counts " +
                                                     std::to_string(trackList->GetDeclaredTrackCount()) +
                                                     " tracks, but more records follow them");
    else if (playlistList)
        err = IPodRecord::CheckNothingLeft(body, "a playlist list counts " +
                                                     std::to_string(playlistList->GetPlaylistCount()) +
                                                     " playlists, but more records follow them");
    if (err != 0)
        return err;
    std::span<const std::uint8_t> remaining = body.Rest();
    rest.assign(remaining.begin(), remaining.end());
    return 0;
}

int MHSD::LoadName(AFile* f, std::uint64_t limit)
{
    const std::uint64_t start = f->GetFilePos();
    if (int err = IPodRecord::ReadHeaderAt(f, limit, header); err != 0)
        return err;
    const std::uint32_t totalLength = IPodRecord::GetU32(header, 8);
    if (header.size() < kOffsetType + 4 || totalLength < header.size() || totalLength > limit - start)
        return kErrUnknown;
    const std::uint64_t end = start + totalLength;
    trackList.reset();
    playlistList.reset();
    rest.clear();
    const std::uint32_t type = GetType();
    int err = 0;
    if (type == kTracks) {
        trackList = std::make_unique<MHLT>();
        err = trackList->LoadHeader(f, end);
    } else if (type == kPlaylists || type == kPodcasts) {
        playlistList = std::make_unique<MHLP>();
        err = playlistList->LoadName(f, end);
    }
    if (err != 0)
        return err;
    return f->Seek(end);
}

std::uint32_t MHSD::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size() + rest.size());
    if (trackList)
        total += trackList->GetTotalSize();
    if (playlistList)
        total += playlistList->GetTotalSize();
    return total;
}

void MHSD::Store(ByteWriter& out)
{
    // The total length is filled in once the children are written.
    const std::size_t at = out.Size();
    IPodRecord::WriteHeader(out, header, 0);
    if (trackList)
        trackList->Store(out);
    if (playlistList)
        playlistList->Store(out);
    out.WriteBytes(rest.data(), rest.size());
    out.PatchU32LE(at + 8, static_cast<std::uint32_t>(out.Size() - at));
}
