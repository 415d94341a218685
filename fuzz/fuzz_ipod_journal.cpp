// Feeds arbitrary bytes, as the content of an iPod's journal, to its reader. It must return an
// error code for bad bytes, never crash, hang or allocate more than the bytes hold; what it accepts
// is written back and must read back the same.

#include "ACommon/itunesdb/IPodJournal.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<IPodJournal::Entry> entries;
    std::optional<IPodJournal::PlaysMark> mark;
    if (IPodJournal::Parse({data, size}, entries, &mark) != 0)
        return 0;
    const std::vector<std::uint8_t> written = IPodJournal::Serialize(entries, mark);
    std::vector<IPodJournal::Entry> again;
    std::optional<IPodJournal::PlaysMark> markAgain;
    if (IPodJournal::Parse(written, again, &markAgain) != 0 || again.size() != entries.size() ||
        markAgain != mark || IPodJournal::Serialize(again, markAgain) != written)
        std::abort();
    return 0;
}
