#include "ACommon/sync/SyncSession.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/CRC32.h"
#include "ACommon/bridge/ASiTunes.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/sources/ADirPod.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/PlaysFoldIn.h"
#include "ACommon/sync/SyncSpace.h"
#include "APlatform/FileSystem.h"
#include "APlatform/KnownFolders.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Tells when the iPod mounted at `mountPoint` has gone: its iPod_Control folder no longer there, or
// no longer on the disk it was on when the run began (unmounted: the mount point left behind belongs
// to the disk below, and whatever is found through it too). One stat call, cheap enough to ask before
// every action.
ASync::SideGoneProc IPodGoneCheck(const std::string& mountPoint)
{
    std::string control;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(mountPoint, error)) {
        std::string name = entry.path().filename().string();
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "ipod_control") {
            control = entry.path().string();
            break;
        }
    }
    struct stat atStart {};
    if (control.empty() || stat(control.c_str(), &atStart) != 0)
        return {};
    const dev_t device = atStart.st_dev;
    return [control, device](int side) {
        if (side != 2)
            return false;
        struct stat now {};
        return stat(control.c_str(), &now) != 0 || now.st_dev != device;
    };
}

constexpr std::size_t kMaxFileNameBytes = 120;
constexpr std::size_t kMaxIdentityBytes = 200;

// True when the folder `inner` lies inside the folder `outer` (full paths without a trailing "/").
bool Inside(const std::string& inner, const std::string& outer)
{
    if (outer == "/")
        return true;
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == '/';
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// A folder's name reduced to letters, digits, "-" and "_", for the name of a pair's state file.
std::string ReadableName(const std::string& folder)
{
    const std::string name = std::filesystem::path(folder).filename().string();
    std::string safe;
    for (char c : name)
        safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    if (safe.size() > 40)
        safe.resize(40);
    return safe.empty() ? std::string("root") : safe;
}

// What wrote a state file, by the mark its record begins with.
enum class StateKind { kMissing, kFiles, kSongs, kOther };

StateKind KindOfStateFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return StateKind::kMissing;
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (!in.read(reinterpret_cast<char*>(bytes), 4))
        return StateKind::kOther;
    const std::uint32_t mark =
        bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    if (mark == ASync::kStateMark)
        return StateKind::kFiles;
    if (mark == ASyncLib::kStateMark)
        return StateKind::kSongs;
    return StateKind::kOther;
}

// A state file worth reading: a file with something in it. (An empty one is what reading a missing
// file used to leave behind.)
bool HoldsState(const AString& path)
{
    std::error_code error;
    const std::string file = path.ToStdString();
    return std::filesystem::is_regular_file(file, error) && std::filesystem::file_size(file, error) > 0;
}

// The identity kept beside a state file; empty when there is none.
AString ReadSavedIdentity(const AString& statePath)
{
    std::ifstream in(SyncSession::IdentityPath(statePath).ToStdString(), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line))
        return AString();
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line.size() > kMaxIdentityBytes ? AString() : AString::FromUTF8(line);
}

// Keeps `identity` beside the state file, after the state file itself was written: a run cut off
// between the two leaves an identity that no longer matches the lists, and lists that do not match
// are dropped rather than read as deletions. An unknown identity removes an older one.
int WriteSavedIdentity(const AString& statePath, const AString& identity)
{
    AString path = SyncSession::IdentityPath(statePath);
    if (identity.IsEmpty())
        return AFile::FileExists(&path) ? AFile::Delete(&path) : 0;
    const std::string text = identity.ToStdString() + "\n";
    return AFile::ReplaceIfChanged(
        &path, [&text](AFile* file) { return file->Write(text.data(), static_cast<unsigned>(text.size())); });
}

AString Described(int err)
{
    AString text;
    text += err;
    AError::AddErrorMsg(&text, err);
    return text;
}

} // namespace

SyncSession::SyncSession() = default;
SyncSession::~SyncSession()
{
    if (stateLock >= 0)
        close(stateLock); // releases the lock
}

