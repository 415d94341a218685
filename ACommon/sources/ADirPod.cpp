#include "ACommon/sources/ADirPod.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodRecovery.h"

namespace {

const char* const kVideoTypes = "m4v:mp4:ipg:";

} // namespace

ADirPod::ADirPod(AProgress* reporter) : ADirTunes(reporter)
{
    rootPath = AString();
    bridge->SetPlaylistName(AString());
    // The first mounted iPod, with its main playlist.
    const AString volume = bridge->GetIPodNameVolScan();
    if (!volume.IsEmpty())
        SetIPodVolName(volume, true);
}

ADirPod::~ADirPod() = default;

int ADirPod::GetType() const { return kTypeIPod; }

void ADirPod::SetIPodVolName(const AString& volume, bool loadName)
{
    bridge->SetIPodVolName(volume, loadName);
    if (loadName && GetPlaylist().IsEmpty())
        bridge->SetPlaylistName(bridge->GetIPodName());
    if (volume.IsEmpty())
        return;
    AString root = bridge->GetIPodRootFolder();
    IPodInfo info;
    if (IPodDB::GetIPodInfo(&root, &info) == 0 && IPodInfo::PlaysVideo(info.family) &&
        typeIncludeFilter.Find(kVideoTypes, 0) < 0)
        typeIncludeFilter += kVideoTypes;
}

void ADirPod::ChooseIPod(const AString& volume, const AString& name)
{
    SetIPodVolName(volume, false);
    bridge->SetIPodName(name);
    if (GetPlaylist().IsEmpty())
        bridge->SetPlaylistName(name);
    rootPath = bridge->GetIPodRootFolder();
}

int ADirPod::GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList)
{
    AString entry;
    if (ADirTunes::GetFileDiskPath(path, &entry, 1) != 0 || entry.IsEmpty())
        return -1;
    (void)fromList; // the file is known from the listing either way
    *diskPath = bridge->GetIPodRootFolder();
    diskPath->AppendPathComponent(entry);
    return 0;
}

AString ADirPod::DiskEntry(const AString& location)
{
    AString root = bridge->GetIPodRootFolder();
    if (!root.IsEmpty() && root[root.GetLength() - 1] != '/')
        root += "/";
    if (location.GetLength() > root.GetLength() && location.Left(root.GetLength()) == root)
        return location.Mid(root.GetLength(), location.GetLength());
    AString line("Disk Path Missing: ");
    line += location;
    progress->UpdateDivision(-1, nullptr, nullptr, &line, verboseLog);
    return AString();
}

AString ADirPod::ListingMessage()
{
    return AString("Reading iPod: ") + GetIPodName() + " Playlist: " + GetPlaylist();
}

int ADirPod::PopulateFileList(CancelProc cancel)
{
    if (ASiTunes::GetIPodCountiTunes() <= 0) {
        // No iPod source: the library's reason when its script failed (a database it cannot
        // read, a damaged library), else the iPod is not attached to it.
        return ASiTunes::NoteLastScriptFailure(kErrObjectNotFound);
    }
    PrepareListing();
    return ListTracks(cancel);
}

void ADirPod::PrepareListing()
{
    rootPath = bridge->GetIPodRootFolder();
    removedFilesFolder = rootPath;
}

void ADirPod::GetRealRootPath(AString* out)
{
    if (out)
        *out = bridge->GetIPodRootFolder();
}

int ADirPod::GetPlayListType() const
{
    const int type = bridge->GetIPodPlayListType();
    return type == ASiTunes::kPlaylistOrdinary || type == ASiTunes::kPlaylistOther ? 0 : 1;
}

AString ADirPod::GetRootDisplayName(signed char bare)
{
    if (bare || GetPlaylist() == GetIPodName())
        return GetPlaylist();
    return GetIPodName() + ":" + GetPlaylist();
}

int ADirPod::Initialize()
{
    if (!createLastPlaylist)
        return 0;
    AString names;
    if (int err = bridge->GetIPodPlaylist(0, &names); err != 0)
        return err;
    if (HoldsPlaylistName(names, AString(kLastSync)))
        if (int err = bridge->DeletePlaylistIPod(AString(kLastSync)); err != 0)
            return err;
    return bridge->MakePlaylistIPod(AString(kLastSync));
}

AString ADirPod::IPodRoot() const
{
    AString root = bridge->GetIPodRootFolder();
    if (!root.IsEmpty() && root[root.GetLength() - 1] != '/')
        root += "/";
    return root;
}

