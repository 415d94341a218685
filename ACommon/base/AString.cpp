#include "ACommon/base/AString.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "APlatform/Unicode.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

std::u16string DecodeBytes(const char* bytes, bool latin1Fallback)
{
    std::u16string out;
    if (!bytes)
        return out;
    std::string_view view(bytes);
    if (platform::DecodeUTF8(view, out))
        return out;
    return latin1Fallback ? platform::DecodeLatin1(view) : std::u16string();
}

std::u16string DecimalUnits(long long value)
{
    std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

std::u16string DecimalUnits(unsigned long long value)
{
    std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

// Decodes UTF-16 bytes: a leading byte-order mark chooses the byte order, big-endian without one.
// False when the units are not valid UTF-16.
bool DecodeUTF16Bytes(const unsigned char* bytes, size_t size, std::u16string& out)
{
    bool bigEndian = true;
    size_t i = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        bigEndian = false;
        i = 2;
    } else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        i = 2;
    }
    out.clear();
    out.reserve((size - i) / 2);
    for (; i + 1 < size; i += 2) {
        char16_t unit = bigEndian ? static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1])
                                  : static_cast<char16_t>(bytes[i + 1] << 8 | bytes[i]);
        out.push_back(unit);
    }
    return platform::IsValidUTF16(out);
}

bool IsAsciiDigit(char16_t u) { return u >= u'0' && u <= u'9'; }

} // namespace

AString::AString(const char* bytes) : units(DecodeBytes(bytes, false)) {}

AString AString::FromUTF8(std::string_view bytes)
{
    AString result;
    if (!platform::DecodeUTF8(bytes, result.units))
        result.units.clear();
    return result;
}

AString& AString::operator=(const AString* other)
{
    if (!other)
        units.clear();
    else if (other != this)
        units = other->units;
    return *this;
}

AString& AString::operator=(const char* bytes)
{
    units = DecodeBytes(bytes, true);
    return *this;
}

AString& AString::operator=(const std::string& bytes)
{
    if (!platform::DecodeUTF8(bytes, units))
        units = platform::DecodeLatin1(bytes);
    return *this;
}

AString& AString::operator=(char c)
{
    units.assign(1, static_cast<char16_t>(static_cast<unsigned char>(c)));
    return *this;
}

AString& AString::operator=(const short* source)
{
    units.clear();
    if (!source)
        return *this;
    size_t count = 0;
    while (source[count] != 0)
        ++count;
    // The units' bytes as they lie in memory.
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    if (!DecodeUTF16Bytes(bytes, count * 2, units))
        units.clear();
    return *this;
}

AString& AString::operator=(int value)
{
    units = DecimalUnits(static_cast<long long>(value));
    return *this;
}

AString& AString::operator=(unsigned int value)
{
    units = DecimalUnits(static_cast<unsigned long long>(value));
    return *this;
}

AString& AString::operator=(unsigned long long value)
{
    units = DecimalUnits(value);
    return *this;
}

AString& AString::operator+=(char c)
{
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return *this;
}

AString& AString::operator+=(const char* bytes)
{
    units += DecodeBytes(bytes, false);
    return *this;
}

AString& AString::operator+=(const AString& other)
{
    units += other.units;
    return *this;
}

AString& AString::operator+=(const AString* other)
{
    if (other)
        units += other->units;
    return *this;
}

AString& AString::operator+=(int value)
{
    units += DecimalUnits(static_cast<long long>(value));
    return *this;
}

AString& AString::operator+=(short unit)
{
    units.push_back(static_cast<char16_t>(unit));
    return *this;
}

AString AString::operator+(const AString& other) const
{
    AString result(*this);
    result += other;
    return result;
}

AString AString::operator+(const char* bytes) const
{
    AString result(*this);
    result += bytes;
    return result;
}

const char* AString::CStr() const
{
    utf8 = platform::EncodeUTF8(units);
    return utf8.c_str();
}

std::string AString::ToStdString() const { return platform::EncodeUTF8(units); }

void AString::Delete(int start, int count)
{
    if (start < 0 || count <= 0 || start >= GetLength())
        return;
    units.erase(start, count);
}

void AString::Insert(char c, int at)
{
    at = std::clamp(at, 0, GetLength());
    units.insert(units.begin() + at, static_cast<char16_t>(static_cast<unsigned char>(c)));
}

void AString::Insert(const AString& s, int at)
{
    at = std::clamp(at, 0, GetLength());
    units.insert(at, s.units);
}

