#pragma once
// Unicode services over ICU: strict conversions, canonical comparison and search with and without
// case folding, upper-casing and white space. Every function has an ASCII fast path, since most
// library text is ASCII and comparisons are the hot path of every sort.

#include <string>
#include <string_view>

namespace platform {

// Decodes UTF-8 strictly (no overlongs, no surrogates, nothing above U+10FFFF). False when the
// bytes are not valid UTF-8; `out` is then unspecified.
bool DecodeUTF8(std::string_view bytes, std::u16string& out);

// Decodes ISO 8859-1, which cannot fail.
std::u16string DecodeLatin1(std::string_view bytes);

// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUTF8(std::u16string_view units);

// True when the units form valid UTF-16 (every surrogate paired).
bool IsValidUTF16(std::u16string_view units);

// Orders two texts by code point, treating canonically equivalent texts as equal, and with
// `ignoreCase` also ignoring case (full case folding). Returns -1, 0 or 1.
int CompareCanonical(std::u16string_view a, std::u16string_view b, bool ignoreCase);

// The form of a text in which texts that CompareCanonical finds equal are equal unit for unit: NFD,
// with `ignoreCase` NFD(fold(NFD)). A key for hash maps that must agree with CompareCanonical.
std::u16string CanonicalKey(std::u16string_view units, bool ignoreCase);

// Finds `needle` in `haystack` from unit `start` on, treating canonically equivalent text (and with
// `ignoreCase`, text differing only in case) as equal. Returns the unit index of the match or -1;
// with `matchLength` the length of the matched text in `haystack` units is stored there.
int FindCanonical(std::u16string_view haystack, std::u16string_view needle, int start, bool ignoreCase,
                  int* matchLength = nullptr);

// The text in upper case by the default (root) Unicode rules.
std::u16string ToUpper(std::u16string_view units);

// Space, tab and the other Unicode space separators; not line breaks.
bool IsBlank(char16_t unit);

// A key that sorts `units` as the user's language does ("Étude" before "Nocturne"), compared as
// bytes. The root collation stands in where the locale is "C" or "POSIX", which collate by code.
std::string CollationKey(std::u16string_view units);

} // namespace platform
