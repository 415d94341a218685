#pragma once
// AString: the one string type of the system. A value type over UTF-16 text; lengths and indices
// count UTF-16 code units. Comparisons and searches treat canonically equivalent text as equal
// (a precomposed letter matches the base letter followed by its combining mark); operator==
// compares units literally.

#include <cstdint>
#include <string>
#include <string_view>

class AFile;

class AString {
public:
    AString() = default;
    AString(const char* utf8); // bytes that are not valid UTF-8 give the empty string
    AString(const AString&) = default;
    AString(AString&&) noexcept = default;
    explicit AString(std::u16string text) : units(std::move(text)) {}
    static AString FromUTF8(std::string_view bytes); // invalid UTF-8 gives the empty string

    AString& operator=(const AString&) = default;
    AString& operator=(AString&&) noexcept = default;
    AString& operator=(const AString* other);     // null gives the empty string
    AString& operator=(const char* bytes);        // UTF-8, else ISO 8859-1
    AString& operator=(const std::string& bytes); // the same, for the platform's byte strings
    AString& operator=(char c);                   // one ASCII character
    AString& operator=(const short* units); // zero-terminated UTF-16, byte order by its mark, else big-endian
    AString& operator=(int value);
    AString& operator=(unsigned int value);
    AString& operator=(unsigned long long value);

    AString& operator+=(char c);
    AString& operator+=(const char* utf8);
    AString& operator+=(const AString& other);
    AString& operator+=(const AString* other);
    AString& operator+=(int value);  // decimal
    AString& operator+=(short unit); // one UTF-16 code unit
    AString operator+(const AString& other) const;
    AString operator+(const char* utf8) const;

    int GetLength() const { return static_cast<int>(units.size()); }
    bool IsEmpty() const { return units.empty(); }
    // Unit `i`; 0 for an index outside the string.
    unsigned short operator[](int i) const
    {
        return (i >= 0 && i < GetLength()) ? units[static_cast<size_t>(i)] : 0;
    }
    const char* CStr() const;        // UTF-8, valid until the string next changes
    std::string ToStdString() const; // UTF-8 copy
    const std::u16string& Units() const { return units; }

    void Delete(int start, int count);
    void Insert(char c, int at);
    void Insert(const AString& s, int at);
    void Replace(const AString& from, const AString& to);
    void Replace(short from, short to);
    void Trim();
    void Upper();

    int Find(const AString& what, int start, signed char matchCase) const;
    int Find(const char* what, int start) const;
    int Find(short unit, int start) const;
    int ReverseFind(short unit) const;
    int Count(short unit) const;

    int Compare(const AString& other) const;
    int Compare(const char* other) const;
    int CompareNoCase(const AString& other) const;
    int CompareNoCase(const char* other) const;
    bool operator==(const AString& other) const { return units == other.units; }
    bool operator==(const char* other) const;
    bool operator!=(const AString& other) const { return units != other.units; }
    bool operator!=(const char* other) const { return !(*this == other); }

    AString Left(int n) const;
    AString Mid(int start, int count) const;
    AString Right(int n) const;

    int IntValue(int base) const;
    long long Int64Value() const; // the same reading, without narrowing to int
    bool IsNumber() const;
    int ExtractFileNum() const;
    static AString Base26Num(int n);

    void AppendPathComponent(const AString& component);
    void AppendPathComponent(const char* component);
    void PathExtension(AString* out) const;
    void LastPathComponent(AString* out) const;
    static void FormatPathString(AString& s, char replacement, signed char fixDots);
    // True for a unit that FormatPathString changes wherever it stands: the characters that file
    // systems refuse in a name, and the code-page slips it corrects (U+0080, U+0094, U+0096).
    static bool IsChangedInPathNames(unsigned short unit);

    // The state stream's string: the mark kStateMark, a 16-bit length, then UTF-16LE with a
    // byte-order mark. Writing fails with kErrAddSong, writing nothing, for a string longer than a
    // reader takes (more than 1023 units: kMaxStoredBytes with the byte-order mark).
    int WriteState(AFile* f) const;
    int ReadState(AFile* f);

    static constexpr std::uint32_t kStateMark = 0x00100000;
    static constexpr int kMaxStoredBytes = 2048;

private:
    bool FitsStoredRecord() const;

    std::u16string units;
    mutable std::string utf8; // what CStr last handed out
};
