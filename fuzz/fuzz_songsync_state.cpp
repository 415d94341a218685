// Feeds arbitrary bytes, as the content of a song sync's state file, to ASyncLib::ReadState: the
// song sync's record around the sync's record, with four folder-of-songs records (their song
// settings, their lists and their lists of files). Bad bytes must give an error code, never a
// crash, a hang or an allocation larger than the file. A record that reads must write back and
// read again to the same bytes.

#include "ACommon/sync/ASyncLib.h"
#include "fuzz/FuzzScratch.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzScratch scratch("songsync");
    CheckStateRoundTrip(scratch, data, size, [] {
        return std::make_unique<ASyncLib>(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
    });
    return 0;
}
