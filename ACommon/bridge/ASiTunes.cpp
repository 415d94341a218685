#include "ACommon/bridge/ASiTunes.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MountedIPod.h"

#include "APlatform/HfsPath.h"
#include "APlatform/KnownFolders.h"
#include "APlatform/ScriptRunner.h"

#include <plist/plist.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <tuple>

// The JPEG encoder and the PNG decoder stay private to this file.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 8000
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

using platform::ScriptDescriptor;

namespace {

const std::string kTell = "tell application \"iTunes\"\n";
const std::string kNotStream = "\" whose kind is not equal to \"MPEG audio stream\")\n end tell\n";

std::timed_mutex gAELock;
// Why the last script of a thread failed.
thread_local int gScriptFailureCode = 0;
thread_local std::string gScriptFailure;

// The code of the script that just failed: the library's own, noted again with its reason (which
// file, the system's words, a lock another sync holds, a damaged library), when it gave one;
// kErrITunesRefused when it gave none.
int ScriptFailed()
{
    if (gScriptFailureCode == 0 || gScriptFailure.empty())
        return kErrITunesRefused;
    AError::NoteFailure(gScriptFailureCode, AString::FromUTF8(gScriptFailure));
    return gScriptFailureCode;
}
std::atomic<int> gLockWaitSeconds{ASiTunes::kLockWaitSeconds};

std::string Decimal(std::uint32_t id) { return std::to_string(id); }

// A name refused for a script: logged once, so that the missing reply has a reason.
void LogRefusedName(AProgress* progress, const AString& name)
{
    AString line("Error communicating with iTunes: a name holds a line break: ");
    line += name;
    line += "\n";
    progress->AddToLog(&line, 1);
}

// The string of a reply item; no value for a missing item or one without a string.
std::optional<AString> ItemString(const ScriptDescriptor* item)
{
    if (!item)
        return std::nullopt;
    std::optional<std::string> text = item->StringValue();
    if (!text)
        return std::nullopt;
    return AString::FromUTF8(*text);
}

std::uint16_t ReadU16LE(const std::vector<std::uint8_t>& data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

void AppendJpegBytes(void* context, void* data, int size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// The value of `key` in the property list at `path`; null when the file or key is missing.
struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

PlistPtr ReadPlist(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    constexpr std::size_t kMaxBytes = 64 * 1024 * 1024;
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > kMaxBytes)
            return nullptr;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root && plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return nullptr;
    }
    return PlistPtr(root);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

ASiTunes::ASiTunes(AProgress* reporter) : progress(reporter ? reporter : &AProgress::Shared()) {}

// ---------------------------------------------------------------------------------------------
// Running scripts

std::optional<ScriptDescriptor> ASiTunes::Send2iTunes(const std::string& source, AProgress* progress)
{
    platform::ScriptRunner* runner = platform::GetScriptRunner();
    if (!runner)
        return std::nullopt;
    // One script at a time; a caller waits for the one before it, and gives up only after a long
    // while (a runner that hangs), which is logged.
    std::unique_lock<std::timed_mutex> guard(gAELock, std::defer_lock);
    if (!guard.try_lock_for(std::chrono::seconds(gLockWaitSeconds.load()))) {
        if (progress) {
            progress->AddToLog("Error communicating with iTunes: ", 0);
            progress->AddToLog("Simultaneous calls to iTunes not allowed. \n", 1);
        }
        return std::nullopt;
    }
    gScriptFailureCode = 0;
    gScriptFailure.clear();
    try {
        std::optional<ScriptDescriptor> reply = runner->Run(source, &gScriptFailure);
        if (!reply) {
            // The library notes its code with the reason; a refusal of the bridge's own reads as
            // iTunes refusing, with the reason beside it.
            // A code noted before this script, for another failure, is not its code.
            const int noted = AError::LastFailureCode();
            if (noted != 0 && AError::FailureDetail(noted).ToStdString() == gScriptFailure)
                gScriptFailureCode = noted;
            if (!gScriptFailure.empty())
                AError::NoteFailure(kErrITunesRefused, AString::FromUTF8(gScriptFailure));
        }
        return reply;
    } catch (...) {
        return std::nullopt;
    }
}

int ASiTunes::LastScriptFailure(AString* why)
{
    if (why)
        *why = AString::FromUTF8(gScriptFailure);
    return gScriptFailure.empty() ? 0 : gScriptFailureCode;
}

int ASiTunes::NoteLastScriptFailure(int otherwise)
{
    AString why;
    const int cause = LastScriptFailure(&why);
    if (cause == 0 || why.IsEmpty())
        return otherwise;
    AError::NoteFailure(cause, why);
    return cause;
}

void ASiTunes::SetLockWaitForTesting(int seconds)
{
    gLockWaitSeconds = seconds > 0 ? seconds : kLockWaitSeconds;
}

bool ASiTunes::Quote(const AString& value, std::string* out) { return QuoteText(value.ToStdString(), out); }

bool ASiTunes::QuoteText(std::string_view bytes, std::string* out)
{
    std::string quoted;
    quoted.reserve(bytes.size() + 8);
    for (char c : bytes) {
        if (c == '\n' || c == '\r')
            return false;
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    *out = std::move(quoted);
    return true;
}

bool ASiTunes::PlaylistPiece(bool iPod, std::string* out) const
{
    std::string playlist, source;
    if (!Quote(playlistName, &playlist)) {
        LogRefusedName(progress, playlistName);
        return false;
    }
    if (iPod && !Quote(iPodName, &source)) {
        LogRefusedName(progress, iPodName);
        return false;
    }
    *out = iPod ? playlist + "\" in source \"" + source : playlist;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Class operations

int ASiTunes::GetIPodCount() { return static_cast<int>(MountedIPod::FindAll().size()); }

int ASiTunes::GetIPodCountiTunes()
{
    std::optional<ScriptDescriptor> reply =
        Send2iTunes(kTell + " count (every source whose kind = iPod)" + "\n end tell\n");
    return reply ? reply->Int32Value() : 0;
}

int ASiTunes::GetITunesVersion()
{
    std::optional<ScriptDescriptor> reply = Send2iTunes(kTell + " get version" + "\n end tell\n");
    if (!reply)
        return -1;
    // "7.0.2" reads as 7.0: the number ends at the second dot.
    const std::string text = reply->StringValue().value_or(std::string());
    return static_cast<int>(std::strtod(text.c_str(), nullptr) * 100);
}

int ASiTunes::GetITunesPlaylist(int, AString* names)
{
    std::optional<ScriptDescriptor> reply = Send2iTunes(kTell + " name of every playlist" + "\n end tell\n");
    if (!reply)
        return ScriptFailed();
    AString all;
    for (int i = 1; i <= reply->NumberOfItems(); ++i) {
        all += ItemString(reply->ItemAt(i)).value_or(AString());
        all += "\n";
    }
    *names = all;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Library side

const AString& ASiTunes::GetLibName()
{
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " name of every source whose kind = library" + "\n end tell\n");
    if (reply) {
        const ScriptDescriptor* first =
            reply->GetKind() == ScriptDescriptor::Kind::List ? reply->ItemAt(1) : &*reply;
        if (std::optional<AString> name = ItemString(first))
            libName = *name;
    }
    return libName;
}

AString ASiTunes::DecodeFolderUrl(const std::string& url)
{
    const std::string scheme = "file://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return AString();
    std::string rest = url.substr(scheme.size());
    if (rest.compare(0, 9, "localhost") == 0)
        rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/')
        return AString();
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int high = i + 2 < rest.size() ? HexDigit(rest[i + 1]) : -1;
        const int low = i + 2 < rest.size() ? HexDigit(rest[i + 2]) : -1;
        if (high < 0 || low < 0)
            return AString(); // a broken escape: the URL names no folder for sure
        const char byte = static_cast<char>(high * 16 + low);
        if (byte == '\0')
            return AString();
        path += byte;
        i += 2;
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return AString::FromUTF8(path); // invalid UTF-8 gives the empty string
}

const AString& ASiTunes::GetITunesRootFolder()
{
    if (libRootPath)
        return *libRootPath;
    AString folder;
    // The music folder named in the library's XML, when that is an existing absolute folder.
    if (PlistPtr root = ReadPlist(platform::LibraryXmlPath())) {
        plist_t value = plist_dict_get_item(root.get(), "Music Folder");
        if (value && plist_get_node_type(value) == PLIST_STRING) {
            if (const char* text = plist_get_string_ptr(value, nullptr)) {
                AString decoded = DecodeFolderUrl(text);
                if (!decoded.IsEmpty() && AFile::DirExists(&decoded))
                    folder = decoded;
            }
        }
    }
    if (folder.IsEmpty()) {
        // The folder of the first track, when it lies in a music folder.
        std::string name;
        if (Quote(GetLibName().IsEmpty() ? AString("Library") : libName, &name)) {
            std::optional<ScriptDescriptor> reply =
                Send(kTell + " " + "location" + " of track 1 in playlist \"" + name + "\"\n end tell\n");
            if (std::optional<std::string> path = reply ? reply->AliasPath() : std::nullopt) {
                const std::string mark = "iTunes/iTunes Music";
                if (std::size_t at = path->find(mark); at != std::string::npos)
                    folder = AString::FromUTF8(path->substr(0, at + mark.size()));
            }
        }
    }
    if (folder.IsEmpty())
        folder = AString::FromUTF8(platform::LibraryFolder() + "/iTunes Music");
    libRootPath = folder;
    return *libRootPath;
}

AString ASiTunes::DecodeUserID(const std::vector<std::uint8_t>& data)
{
    // The account is a run of UTF-16LE units holding an "@", preceded by its length in units: find
    // the "@", step back over non-zero units; the unit reached is the count L, and the L units after
    // it are the account. Every step stays inside the data.
    for (std::size_t at = 2; at + 1 < data.size(); at += 2) {
        if (ReadU16LE(data, at) != u'@' || ReadU16LE(data, at - 2) == 0)
            continue;
        std::size_t unit = at;
        while (unit >= 4 && ReadU16LE(data, unit - 2) != 0)
            unit -= 2;
        // `unit` is the first unit of the run; the run's first unit is the count when it is small.
        const std::size_t countAt = unit;
        const std::size_t length = ReadU16LE(data, countAt);
        const std::size_t textAt = countAt + 2;
        if (length == 0 || length > 255 || textAt + length * 2 > data.size())
            return AString();
        std::u16string account;
        for (std::size_t i = 0; i < length; ++i)
            account += static_cast<char16_t>(ReadU16LE(data, textAt + i * 2));
        if (account.find(u'@') == std::u16string::npos)
            return AString();
        return AString(std::move(account));
    }
    return AString();
}

AString ASiTunes::GetUserID() const
{
    PlistPtr root = ReadPlist(platform::LibraryPreferencesPath());
    if (!root)
        return AString();
    plist_t value = plist_dict_get_item(root.get(), "pref:129:Preferences");
    if (!value || plist_get_node_type(value) != PLIST_DATA)
        return AString();
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(value, &length);
    if (!bytes)
        return AString();
    return DecodeUserID(std::vector<std::uint8_t>(bytes, bytes + length));
}

int ASiTunes::LibCount()
{
    std::string playlist;
    if (!PlaylistPiece(false, &playlist))
        return -1;
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " count of (every track in playlist \"" + playlist + kNotStream);
    return reply ? reply->Int32Value() : -1;
}

std::string ASiTunes::ListScript(bool iPod, const std::string& param, const std::string& playlist) const
{
    return iPod ? kTell + " " + param + " of every track in playlist \"" + playlist + "\"\n end tell\n"
                : kTell + " " + param + " of (every track in playlist \"" + playlist + kNotStream;
}

int ASiTunes::ReadLibProperty(const char* param, std::vector<ScriptDescriptor>* items)
{
    return ReadProperty(false, param, items);
}

int ASiTunes::ReadIPodProperty(const char* param, std::vector<ScriptDescriptor>* items)
{
    return ReadProperty(true, param, items);
}

int ASiTunes::ReadProperty(bool iPod, const char* param, std::vector<ScriptDescriptor>* items)
{
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return kErrITunesRefused;
    std::optional<ScriptDescriptor> reply = Send(ListScript(iPod, param, playlist));
    if (!reply)
        return ScriptFailed();
    if (reply->GetKind() != ScriptDescriptor::Kind::List)
        return kErrITunesRefused;
    *items = reply->Items();
    return 0;
}

int ASiTunes::LibTrackCount(std::uint32_t id) { return TrackCount(false, id); }
int ASiTunes::IPodTrackCount(std::uint32_t id) { return TrackCount(true, id); }

int ASiTunes::TrackCount(bool iPod, std::uint32_t id)
{
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return -1;
    std::optional<ScriptDescriptor> reply = Send(kTell + " count of (every track in playlist \"" + playlist +
                                                 "\" whose database ID = " + Decimal(id) + ")\n end tell\n");
    if (!reply || reply->GetKind() != ScriptDescriptor::Kind::Integer)
        return -1;
    return reply->Int32Value();
}

AString ASiTunes::IPodTrackLocation(std::uint32_t id)
{
    std::string playlist;
    if (!PlaylistPiece(true, &playlist))
        return AString();
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " get location of first track of playlist \"" + playlist +
             "\" whose database ID = " + Decimal(id) + "\n end tell\n");
    std::optional<std::string> path = reply ? reply->AliasPath() : std::nullopt;
    return path ? AString::FromUTF8(*path) : AString();
}

int ASiTunes::ReadLibIDs(std::vector<std::uint32_t>* ids) { return ReadIDs(false, ids); }
int ASiTunes::ReadIPodIDs(std::vector<std::uint32_t>* ids) { return ReadIDs(true, ids); }

int ASiTunes::ReadIDs(bool iPod, std::vector<std::uint32_t>* ids)
{
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return kErrITunesRefused;
    const std::string script =
        iPod ? kTell + " database ID of every track in playlist \"" + playlist + "\"\n end tell\n"
             : kTell + " database ID of (every track in playlist \"" + playlist + kNotStream;
    std::optional<ScriptDescriptor> reply = Send(script);
    if (!reply)
        return ScriptFailed();
    if (reply->GetKind() != ScriptDescriptor::Kind::List)
        return kErrInconsistentSize;
    ids->clear();
    ids->reserve(reply->Items().size());
    for (const ScriptDescriptor& item : reply->Items()) {
        if (item.GetKind() != ScriptDescriptor::Kind::Integer)
            return kErrInconsistentSize;
        ids->push_back(static_cast<std::uint32_t>(item.Int64Value()));
    }
    return 0;
}

int ASiTunes::GetITunesSongAlbumArtCount(std::uint32_t id) { return ArtCount(false, id); }
int ASiTunes::GetIPodSongAlbumArtCount(std::uint32_t id) { return ArtCount(true, id); }

int ASiTunes::ArtCount(bool iPod, std::uint32_t id)
{
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return -1;
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " count of (every artwork of (artworks of (first track of playlist \"" + playlist +
             "\" whose database ID = " + Decimal(id) + ")))\n end tell\n");
    return reply ? reply->Int32Value() : -1;
}

int ASiTunes::GetITunesSongAlbumArt(std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg)
{
    return Art(false, id, index, jpeg);
}

int ASiTunes::GetIPodSongAlbumArt(std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg)
{
    return Art(true, id, index, jpeg);
}

int ASiTunes::Art(bool iPod, std::uint32_t id, int index, std::vector<std::uint8_t>* jpeg)
{
    jpeg->clear();
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return kErrFileNotFound;
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " data of (artwork " + std::to_string(index + 1) +
             " of (artworks of (first track of playlist \"" + playlist +
             "\" whose database ID = " + Decimal(id) + ")))\n end tell\n");
    if (!reply || reply->DataValue().empty())
        return kErrFileNotFound;
    try {
        if (!ToJpeg(reply->DataValue(), jpeg))
            return kErrFileNotFound;
    } catch (const std::bad_alloc&) {
        jpeg->clear();
        return kErrOutOfMemory;
    }
    return 0;
}

