#include "ACommon/itunesdb/IPodIdentity.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodInfo.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of `key` in the dictionary `dict`, the key matched without regard to case.
plist_t Item(plist_t dict, const char* key)
{
    const std::string wanted = Lower(key);
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    plist_t found = nullptr;
    for (;;) {
        char* name = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &name, &value);
        if (!name)
            break;
        const bool match = Lower(name) == wanted;
        std::free(name);
        if (match) {
            found = value;
            break;
        }
    }
    std::free(iter);
    return found;
}

std::string StringOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::string();
    // The pointer and its length, not plist_get_string_val: that one aborts on a string with a
    // NUL byte in it, which a damaged or hostile file may hold.
    std::uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    return value ? std::string(value, length) : std::string();
}

// An integer, or a string that holds one (some writers use either).
int IntegerOf(plist_t node)
{
    if (!node)
        return -1;
    if (plist_get_node_type(node) == PLIST_UINT) {
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return value > 1000000 ? -1 : static_cast<int>(value);
    }
    const std::string text = StringOf(node);
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(text);
}

std::string FirstLine(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

} // namespace

AString IPodIdentity::NormalizeGuid(const AString& value)
{
    std::string text = value.ToStdString();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.erase(0, 2);
    if (text.empty() || text.size() > 32)
        return AString();
    bool nonZero = false;
    for (char& c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return AString();
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        nonZero = nonZero || c != '0';
    }
    return nonZero ? AString::FromUTF8(text) : AString();
}

bool IPodIdentity::ParseExtended(const std::string& bytes, Extended* out)
{
    *out = Extended();
    // Files written by the tool that asks the iPod over USB may carry bytes before the XML.
    const std::size_t start = bytes.find("<?xml");
    const std::string_view body = start == std::string::npos || bytes.compare(0, 6, "bplist") == 0
                                      ? std::string_view(bytes)
                                      : std::string_view(bytes).substr(start);
    if (body.empty() || body.size() > (16u << 20))
        return false;
    plist_t raw = nullptr;
    plist_from_memory(body.data(), static_cast<std::uint32_t>(body.size()), &raw);
    Plist root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return false;
    out->guid = NormalizeGuid(AString::FromUTF8(StringOf(Item(root.get(), "FireWireGUID"))));
    out->modelNumber = AString::FromUTF8(StringOf(Item(root.get(), "ModelNumStr")));
    out->modelNumber.Trim();
    out->dbVersion = IntegerOf(Item(root.get(), "DBVersion"));
    out->familyId = IntegerOf(Item(root.get(), "FamilyID"));
    out->serialNumber = AString::FromUTF8(StringOf(Item(root.get(), "SerialNumber")));
    plist_t art = Item(root.get(), "AlbumArt");
    if (art && plist_get_node_type(art) == PLIST_ARRAY) {
        const std::uint32_t count = std::min<std::uint32_t>(plist_array_get_size(art), 64);
        for (std::uint32_t i = 0; i < count; ++i) {
            plist_t entry = plist_array_get_item(art, i);
            if (!entry || plist_get_node_type(entry) != PLIST_DICT)
                continue;
            const int id = IntegerOf(Item(entry, "FormatId"));
            const int width = IntegerOf(Item(entry, "RenderWidth"));
            const int height = IntegerOf(Item(entry, "RenderHeight"));
            // A picture larger than any screen is no cover format.
            if (id <= 0 || width <= 0 || height <= 0 || width > 2048 || height > 2048)
                continue;
            out->artworkFormats.push_back(
                ArtworkThumbnail::Format{static_cast<std::uint32_t>(id), width, height});
        }
    }
    return true;
}

std::string IPodIdentity::MakeExtended(const IPodInfo& info)
{
    Plist dict(plist_new_dict());
    if (!info.firewireGuid.IsEmpty())
        plist_dict_set_item(dict.get(), "FireWireGUID", plist_new_string(info.firewireGuid.CStr()));
    if (!info.model.IsEmpty())
        plist_dict_set_item(dict.get(), "ModelNumStr",
                            plist_new_string(("M" + info.model.ToStdString()).c_str()));
    if (info.scheme >= 0) {
        const int version = info.scheme == IPodInfo::kSchemeHash58   ? 3
                            : info.scheme == IPodInfo::kSchemeHash72 ? 4
                            : info.scheme == IPodInfo::kSchemeHashAB ? 5
                                                                     : 2;
        plist_dict_set_item(dict.get(), "DBVersion", plist_new_uint(static_cast<std::uint64_t>(version)));
    }
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(dict.get(), &xml, &length);
    std::string text = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    return text;
}

int IPodIdentity::WriteExtendedFile(const AString& root, const IPodInfo& info)
{
    const AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/Device/SysInfoExtended");
    if (AFile::FileExists(&path))
        return kErrNotSupported;
    if (info.firewireGuid.IsEmpty())
        return kErrUnknown;
    const AString folder = IPodDB::ResolveIPodPath(root, "iPod_Control/Device");
    if (!AFile::DirExists(&folder))
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;
    const std::string text = MakeExtended(info);
    return AFile::WriteWholeFileSafely(&path, text.data(), text.size());
}

std::string IPodIdentity::SysfsRoot()
{
    const char* fake = std::getenv("PELORIN_SYSFS");
    return fake && *fake ? fake : "/sys";
}

AString IPodIdentity::UsbSerial(const AString& mountPoint, const std::string& sysfsRoot)
{
    struct stat info {};
    if (mountPoint.IsEmpty() || stat(mountPoint.CStr(), &info) != 0)
        return AString();
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path devices = fs::weakly_canonical(fs::path(sysfsRoot) / "devices", error);
    const fs::path link = fs::path(sysfsRoot) / "dev" / "block" /
                          (std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev)));
    fs::path at = fs::canonical(link, error);
    if (error)
        return AString();
    // Up from the partition through the disk and the SCSI host to the USB device, which alone has
    // both a vendor id and a serial number.
    for (; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        if (!devices.empty() && at.string().rfind(devices.string(), 0) != 0)
            break;
        if (!fs::exists(at / "idVendor", error) || !fs::exists(at / "serial", error))
            continue;
        if (Lower(FirstLine(at / "idVendor")) != "05ac")
            return AString(); // not an Apple device: its serial number is no GUID
        return NormalizeGuid(AString::FromUTF8(FirstLine(at / "serial")));
    }
    return AString();
}
