#include "ACommon/itunesdb/MHIT.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/CRC32.h"
#include "ACommon/itunesdb/IPodRecord.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "ACommon/tags/SongName.h"
#include "APlatform/Unicode.h"

#include <algorithm>
#include <atomic>

namespace {

// Handles come from one counter for the whole process, so a handle never names two tracks, not
// even one after the other.
std::atomic<std::uint64_t> gNextHandle{1};

AString Trimmed(const AString& text)
{
    AString copy = text;
    copy.Trim();
    return copy;
}

// A tag as the track keeps it: trimmed (white space only is empty) and path-safe.
AString Formatted(const AString& text)
{
    AString copy = text;
    copy.Trim();
    AString::FormatPathString(copy, '_', 0);
    copy.Trim();
    return copy;
}

// The part of a virtual path that names a song: up to and including its last "?" (the whole path
// when it has none), with "/" in front.
AString ComparisonKey(const AString& virtualPath, bool* hasKey)
{
    int question = virtualPath.ReverseFind('?');
    *hasKey = question >= 0;
    AString key = question >= 0 ? virtualPath.Left(question + 1) : virtualPath;
    if (key.IsEmpty() || key[0] != '/')
        key.Insert('/', 0);
    return key;
}

// True when text is its own decoded form: no blank at either end and, for a tag that is made
// path-safe, none of the characters that FormatPathString replaces. `unit(i)` gives unit i of `count`.
template <typename Unit> bool IsPlainUnits(std::size_t count, Unit unit, bool formatted)
{
    if (count == 0)
        return true;
    if (platform::IsBlank(unit(0)) || platform::IsBlank(unit(count - 1)))
        return false;
    if (!formatted)
        return true;
    for (std::size_t i = 0; i < count; ++i)
        if (AString::IsChangedInPathNames(unit(i)))
            return false;
    return true;
}

char16_t UnitAt(const MHOD::StoredText& text, std::size_t i)
{
    if (text.unitSize == 1)
        return text.bytes[i];
    return static_cast<char16_t>(text.bytes[2 * i] | text.bytes[2 * i + 1] << 8);
}

bool IsPlain(const AString& text, bool formatted)
{
    const std::u16string& units = text.Units();
    return IsPlainUnits(
        units.size(), [&units](std::size_t i) { return units[i]; }, formatted);
}

// The same for text still in its stored form (unit size not 0).
bool IsPlainText(const MHOD::StoredText& text, bool formatted)
{
    return IsPlainUnits(
        text.bytes.size() / text.unitSize, [&text](std::size_t i) { return UnitAt(text, i); }, formatted);
}

// The name key of an ASCII name given unit by unit: the CRC-32 of its UTF-16LE units in upper case,
// without a trailing " N" copy number.
template <typename Unit> std::uint32_t AsciiKeyOfUnits(std::size_t length, Unit unit)
{
    if (length >= 3 && unit(length - 2) == ' ' && unit(length - 1) >= '1' && unit(length - 1) <= '9')
        length -= 2;
    CRC32 crc;
    unsigned char chunk[256];
    for (std::size_t at = 0; at < length;) {
        int n = 0;
        for (; at < length && n < static_cast<int>(sizeof chunk); ++at) {
            unsigned char c = static_cast<unsigned char>(unit(at));
            if (c >= 'a' && c <= 'z')
                c = static_cast<unsigned char>(c - 32);
            chunk[n++] = c;
            chunk[n++] = 0;
        }
        crc.Update(chunk, n);
    }
    return crc.GetValue();
}

// The name key (MHIT::NameKeyOf) of a title still in its stored form, for the common case of a
// plain ASCII title; false for any other, whose key needs the decoded text.
bool AsciiNameKey(const MHOD::StoredText& text, std::uint32_t* key)
{
    if (text.unitSize == 0)
        return false;
    std::size_t length = text.bytes.size() / text.unitSize;
    if (length == 0 || !IsPlainText(text, true))
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (UnitAt(text, i) >= 0x80)
            return false;
    *key = AsciiKeyOfUnits(length, [&text](std::size_t i) { return UnitAt(text, i); });
    return true;
}

} // namespace

