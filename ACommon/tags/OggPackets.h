#pragma once
// OggPackets: the packets of the first logical stream of an Ogg file, in order, put together from
// the segments of its pages. Used to read the header packets of Vorbis and Opus streams.
//
// Ogg page: 27-byte header, the segment table, then the segments.
//   0 "OggS"  4 version (0)  5 type (1 continued, 2 first, 4 last)  6 granule position (64-bit LE)
//   14 stream serial (32-bit LE)  18 page number  22 CRC  26 segment count, then one byte per
//   segment: its length; a length below 255 ends a packet.

#include <cstdint>
#include <vector>

class FileWindow;

class OggPackets {
public:
    // No packet is allowed to grow past this: the pictures in a comment packet are the largest.
    static constexpr std::size_t kMaxPacketBytes = 64u << 20;

    explicit OggPackets(FileWindow& source) : window(source) {}

    // The next packet into `packet`: 1 when there is one, 0 at the end of the stream or where the
    // pages are damaged, -108 when the memory cannot be had.
    int Next(std::vector<std::uint8_t>& packet);

    // The offset just after the page on which the last packet returned ended.
    std::uint64_t PacketPageEnd() const { return packetPageEnd; }
    std::uint32_t Serial() const { return serial; }

    // The granule position of the last page of stream `serial`, searched for in the last 64 KiB
    // of the file; false when none is found.
    static bool LastGranule(FileWindow& window, std::uint32_t serial, std::uint64_t& granule);

private:
    // Reads the page at `offset` and queues its segments; false when there is none.
    bool ReadPage();

    FileWindow& window;
    std::uint64_t offset = 0;
    std::uint32_t serial = 0;
    bool serialKnown = false;
    // Packets completed on the page just read, and the one that runs on to the next page.
    std::vector<std::vector<std::uint8_t>> ready;
    std::size_t nextReady = 0;
    std::vector<std::uint8_t> partial;
    std::uint64_t readyPageEnd = 0;
    std::uint64_t packetPageEnd = 0;
    bool tooLarge = false;
};
