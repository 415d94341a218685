#include "musiclib/MusicLibrary.h"

#include "musiclib/LibraryFiles.h"
#include "musiclib/LibraryText.h"
#include "musiclib/ScriptInterpreter.h"
#include "musiclib/ScriptParser.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "APlatform/KnownFolders.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int MakeFolder(const std::string& path, std::string& error)
{
    if (IsDirectory(path))
        return 0;
    if (mkdir(path.c_str(), 0755) != 0 && !IsDirectory(path)) {
        error = "cannot make the folder " + path;
        return kErrIO;
    }
    return 0;
}

// What tells one version of each file an iPod's identity is read from from another (a file that is
// not there counts too): the root folder, SysInfo, SysInfoExtended and the database, last. `database`,
// when given, is what a look at the database found a moment ago: a regular file, not a link.
constexpr const char* kIdentityFiles[] = {"", "/iPod_Control/Device/SysInfo",
                                          "/iPod_Control/Device/SysInfoExtended",
                                          "/iPod_Control/iTunes/iTunesDB"};

// The part of a stamp one file gives: its device, inode, size and dates.
constexpr std::size_t kFileStamp = 7;

void AddFileStamp(const struct stat& info, std::vector<std::uint64_t>& stamp)
{
    for (auto value :
         {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_mtim.tv_sec),
          static_cast<std::uint64_t>(info.st_mtim.tv_nsec), static_cast<std::uint64_t>(info.st_ctim.tv_sec),
          static_cast<std::uint64_t>(info.st_ctim.tv_nsec)})
        stamp.push_back(value);
}

std::vector<std::uint64_t> IdentityStamp(const std::string& root, const struct stat* database = nullptr)
{
    std::vector<std::uint64_t> stamp;
    stamp.reserve(std::size(kIdentityFiles) * 7);
    std::string path = root;
    for (const char* relative : kIdentityFiles) {
        struct stat info {};
        if (database && relative == kIdentityFiles[std::size(kIdentityFiles) - 1]) {
            info = *database;
        } else if (path.replace(root.size(), std::string::npos, relative); stat(path.c_str(), &info) != 0) {
            stamp.push_back(0);
            continue;
        }
        AddFileStamp(info, stamp);
    }
    return stamp;
}

// A path that is not empty and is UTF-8 text (plain ASCII needs no decoding to tell).
bool IsUsablePath(const std::string& path)
{
    return !path.empty() && (std::all_of(path.begin(), path.end(), [](char c) { return (c & 0x80) == 0; }) ||
                             !AString::FromUTF8(path).IsEmpty());
}

// Whether `stamp` ends with the stamp of `database`, a database file found a moment ago.
bool EndsWithDatabase(const std::vector<std::uint64_t>& stamp, const struct stat& database)
{
    std::vector<std::uint64_t> tail;
    AddFileStamp(database, tail);
    return stamp.size() >= kFileStamp && std::equal(tail.begin(), tail.end(), stamp.end() - kFileStamp);
}

// Whether `root` is an iPod's folder, holding its database: one call when its folders have their
// usual names (`database` then gets what it found), the search that ignores case otherwise.
bool HoldsIPodDatabase(const std::string& root, struct stat* database, bool* found)
{
    *found = lstat((root + kIdentityFiles[std::size(kIdentityFiles) - 1]).c_str(), database) == 0 &&
             S_ISREG(database->st_mode);
    return *found || IPodDB::IsIPodRoot(AString::FromUTF8(root));
}

} // namespace

