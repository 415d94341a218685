// Cross-checks of the signature later iPods check, with libgpod: it signs hash58 itself when SysInfo
// names the model and gives the GUID, so its files are signed by an independent implementation.

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "GpodPeer.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/TempDir.h"

#include <gpod/itdb.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using peers::PeerTrack;

namespace {

constexpr const char* kGuid = "000A2700138A0000";

std::vector<PeerTrack> PeerSongs(int count)
{
    std::vector<PeerTrack> tracks;
    for (int i = 0; i < count; ++i)
        tracks.push_back({"Song " + std::to_string(i), "Artist", "Album", "Rock",
                          ":iPod_Control:Music:F00:S" + std::to_string(i) + ".mp3", 1000u + i, 60000, 128});
    return tracks;
}

// An iPod of `model` with the test's GUID, in the volume `volume`.
std::string SignedIPod(const fixtures::TempDir& volumes, const std::string& volume, const std::string& model)
{
    return fixtures::MakeIPod(volumes.Path(), volume,
                              {.modelNumStr = model, .firewireGuid = std::string("0x") + kGuid});
}

// An iPod of `model` whose database libgpod wrote (and signed, where the model needs it).
std::string GpodIPod(const fixtures::TempDir& volumes, const std::string& model, int songs)
{
    const std::string root = SignedIPod(volumes, model, model);
    EXPECT_TRUE(peers::WriteWithGpod(root, "Peer iPod", PeerSongs(songs)));
    return root;
}

IPodSigning::Guid Guid()
{
    IPodSigning::Guid guid{};
    IPodSigning::ParseGuid(kGuid, &guid);
    return guid;
}

// HashInfo: "HASHv0", the iPod's id (its GUID, then zeros: 20 bytes), 12 random bytes, the 16-byte iv;
// the random bytes and the iv are `random(i)` for i from 0.
std::vector<std::uint8_t> HashInfo(const std::function<std::uint8_t(int)>& random)
{
    std::vector<std::uint8_t> hashInfo{'H', 'A', 'S', 'H', 'v', '0'};
    const IPodSigning::Guid guid = Guid();
    hashInfo.insert(hashInfo.end(), guid.begin(), guid.end());
    hashInfo.resize(26, 0);
    for (int i = 0; i < 28; ++i)
        hashInfo.push_back(random(i));
    return hashInfo;
}

std::vector<std::uint8_t> Signature(const std::vector<std::uint8_t>& file)
{
    return std::vector<std::uint8_t>(file.begin() + 0x58, file.begin() + 0x6C);
}

// The models libgpod signs with hash58: the iPod classic of each generation and the nano of the
// 3rd and 4th.
const char* const kHash58Models[] = {"MB029", "MB147", "MB565", "MC293", "MA978", "MB598", "MB754"};

} // namespace

// The same bytes signed by libgpod and by this program carry the same 20 bytes, for a file of several
// hundred kilobytes too, which is signed whole (each model's small file is compared at the end of
// LibgpodAcceptsEverySignatureMadeHere).
TEST(SigningPeer, Hash58OfLibgpodsFilesEqualsLibgpodsSignature)
{
    fixtures::TempDir volumes;
    const std::string root = GpodIPod(volumes, "MC293", 800);
    const auto file = fixtures::ReadFile(fixtures::DatabasePath(root));
    ASSERT_GT(file.size(), 0x6Cu);
    EXPECT_EQ(file[0x30], 1) << "libgpod signs this model";
    const IPodSigning::Digest mine = IPodSigning::Hash58(file, Guid());
    EXPECT_EQ(std::vector<std::uint8_t>(mine.begin(), mine.end()), Signature(file));
}