bool ASiTunes::ToJpeg(const std::vector<std::uint8_t>& picture, std::vector<std::uint8_t>* jpeg)
{
    if (picture.size() >= 3 && picture[0] == 0xFF && picture[1] == 0xD8 && picture[2] == 0xFF) {
        *jpeg = picture;
        return true;
    }
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (picture.size() < 8 || !std::equal(kPng, kPng + 8, picture.begin()) || picture.size() > INT32_MAX)
        return false;
    int width = 0, height = 0, components = 0;
    stbi_uc* pixels = stbi_load_from_memory(picture.data(), static_cast<int>(picture.size()), &width, &height,
                                            &components, 3);
    if (!pixels)
        return false;
    std::vector<std::uint8_t> out;
    const int written = stbi_write_jpg_to_func(AppendJpegBytes, &out, width, height, 3, pixels, 90);
    stbi_image_free(pixels);
    if (!written || out.empty())
        return false;
    *jpeg = std::move(out);
    return true;
}

int ASiTunes::GetITunesPlayListType() { return PlayListType(false); }
int ASiTunes::GetIPodPlayListType() { return PlayListType(true); }

int ASiTunes::PlayListType(bool iPod)
{
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return kPlaylistOther;
    std::optional<ScriptDescriptor> smart =
        Send(kTell + "get smart of playlist \"" + playlist + "\"\n end tell\n");
    if (smart && smart->BooleanValue())
        return kPlaylistSmart;
    std::optional<ScriptDescriptor> kind =
        Send(kTell + "get special kind of playlist \"" + playlist + "\"\n end tell\n");
    const std::string text = kind ? kind->StringValue().value_or(std::string()) : std::string();
    struct Code {
        const char* kind;
        int code;
    };
    for (auto [name, code] : {Code{"kSpM", kPlaylistPurchased}, Code{"Audiobooks", kPlaylistAudiobooks},
                              Code{"kSpN", kPlaylistOrdinary}, Code{"kSpP", kPlaylistPodcasts},
                              Code{"kSpI", kPlaylistInternal}, Code{"kSpS", kPlaylistPartyShuffle}})
        if (text == name)
            return code;
    return kPlaylistOther;
}

