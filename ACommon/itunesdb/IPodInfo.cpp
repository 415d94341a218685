#include "ACommon/itunesdb/IPodInfo.h"

#include <sys/statvfs.h>

namespace {

struct KnownModel {
    const char* model;
    std::uint32_t family;
    std::uint32_t variant;
    double capacity;
};

// Searched in this order; the first model equal to the one read wins. The first 51 rows are the
// iPods up to the 5th generation and the first nano; later models follow.
constexpr KnownModel kModels[] = {
    {"8513", 6, 0, 5},
    {"8541", 6, 0, 5},
    {"8697", 6, 0, 5},
    {"8709", 6, 0, 10},
    {"8737", 6, 0, 10},
    {"8740", 6, 0, 10},
    {"8738", 6, 0, 20},
    {"8741", 6, 0, 20},
    {"8976", 7, 0, 10},
    {"8946", 7, 0, 15},
    {"9460", 7, 0, 15},
    {"9244", 7, 0, 20},
    {"8948", 7, 0, 30},
    {"9245", 7, 0, 40},
    {"9282", 8, 0, 20},
    {"9787", 10, 0, 20},
    {"9268", 8, 0, 40},
    {"A079", 9, 0, 20},
    {"A127", 10, 0, 20},
    {"9829", 9, 0, 30},
    {"9585", 9, 0, 40},
    {"9586", 9, 0, 60},
    {"9830", 9, 0, 60},
    {"A002", 4, 1, 30},
    {"A146", 4, 2, 30},
    {"A003", 4, 1, 60},
    {"A147", 4, 2, 60},
    {"A452", 10, 0, 30},
    {"9160", 3, 3, 4},
    {"9436", 3, 4, 4},
    {"9435", 3, 5, 4},
    {"9434", 3, 6, 4},
    {"9437", 3, 7, 4},
    {"9800", 3, 3, 4},
    {"9802", 3, 4, 4},
    {"9804", 3, 5, 4},
    {"9806", 3, 6, 4},
    {"9801", 3, 3, 6},
    {"9803", 3, 4, 6},
    {"9805", 3, 5, 6},
    {"9807", 3, 6, 6},
    {"9959", 3, 3, 6},
    {"A133", 2, 0, 0},
    {"9724", 2, 0, 0},
    {"9725", 2, 0, 0},
    {"A350", 5, 1, 0},
    {"A352", 5, 2, 0},
    {"A004", 5, 1, 2},
    {"A099", 5, 2, 2},
    {"A005", 5, 1, 4},
    {"A107", 5, 2, 4},
    // iPod with video, late 2006
    {"A444", 4, 1, 30},
    {"A446", 4, 2, 30},
    {"A448", 4, 1, 80},
    {"A450", 4, 2, 80},
    {"A664", 10, 0, 30},
    // iPod nano, 2nd generation
    {"A477", 5, 1, 2},
    {"A426", 5, 1, 4},
    {"A428", 5, 3, 4},
    {"A487", 5, 4, 4},
    {"A489", 5, 5, 4},
    {"A725", 5, 6, 4},
    {"A497", 5, 2, 8},
    {"A726", 5, 6, 8},
    {"A899", 5, 6, 8},
    // iPod classic: 6th generation (2007), late 2008, 7th generation (2009)
    {"B029", 11, 1, 80},
    {"B147", 11, 2, 80},
    {"B145", 11, 1, 160},
    {"B150", 11, 2, 160},
    {"B562", 11, 1, 120},
    {"B565", 11, 2, 120},
    {"C293", 11, 1, 160},
    {"C297", 11, 2, 160},
    // iPod nano, 3rd generation
    {"A978", 12, 1, 4},
    {"A980", 12, 1, 8},
    {"B261", 12, 2, 8},
    {"B249", 12, 3, 8},
    {"B253", 12, 4, 8},
    {"B257", 12, 6, 8},
    // iPod nano, 4th generation
    {"B480", 13, 1, 4},
    {"B651", 13, 3, 4},
    {"B654", 13, 5, 4},
    {"B657", 13, 7, 4},
    {"B660", 13, 8, 4},
    {"B663", 13, 4, 4},
    {"B666", 13, 9, 4},
    {"B598", 13, 1, 8},
    {"B732", 13, 3, 8},
    {"B735", 13, 5, 8},
    {"B739", 13, 7, 8},
    {"B742", 13, 8, 8},
    {"B745", 13, 4, 8},
    {"B748", 13, 9, 8},
    {"B751", 13, 6, 8},
    {"B754", 13, 2, 8},
    {"B903", 13, 1, 16},
    {"B905", 13, 3, 16},
    {"B907", 13, 5, 16},
    {"B909", 13, 7, 16},
    {"B911", 13, 8, 16},
    {"B913", 13, 4, 16},
    {"B915", 13, 9, 16},
    {"B917", 13, 6, 16},
    {"B918", 13, 2, 16},
    // iPod nano, 5th generation
    {"C027", 14, 1, 8},
    {"C031", 14, 2, 8},
    {"C034", 14, 7, 8},
    {"C037", 14, 3, 8},
    {"C040", 14, 4, 8},
    {"C043", 14, 9, 8},
    {"C046", 14, 8, 8},
    {"C049", 14, 6, 8},
    {"C050", 14, 5, 8},
    {"C060", 14, 1, 16},
    {"C062", 14, 2, 16},
    {"C064", 14, 7, 16},
    {"C066", 14, 3, 16},
    {"C068", 14, 4, 16},
    {"C070", 14, 9, 16},
    {"C072", 14, 8, 16},
    {"C074", 14, 6, 16},
    {"C075", 14, 5, 16},
    // iPod nano, 6th generation
    {"C525", 15, 1, 8},
    {"C688", 15, 2, 8},
    {"C689", 15, 3, 8},
    {"C690", 15, 4, 8},
    {"C691", 15, 8, 8},
    {"C692", 15, 5, 8},
    {"C693", 15, 6, 8},
    {"C526", 15, 1, 16},
    {"C694", 15, 2, 16},
    {"C695", 15, 3, 16},
    {"C696", 15, 4, 16},
    {"C697", 15, 8, 16},
    {"C698", 15, 5, 16},
    {"C699", 15, 6, 16},
    // iPod nano, 7th generation
    {"D475", 16, 5, 16},
    {"D476", 16, 9, 16},
    {"D477", 16, 3, 16},
    {"D478", 16, 4, 16},
    {"D479", 16, 7, 16},
    {"D480", 16, 1, 16},
    {"D481", 16, 2, 16},
    {"D744", 16, 6, 16},
};

// The generation within the family, where the model number tells more than the family does.
const char* GenerationOf(const AString& model, std::uint32_t family)
{
    switch (family) {
    case IPodInfo::kFamilyClassic:
        if (model == "B562" || model == "B565")
            return "6th generation, late 2008";
        if (model == "C293" || model == "C297")
            return "7th generation";
        return "6th generation";
    case IPodInfo::kFamilyNano3:
        return "3rd generation";
    case IPodInfo::kFamilyNano4:
        return "4th generation";
    case IPodInfo::kFamilyNano5:
        return "5th generation";
    case IPodInfo::kFamilyNano6:
        return "6th generation";
    case IPodInfo::kFamilyNano7:
        return "7th generation";
    case IPodInfo::kFamilyVideo:
        return model == "A002" || model == "A146" || model == "A003" || model == "A147"
                   ? "5th generation"
                   : "5th generation, late 2006";
    case 5:
        return model == "A350" || model == "A352" || model == "A004" || model == "A099" || model == "A005" ||
                       model == "A107"
                   ? "1st generation"
                   : "2nd generation";
    case 6:
        return "1st/2nd generation";
    case 7:
        return "3rd generation";
    case 8:
        return "4th generation";
    default:
        return "";
    }
}

} // namespace

