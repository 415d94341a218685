#include "ACommon/itunesdb/MHYP.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/itunesdb/IPodRecord.h"

#include <unordered_set>

namespace {
constexpr std::size_t kOffsetMhodCount = 12;
constexpr std::size_t kOffsetItemCount = 16;
constexpr std::size_t kOffsetLibraryFlag = 20;
constexpr std::uint32_t kMinItemSize = 28;
constexpr int kProgressStep = 512;

// Loads `count` data objects, leaving out the track index objects.
template <typename Skip>
int LoadObjects(ByteReader& in, std::uint32_t count, std::vector<MHOD>& objects, Skip skip)
{
    if (count > in.Remaining() / 24)
        return kErrUnknown;
    objects.clear();
    objects.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        MHOD object;
        if (int err = object.Load(in); err != 0)
            return err;
        if (!skip(object.GetType()))
            objects.push_back(std::move(object));
    }
    return 0;
}

} // namespace

MHYP::MHYP() : header(IPodRecord::NewHeader("mhyp", 108)) {}

MHYP::MHYP(int libraryFlag) : MHYP()
{
    IPodRecord::SetU32(header, kOffsetLibraryFlag, static_cast<std::uint32_t>(libraryFlag));
}

int MHYP::GetLibraryFlag() const { return static_cast<int>(IPodRecord::GetU32(header, kOffsetLibraryFlag)); }

void MHYP::SetName(const AString& text)
{
    for (MHOD& object : objects) {
        if (object.GetType() == MHOD::kTitle) {
            object.SetUnicodeString(text, MHOD::kTitle);
            return;
        }
    }
    // The title goes first, where every reader looks for it.
    objects.insert(objects.begin(), MHOD());
    objects.front().SetUnicodeString(text, MHOD::kTitle);
}

int MHYP::GetName(AString& name) const
{
    for (const MHOD& object : objects) {
        if (object.GetType() == MHOD::kTitle) {
            name = object.GetString();
            return 0;
        }
    }
    return kErrInvalidElement;
}

void MHYP::AddSong(MHIT* track, int index)
{
    MHIP item;
    item.SetTrack(track);
    if (index < 0 || index >= static_cast<int>(items.size()))
        items.push_back(std::move(item));
    else
        items.insert(items.begin() + index, std::move(item));
}

void MHYP::RemoveSong(int index)
{
    if (index >= 0 && index < static_cast<int>(items.size()))
        items.erase(items.begin() + index);
}

MHIT* MHYP::GetSong(int index) const
{
    if (index < 0 || index >= static_cast<int>(items.size()))
        return nullptr;
    return items[index].GetTrack();
}

void MHYP::RemoveTrack(const MHIT* track)
{
    if (!track)
        return;
    std::erase_if(items, [track](const MHIP& item) { return item.GetTrack() == track; });
}

void MHYP::HoldExactly(const std::vector<MHIT*>& tracks)
{
    std::unordered_set<const MHIT*> wanted(tracks.begin(), tracks.end());
    std::unordered_set<const MHIT*> held;
    std::erase_if(items, [&](const MHIP& item) {
        const MHIT* track = item.GetTrack();
        return !wanted.contains(track) || !held.insert(track).second;
    });
    for (MHIT* track : tracks)
        if (!held.contains(track))
            AddSong(track, -1);
}

void MHYP::ResolveItems(const std::unordered_map<std::uint32_t, MHIT*>& tracksById)
{
    for (MHIP& item : items) {
        const std::uint32_t id = item.GetTrackId();
        if (id == 0)
            continue;
        auto found = tracksById.find(id);
        if (found != tracksById.end())
            item.SetTrack(found->second);
    }
}

