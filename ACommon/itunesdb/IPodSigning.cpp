#include "ACommon/itunesdb/IPodSigning.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodInfo.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>

namespace {

constexpr std::size_t kOffsetHeaderLength = 4;
constexpr std::size_t kOffsetTotalLength = 8;
constexpr std::size_t kOffsetVersion = 0x10;
constexpr std::size_t kOffsetDatabaseId = 0x18;
constexpr std::size_t kOffsetOne = 0x20;
constexpr std::size_t kOffsetScheme = 0x30;
constexpr std::size_t kOffsetZeroed = 0x32;
constexpr std::size_t kOffsetLanguage = 0x46;
constexpr std::size_t kOffsetPersistentId = 0x48;
constexpr std::size_t kOffsetHash58 = 0x58;
constexpr std::size_t kOffsetHash72 = 0x72;
constexpr std::size_t kHash72Length = 46;

// Mixed with the GUID into the hash58 key.
// The AES-128 key of hash72, the same for every iPod that checks it.
constexpr std::uint8_t kHash72Key[16] = {0x61, 0x8C, 0xA1, 0x0D, 0xC7, 0xF5, 0x7F, 0xD3,
                                         0xB4, 0x72, 0x3E, 0x08, 0x15, 0x74, 0x63, 0xD7};
constexpr std::size_t kHashInfoRandom = 26; // 12 bytes
constexpr std::size_t kHashInfoIv = 38;     // 16 bytes
constexpr std::uint8_t kHash58Fixed[18] = {0x67, 0x23, 0xFE, 0x30, 0x45, 0x33, 0xF8, 0x90, 0x99,
                                           0x21, 0x07, 0xC1, 0xD0, 0x12, 0xB2, 0xA1, 0x07, 0x81};

std::uint32_t GetU32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool AllZero(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t length)
{
    return std::all_of(bytes.begin() + at, bytes.begin() + at + length,
                       [](std::uint8_t b) { return b == 0; });
}

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, the field the S-box is defined over.
std::uint8_t FieldMultiply(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = static_cast<std::uint8_t>((a & 0x80) ? (a << 1) ^ 0x1B : a << 1);
        b >>= 1;
    }
    return product;
}

struct SBoxes {
    std::array<std::uint8_t, 256> forward{}, inverse{};
    // The S-box by its definition: the multiplicative inverse, then the affine map with 0x63.
    SBoxes()
    {
        for (int x = 0; x < 256; ++x) {
            std::uint8_t reciprocal = 0;
            for (int y = 1; x != 0 && y < 256; ++y)
                if (FieldMultiply(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
                    reciprocal = static_cast<std::uint8_t>(y);
                    break;
                }
            std::uint8_t value = reciprocal;
            for (int shift = 1; shift <= 4; ++shift)
                value ^= static_cast<std::uint8_t>((reciprocal << shift) | (reciprocal >> (8 - shift)));
            forward[x] = static_cast<std::uint8_t>(value ^ 0x63);
            inverse[forward[x]] = static_cast<std::uint8_t>(x);
        }
    }
};

const SBoxes& Boxes()
{
    static const SBoxes boxes;
    return boxes;
}

IPodSigning::Digest Sha1(const std::uint8_t* data, std::size_t length)
{
    IPodSigning::Digest digest{};
    unsigned int size = 0;
    EVP_Digest(data, length, digest.data(), &size, EVP_sha1(), nullptr);
    return digest;
}

// The key the iPod with `guid` checks hash58 signatures with.
IPodSigning::Digest Hash58Key(const IPodSigning::Guid& guid)
{
    const auto& s = IPodSigning::SBox();
    const auto& inverse = IPodSigning::InverseSBox();
    std::uint8_t input[sizeof kHash58Fixed + 16];
    std::memcpy(input, kHash58Fixed, sizeof kHash58Fixed);
    std::uint8_t* y = input + sizeof kHash58Fixed;
    for (int i = 0; i < 4; ++i) {
        const unsigned a = guid[2 * i], b = guid[2 * i + 1];
        const unsigned lcm = a == 0 || b == 0 ? 1 : std::lcm(a, b);
        *y++ = s[lcm >> 8];
        *y++ = inverse[lcm >> 8];
        *y++ = s[lcm & 0xFF];
        *y++ = inverse[lcm & 0xFF];
    }
    return Sha1(input, sizeof input);
}

AString Quoted(const AString& name)
{
    const std::string text = name.ToStdString();
    if (!text.empty() && text.find_first_of(" '\"$\\`") == std::string::npos)
        return name;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            quoted += '\\';
        quoted += c;
    }
    return AString::FromUTF8(quoted + "\"");
}

