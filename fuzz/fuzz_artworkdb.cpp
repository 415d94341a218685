// Feeds arbitrary bytes, as the content of an iPod's cover database, to its reader. It must return
// an error code for bad bytes, never crash, hang or allocate more than the bytes hold; what it
// accepts is written back, and that must read back and write the same bytes again.

#include "ACommon/itunesdb/ArtworkDB.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ArtworkDB db;
    if (db.Parse({data, size}) != 0)
        return 0;
    const std::vector<std::uint8_t> written = db.Serialize();
    ArtworkDB again;
    if (again.Parse(written) != 0 || again.Images().size() != db.Images().size() ||
        again.Serialize() != written)
        std::abort();
    return 0;
}
