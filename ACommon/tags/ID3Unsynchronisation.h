#pragma once
// ID3Unsynchronisation: the byte stuffing of ID3v2 tags. A writer puts a 0x00 after every 0xFF that
// could be mistaken for the start of an MPEG frame; a reader takes every 0x00 that follows a 0xFF
// out again. Version 2.2 and 2.3 tags stuff the whole tag body, version 2.4 tags single frames.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class ID3Unsynchronisation {
public:
    // Where the stuffed bytes were: for each 0x00 taken out, the offset in the decoded data of the
    // byte that followed it. Ascending.
    using DropList = std::vector<std::uint32_t>;

    // Decodes `raw` into `out` (replacing its contents), noting the removed bytes in `drops` when
    // given. `out` never grows beyond `raw`.
    static void Decode(std::span<const std::uint8_t> raw, std::vector<std::uint8_t>& out, DropList* drops);

    // Encodes `data` for a stuffed tag or frame: a 0x00 after every 0xFF, which every reader
    // decodes back to the data.
    static std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> data);

    // The offset in the stuffed bytes of decoded offset `decoded` (which may be the decoded length).
    static std::uint64_t RawOffset(std::uint64_t decoded, const DropList& drops);
};