// Every database this program signs reads in libgpod; one changed (a song added) is signed again,
// over its new bytes.
TEST(SigningPeer, LibgpodAcceptsEverySignatureMadeHere)
{
    for (const char* model : kHash58Models) {
        fixtures::TempDir volumes;
        const std::string root = GpodIPod(volumes, model, 2);
        const auto gpodFile = fixtures::ReadFile(fixtures::DatabasePath(root));
        AString r = AString::FromUTF8(root);
        std::vector<std::uint8_t> previous = gpodFile;
        for (int round = 0; round < 2; ++round) {
            IPodDB db;
            ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0) << model;
            SongInfoStruct song =
                fixtures::MakeSong("Added " + std::to_string(round), "Artist", "Album", "Rock",
                                   "/iPod_Control/Music/F00/A" + std::to_string(round) + ".mp3");
            ASSERT_EQ(db.AddSong(song, nullptr, 1), 0) << model;
            ASSERT_EQ(db.Store(nullptr), 0) << model;
            const auto file = fixtures::ReadFile(fixtures::DatabasePath(root));
            EXPECT_TRUE(IPodSigning::HasHash58(file, Guid())) << model << " round " << round;
            EXPECT_NE(Signature(file), Signature(previous)) << model << " round " << round;
            previous = file;
            const peers::PeerDatabase read = peers::ReadWithGpod(root);
            EXPECT_EQ(read.tracks.size(), 3u + round) << model;
        }
        // libgpod, writing what it read of this program's file, signs it as this program does (which
        // fails, too, where libgpod would not sign this model).
        const peers::PeerDatabase read = peers::ReadWithGpod(root);
        ASSERT_TRUE(peers::WriteWithGpod(root, "Peer iPod", read.tracks));
        const auto rewritten = fixtures::ReadFile(fixtures::DatabasePath(root));
        const IPodSigning::Digest mine = IPodSigning::Hash58(rewritten, Guid());
        EXPECT_EQ(std::vector<std::uint8_t>(mine.begin(), mine.end()), Signature(rewritten)) << model;
    }
}

// The header this program writes for a classic holds what libgpod's does, but for the ids, the
// signature and the lengths and counts of what follows.
TEST(SigningPeer, TheSignedHeaderHoldsTheFieldsLibgpodWrites)
{
    fixtures::TempDir volumes;
    const std::string gpodRoot = GpodIPod(volumes, "MC293", 1);
    const std::string mineRoot = SignedIPod(volumes, "MINE", "MC293");
    IPodDB db;
    AString r = AString::FromUTF8(mineRoot);
    ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    ASSERT_EQ(db.Store(nullptr), 0);
    auto gpod = fixtures::ReadFile(fixtures::DatabasePath(gpodRoot));
    auto mine = fixtures::ReadFile(fixtures::DatabasePath(mineRoot));
    ASSERT_GE(mine.size(), IPodSigning::kSignedHeaderLength);
    for (auto* file : {&gpod, &mine}) {
        file->resize(IPodSigning::kSignedHeaderLength);
        for (std::size_t i : {0x08, 0x09, 0x0A, 0x0B, 0x14}) // total length, dataset count
            (*file)[i] = 0;
        std::fill(file->begin() + 0x18, file->begin() + 0x20, 0); // database id
        std::fill(file->begin() + 0x48, file->begin() + 0x50, 0); // persistent id
        std::fill(file->begin() + 0x58, file->begin() + 0x6C, 0); // signature
    }
    EXPECT_EQ(mine, gpod);
}

// The model table agrees with libgpod's on every iPod classic and later nano it knows: the same
// kind, the same capacity, and so the same signing scheme.
TEST(SigningPeer, LaterModelsAreKnownAsLibgpodKnowsThem)
{
    const std::map<int, std::uint32_t> families{
        {ITDB_IPOD_GENERATION_CLASSIC_1, IPodInfo::kFamilyClassic},
        {ITDB_IPOD_GENERATION_CLASSIC_2, IPodInfo::kFamilyClassic},
        {ITDB_IPOD_GENERATION_CLASSIC_3, IPodInfo::kFamilyClassic},
        {ITDB_IPOD_GENERATION_NANO_3, IPodInfo::kFamilyNano3},
        {ITDB_IPOD_GENERATION_NANO_4, IPodInfo::kFamilyNano4},
        {ITDB_IPOD_GENERATION_NANO_5, IPodInfo::kFamilyNano5},
        {ITDB_IPOD_GENERATION_NANO_6, IPodInfo::kFamilyNano6},
        {ITDB_IPOD_GENERATION_VIDEO_1, IPodInfo::kFamilyVideo},
        {ITDB_IPOD_GENERATION_VIDEO_2, IPodInfo::kFamilyVideo},
        {ITDB_IPOD_GENERATION_NANO_2, 5u},
    };
    int checked = 0;
    for (const Itdb_IpodInfo* row = itdb_info_get_ipod_info_table(); row->model_number; ++row) {
        const auto family = families.find(row->ipod_generation);
        if (family == families.end() || row->ipod_model == ITDB_IPOD_MODEL_VIDEO_U2)
            continue;
        IPodInfo info;
        info.SetModel(row->model_number);
        EXPECT_EQ(info.family, family->second) << row->model_number;
        EXPECT_EQ(info.capacity, row->capacity) << row->model_number;
        ++checked;
    }
    EXPECT_GT(checked, 60);
}

