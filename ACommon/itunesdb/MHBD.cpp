#include "ACommon/itunesdb/MHBD.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/itunesdb/IPodRecord.h"
#include "ACommon/itunesdb/MHIT.h"

#include <cstring>
#include <new>
#include <unordered_map>

namespace {
constexpr std::size_t kOffsetDatasetCount = 20;
constexpr std::size_t kOffsetDatabaseId = 24;
constexpr std::size_t kOffsetHashingScheme = 48;
constexpr std::uint32_t kMinDatasetSize = 16;
// New records get the header lengths of the database version their header names (15): other
// readers, the iPod among them, read fields up to those lengths and refuse shorter headers.
constexpr std::uint32_t kNewHeaderLength = 104;
} // namespace

MHBD::MHBD() : header(IPodRecord::NewHeader("mhbd", kNewHeaderLength))
{
    IPodRecord::SetU32(header, 12, 1);
    IPodRecord::SetU32(header, 16, 15);
    datasets.push_back(std::make_unique<MHSD>(MHSD::kTracks));
    datasets.push_back(std::make_unique<MHSD>(MHSD::kPodcasts));
    datasets.push_back(std::make_unique<MHSD>(MHSD::kPlaylists));
    IPodRecord::SetU32(header, kOffsetDatasetCount, static_cast<std::uint32_t>(datasets.size()));
}

MHBD::~MHBD() = default;

int MHBD::Load(ByteReader& in, signed char withPlaylists, CancelProc cancel, AProgress* progress)
{
    // The record's bytes are copied once, so that its objects can refer to them; a record whose
    // length does not fit what `in` holds fails in Parse as it is.
    ByteReader look = in;
    look.Skip(8);
    const std::uint32_t totalLength = look.ReadU32LE();
    if (!look.Ok() || totalLength < 12 || totalLength > in.Remaining()) {
        datasets.clear();
        texts.reset();
        return Parse(in, withPlaylists, cancel, progress);
    }
    std::unique_ptr<MHOD::TextStore> bytes;
    try {
        bytes = std::make_unique<MHOD::TextStore>(totalLength);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    std::memcpy(bytes->Data(), in.Rest().data(), totalLength);
    if (int err = Load(std::move(bytes), withPlaylists, cancel, progress); err != 0)
        return err;
    in.Skip(totalLength);
    return 0;
}

int MHBD::Load(std::shared_ptr<const MHOD::TextStore> bytes, signed char withPlaylists, CancelProc cancel,
               AProgress* progress)
{
    datasets.clear();
    texts = std::move(bytes);
    const std::span<const std::uint8_t> held = texts->Bytes();
    ByteReader in(held.data(), held.size());
    if (int err = Parse(in, withPlaylists, cancel, progress); err != 0)
        return err;
    // The database's total length is the whole file.
    return IPodRecord::CheckNothingLeft(in, "the file holds " + std::to_string(held.size()) +
                                                " bytes, but the database says it is " +
                                                std::to_string(held.size() - in.Remaining()));
}

int MHBD::Parse(ByteReader& in, signed char withPlaylists, CancelProc cancel, AProgress* progress)
{
    ByteReader body;
    IPodRecord::ClearDamage();
    datasets.clear();
    rest.clear();
    playlistsDecoded = withPlaylists != 0;
    if (int err = IPodRecord::OpenRecord(in, "mhbd", kOffsetDatasetCount + 4, header, body); err != 0)
        return err;
    const std::uint32_t count = IPodRecord::GetU32(header, kOffsetDatasetCount);
    if (count > body.Remaining() / kMinDatasetSize)
        return kErrUnknown;
    datasets.reserve(count);
    bool haveTracks = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        ByteReader look = body;
        look.Skip(12);
        const std::uint32_t type = look.ReadU32LE();
        bool decode = false;
        if (type == MHSD::kTracks && !haveTracks)
            decode = haveTracks = true;
        else if (type == MHSD::kPlaylists || type == MHSD::kPodcasts)
            decode = withPlaylists != 0;
        if (progress && decode)
            progress->StartDivision(withPlaylists ? 1.0 / count : 1.0, nullptr, 0, 0);
        datasets.push_back(std::make_unique<MHSD>(0));
        int err = datasets.back()->Load(body, decode, cancel, progress, texts.get());
        if (progress && decode)
            progress->EndDivision(nullptr, 0, 0);
        if (err != 0)
            return err;
    }
    if (int err = IPodRecord::CheckNothingLeft(body, "the database counts " + std::to_string(count) +
                                                         " datasets, but its length holds more");
        err != 0)
        return err;
    rest.clear();
    if (playlistsDecoded)
        ResolvePlaylistItems();
    return 0;
}

