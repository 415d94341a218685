#include "ACommon/tags/AudioFormats.h"

#include "ACommon/tags/ID3.h"

bool AudioFormats::NeedsConversion(const AString& extension)
{
    // Asked several times for every song of a sync: compared unit by unit, without making texts.
    const std::u16string& units = extension.Units();
    for (std::string_view type : {"flac", "ogg", "oga", "opus"}) {
        if (units.size() != type.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < type.size() && same; ++i) {
            const char16_t unit = units[i];
            same = (unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit) == type[i];
        }
        if (same)
            return true;
    }
    return false;
}

AString AudioFormats::IPodExtension(const AString& extension)
{
    return NeedsConversion(extension) ? AString("m4a") : extension;
}

std::string AudioFormats::LowerExtension(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

AudioFormats::Target AudioFormats::TargetFor(const ID3& tags, bool modelPlaysALAC, const Settings& settings)
{
    AString extension;
    tags.GetFileExt(extension);
    const bool alac = tags.GetCodec() == ID3::Codec::kALAC;
    if (!NeedsConversion(extension) && (!alac || modelPlaysALAC))
        return Target::kCopy;
    if (tags.IsLossless() && modelPlaysALAC && !settings.alwaysAAC)
        return Target::kALAC;
    return Target::kAAC;
}
