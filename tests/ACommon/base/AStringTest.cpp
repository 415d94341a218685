#include "ACommon/base/AString.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

using fixtures::Bytes;

namespace {

// Texts used throughout: the same accented letters in composed and decomposed form.
const char* const kCafeComposed = "caf\xC3\xA9";    // café, é = U+00E9
const char* const kCafeDecomposed = "cafe\xCC\x81"; // café, e + U+0301
const char* const kEComposed = "\xC3\xA9";
const char* const kEDecomposed = "e\xCC\x81";

std::u16string U(const AString& s) { return s.Units(); }

} // namespace

// ---- Construction and assignment ----

TEST(AString, ConstructionDecodesTextAsItsFormAllows)
{
    EXPECT_EQ(U(AString(kCafeComposed)), u"caf\u00E9");
    EXPECT_EQ(U(AString("\xF0\x9F\x8E\xB5")), u"\U0001F3B5"); // a note, outside the BMP: two units
    for (const char* invalid : {"caf\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "abc\xE2\x82"})
        EXPECT_TRUE(AString(invalid).IsEmpty()) << "bytes that are not UTF-8 give the empty string";
    EXPECT_TRUE(AString(static_cast<const char*>(nullptr)).IsEmpty());
    // Assigned bytes fall back to Latin-1; assigned units follow the byte-order mark.
    AString s;
    s = "caf\xE9";
    EXPECT_EQ(U(s), u"caf\u00E9");
    s = kCafeDecomposed;
    EXPECT_EQ(U(s), u"cafe\u0301");
    // The units as they lie in memory on this little-endian machine: a mark chooses the order,
    // big-endian without one.
    const short littleWithMark[] = {static_cast<short>(0xFEFF), 'h', 'i', 0};
    const short bigWithMark[] = {static_cast<short>(0xFFFE), 0x6800, 0x6900, 0};
    const short bigWithoutMark[] = {0x6800, 0x6900, 0};
    for (const short* units : {littleWithMark, bigWithMark, bigWithoutMark}) {
        s = units;
        EXPECT_EQ(U(s), u"hi");
    }
}

// ---- Comparison ----

TEST(AString, CompareOrdersByCodePoint)
{
    struct Case {
        const char *a, *b;
        int compare, compareNoCase;
    };
    const Case cases[] = {
        {"abc", "abc", 0, 0},
        {"abc", "abd", -1, -1},
        {"ab", "abc", -1, -1},
        {"", "a", -1, -1},
        {"ABC", "abc", -1, 0},
        {"b", "A", 1, 1},
        {"_", "a", -1, -1}, // folding lowers letters: "_" (5F) sorts before "a" (61)
        {"_", "A", 1, -1},  // ... but after "A" (41) when case counts
        {kEComposed, kEDecomposed, 0, 0},
        {kCafeComposed, kCafeDecomposed, 0, 0},
        {"CAF\xC3\x89", kCafeDecomposed, -1, 0}, // É composed against é decomposed
        {"e\xCC\x81z", "\u00E9a", 1, 1},         // decided after the accented letter
        {"e", kEDecomposed, -1, -1},
        {"stra\u00DFe", "STRASSE", 1, 0}, // ß folds to ss
        {"\xC3\xA9", "f", -1, -1},        // é compares as e + accent: before f, after e
        {"\xC3\xA9", "e", 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AString(c.a).Compare(AString(c.b)), c.compare) << c.a << " vs " << c.b;
        EXPECT_EQ(AString(c.b).Compare(AString(c.a)), -c.compare) << c.b << " vs " << c.a;
        EXPECT_EQ(AString(c.a).CompareNoCase(AString(c.b)), c.compareNoCase) << c.a << " vs " << c.b;
        EXPECT_EQ(AString(c.a).CompareNoCase(c.b), c.compareNoCase) << c.a << " vs " << c.b;
        EXPECT_EQ(AString(c.a).Compare(c.b), c.compare) << c.a << " vs " << c.b;
    }
    // Equality compares the units literally.
    EXPECT_FALSE(AString(kEComposed) == AString(kEDecomposed));
    EXPECT_TRUE(AString(kEComposed) != kEDecomposed);
    EXPECT_FALSE(AString("ABC") == "abc");
}

// ---- Searching and editing ----

TEST(AString, FindMatchesAsAsked)
{
    struct Case {
        const char *text, *what;
        int start;
        signed char matchCase;
        int expected;
    };
    const Case cases[] = {
        {"xabcx", "ABC", 0, 0, 1},
        {"xabcx", "ABC", 0, 1, -1},
        {"abcabc", "abc", 1, 1, 3},
        {"abcabc", "abc", 4, 1, -1},
        {"abc", "abc", 10, 1, -1},
        {"abc", "abc", -5, 1, 0},
        {"abc", "", 1, 1, 1},
        {"caf\xC3\xA9 X", "E\xCC\x81 x", 0, 0, 3}, // composed text, decomposed pattern
        {"cafe\xCC\x81 X", "\xC3\xA9 X", 0, 1, 3}, // decomposed text, composed pattern
        {"cafe\xCC\x81", "cafe", 0, 1, -1},        // never half of an accented letter
        {"caf\xC3\xA9", "cafe", 0, 1, -1},
        {"cafe\xCC\x81s", "e", 0, 1, -1},
        {"\xC3\xA9t\xC3\xA9", "T\xC3\x89", 0, 0, 1},
        {"\xC3\xA9t\xC3\xA9", "T\xC3\x89", 0, 1, -1},
        {"Stra\u00DFe", "SS", 0, 0, 4}, // ß matches ss when case is ignored
    };
    for (const Case& c : cases)
        EXPECT_EQ(AString(c.text).Find(AString(c.what), c.start, c.matchCase), c.expected)
            << '"' << c.what << "\" in \"" << c.text << "\" from " << c.start;
    AString s("a/b/c.mp3");
    EXPECT_EQ(s.Find(static_cast<short>('/'), 2), 3);
    EXPECT_EQ(s.ReverseFind('/'), 3);
    EXPECT_EQ(s.ReverseFind('x'), -1);
    EXPECT_EQ(s.Count('/'), 2);
}

TEST(AString, ReplaceSwapsEveryOccurrenceWithoutOverlap)
{
    struct Case {
        const char *text, *from, *to, *expected;
    };
    const Case cases[] = {{"a-b-c", "-", "/", "a/b/c"},
                          {"aaaa", "aa", "b", "bb"},
                          {"abc", "ABC", "x", "abc"},                        // case counts
                          {"Beyonc\xC3\xA9!", "e\xCC\x81", "e", "Beyonce!"}, // canonical forms match
                          {"abc", "", "x", "abc"},
                          {"abab", "ab", "", ""}};
    for (const Case& c : cases) {
        AString s(c.text);
        s.Replace(AString(c.from), AString(c.to));
        EXPECT_EQ(s, c.expected) << c.text;
    }
    AString path("a:b:c");
    path.Replace(static_cast<short>(':'), static_cast<short>('/'));
    EXPECT_EQ(path, "a/b/c");
}

TEST(AString, TrimRemovesSpaceSeparatorsButNotLineBreaks)
{
    const std::pair<const char*, const char*> cases[] = {
        {"  a b  ", "a b"}, {"\ta\t", "a"}, {"\u00A0a\u2003", "a"}, {"\na\n", "\na\n"}, {"   ", ""}};
    for (auto [text, expected] : cases) {
        AString s(text);
        s.Trim();
        EXPECT_EQ(s, expected) << '"' << text << '"';
    }
}

TEST(AString, UpperFollowsUnicode)
{
    AString s("stra\u00DFe caf\u00E9 abc");
    s.Upper();
    EXPECT_EQ(s, "STRASSE CAF\xC3\x89 ABC");
}

TEST(AString, EditsClampToTheString)
{
    AString s("abcdef");
    s.Delete(1, 2);
    s.Delete(3, 100);
    s.Delete(10, 1);
    EXPECT_EQ(s, "ade");
    EXPECT_EQ(s.Left(100) + "|" + s.Mid(1, 100) + "|" + s.Mid(10, 1) + "|" + s.Right(2), "ade|de||de");
    EXPECT_EQ(s[100], 0) << "an index outside the string reads as 0";
}

// ---- Numbers ----

TEST(AString, IntValueReadsTheLeadingDecimal)
{
    const std::pair<const char*, int> values[] = {{"42", 42},
                                                  {"  -7x", -7},
                                                  {"+3", 3},
                                                  {"abc", 0},
                                                  {"", 0},
                                                  {"99999999999", 2147483647},
                                                  {"-99999999999", -2147483647 - 1}};
    for (auto [text, expected] : values)
        EXPECT_EQ(AString(text).IntValue(10), expected) << text;
}

TEST(AString, IsNumberNeedsOnlyAsciiDigits)
{
    for (auto [text, expected] :
         {std::pair{"0123", true}, {"", false}, {"-1", false}, {"1 ", false}, {"\xD9\xA3", false}})
        EXPECT_EQ(AString(text).IsNumber(), expected) << text;
}

TEST(AString, ExtractFileNumReadsTheCopyNumberBeforeTheExtension)
{
    const std::pair<const char*, int> cases[] = {{"Song 12.m4a", 12}, {"Song 123.mp3", 0}, {"Song.mp3", 0},
                                                 {"Track 03.mp3", 3}, {"Song 2", 0},       {"", 0}};
    for (auto [name, expected] : cases)
        EXPECT_EQ(AString(name).ExtractFileNum(), expected) << name;
}

TEST(AString, Base26NumWritesLettersWithoutLeadingA)
{
    const std::pair<int, const char*> cases[] = {{0, "A"},    {25, "Z"},    {26, "BA"}, {27, "BB"},
                                                 {675, "ZZ"}, {676, "BAA"}, {-1, ""}};
    for (auto [n, expected] : cases)
        EXPECT_EQ(AString::Base26Num(n), expected) << n;
}

// ---- Paths ----

TEST(AString, AppendPathComponentJoinsWithOneSlash)
{
    struct Case {
        const char *base, *component, *expected;
    };
    const Case cases[] = {{"a/", "b", "a/b"}, {"", "b", "b"}, {"/", "b", "/b"}, {"a", "/b", "a/b"}};
    for (auto [base, component, expected] : cases) {
        AString s(base);
        s.AppendPathComponent(component);
        EXPECT_EQ(s, expected) << base << " + " << component;
    }
}

TEST(AString, PathPartsAreFound)
{
    struct Case {
        const char *path, *extension, *last;
    };
    const Case cases[] = {{"/a/b.c/song", "", "song"},
                          {"song.tar.gz", "gz", "song.tar.gz"},
                          {"/a/b/", "", "b"},
                          {"/", "", "/"}};
    for (auto [path, extension, last] : cases) {
        AString s(path), out("old");
        s.PathExtension(&out);
        EXPECT_EQ(out, extension) << path;
        s.LastPathComponent(&out);
        EXPECT_EQ(out, last) << path;
    }
}

TEST(AString, FormatPathStringMakesOneSafeName)
{
    struct Case {
        const char* in;
        signed char fixDots;
        const char* expected;
    };
    const Case cases[] = {
        {"   ", 0, "_ _"},
        {" ", 0, "_"},
        {"  ", 1, "__"},
        {".hidden.", 1, "_hidden_"},
        {".hidden.", 0, ".hidden."},
        {"\\/:*?\"<>|", 0, "_________"},
        {"", 1, ""},
        {".", 1, "_"},
        {"x\xC2\x96y\xC2\x94z", 0, "x\xCB\x86y\xE2\x80\xB0z"}, // U+0096 -> U+02C6, U+0094 -> U+2030
        {"5 a\xCC\x82\xC2\x80", 0, "5 \xE2\x80\xB0"},          // a, U+0302, U+0080 -> U+2030
    };
    for (const Case& c : cases) {
        AString s(c.in);
        AString::FormatPathString(s, '_', c.fixDots);
        EXPECT_EQ(s, c.expected) << '"' << c.in << '"';
    }
}

// ---- The state record ----

class AStringFile : public ::testing::Test {
protected:
    fixtures::TempDir dir;
    std::string path = dir / "data";

    // Reads back a state record of `bytes` into a string that held "old"; a record read whole
    // leaves the file at its end.
    using Result = std::pair<int, AString>;
    Result ReadState(const Bytes& bytes)
    {
        AFile f;
        EXPECT_EQ(fixtures::OpenWith(f, path, bytes), 0);
        AString s("old");
        int err = s.ReadState(&f);
        if (err == 0) {
            EXPECT_EQ(f.GetFilePos(), bytes.size());
        }
        return {err, s};
    }
};

TEST_F(AStringFile, WriteStateWritesOnlyWhatReadersTake)
{
    EXPECT_EQ(fixtures::BytesWrittenBy(path, [](AFile* f) { return AString("Hi").WriteState(f); }),
              (Bytes{0x00, 0x00, 0x10, 0x00, 6, 0, 0xFF, 0xFE, 'H', 0, 'i', 0}));
    // Readers refuse a record above 2048 bytes (1023 units and the byte-order mark), and with it the
    // whole state file: the writer refuses it first, writing nothing. 32767 units would also
    // overflow the 16-bit length.
    for (auto [units, expected] : {std::pair{0, 0}, {1023, 0}, {1024, kErrAddSong}, {32767, kErrAddSong}}) {
        AString original(std::u16string(static_cast<std::size_t>(units), u'\u00E9'));
        int err = 1;
        Bytes bytes = fixtures::BytesWrittenBy(path, [&](AFile* f) {
            err = original.WriteState(f);
            return 0;
        });
        EXPECT_EQ(err, expected) << units;
        if (expected != 0) {
            EXPECT_TRUE(bytes.empty()) << units;
            continue;
        }
        ASSERT_EQ(bytes.size(), 4u + 2 + 2 + 2 * static_cast<std::size_t>(units));
        EXPECT_EQ(ReadState(bytes), Result(0, original)) << units;
    }
}

TEST_F(AStringFile, ReadStateTakesOneRecordOrLeavesTheStringAlone)
{
    struct Case {
        const char* what;
        Bytes bytes;
        int expected;
        const char* text;
    };
    const Case cases[] = {
        {"empty, without a mark", {0, 0, 0x10, 0, 0, 0}, 0, ""},
        {"empty, with a mark", {0, 0, 0x10, 0, 2, 0, 0xFF, 0xFE}, 0, ""},
        {"little-endian", {0, 0, 0x10, 0, 6, 0, 0xFF, 0xFE, 'A', 0, 0xE9, 0}, 0, "A\xC3\xA9"},
        {"big-endian", {0, 0, 0x10, 0, 6, 0, 0xFE, 0xFF, 0, 'A', 0, 0xE9}, 0, "A\xC3\xA9"},
        {"no byte-order mark: big-endian", {0, 0, 0x10, 0, 4, 0, 0, 'A', 0, 'B'}, 0, "AB"},
        {"an unpaired surrogate reads as empty", {0, 0, 0x10, 0, 4, 0, 0xFF, 0xFE, 0x00, 0xD8}, 0, ""},
        {"wrong mark", {1, 0, 0x10, 0, 2, 0, 0xFF, 0xFE}, kErrVersion, "old"},
        {"short mark", {0, 0, 0x10}, kErrEndOfFile, "old"},
        {"no length", {0, 0, 0x10, 0}, kErrEndOfFile, "old"},
        {"length past the end", {0, 0, 0x10, 0, 8, 0, 0xFF, 0xFE, 'a', 0}, kErrEndOfFile, "old"},
        {"length above 2048", {0, 0, 0x10, 0, 0x02, 0x08}, kErrAddSong, "old"},
        {"negative length", {0, 0, 0x10, 0, 0xFE, 0xFF}, kErrAddSong, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReadState(c.bytes), Result(c.expected, AString(c.text)));
    }
}
