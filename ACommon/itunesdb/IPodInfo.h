#pragma once
// IPodInfo: what an iPod is, as its SysInfo file tells: the model number (without its first
// character, "A099" for "MA099"), the model family, the variant and the capacity in gigabytes from
// the table of known models, and the iPod's FireWire GUID. Filled by IPodDB::GetIPodInfo.

#include "ACommon/base/AString.h"

#include <cstdint>

class IPodInfo {
public:
    // Family codes the program acts on.
    enum : std::uint32_t {
        kFamilyUnknown = 0,
        kFamilyShuffle = 2, // also given when SysInfo cannot be opened at all
        kFamilyVideo = 4,   // plays video: its sources accept m4v, mp4 and ipg files
    };

    void Reset();
    // Looks `modelNumber` up in the table of known models; unknown models give family 0. The model
    // string is set either way.
    void SetModel(const AString& modelNumber);
    // A readable name of the family ("iPod nano"), "unknown" for family 0.
    static const char* FamilyName(std::uint32_t family);
    // True when the folder `path` lies on a volume mounted read-only.
    static bool IsVolumeReadOnly(const AString& path);

    AString model;
    std::uint32_t family = 0;
    std::uint32_t variant = 0;
    double capacity = 0.0; // gigabytes
    // The FireWire GUID that SysInfo gives, which tells one iPod from another: hexadecimal digits in
    // upper case, without "0x"; empty when SysInfo gives none (or only zeros).
    AString firewireGuid;
};