MHIT::MHIT(ForLoading) : handle(gNextHandle.fetch_add(1)) {}

MHIT::MHIT() : header(IPodRecord::NewHeader("mhit", kMinHeaderLength)), handle(gNextHandle.fetch_add(1))
{
    SetField(20, 1);
    SetField(28, 0x100);
    SetField(kOffsetSampleRate, 0xAC440000u); // 44100 Hz
    nameKey = NameKeyOfName(GetName());
}

const AString& MHIT::NoText()
{
    static const AString kNone;
    return kNone;
}

std::uint32_t MHIT::GetField(std::size_t offset) const { return IPodRecord::GetU32(header, offset); }

void MHIT::SetField(std::size_t offset, std::uint32_t value) { IPodRecord::SetU32(header, offset, value); }

void MHIT::SetByte(std::size_t offset, std::uint8_t value)
{
    if (offset < header.size())
        header[offset] = value;
}

void MHIT::SetGapless(std::uint32_t pregap, std::uint32_t postgap, std::uint64_t sampleCount,
                      std::uint32_t gaplessData)
{
    // Clearing never grows a header; a header that ends before the flag has nothing to clear.
    if (sampleCount != 0 && header.size() < kGaplessHeaderLength)
        header.resize(kGaplessHeaderLength, 0);
    if (header.size() < kOffsetGaplessTrack + 2)
        return;
    const bool known = sampleCount != 0;
    SetField(kOffsetPregap, known ? pregap : 0);
    SetField(kOffsetSampleCount, static_cast<std::uint32_t>(sampleCount));
    SetField(kOffsetSampleCount + 4, static_cast<std::uint32_t>(sampleCount >> 32));
    SetField(kOffsetPostgap, known ? postgap : 0);
    SetField(kOffsetGaplessData, known ? gaplessData : 0);
    SetByte(kOffsetGaplessTrack, known ? 1 : 0);
    SetByte(kOffsetGaplessTrack + 1, 0);
}

int MHIT::Load(ByteReader& in, const MHOD::TextStore* texts)
{
    ByteReader body;
    if (int err = IPodRecord::OpenRecord(in, "mhit", 12, header, body); err != 0)
        return err;
    // A short header is read as far as it goes; the fields it lacks stay zero.
    if (header.size() < kMinHeaderLength)
        header.resize(kMinHeaderLength, 0);
    const std::uint32_t count = GetField(kOffsetMhodCount);
    // Every data object takes at least 24 bytes: a count that cannot fit is a damaged record.
    if (count > body.Remaining() / 24)
        return kErrUnknown;
    children.clear();
    children.resize(count);
    for (MHOD& child : children)
        if (int err = child.Load(body, texts); err != 0)
            return err;
    if (int err = IPodRecord::CheckNothingLeft(body, "a track counts " + std::to_string(count) +
                                                         " data objects, but its length holds more");
        err != 0)
        return err;
    trailing.clear();
    Decode();
    return 0;
}

void MHIT::SetDecoded(Decoded& decoded, int child, bool formatted)
{
    const MHOD& object = children[child];
    const MHOD::StoredText stored = object.GetUndecodedText();
    if (stored.unitSize == 0 ? IsPlain(object.GetString(), formatted) : IsPlainText(stored, formatted)) {
        decoded.child = child;
        decoded.own.reset();
    } else {
        decoded = Own(formatted ? Formatted(object.GetString()) : Trimmed(object.GetString()));
    }
}

