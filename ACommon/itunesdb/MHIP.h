#pragma once
// MHIP: one item of a playlist, the reference to a track.
//
// mhip: header (at least 28 bytes), then its mhod children (one, of type 100, for every item this
// program makes; the peer drops items without it).
//   0 "mhip"  4 header length  8 total length  12 number of mhods  16 kept  20 item number
//   24 track id of the referenced track  28 and on: kept
// The item number and track id are rewritten on every store when the track is known; an item
// whose track id matched no track is written back as it was read except for that id, which becomes
// 0 (the tracks get new ids in every store, so the old id could name another song afterwards).

#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodRecord.h"
#include "ACommon/itunesdb/MHOD.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class MHIT;

class MHIP {
public:
    MHIP(); // 76-byte header, one type-100 data object with 20 zero bytes: 120 bytes in all
    // An item with nothing in it yet, for Load to fill.
    struct ToLoad {};
    explicit MHIP(ToLoad) {}

    int Load(ByteReader& in, const MHOD::TextStore* texts = nullptr); // 0 or kErrUnknown
    // With a known track: its track id and the next item number (`*itemCounter` counts up).
    void Store(ByteWriter& out, std::uint32_t* itemCounter);
    std::uint32_t GetTotalSize() const;

    std::uint32_t GetTrackId() const;
    MHIT* GetTrack() const { return track; }
    void SetTrack(MHIT* newTrack) { track = newTrack; }

private:
    // An item's fields. A database holds an item per track for every playlist (the library playlist
    // alone one per track), so an item read from the database's store keeps only where its bytes
    // are there, and its fields are read from them again when it is written.
    struct Fields {
        IPodRecord::SmallBytes<80> header;
        // Items hold one data object almost always: it lives in the item, any further ones in `more`.
        int objectCount = 0;
        MHOD first;
        std::vector<MHOD> more;
        std::vector<std::uint8_t> trailing;

        int Load(ByteReader& in, const MHOD::TextStore* texts);
        std::uint32_t GetTotalSize() const;
        const MHOD& GetDataObject(int index) const { return index == 0 ? first : more[index - 1]; }
    };
    // The fields of an item as read: they were checked when it was loaded.
    Fields Reread() const;
    void Store(Fields& fields, ByteWriter& out, std::uint32_t* itemCounter) const;

    std::unique_ptr<Fields> fields; // null for an item as read from `store`
    std::span<const std::uint8_t> asRead;
    const MHOD::TextStore* store = nullptr;
    MHIT* track = nullptr; // not owned
};
