#pragma once
// MP4 (M4A) files: atom trees, the metadata items of an ilst, and whole movies with one sound track.

#include "samples/SampleBytes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace samples {

struct Atom {
    Atom() = default;
    Atom(std::string name, Bytes data = {}, std::vector<Atom> inner = {}, bool large = false)
        : type(std::move(name)), payload(std::move(data)), children(std::move(inner)), largeSize(large)
    {
    }

    std::string type; // four characters; see the item names below for the ones that begin with 0xA9
    Bytes payload;    // written after the header, before the children
    std::vector<Atom> children;
    bool largeSize = false; // size 1 and a 64-bit size after the type
};
Bytes Serialize(const Atom& atom);

// The item names that begin with the copyright sign.
extern const std::string kItemName, kItemAlbum, kItemArtist, kItemGenre, kItemComposer, kItemYear;

// An ilst item holding one data atom: type (1 UTF-8, 2 UTF-16, 0 binary, 21 integer, 13 JPEG,
// 14 PNG), 4 locale bytes, the value.
Atom DataItem(const std::string& type, std::uint32_t dataType, const Bytes& value);
Atom TextItem(const std::string& type, const std::string& utf8);
// A big-endian integer of `width` bytes, data type 21.
Atom IntegerItem(const std::string& type, std::uint64_t value, int width);
// trkn / disk: 2 reserved bytes, the number, the count (16 bits each), and 2 more reserved bytes
// when `width` is 8; data type 0.
Atom PairItem(const std::string& type, int number, int count, int width = 8);
// covr: one data atom per picture, typed 13 (JPEG) or 14 (PNG) by its signature.
Atom CoverItem(const std::vector<Bytes>& pictures);

struct Mp4Spec {
    std::vector<Atom> items;  // the ilst items
    bool withMetadata = true; // moov/udta/meta/ilst present
    std::uint32_t timeScale = 1000;
    std::uint64_t durationUnits = 0; // in time-scale units
    bool movieHeaderVersion1 = false;
    bool withTrack = true; // a sound track (trak/mdia/mdhd, hdlr "soun", stsd "mp4a")
    int sampleRate = 44100;
    int channels = 2;
    Bytes audio; // the mdat payload
    // When not 0, `audio` is AAC frames of 1024 samples and this many bytes each, and the track
    // carries what a player needs to find them: a data reference and a sample table (each frame a
    // sample, all in one chunk at the start of the audio).
    std::uint32_t frameSize = 0;
    bool mdatFirst = false;          // mdat before moov
    bool largeMdat = false;          // mdat with a 64-bit size
    std::vector<Atom> extraTopLevel; // written after ftyp, before the rest
};
Bytes Mp4File(const Mp4Spec& movie);

// One raw AAC-LC frame of 1024 silent samples for one channel, of about `size` bytes: fill
// elements pad it to the bit rate of real music.
Bytes SilentAacFrame(int size);

} // namespace samples