void MHIT::Decode()
{
    for (Decoded* decoded : {&genre, &artist, &album, &name, &composer})
        *decoded = Decoded();
    filePath = extension = AString();
    location = -1;
    for (int i = 0; i < static_cast<int>(children.size()); ++i) {
        switch (children[i].GetType()) {
        case MHOD::kTitle:
            SetDecoded(name, i, false);
            break;
        case MHOD::kLocation:
            location = i;
            break;
        case MHOD::kAlbum:
            SetDecoded(album, i, true);
            break;
        case MHOD::kArtist:
            SetDecoded(artist, i, true);
            break;
        case MHOD::kGenre:
            SetDecoded(genre, i, true);
            break;
        case MHOD::kComposer:
            SetDecoded(composer, i, true);
            break;
        default:
            break;
        }
    }
    pathKnown = location < 0;
    // The key of a plain ASCII title comes from its bytes as read, without decoding it.
    std::uint32_t key = 0;
    if (name.child >= 0 && AsciiNameKey(children[name.child].GetUndecodedText(), &key))
        nameKey = key;
    else
        nameKey = NameKeyOfName(GetName());
    musicSizeKnown = false;
}

void MHIT::DecodePath() const
{
    filePath = children[location].GetString();
    filePath.Replace(':', '/');
    filePath.PathExtension(&extension);
    pathKnown = true;
}

std::uint32_t MHIT::GetTotalSize() const
{
    std::uint32_t total = static_cast<std::uint32_t>(header.size() + trailing.size());
    for (const MHOD& child : children)
        total += child.GetTotalSize();
    return total;
}

void MHIT::Store(ByteWriter& out)
{
    SetField(kOffsetMhodCount, static_cast<std::uint32_t>(children.size()));
    const std::size_t at = out.Size();
    IPodRecord::WriteHeader(out, header, 0);
    for (const MHOD& child : children)
        child.Store(out);
    out.WriteBytes(trailing.data(), trailing.size());
    out.PatchU32LE(at + 8, static_cast<std::uint32_t>(out.Size() - at));
}

void MHIT::SetStringField(const AString& text, unsigned type)
{
    for (MHOD& child : children) {
        if (child.GetType() == type) {
            child.SetUnicodeString(text, type);
            return;
        }
    }
    children.emplace_back();
    children.back().SetUnicodeString(text, type);
}

void MHIT::SetName(const AString& text)
{
    name = Own(Trimmed(text));
    SetStringField(*name.own, MHOD::kTitle);
    nameKey = NameKeyOfName(*name.own);
}

void MHIT::SetTagField(const AString& text, unsigned type, Decoded& field)
{
    SetStringField(Trimmed(text), type);
    field = Own(Formatted(text));
}

void MHIT::SetAlbum(const AString& text) { SetTagField(text, MHOD::kAlbum, album); }
void MHIT::SetArtist(const AString& text) { SetTagField(text, MHOD::kArtist, artist); }
void MHIT::SetGenre(const AString& text) { SetTagField(text, MHOD::kGenre, genre); }
void MHIT::SetComposer(const AString& text) { SetTagField(text, MHOD::kComposer, composer); }

void MHIT::SetFilepath(const AString& path)
{
    pathKnown = true;
    filePath = path;
    if (filePath.IsEmpty() || filePath[0] != '/')
        filePath.Insert('/', 0);
    filePath.PathExtension(&extension);
    AString stored = filePath;
    stored.Replace('/', ':');
    SetStringField(stored, MHOD::kLocation);
    musicSizeKnown = false;
}

int MHIT::CompareTo(const SongInfoStruct* song) const
{
    if (!song)
        return 1;
    const AString& songName = song->modifiedName.IsEmpty() ? song->name : song->modifiedName;
    if (int c = GetGenre().CompareNoCase(Formatted(song->genre)); c != 0)
        return c;
    if (int c = GetArtist().CompareNoCase(Formatted(song->artist)); c != 0)
        return c;
    if (int c = GetAlbum().CompareNoCase(Formatted(song->album)); c != 0)
        return c;
    if (int c = GetName().CompareNoCase(Trimmed(songName)); c != 0)
        return c;
    return GetExtension().CompareNoCase(song->fileExtension);
}

