// Feeds arbitrary bytes, as the content of an iPod's state file, to ASyncGroup::ReadState: the
// group's record with its syncs, their source records (folders of songs, iPod databases with whole
// databases inside), their file lists and strings. Bad bytes must give an error code, never a crash,
// a hang or an allocation larger than the file. A record that reads must write back and read again
// to the same bytes.

#include "ACommon/sync/ASyncGroup.h"
#include "fuzz/FuzzScratch.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzScratch scratch("group");
    CheckStateRoundTrip(scratch, data, size, [] { return std::make_unique<ASyncGroup>(); });
    return 0;
}
