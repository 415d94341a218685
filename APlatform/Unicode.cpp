#include "APlatform/Unicode.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>
#include <vector>

namespace platform {
namespace {

bool IsAscii(std::u16string_view units)
{
    for (char16_t u : units)
        if (u >= 0x80)
            return false;
    return true;
}

char16_t FoldAscii(char16_t u) { return (u >= 'A' && u <= 'Z') ? static_cast<char16_t>(u + 32) : u; }

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

// A text brought into a form in which canonically equivalent texts (and with case folding, texts
// that differ only in case) are equal unit for unit, with the index of the original unit that
// each unit came from. The text is cut into segments that normalization never merges (a starter
// with the combining marks that follow it); each segment becomes NFD, or NFD(fold(NFD)) when case
// is ignored, and all its units point at the segment's first unit. A match must therefore cover
// whole segments: "e" is not found inside "e" + U+0301, whichever form that accented letter has.
struct SearchForm {
    std::u16string units;
    std::vector<int> origin; // origin[i]: index in the original text of the segment of unit i
};

void AppendSegment(SearchForm& form, const UNormalizer2* nfd, std::u16string_view segment, int begin,
                   bool ignoreCase)
{
    if (segment.size() == 1 && segment[0] < 0x80) {
        form.units.push_back(ignoreCase ? FoldAscii(segment[0]) : segment[0]);
        form.origin.push_back(begin);
        return;
    }
    auto normalize = [nfd](std::u16string_view text, std::u16string& out) {
        out.assign(text);
        if (!nfd)
            return;
        std::u16string result(text.size() * 4 + 8, u'\0');
        for (int attempt = 0; attempt < 2; ++attempt) {
            UErrorCode error = U_ZERO_ERROR;
            int32_t length = unorm2_normalize(
                nfd, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                reinterpret_cast<UChar*>(result.data()), static_cast<int32_t>(result.size()), &error);
            if (error == U_BUFFER_OVERFLOW_ERROR) {
                result.resize(length);
                continue;
            }
            if (U_SUCCESS(error)) {
                result.resize(length);
                out = std::move(result);
            }
            return;
        }
    };
    std::u16string decomposed;
    normalize(segment, decomposed);
    if (ignoreCase) {
        std::u16string folded(decomposed.size() * 3 + 8, u'\0');
        UErrorCode error = U_ZERO_ERROR;
        int32_t length =
            u_strFoldCase(reinterpret_cast<UChar*>(folded.data()), static_cast<int32_t>(folded.size()),
                          reinterpret_cast<const UChar*>(decomposed.data()),
                          static_cast<int32_t>(decomposed.size()), U_FOLD_CASE_DEFAULT, &error);
        if (U_SUCCESS(error)) {
            folded.resize(length);
            normalize(folded, decomposed);
        }
    }
    for (char16_t unit : decomposed) {
        form.units.push_back(unit);
        form.origin.push_back(begin);
    }
}

SearchForm MakeSearchForm(std::u16string_view text, int start, bool ignoreCase)
{
    SearchForm form;
    form.units.reserve(text.size() - start);
    form.origin.reserve(text.size() - start);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status))
        nfd = nullptr;
    const int length = static_cast<int>(text.size());
    int segmentBegin = start;
    int i = start;
    while (i < length) {
        int begin = i;
        UChar32 c;
        U16_NEXT(text.data(), i, length, c);
        // A new segment begins at every character that normalization keeps apart from what precedes.
        const bool boundary = c < 0x80 || !nfd || unorm2_hasBoundaryBefore(nfd, c);
        if (boundary && begin > segmentBegin) {
            AppendSegment(form, nfd, text.substr(segmentBegin, begin - segmentBegin), segmentBegin,
                          ignoreCase);
            segmentBegin = begin;
        }
    }
    if (length > segmentBegin)
        AppendSegment(form, nfd, text.substr(segmentBegin), segmentBegin, ignoreCase);
    return form;
}

} // namespace

bool DecodeUTF8(std::string_view bytes, std::u16string& out)
{
    out.clear();
    bool ascii = true;
    for (unsigned char b : bytes) {
        if (b >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        out.assign(bytes.begin(), bytes.end());
        return true;
    }
    // A UTF-8 text never has more UTF-16 units than bytes.
    out.resize(bytes.size());
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length,
                  bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) {
        out.clear();
        return false;
    }
    out.resize(length);
    return true;
}

std::u16string DecodeLatin1(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes)
        out.push_back(b);
    return out;
}

std::string EncodeUTF8(std::u16string_view units)
{
    if (IsAscii(units))
        return std::string(units.begin(), units.end());
    std::string out(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                       reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()),
                       0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return std::string();
    out.resize(length);
    return out;
}

bool IsValidUTF16(std::u16string_view units)
{
    const int length = static_cast<int>(units.size());
    for (int i = 0; i < length;) {
        UChar32 c;
        U16_NEXT(units.data(), i, length, c);
        if (U_IS_SURROGATE(c))
            return false;
    }
    return true;
}

