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
