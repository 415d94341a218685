#pragma once
// Vorbis comment blocks and FLAC picture records, byte by byte, for the tag reader's tests.

#include "samples/SampleBytes.h"

#include <string>
#include <vector>

namespace tagbytes {

using samples::Bytes;

inline void AppendLE(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A comment block; its first four bytes are the vendor's length.
inline Bytes Comment(const std::vector<std::string>& fields)
{
    Bytes out;
    AppendLE(out, 6, 4);
    samples::AppendText(out, "vendor");
    AppendLE(out, fields.size(), 4);
    for (const std::string& field : fields) {
        AppendLE(out, field.size(), 4);
        samples::AppendText(out, field);
    }
    return out;
}

// A front cover of type "image/png" (its length is bytes 4 to 7) claiming `declaredLength` bytes.
inline Bytes PictureRecord(const Bytes& data, std::uint32_t declaredLength)
{
    Bytes out;
    samples::AppendU32sBE(out, {3, 9});
    samples::AppendText(out, "image/png");
    samples::AppendU32sBE(out, {4});
    samples::AppendText(out, "desc");
    samples::AppendU32sBE(out, {16, 16, 24, 0, declaredLength});
    samples::Append(out, data);
    return out;
}

inline Bytes PictureRecord(const Bytes& data)
{
    return PictureRecord(data, static_cast<std::uint32_t>(data.size()));
}

} // namespace tagbytes
