#include "ACommon/tags/AudioFormats.h"

#include "ACommon/tags/ID3.h"

bool AudioFormats::NeedsConversion(const AString& extension)
{
    for (const char* type : {"flac", "ogg", "oga", "opus"})
        if (extension.CompareNoCase(AString(type)) == 0)
            return true;
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
