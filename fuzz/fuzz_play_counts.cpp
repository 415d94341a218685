// Feeds arbitrary bytes, as the content of the iPod's play count file and of an On-The-Go playlist
// file, to their readers. They must return an error code for bad bytes, never crash, hang or
// allocate more than the bytes hold; what they accept holds no more entries than the bytes can.

#include "ACommon/itunesdb/IPodPlayCounts.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<IPodPlayCounts::Entry> entries;
    if (IPodPlayCounts::Parse({data, size}, entries) == 0) {
        if (entries.size() * 12 > size)
            std::abort();
        for (const IPodPlayCounts::Entry& entry : entries)
            if (entry.rating != IPodPlayCounts::kNoRating && entry.rating > 100)
                std::abort();
    } else if (!entries.empty()) {
        std::abort();
    }
    std::vector<std::uint32_t> places;
    if (IPodPlayCounts::ParseOnTheGo({data, size}, places) == 0 && places.size() * 4 > size)
        std::abort();
    return 0;
}
