#include "ACommon/ADirSong.h"

#include "ACommon/AError.h"

namespace {

// See ADir.cpp: the entries of a ":a:b:" list.
template <typename Visit>
bool AnyListEntry(const AString& list, Visit visit)
{
    int colon = list.Find(':', 0);
    while (colon >= 0) {
        int next = list.Find(':', colon + 1);
        if (next < 0)
            break;
        if (next > colon + 1 && visit(list.Mid(colon + 1, next - colon - 1)))
            return true;
        colon = next;
    }
    return false;
}

// Whole-value filter: the value wrapped in colons must (include) or must not (exclude) occur in the
// list, case ignored. An empty value is "::".
bool ValueFilterCheck(const AString& value, int mode, const AString& include, const AString& exclude)
{
    if (mode == 0)
        return true;
    AString wrapped(":");
    wrapped += value;
    wrapped += ':';
    if ((mode & 0x1) && !include.IsEmpty() && include.Find(wrapped, 0, 0) < 0)
        return false;
    if ((mode & 0x2) && !exclude.IsEmpty() && exclude.Find(wrapped, 0, 0) >= 0)
        return false;
    return true;
}

// Component `index` of a virtual path that begins with "/" (0 is the text between the first and the
// second "/"). The last component runs to the "?" of the key.
AString Component(const AString& vpath, int index, bool cutAtKey)
{
    int begin = 0;
    if (vpath.GetLength() > 0 && vpath[0] == '/')
        begin = 1;
    for (int i = 0; i < index; ++i) {
        int slash = vpath.Find('/', begin);
        if (slash < 0)
            return AString();
        begin = slash + 1;
    }
    int end = vpath.Find('/', begin);
    if (end < 0) {
        end = cutAtKey ? vpath.ReverseFind('?') : -1;
        if (end < begin)
            end = vpath.GetLength();
    }
    return vpath.Mid(begin, end - begin);
}

} // namespace

bool ADirSong::GenreFilterCheck(AString* genre) const
{
    if (!genreRelevantOnDupSongCompare || !genre)
        return true;
    return ValueFilterCheck(*genre, genreFilterMode, genreIncludeFilter, genreExcludeFilter);
}

bool ADirSong::ArtistFilterCheck(AString* artist) const
{
    if (!artist)
        return true;
    return ValueFilterCheck(*artist, artistFilterMode, artistIncludeFilter, artistExcludeFilter);
}

bool ADirSong::AlbumFilterCheck(AString* album) const
{
    if (!albumRelevantOnDupSongCompare || !album)
        return true;
    return ValueFilterCheck(*album, albumFilterMode, albumIncludeFilter, albumExcludeFilter);
}

bool ADirSong::SongNameFilterCheck(AString* name) const
{
    if (songNameFilterMode == 0 || !name)
        return true;
    auto occursIn = [name](const AString& entry) { return name->Find(entry, 0, 1) >= 0; };
    if ((songNameFilterMode & 0x1) && !songNameIncludeFilter.IsEmpty() &&
        !AnyListEntry(songNameIncludeFilter, occursIn))
        return false;
    if ((songNameFilterMode & 0x2) && !songNameExcludeFilter.IsEmpty() && AnyListEntry(songNameExcludeFilter, occursIn))
        return false;
    return true;
}

bool ADirSong::VPathGenreFilterCheck(AString* vpath) const
{
    if (!vpath || !genreRelevantOnDupSongCompare || genreFilterMode == 0)
        return true;
    AString genre = Component(*vpath, 0, false);
    return GenreFilterCheck(&genre);
}

bool ADirSong::VPathArtistFilterCheck(AString* vpath) const
{
    if (!vpath || artistFilterMode == 0)
        return true;
    AString artist = Component(*vpath, genreRelevantOnDupSongCompare ? 1 : 0, false);
    return ArtistFilterCheck(&artist);
}

bool ADirSong::VPathAlbumFilterCheck(AString* vpath) const
{
    if (!vpath || !albumRelevantOnDupSongCompare || albumFilterMode == 0)
        return true;
    AString album = Component(*vpath, genreRelevantOnDupSongCompare ? 2 : 1, false);
    return AlbumFilterCheck(&album);
}

bool ADirSong::VPathSongNameFilterCheck(AString* vpath) const
{
    if (!vpath || songNameFilterMode == 0)
        return true;
    int index = 1 + (genreRelevantOnDupSongCompare ? 1 : 0) + (albumRelevantOnDupSongCompare ? 1 : 0);
    AString name = Component(*vpath, index, true);
    return SongNameFilterCheck(&name);
}

bool ADirSong::VPathFilterCheck(AString* vpath) const
{
    return VPathGenreFilterCheck(vpath) && VPathArtistFilterCheck(vpath) && VPathAlbumFilterCheck(vpath) &&
           VPathSongNameFilterCheck(vpath);
}

AString ADirSong::GetName(AString vpath, signed char, signed char withGenre, signed char withAlbum)
{
    int skip = (vpath.GetLength() > 0 && vpath[0] == '/') ? 4 : 3;
    if (!withGenre)
        --skip;
    if (!withAlbum)
        --skip;
    int begin = 0;
    for (int i = 0; i < skip; ++i) {
        int slash = vpath.Find('/', begin);
        if (slash < 0)
            return AString();
        begin = slash + 1;
    }
    int end = vpath.Find('/', begin);
    if (end < 0)
        end = vpath.GetLength();
    AString name = vpath.Mid(begin, end - begin);
    int key = name.ReverseFind('?');
    if (key >= 0)
        name = name.Left(key);
    return name;
}

void ADirSong::RemoveSpaceNumber(AString* name)
{
    if (!name)
        return;
    const int length = name->GetLength();
    if (length < 3)
        return;
    const unsigned short last = (*name)[length - 1];
    if (name->ReverseFind(' ') == length - 2 && last >= '1' && last <= '9')
        name->Delete(length - 2, 2);
}

void ADirSong::RemoveSpaceNumberWithVPathCheck(AString* name, AString* vpathSoFar)
{
    if (!vpathSoFar)
        return;
    if (*vpathSoFar == "/*" || *vpathSoFar == "/*/*" || *vpathSoFar == "/*/*/*")
        RemoveSpaceNumber(name);
}
