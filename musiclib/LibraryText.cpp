#include "musiclib/LibraryText.h"

#include "APlatform/Unicode.h"

#include <algorithm>

namespace {

bool IsAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

int LibraryText::Compare(std::string_view a, std::string_view b)
{
    // Most tags are ASCII: compare them here, without decoding.
    if (IsAscii(a) && IsAscii(b)) {
        const std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const char x = LowerAscii(a[i]);
            const char y = LowerAscii(b[i]);
            if (x != y)
                return x < y ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    }
    std::u16string left, right;
    if (!platform::DecodeUTF8(a, left) || !platform::DecodeUTF8(b, right))
        return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    return platform::CompareCanonical(left, right, true);
}

std::string LibraryText::Key(std::string_view text)
{
    if (IsAscii(text)) {
        std::string key(text);
        for (char& c : key)
            c = LowerAscii(c);
        return key;
    }
    std::u16string units;
    if (!platform::DecodeUTF8(text, units))
        return std::string(text);
    return platform::EncodeUTF8(platform::CanonicalKey(units, true));
}

std::string LibraryText::CheckName(std::string_view name)
{
    if (name.empty())
        return "a playlist needs a name";
    std::u16string units;
    if (!platform::DecodeUTF8(name, units))
        return "a playlist's name must be UTF-8 text";
    for (char16_t unit : units)
        if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0) || unit == 0x2028 || unit == 0x2029)
            return "a playlist's name cannot hold a line break or another control character";
    if (units.size() > kMaxNameLength)
        return "a playlist's name is limited to " + std::to_string(kMaxNameLength) + " characters";
    return std::string();
}