int ASiTunes::DeleteITunesSong(std::uint32_t id) { return DeleteSong(false, id); }
int ASiTunes::DeleteIPodSong(std::uint32_t id) { return DeleteSong(true, id); }

int ASiTunes::DeleteSong(bool iPod, std::uint32_t id)
{
    std::string playlist;
    if (!PlaylistPiece(iPod, &playlist))
        return -1;
    std::optional<ScriptDescriptor> reply = Send(kTell + " delete (first track of playlist \"" + playlist +
                                                 "\" whose database ID = " + Decimal(id) + ")\n end tell\n");
    if (!reply)
        return -1;
    if (!reply->IsNothing())
        return kErrUnableToDelete;
    return 0;
}

long long ASiTunes::ITunesAddSongFromDisk(const AString& path, const AString* playlist)
{
    return AddSongFromDisk(false, path, playlist);
}

long long ASiTunes::IPodAddSongFromDisk(const AString& path, const AString* playlist)
{
    return AddSongFromDisk(true, path, playlist);
}

long long ASiTunes::AddSongFromDisk(bool iPod, const AString& path, const AString* playlist)
{
    std::string script;
    if (!AddScript(iPod, path, playlist ? *playlist : playlistName, &script))
        return -1;
    script += "\"\n get database ID of fileTrack\n end tell";
    std::optional<ScriptDescriptor> reply = Send(script);
    if (!reply || reply->GetKind() != ScriptDescriptor::Kind::Integer)
        return -1;
    return reply->Int64Value();
}