void AString::Replace(const AString& from, const AString& to)
{
    if (from.units.empty())
        return;
    std::u16string result;
    int position = 0;
    for (;;) {
        int matched = 0;
        int found = platform::FindCanonical(units, from.units, position, false, &matched);
        if (found < 0 || matched <= 0)
            break;
        result.append(units, position, found - position);
        result += to.units;
        position = found + matched;
    }
    if (position == 0 && result.empty())
        return;
    result.append(units, position, std::u16string::npos);
    units = std::move(result);
}

void AString::Replace(short from, short to)
{
    for (char16_t& u : units)
        if (u == static_cast<char16_t>(from))
            u = static_cast<char16_t>(to);
}

void AString::Trim()
{
    size_t begin = 0;
    size_t end = units.size();
    while (begin < end && platform::IsBlank(units[begin]))
        ++begin;
    while (end > begin && platform::IsBlank(units[end - 1]))
        --end;
    if (begin != 0 || end != units.size())
        units = units.substr(begin, end - begin);
}

void AString::Upper() { units = platform::ToUpper(units); }

int AString::Find(const AString& what, int start, signed char matchCase) const
{
    return platform::FindCanonical(units, what.units, start, matchCase == 0);
}

int AString::Find(const char* what, int start) const { return Find(AString(what), start, 1); }

int AString::Find(short unit, int start) const
{
    if (start < 0)
        start = 0;
    size_t found = units.find(static_cast<char16_t>(unit), start);
    return found == std::u16string::npos ? -1 : static_cast<int>(found);
}

int AString::ReverseFind(short unit) const
{
    size_t found = units.rfind(static_cast<char16_t>(unit));
    return found == std::u16string::npos ? -1 : static_cast<int>(found);
}

int AString::Count(short unit) const
{
    int count = 0;
    for (char16_t u : units)
        if (u == static_cast<char16_t>(unit))
            ++count;
    return count;
}

int AString::Compare(const AString& other) const
{
    return platform::CompareCanonical(units, other.units, false);
}
int AString::Compare(const char* other) const { return Compare(AString(other)); }
int AString::CompareNoCase(const AString& other) const
{
    return platform::CompareCanonical(units, other.units, true);
}
int AString::CompareNoCase(const char* other) const { return CompareNoCase(AString(other)); }

bool AString::operator==(const char* other) const { return units == DecodeBytes(other, false); }

AString AString::Left(int n) const
{
    if (n <= 0)
        return AString();
    return AString(units.substr(0, n));
}

AString AString::Mid(int start, int count) const
{
    if (start < 0)
        start = 0;
    if (count <= 0 || start >= GetLength())
        return AString();
    return AString(units.substr(start, count));
}

AString AString::Right(int n) const
{
    if (n <= 0)
        return AString();
    if (n >= GetLength())
        return *this;
    return AString(units.substr(units.size() - n));
}

long long AString::Int64Value() const
{
    size_t i = 0;
    while (i < units.size() && platform::IsBlank(units[i]))
        ++i;
    bool negative = false;
    if (i < units.size() && (units[i] == u'-' || units[i] == u'+')) {
        negative = units[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < units.size() && IsAsciiDigit(units[i]); ++i) {
        if (value < LLONG_MAX / 10)
            value = value * 10 + (units[i] - u'0');
    }
    return negative ? -value : value;
}

int AString::IntValue(int base) const
{
    (void)base; // only decimal is ever asked for
    long long value = Int64Value();
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool AString::IsNumber() const
{
    if (units.empty())
        return false;
    for (char16_t u : units)
        if (!IsAsciiDigit(u))
            return false;
    return true;
}

int AString::ExtractFileNum() const
{
    int dot = ReverseFind('.');
    if (dot < 0)
        return 0;
    int space = ReverseFind(' ');
    if (space < 0)
        return 0;
    int gap = dot - space;
    if (gap != 2 && gap != 3)
        return 0;
    return Mid(space + 1, gap - 1).IntValue(10);
}

AString AString::Base26Num(int n)
{
    if (n < 0)
        return AString();
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'A' + n % 26));
        n /= 26;
    } while (n > 0);
    return AString(std::move(digits));
}

void AString::AppendPathComponent(const AString& component)
{
    if (units.empty()) {
        units = component.units;
        return;
    }
    if (units.back() != u'/')
        units.push_back(u'/');
    // Exactly one "/" between the two parts.
    size_t skip = 0;
    while (skip < component.units.size() && component.units[skip] == u'/')
        ++skip;
    units.append(component.units, skip, std::u16string::npos);
}

