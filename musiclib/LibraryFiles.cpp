#include "musiclib/LibraryFiles.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "APlatform/Unicode.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <plist/plist.h>

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

// The root dictionary of the property list at `path`; null when it is missing, too large or not
// a property list with a dictionary at its root. `present` (when given) tells whether a file with
// something in it is there, read or not.
Plist ReadDictionary(const std::string& path, bool* present = nullptr)
{
    if (present)
        *present = false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (present)
        *present = size != 0;
    if (size <= 0 || static_cast<std::uint64_t>(size) > LibraryFiles::kMaxPropertyListBytes)
        return nullptr;
    in.seekg(0);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), size))
        return nullptr;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    Plist owned(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return nullptr;
    return owned;
}

int WriteDictionary(const std::string& path, plist_t dictionary, std::string& error)
{
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(dictionary, &xml, &length);
    if (!xml) {
        error = "cannot make the property list " + path;
        return kErrOutOfMemory;
    }
    const AString target = AString::FromUTF8(path);
    const int err = AFile::WriteWholeFileSafely(&target, xml, length);
    plist_to_xml_free(xml);
    if (err != 0)
        error = "cannot write " + path + AError::Message(err);
    return err;
}

bool Unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

} // namespace

std::string LibraryFiles::FolderUrl(const std::string& folder)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string url = "file://localhost";
    for (unsigned char c : folder) {
        if (Unreserved(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    if (url.back() != '/')
        url += '/';
    return url;
}

std::string LibraryFiles::ReadMusicFolderUrl(const std::string& xmlPath)
{
    Plist root = ReadDictionary(xmlPath);
    if (!root)
        return std::string();
    plist_t value = plist_dict_get_item(root.get(), kMusicFolderKey);
    if (!value || plist_get_node_type(value) != PLIST_STRING)
        return std::string();
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(value, &length);
    return text ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

int LibraryFiles::WriteLibraryXml(const std::string& xmlPath, const std::string& musicFolder,
                                  std::string& error)
{
    // What a run killed while writing it left goes, whether it is written now or not.
    const AString target = AString::FromUTF8(xmlPath);
    AFile::RemoveStaleTemporariesOf(&target);
    const std::string url = FolderUrl(musicFolder);
    if (ReadMusicFolderUrl(xmlPath) == url)
        return 0;
    Plist root(plist_new_dict());
    plist_dict_set_item(root.get(), "Major Version", plist_new_uint(1));
    plist_dict_set_item(root.get(), "Minor Version", plist_new_uint(1));
    plist_dict_set_item(root.get(), "Application Version", plist_new_string("7.0"));
    plist_dict_set_item(root.get(), kMusicFolderKey, plist_new_string(url.c_str()));
    return WriteDictionary(xmlPath, root.get(), error);
}

std::vector<std::uint8_t> LibraryFiles::EncodeAccount(const std::string& account)
{
    std::u16string units;
    platform::DecodeUTF8(account, units);
    std::vector<std::uint8_t> data(8, 0);
    data.push_back(static_cast<std::uint8_t>(units.size() & 0xFF));
    data.push_back(static_cast<std::uint8_t>(units.size() >> 8));
    for (char16_t unit : units) {
        data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    data.insert(data.end(), 4, 0);
    return data;
}

std::string LibraryFiles::DecodeAccount(const std::vector<std::uint8_t>& data)
{
    const std::size_t units = data.size() / 2;
    auto unit = [&data](std::size_t i) { return static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8); };
    for (std::size_t at = 1; at < units; ++at) {
        if (unit(at) != u'@' || unit(at - 1) == 0)
            continue;
        std::size_t start = at;
        while (start >= 1 && unit(start - 1) != 0)
            --start;
        // `start` is the length; the account follows it.
        const std::size_t length = unit(start);
        if (length == 0 || start + 1 + length > units)
            return std::string();
        std::u16string account;
        for (std::size_t i = 0; i < length; ++i)
            account += unit(start + 1 + i);
        return platform::EncodeUTF8(account);
    }
    return std::string();
}

std::string LibraryFiles::ReadAccount(const std::string& path)
{
    Plist root = ReadDictionary(path);
    if (!root)
        return std::string();
    plist_t value = plist_dict_get_item(root.get(), kAccountKey);
    if (!value || plist_get_node_type(value) != PLIST_DATA)
        return std::string();
    std::uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(value, &length);
    if (!bytes)
        return std::string();
    return DecodeAccount(std::vector<std::uint8_t>(bytes, bytes + length));
}

int LibraryFiles::WriteAccount(const std::string& path, const std::string& account, std::string& error)
{
    if (!account.empty()) {
        std::u16string units;
        if (!platform::DecodeUTF8(account, units) || units.find(u'@') == std::u16string::npos) {
            error = "a store account is an e-mail address, such as name@example.com";
            return kErrUnknown;
        }
        for (char16_t unit : units) {
            if (unit < 0x20 || unit == 0x7F) {
                error = "a store account cannot hold control characters";
                return kErrUnknown;
            }
        }
        if (units.size() > kMaxAccountLength) {
            error = "a store account is limited to " + std::to_string(kMaxAccountLength) + " characters";
            return kErrUnknown;
        }
    }
    // A file that is there but could not be read whole is never rewritten: its other keys would be
    // lost.
    bool present = false;
    Plist root = ReadDictionary(path, &present);
    if (!root && present) {
        error = path + " cannot be read (larger than " +
                std::to_string(kMaxPropertyListBytes / (1024 * 1024)) +
                " MB, or not a property list holding a dictionary), so it is left as it is";
        return kErrUnknown;
    }
    if (!root)
        root.reset(plist_new_dict());
    if (account.empty()) {
        if (!plist_dict_get_item(root.get(), kAccountKey))
            return 0;
        plist_dict_remove_item(root.get(), kAccountKey);
    } else {
        const std::vector<std::uint8_t> data = EncodeAccount(account);
        plist_dict_set_item(root.get(), kAccountKey,
                            plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    return WriteDictionary(path, root.get(), error);
}
