#include "ACommon/itunesdb/MHLT.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/itunesdb/IPodRecord.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "ACommon/tags/SongName.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kMinTrackSize = 12;
constexpr int kProgressStep = 512;

// What the iPod knows of a track's kind of file, by its extension: the text it shows, whether the
// audio is compressed, and the audio kind code (0x0C MPEG, 0x33 AAC).
struct FileKind {
    const char* extension;
    const char* text;
    bool compressed;
    std::uint8_t audioKind;
};

const FileKind* FileKindOf(const AString& extension)
{
    static constexpr FileKind kKinds[] = {
        {"mp3", "MPEG audio file", true, 0x0C},   {"m4a", "AAC audio file", true, 0x33},
        {"m4b", "AAC audio file", true, 0x33},    {"m4p", "Protected AAC audio file", true, 0x33},
        {"aif", "AIFF audio file", false, 0},     {"aiff", "AIFF audio file", false, 0},
        {"wav", "WAV audio file", false, 0},      {"m4v", "MPEG-4 video file", true, 0x33},
        {"mp4", "MPEG-4 video file", true, 0x33},
    };
    for (const FileKind& kind : kKinds)
        if (extension.CompareNoCase(kind.extension) == 0)
            return &kind;
    return nullptr;
}

// The handle after the last "?" of a virtual path; false when there is none.
bool HandleOf(const AString& virtualPath, std::uint64_t* handle)
{
    int question = virtualPath.ReverseFind('?');
    if (question < 0)
        return false;
    AString digits = virtualPath.Mid(question + 1, virtualPath.GetLength());
    if (!digits.IsNumber())
        return false;
    *handle = static_cast<std::uint64_t>(digits.Int64Value());
    return true;
}

// The key a lookup compares: the virtual path with "/" in front, cut after its last "?" unless the
// whole path is to be compared.
AString LookupKey(const AString& path, bool exact)
{
    AString key = path;
    if (key.IsEmpty() || key[0] != '/')
        key.Insert('/', 0);
    if (!exact) {
        int question = key.ReverseFind('?');
        if (question >= 0)
            key = key.Left(question + 1);
    }
    return key;
}

} // namespace

MHLT::MHLT() : header(IPodRecord::NewHeader("mhlt", 92)) {}

MHLT::~MHLT() = default;

std::uint32_t MHLT::GetDeclaredTrackCount() const { return IPodRecord::GetU32(header, 8); }

void MHLT::AddTrack(std::unique_ptr<MHIT> track)
{
    const std::pair<std::uint64_t, MHIT*> entry{track->GetHandle(), track.get()};
    if (byHandle.empty() || byHandle.back().first < entry.first)
        byHandle.push_back(entry);
    else
        byHandle.insert(std::lower_bound(byHandle.begin(), byHandle.end(), entry), entry);
    byNameKey[track->GetNameKey()].push_back(track.get());
    BucketOf(track->GetNameKey()).push_back(std::move(track));
    ++trackCount;
}

const std::vector<MHIT*>& MHLT::TracksWithKey(std::uint32_t key) const
{
    static const std::vector<MHIT*> kNone;
    const auto found = byNameKey.find(key);
    return found != byNameKey.end() ? found->second : kNone;
}

int MHLT::Load(ByteReader& in, CancelProc cancel, AProgress* progress, const MHOD::TextStore* texts)
{
    if (int err = IPodRecord::OpenList(in, "mhlt", header); err != 0)
        return err;
    for (auto& bucket : buckets)
        bucket.clear();
    byNameKey.clear();
    byHandle.clear();
    sorted.reset();
    trackCount = 0;
    const std::uint32_t count = IPodRecord::GetU32(header, 8);
    if (count > in.Remaining() / kMinTrackSize)
        return kErrUnknown;
    byHandle.reserve(count);

    if (progress) {
        AString text("Reading Library from iPod Database...");
        progress->StartDivision(1.0, &text, 0, 1);
    }
    int err = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (cancel && cancel()) {
            err = kErrUserCancel;
            break;
        }
        if (progress && ((i + 1) % kProgressStep == 0 || i + 1 == count)) {
            AString text("Loading iPod Song Data... ");
            text += static_cast<int>(i + 1);
            text += " of ";
            text += static_cast<int>(count);
            progress->UpdateDivision(static_cast<double>(i + 1) / count, &text, nullptr, nullptr, 0);
        }
        auto track = std::make_unique<MHIT>(MHIT::kForLoading);
        if (err = track->Load(in, texts); err != 0)
            break;
        track->SetReadIndex(static_cast<int>(i));
        AddTrack(std::move(track));
    }
    if (progress) {
        AString text("Reading Library from iPod Database Done!");
        progress->EndDivision(&text, 0, 1);
    }
    return err;
}

