#include "ACommon/itunesdb/IPodInfo.h"

#include <sys/statvfs.h>

namespace {

struct KnownModel {
    const char* model;
    std::uint32_t family;
    std::uint32_t variant;
    double capacity;
};

// Searched in this order; the first model equal to the one read wins.
constexpr KnownModel kModels[] = {
    {"8513", 6, 0, 5},   {"8541", 6, 0, 5},  {"8697", 6, 0, 5},   {"8709", 6, 0, 10},  {"8737", 6, 0, 10},
    {"8740", 6, 0, 10},  {"8738", 6, 0, 20}, {"8741", 6, 0, 20},  {"8976", 7, 0, 10},  {"8946", 7, 0, 15},
    {"9460", 7, 0, 15},  {"9244", 7, 0, 20}, {"8948", 7, 0, 30},  {"9245", 7, 0, 40},  {"9282", 8, 0, 20},
    {"9787", 10, 0, 20}, {"9268", 8, 0, 40}, {"A079", 9, 0, 20},  {"A127", 10, 0, 20}, {"9829", 9, 0, 30},
    {"9585", 9, 0, 40},  {"9586", 9, 0, 60}, {"9830", 9, 0, 60},  {"A002", 4, 1, 30},  {"A146", 4, 2, 30},
    {"A003", 4, 1, 60},  {"A147", 4, 2, 60}, {"A452", 10, 0, 30}, {"9160", 3, 3, 4},   {"9436", 3, 4, 4},
    {"9435", 3, 5, 4},   {"9434", 3, 6, 4},  {"9437", 3, 7, 4},   {"9800", 3, 3, 4},   {"9802", 3, 4, 4},
    {"9804", 3, 5, 4},   {"9806", 3, 6, 4},  {"9801", 3, 3, 6},   {"9803", 3, 4, 6},   {"9805", 3, 5, 6},
    {"9807", 3, 6, 6},   {"9959", 3, 3, 6},  {"A133", 2, 0, 0},   {"9724", 2, 0, 0},   {"9725", 2, 0, 0},
    {"A350", 5, 1, 0},   {"A352", 5, 2, 0},  {"A004", 5, 1, 2},   {"A099", 5, 2, 2},   {"A005", 5, 1, 4},
    {"A107", 5, 2, 4},
};

} // namespace

void IPodInfo::Reset()
{
    model = AString();
    family = 0;
    variant = 0;
    capacity = 0.0;
    firewireGuid = AString();
}

void IPodInfo::SetModel(const AString& modelNumber)
{
    Reset();
    model = modelNumber;
    for (const KnownModel& known : kModels) {
        if (model == known.model) {
            family = known.family;
            variant = known.variant;
            capacity = known.capacity;
            return;
        }
    }
}

const char* IPodInfo::FamilyName(std::uint32_t family)
{
    switch (family) {
    case 2:
        return "iPod shuffle";
    case 3:
        return "iPod mini";
    case 4:
        return "iPod video";
    case 5:
        return "iPod nano";
    case 6:
        return "iPod (1st/2nd generation)";
    case 7:
        return "iPod (3rd generation)";
    case 8:
        return "iPod (4th generation)";
    case 9:
        return "iPod photo";
    case 10:
        return "iPod U2 Special Edition";
    default:
        return "unknown";
    }
}

bool IPodInfo::IsVolumeReadOnly(const AString& path)
{
    struct statvfs info {};
    if (path.IsEmpty() || statvfs(path.CStr(), &info) != 0)
        return false;
    return (info.f_flag & ST_RDONLY) != 0;
}
