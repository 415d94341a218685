#include "samples/ITunesDBRecords.h"

#include <cstring>

namespace samples::itdb {

void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetU32(const Bytes& bytes, std::size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

namespace {

Bytes Header(const char* tag, std::uint32_t headerLength, const Fields& fields)
{
    Bytes bytes(headerLength, 0);
    std::memcpy(bytes.data(), tag, 4);
    PutU32(bytes, 4, headerLength);
    for (const auto& [offset, value] : fields)
        PutU32(bytes, offset, value);
    return bytes;
}

} // namespace

Bytes Record(const char* tag, std::uint32_t headerLength, const Fields& fields,
             const std::vector<Bytes>& children)
{
    Bytes bytes = Header(tag, headerLength, fields);
    for (const Bytes& child : children)
        bytes.insert(bytes.end(), child.begin(), child.end());
    PutU32(bytes, 8, static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}

Bytes List(const char* tag, std::uint32_t headerLength, const std::vector<Bytes>& children)
{
    Bytes bytes = Header(tag, headerLength, {{8, static_cast<std::uint32_t>(children.size())}});
    for (const Bytes& child : children)
        bytes.insert(bytes.end(), child.begin(), child.end());
    return bytes;
}

Bytes StringObject(std::uint32_t type, const std::u16string& text)
{
    Bytes payload(16, 0);
    PutU32(payload, 0, 1);
    PutU32(payload, 4, static_cast<std::uint32_t>(text.size() * 2));
    for (char16_t unit : text) {
        payload.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        payload.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return Record("mhod", 24, {{12, type}}, {payload});
}

Bytes DataObject(std::uint32_t type, const Bytes& payload)
{
    return Record("mhod", 24, {{12, type}}, {payload});
}

Bytes Track(std::uint32_t headerLength, std::uint32_t id, const std::vector<Bytes>& objects,
            const Fields& fields)
{
    Fields all = fields;
    all[12] = static_cast<std::uint32_t>(objects.size());
    all[16] = id;
    return Record("mhit", headerLength, all, objects);
}

Bytes Item(std::uint32_t trackId, bool withObject, std::uint32_t itemNumber)
{
    std::vector<Bytes> objects;
    if (withObject)
        objects.push_back(DataObject(100, Bytes(20, 0)));
    return Record("mhip", 76,
                  {{12, static_cast<std::uint32_t>(objects.size())}, {20, itemNumber}, {24, trackId}},
                  objects);
}

Bytes Playlist(const std::u16string& title, bool library, const std::vector<Bytes>& items,
               std::uint32_t headerLength, const std::vector<Bytes>& moreObjects)
{
    std::vector<Bytes> children{StringObject(1, title)};
    children.insert(children.end(), moreObjects.begin(), moreObjects.end());
    const std::uint32_t objectCount = static_cast<std::uint32_t>(children.size());
    children.insert(children.end(), items.begin(), items.end());
    return Record(
        "mhyp", headerLength,
        {{12, objectCount}, {16, static_cast<std::uint32_t>(items.size())}, {20, library ? 1u : 0u}},
        children);
}

Bytes Dataset(std::uint32_t type, const Bytes& child, std::uint32_t headerLength)
{
    return Record("mhsd", headerLength, {{12, type}}, {child});
}

Bytes Database(const std::vector<Bytes>& datasets, std::uint32_t headerLength)
{
    return Record("mhbd", headerLength,
                  {{12, 1}, {16, 0x19}, {20, static_cast<std::uint32_t>(datasets.size())}}, datasets);
}

Bytes PlayCounts(std::uint32_t entryLength, const std::vector<PlayCount>& entries)
{
    constexpr std::uint32_t header = 0x60;
    Bytes bytes(header + entryLength * entries.size(), 0);
    bytes[0] = 'm', bytes[1] = 'h', bytes[2] = 'd', bytes[3] = 'p';
    PutU32(bytes, 4, header);
    PutU32(bytes, 8, entryLength);
    PutU32(bytes, 12, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = header + entryLength * i;
        const PlayCount& entry = entries[i];
        PutU32(bytes, at, entry.plays);
        PutU32(bytes, at + 4, entry.lastPlayed);
        PutU32(bytes, at + 8, entry.bookmark);
        if (entryLength >= 16)
            PutU32(bytes, at + 12, entry.rating);
        if (entryLength >= 28) {
            PutU32(bytes, at + 20, entry.skips);
            PutU32(bytes, at + 24, entry.lastSkipped);
        }
    }
    return bytes;
}

Bytes OnTheGo(std::uint32_t entryLength, const std::vector<std::uint32_t>& places)
{
    constexpr std::uint32_t header = 20;
    Bytes bytes(header + entryLength * places.size(), 0);
    bytes[0] = 'm', bytes[1] = 'h', bytes[2] = 'p', bytes[3] = 'o';
    PutU32(bytes, 4, header);
    PutU32(bytes, 8, entryLength);
    PutU32(bytes, 12, static_cast<std::uint32_t>(places.size()));
    for (std::size_t i = 0; i < places.size(); ++i)
        PutU32(bytes, header + entryLength * i, places[i]);
    return bytes;
}

} // namespace samples::itdb
