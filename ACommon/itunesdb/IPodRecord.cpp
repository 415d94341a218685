#include "ACommon/itunesdb/IPodRecord.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"

#include <algorithm>
#include <cstring>

namespace {

thread_local std::string tDamage;

// True when `bytes` are the four letters of `tag` (a read past the end gives no bytes).
bool IsTag(std::span<const std::uint8_t> bytes, const char* tag)
{
    return bytes.size() == 4 && std::memcmp(bytes.data(), tag, 4) == 0;
}

} // namespace

int IPodRecord::OpenRecord(ByteReader& in, const char* tag, std::uint32_t minHeader,
                           std::vector<std::uint8_t>& header, ByteReader& body)
{
    std::span<const std::uint8_t> view;
    if (int err = OpenRecord(in, tag, minHeader, view, body); err != 0)
        return err;
    header.assign(view.begin(), view.end());
    return 0;
}

int IPodRecord::OpenRecord(ByteReader& in, const char* tag, std::uint32_t minHeader,
                           std::span<const std::uint8_t>& header, ByteReader& body)
{
    ByteReader look = in;
    if (!look.Has(12) || !IsTag(look.ReadSpan(4), tag))
        return kErrUnknown;
    const std::uint32_t headerLength = look.ReadU32LE();
    const std::uint32_t totalLength = look.ReadU32LE();
    if (headerLength < minHeader || headerLength < 12 || headerLength > totalLength ||
        totalLength > in.Remaining())
        return kErrUnknown;
    ByteReader record = in.Sub(totalLength);
    header = record.ReadSpan(headerLength);
    body = record;
    return 0;
}

int IPodRecord::OpenList(ByteReader& in, const char* tag, std::vector<std::uint8_t>& header)
{
    ByteReader look = in;
    if (!look.Has(12) || !IsTag(look.ReadSpan(4), tag))
        return kErrUnknown;
    const std::uint32_t headerLength = look.ReadU32LE();
    if (headerLength < 12 || headerLength > in.Remaining())
        return kErrUnknown;
    std::span<const std::uint8_t> head = in.ReadSpan(headerLength);
    header.assign(head.begin(), head.end());
    return 0;
}

void IPodRecord::SetU32(std::span<std::uint8_t> header, std::size_t offset, std::uint32_t value)
{
    if (offset + 4 > header.size())
        return;
    for (int i = 0; i < 4; ++i)
        header[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> IPodRecord::NewHeader(const char* tag, std::uint32_t length)
{
    std::vector<std::uint8_t> header(length, 0);
    std::memcpy(header.data(), tag, 4);
    SetU32(header, 4, length);
    return header;
}

void IPodRecord::WriteHeader(ByteWriter& out, std::span<const std::uint8_t> header, std::uint32_t third)
{
    const std::size_t at = out.Size();
    out.WriteBytes(header.data(), header.size());
    out.PatchU32LE(at + 4, static_cast<std::uint32_t>(header.size()));
    out.PatchU32LE(at + 8, third);
}

void IPodRecord::WriteUTF16LE(ByteWriter& out, const std::u16string& units)
{
    std::vector<std::uint8_t>& bytes = out.Bytes();
    const std::size_t at = bytes.size();
    bytes.resize(at + units.size() * 2);
    std::uint8_t* p = bytes.data() + at;
    for (char16_t u : units) {
        *p++ = static_cast<std::uint8_t>(u & 0xFF);
        *p++ = static_cast<std::uint8_t>(u >> 8);
    }
}

namespace {

// The header length and the value at offset 8 of the record at the file's position, which must not
// reach past `limit`. The file does not move.
int PeekRecord(AFile* f, std::uint64_t limit, std::uint32_t& headerLength, std::uint32_t& third)
{
    const std::uint64_t at = f->GetFilePos();
    std::uint8_t head[12];
    if (at > limit || limit - at < 12)
        return kErrUnknown;
    if (int err = f->Read(head, 12, nullptr); err != 0)
        return err;
    f->Seek(at);
    ByteReader in(head, sizeof head);
    in.Skip(4);
    headerLength = in.ReadU32LE();
    third = in.ReadU32LE();
    if (headerLength < 12 || headerLength > limit - at)
        return kErrUnknown;
    return 0;
}

int ReadBytesAt(AFile* f, std::uint32_t length, std::vector<std::uint8_t>& bytes)
{
    try {
        bytes.resize(length);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return f->Read(bytes.data(), length, nullptr);
}

} // namespace

int IPodRecord::ReadHeaderAt(AFile* f, std::uint64_t limit, std::vector<std::uint8_t>& header)
{
    std::uint32_t headerLength = 0, third = 0;
    if (int err = PeekRecord(f, limit, headerLength, third); err != 0)
        return err;
    return ReadBytesAt(f, headerLength, header);
}

int IPodRecord::ReadRecordAt(AFile* f, std::uint64_t limit, std::vector<std::uint8_t>& record)
{
    std::uint32_t headerLength = 0, totalLength = 0;
    if (int err = PeekRecord(f, limit, headerLength, totalLength); err != 0)
        return err;
    if (totalLength < headerLength || totalLength > limit - f->GetFilePos())
        return kErrUnknown;
    return ReadBytesAt(f, totalLength, record);
}

int IPodRecord::CheckNothingLeft(const ByteReader& body, const std::string& what)
{
    if (body.Remaining() == 0)
        return 0;
    return Damaged(what);
}

int IPodRecord::Damaged(const std::string& why)
{
    tDamage = why;
    return kErrUnknown;
}

std::string IPodRecord::DamageReason() { return tDamage; }

void IPodRecord::ClearDamage() { tDamage.clear(); }
