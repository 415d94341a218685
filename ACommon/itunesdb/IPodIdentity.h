#pragma once
// IPodIdentity: the iPod's identity files beyond SysInfo, and the one fact that can be found
// without them. SysInfoExtended is a property list the iPod (or a tool that asked it over USB)
// leaves in iPod_Control/Device: FireWireGUID, DBVersion, FamilyID, SerialNumber, the artwork
// formats. The FireWire GUID is also the serial number the iPod gives as a USB device, which sysfs
// shows to any user, so it can be found without root from the block device behind the mount point.

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/ArtworkThumbnail.h"

#include <optional>
#include <string>
#include <vector>

class IPodInfo;

class IPodIdentity {
public:
    struct Extended {
        AString guid;        // normalized as IPodIdentity::NormalizeGuid does; empty when absent
        AString modelNumber; // ModelNumStr as written ("MB029"); empty when absent
        int dbVersion = -1;
        int familyId = -1;
        AString serialNumber;
        // The cover formats its screen shows (AlbumArt: FormatId, RenderWidth, RenderHeight).
        std::vector<ArtworkThumbnail::Format> artworkFormats;
    };

    // Reads the SysInfoExtended property list (XML or binary). False when it is no property list
    // whose top is a dictionary. Keys are matched without regard to case.
    static bool ParseExtended(const std::string& bytes, Extended* out);
    // The XML property list that SysInfoExtended holds for `info` (its GUID, model, database
    // version).
    static std::string MakeExtended(const IPodInfo& info);

    // Writes iPod_Control/Device/SysInfoExtended of the iPod at `root` from `info` (which must hold
    // a GUID), so that later runs and other programs find what this one found. -11167 when the iPod
    // has one already (it is left as it is), -10000 without a GUID; file errors as they come.
    static int WriteExtendedFile(const AString& root, const IPodInfo& info);

    // The USB serial number of the Apple device behind the volume mounted at `mountPoint`, as a
    // GUID (16 hexadecimal digits); empty when there is none. `sysfsRoot` is normally "/sys".
    static AString UsbSerial(const AString& mountPoint, const std::string& sysfsRoot);
    // The sysfs root: $PELORIN_SYSFS when set (tests give a fake device tree), else "/sys".
    static std::string SysfsRoot();

    // A GUID in one spelling: hexadecimal digits in upper case without "0x" (16 of them on every
    // iPod; only those sign a database). Empty for anything else, and for zeros only, which tell no
    // iPod apart.
    static AString NormalizeGuid(const AString& value);
};