bool SyncSession::LockState(const AString& lockFile)
{
    if (stateLock >= 0) {
        close(stateLock);
        stateLock = -1;
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(lockFile.ToStdString()).parent_path(), error);
    const std::string lockPath = lockFile.ToStdString();
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true; // a folder that offers no lock file cannot be shared by two runs either
    // flock locks are dropped by the kernel when their holder dies: a killed run never blocks.
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            stateLock = fd;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            close(fd);
            return true; // no locking on that volume
        }
        usleep(100000);
    }
    close(fd);
    return false;
}

AString SyncSession::StateFolder()
{
    return AString::FromUTF8(platform::ApplicationSupportFolder() + "/Veltrano/Ondrivel");
}

AString SyncSession::SafeFileName(const AString& name)
{
    std::string safe;
    for (unsigned char c : name.ToStdString())
        safe += (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == 0x7F) ? '_' : static_cast<char>(c);
    if (!safe.empty() && safe[0] == '.')
        safe[0] = '_';
    // Long names are cut, at the start of a character.
    if (safe.size() > kMaxFileNameBytes) {
        std::size_t cut = kMaxFileNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
            --cut;
        safe.resize(cut);
    }
    return safe.empty() ? AString("iPod") : AString::FromUTF8(safe);
}

SyncSession::IPodAccess SyncSession::AccessOf(const AString& name, bool withLibrary)
{
    if (!withLibrary || name.IsEmpty())
        return IPodAccess::kThroughDatabase;
    ASiTunes bridge;
    // A library that cannot be asked is not one that serves no iPod: the run goes through it and
    // fails there with the library's reason, never by the other route under another state file.
    AString names;
    if (!bridge.ListIPodNames(&names))
        return IPodAccess::kThroughLibrary;
    // One name per line; "iPod" is not "Jane's iPod".
    for (int start = 0; start < names.GetLength();) {
        int end = names.Find('\n', start);
        if (end < 0)
            end = names.GetLength();
        if (names.Mid(start, end - start) == name)
            return IPodAccess::kThroughLibrary;
        start = end + 1;
    }
    return IPodAccess::kThroughDatabase;
}

AString SyncSession::IPodStatePath(const AString& name, IPodAccess access)
{
    AString path = StateFolder();
    path += "/";
    path += SafeFileName(name);
    if (access == IPodAccess::kThroughDatabase)
        path += "_PODDB";
    path += ".snc";
    return path;
}

AString SyncSession::DefaultStatePath() { return StateFolder() + "/Default.snc"; }

AString SyncSession::FolderPairStatePath(const AString& left, const AString& right)
{
    const std::string leftText = left.ToStdString(), rightText = right.ToStdString();
    CRC32 crc;
    crc.Update(reinterpret_cast<const unsigned char*>(leftText.data()), static_cast<int>(leftText.size()));
    const unsigned char separator = 0;
    crc.Update(&separator, 1);
    crc.Update(reinterpret_cast<const unsigned char*>(rightText.data()), static_cast<int>(rightText.size()));
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x", crc.GetValue());
    return StateFolder() + AString::FromUTF8("/folders-" + ReadableName(leftText) + "-" +
                                             ReadableName(rightText) + "-" + hash + ".state");
}

AString SyncSession::IdentityPath(const AString& statePath) { return statePath + ".ipod"; }

ASync* SyncSession::GetSync() const { return group ? group->GetSync(0) : single.get(); }

std::vector<SyncSession::Notice> SyncSession::TakeNotices()
{
    std::vector<Notice> taken;
    taken.swap(notices);
    return taken;
}

void SyncSession::Say(bool warning, const AString& text) { notices.push_back({warning, text}); }