AString MHIT::Component(const AString& tag)
{
    AString component = Formatted(tag);
    if (component.IsEmpty())
        component = "*";
    return component;
}

std::uint32_t MHIT::NameKeyOf(const AString& nameComponent)
{
    const std::u16string& units = nameComponent.Units();
    if (!std::all_of(units.begin(), units.end(), [](char16_t u) { return u < 0x80; })) {
        AString folded = nameComponent;
        SongName::RemoveSpaceNumber(&folded);
        folded.Upper();
        return CRC32::Of(folded);
    }
    // ASCII, the common case: the same key without a copy.
    return AsciiKeyOfUnits(units.size(), [&units](std::size_t i) { return units[i]; });
}

std::uint32_t MHIT::NameKeyOfName(const AString& name)
{
    return !name.IsEmpty() && IsPlain(name, true) ? NameKeyOf(name) : NameKeyOf(Component(name));
}

bool MHIT::IsUntagged(signed char withGenre, signed char withAlbum) const
{
    return GetArtist().IsEmpty() && (!withGenre || GetGenre().IsEmpty()) &&
           (!withAlbum || GetAlbum().IsEmpty());
}

AString MHIT::MusicSizeText(const AString& root) const
{
    if (!musicSizeKnown || musicSizeRoot != root) {
        AString diskPath = root;
        diskPath.AppendPathComponent(GetFilepath());
        musicSize = root.IsEmpty() ? 0 : ID3::CalcMusicSize(&diskPath);
        musicSizeRoot = root;
        musicSizeKnown = true;
    }
    AString text;
    text = static_cast<unsigned long long>(musicSize);
    return text;
}

AString MHIT::BuildPath(signed char withGenre, signed char withAlbum, const AString& untaggedArtist,
                        const AString& lastComponent, signed char withLast) const
{
    const bool untagged = IsUntagged(withGenre, withAlbum);
    AString path("/");
    if (withGenre) {
        path += Component(GetGenre());
        path += '/';
    }
    path += untagged ? untaggedArtist : Component(GetArtist());
    path += '/';
    if (withAlbum) {
        path += Component(GetAlbum());
        path += '/';
    }
    AString nameComponent = Component(GetName());
    if (untagged)
        SongName::RemoveSpaceNumber(&nameComponent);
    path += nameComponent;
    if (withLast) {
        path += '/';
        path += lastComponent;
    }
    return path;
}

AString MHIT::ToString(signed char withExtension, signed char withGenre, signed char withAlbum,
                       signed char withHandle, const AString& root) const
{
    AString sizeText = IsUntagged(withGenre, withAlbum) ? MusicSizeText(root) : AString();
    AString path = BuildPath(withGenre, withAlbum, sizeText, Component(GetExtension()), withExtension);
    if (withHandle) {
        path += '?';
        AString number;
        number = static_cast<unsigned long long>(handle);
        path += number;
    }
    return path;
}

int MHIT::CompareTo(const AString& virtualPath, signed char withExtension, signed char withGenre,
                    signed char withAlbum, const AString& root) const
{
    bool hasKey = false;
    AString key = ComparisonKey(virtualPath, &hasKey);
    AString candidate = ToString(withExtension, withGenre, withAlbum, 0, root);
    if (hasKey)
        candidate += '?';
    return candidate.CompareNoCase(key);
}

int MHIT::SizeBasedCompareTo(const AString& virtualPath, signed char, signed char withGenre,
                             signed char withAlbum) const
{
    bool hasKey = false;
    AString key = ComparisonKey(virtualPath, &hasKey);
    AString sizeText;
    sizeText = static_cast<unsigned long long>(GetFileSize());
    AString candidate = BuildPath(withGenre, withAlbum, sizeText, sizeText, 1);
    if (hasKey)
        candidate += '?';
    return candidate.CompareNoCase(key);
}