bool ASiTunes::AddScript(bool iPod, const AString& path, const AString& targetName, std::string* script) const
{
    const std::string hfs = platform::PosixToHfsPath(path.ToStdString());
    std::string quotedPath, target, source;
    // The colon path is UTF-8 text already (made from the path's own text): quoted as it is.
    if (hfs.empty() || !QuoteText(hfs, &quotedPath)) {
        // The file's own path names what is wrong, not the playlist it was going to.
        LogRefusedName(progress, path);
        AError::NoteFailure(kErrInvalidPath,
                            AString("cannot add ") + path +
                                ": a script cannot name a file with a line break in its name");
        gScriptFailureCode = kErrInvalidPath;
        gScriptFailure = AError::FailureDetail(kErrInvalidPath).ToStdString();
        return false;
    }
    if (!Quote(targetName, &target) || (iPod && !Quote(iPodName, &source))) {
        LogRefusedName(progress, targetName);
        return false;
    }
    *script = kTell + " set fileTrack to add alias \"" + quotedPath + "\" to playlist \"" + target;
    if (iPod)
        *script += "\" in source \"" + source;
    return true;
}

long long ASiTunes::ITunesAddSong(const AString& path, const AString* alsoTo)
{
    return AddSongWith(false, path, alsoTo, nullptr);
}

