// libFuzzer target for the tag reader: the input is written as an .mp3, an .m4a, an .aiff, a .flac,
// an .ogg and a .wav file and read by ID3 (with every picture read back); inputs whose last byte is a
// multiple of 4 also get a picture written into the .mp3, which is then read again.

#include "ACommon/base/AString.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A folder of our own for the files, on a memory file system when there is one.
const std::string& Folder()
{
    static const std::string folder = [] {
        std::string base =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/pelorin-fuzz-tags-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data()))
            std::abort();
        return std::string(buffer.data());
    }();
    // Registered once the folder name exists, so that it is removed before the name goes.
    static const bool cleanUp = std::atexit([] {
                                    std::error_code error;
                                    std::filesystem::remove_all(Folder(), error);
                                }) == 0;
    (void)cleanUp;
    return folder;
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
}

void ReadEverything(const AString& path)
{
    ID3 tags;
    if (tags.SetFilePath(path) != 0)
        return;
    SongInfoStruct info;
    tags.GetSongInfo(info);
    std::vector<std::uint8_t> picture;
    for (int i = 0; i < tags.GetImageCount(); ++i)
        tags.ReadImageData(i, picture);
    unsigned long long start = 0, end = 0;
    tags.GetMusicRange(&start, &end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& folder = Folder();
    std::vector<AString> paths;
    for (const char* name : {"/in.mp3", "/in.m4a", "/in.aiff", "/in.flac", "/in.ogg", "/in.wav"}) {
        std::string path = folder + name;
        WriteBytes(path, data, size);
        paths.push_back(AString::FromUTF8(path));
        ReadEverything(paths.back());
    }
    ID3::CalcMusicSize(&paths[1]);
    ID3::CalcMusicSize(&paths[4]);
    ID3::FilesEqualMusicCRC32(&paths[0], &paths[2]);

    if (size > 0 && data[size - 1] % 4 == 0) {
        static const std::uint8_t kPicture[] = {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0x00, 0x12, 0xFF, 0xFF, 0xD9};
        ID3 tags;
        if (tags.SetFilePath(paths[0]) == 0 && tags.InsertImage(kPicture, sizeof kPicture) == 0)
            ReadEverything(paths[0]);
    }
    return 0;
}