AString ModelText(const IPodInfo& info)
{
    AString text(info.known ? IPodInfo::FamilyName(info.family) : "iPod");
    if (!info.generation.IsEmpty())
        text += AString(" (") + info.generation + ")";
    if (!info.model.IsEmpty())
        text += AString(", model M") + info.model;
    return text;
}

} // namespace

const std::array<std::uint8_t, 256>& IPodSigning::SBox() { return Boxes().forward; }

const std::array<std::uint8_t, 256>& IPodSigning::InverseSBox() { return Boxes().inverse; }

bool IPodSigning::ParseGuid(const AString& hex, Guid* guid)
{
    const std::string text = hex.ToStdString();
    if (text.size() != 16 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    for (std::size_t i = 0; i < 8; ++i)
        (*guid)[i] = static_cast<std::uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return true;
}

IPodSigning::Digest IPodSigning::Hash58(const std::vector<std::uint8_t>& file, const Guid& guid)
{
    Digest signature{};
    if (file.size() < kOffsetHash58 + signature.size())
        return signature;
    // Signed as the iPod checks it: without the database id, the 20 bytes at 0x32 and the
    // signature itself, and with the scheme set.
    std::vector<std::uint8_t> copy = file;
    std::fill_n(copy.begin() + kOffsetDatabaseId, 8, 0);
    std::fill_n(copy.begin() + kOffsetZeroed, 20, 0);
    std::fill_n(copy.begin() + kOffsetHash58, 20, 0);
    copy[kOffsetScheme] = IPodInfo::kSchemeHash58;
    copy[kOffsetScheme + 1] = 0;
    const Digest key = Hash58Key(guid);
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), copy.data(), copy.size(), signature.data(),
         &length);
    return signature;
}

bool IPodSigning::IsHashInfo(const std::vector<std::uint8_t>& hashInfo)
{
    return hashInfo.size() == kHashInfoLength && std::memcmp(hashInfo.data(), "HASHv0", 6) == 0;
}

