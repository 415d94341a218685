#pragma once
// The iPods mounted under the volumes root, with what each one is and holds: shared by the
// commands that list iPods and that sync onto one.

#include "ACommon/itunesdb/IPodInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

struct MountedIPod {
    std::string volume; // the volume's folder name
    std::string path;   // its mount point
    std::string name;   // the iPod's name, from its database
    bool nameRead = false;
    std::string problem; // why the database could not be read, when it could not
    IPodInfo info;
    bool infoRead = false;
    int songs = 0;
    bool songsRead = false;
    std::optional<bool> autoUpdate;
    bool readOnly = false;
    bool signedDatabase = false; // its database is signed: Pelorin cannot change it yet
};

// Every folder under `volumesRoot` that holds an iPod's database, in the order of the volume names.
std::vector<MountedIPod> FindIPods(const std::string& volumesRoot);

} // namespace cli
