#pragma once
// IPodInfo: what an iPod is, as its identity files tell: the model number (without its first
// character, "A099" for "MA099"), the model family, the variant and the capacity in gigabytes from
// the table of known models, the iPod's FireWire GUID, the database version its SysInfoExtended
// names, the signing scheme its database needs, and where each of those facts came from. Filled by
// IPodDB::GetIPodInfo.

#include "ACommon/base/AString.h"

#include <cstdint>

class IPodInfo {
public:
    // Family codes the program acts on.
    enum : std::uint32_t {
        kFamilyUnknown = 0,
        kFamilyShuffle = 2, // also given when SysInfo cannot be opened at all
        kFamilyVideo = 4,   // the 5th generation: plays video, as PlaysVideo says
        kFamilyClassic = 11,
        kFamilyNano3 = 12,
        kFamilyNano4 = 13,
        kFamilyNano5 = 14,
        kFamilyNano6 = 15,
        kFamilyNano7 = 16,
    };
    // How the iPod checks its music database: the value of the database header's scheme field.
    // kSchemeUnknown when neither SysInfoExtended nor the model tells.
    enum : int {
        kSchemeUnknown = -1,
        kSchemeNone = 0,
        kSchemeHash58 = 1,
        kSchemeHash72 = 2,
        kSchemeHashAB = 4,
    };
    // The newest database version (SysInfoExtended's DBVersion) whose scheme is known.
    static constexpr int kNewestDBVersion = 5;

    // True for the families that play video (the 5th generation, the classic and the nano of the
    // 3rd, 4th, 5th and 7th generation): their sources accept m4v, mp4 and ipg files.
    static bool PlaysVideo(std::uint32_t family);

    void Reset();
    // Looks `modelNumber` up in the table of known models; unknown models give family 0. The model
    // string is set either way; the other facts are cleared.
    void SetModel(const AString& modelNumber);
    // Decides the signing scheme: from the database version when SysInfoExtended gives one, else
    // from the model; sets `scheme` and `schemeSource`.
    void ChooseScheme();
    // A readable name of the family ("iPod nano"), "unknown" for family 0.
    static const char* FamilyName(std::uint32_t family);
    // "none", "hash58", "hash72", "hashAB", or "unknown".
    static const char* SchemeName(int scheme);
    // The scheme iPods of `family` check their database with (none for the older families).
    static int SchemeOfFamily(std::uint32_t family);
    // True when the folder `path` lies on a volume mounted read-only.
    static bool IsVolumeReadOnly(const AString& path);

    AString model;
    std::uint32_t family = 0;
    std::uint32_t variant = 0;
    double capacity = 0.0; // gigabytes
    bool known = false;    // the model number is in the table
    // "6th generation" and the like; empty when unknown.
    AString generation;
    // The FireWire GUID, which tells one iPod from another and keys its database's signature:
    // hexadecimal digits in upper case, without "0x"; empty when none was found (or only zeros).
    AString firewireGuid;
    // SysInfoExtended's DBVersion; -1 when it gives none.
    int dbVersion = -1;
    int scheme = kSchemeNone;
    bool haveExtended = false; // a SysInfoExtended was read
    // The GUID as each source gave it (empty where it gave none), to tell when they disagree.
    AString sysInfoGuid, extendedGuid, usbSerial;
    // The model number SysInfo gives, when SysInfoExtended gives another (which `model` holds).
    AString sysInfoModel;
    // Where the facts came from: "SysInfo", "SysInfoExtended", "USB serial number", "model", or
    // empty when unknown.
    AString modelSource, guidSource, schemeSource;
};
