#pragma once
// IPodSigning: the signature later iPods check their music database with, and the checks that
// come before a database is written for them.
//
// The iPod classic and the nano of the 3rd and 4th generation (hash58) show no music unless 20
// bytes at 0x58 of the database's header are an HMAC-SHA1 of the whole file, keyed by a key made
// from the iPod's FireWire GUID. The nano of the 5th generation (hash72) needs the iPod's
// HashInfo file, and reads a compressed database this program does not write yet; the 6th and
// 7th (hashAB) a scheme this program cannot make.
//
// Header fields of the signed database (mhbd, little-endian):
//   0x10 version (at least 0x30, as libgpod writes for these iPods)  0x18 database id (8 bytes)
//   0x20 1 (16 bits)  0x30 scheme (16 bits: 0 none, 1 hash58, 2 hash72, 4 hashAB)
//   0x32 20 bytes zeroed while signing  0x46 language "en" as two bytes, low byte first
//   0x48 persistent id (8 bytes)  0x58 hash58 signature (20 bytes)  0x72 hash72 signature (46)
// The header is at least 0xF4 bytes long so that every field fits.

#include "ACommon/base/AString.h"

#include <array>
#include <cstdint>
#include <vector>

class IPodInfo;

class IPodSigning {
public:
    using Guid = std::array<std::uint8_t, 8>;
    using Digest = std::array<std::uint8_t, 20>;
    static constexpr std::size_t kSignedHeaderLength = 0xF4;
    static constexpr std::uint32_t kSignedVersion = 0x30;
    static constexpr std::size_t kHashInfoLength = 54;

    // How the database of one iPod is to be signed.
    struct Plan {
        int scheme = 0; // IPodInfo::kScheme...
        Guid guid{};
        std::vector<std::uint8_t> hashInfo; // the HashInfo file, for hash72
    };

    // What stands in the way of writing a database the iPod at `root` accepts, each a sentence that
    // says what is missing and how to fix it; empty when nothing does. `info` is the iPod's
    // (IPodDB::GetIPodInfo), `databaseSigned` whether the database on it now carries a signature.
    static std::vector<AString> Problems(const AString& root, const IPodInfo& info, bool databaseSigned);
    // The plan for the iPod at `root`: 0, or -11167 with the first problem in `refusal` (ending
    // "Nothing was changed.") when a database it would accept cannot be made.
    static int Prepare(const AString& root, Plan* plan, AString* refusal);
    // The same from what is already known of the iPod.
    static int Prepare(const AString& root, const IPodInfo& info, bool databaseSigned, Plan* plan,
                       AString* refusal);
    // Gives the finished database `file` the header fields and the signature the plan names; a plan
    // without a scheme changes nothing. -10000 for a file too short to be a database.
    static int Sign(std::vector<std::uint8_t>& file, const Plan& plan);

    // The hash58 signature of `file` (a whole database) for the iPod with `guid`.
    static Digest Hash58(const std::vector<std::uint8_t>& file, const Guid& guid);
    // The hash72 signature of `file` for the iPod whose HashInfo file is `hashInfo`: 01 00, the
    // HashInfo's 12 random bytes, then AES-128-CBC (the key every such iPod shares, the HashInfo's
    // iv) of the SHA-1 of the file (database id and both signatures zeroed) and those 12 bytes.
    // False for a HashInfo that is not one.
    using Hash72Signature = std::array<std::uint8_t, 46>;
    static bool Hash72(const std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& hashInfo,
                       Hash72Signature* signature);
    // True when `hashInfo` has the HashInfo file's length and mark ("HASHv0"; then the iPod's id,
    // 20 bytes; 12 random bytes; the 16-byte iv).
    static bool IsHashInfo(const std::vector<std::uint8_t>& hashInfo);
    // True when `file` carries the hash58 signature of the iPod with `guid`.
    static bool HasHash58(const std::vector<std::uint8_t>& file, const Guid& guid);
    // The 8 bytes of a GUID of 16 hexadecimal digits, in the order written; false for anything else.
    static bool ParseGuid(const AString& hex, Guid* guid);
    // The AES S-box and its inverse (the hash58 key is made from them).
    static const std::array<std::uint8_t, 256>& SBox();
    static const std::array<std::uint8_t, 256>& InverseSBox();
};