long long ASiTunes::IPodAddSong(const AString& path, const AString* alsoTo, AString* location)
{
    AString file;
    return AddSongWith(true, path, alsoTo, location ? location : &file);
}

long long ASiTunes::AddSongWith(bool iPod, const AString& path, const AString* alsoTo, AString* location)
{
    if (location)
        *location = AString();
    std::string script, also, source;
    if (!AddScript(iPod, path, playlistName, &script))
        return -1;
    if (alsoTo) {
        if (!Quote(*alsoTo, &also) || (iPod && !Quote(iPodName, &source))) {
            LogRefusedName(progress, *alsoTo);
            return -1;
        }
        script += "\"\n add fileTrack to playlist \"" + also;
        if (iPod)
            script += "\" in source \"" + source;
    }
    script += location ? "\"\n get {database ID of fileTrack, location of fileTrack}\n end tell"
                       : "\"\n get database ID of fileTrack\n end tell";
    std::optional<ScriptDescriptor> reply = Send(script);
    if (!reply)
        return -1;
    if (!location)
        return reply->GetKind() == ScriptDescriptor::Kind::Integer ? reply->Int64Value() : -1;
    if (reply->GetKind() != ScriptDescriptor::Kind::List || reply->NumberOfItems() != 2 ||
        reply->ItemAt(1)->GetKind() != ScriptDescriptor::Kind::Integer)
        return -1;
    std::optional<std::string> file = reply->ItemAt(2)->AliasPath();
    *location = file ? AString::FromUTF8(*file) : AString();
    return reply->ItemAt(1)->Int64Value();
}

