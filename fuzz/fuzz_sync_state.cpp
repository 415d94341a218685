// Feeds arbitrary bytes, as the content of a sync's state file, to ASync::ReadState: the sync's
// record with its four source records, their file lists and strings. Bad bytes must give an error
// code, never a crash, a hang or an allocation larger than the file. A record that reads must write
// back and read again to the same bytes.

#include "ACommon/sync/ASync.h"
#include "fuzz/FuzzScratch.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzScratch scratch("sync");
    CheckStateRoundTrip(scratch, data, size, [] { return std::make_unique<ASync>(); });
    return 0;
}
