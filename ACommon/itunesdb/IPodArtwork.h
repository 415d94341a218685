#pragma once
// IPodArtwork: keeps the iPod's covers (ArtworkDB and its ithmb files) in step with its music
// database, as part of every store of it, by either route that reaches the iPod. The order makes
// every point a run can stop at safe:
//   1. Prepare: the thumbnails of the tracks that need them are written into free or new space of
//      the ithmb files, which are flushed; then ArtworkDB, still holding every image the stored
//      music database refers to, is replaced safely; only then do the tracks get their links.
//   2. the music database is stored (by IPodDB);
//   3. Finish: images no track uses any longer are dropped from ArtworkDB (replaced safely again),
//      and then IPodRecovery::TidyArtwork shortens or removes ithmb files past their last image.
// A run that stops before 3 leaves images no track uses and, before 1 ends, ithmb space no image
// uses: the next run's Finish drops and reclaims both. No track ever points at a missing image.
//
// Images are shared: tracks whose album, artist and picture are the same show one stored picture.
// iPods that link a track to its image by the track's image link field (classic, nano 3G and later)
// share one image record; older ones find a track's image by the track's database id, so each track
// has its own record, pointing at the same pixels.

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/ArtworkThumbnail.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class IPodInfo;
class MHBD;
class MHIT;

class IPodArtwork {
public:
    // Track header offsets of the cover fields.
    enum : std::size_t {
        kOffsetDatabaseId = 0x70,   // 8 bytes
        kOffsetArtworkCount = 0x7C, // 16 bits
        kOffsetArtworkSize = 0x80,
        kOffsetHasArtwork = 0xA4, // 1 byte: 1 yes, 2 no
        kOffsetImageLink = 0x160,
        kTrackHeaderLength = 0x184, // long enough to hold the image link
    };
    // A new ithmb file is begun past this size.
    static constexpr std::uint64_t kMaxIthmbBytes = 256ull << 20;

    struct Stats {
        int imagesWritten = 0;          // pictures made and written (one per format)
        int tracksLinked = 0;           // tracks given a cover
        std::uint64_t bytesWritten = 0; // into ithmb files and ArtworkDB
        bool databaseWritten = false;
    };
    using Log = std::function<void(const AString& line)>;
    // Where a track's cover is taken from: `file` (empty: the track's own file on the iPod), whose
    // tags are read for a picture only when `embedded` says they may hold one (false when the
    // caller read them already and found none).
    struct Source {
        AString file;
        bool embedded = true;
    };

    // The artwork of the iPod mounted at `root` (ending in "/") whose model `info` describes.
    IPodArtwork(const AString& root, const IPodInfo& info, Log log = Log());

    // The cover formats of the iPod: SysInfoExtended's list when it has one, else the model's.
    const std::vector<ArtworkThumbnail::Format>& Formats() const { return formats; }
    // The ArtworkDB path of the iPod at `root`.
    static AString PathOf(const AString& root);

    // Step 1 for the tracks of `database` named in `pending` (track handle -> where its cover comes
    // from). Tracks without a cover are left as they are. Each folder is looked at once for its
    // image. 0, or an error; on an error no track was changed.
    int Prepare(MHBD& database, const std::unordered_map<std::uint64_t, Source>& pending);
    // Step 3: 0, or an error (the images stay for the next run to drop).
    int Finish(MHBD& database);

    const Stats& GetStats() const { return stats; }

private:
    struct Slot {
        AString file; // name below the Artwork folder
        std::uint32_t offset = 0;
    };
    int Load();
    int WriteDatabase();
    int AllocateSlot(const ArtworkThumbnail::Format& format, std::uint64_t size, Slot& slot);
    bool ReadThumb(const ArtworkDB::Thumb& thumb, std::vector<std::uint8_t>& bytes) const;

    AString root, folder;
    std::vector<ArtworkThumbnail::Format> formats;
    bool shareRecords = false;
    Log log;
    ArtworkDB db;
    bool loaded = false, exists = false;
    // Per ithmb file: free gaps (offset, length) and its end, from the database as read.
    struct FileSpace {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
        std::uint64_t end = 0;
    };
    std::unordered_map<std::string, FileSpace> space;
    Stats stats;
};