int SyncSession::BringBackPlays(AProgress& progress)
{
    const AString name = ipod->name.IsEmpty() ? AString("the iPod") : ipod->name;
    auto log = [&](const AString& line, bool warning) {
        Say(warning, line);
        progress.AddToLog(line + "\n", 1);
    };
    PlaysFoldIn::Result result;
    if (int err = PlaysFoldIn::Run(ipod->mountPoint + "/", name, log, &result); err != 0) {
        AString line("Could not bring back what was played on ");
        line += name;
        line += ": ";
        line += err;
        AError::AddErrorMsg(&line, err);
        line += " Nothing was synced, so that those plays are not lost; the next sync tries again.";
        log(line, true);
        return err;
    }
    if (result.songs > 0 || result.playlists > 0 || result.notFound > 0)
        log(PlaysFoldIn::Summary(result, name), false);
    return 0;
}

int SyncSession::OpenIPod(int leftType, const AString& leftRoot, const MountedIPod& pod, const AString& path,
                          IPodAccess access)
{
    group.reset();
    single.reset();
    ipod.reset();
    stateUnreadable = false;
    if (!pod.databaseRead) {
        AString text = AString("The database of the iPod on ") + pod.volume + " (" + pod.mountPoint +
                       "/iPod_Control/iTunes/iTunesDB) cannot be read";
        if (!pod.problem.IsEmpty())
            text += AString(" (") + pod.problem + ")";
        Say(true, text + "; nothing was changed.");
        return kErrUnknown;
    }
    if (pod.readOnly) {
        Say(true, AString("The iPod \"") + pod.name + "\" (" + pod.mountPoint +
                      ") is mounted read-only, so its music cannot be changed. An iPod formatted as "
                      "journaled HFS+ must be mounted writable (or reformatted as FAT) before Pelorin can "
                      "sync it.");
        return kErrNotSupported;
    }
    if (!pod.Supported()) {
        Say(true, AString("The iPod \"") + pod.name + "\" (" + pod.mountPoint + ") cannot be synced. " +
                      pod.signingProblems.front() + " Nothing was changed.");
        return kErrNotSupported;
    }
    std::error_code error;
    const std::string ipodPath = std::filesystem::canonical(pod.mountPoint.ToStdString(), error).string();
    const std::string left = WithoutTrailingSlash(leftRoot.ToStdString());
    // The library's root is a name, not a folder; only a folder can lie inside the iPod.
    const bool leftIsFolder = !left.empty() && left[0] == '/';
    if (error || (leftIsFolder && (left == ipodPath || Inside(left, ipodPath) || Inside(ipodPath, left)))) {
        Say(true, AString::FromUTF8("The folder " + left + " and the iPod " + pod.mountPoint.ToStdString() +
                                    " must not lie inside one another; a sync would copy songs into "
                                    "themselves."));
        return kErrInvalidPath;
    }

    statePath = path;
    ipod = pod;
    leftName = leftType == ADir::kTypeITunes ? AString("the Library") : AString::FromUTF8(left);
    rightName = pod.name.IsEmpty() ? pod.volume : pod.name;
    const int rightType = access == IPodAccess::kThroughLibrary ? ADir::kTypeIPod : ADir::kTypeIPodDB;
    if (int err = LoadGroup(leftType, rightType); err != 0) {
        group.reset();
        return err;
    }
    ASync* sync = GetSync();
    if (rightType == ADir::kTypeIPod) {
        // The iPod is the library's source of its name, on its volume.
        for (ADir* side : {sync->GetDir2(), sync->GetSavedDir2()})
            static_cast<ADirPod*>(side)->ChooseIPod(pod.volume, pod.name);
    }
    AString leftSide = leftIsFolder ? AString::FromUTF8(left + "/") : leftRoot;
    AString ipodRoot = rightType == ADir::kTypeIPod ? pod.mountPoint : AString::FromUTF8(ipodPath + "/");
    DropForeignIPodLists(leftSide);
    sync->SetRootPath1(&leftSide, nullptr, 0);
    sync->SetRootPath2(&ipodRoot, nullptr, 0);
    return 0;
}

