// Feeds arbitrary bytes, as the content of an iPod's journal, to its reader. It must return an
// error code for bad bytes, never crash, hang or allocate more than the bytes hold; what it accepts
// is written back and must read back the same.

#include "ACommon/itunesdb/IPodJournal.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<IPodJournal::Entry> entries;
    if (IPodJournal::Parse({data, size}, entries) != 0)
        return 0;
    const std::vector<std::uint8_t> written = IPodJournal::Serialize(entries);
    std::vector<IPodJournal::Entry> again;
    if (IPodJournal::Parse(written, again) != 0 || again.size() != entries.size() ||
        IPodJournal::Serialize(again) != written)
        std::abort();
    return 0;
}
