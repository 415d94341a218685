#include "ACommon/itunesdb/MHIP.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodRecord.h"
#include "ACommon/itunesdb/MHIT.h"

namespace {
constexpr std::size_t kOffsetMhodCount = 12;
constexpr std::size_t kOffsetItemNumber = 20;
constexpr std::size_t kOffsetTrackId = 24;
} // namespace

MHIP::MHIP() : fields(std::make_unique<Fields>())
{
    fields->header.Assign(IPodRecord::NewHeader("mhip", 76));
    fields->objectCount = 1;
    fields->first.SetData(std::vector<std::uint8_t>(20, 0), MHOD::kItemPosition);
}

int MHIP::Load(ByteReader& in, const MHOD::TextStore* texts)
{
    const std::span<const std::uint8_t> from = in.Rest();
    auto loaded = std::make_unique<Fields>();
    if (int err = loaded->Load(in, texts); err != 0)
        return err;
    track = nullptr;
    const std::span<const std::uint8_t> record = from.first(from.size() - in.Remaining());
    if (texts && texts->Holds(record)) {
        fields.reset();
        asRead = record;
        store = texts;
    } else {
        fields = std::move(loaded);
    }
    return 0;
}

int MHIP::Fields::Load(ByteReader& in, const MHOD::TextStore* texts)
{
    ByteReader body;
    std::span<const std::uint8_t> head;
    if (int err = IPodRecord::OpenRecord(in, "mhip", kOffsetTrackId + 4, head, body); err != 0)
        return err;
    header.Assign(head);
    const std::uint32_t count = IPodRecord::GetU32(head, kOffsetMhodCount);
    if (count > body.Remaining() / 24)
        return kErrUnknown;
    objectCount = 0;
    more.clear();
    if (count > 1)
        more.resize(count - 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (int err = (i == 0 ? first : more[i - 1]).Load(body, texts); err != 0)
            return err;
        objectCount = static_cast<int>(i + 1);
    }
    if (int err = IPodRecord::CheckNothingLeft(body, "a playlist item counts " + std::to_string(count) +
                                                         " data objects, but its length holds more");
        err != 0)
        return err;
    trailing.clear();
    return 0;
}

MHIP::Fields MHIP::Reread() const
{
    Fields read;
    ByteReader in(asRead);
    read.Load(in, store);
    return read;
}

std::uint32_t MHIP::Fields::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.Size() + trailing.size());
    for (int i = 0; i < objectCount; ++i)
        total += GetDataObject(i).GetTotalSize();
    return total;
}

std::uint32_t MHIP::GetTotalSize() const { return fields ? fields->GetTotalSize() : Reread().GetTotalSize(); }

std::uint32_t MHIP::GetTrackId() const
{
    return IPodRecord::GetU32(fields ? fields->header.Span() : asRead, kOffsetTrackId);
}

void MHIP::Store(ByteWriter& out, std::uint32_t* itemCounter)
{
    if (fields) {
        Store(*fields, out, itemCounter);
        return;
    }
    Fields read = Reread();
    Store(read, out, itemCounter);
}

void MHIP::Store(Fields& item, ByteWriter& out, std::uint32_t* itemCounter) const
{
    const std::span<std::uint8_t> header = item.header.Span();
    IPodRecord::SetU32(header, kOffsetMhodCount, static_cast<std::uint32_t>(item.objectCount));
    if (track) {
        IPodRecord::SetU32(header, kOffsetTrackId, track->GetTrackId());
        if (itemCounter)
            IPodRecord::SetU32(header, kOffsetItemNumber, ++*itemCounter);
    } else {
        // The id named no track when it was read; the tracks are renumbered as they are written,
        // so kept as it was it could name another song now.
        IPodRecord::SetU32(header, kOffsetTrackId, 0);
    }
    IPodRecord::WriteHeader(out, header, item.GetTotalSize());
    for (int i = 0; i < item.objectCount; ++i)
        item.GetDataObject(i).Store(out);
    out.WriteBytes(item.trailing.data(), item.trailing.size());
}