void SyncSession::SetPlaylists(const AString& left, const AString& right)
{
    auto* sync = dynamic_cast<ASyncLib*>(GetSync());
    if (!sync)
        return;
    if (sync->GetDir1()->GetType() == ADir::kTypeITunes) {
        auto* library = static_cast<ADirTunes*>(sync->GetDir1());
        AString name = left.IsEmpty() ? library->Bridge().GetLibName() : left;
        if (name.IsEmpty())
            name = "Library";
        sync->SetPlaylist1(&name);
    }
    if (sync->GetDir2()->GetType() == ADir::kTypeIPod) {
        AString name = right.IsEmpty() ? static_cast<ADirPod*>(sync->GetDir2())->GetIPodName() : right;
        sync->SetPlaylist2(&name);
    }
}

int SyncSession::OpenFolders(const AString& left, const AString& right, bool songs, const AString& path)
{
    group.reset();
    single.reset();
    ipod.reset();
    stateUnreadable = false;
    const std::string leftText = WithoutTrailingSlash(left.ToStdString());
    const std::string rightText = WithoutTrailingSlash(right.ToStdString());
    if (leftText == rightText) {
        Say(true, AString::FromUTF8("The two folders are the same folder: " + leftText + "."));
        return kErrInvalidPath;
    }
    if (Inside(leftText, rightText) || Inside(rightText, leftText)) {
        Say(true, AString::FromUTF8("One folder lies inside the other (" + leftText + ", " + rightText +
                                    "); a sync would copy a folder into itself."));
        return kErrInvalidPath;
    }
    statePath = path;
    leftName = AString::FromUTF8(leftText);
    rightName = AString::FromUTF8(rightText);
    // The pair of folders is locked, whatever state file a run keeps: two runs on one pair with
    // different state files would still mix their changes.
    const AString lockFile = FolderPairStatePath(leftName, rightName) + ".lock";
    if (!LockState(lockFile)) {
        Say(true, AString("Another run on these folders is under way (it holds ") + lockFile +
                      "); this one is refused so that the two do not mix. Try again once it has finished.");
        return kErrBusy;
    }
    LoadSingle(songs);
    AString leftRoot = AString::FromUTF8(leftText + "/");
    AString rightRoot = AString::FromUTF8(rightText + "/");
    DropForeignFolderLists(leftRoot, rightRoot);
    // Another volume mounted where the last one was (a second USB stick) holds other files: its
    // lists would read as deletions.
    folderIdentity =
        AString::FromUTF8(platform::FolderIdentity(leftText) + " | " + platform::FolderIdentity(rightText));
    const AString savedIdentity = ReadSavedIdentity(statePath);
    if (!savedIdentity.IsEmpty() && savedIdentity != folderIdentity &&
        (single->GetSavedDir1()->HasRecords() || single->GetSavedDir2()->HasRecords())) {
        Say(false, AString("The lists saved by the last synchronize run belong to other folders that were "
                           "mounted at the same places (") +
                       savedIdentity + ", now " + folderIdentity +
                       "); they are dropped, so this run carries no deletions over.");
        single->GetSavedDir1()->DeleteAll();
        single->GetSavedDir2()->DeleteAll();
    }
    single->SetRootPath1(&leftRoot, nullptr, 0);
    single->SetRootPath2(&rightRoot, nullptr, 0);
    return 0;
}

int SyncSession::LoadGroup(int leftType, int rightType)
{
    group = std::make_unique<ASyncGroup>();
    SayIfNoStateIn();
    if (HoldsState(statePath)) {
        if (int err = group->ReadSyncState(&statePath); err != 0) {
            Say(true, AString("The state file ") + statePath + " cannot be read (" + Described(err) +
                          "); this run starts from fresh settings. The file is kept as " + statePath +
                          ".bad when the new state is written.");
            stateUnreadable = true;
            group = std::make_unique<ASyncGroup>();
        }
    }
    if (group->NumSyncs() == 0)
        group->AddASyncLib(leftType, rightType);
    auto* sync = dynamic_cast<ASyncLib*>(group->GetSync(0));
    if (!sync) {
        Say(true, AString("The state file ") + statePath +
                      " holds no song sync; this run starts from fresh settings and rewrites it.");
        group = std::make_unique<ASyncGroup>();
        sync = group->AddASyncLib(leftType, rightType);
    }
    // The same iPod's sync may have run from the library, or from a folder: this run keeps its
    // settings with the sides it has now.
    if (sync->GetDir1()->GetType() != leftType || sync->GetDir2()->GetType() != rightType)
        return sync->SetTypes(leftType, rightType);
    return 0;
}

