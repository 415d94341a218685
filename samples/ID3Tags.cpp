#include "samples/ID3Tags.h"

#include <algorithm>
#include <stdexcept>

namespace samples {
namespace {

// Code points of UTF-8 text (the writers are only ever handed valid text).
std::vector<char32_t> CodePoints(const std::string& utf8)
{
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto byte = static_cast<unsigned char>(utf8[i]);
        int extra = byte < 0x80 ? 0 : (byte < 0xE0 ? 1 : (byte < 0xF0 ? 2 : 3));
        char32_t cp = extra == 0 ? byte : (byte & (0x3F >> extra));
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

} // namespace

Bytes ID3v1Tag(const ID3v1Spec& tag)
{
    Bytes out(128, 0);
    auto put = [&](std::size_t at, const std::string& text, std::size_t width) {
        std::copy_n(text.begin(), std::min(text.size(), width),
                    out.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0, "TAG", 3);
    put(3, tag.title, 30);
    put(33, tag.artist, 30);
    put(63, tag.album, 30);
    put(93, tag.year, 4);
    if (tag.track > 0) {
        put(97, tag.comment, 28);
        out[125] = 0;
        out[126] = static_cast<std::uint8_t>(tag.track);
    } else {
        put(97, tag.comment, 30);
    }
    out[127] = static_cast<std::uint8_t>(tag.genre);
    return out;
}

Bytes EncodeText(const std::string& utf8, TextEncoding encoding, bool terminate)
{
    Bytes out;
    switch (encoding) {
    case TextEncoding::Latin1:
        for (char32_t cp : CodePoints(utf8)) {
            if (cp > 0xFF)
                throw std::invalid_argument("text does not fit ISO 8859-1");
            out.push_back(static_cast<std::uint8_t>(cp));
        }
        if (terminate)
            out.push_back(0);
        break;
    case TextEncoding::UTF8:
        AppendText(out, utf8);
        if (terminate)
            out.push_back(0);
        break;
    case TextEncoding::UTF16:
    case TextEncoding::UTF16BE: {
        const bool bigEndian = encoding == TextEncoding::UTF16BE;
        auto unit = [&](std::uint32_t u) {
            if (bigEndian) {
                AppendU16BE(out, u);
            } else {
                out.push_back(static_cast<std::uint8_t>(u));
                out.push_back(static_cast<std::uint8_t>(u >> 8));
            }
        };
        if (encoding == TextEncoding::UTF16)
            unit(0xFEFF);
        for (char32_t cp : CodePoints(utf8)) {
            if (cp >= 0x10000) {
                unit(0xD800 + ((cp - 0x10000) >> 10));
                unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                unit(cp);
            }
        }
        if (terminate)
            unit(0);
        break;
    }
    }
    return out;
}

ID3v2Frame TextFrame(const std::string& id, const std::string& utf8, TextEncoding encoding)
{
    ID3v2Frame frame{id, {static_cast<std::uint8_t>(encoding)}};
    Append(frame.data, EncodeText(utf8, encoding));
    return frame;
}

ID3v2Frame PictureFrame(int version, const Bytes& image, const std::string& mime, TextEncoding encoding,
                        const std::string& description)
{
    ID3v2Frame frame;
    frame.data.push_back(static_cast<std::uint8_t>(encoding));
    if (version == 2) {
        frame.id = "PIC";
        std::string format = mime == "image/jpeg" ? "JPG" : (mime == "image/png" ? "PNG" : "GIF");
        AppendText(frame.data, format);
    } else {
        frame.id = "APIC";
        AppendText(frame.data, mime);
        frame.data.push_back(0);
    }
    frame.data.push_back(3); // front cover
    Append(frame.data, EncodeText(description, encoding, true));
    Append(frame.data, image);
    return frame;
}

Bytes Synchsafe(std::uint32_t value)
{
    return {static_cast<std::uint8_t>((value >> 21) & 0x7F), static_cast<std::uint8_t>((value >> 14) & 0x7F),
            static_cast<std::uint8_t>((value >> 7) & 0x7F), static_cast<std::uint8_t>(value & 0x7F)};
}

Bytes Unsynchronise(const Bytes& data)
{
    Bytes out;
    out.reserve(data.size() + data.size() / 32);
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && (i + 1 == data.size() || data[i + 1] == 0 || data[i + 1] >= 0xE0))
            out.push_back(0);
    }
    return out;
}

Bytes ID3v2Tag(const std::vector<ID3v2Frame>& frames, const ID3v2Options& options)
{
    const int version = options.version;
    Bytes body;
    if (options.extendedHeader && version == 3) {
        AppendU32BE(body, 6); // size, not counting itself
        AppendU16BE(body, 0); // flags
        AppendU32BE(body, static_cast<std::uint32_t>(options.padding));
    } else if (options.extendedHeader && version == 4) {
        Append(body, Synchsafe(6)); // size, counting itself
        body.push_back(1);          // one flag byte
        body.push_back(0);
    }
    for (const ID3v2Frame& frame : frames) {
        if (version == 2) {
            AppendText(body, frame.id);
            AppendU24BE(body, static_cast<std::uint32_t>(frame.data.size()));
            Append(body, frame.data);
            continue;
        }
        Bytes stored;
        std::uint8_t formatFlags = frame.formatFlags;
        if (version == 4 && options.dataLengthIndicator) {
            stored = Synchsafe(static_cast<std::uint32_t>(frame.data.size()));
            formatFlags |= 0x01;
        }
        if (version == 4 && options.unsynchronise) {
            Append(stored, Unsynchronise(frame.data));
            formatFlags |= 0x02;
        } else {
            Append(stored, frame.data);
        }
        AppendText(body, frame.id);
        if (version == 4 && !options.plainFrameSizes)
            Append(body, Synchsafe(static_cast<std::uint32_t>(stored.size())));
        else
            AppendU32BE(body, static_cast<std::uint32_t>(stored.size()));
        body.push_back(frame.statusFlags);
        body.push_back(formatFlags);
        Append(body, stored);
    }
    body.resize(body.size() + options.padding, 0);
    if (options.unsynchronise && version < 4)
        body = Unsynchronise(body);

    std::uint8_t flags = (options.unsynchronise ? 0x80 : 0) |
                         (options.extendedHeader && version > 2 ? 0x40 : 0) |
                         (options.footer && version == 4 ? 0x10 : 0);
    Bytes header = {'I', 'D', '3', static_cast<std::uint8_t>(version), 0, flags};
    Append(header, Synchsafe(static_cast<std::uint32_t>(body.size())));
    Bytes out = header;
    Append(out, body);
    if (options.footer && version == 4) {
        Bytes footer = header;
        std::copy_n("3DI", 3, footer.begin());
        Append(out, footer);
    }
    return out;
}

} // namespace samples
