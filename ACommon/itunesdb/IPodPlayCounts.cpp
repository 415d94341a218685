#include "ACommon/itunesdb/IPodPlayCounts.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/ByteReader.h"

#include <algorithm>
#include <ctime>
#include <dirent.h>
#include <new>
#include <string>
#include <utility>

namespace {

constexpr std::int64_t kMacToUnix = 2082844800; // seconds from 1904-01-01 to 1970-01-01

// The header both files share: tag, header length, entry length, entry count. On success `in` is
// at the first entry and `count` entries of `entryLength` bytes follow.
bool ReadHeader(ByteReader& in, const char* tag, std::uint32_t minEntry, std::uint32_t& entryLength,
                std::uint32_t& count)
{
    if (in.ReadTag(4) != tag)
        return false;
    const std::uint32_t headerLength = in.ReadU32LE();
    entryLength = in.ReadU32LE();
    count = in.ReadU32LE();
    if (!in.Ok() || headerLength < 16 || headerLength > in.Size() || entryLength < minEntry ||
        count > IPodPlayCounts::kMaxEntries)
        return false;
    in.Seek(headerLength);
    return count <= in.Remaining() / entryLength;
}

} // namespace

int IPodPlayCounts::Parse(std::span<const std::uint8_t> bytes, std::vector<Entry>& entries)
{
    entries.clear();
    ByteReader in(bytes);
    std::uint32_t entryLength = 0, count = 0;
    if (!ReadHeader(in, "mhdp", 12, entryLength, count))
        return kErrUnknown;
    try {
        entries.resize(count);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    for (Entry& entry : entries) {
        ByteReader one = in.Sub(entryLength);
        entry.plays = one.ReadU32LE();
        entry.lastPlayed = one.ReadU32LE();
        entry.bookmark = one.ReadU32LE();
        if (entryLength >= 16) {
            entry.rating = one.ReadU32LE();
            // A rating past five stars is not one the iPod sets: taken as none.
            if (entry.rating > 100)
                entry.rating = kNoRating;
        }
        if (entryLength >= 28) {
            one.Skip(4);
            entry.skips = one.ReadU32LE();
            entry.lastSkipped = one.ReadU32LE();
        }
    }
    if (!in.Ok()) {
        entries.clear();
        return kErrUnknown;
    }
    return 0;
}

int IPodPlayCounts::ParseOnTheGo(std::span<const std::uint8_t> bytes, std::vector<std::uint32_t>& places)
{
    places.clear();
    ByteReader in(bytes);
    std::uint32_t entryLength = 0, count = 0;
    if (!ReadHeader(in, "mhpo", 4, entryLength, count))
        return kErrUnknown;
    try {
        places.resize(count);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    for (std::uint32_t& place : places) {
        ByteReader one = in.Sub(entryLength);
        place = one.ReadU32LE();
    }
    if (!in.Ok()) {
        places.clear();
        return kErrUnknown;
    }
    return 0;
}

AString IPodPlayCounts::PlayCountsPath(const AString& folder)
{
    AString path = folder;
    path.AppendPathComponent("Play Counts");
    return path;
}

std::vector<AString> IPodPlayCounts::OnTheGoFiles(const AString& folder)
{
    const std::string base = "otgplaylistinfo";
    std::vector<std::pair<unsigned long, std::string>> found;
    if (DIR* dir = opendir(folder.CStr())) {
        while (dirent* item = readdir(dir)) {
            const std::string name = item->d_name;
            std::string lower = name;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
                return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            });
            if (lower.compare(0, base.size(), base) != 0)
                continue;
            const std::string number = lower.substr(base.size());
            if (number.empty()) {
                found.push_back({0, name});
            } else if (number.size() >= 2 && number.size() <= 6 && number[0] == '_' &&
                       std::all_of(number.begin() + 1, number.end(),
                                   [](char c) { return c >= '0' && c <= '9'; })) {
                found.push_back({std::stoul(number.substr(1)), name});
            }
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<AString> paths;
    for (const auto& entry : found) {
        AString path = folder;
        path.AppendPathComponent(AString::FromUTF8(entry.second));
        if (AFile::GetPathType(&path) == AFile::kPathFile)
            paths.push_back(path);
    }
    return paths;
}

std::int64_t IPodPlayCounts::UnixTimeOf(std::uint32_t macTime)
{
    if (macTime == 0)
        return 0;
    // The iPod counts local time: the offset from UTC is the one in force at that moment.
    const std::int64_t asUtc = static_cast<std::int64_t>(macTime) - kMacToUnix;
    const std::time_t guess = static_cast<std::time_t>(asUtc);
    std::tm local{};
    localtime_r(&guess, &local);
    return asUtc - local.tm_gmtoff;
}