int MHBD::Load(AFile* f, signed char withPlaylists, CancelProc cancel, AProgress* progress)
{
    const std::uint64_t start = f->GetFilePos();
    std::uint8_t head[12];
    if (int err = f->Read(head, sizeof head, nullptr); err != 0)
        return err;
    f->Seek(start);
    ByteReader look(head, sizeof head);
    look.Skip(8);
    const std::uint32_t totalLength = look.ReadU32LE();
    if (totalLength < 12 || totalLength > f->Remaining())
        return kErrUnknown;
    std::unique_ptr<MHOD::TextStore> bytes;
    try {
        bytes = std::make_unique<MHOD::TextStore>(totalLength);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (int err = f->Read(bytes->Data(), totalLength, nullptr); err != 0)
        return err;
    return Load(std::move(bytes), withPlaylists, cancel, progress);
}

int MHBD::LoadName(AFile* f)
{
    datasets.clear();
    texts.reset();
    rest.clear();
    playlistsDecoded = false;
    const std::uint64_t fileSize = f->GetEOF();
    if (int err = IPodRecord::ReadHeaderAt(f, fileSize, header); err != 0)
        return err;
    const std::uint32_t totalLength = IPodRecord::GetU32(header, 8);
    if (header.size() < kOffsetDatasetCount + 4 || totalLength < header.size() || totalLength > fileSize)
        return kErrUnknown;
    const std::uint32_t count = IPodRecord::GetU32(header, kOffsetDatasetCount);
    if (count > (totalLength - header.size()) / kMinDatasetSize)
        return kErrUnknown;
    for (std::uint32_t i = 0; i < count; ++i) {
        datasets.push_back(std::make_unique<MHSD>(0));
        if (int err = datasets.back()->LoadName(f, totalLength); err != 0)
            return err;
    }
    return 0;
}

void MHBD::ResolvePlaylistItems()
{
    MHLT* tracks = GetTrackList();
    if (!tracks)
        return;
    // The first track that carries an id wins, as the file is read.
    std::unordered_map<std::uint32_t, MHIT*> byId;
    byId.reserve(tracks->GetTrackCount());
    std::vector<MHIT*> inFileOrder(tracks->GetTrackCount(), nullptr);
    tracks->ForEachTrack([&](MHIT& track) {
        if (track.GetReadIndex() >= 0 && track.GetReadIndex() < static_cast<int>(inFileOrder.size()))
            inFileOrder[track.GetReadIndex()] = &track;
    });
    for (MHIT* track : inFileOrder)
        if (track)
            byId.emplace(track->GetTrackId(), track);
    for (MHLP* list : GetPlaylistLists())
        list->ResolveItems(byId);
}

std::uint64_t MHBD::GetDatabaseId() const
{
    if (header.size() < kOffsetDatabaseId + 8)
        return 0;
    return IPodRecord::GetU32(header, kOffsetDatabaseId) |
           static_cast<std::uint64_t>(IPodRecord::GetU32(header, kOffsetDatabaseId + 4)) << 32;
}

std::uint32_t MHBD::GetHashingScheme() const
{
    if (header.size() < kOffsetHashingScheme + 2)
        return 0;
    return header[kOffsetHashingScheme] | static_cast<std::uint32_t>(header[kOffsetHashingScheme + 1]) << 8;
}

bool MHBD::IsSigned() const
{
    if (GetHashingScheme() == 0)
        return false;
    struct Range {
        std::size_t begin, end;
    };
    for (const Range range : {Range{88, 108}, Range{114, 160}, Range{171, 228}})
        for (std::size_t i = range.begin; i < range.end && i < header.size(); ++i)
            if (header[i] != 0)
                return true;
    return false;
}

std::uint32_t MHBD::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size() + rest.size());
    for (const auto& dataset : datasets)
        total += dataset->GetTotalSize();
    return total;
}