void SyncSession::LoadSingle(bool songs)
{
    auto fresh = [songs]() -> std::unique_ptr<ASync> {
        if (songs)
            return std::make_unique<ASyncLib>(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
        return std::make_unique<ASync>();
    };
    single = fresh();
    SayIfNoStateIn();
    if (!HoldsState(statePath))
        return;
    // A sync of songs keeps song lists and settings, one of plain folders file lists: a state file
    // of the other kind is no use to this run.
    const StateKind kind = KindOfStateFile(statePath.ToStdString());
    if (kind == (songs ? StateKind::kFiles : StateKind::kSongs)) {
        Say(true, AString("The state file ") + statePath + " was written by a sync of " +
                      (songs ? "plain folders, and this is a sync of songs"
                             : "songs, and this is a sync of "
                               "plain folders") +
                      "; this run starts from fresh settings and rewrites it.");
        return;
    }
    AFile file;
    int err = file.Open(&statePath, 1);
    if (err == 0)
        err = single->ReadState(&file);
    if (err != 0) {
        Say(true, AString("The state file ") + statePath + " cannot be read (" + Described(err) +
                      "); this run starts from fresh settings. The file is kept as " + statePath +
                      ".bad when the new state is written.");
        stateUnreadable = true;
        single = fresh();
    }
}

// Lists saved by the last synchronize run of another folder or another iPod would read as
// deletions against this run's sides. Two iPods of the same name are told apart by their
// identities, when both are known.
void SyncSession::DropForeignIPodLists(const AString& leftRoot)
{
    ASync* sync = GetSync();
    ADir* savedLeft = sync->GetSavedDir1();
    ADir* savedIPod = sync->GetSavedDir2();
    if (!savedLeft->HasRecords() && !savedIPod->HasRecords())
        return;
    AString savedName;
    if (savedIPod->GetType() == ADir::kTypeIPod)
        savedName = static_cast<ADirPod*>(savedIPod)->GetIPodName();
    else
        static_cast<ADirPodDB*>(savedIPod)->GetIPodName(savedName);
    const AString savedIdentity = ReadSavedIdentity(statePath);
    const bool sameLeft = *savedLeft->GetRootPath() == leftRoot;
    const bool sameName = savedName == ipod->name;
    const bool sameIdentity =
        ipod->identity.IsEmpty() || savedIdentity.IsEmpty() || ipod->identity == savedIdentity;
    if (sameLeft && sameName && sameIdentity)
        return;
    auto bare = [](const AString& root) {
        return AString::FromUTF8(WithoutTrailingSlash(root.ToStdString()));
    };
    AString whose;
    if (!sameLeft)
        whose = AString("the folder ") + bare(*savedLeft->GetRootPath()) + " (not " + bare(leftRoot) + ")";
    if (!sameName || !sameIdentity) {
        whose += AString(whose.IsEmpty() ? "" : " and ") + "the iPod \"" + savedName + "\"";
        if (!sameName)
            whose += AString(" (not \"") + ipod->name + "\")";
        if (!sameIdentity)
            whose += AString(" with ") + savedIdentity + " (this one has " + ipod->identity + ")";
    }
    Say(false, AString("The lists saved by the last synchronize run belong to ") + whose +
                   "; they are dropped, so this run carries no deletions over.");
    savedLeft->DeleteAll();
    savedIPod->DeleteAll();
}

void SyncSession::SayIfNoStateIn()
{
    std::error_code error;
    const std::string path = statePath.ToStdString();
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)) || HoldsState(statePath))
        return;
    const bool folder = std::filesystem::is_directory(path, error);
    Say(true, AString("The state file ") + statePath + " cannot be read (" +
                  (folder ? "it is a folder" : "it is empty") + "); this run starts from fresh settings" +
                  (folder ? ", and its state cannot be kept there." : "."));
}