bool IPodInfo::PlaysVideo(std::uint32_t family)
{
    switch (family) {
    case kFamilyVideo:
    case kFamilyClassic:
    case kFamilyNano3:
    case kFamilyNano4:
    case kFamilyNano5:
    case kFamilyNano7:
        return true;
    default:
        return false;
    }
}

void IPodInfo::Reset() { *this = IPodInfo(); }

void IPodInfo::SetModel(const AString& modelNumber)
{
    model = modelNumber;
    family = 0;
    variant = 0;
    capacity = 0.0;
    known = false;
    generation = AString();
    for (const KnownModel& row : kModels) {
        if (model == row.model) {
            family = row.family;
            variant = row.variant;
            capacity = row.capacity;
            known = true;
            generation = GenerationOf(model, family);
            return;
        }
    }
}

int IPodInfo::SchemeOfFamily(std::uint32_t family)
{
    switch (family) {
    case kFamilyClassic:
    case kFamilyNano3:
    case kFamilyNano4:
        return kSchemeHash58;
    case kFamilyNano5:
        return kSchemeHash72;
    case kFamilyNano6:
    case kFamilyNano7:
        return kSchemeHashAB;
    default:
        return kSchemeNone;
    }
}

void IPodInfo::ChooseScheme()
{
    if (dbVersion >= 0) {
        // The iPod's own word: versions up to 2 check nothing, 3 hash58, 4 hash72, 5 hashAB.
        scheme = dbVersion <= 2   ? kSchemeNone
                 : dbVersion == 3 ? kSchemeHash58
                 : dbVersion == 4 ? kSchemeHash72
                 : dbVersion == 5 ? kSchemeHashAB
                                  : kSchemeUnknown;
        schemeSource = "SysInfoExtended";
        return;
    }
    if (known) {
        scheme = SchemeOfFamily(family);
        schemeSource = "model";
        return;
    }
    scheme = model.IsEmpty() && !haveExtended ? kSchemeNone : kSchemeUnknown;
    schemeSource = AString();
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
    case kFamilyNano3:
    case kFamilyNano4:
    case kFamilyNano5:
    case kFamilyNano6:
    case kFamilyNano7:
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
    case kFamilyClassic:
        return "iPod classic";
    default:
        return "unknown";
    }
}

const char* IPodInfo::SchemeName(int scheme)
{
    switch (scheme) {
    case kSchemeNone:
        return "none";
    case kSchemeHash58:
        return "hash58";
    case kSchemeHash72:
        return "hash72";
    case kSchemeHashAB:
        return "hashAB";
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