bool IPodSigning::Hash72(const std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& hashInfo,
                         Hash72Signature* signature)
{
    if (!IsHashInfo(hashInfo) || file.size() < kOffsetHash72 + kHash72Length)
        return false;
    std::vector<std::uint8_t> copy = file;
    std::fill_n(copy.begin() + kOffsetDatabaseId, 8, 0);
    std::fill_n(copy.begin() + kOffsetHash58, 20, 0);
    std::fill_n(copy.begin() + kOffsetHash72, kHash72Length, 0);
    copy[kOffsetScheme] = IPodInfo::kSchemeHash72;
    copy[kOffsetScheme + 1] = 0;
    // The plain text: the digest, then the random bytes; two AES blocks, no padding.
    std::uint8_t plain[32];
    unsigned int digestLength = 0;
    if (EVP_Digest(copy.data(), copy.size(), plain, &digestLength, EVP_sha1(), nullptr) != 1 ||
        digestLength != 20)
        return false;
    std::memcpy(plain + 20, hashInfo.data() + kHashInfoRandom, 12);

    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> cipher(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
    std::uint8_t coded[32 + 16];
    int written = 0, finished = 0;
    if (!cipher ||
        EVP_EncryptInit_ex(cipher.get(), EVP_aes_128_cbc(), nullptr, kHash72Key,
                           hashInfo.data() + kHashInfoIv) != 1 ||
        EVP_CIPHER_CTX_set_padding(cipher.get(), 0) != 1 ||
        EVP_EncryptUpdate(cipher.get(), coded, &written, plain, sizeof plain) != 1 ||
        EVP_EncryptFinal_ex(cipher.get(), coded + written, &finished) != 1 || written + finished != 32)
        return false;
    (*signature)[0] = 1;
    (*signature)[1] = 0;
    std::copy_n(hashInfo.begin() + kHashInfoRandom, 12, signature->begin() + 2);
    std::copy_n(coded, 32, signature->begin() + 14);
    return true;
}

bool IPodSigning::HasHash58(const std::vector<std::uint8_t>& file, const Guid& guid)
{
    if (file.size() < kSignedHeaderLength)
        return false;
    const Digest expected = Hash58(file, guid);
    return std::equal(expected.begin(), expected.end(), file.begin() + kOffsetHash58);
}

int IPodSigning::Sign(std::vector<std::uint8_t>& file, const Plan& plan)
{
    if (plan.scheme == IPodInfo::kSchemeNone)
        return 0;
    if (plan.scheme != IPodInfo::kSchemeHash58 &&
        (plan.scheme != IPodInfo::kSchemeHash72 || !IsHashInfo(plan.hashInfo)))
        return kErrNotSupported;
    if (file.size() < 24 || std::memcmp(file.data(), "mhbd", 4) != 0)
        return kErrUnknown;
    const std::uint32_t headerLength = GetU32(file, kOffsetHeaderLength);
    if (headerLength < 24 || headerLength > file.size())
        return kErrUnknown;
    // Widened where the header is too short for the fields: the datasets follow it and refer to
    // nothing by its offset in the file.
    if (headerLength < kSignedHeaderLength) {
        file.insert(file.begin() + headerLength, kSignedHeaderLength - headerLength, 0);
        PutU32(file, kOffsetHeaderLength, static_cast<std::uint32_t>(kSignedHeaderLength));
        PutU32(file, kOffsetTotalLength, static_cast<std::uint32_t>(file.size()));
    }
    if (GetU32(file, kOffsetVersion) < kSignedVersion)
        PutU32(file, kOffsetVersion, kSignedVersion);
    if (file[kOffsetOne] == 0 && file[kOffsetOne + 1] == 0)
        file[kOffsetOne] = 1;
    if (file[kOffsetLanguage] == 0 && file[kOffsetLanguage + 1] == 0) {
        file[kOffsetLanguage] = 'n';
        file[kOffsetLanguage + 1] = 'e';
    }
    if (AllZero(file, kOffsetPersistentId, 8)) {
        std::random_device random;
        for (std::size_t i = 0; i < 8; i += 4)
            PutU32(file, kOffsetPersistentId + i, random());
    }
    file[kOffsetScheme] = static_cast<std::uint8_t>(plan.scheme);
    file[kOffsetScheme + 1] = 0;
    if (plan.scheme == IPodInfo::kSchemeHash72) {
        std::fill_n(file.begin() + kOffsetHash58, 20, 0);
        Hash72Signature signature{};
        if (!Hash72(file, plan.hashInfo, &signature))
            return kErrNotSupported;
        std::copy(signature.begin(), signature.end(), file.begin() + kOffsetHash72);
        return 0;
    }
    // Signatures of another scheme mean nothing to this iPod.
    std::fill_n(file.begin() + kOffsetHash72, kHash72Length, 0);
    const Digest signature = Hash58(file, plan.guid);
    std::copy(signature.begin(), signature.end(), file.begin() + kOffsetHash58);
    return 0;
}

std::vector<AString> IPodSigning::Problems(const AString& root, const IPodInfo& info, bool databaseSigned)
{
    std::vector<AString> problems;
    // The volume's name stands for the iPod in the command that fixes it.
    AString folder = root;
    while (folder.GetLength() > 1 && folder[folder.GetLength() - 1] == '/')
        folder = folder.Left(folder.GetLength() - 1);
    AString volume;
    folder.LastPathComponent(&volume);
    if (volume.IsEmpty())
        volume = folder;
    const AString writeIdentity =
        AString("run `pelorin ipods --write-identity ") + Quoted(volume) + "` while it is connected by USB";
    const bool later = info.scheme != IPodInfo::kSchemeNone;

    if (info.dbVersion > IPodInfo::kNewestDBVersion)
        problems.push_back(AString::FromUTF8("This iPod's SysInfoExtended names database version " +
                                             std::to_string(info.dbVersion) +
                                             ", newer than Pelorin knows (up to " +
                                             std::to_string(IPodInfo::kNewestDBVersion)) +
                           "), so it cannot tell how the iPod checks its music database. Sync it with the "
                           "iPod's own desktop application instead.");
    else if ((info.scheme == IPodInfo::kSchemeUnknown || info.schemeSource.IsEmpty()) &&
             (databaseSigned || info.haveExtended))
        problems.push_back(
            (info.model.IsEmpty()
                 ? AString("Neither SysInfo nor SysInfoExtended names this iPod's model")
                 : AString("This iPod's model number M") + info.model + " is not one Pelorin knows") +
            ", so it cannot tell how the iPod checks its music database" +
            (databaseSigned ? AString(" (the database on it is signed)") : AString()) +
            ". Put the model number printed on the back of the iPod into iPod_Control/Device/SysInfo as a "
            "line such as \"ModelNumStr: MC293\".");

    // Identity files that disagree sign for the wrong iPod.
    if (later || info.scheme == IPodInfo::kSchemeUnknown) {
        if (!info.sysInfoGuid.IsEmpty() && !info.extendedGuid.IsEmpty() &&
            info.sysInfoGuid != info.extendedGuid)
            problems.push_back(
                AString("This iPod's identity files disagree: SysInfo gives the FireWire GUID ") +
                info.sysInfoGuid + ", SysInfoExtended " + info.extendedGuid +
                ". Remove the one that belongs to another iPod, then " + writeIdentity + ".");
        else if (!info.usbSerial.IsEmpty() && info.guidSource != "USB serial number" &&
                 info.usbSerial != info.firewireGuid)
            problems.push_back(AString("This iPod's ") + info.guidSource + " gives the FireWire GUID " +
                               info.firewireGuid + ", but the iPod connected by USB says " + info.usbSerial +
                               ": the file belongs to another iPod. Remove it, then " + writeIdentity + ".");
        if (!info.sysInfoModel.IsEmpty())
            problems.push_back(AString("This iPod's identity files disagree: SysInfoExtended names model M") +
                               info.model + ", SysInfo model M" + info.sysInfoModel +
                               ". Remove the one that belongs to another iPod.");
    }

    Guid guid{};
    switch (info.scheme) {
    case IPodInfo::kSchemeHash58:
        if (!ParseGuid(info.firewireGuid, &guid))
            problems.push_back(AString("This ") + ModelText(info) +
                               " needs its FireWire GUID to sign its music database, and neither SysInfo nor "
                               "SysInfoExtended holds it; " +
                               writeIdentity + ".");
        break;
    case IPodInfo::kSchemeHash72: {
        const AString hashInfo = IPodDB::ResolveIPodPath(root, "iPod_Control/Device/HashInfo");
        if (AFile::GetPathType(&hashInfo) != AFile::kPathFile)
            problems.push_back(AString("This ") + ModelText(info) +
                               " checks its music database with the hash72 signature, which needs the file "
                               "iPod_Control/Device/HashInfo that one sync with the iPod's own desktop "
                               "application leaves behind; it is missing. Sync the iPod once with that "
                               "application.");
        else
            problems.push_back(AString("This ") + ModelText(info) +
                               " reads its music from a compressed database with SQLite files beside it "
                               "(iTunesCDB), which Pelorin cannot write yet. Sync it with the iPod's own "
                               "desktop application instead.");
        break;
    }
    case IPodInfo::kSchemeHashAB:
        problems.push_back(AString("This ") + ModelText(info) +
                           " checks its music database with the hashAB signature, which only the iPod's own "
                           "desktop application can make. Sync it with that application instead.");
        break;
    default:
        break;
    }
    return problems;
}

int IPodSigning::Prepare(const AString& root, const IPodInfo& info, bool databaseSigned, Plan* plan,
                         AString* refusal)
{
    *plan = Plan();
    const std::vector<AString> problems = Problems(root, info, databaseSigned);
    if (!problems.empty()) {
        if (refusal)
            *refusal = problems.front() + " Nothing was changed.";
        return kErrNotSupported;
    }
    plan->scheme = info.scheme == IPodInfo::kSchemeUnknown ? IPodInfo::kSchemeNone : info.scheme;
    if (plan->scheme == IPodInfo::kSchemeHash58)
        ParseGuid(info.firewireGuid, &plan->guid);
    return 0;
}

int IPodSigning::Prepare(const AString& root, Plan* plan, AString* refusal)
{
    AString at = root;
    IPodInfo info;
    IPodDB::GetIPodInfo(&at, &info);
    return Prepare(root, info, IPodDB::ChecksSignature(&at), plan, refusal);
}
