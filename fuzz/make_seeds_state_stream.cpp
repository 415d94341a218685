// Writes the seed corpus of fuzz_state_stream with the real writers: string, array and file-list
// records as the program saves them, a few put together as in a state file, and a few damaged ones.
//
//   make_seeds_state_stream fuzz/corpus/fuzz_state_stream

#include "ACommon/base/AArray.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AFileList.h"
#include "ACommon/base/AString.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string folder;

std::vector<char> Record(const std::function<int(AFile*)>& write)
{
    std::string path = folder + "/.scratch";
    std::filesystem::remove(path);
    AString name = AString::FromUTF8(path);
    if (AFile::ReplaceSafely(&name, write, false) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return bytes;
}

void Save(const std::string& name, const std::vector<char>& bytes)
{
    std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<char> operator+(std::vector<char> a, const std::vector<char>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);

    auto stringRecord = [](const AString& s) { return Record([&](AFile* f) { return s.WriteState(f); }); };
    Save("string-empty", stringRecord(AString()));
    Save("string-ascii", stringRecord(AString("/Volumes/IPOD")));
    Save("string-accents", stringRecord(AString("Beyonc\xC3\xA9 / Mot\xC3\xB6rhead / e\xCC\x81")));
    Save("string-astral", stringRecord(AString("\xF0\x9F\x8E\xB5 note")));
    Save("string-1023", stringRecord(AString(std::u16string(1023, u'x'))));
    // One unit more than readers take: the writer refuses it, so it is put together here.
    std::vector<char> tooLong = {0, 0, 0x10, 0, 0x02, 0x08, '\xFF', '\xFE'}; // 2 + 2 x 1024 bytes
    for (int i = 0; i < 1024; ++i)
        tooLong.insert(tooLong.end(), {'x', 0});
    Save("string-1024-refused", tooLong);
    Save("string-big-endian", std::vector<char>{0, 0, 0x10, 0, 6, 0, '\xFE', '\xFF', 0, 'h', 0, 'i'});
    Save("string-empty-no-mark", std::vector<char>{0, 0, 0x10, 0, 0, 0});

    AArray values;
    values.AddPtr(reinterpret_cast<const void*>(uintptr_t{0x12345678}));
    values.AddCopy("abc", 3);
    values.AddCopy(nullptr, 0);
    std::vector<char> arrayMixed = Record([&](AFile* f) { return values.WriteState(f); });
    Save("array-mixed", arrayMixed);
    Save("array-empty", Record([](AFile* f) { return AArray().WriteState(f); }));
    // A count of four billion values, and a copy of 2 GB: both must be refused from the size of the
    // file, before anything is reserved (the fuzzer's allocation limit fails the run otherwise).
    Save("array-huge-count",
         std::vector<char>{1, 0, 0x10, 0, '\xFF', '\xFF', '\xFF', '\xFF', 4, 0, 0, 0, 'a', 'b', 'c', 'd'});
    Save("array-huge-copy",
         std::vector<char>{1, 0, 0x10, 0, 1, 0, 0, 0, '\xF0', '\xFF', '\xFF', 0x7F, 'a', 'b', 'c', 'd'});

    AFileList list;
    AString root("/Volumes/IPOD/iPod_Control/Music");
    list.SetRootPath(&root);
    list.AddWithTime(new AString("Rock/Artist/Album/Song/mp3?0"), 3000000000ull);
    list.AddWithTime(new AString("Pop/Beyonc\xC3\xA9/Album/Halo/m4a?1"), 3100000000ull);
    list.AddWithTime(new AString(""), 0);
    std::vector<char> fileList = Record([&](AFile* f) { return list.WriteState(f); });
    Save("filelist-three", fileList);
    AFileList emptyList;
    Save("filelist-empty", Record([&](AFile* f) { return emptyList.WriteState(f); }));

    Save("state-string-array-list", stringRecord(AString("sync 1")) + arrayMixed + fileList);
    std::vector<char> cut(fileList.begin(), fileList.begin() + static_cast<long>(fileList.size()) - 5);
    Save("filelist-truncated", cut);
    std::vector<char> hugeCount = fileList;
    // The count of the records sits after the list mark, the root record and the array mark.
    size_t countAt = 4 + 4 + 2 + 2 + 2 * static_cast<size_t>(list.GetRootPath().GetLength()) + 4;
    hugeCount[countAt] = hugeCount[countAt + 1] = hugeCount[countAt + 2] = hugeCount[countAt + 3] = '\xFF';
    Save("filelist-huge-count", hugeCount); // refused before anything is reserved, as above
    std::printf("seeds written to %s\n", folder.c_str());
    return 0;
}