int MHLT::LoadHeader(AFile* f, std::uint64_t limit)
{
    if (int err = IPodRecord::ReadHeaderAt(f, limit, header); err != 0)
        return err;
    return 0;
}

std::uint32_t MHLT::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size());
    for (const auto& bucket : buckets)
        for (const auto& track : bucket)
            total += track->GetTotalSize();
    return total;
}

void MHLT::AssignTrackIds()
{
    std::uint32_t id = 0;
    for (auto& bucket : buckets)
        for (auto& track : bucket)
            track->SetField(MHIT::kOffsetTrackId, ++id);
}

void MHLT::Store(ByteWriter& out)
{
    IPodRecord::WriteHeader(out, header, static_cast<std::uint32_t>(trackCount));
    for (auto& bucket : buckets)
        for (auto& track : bucket)
            track->Store(out);
}

int MHLT::AddSong(SongInfoStruct& song, MHIT** added, signed char add)
{
    const AString& name = song.modifiedName.IsEmpty() ? song.name : song.modifiedName;
    const std::uint32_t key = MHIT::NameKeyOf(MHIT::Component(name));
    for (const MHIT* track : TracksWithKey(key))
        if (track->CompareTo(&song) == 0)
            return kErrDuplicate;
    if (!add)
        return 0;
    auto track = std::make_unique<MHIT>();
    track->SetAlbum(song.album);
    track->SetArtist(song.artist);
    track->SetGenre(song.genre);
    track->SetName(name);
    track->SetComposer(song.composer);
    AString extension = song.fileExtension;
    if (extension.IsEmpty())
        song.filePath.PathExtension(&extension);
    if (const FileKind* kind = FileKindOf(extension)) {
        track->SetStringField(AString(kind->text), MHOD::kFileType);
        if (kind->compressed) {
            track->SetByte(MHIT::kOffsetCompressed, 0xFF);
            track->SetByte(MHIT::kOffsetCompressed + 1, 0xFF);
        }
        track->SetByte(MHIT::kOffsetAudioKind, kind->audioKind);
    }
    track->SetField(MHIT::kOffsetTrackNumber, static_cast<std::uint32_t>(song.trackNumber));
    track->SetField(MHIT::kOffsetYear, static_cast<std::uint32_t>(song.year));
    track->SetField(MHIT::kOffsetBitrate, static_cast<std::uint32_t>(song.bitRate));
    track->SetField(MHIT::kOffsetLength, static_cast<std::uint32_t>(song.duration) * 1000u);
    track->SetField(MHIT::kOffsetSize, static_cast<std::uint32_t>(song.size));
    track->SetField(MHIT::kOffsetModTime, static_cast<std::uint32_t>(song.modTime));
    // 16.16 fixed point; a new track says 44100 Hz until its file tells otherwise.
    if (song.sampleRate > 0 && song.sampleRate <= 0xFFFF)
        track->SetField(MHIT::kOffsetSampleRate, static_cast<std::uint32_t>(song.sampleRate) << 16);
    // The rate again as a float, as the iPod's other writers put it.
    const float rate = static_cast<float>(track->GetField(MHIT::kOffsetSampleRate) >> 16);
    std::uint32_t rateBits = 0;
    std::memcpy(&rateBits, &rate, sizeof rateBits);
    track->SetField(MHIT::kOffsetSampleRateFloat, rateBits);
    track->SetGapless(song.pregap, song.postgap, song.sampleCount, song.gaplessData);
    track->SetFilepath(song.filePath);
    if (added)
        *added = track.get();
    AddTrack(std::move(track));
    return 0;
}

MHIT* MHLT::FindByHandle(std::uint64_t handle) const
{
    auto found = std::lower_bound(byHandle.begin(), byHandle.end(), handle,
                                  [](const std::pair<std::uint64_t, MHIT*>& entry, std::uint64_t value) {
                                      return entry.first < value;
                                  });
    return found != byHandle.end() && found->first == handle ? found->second : nullptr;
}

MHIT* MHLT::FindSong(const AString& virtualPath, signed char withExtension, signed char withGenre,
                     signed char withAlbum) const
{
    std::uint64_t handle = 0;
    if (!HandleOf(virtualPath, &handle))
        return nullptr;
    MHIT* track = FindByHandle(handle);
    if (!track)
        return nullptr;
    AString name = SongName::OfVirtualPath(virtualPath, withExtension, withGenre, withAlbum);
    if (MHIT::NameKeyOf(name) != track->GetNameKey())
        return nullptr;
    return track;
}

