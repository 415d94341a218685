#include "ACommon/itunesdb/MHOD.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodRecord.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kSubHeaderLength = 16;

std::uint32_t U32LE(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

AString DecodeUTF16LE(std::span<const std::uint8_t> bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return AString(std::move(units));
}

} // namespace

std::span<const std::uint8_t> MHOD::StoredTextBytes(std::uint32_t* encoding) const
{
    // Load made sure that a string object holds its sub-header and the length it gives.
    const std::span<const std::uint8_t> bytes = AsRead();
    *encoding = U32LE(bytes, 0);
    return bytes.subspan(kSubHeaderLength, U32LE(bytes, 4));
}

const AString& MHOD::GetString() const
{
    if (!text) {
        static const AString kNone;
        if (!IsStringType(type) || !asRead)
            return kNone;
        std::uint32_t encoding = 0;
        const std::span<const std::uint8_t> bytes = StoredTextBytes(&encoding);
        if (encoding == kEncodingUTF8)
            text = std::make_unique<AString>(AString::FromUTF8(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
        else
            text = std::make_unique<AString>(DecodeUTF16LE(bytes));
    }
    return *text;
}

MHOD::StoredText MHOD::GetUndecodedText() const
{
    if (text || !IsStringType(type) || !asRead)
        return {};
    std::uint32_t encoding = 0;
    const std::span<const std::uint8_t> bytes = StoredTextBytes(&encoding);
    if (encoding != kEncodingUTF8)
        return {bytes.first(bytes.size() & ~std::size_t{1}), 2};
    if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= 0x80; }))
        return {};
    return {bytes, 1};
}

std::span<const std::uint8_t> MHOD::GetPayload() const
{
    if (asRead)
        return IsStringType(type) ? AsRead().first(kSubHeaderLength) : AsRead();
    return payload;
}

void MHOD::SetUnicodeString(const AString& newText, unsigned newType)
{
    std::vector<std::uint8_t> subHeader(kSubHeaderLength, 0);
    subHeader[0] = 1;
    const std::uint32_t bytes = static_cast<std::uint32_t>(newText.Units().size() * 2);
    for (int i = 0; i < 4; ++i)
        subHeader[4 + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
    kept = {};
    asRead = false;
    payload = std::move(subHeader);
    text = std::make_unique<AString>(newText);
    if (newType != 0)
        type = newType;
}

void MHOD::SetData(std::vector<std::uint8_t> data, unsigned newType)
{
    kept = {};
    asRead = false;
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
    // A string object: the sub-header, then text of the length it gives, within the record.
    if (IsStringType(type) &&
        (rest.size() < kSubHeaderLength || U32LE(rest, 4) > rest.size() - kSubHeaderLength))
        return kErrUnknown;
    text.reset();
    payload.clear();
    kept = {};
    asRead = true;
    // In a store, text is decoded when first asked for; an object read on its own decodes it now,
    // so that reading it later changes nothing.
    if (store && !rest.empty() && store->Holds(rest)) {
        kept = rest;
        return 0;
    }
    payload.assign(rest.begin(), rest.end());
    if (IsStringType(type))
        GetString();
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
    if (asRead) {
        const std::span<const std::uint8_t> bytes = AsRead();
        out.WriteBytes(bytes.data(), bytes.size());
        return;
    }
    out.WriteBytes(payload.data(), payload.size());
    if (text)
        IPodRecord::WriteUTF16LE(out, text->Units());
}