void MHBD::Store(ByteWriter& out)
{
    MHLT* tracks = GetTrackList();
    if (tracks && playlistsDecoded)
        tracks->AssignTrackIds();
    // About the size it was read at; the total length is filled in once the datasets are written,
    // so that the records are walked once.
    if (texts)
        out.Bytes().reserve(out.Size() + texts->Bytes().size() + texts->Bytes().size() / 8);
    IPodRecord::SetU32(header, kOffsetDatasetCount, static_cast<std::uint32_t>(datasets.size()));
    const std::size_t at = out.Size();
    IPodRecord::WriteHeader(out, header, 0);
    for (auto& dataset : datasets)
        dataset->Store(out);
    out.WriteBytes(rest.data(), rest.size());
    out.PatchU32LE(at + 8, static_cast<std::uint32_t>(out.Size() - at));
}

int MHBD::Store(AFile* f)
{
    ByteWriter out;
    try {
        Store(out);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return f->Write(out.Bytes().data(), static_cast<unsigned>(out.Size()));
}

MHLT* MHBD::GetTrackList() const
{
    for (const auto& dataset : datasets)
        if (dataset->GetTrackList())
            return dataset->GetTrackList();
    return nullptr;
}

std::vector<MHLP*> MHBD::GetPlaylistLists() const
{
    std::vector<MHLP*> lists;
    for (const auto& dataset : datasets)
        if (MHLP* list = dataset->GetPlaylistList())
            lists.push_back(list);
    return lists;
}

MHSD* MHBD::GetDataset(int index) const
{
    if (index < 0 || index >= static_cast<int>(datasets.size()))
        return nullptr;
    return datasets[index].get();
}

std::uint32_t MHBD::GetDeclaredTrackCount() const
{
    MHLT* tracks = GetTrackList();
    return tracks ? tracks->GetDeclaredTrackCount() : 0;
}

int MHBD::AddSong(SongInfoStruct& song, MHIT** added, signed char add)
{
    MHLT* tracks = GetTrackList();
    if (!tracks)
        return kErrInvalidElement;
    MHIT* track = nullptr;
    if (int err = tracks->AddSong(song, &track, add); err != 0)
        return err;
    if (!add)
        return 0;
    for (MHLP* list : GetPlaylistLists())
        list->AddSong(track);
    if (added)
        *added = track;
    return 0;
}

void MHBD::RemoveTrack(MHIT* track)
{
    MHLT* tracks = GetTrackList();
    if (!tracks || !track)
        return;
    for (MHLP* list : GetPlaylistLists())
        list->RemoveTrack(track);
    tracks->RemoveTrack(track);
}

int MHBD::RemoveSong(const AString& virtualPath, signed char withExtension, signed char withGenre,
                     signed char withAlbum)
{
    MHLT* tracks = GetTrackList();
    if (!tracks)
        return 0;
    RemoveTrack(tracks->FindSong(virtualPath, withExtension, withGenre, withAlbum));
    return 0;
}

int MHBD::GetIPodName(AString& name) const
{
    std::vector<MHLP*> lists = GetPlaylistLists();
    if (lists.empty())
        return kErrInvalidElement;
    return lists.front()->GetIPodName(name);
}

std::vector<MHYP*> MHBD::AddPlaylist(const AString& name)
{
    std::vector<MHYP*> made;
    for (MHLP* list : GetPlaylistLists())
        made.push_back(list->AddPlaylist(name));
    return made;
}
