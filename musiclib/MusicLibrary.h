#pragma once
// MusicLibrary: the embedded music library, kept in one folder (by default ~/Music/iTunes):
//
//   Library.sqlite            the store (LibraryStore): sources, playlists, tracks
//   iTunes Music/             the music folder, where songs copied into the library go
//   iTunes Music Library.xml  names the music folder (LibraryFiles)
//   Preferences.plist         holds the user's store account (LibraryFiles)
//
// Its sources are the library's own (LibrarySource) and every iPod attached to it that is mounted
// now (IPodSource, served from the iPod's own database). Scripts run against it through
// RunScript. One object is used by one thread at a time; several objects (in one process or in
// several) may use the same folder at once.

#include "musiclib/IPodSource.h"
#include "musiclib/LibrarySource.h"
#include "musiclib/LibraryStore.h"
#include "musiclib/ScriptValue.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

class MusicLibrary {
public:
    static constexpr const char* kMusicFolderName = "iTunes Music";
    static constexpr const char* kXmlName = "iTunes Music Library.xml";
    static constexpr const char* kPreferencesName = "Preferences.plist";

    // An iPod the user attached to the library.
    struct AttachedIPod {
        std::int64_t id = 0;
        std::string name;     // its source's name: the iPod's name when it was attached
        std::string volume;   // its volume's folder name under the volumes root
        std::string identity; // what tells it from other iPods; empty when it has none
        bool mounted = false; // mounted now (and the same iPod)
    };

    ~MusicLibrary(); // writes back what iPods hold unsaved

    // True when `folder` holds a library.
    static bool Exists(const std::string& folder);
    // Opens the library in `folder`. With `create`, a folder that holds none is made one (the
    // folder is made when its parent exists; a missing parent, such as a drive that is not
    // mounted, is an error). 0, or an error code with `error` set.
    static int Open(const std::string& folder, bool create, std::unique_ptr<MusicLibrary>& out,
                    std::string& error);

    const std::string& GetFolder() const { return folder; }
    std::string GetMusicFolder() const { return folder + "/" + kMusicFolderName; }
    std::string GetXmlPath() const { return folder + "/" + kXmlName; }
    std::string GetPreferencesPath() const { return folder + "/" + kPreferencesName; }

    LibraryStore& Store() { return store; }
    LibrarySource& Library() { return library; }
    // The library's source, then every attached iPod that is mounted, in the order they were attached.
    int Sources(std::vector<MusicSource*>& out);
    // Writes back the database of `source` (every iPod when null) if it holds unsaved changes;
    // with `settle`, also what an interrupted run left on it (IPodSource::Flush).
    int Flush(MusicSource* source, bool settle = false);

    // Parses and runs a script. 0 and its reply; else an error code and `error` set, nothing changed.
    int RunScript(std::string_view text, ScriptValue& result, std::string& error);

    // The user's store account; empty when none is set.
    std::string GetAccount() const;
    // Sets the account, or clears it with an empty one.
    int SetAccount(const std::string& account, std::string& error);

    int AttachedIPods(std::vector<AttachedIPod>& out);
    // Attaches the mounted iPod whose volume or name is `name`. Refused for an iPod attached
    // already, and for one whose name another source has.
    int AttachIPod(const std::string& name, std::string& error);
    // Detaches the iPod whose source name or volume is `name` (after writing back its changes).
    int DetachIPod(const std::string& name, std::string& error);

private:
    explicit MusicLibrary(std::string libraryFolder) : folder(std::move(libraryFolder)), library(store) {}
    IPodSource* ServeIPod(const AttachedIPod& attached);
    // Lets go of the iPods that are no longer mounted where they were, or attached.
    void PruneIPods(const std::vector<AttachedIPod>& attached);
    // The identity of the iPod mounted at `root` (IPodDB::GetIdentity), read again only when one of
    // the files it comes from (or the folder itself) is no longer the one it was read from: every
    // script asks, and reading it means reading those files. `database`: the database's file as
    // just looked at, when it was.
    std::string IdentityOf(const std::string& root, const struct stat* database = nullptr);

    struct IdentityRead {
        std::vector<std::uint64_t> stamp; // device, inode, size and dates of each file it comes from
        std::string identity;
    };

    std::string folder;
    LibraryStore store;
    LibrarySource library;
    std::map<std::int64_t, std::unique_ptr<IPodSource>> iPods;
    std::map<std::string, IdentityRead> identities;         // by the iPod's root
    const std::vector<AttachedIPod>* scriptIPods = nullptr; // while a script runs: as it began
};
