#include "ACommon/itunesdb/MHLP.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/itunesdb/IPodRecord.h"

namespace {
constexpr std::uint32_t kMinPlaylistSize = 24;
}

MHLP::MHLP() : header(IPodRecord::NewHeader("mhlp", 92))
{
    playlists.push_back(std::make_unique<MHYP>(1));
    playlists.back()->SetName(AString());
}

int MHLP::AddSong(MHIT* track)
{
    if (playlists.empty())
        return kErrInvalidElement;
    playlists.front()->AddSong(track, -1);
    return 0;
}

void MHLP::RemoveTrack(const MHIT* track)
{
    for (auto& playlist : playlists)
        playlist->RemoveTrack(track);
}

int MHLP::GetIPodName(AString& name) const
{
    if (playlists.empty())
        return kErrInvalidElement;
    playlists.front()->GetName(name);
    return 0;
}

MHYP* MHLP::AddPlaylist(const AString& name)
{
    playlists.push_back(std::make_unique<MHYP>(0));
    playlists.back()->SetName(name);
    return playlists.back().get();
}

MHYP* MHLP::GetPlaylist(int index) const
{
    if (index < 0 || index >= static_cast<int>(playlists.size()))
        return nullptr;
    return playlists[index].get();
}

int MHLP::IndexOf(const MHYP* playlist) const
{
    for (std::size_t i = 0; i < playlists.size(); ++i)
        if (playlists[i].get() == playlist)
            return static_cast<int>(i);
    return -1;
}

std::unique_ptr<MHYP> MHLP::TakePlaylist(int index)
{
    if (index < 0 || index >= static_cast<int>(playlists.size()))
        return nullptr;
    std::unique_ptr<MHYP> taken = std::move(playlists[static_cast<std::size_t>(index)]);
    playlists.erase(playlists.begin() + index);
    return taken;
}

void MHLP::InsertPlaylist(int index, std::unique_ptr<MHYP> playlist)
{
    if (!playlist)
        return;
    if (index < 0 || index > static_cast<int>(playlists.size()))
        index = static_cast<int>(playlists.size());
    playlists.insert(playlists.begin() + index, std::move(playlist));
}

void MHLP::ResolveItems(const std::unordered_map<std::uint32_t, MHIT*>& tracksById)
{
    for (auto& playlist : playlists)
        playlist->ResolveItems(tracksById);
}

int MHLP::Load(ByteReader& in, CancelProc cancel, AProgress* progress, const MHOD::TextStore* texts)
{
    if (int err = IPodRecord::OpenList(in, "mhlp", header); err != 0)
        return err;
    const std::uint32_t count = IPodRecord::GetU32(header, 8);
    if (count > in.Remaining() / kMinPlaylistSize)
        return kErrUnknown;
    playlists.clear();
    playlists.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        playlists.push_back(std::make_unique<MHYP>());
        if (progress)
            progress->StartDivision(1.0 / count, nullptr, 0, 0);
        int err = playlists.back()->Load(in, cancel, progress, texts);
        if (progress)
            progress->EndDivision(nullptr, 0, 0);
        if (err != 0)
            return err;
    }
    return 0;
}

int MHLP::LoadName(AFile* f, std::uint64_t limit)
{
    if (int err = IPodRecord::ReadHeaderAt(f, limit, header); err != 0)
        return err;
    const std::uint32_t count = IPodRecord::GetU32(header, 8);
    if (count > (limit - f->GetFilePos()) / kMinPlaylistSize)
        return kErrUnknown;
    playlists.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        playlists.push_back(std::make_unique<MHYP>());
        if (int err = playlists.back()->LoadName(f, limit); err != 0)
            return err;
    }
    return 0;
}

std::uint32_t MHLP::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size());
    for (const auto& playlist : playlists)
        total += playlist->GetTotalSize();
    return total;
}

void MHLP::Store(ByteWriter& out)
{
    IPodRecord::WriteHeader(out, header, static_cast<std::uint32_t>(playlists.size()));
    std::uint32_t itemCounter = 0;
    for (auto& playlist : playlists)
        playlist->Store(out, &itemCounter);
}