int ASiTunes::ITunesAddSongToPlaylist(const AString& target, std::uint32_t id)
{
    return AddSongToPlaylist(false, target, id);
}

int ASiTunes::IPodAddSongToPlaylist(const AString& target, std::uint32_t id)
{
    return AddSongToPlaylist(true, target, id);
}

int ASiTunes::AddSongToPlaylist(bool iPod, const AString& target, std::uint32_t id)
{
    std::string playlist, name, source;
    if (!PlaylistPiece(iPod, &playlist) || !Quote(target, &name) || (iPod && !Quote(iPodName, &source)))
        return kErrAddToPlaylist;
    std::string script = kTell + " set fileTrack to add (get location of first track of playlist \"" +
                         playlist + "\" whose database ID = " + Decimal(id) + ") to playlist \"" + name;
    if (iPod)
        script += "\" in source \"" + source;
    script += "\"\n get database ID of fileTrack\n end tell";
    std::optional<ScriptDescriptor> reply = Send(script);
    if (!reply || reply->GetKind() != ScriptDescriptor::Kind::Integer ||
        static_cast<std::uint32_t>(reply->Int64Value()) != id)
        return kErrAddToPlaylist;
    return 0;
}

int ASiTunes::UpdateIPod()
{
    std::string source;
    if (!Quote(iPodName, &source))
        return kErrITunesRefused;
    if (Send(kTell + " update source \"" + source + "\"\n end tell\n"))
        return 0;
    return ScriptFailed();
}

