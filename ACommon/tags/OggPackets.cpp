#include "ACommon/tags/OggPackets.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/FileWindow.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kPageHeaderSize = 27;
constexpr std::size_t kGranuleSearchBytes = 65536;

} // namespace

int OggPackets::Next(std::vector<std::uint8_t>& packet)
{
    try {
        while (nextReady >= ready.size()) {
            ready.clear();
            nextReady = 0;
            if (!ReadPage())
                return 0;
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    packet = std::move(ready[nextReady++]);
    packetPageEnd = readyPageEnd;
    return 1;
}

bool OggPackets::ReadPage()
{
    for (;;) {
        ByteReader header(window.View(offset, kPageHeaderSize));
        if (header.ReadTag(4) != "OggS" || header.ReadU8() != 0)
            return false;
        header.Skip(9); // type, granule position
        const std::uint32_t pageSerial = header.ReadU32LE();
        header.Skip(8); // page number, CRC
        const std::size_t segmentCount = header.ReadU8();
        if (!header.Ok())
            return false;
        std::uint8_t lacing[255];
        if (window.ReadExact(offset + kPageHeaderSize, segmentCount, lacing) != 0)
            return false;
        std::uint64_t payload = offset + kPageHeaderSize + segmentCount;
        std::uint64_t payloadSize = 0;
        for (std::size_t i = 0; i < segmentCount; ++i)
            payloadSize += lacing[i];
        if (payloadSize > window.FileSize() - std::min(payload, window.FileSize()))
            return false; // the page runs past the end of the file
        const std::uint64_t pageEnd = payload + payloadSize;
        offset = pageEnd;
        if (!serialKnown) {
            serial = pageSerial;
            serialKnown = true;
        } else if (pageSerial != serial) {
            continue; // a page of another stream multiplexed into the file
        }

        std::vector<std::uint8_t> bytes;
        if (window.ReadInto(payload, static_cast<std::size_t>(payloadSize), bytes) != 0)
            return false;
        std::size_t at = 0;
        for (std::size_t i = 0; i < segmentCount; ++i) {
            if (partial.size() + lacing[i] > kMaxPacketBytes)
                tooLarge = true;
            if (!tooLarge)
                partial.insert(partial.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + lacing[i]));
            at += lacing[i];
            if (lacing[i] < 255) {
                if (tooLarge)
                    return false; // a packet this large is not a header; stop here
                ready.push_back(std::move(partial));
                partial.clear();
            }
        }
        readyPageEnd = pageEnd;
        if (!ready.empty())
            return true;
    }
}

bool OggPackets::LastGranule(FileWindow& window, std::uint32_t serial, std::uint64_t& granule)
{
    const std::uint64_t size = window.FileSize();
    const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(size, kGranuleSearchBytes));
    std::vector<std::uint8_t> tail;
    if (window.ReadInto(size - span, span, tail) != 0)
        return false;
    for (std::size_t i = span >= kPageHeaderSize ? span - kPageHeaderSize + 1 : 0; i-- > 0;) {
        if (std::memcmp(tail.data() + i, "OggS", 4) != 0)
            continue;
        ByteReader page(std::span<const std::uint8_t>(tail).subspan(i, kPageHeaderSize));
        page.Skip(6);
        const std::uint32_t low = page.ReadU32LE();
        const std::uint32_t high = page.ReadU32LE();
        const std::uint32_t pageSerial = page.ReadU32LE();
        const std::uint64_t value = static_cast<std::uint64_t>(high) << 32 | low;
        // -1 marks a page on which no packet ends.
        if (page.Ok() && pageSerial == serial && value != UINT64_MAX) {
            granule = value;
            return true;
        }
    }
    return false;
}