void MHLT::RemoveTrack(MHIT* track)
{
    if (!track)
        return;
    auto& bucket = BucketOf(track->GetNameKey());
    auto it =
        std::find_if(bucket.begin(), bucket.end(), [track](const auto& held) { return held.get() == track; });
    if (it == bucket.end())
        return;
    auto entry = std::lower_bound(
        byHandle.begin(), byHandle.end(), track->GetHandle(),
        [](const std::pair<std::uint64_t, MHIT*>& held, std::uint64_t value) { return held.first < value; });
    if (entry != byHandle.end() && entry->first == track->GetHandle())
        entry->second = nullptr;
    if (auto same = byNameKey.find(track->GetNameKey()); same != byNameKey.end()) {
        std::erase(same->second, track);
        if (same->second.empty())
            byNameKey.erase(same);
    }
    bucket.erase(it);
    --trackCount;
}

int MHLT::RemoveSong(const AString& virtualPath, signed char withExtension, signed char withGenre,
                     signed char withAlbum)
{
    RemoveTrack(FindSong(virtualPath, withExtension, withGenre, withAlbum));
    return 0;
}

MHIT* MHLT::GetSong(int index) const
{
    if (index < 0)
        return nullptr;
    for (const auto& bucket : buckets) {
        if (index < static_cast<int>(bucket.size()))
            return bucket[index].get();
        index -= static_cast<int>(bucket.size());
    }
    return nullptr;
}

void MHLT::ForEachTrack(const std::function<void(MHIT&)>& visit) const
{
    for (const auto& bucket : buckets)
        for (const auto& track : bucket)
            visit(*track);
}

int MHLT::GetSongInfo(MHIT** track, const AString& virtualPath, signed char exact) const
{
    if (!sorted || sorted->empty())
        return 0;
    const AString key = LookupKey(virtualPath, exact);
    int low = 0, high = static_cast<int>(sorted->size()) - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const SortedEntry& entry = (*sorted)[mid];
        const int c = LookupKey(entry.path, exact).CompareNoCase(key);
        if (c == 0) {
            MHIT* found = FindByHandle(entry.handle);
            if (!found)
                return 0;
            if (track)
                *track = found;
            return 1;
        }
        if (c < 0)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return 0;
}

int MHLT::GetSongPath(AString& filePath, const AString& virtualPath, signed char sizeBased,
                      signed char withExtension, signed char withGenre, signed char withAlbum) const
{
    AString name = SongName::OfVirtualPath(virtualPath, withExtension, withGenre, withAlbum);
    for (const MHIT* track : TracksWithKey(MHIT::NameKeyOf(name))) {
        int c = sizeBased ? track->SizeBasedCompareTo(virtualPath, withExtension, withGenre, withAlbum)
                          : track->CompareTo(virtualPath, withExtension, withGenre, withAlbum, root);
        if (c == 0) {
            filePath = track->GetFilepath();
            return 1;
        }
    }
    return 0;
}

int MHLT::GetSongExt(AString* extension, const AString& virtualPath, AString* filePath,
                     signed char withExtension, signed char withGenre, signed char withAlbum) const
{
    AString name = SongName::OfVirtualPath(virtualPath, withExtension, withGenre, withAlbum);
    for (const MHIT* track : TracksWithKey(MHIT::NameKeyOf(name))) {
        if (track->SizeBasedCompareTo(virtualPath, withExtension, withGenre, withAlbum) == 0) {
            if (extension)
                *extension = track->GetExtension();
            if (filePath)
                *filePath = track->GetFilepath();
            return 1;
        }
    }
    return 0;
}

void MHLT::Sort(signed char ascending, const TrackFilter& filter, signed char withExtension,
                signed char withGenre, signed char withAlbum)
{
    if (!sorted) {
        sorted.emplace();
        sorted->reserve(trackCount);
        for (const auto& bucket : buckets) {
            for (const auto& track : bucket) {
                if (filter && !filter(*track))
                    continue;
                SortedEntry entry;
                entry.path = track->ToString(withExtension, withGenre, withAlbum, 1, root);
                entry.handle = track->GetHandle();
                sorted->push_back(std::move(entry));
            }
        }
    }
    auto compare = ascending ? CompareAscending : CompareDescending;
    std::sort(sorted->begin(), sorted->end(),
              [compare](const SortedEntry& a, const SortedEntry& b) { return compare(a.path, b.path) < 0; });
}

int MHLT::CountSortedSongs() const { return sorted ? static_cast<int>(sorted->size()) : trackCount; }

MHIT* MHLT::GetSortedSong(int index) const
{
    if (!sorted || index < 0 || index >= static_cast<int>(sorted->size()))
        return nullptr;
    return FindByHandle((*sorted)[index].handle);
}

const AString* MHLT::GetSortedPath(int index) const
{
    if (!sorted || index < 0 || index >= static_cast<int>(sorted->size()))
        return nullptr;
    return &(*sorted)[index].path;
}

void MHLT::RemoveSortedSongEntry(int index)
{
    if (sorted && index >= 0 && index < static_cast<int>(sorted->size()))
        sorted->erase(sorted->begin() + index);
}
