#include "ACommon/MHIP.h"

#include "ACommon/AError.h"
#include "ACommon/IPodRecord.h"
#include "ACommon/MHIT.h"

namespace {
constexpr std::size_t kOffsetMhodCount = 12;
constexpr std::size_t kOffsetItemNumber = 20;
constexpr std::size_t kOffsetTrackId = 24;
} // namespace

MHIP::MHIP() : header(IPodRecord::NewHeader("mhip", 76))
{
    children.emplace_back();
    children.back().SetData(std::vector<std::uint8_t>(20, 0), MHOD::kItemPosition);
}

int MHIP::Load(ByteReader& in)
{
    ByteReader body;
    if (int err = IPodRecord::OpenRecord(in, "mhip", kOffsetTrackId + 4, header, body); err != 0)
        return err;
    const std::uint32_t count = IPodRecord::GetU32(header, kOffsetMhodCount);
    if (count > body.Remaining() / 24)
        return kErrUnknown;
    children.clear();
    children.resize(count);
    for (MHOD& child : children)
        if (int err = child.Load(body); err != 0)
            return err;
    std::span<const std::uint8_t> rest = body.Rest();
    trailing.assign(rest.begin(), rest.end());
    track = nullptr;
    return 0;
}

std::uint32_t MHIP::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size() + trailing.size());
    for (const MHOD& child : children)
        total += child.GetTotalSize();
    return total;
}

std::uint32_t MHIP::GetTrackId() const { return IPodRecord::GetU32(header, kOffsetTrackId); }

std::uint32_t MHIP::GetItemNumber() const { return IPodRecord::GetU32(header, kOffsetItemNumber); }

void MHIP::Store(ByteWriter& out, std::uint32_t* itemCounter)
{
    IPodRecord::SetU32(header, kOffsetMhodCount, static_cast<std::uint32_t>(children.size()));
    if (track) {
        IPodRecord::SetU32(header, kOffsetTrackId, track->GetTrackId());
        if (itemCounter)
            IPodRecord::SetU32(header, kOffsetItemNumber, ++*itemCounter);
    }
    IPodRecord::WriteHeader(out, header, GetTotalSize());
    for (const MHOD& child : children)
        child.Store(out);
    out.WriteBytes(trailing.data(), trailing.size());
}
