#pragma once
// MountedIPod: an iPod mounted under the volumes root, with what it is and holds: its name and
// song count (from the head of its database), whether that database is signed, its model, GUID
// and signing scheme (SysInfo, SysInfoExtended, sysfs), what keeps it from being synced, whether it
// updates itself
// from a library (iTunesPrefs), whether its volume is mounted read-only, and the identity that
// tells it from every other iPod. A scan reads only those small files and the database's head,
// so a front end can scan again on every mount event.

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodInfo.h"

#include <optional>
#include <string>
#include <vector>

class MountedIPod {
public:
    // Every folder directly under `volumesRoot` that holds an iPod's database
    // (iPod_Control/iTunes/iTunesDB, case ignored), ordered by volume name.
    static std::vector<MountedIPod> FindAll(const AString& volumesRoot);
    // The iPods under the platform's volumes root.
    static std::vector<MountedIPod> FindAll();
    // The iPod whose volume is mounted at `mountPoint`; false when the folder holds no iPod.
    static bool Read(const AString& mountPoint, MountedIPod* pod);
    // A scan reads only the head of each database. This reads the whole of `pod`'s as a run
    // would (about half a second for 50,000 songs): one a run would refuse as damaged is then marked
    // unreadable, with the reason, rather than shown by what its head says.
    static void ReadWholeDatabase(MountedIPod* pod);
    // The folders directly under `volumesRoot` that hold an iPod's iPod_Control folder (case
    // ignored) but no database yet: iPods that no application has set up, ordered by name.
    static std::vector<AString> FindWithoutDatabase(const AString& volumesRoot);
    // "; \"VOL\" holds an iPod_Control folder but no music database yet (...)" for each of those
    // under `volumesRoot`, to follow a message that finds no iPod there; empty when there are none.
    static std::string WithoutDatabaseNote(const AString& volumesRoot);
    // The iPod called `wanted` (its name, else its volume's name, else its name ignoring case); the
    // first one when `wanted` is empty; null when none fits.
    static const MountedIPod* Choose(const std::vector<MountedIPod>& pods, const AString& wanted);

    AString volume;     // the volume's folder name
    AString mountPoint; // the folder it is mounted at, without a trailing "/"
    AString name;       // the iPod's name, from its database (empty when that cannot be read)
    bool databaseRead = false;
    AString problem; // why the database could not be read, when it could not
    int songs = 0;   // the tracks its database lists (when databaseRead)
    IPodInfo info;
    bool infoRead = false;
    std::optional<bool> autoUpdate; // unknown when iTunesPrefs cannot be read
    bool readOnly = false;
    bool signedDatabase = false; // its database carries a signature
    // What stands in the way of writing a database this iPod accepts (IPodSigning::Problems), each
    // naming its fix; empty when its music can be changed.
    std::vector<AString> signingProblems;
    bool Supported() const { return signingProblems.empty(); }
    AString identity; // IPodDB::GetIdentity: empty when nothing tells this iPod apart
};
