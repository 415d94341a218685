// Times the comparisons behind every sort of the system: AString::CompareNoCase and AFileList::Sort
// over 50,000 virtual paths of the form /Genre/Artist/Album/Title/ext?key. About 90% of them are
// ASCII; the rest carry accented letters, half in composed form (as the library writes them) and
// half decomposed (as some file systems hand them back). Prints figures; never fails on them.
//
//   build/bench/bench_strings [count]

#include "ACommon/base/AFileList.h"
#include "ACommon/base/AString.h"

#include <unicode/unorm2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kGenres[] = {"Rock",       "Pop",    "Jazz",  "Classical",   "Hip-Hop",
                               "Electronic", "Folk",   "Blues", "Country",     "Soundtrack",
                               "Metal",      "Reggae", "Soul",  "Alternative", "Indie"};
const char* const kWords[] = {"The",    "Blue",  "Night", "River",  "Light", "Dream",  "Stone",  "Heart",
                              "Fire",   "Rain",  "Love",  "Road",   "City",  "Summer", "Moon",   "Song",
                              "Dance",  "Ghost", "Gold",  "Wild",   "Young", "Black",  "Silver", "Falling",
                              "Street", "Home",  "Echo",  "Shadow", "Sun",   "Sea"};
// Accented words, written composed; some songs get them decomposed.
const char* const kAccented[] = {"Beyonc\xC3\xA9",   "Mot\xC3\xB6rhead",      "Bj\xC3\xB6rk",
                                 "Sigur R\xC3\xB3s", "C\xC3\xA9line",         "Cr\u00FCe",
                                 "Fran\xC3\xA7oise", "\xC3\x89t\xC3\xA9",     "Ni\xC3\xB1o",
                                 "Caf\xC3\xA9",      "D\xC3\xA9j\xC3\xA0 Vu", "\xC3\x85ngstr\xC3\xB6m",
                                 "S\xC3\xA3o Paulo", "Na\xC3\xAFve",          "Cora\xC3\xA7\xC3\xA3o"};
const char* const kExtensions[] = {"mp3", "m4a", "mp3", "mp3", "m4p", "aif"};

template <size_t N> const char* Pick(const char* const (&list)[N], std::mt19937& random)
{
    return list[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

std::string Words(std::mt19937& random, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i)
            text += ' ';
        text += Pick(kWords, random);
    }
    return text;
}

std::u16string Decomposed(const std::u16string& text)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    std::u16string out(text.size() * 3 + 8, u'\0');
    int32_t length =
        unorm2_normalize(nfd, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                         reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &status);
    if (U_FAILURE(status))
        return text;
    out.resize(length);
    return out;
}

