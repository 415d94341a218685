#include "ACommon/tags/VorbisComment.h"

#include "ACommon/base/ByteReader.h"
#include "APlatform/Unicode.h"

#include <cctype>

namespace {

// Field names are ASCII and compared without regard to case.
bool NameIs(std::string_view name, std::string_view expected)
{
    if (name.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != expected[i])
            return false;
    return true;
}

AString TextOf(std::string_view value)
{
    std::u16string units;
    if (!platform::DecodeUTF8(value, units))
        units = platform::DecodeLatin1(value);
    return AString(std::move(units));
}

// The leading decimal digits of `text` (after blanks), low 16 bits; 0 when there are none or when
// they are too many to be a number.
int LeadingNumber(std::string_view text, std::size_t* end = nullptr)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    long value = 0;
    bool tooLong = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x7FFFFFFF) {
            tooLong = true;
            value = 0;
        }
    }
    if (end)
        *end = i;
    return tooLong ? 0 : static_cast<int>(value & 0xFFFF);
}

// "3" or "3/12": the number and, when given, the count.
void NumberPair(std::string_view text, int& number, int& count)
{
    std::size_t end = 0;
    number = LeadingNumber(text, &end);
    if (end < text.size() && text[end] == '/')
        count = LeadingNumber(text.substr(end + 1));
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

bool VorbisComment::Parse(std::span<const std::uint8_t> bytes)
{
    ByteReader reader(bytes);
    const std::uint32_t vendorLength = reader.ReadU32LE();
    if (!reader.Skip(vendorLength))
        return false;
    const std::uint32_t count = reader.ReadU32LE();
    if (!reader.Ok())
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t length = reader.ReadU32LE();
        std::span<const std::uint8_t> field = reader.ReadSpan(length);
        if (!reader.Ok())
            break;
        ApplyField({reinterpret_cast<const char*>(field.data()), field.size()});
    }
    return true;
}

void VorbisComment::ApplyField(std::string_view field)
{
    const std::size_t equals = field.find('=');
    if (equals == std::string_view::npos)
        return;
    const std::string_view name = field.substr(0, equals);
    const std::string_view value = field.substr(equals + 1);
    if (value.empty())
        return;
    // A field given twice keeps its first value.
    auto text = [&](AString& member) {
        if (member.IsEmpty())
            member = TextOf(value);
    };
    if (NameIs(name, "TITLE"))
        text(title);
    else if (NameIs(name, "ARTIST"))
        text(artist);
    else if (NameIs(name, "ALBUMARTIST") || NameIs(name, "ALBUM ARTIST"))
        text(albumArtist);
    else if (NameIs(name, "ALBUM"))
        text(album);
    else if (NameIs(name, "GENRE"))
        text(genre);
    else if (NameIs(name, "COMPOSER"))
        text(composer);
    else if (NameIs(name, "TRACKNUMBER"))
        NumberPair(value, trackNumber, trackCount);
    else if (NameIs(name, "TRACKTOTAL") || NameIs(name, "TOTALTRACKS"))
        trackCount = LeadingNumber(value);
    else if (NameIs(name, "DISCNUMBER"))
        NumberPair(value, discNumber, discCount);
    else if (NameIs(name, "DISCTOTAL") || NameIs(name, "TOTALDISCS"))
        discCount = LeadingNumber(value);
    else if (NameIs(name, "DATE") || (NameIs(name, "YEAR") && year == 0))
        year = LeadingNumber(value);
    else if (NameIs(name, "COMPILATION"))
        compilation = LeadingNumber(value) == 1;
    else if (NameIs(name, "METADATA_BLOCK_PICTURE"))
        encodedPictures.push_back(value);
}

bool VorbisComment::ParsePicture(std::span<const std::uint8_t> head, std::uint64_t recordSize,
                                 Picture& picture)
{
    ByteReader reader(head);
    picture.type = reader.ReadU32BE();
    reader.Skip(reader.ReadU32BE()); // MIME type
    reader.Skip(reader.ReadU32BE()); // description
    reader.Skip(16);                 // width, height, colour depth, colours used
    const std::uint32_t length = reader.ReadU32BE();
    picture.offset = reader.Position();
    if (!reader.Ok() || length == 0 || recordSize < picture.offset || length > recordSize - picture.offset)
        return false;
    picture.length = length;
    return true;
}

bool VorbisComment::DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out)
{
    out.clear();
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int held = 0;
    bool padding = false;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            padding = true;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padding)
            return false;
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> held));
        }
    }
    return true;
}