void SyncSession::DropForeignFolderLists(const AString& leftRoot, const AString& rightRoot)
{
    ADir* savedLeft = single->GetSavedDir1();
    ADir* savedRight = single->GetSavedDir2();
    if (*savedLeft->GetRootPath() == leftRoot && *savedRight->GetRootPath() == rightRoot)
        return;
    // (A state file given for another pair, or the sides swapped.)
    if (savedLeft->HasRecords() || savedRight->HasRecords())
        Say(false, AString("The lists saved by the last synchronize run belong to other folders; they are "
                           "dropped, so this run carries no deletions over."));
    savedLeft->DeleteAll();
    savedRight->DeleteAll();
}

void SyncSession::Apply(const Settings& given)
{
    settings = given;
    ASync* sync = GetSync();
    if (!sync)
        return;
    sync->SetAutoAction(settings.autoAction);
    sync->SetDestDeletes(settings.destDeletes ? 1 : 0);
    sync->SetStopOnErr(settings.stopOnError ? 1 : 0);
    sync->SetLogOnly(settings.noFolderChanges ? 1 : 0);
    sync->SetVerboseLog(settings.verbose ? 1 : 0);
    sync->SetShowActionsList(settings.review ? 1 : 0);
    if (settings.resetAnswers)
        sync->ResetAlertSettings();
    if (auto* songs = dynamic_cast<ASyncLib*>(sync)) {
        // A change of what tells songs apart drops the saved lists (their paths no longer compare).
        songs->SetGenreRelevantOnDupSongCompare(settings.genreRelevant ? 1 : 0);
        songs->SetAlbumRelevantOnDupSongCompare(settings.albumRelevant ? 1 : 0);
        songs->SetFileTypeRelevantOnDupSongCompare(settings.fileTypeRelevant ? 1 : 0);
        songs->SetDontDupSongs(settings.dontDupSongs ? 1 : 0);
        songs->SetMoveInsteadOfDelete(settings.moveInsteadOfDelete ? 1 : 0);
        if (settings.aacKbps)
            songs->SetAACKbps(*settings.aacKbps);
        if (settings.alwaysAAC)
            songs->SetAlwaysAAC(*settings.alwaysAAC ? 1 : 0);
    } else {
        // Plain files a sync removes or replaces after a change of their own go to the Trash.
        for (ADir* side : {sync->GetDir1(), sync->GetDir2()})
            side->SetMoveInsteadOfDelete(settings.moveInsteadOfDelete ? 1 : 0);
    }
}

int SyncSession::WriteState()
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(statePath.ToStdString()).parent_path(), error);
    if (group)
        return group->WriteSyncState(&statePath);
    return AFile::ReplaceIfChanged(&statePath, [this](AFile* file) { return single->WriteState(file); });
}

