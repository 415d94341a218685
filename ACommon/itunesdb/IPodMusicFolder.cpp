#include "ACommon/itunesdb/IPodMusicFolder.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/CRC32.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/tags/SongInfoStruct.h"

#include <cstdio>

namespace {

constexpr int kNamesPerFolder = 26 * 26 * 26 * 26;

} // namespace

void IPodMusicFolder::Known::Forget()
{
    root = AString();
    folders.fill(AString());
}

int IPodMusicFolder::ChooseDestination(const AString& root, const AString& source, const SongInfoStruct& song,
                                       AString& destination, Known* known)
{
    AString fileName;
    source.LastPathComponent(&fileName);
    AString extension;
    if (const int dot = fileName.ReverseFind('.'); dot >= 0)
        extension = fileName.Mid(dot, fileName.GetLength());

    // The key only spreads the songs over the folders and picks a first name to try.
    CRC32 crc;
    for (const AString* text : {&song.genre, &song.artist, &song.album, &song.modifiedName})
        crc.Update(*text);
    const std::uint32_t key = crc.GetValue();
    int number = static_cast<int>(key & 0xFFFFFF);
    const unsigned folderNumber = (key >> 24) % 100;
    char folderName[8];
    std::snprintf(folderName, sizeof folderName, "F%02u", folderNumber);
    AString relativeFolder("iPod_Control/Music/");
    relativeFolder += folderName;
    if (known && known->root != root) {
        known->Forget();
        known->root = root;
    }
    AString* remembered = known ? &known->folders[folderNumber] : nullptr;
    // The folder under its usual name, found with one call; the search that ignores case otherwise.
    AString folder = root;
    bool exists = remembered && !remembered->IsEmpty();
    if (exists) {
        folder = *remembered;
    } else {
        folder.AppendPathComponent(relativeFolder);
        exists = AFile::DirExists(&folder);
    }
    if (!exists) {
        folder = IPodDB::ResolveIPodPath(root, relativeFolder.CStr());
        exists = AFile::DirExists(&folder);
    }
    if (!exists) {
        // Music folders are made inside the iPod's own folder only: where that is gone, the iPod
        // was unplugged or unmounted, and its mount point is a folder of another disk.
        const AString control = IPodDB::ResolveIPodPath(root, "iPod_Control");
        if (!AFile::DirExists(&control))
            return kErrDisconnected;
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;
        if (int err = AFile::SetVisibility(&folder, 0); err != 0)
            return err;
    }
    if (remembered)
        *remembered = folder;

    // Four letters name 26^4 files; a folder holding that many has no free name left.
    for (int tries = 0;; ++tries) {
        if (tries == kNamesPerFolder)
            return kErrUnableToCopy;
        AString letters = AString::Base26Num(number);
        if (letters.GetLength() > 4)
            letters = letters.Right(4);
        destination = folder;
        destination.AppendPathComponent(IPodDB::IPodFileName(letters + extension));
        if (!AFile::FileExists(&destination)) // nothing at all of that name, not even a link
            break;
        number = (number + 1) & 0xFFFFFF;
    }
    return 0;
}
