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