int SyncSession::SaveState(bool* listsLeftOut)
{
    if (listsLeftOut)
        *listsLeftOut = false;
    ASync* sync = GetSync();
    if (!sync)
        return kErrObjectNotFound;
    if (stateUnreadable) {
        AString kept = statePath + ".bad";
        if (AFile::FileExists(&statePath) && AFile::Copy(&statePath, &kept) != 0)
            Say(true, AString("The unreadable state file ") + statePath + " could not be kept as " + kept +
                          "; it is replaced.");
        stateUnreadable = false;
    }
    int err = WriteState();
    if (err == kErrAddSong) {
        // A path in the lists is longer than the state file holds. Without the lists the settings
        // and answers are still kept, and the next run takes every file for new (nothing is
        // deleted on the strength of a list); keeping the earlier file instead would leave lists
        // behind that no longer match the folders, and those turn files added since into deletions.
        for (ADir* dir : {sync->GetDir1(), sync->GetDir2(), sync->GetSavedDir1(), sync->GetSavedDir2()})
            if (dir)
                dir->DeleteAll();
        err = WriteState();
        if (err == 0) {
            if (listsLeftOut)
                *listsLeftOut = true;
            Say(true, AString("The state file ") + statePath +
                          " was written without the lists of files: a path in them is longer than the 1023 "
                          "characters it can hold, so the next synchronize run carries no deletions over.");
        }
    }
    if (err == kErrAddSong)
        Say(true, AString("The state file ") + statePath +
                      " cannot be written: a filter in it is longer than the 1023 characters it can hold; "
                      "the earlier state file, if any, is kept.");
    else if (err != 0)
        Say(true, AString("The state file ") + statePath + " cannot be written (" + Described(err) + ").");
    if (err == 0 && !ipod && single && !folderIdentity.IsEmpty())
        err = WriteSavedIdentity(statePath, folderIdentity);
    if (err == 0 && ipod) {
        err = WriteSavedIdentity(statePath, ipod->identity);
        if (err != 0)
            Say(true, AString("The identity of the iPod cannot be written beside the state file, in ") +
                          IdentityPath(statePath) + " (" + Described(err) + ").");
    }
    return err;
}