void AString::AppendPathComponent(const char* component) { AppendPathComponent(AString(component)); }

void AString::PathExtension(AString* out) const
{
    if (!out)
        return;
    AString last;
    LastPathComponent(&last);
    int dot = last.ReverseFind('.');
    *out = dot < 0 ? AString() : last.Mid(dot + 1, last.GetLength());
}

void AString::LastPathComponent(AString* out) const
{
    if (!out)
        return;
    std::u16string_view view(units);
    // A trailing "/" does not end the last component.
    while (view.size() > 1 && view.back() == u'/')
        view.remove_suffix(1);
    size_t slash = view.rfind(u'/');
    if (slash == std::u16string_view::npos || view.size() == 1)
        *out = AString(std::u16string(view));
    else
        *out = AString(std::u16string(view.substr(slash + 1)));
}

bool AString::IsChangedInPathNames(unsigned short unit)
{
    switch (unit) {
    case u'\\':
    case u'/':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
    case 0x0080:
    case 0x0094:
    case 0x0096:
        return true;
    default:
        return false;
    }
}

void AString::FormatPathString(AString& s, char replacement, signed char fixDots)
{
    const char16_t r = static_cast<unsigned char>(replacement);
    std::u16string& u = s.units;
    if (!u.empty() && u.find_first_not_of(u' ') == std::u16string::npos) {
        u.front() = r;
        u.back() = r;
        return;
    }
    for (char16_t& c : u)
        if (c < 0x80 && IsChangedInPathNames(c))
            c = r;
    // Characters that come from text decoded with the wrong code page.
    for (char16_t& c : u) {
        if (c == 0x0096)
            c = 0x02C6;
        else if (c == 0x0094)
            c = 0x2030;
    }
    static const std::u16string kMisreadPerMille = u"a\u0302\u0080";
    for (size_t at = u.find(kMisreadPerMille); at != std::u16string::npos;
         at = u.find(kMisreadPerMille, at + 1))
        u.replace(at, kMisreadPerMille.size(), 1, 0x2030);
    if (fixDots && !u.empty()) {
        if (u.front() == u'.')
            u.front() = r;
        if (u.back() == u'.')
            u.back() = r;
    }
}

bool AString::FitsStoredRecord() const { return 2 + units.size() * 2 <= kMaxStoredBytes; }

int AString::WriteState(AFile* f) const
{
    // Readers refuse a record longer than kMaxStoredBytes, and with it the whole file the record
    // stands in: such a string is refused here, before a byte of it is written, so that a state
    // file is never written that cannot be read back.
    if (!FitsStoredRecord())
        return kErrAddSong;
    const size_t length = 2 + units.size() * 2;
    std::vector<unsigned char> bytes = {0x00, 0x00, 0x10, 0x00};
    bytes.reserve(4 + 2 + length);
    bytes.push_back(static_cast<unsigned char>(length & 0xFF));
    bytes.push_back(static_cast<unsigned char>((length >> 8) & 0xFF));
    bytes.push_back(0xFF);
    bytes.push_back(0xFE);
    for (char16_t u : units) {
        bytes.push_back(static_cast<unsigned char>(u & 0xFF));
        bytes.push_back(static_cast<unsigned char>(u >> 8));
    }
    return f->Write(bytes.data(), static_cast<unsigned>(bytes.size()));
}

int AString::ReadState(AFile* f)
{
    unsigned char mark[4];
    if (int err = f->Read(mark, 4, nullptr); err != 0)
        return err;
    std::uint32_t value = mark[0] | mark[1] << 8 | mark[2] << 16 | static_cast<std::uint32_t>(mark[3]) << 24;
    if (value != kStateMark)
        return kErrVersion;
    unsigned char header[2];
    if (int err = f->Read(header, 2, nullptr); err != 0)
        return err;
    const int length = static_cast<int16_t>(header[0] | header[1] << 8);
    if (length > kMaxStoredBytes || length < 0)
        return kErrAddSong;
    if (static_cast<unsigned long long>(length) > f->Remaining())
        return kErrEndOfFile;
    std::vector<unsigned char> bytes(length);
    if (length > 0) {
        if (int err = f->Read(bytes.data(), static_cast<unsigned>(length), nullptr); err != 0)
            return err;
    }
    std::u16string decoded;
    if (!DecodeUTF16Bytes(bytes.data(), bytes.size(), decoded))
        decoded.clear();
    units = std::move(decoded);
    return 0;
}
