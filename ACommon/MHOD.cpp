#include "ACommon/MHOD.h"

#include "ACommon/AError.h"
#include "ACommon/IPodRecord.h"

void MHOD::SetUnicodeString(const AString& newText, unsigned newType)
{
    text = newText;
    payload.AssignZeros(16);
    std::uint8_t* subHeader = payload.Data();
    subHeader[0] = 1;
    const std::uint32_t bytes = static_cast<std::uint32_t>(text.Units().size() * 2);
    for (int i = 0; i < 4; ++i)
        subHeader[4 + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
    if (newType != 0)
        type = newType;
}

void MHOD::SetData(std::vector<std::uint8_t> data, unsigned newType)
{
    text = AString();
    payload.Assign(data);
    if (newType != 0)
        type = newType;
}

int MHOD::Load(ByteReader& in)
{
    // The header length is kept as read; the first 24 bytes are always the fixed fields, and
    // everything after them up to the total length is the payload.
    ByteReader look = in;
    if (!look.Has(12) || look.ReadTag(4) != "mhod")
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
    text = AString();
    if (!IsStringType(type)) {
        payload.Assign(rest);
        return 0;
    }
    // A string object: the text runs from payload offset 16 to the end, two bytes a unit.
    if (rest.size() < 16 || (rest.size() - 16) % 2 != 0)
        return kErrUnknown;
    payload.Assign(rest.first(16));
    std::u16string units((rest.size() - 16) / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(rest[16 + 2 * i] | rest[16 + 2 * i + 1] << 8);
    text = AString(std::move(units));
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
    out.WriteBytes(payload.Data(), payload.Size());
    IPodRecord::WriteUTF16LE(out, text.Units());
}