SyncSession::Outcome SyncSession::Run(CancelProc cancel, ASync::ActionsListProc review)
{
    Outcome outcome;
    ASync* sync = GetSync();
    if (!sync) {
        outcome.result = kErrObjectNotFound;
        return outcome;
    }
    sync->SetActionsListDlogProc(review);
    const int replaceAnswer = sync->GetReplaceAnswer();
    const int replaceNewerAnswer = sync->GetReplaceNewerAnswer();
    const int deleteAnswer = sync->GetDeleteAnswer();
    if (settings.answersForThisRunOnly)
        sync->ResetAlertSettings();
    sync->SetPlanOnly(settings.dryRun);
    // Removed songs are said to be in "Removed Files" only when files were moved there (a song
    // taken out of a playlist, or whose file lies outside the music folder, keeps its file).
    auto movedCount = [sync] {
        int moved = 0;
        for (const ADir* dir : {sync->GetDir1(), sync->GetDir2()})
            moved += dir ? dir->GetMovedCount() : 0;
        return moved;
    };
    const int movedBefore = movedCount();
    // What was listened to on the iPod comes into the library before the sync compares the two. A
    // run that could not bring it back stops there: its store would set the iPod's records aside,
    // and the library would never have those plays.
    int broughtBack = 0;
    if (!settings.dryRun && ipod && sync->GetDir1() && sync->GetDir1()->GetType() == ADir::kTypeITunes)
        broughtBack = BringBackPlays(*sync->GetProgress());
    sync->SetSideNames(leftName, rightName);
    const ASync::SideGoneProc ipodGone = ipod ? IPodGoneCheck(ipod->mountPoint.ToStdString()) : nullptr;
    sync->SetSideGoneProc(ipodGone);
    if (broughtBack != 0)
        outcome.result = broughtBack;
    else
        outcome.result = group ? group->DoSync(cancel, 0) : sync->DoSync(cancel);
    sync->SetSideGoneProc(nullptr);
    // A run stopped by the iPod going away (noticed by the run, or by the front end, which then
    // cancels it) says so, whatever the last action made of it.
    const bool disconnected = sync->GetGoneSide() == 2 || (outcome.result != 0 && ipodGone && ipodGone(2));
    if (disconnected)
        outcome.result = kErrDisconnected;
    sync->SetPlanOnly(false);
    if (settings.answersForThisRunOnly)
        sync->SetRememberedAnswers(replaceAnswer, replaceNewerAnswer, deleteAnswer);

    if (settings.dryRun) {
        outcome.plan = ActionReview::Snapshot(*sync);
        // What the plan would do to the room on each side it writes to.
        for (int side = 1; side <= 2; ++side) {
            const SyncSpace::Change change = SyncSpace::PlannedChange(*sync, side);
            if (change.adds == 0 && change.frees == 0)
                continue;
            const SyncSpace::Volume volume = SyncSpace::Measure(sync->VolumePathOfSide(side));
            outcome.space += AString("Space on ") + sync->SideName(side) + ": " +
                             SyncSpace::Describe(volume, &change) +
                             (SyncSpace::Fits(volume, change) ? "." : "; the sync would be refused.") + "\n";
        }
        sync->ClearSyncActions();
        outcome.summary = "Dry run: ";
        outcome.summary += static_cast<int>(outcome.plan.size());
        outcome.summary += outcome.plan.size() == 1 ? " action planned" : " actions planned";
        outcome.summary += ", nothing changed.";
    } else {
        // A pair of folders whose run was cancelled or refused keeps the state it started with:
        // its saved lists still tell what changed since the last complete run.
        if ((group || outcome.result != kErrUserCancel) && broughtBack == 0)
            outcome.stateError = SaveState(&outcome.listsLeftOut);
        const SyncTally& tally = sync->GetTally();
        // An iPod that updates itself from a library would undo the sync when next it meets one.
        // Set once the run is through and has synced, so that a run cancelled or failed before it
        // changed anything leaves the iPod's settings as they were.
        const int direction = sync->GetAutoAction();
        const bool ipodReceives = direction == ASync::kLeftToRight || direction == ASync::kTwoWay;
        if (ipod && ipodReceives && !disconnected && ipod->autoUpdate.value_or(false) &&
            (outcome.result == 0 || tally.Changes() > 0)) {
            AString root = ipod->mountPoint;
            if (IPodDB::SetIPodFlag(&root) == 0) {
                outcome.setToManual = true;
                ipod->autoUpdate = false;
                Say(false, AString("The iPod \"") + ipod->name +
                               "\" was set to update itself automatically from a library; it is now set to "
                               "manual updating, so that the songs synced here stay.");
            }
        }
        const auto* songs = dynamic_cast<const ASyncLib*>(sync);
        // A sync switched off does not run at all, and its tally is that of an earlier run.
        if (disconnected) {
            const int copied = tally.Copied(1) + tally.Copied(2);
            outcome.summary = "The iPod was disconnected; ";
            outcome.summary += copied;
            outcome.summary +=
                copied == 1 ? " song was copied before that." : " songs were copied before that.";
        } else if (direction == ASync::kDoNotSync)
            outcome.summary = "Nothing was synchronized: the sync type is \"Do Not Synchronize\".";
        else
            // A state that could not be written is a failure of the run too (its lists are lost).
            outcome.summary =
                tally.Summary(leftName, rightName, songs != nullptr,
                              songs && songs->GetMoveInsteadOfDelete() && movedCount() > movedBefore,
                              outcome.result != 0 ? outcome.result : outcome.stateError);
        if (const int differ = sync->GetSameDateDifferences();
            differ > 0 && direction != ASync::kDoNotSync && !disconnected) {
            outcome.summary += ' ';
            outcome.summary += differ;
            outcome.summary += differ == 1
                                   ? " file differs but has the same date: not synced; see --review."
                                   : " files differ but have the same date: not synced; see --review.";
        }
        if (const int tags = sync->GetTagDifferences();
            tags > 0 && direction != ASync::kDoNotSync && !disconnected) {
            outcome.summary += ' ';
            outcome.summary += tags;
            outcome.summary +=
                tags == 1 ? " song has the same music on both sides but other tags, changed on both: "
                            "not synced; see --review."
                          : " songs have the same music on both sides but other tags, changed on "
                            "both: not synced; see --review.";
        }
    }
    AProgress* progress = sync->GetProgress();
    progress->AddDateToLog(0, 0);
    progress->AddToLog(outcome.summary + "\n", 1);
    return outcome;
}