// libgpod's build signs hash72 too, for the nano of the 5th generation with its HashInfo: it writes
// the signed database compressed (iTunesCDB, scheme 2, the 46 bytes at 0x72 beginning 01 00 and the
// 12 bytes of HashInfo) with SQLite files beside it, and leaves iTunesDB empty. That iPod reads its
// music from those files, which this program does not write: it is refused, and nothing is changed.
TEST(SigningPeer, ANano5GIsRefusedHere)
{
    fixtures::TempDir volumes;
    const std::string root = SignedIPod(volumes, "NANO5", "MC027");
    const std::vector<std::uint8_t> hashInfo =
        HashInfo([](int i) { return static_cast<std::uint8_t>(i + 100); });
    ASSERT_EQ(hashInfo.size(), IPodSigning::kHashInfoLength);
    fixtures::WriteFile(root + "/iPod_Control/Device/HashInfo", hashInfo);
    const auto before = fixtures::ReadFile(fixtures::DatabasePath(root));

    // This program first: it refuses, and says why.
    IPodDB db;
    AString r = AString::FromUTF8(root);
    ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    EXPECT_EQ(db.Store(nullptr), kErrNotSupported);
    EXPECT_NE(IPodDB::SignatureRefusal(&r).ToStdString().find("compressed database"), std::string::npos);
    EXPECT_EQ(fixtures::ReadFile(fixtures::DatabasePath(root)), before);

    ASSERT_TRUE(peers::WriteWithGpod(root, "Peer iPod", PeerSongs(2)));
    EXPECT_TRUE(fixtures::ReadFile(fixtures::DatabasePath(root)).empty());
    const auto compressed = fixtures::ReadFile(root + "/iPod_Control/iTunes/iTunesCDB");
    ASSERT_GT(compressed.size(), 0xA0u);
    EXPECT_EQ(compressed[0x30], IPodInfo::kSchemeHash72);
    EXPECT_EQ(compressed[0x72], 1);
    EXPECT_EQ(compressed[0x73], 0);
    EXPECT_TRUE(std::equal(hashInfo.begin() + 26, hashInfo.begin() + 38, compressed.begin() + 0x74));
}

TEST(SigningPeer, Hash72OfLibgpodsFileEqualsLibgpodsSignature)
{
    fixtures::TempDir volumes;
    const std::string root = SignedIPod(volumes, "NANO5", "MC027");
    for (int round = 0; round < 3; ++round) {
        // Another random part and iv each time.
        const std::vector<std::uint8_t> hashInfo =
            HashInfo([round](int i) { return static_cast<std::uint8_t>(i * (7 + round) + 31 * round); });
        fixtures::WriteFile(root + "/iPod_Control/Device/HashInfo", hashInfo);
        ASSERT_TRUE(peers::WriteWithGpod(root, "Peer iPod", PeerSongs(1 + 4 * round)));
        const auto compressed = fixtures::ReadFile(root + "/iPod_Control/iTunes/iTunesCDB");
        ASSERT_GT(compressed.size(), 0x72u + 46u);
        IPodSigning::Hash72Signature signature{};
        ASSERT_TRUE(IPodSigning::Hash72(compressed, hashInfo, &signature));
        EXPECT_TRUE(std::equal(signature.begin(), signature.end(), compressed.begin() + 0x72)) << round;

        // Signed here from scratch, the same bytes come out.
        std::vector<std::uint8_t> resigned = compressed;
        std::fill_n(resigned.begin() + 0x72, 46, 0);
        IPodSigning::Plan plan;
        plan.scheme = IPodInfo::kSchemeHash72;
        plan.hashInfo = hashInfo;
        ASSERT_EQ(IPodSigning::Sign(resigned, plan), 0);
        EXPECT_EQ(resigned, compressed) << round;
    }
}