// Songs come in albums of 8 to 14 tracks by artists with 1 to 4 albums, as in a real library.
std::vector<AString> MakePaths(int count, int& accentedCount)
{
    std::mt19937 random(20240601);
    std::vector<AString> paths;
    paths.reserve(count);
    accentedCount = 0;
    while (static_cast<int>(paths.size()) < count) {
        const bool accented = std::uniform_int_distribution<int>(0, 9)(random) == 0;
        const char* genre = Pick(kGenres, random);
        std::string artist = Words(random, 2);
        if (accented)
            artist = std::string(Pick(kAccented, random)) + " " + Pick(kWords, random);
        const int albums = std::uniform_int_distribution<int>(1, 4)(random);
        for (int a = 0; a < albums && static_cast<int>(paths.size()) < count; ++a) {
            std::string album = Words(random, std::uniform_int_distribution<int>(1, 3)(random));
            if (accented && a % 2 == 0)
                album += std::string(" ") + Pick(kAccented, random);
            const int tracks = std::uniform_int_distribution<int>(8, 14)(random);
            for (int t = 0; t < tracks && static_cast<int>(paths.size()) < count; ++t) {
                std::string title = Words(random, std::uniform_int_distribution<int>(1, 4)(random));
                std::string path = "/" + std::string(genre) + "/" + artist + "/" + album + "/" + title + "/" +
                                   Pick(kExtensions, random) + "?" + std::to_string(paths.size());
                AString s = AString::FromUTF8(path);
                if (accented) {
                    ++accentedCount;
                    if (std::uniform_int_distribution<int>(0, 1)(random))
                        s = AString(Decomposed(s.Units()));
                }
                paths.push_back(std::move(s));
            }
        }
    }
    std::shuffle(paths.begin(), paths.end(), random);
    return paths;
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times `pairs` comparisons; returns nanoseconds per comparison.
double TimeComparisons(const std::vector<AString>& paths, const std::vector<std::pair<int, int>>& pairs)
{
    volatile int sink = 0;
    auto start = Clock::now();
    for (int round = 0; round < 5; ++round)
        for (const auto& [a, b] : pairs)
            sink = sink + paths[a].CompareNoCase(paths[b]);
    auto elapsed = Clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() /
           (5.0 * static_cast<double>(pairs.size()));
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 50000;
    int accented = 0;
    std::vector<AString> paths = MakePaths(count, accented);
    std::printf("bench_strings: %d virtual paths, %d (%.1f%%) with accents, half of those decomposed\n",
                count, accented, 100.0 * accented / count);
    std::printf("  example: %s\n", paths[0].CStr());

    // Comparisons: random pairs (mostly decided at the genre), and the neighbours of a sorted list
    // (long shared prefixes, the case that a sort meets at its end).
    std::mt19937 random(7);
    std::uniform_int_distribution<int> any(0, count - 1);
    std::vector<std::pair<int, int>> randomPairs, neighbourPairs, accentedPairs, asciiPairs;
    for (int i = 0; i < 200000; ++i)
        randomPairs.emplace_back(any(random), any(random));
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](int a, int b) { return paths[a].CompareNoCase(paths[b]) < 0; });
    for (int i = 0; i + 1 < count; ++i) {
        neighbourPairs.emplace_back(order[i], order[i + 1]);
        bool nonAscii = false;
        for (const AString* p : {&paths[order[i]], &paths[order[i + 1]]})
            for (int k = 0; k < p->GetLength() && !nonAscii; ++k)
                nonAscii = (*p)[k] >= 0x80;
        (nonAscii ? accentedPairs : asciiPairs).emplace_back(order[i], order[i + 1]);
    }
    std::printf("  CompareNoCase, random pairs:          %7.1f ns per comparison\n",
                TimeComparisons(paths, randomPairs));
    std::printf("  CompareNoCase, sorted neighbours:     %7.1f ns per comparison\n",
                TimeComparisons(paths, neighbourPairs));
    std::printf("  CompareNoCase, ASCII neighbours:      %7.1f ns per comparison (%zu pairs)\n",
                TimeComparisons(paths, asciiPairs), asciiPairs.size());
    std::printf("  CompareNoCase, accented neighbours:   %7.1f ns per comparison (%zu pairs)\n",
                TimeComparisons(paths, accentedPairs), accentedPairs.size());

    // Sorting a file list as the sources do, from shuffled order each time.
    std::vector<double> ascending, descending;
    for (int run = 0; run < 7; ++run) {
        std::shuffle(paths.begin(), paths.end(), random);
        AFileList list;
        for (const AString& p : paths)
            list.AddWithTime(new AString(p), 0);
        auto start = Clock::now();
        list.Sort(1);
        ascending.push_back(Milliseconds(Clock::now() - start));
        start = Clock::now();
        list.Sort(0);
        descending.push_back(Milliseconds(Clock::now() - start));
        if (run == 0) {
            for (int i = 0; i + 1 < list.Count(); ++i) {
                if (list.Get(i)->CompareNoCase(*list.Get(i + 1)) < 0) {
                    std::printf("  ERROR: descending sort out of order at %d\n", i);
                    return 1;
                }
            }
        }
    }
    const double sortMs = Median(ascending);
    std::printf("  AFileList::Sort ascending:            %7.1f ms (median of 7, best %.1f ms)\n", sortMs,
                *std::min_element(ascending.begin(), ascending.end()));
    std::printf("  AFileList::Sort descending (sorted):  %7.1f ms (median of 7)\n", Median(descending));
    std::printf("  target: sort under 100 ms: %s\n", sortMs < 100.0 ? "met" : "MISSED");
    return 0;
}