int ADirPod::Delete(const AString* path, signed char fromList, signed char keepFile)
{
    (void)fromList;
    std::uint32_t id = 0;
    if (!path || !ParseKey(*path, &id, nullptr))
        return kErrUnableToDelete;
    AString disk;
    const bool known = GetFileDiskPath(path, &disk, 1) == 0;
    const bool mainPlaylist = GetPlaylist() == GetIPodName();
    // Only a song taken off the iPod altogether loses its file, and only a file of its own.
    bool removeFile = mainPlaylist && !keepFile && known && disk.GetLength() > 1 && AFile::FileExists(&disk);
    AString music = bridge->GetIPodRootFolder();
    music.AppendPathComponent("iPod_Control");
    if (removeFile && !IsFileInside(disk, music)) {
        AString line("Kept a file outside the iPod's music folders: ");
        line += disk;
        progress->UpdateDivision(-1, nullptr, nullptr, &line, verboseLog);
        removeFile = false;
    }
    // Named in the iPod's journal before the song is dropped: a run that stops after the store
    // that drops it leaves a file the next run removes, not an orphan.
    const AString root = IPodRoot();
    IPodJournal& journal = IPodJournal::Shared(root);
    const IPodJournal::Entry entry = IPodRecovery::RemovalEntry(root, disk, moveInsteadOfDelete != 0);
    if (removeFile)
        if (int err = journal.Add(entry); err != 0)
            return err;
    if (int err = bridge->DeleteIPodSong(id); err != 0) {
        if (removeFile)
            journal.Remove(entry.kind, entry.location);
        return err;
    }
    if (removeFile && bridge->IPodTrackCount(id) == 0)
        pendingRemovals.push_back(disk);
    return 0;
}

int ADirPod::Finalize()
{
    if (pendingRemovals.empty() && bridge->GetIPodName().IsEmpty())
        return 0;
    // Drop tracks, store, then move files.
    if (int err = bridge->UpdateIPod(); err != 0) {
        pendingRemovals.clear();
        return err;
    }
    const AString root = IPodRoot();
    IPodJournal& journal = IPodJournal::Shared(root);
    int first = 0;
    for (const AString& file : pendingRemovals) {
        const int err = ADir::Delete(&file, 1, 0);
        if (err != 0) {
            AString line = IPodRecovery::RemovalFailedLine(file, err);
            progress->UpdateDivision(-1, nullptr, nullptr, &line, 1);
            if (first == 0)
                first = err;
            continue;
        }
        journal.Remove(IPodJournal::Kind::kRemoved, file.Mid(root.GetLength() - 1, file.GetLength()));
    }
    pendingRemovals.clear();
    return first;
}

int ADirPod::AddSongFromDisk(const AString* path)
{
    if (!path)
        return kErrAddSong;
    if (!flagsSet) {
        // The first song sent to the iPod: now it may be marked as used by this program.
        AString root = bridge->GetIPodRootFolder();
        if (!root.IsEmpty())
            IPodDB::SetIPodFlags(&root);
        flagsSet = true;
    }
    lastAddedFile = AString();
    // The song, its file and its place in "Last Sync" by one script.
    const AString lastSync(kLastSync);
    AString location;
    if (const long long id = bridge->IPodAddSong(*path, createLastPlaylist ? &lastSync : nullptr, &location);
        id >= 0) {
        lastAddedFile = location;
        return 0;
    }
    // A "Last Sync" gone meanwhile undid the song with it: the song is added on its own then, and
    // only the playlist is reported.
    if (createLastPlaylist && ASiTunes::LastScriptFailure(nullptr) == kErrObjectNotFound)
        return AddSongAlone(*path);
    // The library's reason (the file, the system's words, another sync at work) stands for itself
    // rather than as a refusal to add the song.
    return ASiTunes::NoteLastScriptFailure(kErrAddSong);
}

int ADirPod::AddSongAlone(const AString& path)
{
    const long long id = bridge->IPodAddSongFromDisk(path, nullptr);
    if (id < 0)
        return ASiTunes::NoteLastScriptFailure(kErrAddSong);
    lastAddedFile = bridge->IPodTrackLocation(static_cast<std::uint32_t>(id));
    // By its database ID: adding the file again would copy it onto the iPod a second time.
    if (bridge->IPodAddSongToPlaylist(AString(kLastSync), static_cast<std::uint32_t>(id)) == 0)
        return 0;
    AString line("Error Adding to LastSync Playlist in iPod: ");
    line += path;
    progress->UpdateDivision(-1, nullptr, nullptr, &line, verboseLog);
    return kErrLastSyncPlaylist;
}

int ADirPod::CopyProperties(ADir* other) { return ADirSong::CopyProperties(other); }

int ADirPod::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::WriteState(f); err != 0)
        return err;
    if (int err = diskList.WriteState(f); err != 0)
        return err;
    for (const AString* text : {&GetPlaylist(), &GetIPodName(), &GetIPodVolName()})
        if (int err = text->WriteState(f); err != 0)
            return err;
    return 0;
}

int ADirPod::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::ReadState(f); err != 0)
        return err;
    if (int err = diskList.ReadState(f); err != 0)
        return err;
    AString playlist, name, volume;
    for (AString* text : {&playlist, &name, &volume})
        if (int err = text->ReadState(f); err != 0)
            return err;
    bridge->SetPlaylistName(playlist);
    bridge->SetIPodName(name);
    bridge->SetIPodVolName(volume, false);
    rootPath = bridge->GetIPodRootFolder();
    return 0;
}

int ADirPod::AddLooseFile(const AString* file, CancelProc, AString* placed)
{
    // A song the iPod holds already is given back as the track it is: nothing was added then.
    const int before = bridge->IPodSongCount();
    const int err = AddSongFromDisk(file);
    if (placed)
        *placed = err == 0 || err == kErrLastSyncPlaylist ? GetLastAddedFile() : AString();
    if ((err == 0 || err == kErrLastSyncPlaylist) && before >= 0 && bridge->IPodSongCount() == before) {
        if (placed)
            *placed = AString();
        return kErrDuplicate;
    }
    return err;
}