int MHYP::Load(ByteReader& in, CancelProc cancel, AProgress* progress, const MHOD::TextStore* texts)
{
    ByteReader body;
    if (int err = IPodRecord::OpenRecord(in, "mhyp", kOffsetLibraryFlag, header, body); err != 0)
        return err;
    const std::uint32_t objectCount = IPodRecord::GetU32(header, kOffsetMhodCount);
    // The playlist's own objects (its title) are decoded now: the iPod's name is read from any
    // thread that shows it.
    if (int err = LoadObjects(body, objectCount, objects, IsTrackIndexObject); err != 0)
        return err;
    const std::uint32_t itemCount = IPodRecord::GetU32(header, kOffsetItemCount);
    if (itemCount > body.Remaining() / kMinItemSize)
        return kErrUnknown;

    AString title;
    GetName(title);
    if (progress) {
        AString text = AString("Reading Playlist ") + title + "...";
        progress->StartDivision(1.0, &text, 0, 1);
    }
    items.clear();
    items.reserve(itemCount);
    int err = 0;
    for (std::uint32_t i = 0; i < itemCount; ++i) {
        if (cancel && cancel()) {
            err = kErrUserCancel;
            break;
        }
        if (progress && ((i + 1) % kProgressStep == 0 || i + 1 == itemCount)) {
            AString text("Loading iPod Song Data... ");
            text += static_cast<int>(i + 1);
            text += " of ";
            text += static_cast<int>(itemCount);
            progress->UpdateDivision(static_cast<double>(i + 1) / itemCount, &text, nullptr, nullptr, 0);
        }
        MHIP item{MHIP::ToLoad{}};
        if (err = item.Load(body, texts); err != 0)
            break;
        items.push_back(std::move(item));
    }
    if (progress) {
        AString text = AString("Reading Playlist ") + title + " Done!";
        progress->EndDivision(&text, 0, 1);
    }
    if (err != 0)
        return err;
    if (err = IPodRecord::CheckNothingLeft(
            body, "the playlist \"" + title.ToStdString() + "\" counts " + std::to_string(objectCount) +
                      " data objects and " + std::to_string(itemCount) + " items, but its length holds more");
        err != 0)
        return err;
    trailing.clear();
    return 0;
}

int MHYP::LoadName(AFile* f, std::uint64_t limit)
{
    const std::uint64_t start = f->GetFilePos();
    std::vector<std::uint8_t> record;
    if (int err = IPodRecord::ReadHeaderAt(f, limit, header); err != 0)
        return err;
    const std::uint32_t totalLength = IPodRecord::GetU32(header, 8);
    if (header.size() < kOffsetLibraryFlag + 4 || totalLength < header.size() || totalLength > limit - start)
        return kErrUnknown;
    const std::uint64_t end = start + totalLength;
    const std::uint32_t objectCount = IPodRecord::GetU32(header, kOffsetMhodCount);
    if (objectCount > (end - f->GetFilePos()) / 24)
        return kErrUnknown;
    objects.clear();
    items.clear();
    trailing.clear();
    for (std::uint32_t i = 0; i < objectCount; ++i) {
        if (int err = IPodRecord::ReadRecordAt(f, end, record); err != 0)
            return err;
        ByteReader in(record.data(), record.size());
        MHOD object;
        if (int err = object.Load(in); err != 0)
            return err;
        if (!IsTrackIndexObject(object.GetType()))
            objects.push_back(std::move(object));
    }
    return f->Seek(end);
}

std::uint32_t MHYP::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size() + trailing.size());
    for (const MHOD& object : objects)
        total += object.GetTotalSize();
    for (const MHIP& item : items)
        total += item.GetTotalSize();
    return total;
}

void MHYP::Store(ByteWriter& out, std::uint32_t* itemCounter)
{
    IPodRecord::SetU32(header, kOffsetMhodCount, static_cast<std::uint32_t>(objects.size()));
    IPodRecord::SetU32(header, kOffsetItemCount, static_cast<std::uint32_t>(items.size()));
    IPodRecord::WriteHeader(out, header, GetTotalSize());
    for (const MHOD& object : objects)
        object.Store(out);
    for (MHIP& item : items)
        item.Store(out, itemCounter);
    out.WriteBytes(trailing.data(), trailing.size());
}
