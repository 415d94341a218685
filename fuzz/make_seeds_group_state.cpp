// Writes the seed corpus of fuzz_group_state with the real writers: the state file of a new iPod
// sync, one whose lists were saved by a two-way sync (a whole iPod database inside), and a group of
// several syncs of different kinds.
//
//   make_seeds_group_state fuzz/corpus/fuzz_group_state

#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/tags/SongInfoStruct.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void Save(ASyncGroup& group, const std::string& path)
{
    AString name = AString::FromUTF8(path);
    if (group.WriteSyncState(&name) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

void AddTrack(ADirPodDB* pod, const char* title, const char* file)
{
    SongInfoStruct song;
    song.name = title;
    song.modifiedName = title;
    song.artist = "Artist";
    song.album = "Album";
    song.genre = "Rock";
    song.filePath = file;
    song.fileExtension = "mp3";
    song.size = 4000;
    song.bitRate = 128;
    song.duration = 200;
    pod->GetDatabase()->AddSong(song, nullptr, 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);

    {
        ASyncGroup group;
        group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        Save(group, folder + "/new-ipod-sync");
    }
    {
        ASyncGroup group;
        group.SetGroupName(AString("Pocket"));
        ASyncLib* sync = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        sync->SetAutoAction(ASync::kTwoWay);
        sync->SetDestDeletes(1);
        AString genres(":Rock:");
        sync->SetGenreFilterMode(1);
        sync->SetGenreIncludeFilter(&genres);
        auto* saved = static_cast<ADirPodDB*>(sync->GetSavedDir2());
        AString root("/media/user/POD");
        saved->SetRootPath(&root);
        AddTrack(saved, "One", "/iPod_Control/Music/F01/ABCD.mp3");
        AddTrack(saved, "Two", "/iPod_Control/Music/F02/ABCE.mp3");
        AString path("/Rock/Artist/Album/One/mp3?0");
        sync->GetSavedDir1()->AddFPath(&path);
        Save(group, folder + "/two-way-saved-lists");
    }
    {
        ASyncGroup group;
        group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
        group.AddASyncLib(ADir::kTypeFolder, ADir::kTypeFolder)->SetAutoAction(ASync::kDoNotSync);
        group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB)->SetAutoAction(ASync::kRightToLeft);
        Save(group, folder + "/three-syncs");
    }
    return 0;
}
