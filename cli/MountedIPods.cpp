#include "cli/MountedIPods.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodDB.h"

#include <algorithm>
#include <filesystem>

namespace cli {

std::vector<MountedIPod> FindIPods(const std::string& volumesRoot)
{
    std::vector<MountedIPod> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(volumesRoot, error)) {
        if (!entry.is_directory(error))
            continue;
        MountedIPod pod;
        pod.volume = entry.path().filename().string();
        pod.path = entry.path().string();
        AString root = AString::FromUTF8(pod.path);
        if (!IPodDB::IsIPodRoot(root))
            continue;
        IPodDB db;
        if (int err = db.LoadName(&root, 1); err != 0) {
            pod.problem = AError::FailureDetail(err).ToStdString();
        } else {
            AString name;
            db.GetIPodName(name);
            pod.name = name.ToStdString();
            pod.nameRead = true;
            pod.songs = db.GetTrackCount();
            pod.songsRead = true;
            pod.signedDatabase = db.GetDatabase()->IsSigned();
        }
        pod.infoRead = IPodDB::GetIPodInfo(&root, &pod.info) == 0;
        signed char autoUpdate = 0;
        if (IPodDB::GetAutoUpdates(&root, autoUpdate) == 0)
            pod.autoUpdate = autoUpdate != 0;
        pod.readOnly = IPodInfo::IsVolumeReadOnly(root);
        found.push_back(pod);
    }
    std::sort(found.begin(), found.end(),
              [](const MountedIPod& a, const MountedIPod& b) { return a.volume < b.volume; });
    return found;
}

} // namespace cli