int CompareCanonical(std::u16string_view a, std::u16string_view b, bool ignoreCase)
{
    // Walk the common ASCII part. ASCII characters are starters and decompose to themselves, so a
    // difference between two ASCII units decides the order, and text before them can be dropped.
    size_t i = 0;
    const size_t n = std::min(a.size(), b.size());
    for (; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x == y && x < 0x80)
            continue;
        if (x >= 0x80 || y >= 0x80)
            break;
        if (ignoreCase) {
            x = FoldAscii(x);
            y = FoldAscii(y);
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i == n && (i == a.size() || a[i] < 0x80) && (i == b.size() || b[i] < 0x80)) {
        // One text is an ASCII prefix of the other (or both are equal): every character maps to at
        // least one unit, so the longer text orders after.
        return Sign(static_cast<int>(a.size()) - static_cast<int>(b.size()));
    }
    // Hand the rest to ICU from the last ASCII starter on, so that combining marks stay with it.
    size_t from = i > 0 ? i - 1 : 0;
    UErrorCode status = U_ZERO_ERROR;
    uint32_t options = U_COMPARE_CODE_POINT_ORDER;
    if (ignoreCase)
        options |= U_COMPARE_IGNORE_CASE | U_FOLD_CASE_DEFAULT;
    int32_t result =
        unorm_compare(reinterpret_cast<const UChar*>(a.data() + from), static_cast<int32_t>(a.size() - from),
                      reinterpret_cast<const UChar*>(b.data() + from), static_cast<int32_t>(b.size() - from),
                      options, &status);
    if (U_FAILURE(status))
        return Sign(a.compare(b));
    return Sign(result);
}

std::u16string CanonicalKey(std::u16string_view units, bool ignoreCase)
{
    if (IsAscii(units)) {
        std::u16string key(units);
        if (ignoreCase)
            for (char16_t& u : key)
                u = FoldAscii(u);
        return key;
    }
    return MakeSearchForm(units, 0, ignoreCase).units;
}

int FindCanonical(std::u16string_view haystack, std::u16string_view needle, int start, bool ignoreCase,
                  int* matchLength)
{
    const int length = static_cast<int>(haystack.size());
    if (start < 0)
        start = 0;
    if (start > length)
        return -1;
    if (needle.empty()) {
        if (matchLength)
            *matchLength = 0;
        return start;
    }
    if (IsAscii(needle) && IsAscii(haystack.substr(start))) {
        const int m = static_cast<int>(needle.size());
        for (int p = start; p + m <= length; ++p) {
            int k = 0;
            if (ignoreCase) {
                while (k < m && FoldAscii(haystack[p + k]) == FoldAscii(needle[k]))
                    ++k;
            } else {
                while (k < m && haystack[p + k] == needle[k])
                    ++k;
            }
            if (k == m) {
                if (matchLength)
                    *matchLength = m;
                return p;
            }
        }
        return -1;
    }
    SearchForm text = MakeSearchForm(haystack, start, ignoreCase);
    SearchForm pattern = MakeSearchForm(needle, 0, ignoreCase);
    const size_t m = pattern.units.size();
    if (m == 0 || m > text.units.size())
        return -1;
    for (size_t p = 0; p + m <= text.units.size(); ++p) {
        // A match must begin and end on whole characters of the original text.
        if (p > 0 && text.origin[p] == text.origin[p - 1])
            continue;
        if (p + m < text.units.size() && text.origin[p + m] == text.origin[p + m - 1])
            continue;
        if (text.units.compare(p, m, pattern.units) != 0)
            continue;
        int begin = text.origin[p];
        int end = p + m < text.units.size() ? text.origin[p + m] : length;
        if (matchLength)
            *matchLength = end - begin;
        return begin;
    }
    return -1;
}

std::u16string ToUpper(std::u16string_view units)
{
    if (IsAscii(units)) {
        std::u16string out(units);
        for (char16_t& u : out)
            if (u >= 'a' && u <= 'z')
                u = static_cast<char16_t>(u - 32);
        return out;
    }
    std::u16string out(units.size() * 3 + 8, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = u_strToUpper(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                                  reinterpret_cast<const UChar*>(units.data()),
                                  static_cast<int32_t>(units.size()), "", &status);
    if (U_FAILURE(status))
        return std::u16string(units);
    out.resize(length);
    return out;
}

bool IsBlank(char16_t unit)
{
    if (unit == u' ' || unit == u'\t')
        return true;
    if (unit < 0x80)
        return false;
    return u_charType(unit) == U_SPACE_SEPARATOR;
}

std::string CollationKey(std::u16string_view units)
{
    struct Closer {
        void operator()(UCollator* collator) const { ucol_close(collator); }
    };
    // One collator per thread: a collator may not be used by two threads at once.
    thread_local std::unique_ptr<UCollator, Closer> collator = [] {
        const char* locale = uloc_getDefault();
        const bool byCode = !locale || std::strncmp(locale, "en_US_POSIX", 11) == 0 ||
                            std::strcmp(locale, "c") == 0 || std::strcmp(locale, "C") == 0;
        UErrorCode status = U_ZERO_ERROR;
        UCollator* made = ucol_open(byCode ? "" : locale, &status);
        if (U_FAILURE(status))
            made = nullptr;
        return std::unique_ptr<UCollator, Closer>(made);
    }();
    if (!collator)
        return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(char16_t));
    const auto* text = reinterpret_cast<const UChar*>(units.data());
    const auto length = static_cast<int32_t>(units.size());
    std::string key(units.size() * 4 + 16, '\0');
    int32_t needed = ucol_getSortKey(collator.get(), text, length, reinterpret_cast<uint8_t*>(key.data()),
                                     static_cast<int32_t>(key.size()));
    if (needed > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(needed));
        needed = ucol_getSortKey(collator.get(), text, length, reinterpret_cast<uint8_t*>(key.data()),
                                 static_cast<int32_t>(key.size()));
    }
    // The key ends with a zero byte, which is left out.
    key.resize(needed > 0 ? static_cast<std::size_t>(needed - 1) : 0);
    return key;
}

} // namespace platform
