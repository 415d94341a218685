#include "ACommon/tags/SongName.h"

AString SongName::OfVirtualPath(const AString& vpath, signed char, signed char withGenre,
                                signed char withAlbum)
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

void SongName::RemoveSpaceNumber(AString* name)
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