bool MusicLibrary::Exists(const std::string& folder)
{
    struct stat info {};
    return stat((folder + "/" + LibraryStore::kFileName).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int MusicLibrary::Open(const std::string& folder, bool create, std::unique_ptr<MusicLibrary>& out,
                       std::string& error)
{
    out.reset();
    if (folder.empty() || folder.front() != '/') {
        error = "the library folder must be an absolute path";
        return kErrInvalidPath;
    }
    const std::string normal = LibrarySource::NormalPath(folder);
    if (!Exists(normal)) {
        if (!create) {
            error = "there is no library in " + normal + " (make one with \"pelorin library init\")";
            return kErrFileNotFound;
        }
        // The folder may be made, but not its parent: a missing parent is a drive that is not there.
        // Only the default folder's parent, ~/Music, is made when the home folder has none.
        const std::string parent = std::filesystem::path(normal).parent_path().string();
        if (!IsDirectory(parent) && normal == platform::HomeFolder() + "/Music/iTunes" &&
            IsDirectory(platform::HomeFolder()))
            MakeFolder(parent, error);
        if (!IsDirectory(parent)) {
            error = "the folder " + parent + " does not exist, so no library is made in it";
            return kErrFileNotFound;
        }
        if (int err = MakeFolder(normal, error); err != 0)
            return err;
    }
    std::unique_ptr<MusicLibrary> library(new MusicLibrary(normal));
    if (int err = library->store.Open(normal + "/" + LibraryStore::kFileName, error); err != 0)
        return err;
    if (int err = MakeFolder(library->GetMusicFolder(), error); err != 0)
        return err;
    if (int err = LibraryFiles::WriteLibraryXml(library->GetXmlPath(), library->GetMusicFolder(), error);
        err != 0)
        return err;
    out = std::move(library);
    return 0;
}

MusicLibrary::~MusicLibrary() { Flush(nullptr); }

int MusicLibrary::AttachedIPods(std::vector<AttachedIPod>& out)
{
    out.clear();
    LibraryStore::Query query =
        store.Prepare("SELECT id, name, volume, identity FROM sources WHERE kind = 'iPod' ORDER BY id");
    if (!query)
        return kErrIO;
    while (true) {
        const int result = query.Step();
        if (result == SQLITE_DONE)
            break;
        if (result != SQLITE_ROW)
            return LibraryStore::CodeFor(result);
        AttachedIPod iPod;
        iPod.id = query.Integer(0);
        iPod.name = query.Text(1);
        iPod.volume = query.Text(2);
        iPod.identity = query.Text(3);
        const std::string root = platform::VolumePath(iPod.volume);
        struct stat database {};
        bool usual = false;
        iPod.mounted =
            IsUsablePath(root) && HoldsIPodDatabase(root, &database, &usual) &&
            (iPod.identity.empty() || IdentityOf(root, usual ? &database : nullptr) == iPod.identity);
        out.push_back(std::move(iPod));
    }
    return 0;
}

std::string MusicLibrary::IdentityOf(const std::string& root, const struct stat* database)
{
    IdentityRead& known = identities[root];
    // The very database file the identity was read with, unwritten since (any write, and another
    // volume or folder at the root, would show in its device, inode, size or dates): the same iPod.
    // Each script asks, so this spares three looks at the iPod's files a script; a store of the
    // database makes the next script look at them all again.
    if (database && !known.stamp.empty() && EndsWithDatabase(known.stamp, *database))
        return known.identity;
    std::vector<std::uint64_t> stamp = IdentityStamp(root, database);
    if (known.stamp.empty() || known.stamp != stamp) {
        AString ipodRoot = AString::FromUTF8(root);
        known.identity = IPodDB::GetIdentity(&ipodRoot).ToStdString();
        // Read from files that changed while they were read: asked again next time.
        known.stamp = IdentityStamp(root) == stamp ? std::move(stamp) : std::vector<std::uint64_t>();
    }
    return known.identity;
}

IPodSource* MusicLibrary::ServeIPod(const AttachedIPod& attached)
{
    const std::string mountPoint = platform::VolumePath(attached.volume);
    // An object a script may still hold is never replaced here (PruneIPods does, between scripts).
    auto found = iPods.find(attached.id);
    if (found != iPods.end())
        return found->second.get();
    return iPods.emplace(attached.id, std::make_unique<IPodSource>(attached.id, mountPoint))
        .first->second.get();
}

int MusicLibrary::Sources(std::vector<MusicSource*>& out)
{
    out.assign(1, &library);
    std::vector<AttachedIPod> listed;
    if (!scriptIPods)
        if (int err = AttachedIPods(listed); err != 0)
            return err;
    for (const AttachedIPod& iPod : scriptIPods ? *scriptIPods : listed)
        if (iPod.mounted)
            out.push_back(ServeIPod(iPod));
    return 0;
}

void MusicLibrary::PruneIPods(const std::vector<AttachedIPod>& attached)
{
    for (auto it = iPods.begin(); it != iPods.end();) {
        bool keep = false;
        for (const AttachedIPod& iPod : attached)
            keep = keep || (iPod.id == it->first && iPod.mounted &&
                            platform::VolumePath(iPod.volume) == it->second->GetMountPoint());
        // An iPod gone from its volume (or detached) is let go; what it held unsaved is written
        // first where that can still be done.
        it = keep ? std::next(it) : iPods.erase(it);
    }
}

int MusicLibrary::Flush(MusicSource* source, bool settle)
{
    int first = 0;
    for (auto& [id, iPod] : iPods) {
        if (source && source != iPod.get())
            continue;
        if (int err = iPod->Flush(settle); err != 0 && first == 0)
            first = err;
    }
    return first;
}

int MusicLibrary::RunScript(std::string_view text, ScriptValue& result, std::string& error)
{
    ScriptProgram program;
    if (int err = ScriptParser::Parse(text, program, error); err != 0)
        return err;
    // Which iPods are attached and mounted is looked at once a script, however often it asks.
    std::vector<AttachedIPod> attached;
    struct Held {
        const std::vector<AttachedIPod>*& list;
        ~Held() { list = nullptr; }
    } held{scriptIPods};
    if (AttachedIPods(attached) == 0) {
        PruneIPods(attached);
        scriptIPods = &attached;
    }
    const int err = ScriptInterpreter(*this).Run(program, result, error);
    // A store that cannot be written (or read) is told with its file and the remedy.
    if (err == kErrLibraryDamaged || err == kErrLibraryReadOnly)
        LibraryStore::Explained(err, folder + "/" + LibraryStore::kFileName, error);
    // Whoever sent the script learns the code too, with the reason (a file and the system's words),
    // as a failure noted on this thread.
    if (err != 0)
        AError::NoteFailure(err, AString::FromUTF8(error));
    return err;
}

std::string MusicLibrary::GetAccount() const { return LibraryFiles::ReadAccount(GetPreferencesPath()); }

int MusicLibrary::SetAccount(const std::string& account, std::string& error)
{
    return LibraryFiles::WriteAccount(GetPreferencesPath(), account, error);
}

int MusicLibrary::AttachIPod(const std::string& name, std::string& error)
{
    // The mounted iPod of that name, else on the volume of that name.
    const std::vector<MountedIPod> mounted = MountedIPod::FindAll();
    const MountedIPod* pod = name.empty() ? nullptr : MountedIPod::Choose(mounted, AString::FromUTF8(name));
    if (!pod) {
        error = "no iPod called \"" + name + "\" is mounted under " + platform::VolumesRoot();
        return kErrObjectNotFound;
    }
    const std::string volume = pod->volume.ToStdString();
    const std::string iPodName = pod->name.IsEmpty() ? volume : pod->name.ToStdString();
    const std::string identity = pod->identity.ToStdString();

    std::vector<AttachedIPod> attached;
    if (int err = AttachedIPods(attached); err != 0) {
        error = store.ErrorText();
        return err;
    }
    for (const AttachedIPod& known : attached) {
        if ((!identity.empty() && known.identity == identity) ||
            (identity.empty() && known.volume == volume)) {
            error = "the iPod \"" + iPodName + "\" is attached already";
            return kErrDuplicate;
        }
    }
    if (int err = store.Begin(true); err != 0) {
        error = "the library is busy: " + store.ErrorText();
        return err;
    }
    LibraryStore::Query taken = store.Prepare("SELECT name FROM sources WHERE name_key = ?1");
    taken.Bind(1, LibraryText::Key(iPodName));
    if (taken.Step() == SQLITE_ROW) {
        error = "a source called \"" + taken.Text(0) + "\" is attached already; rename the iPod first";
        store.Rollback();
        return kErrDuplicateNames;
    }
    LibraryStore::Query insert = store.Prepare(
        "INSERT INTO sources(name, name_key, kind, volume, identity) VALUES(?1, ?2, 'iPod', ?3, ?4)");
    insert.Bind(1, iPodName).Bind(2, LibraryText::Key(iPodName)).Bind(3, volume).Bind(4, identity);
    int result = insert.Step();
    if (result != SQLITE_DONE) {
        error = store.ErrorText();
        store.Rollback();
        return LibraryStore::CodeFor(result);
    }
    if (int err = store.Commit(); err != 0) {
        error = store.ErrorText();
        return err;
    }
    return 0;
}

int MusicLibrary::DetachIPod(const std::string& name, std::string& error)
{
    std::vector<AttachedIPod> attached;
    if (int err = AttachedIPods(attached); err != 0) {
        error = store.ErrorText();
        return err;
    }
    for (const AttachedIPod& iPod : attached) {
        if (!LibraryText::Equal(iPod.name, name) && iPod.volume != name)
            continue;
        if (auto found = iPods.find(iPod.id); found != iPods.end()) {
            if (int err = found->second->Flush(); err != 0) {
                error = "the changes made to \"" + iPod.name + "\" cannot be written back";
                return err;
            }
            iPods.erase(found);
        }
        LibraryStore::Query remove = store.Prepare("DELETE FROM sources WHERE id = ?1 AND kind = 'iPod'");
        remove.Bind(1, iPod.id);
        if (int result = remove.Step(); result != SQLITE_DONE) {
            error = store.ErrorText();
            return LibraryStore::CodeFor(result);
        }
        return 0;
    }
    error = "no iPod called \"" + name + "\" is attached";
    return kErrObjectNotFound;
}
