#pragma once
// LibraryFiles: the files the library keeps beside its database for those who read them rather
// than run scripts, each written safely (a temporary file beside it, flushed, renamed over it):
//
//   iTunes Music Library.xml  an XML property list whose "Music Folder" key is the music folder
//                             as a file://localhost/ URL (percent-encoded UTF-8, ending in "/")
//   Preferences.plist         a property list whose data value "pref:129:Preferences" holds the
//                             user's store account: 8 zero bytes, the account's length in UTF-16
//                             units (16 bits, little-endian), the account in UTF-16LE, 4 zero bytes.
//                             A reader finds the account by its "@" and steps back to the length.
//                             No key: no account is set.

#include <cstdint>
#include <string>
#include <vector>

class LibraryFiles {
public:
    static constexpr const char* kMusicFolderKey = "Music Folder";
    static constexpr const char* kAccountKey = "pref:129:Preferences";
    static constexpr std::size_t kMaxPropertyListBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxAccountLength = 255;

    // The URL of a folder: "file://localhost" + the path percent-encoded + "/".
    static std::string FolderUrl(const std::string& folder);
    // The "Music Folder" value of the XML at `xmlPath`; empty when the file or key is missing.
    static std::string ReadMusicFolderUrl(const std::string& xmlPath);
    // Writes the XML unless it names `musicFolder` already. 0, or an error code with `error` set.
    static int WriteLibraryXml(const std::string& xmlPath, const std::string& musicFolder,
                               std::string& error);

    // The store account kept in the preferences at `path`; empty when none is set. The other
    // keys of the file are left as they are when it is written.
    static std::string ReadAccount(const std::string& path);
    // Sets the account (an e-mail address), or with an empty one removes it.
    static int WriteAccount(const std::string& path, const std::string& account, std::string& error);

    // The layout of the account data, both ways. Decoding is bounded at every step; data without an
    // account gives the empty string.
    static std::vector<std::uint8_t> EncodeAccount(const std::string& account);
    static std::string DecodeAccount(const std::vector<std::uint8_t>& data);
};
