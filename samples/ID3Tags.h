#pragma once
// ID3v1 and ID3v2 tags as MP3 and AIFF files carry them.

#include "samples/SampleBytes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace samples {

// ---- ID3v1 --------------------------------------------------------------------------------------

struct ID3v1Spec {
    std::string title, artist, album, year, comment; // bytes as stored, cut to the field widths
    int track = 0;                                   // 1 to 255 makes an ID3v1.1 tag
    int genre = 255;                                 // the index byte; 255 is "none"
};
Bytes ID3v1Tag(const ID3v1Spec& tag);

// ---- ID3v2 --------------------------------------------------------------------------------------

enum class TextEncoding : std::uint8_t { Latin1 = 0, UTF16 = 1, UTF16BE = 2, UTF8 = 3 };

struct ID3v2Frame {
    std::string id; // 3 characters for version 2.2, 4 for 2.3 and 2.4
    Bytes data;
    std::uint8_t statusFlags = 0; // 2.3 and 2.4 only
    std::uint8_t formatFlags = 0;
};

// `utf8` in the encoding: Latin1 takes code points below 256 only; UTF16 is little-endian after a
// byte-order mark; UTF16BE has no mark. With `terminate`, a zero unit follows.
Bytes EncodeText(const std::string& utf8, TextEncoding encoding, bool terminate = false);
// A text frame: encoding byte, then the text.
ID3v2Frame TextFrame(const std::string& id, const std::string& utf8,
                     TextEncoding encoding = TextEncoding::Latin1);
// A picture frame of `version`: "PIC" with a 3-letter format from the MIME type for 2.2, "APIC"
// otherwise; picture type 3 (front cover).
ID3v2Frame PictureFrame(int version, const Bytes& image, const std::string& mime = "image/jpeg",
                        TextEncoding encoding = TextEncoding::Latin1, const std::string& description = "");

struct ID3v2Options {
    int version = 3; // 2, 3 or 4
    std::size_t padding = 0;
    // 2.2/2.3: the whole body is unsynchronised; 2.4: every frame is (format flag 0x02), and the
    // header flag says so.
    bool unsynchronise = false;
    bool extendedHeader = false;      // 2.3 and 2.4
    bool footer = false;              // 2.4
    bool plainFrameSizes = false;     // 2.4: sizes as plain 32-bit numbers, as some encoders wrote them
    bool dataLengthIndicator = false; // 2.4: every frame carries a data length indicator
};
// A whole tag: header, (extended header), frames, padding, (footer).
Bytes ID3v2Tag(const std::vector<ID3v2Frame>& frames, const ID3v2Options& options = {});
// Standard unsynchronisation: a 0x00 after every 0xFF followed by 0x00 or a byte of 0xE0 or more,
// and after a final 0xFF.
Bytes Unsynchronise(const Bytes& data);
Bytes Synchsafe(std::uint32_t value);

} // namespace samples
