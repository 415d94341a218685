#include "ACommon/MHOD.h"

#include "ACommon/AError.h"
#include "ACommon/IPodRecord.h"

#include <cstring>

namespace {

AString DecodeUTF16LE(std::span<const std::uint8_t> bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return AString(std::move(units));
}

} // namespace

const AString& MHOD::GetString() const
{
    if (!text) {
        static const AString kNone;
        if (!IsStringType(type) || kept.size() < 16)
            return kNone;
        text = std::make_unique<AString>(DecodeUTF16LE(kept.subspan(16)));
    }
    return *text;
}

std::span<const std::uint8_t> MHOD::GetPayload() const
{
    if (!kept.empty())
        return IsStringType(type) ? kept.first(16) : kept;
    return payload;
}

void MHOD::SetUnicodeString(const AString& newText, unsigned newType)
{
    std::vector<std::uint8_t> subHeader(16, 0);
    subHeader[0] = 1;
    const std::uint32_t bytes = static_cast<std::uint32_t>(newText.Units().size() * 2);
    for (int i = 0; i < 4; ++i)
        subHeader[4 + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
    kept = {};
    payload = std::move(subHeader);
    text = std::make_unique<AString>(newText);
    if (newType != 0)
        type = newType;
}

void MHOD::SetData(std::vector<std::uint8_t> data, unsigned newType)
{
    kept = {};
    payload = std::move(data);
    text.reset();
    if (newType != 0)
        type = newType;
}

int MHOD::Load(ByteReader& in, const TextStore* store)
{
    // The header length is kept as read; the first 24 bytes are always the fixed fields, and
    // everything after them up to the total length is the payload.
    ByteReader look = in;
    if (!look.Has(12) || std::memcmp(look.ReadSpan(4).data(), "mhod", 4) != 0)
        return kErrUnknown;
    const std::uint32_t readHeaderLength = look.ReadU32LE();
    const std::uint32_t totalLength = look.ReadU32LE();
    if (totalLength < 24 || readHeaderLength > totalLength || totalLength > in.Remaining())
        return kErrUnknown;
    ByteReader record = in.Sub(totalLength);
    record.Skip(12);
    headerLength = readHeaderLength;
    type = record.ReadU32LE();
    unknown16 = record.ReadU32LE();
    unknown20 = record.ReadU32LE();
    std::span<const std::uint8_t> rest = record.Rest();
    // A string object: a 16-byte sub-header, then the text, two bytes a unit.
    if (IsStringType(type) && (rest.size() < 16 || (rest.size() - 16) % 2 != 0))
        return kErrUnknown;
    text.reset();
    payload.clear();
    kept = {};
    if (store && !rest.empty() && store->Holds(rest)) {
        kept = rest;
        return 0;
    }
    if (!IsStringType(type)) {
        payload.assign(rest.begin(), rest.end());
        return 0;
    }
    payload.assign(rest.begin(), rest.begin() + 16);
    text = std::make_unique<AString>(DecodeUTF16LE(rest.subspan(16)));
    return 0;
}

void MHOD::Store(ByteWriter& out) const
{
    out.WriteTag("mhod");
    out.WriteU32LE(headerLength);
    out.WriteU32LE(GetTotalSize());
    out.WriteU32LE(type);
    out.WriteU32LE(unknown16);
    out.WriteU32LE(unknown20);
    if (!kept.empty()) {
        out.WriteBytes(kept.data(), kept.size());
        return;
    }
    out.WriteBytes(payload.data(), payload.size());
    if (text)
        IPodRecord::WriteUTF16LE(out, text->Units());
}
