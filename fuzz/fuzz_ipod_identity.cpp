// Feeds arbitrary bytes, as the content of an iPod's SysInfoExtended, to its reader. It must say
// no to bad bytes, never crash or hang; what it accepts is written back as this program writes the
// file and must read back with the same GUID, model and database version.

#include "ACommon/itunesdb/IPodIdentity.h"
#include "ACommon/itunesdb/IPodInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    IPodIdentity::Extended read;
    if (!IPodIdentity::ParseExtended(std::string(reinterpret_cast<const char*>(data), size), &read))
        return 0;
    IPodInfo info;
    info.firewireGuid = read.guid;
    if (read.modelNumber.GetLength() > 1)
        info.model = read.modelNumber.Mid(1, read.modelNumber.GetLength());
    info.scheme = read.dbVersion == 3 ? IPodInfo::kSchemeHash58 : IPodInfo::kSchemeUnknown;
    IPodIdentity::Extended again;
    if (!IPodIdentity::ParseExtended(IPodIdentity::MakeExtended(info), &again) || again.guid != read.guid ||
        (info.scheme == IPodInfo::kSchemeHash58 && again.dbVersion != 3))
        std::abort();
    return 0;
}