int ASiTunes::FindLibListenings(const AString& name, const AString& artist, const AString& album,
                                std::vector<Listening>* out)
{
    out->clear();
    std::string playlist, quotedName, quotedArtist, quotedAlbum;
    if (!PlaylistPiece(false, &playlist) || !Quote(name, &quotedName) || !Quote(artist, &quotedArtist) ||
        !Quote(album, &quotedAlbum))
        return kErrITunesRefused;
    // The songs are found by one search of the playlist; what each keeps is read by its database ID.
    std::optional<ScriptDescriptor> ids =
        Send(kTell + " get database ID of every track in playlist \"" + playlist + "\" whose name = \"" +
             quotedName + "\" and artist = \"" + quotedArtist + "\" and album = \"" + quotedAlbum +
             "\"\n end tell\n");
    if (!ids)
        return ScriptFailed();
    std::vector<Listening> found;
    if (ids->GetKind() == ScriptDescriptor::Kind::Integer)
        found.emplace_back().id = static_cast<std::uint32_t>(ids->Int64Value());
    for (const ScriptDescriptor& id : ids->Items())
        if (id.GetKind() == ScriptDescriptor::Kind::Integer)
            found.emplace_back().id = static_cast<std::uint32_t>(id.Int64Value());
    using Property = std::tuple<const char*, std::int64_t Listening::*, double Listening::*>;
    std::vector<Property> properties{Property{"played count", &Listening::plays, nullptr},
                                     {"skipped count", &Listening::skips, nullptr},
                                     {"played date", &Listening::playedDate, nullptr},
                                     {"rating", &Listening::rating, nullptr}};
    // What tells the songs apart, only where there are several.
    if (found.size() > 1)
        properties.insert(properties.end(), {Property{"size", &Listening::size, nullptr},
                                             Property{"duration", nullptr, &Listening::duration}});
    for (Listening& song : found) {
        const std::string track =
            "first track of playlist \"" + playlist + "\" whose database ID = " + Decimal(song.id);
        for (auto [property, integer, real] : properties) {
            std::optional<ScriptDescriptor> reply =
                Send(kTell + " get " + property + " of " + track + "\n end tell\n");
            if (!reply)
                return ScriptFailed();
            if (integer && reply->GetKind() != ScriptDescriptor::Kind::Integer)
                return kErrITunesRefused;
            if (integer)
                song.*integer = reply->Int64Value();
            else
                song.*real = reply->DoubleValue();
        }
    }
    *out = std::move(found);
    return 0;
}

int ASiTunes::LibHoldsPlays(const AString& key, bool* held)
{
    *held = false;
    std::optional<ScriptDescriptor> keys =
        Send(kTell + " get plays brought back of source \"Library\"\n end tell\n");
    if (!keys)
        return ScriptFailed();
    const std::string wanted = key.ToStdString();
    for (const ScriptDescriptor& one : keys->Items())
        if (one.StringValue() == wanted)
            *held = true;
    return 0;
}

int ASiTunes::SetLibListening(const AString& key, const std::vector<Listening>& songs,
                              const std::vector<PlaylistMade>& playlists)
{
    std::string playlist, quotedKey;
    if (!PlaylistPiece(false, &playlist) || !Quote(key, &quotedKey))
        return kErrITunesRefused;
    auto track = [&playlist](std::uint32_t id) {
        return "first track of playlist \"" + playlist + "\" whose database ID = " + Decimal(id);
    };
    // The key first: a library that holds it refuses the script before anything changes.
    std::string script = kTell + " set plays brought back of source \"Library\" to \"" + quotedKey + "\"\n";
    for (const Listening& song : songs) {
        const std::string of = " of " + track(song.id) + " to ";
        // The date first: the plays a count grows by are recorded at the song's played date.
        script += " set played date" + of + std::to_string(song.playedDate) + "\n";
        script += " set played count" + of + std::to_string(song.plays) + "\n";
        script += " set skipped count" + of + std::to_string(song.skips) + "\n";
        script += " set rating" + of + std::to_string(song.rating) + "\n";
    }
    for (const PlaylistMade& made : playlists) {
        std::string name;
        if (!Quote(made.name, &name)) {
            LogRefusedName(progress, made.name);
            return kErrITunesRefused;
        }
        script += " set madeList to make playlist of source \"Library\"\n set name of madeList to \"" + name +
                  "\"\n";
        for (std::uint32_t id : made.members)
            script += " add (" + track(id) + ") to madeList\n";
    }
    script += " end tell\n";
    return Send(script) ? 0 : ScriptFailed();
}

int ASiTunes::MakePlaylistITunes(const AString& name) { return MakePlaylist(AString("Library"), name); }
int ASiTunes::MakePlaylistIPod(const AString& name) { return MakePlaylist(iPodName, name); }
int ASiTunes::DeletePlaylistITunes(const AString& name) { return DeletePlaylist(AString("Library"), name); }
int ASiTunes::DeletePlaylistIPod(const AString& name) { return DeletePlaylist(iPodName, name); }

