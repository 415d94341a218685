#include "ACommon/itunesdb/MountedIPod.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "APlatform/KnownFolders.h"

#include <algorithm>
#include <filesystem>

std::vector<MountedIPod> MountedIPod::FindAll(const AString& volumesRoot)
{
    std::vector<MountedIPod> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(volumesRoot.ToStdString(), error)) {
        if (!entry.is_directory(error))
            continue;
        MountedIPod pod;
        if (Read(AString::FromUTF8(entry.path().string()), &pod))
            found.push_back(std::move(pod));
    }
    std::sort(found.begin(), found.end(), [](const MountedIPod& a, const MountedIPod& b) {
        return a.volume.ToStdString() < b.volume.ToStdString();
    });
    return found;
}

std::vector<MountedIPod> MountedIPod::FindAll()
{
    return FindAll(AString::FromUTF8(platform::VolumesRoot()));
}

bool MountedIPod::Read(const AString& mountPoint, MountedIPod* pod)
{
    // A name that is not valid UTF-8 comes back empty: no iPod can be reached through it.
    if (mountPoint.IsEmpty() || !IPodDB::IsIPodRoot(mountPoint))
        return false;
    *pod = MountedIPod();
    pod->mountPoint = mountPoint;
    while (pod->mountPoint.GetLength() > 1 && pod->mountPoint[pod->mountPoint.GetLength() - 1] == '/')
        pod->mountPoint = pod->mountPoint.Left(pod->mountPoint.GetLength() - 1);
    pod->mountPoint.LastPathComponent(&pod->volume);
    AString root = pod->mountPoint;
    IPodDB db;
    if (int err = db.LoadName(&root, 1); err != 0) {
        pod->problem = AError::FailureDetail(err);
    } else {
        db.GetIPodName(pod->name);
        pod->databaseRead = true;
        pod->songs = db.GetTrackCount();
        pod->signedDatabase = db.GetDatabase()->IsSigned();
    }
    pod->infoRead = IPodDB::GetIPodInfo(&root, &pod->info) == 0;
    pod->signingProblems = IPodSigning::Problems(root, pod->info, pod->signedDatabase);
    signed char autoUpdate = 0;
    if (IPodDB::GetAutoUpdates(&root, autoUpdate) == 0)
        pod->autoUpdate = autoUpdate != 0;
    pod->readOnly = IPodInfo::IsVolumeReadOnly(root);
    pod->identity = IPodDB::GetIdentity(&root);
    return true;
}

void MountedIPod::ReadWholeDatabase(MountedIPod* pod)
{
    if (!pod->databaseRead)
        return;
    AString root = pod->mountPoint;
    IPodDB whole;
    if (int err = whole.Load(&root, 1, nullptr, nullptr); err != 0) {
        pod->databaseRead = false;
        pod->name = AString();
        pod->songs = 0;
        pod->problem = AError::FailureDetail(err);
        if (pod->problem.IsEmpty()) {
            pod->problem += err;
            AError::AddErrorMsg(&pod->problem, err);
        }
    }
}

std::vector<AString> MountedIPod::FindWithoutDatabase(const AString& volumesRoot)
{
    std::vector<AString> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(volumesRoot.ToStdString(), error)) {
        if (!entry.is_directory(error))
            continue;
        const AString folder = AString::FromUTF8(entry.path().string());
        const AString control = IPodDB::ResolveIPodPath(folder, "iPod_Control");
        if (!folder.IsEmpty() && AFile::DirExists(&control) && !IPodDB::IsIPodRoot(folder))
            found.push_back(AString::FromUTF8(entry.path().filename().string()));
    }
    std::sort(found.begin(), found.end(),
              [](const AString& a, const AString& b) { return a.ToStdString() < b.ToStdString(); });
    return found;
}

std::string MountedIPod::WithoutDatabaseNote(const AString& volumesRoot)
{
    std::string note;
    for (const AString& volume : FindWithoutDatabase(volumesRoot))
        note += "; \"" + volume.ToStdString() +
                "\" holds an iPod_Control folder but no music database yet (iPod_Control/iTunes/iTunesDB): "
                "set it up once with the iPod's own application, which makes one";
    return note;
}

const MountedIPod* MountedIPod::Choose(const std::vector<MountedIPod>& pods, const AString& wanted)
{
    if (wanted.IsEmpty())
        return pods.empty() ? nullptr : &pods.front();
    for (const MountedIPod& pod : pods)
        if (pod.databaseRead && pod.name == wanted)
            return &pod;
    for (const MountedIPod& pod : pods)
        if (pod.volume == wanted)
            return &pod;
    // Names as typed often differ in case only.
    for (const MountedIPod& pod : pods)
        if (pod.databaseRead && pod.name.CompareNoCase(wanted) == 0)
            return &pod;
    return nullptr;
}