int ASiTunes::MakePlaylist(const AString& source, const AString& name)
{
    std::string quotedSource, quotedName;
    if (!Quote(source, &quotedSource) || !Quote(name, &quotedName)) {
        LogRefusedName(progress, name);
        return kErrITunesRefused;
    }
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " set myPlayList to make playlist of source \"" + quotedSource +
             "\"\n set name of myPlayList to \"" + quotedName + "\"\n end tell\n");
    return reply ? 0 : ScriptFailed();
}

int ASiTunes::DeletePlaylist(const AString& source, const AString& name)
{
    std::string quotedSource, quotedName;
    if (!Quote(source, &quotedSource) || !Quote(name, &quotedName)) {
        LogRefusedName(progress, name);
        return kErrITunesRefused;
    }
    std::optional<ScriptDescriptor> reply = Send(kTell + " delete playlist \"" + quotedName +
                                                 "\" of source \"" + quotedSource + "\"\n end tell\n");
    return reply ? 0 : ScriptFailed();
}

// ---------------------------------------------------------------------------------------------
// iPod side

void ASiTunes::SetIPodVolName(const AString& volume, bool getIPodName)
{
    iPodVolName = volume;
    if (!getIPodName)
        return;
    AString root = GetIPodRootFolder();
    AString name;
    if (!root.IsEmpty())
        IPodDB::LoadName(&root, &name);
    iPodName = name;
}

AString ASiTunes::GetIPodRootFolder() const
{
    if (iPodName.IsEmpty() && iPodVolName.IsEmpty())
        return AString();
    const AString& volume = iPodVolName.IsEmpty() ? iPodName : iPodVolName;
    return AString::FromUTF8(platform::VolumePath(volume.ToStdString()));
}

std::optional<ScriptDescriptor> ASiTunes::IPodSourceNames()
{
    return Send(kTell + " name of every source whose kind = iPod" + "\n end tell\n");
}

const AString& ASiTunes::GetIPodNameiTunes(int index)
{
    std::optional<ScriptDescriptor> reply = IPodSourceNames();
    if (!reply)
        return iPodName;
    const int n = reply->NumberOfItems();
    if (n == 1) {
        if (std::optional<AString> name = ItemString(reply->ItemAt(1)))
            iPodName = *name;
    } else if (index < 1) {
        AString all;
        for (int i = n; i >= 1; --i) {
            all += ItemString(reply->ItemAt(i)).value_or(AString());
            all += "\n";
        }
        iPodName = all;
    } else if (std::optional<AString> name = ItemString(reply->ItemAt(index > n ? 1 : index))) {
        iPodName = *name;
    }
    return iPodName;
}

bool ASiTunes::ListIPodNames(AString* names)
{
    std::optional<ScriptDescriptor> reply = IPodSourceNames();
    if (!reply)
        return false;
    *names = AString();
    for (int i = 1; i <= reply->NumberOfItems(); ++i) {
        *names += ItemString(reply->ItemAt(i)).value_or(AString());
        *names += "\n";
    }
    return true;
}

const AString& ASiTunes::GetIPodNameVolScan()
{
    std::vector<MountedIPod> pods = MountedIPod::FindAll();
    if (!pods.empty())
        iPodVolName = pods.front().volume;
    return iPodVolName;
}

int ASiTunes::GetIPodPlaylist(int, AString* names)
{
    std::string source;
    if (!Quote(iPodName, &source))
        return kErrITunesRefused;
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " name of every playlist in source \"" + source + "\" \n end tell\n");
    if (!reply)
        return ScriptFailed();
    AString all;
    for (int i = 1; i <= reply->NumberOfItems(); ++i) {
        all += ItemString(reply->ItemAt(i)).value_or(AString());
        all += "\n";
    }
    *names = all;
    return 0;
}

int ASiTunes::IPodSongCount()
{
    std::string playlist;
    if (!PlaylistPiece(true, &playlist))
        return -1;
    std::optional<ScriptDescriptor> reply =
        Send(kTell + " get count of every track of playlist \"" + playlist + "\"\n end tell\n");
    return reply ? reply->Int32Value() : -1;
}
