#pragma once
// AFileList: the file list of one source: a root path and records of (modification time, size, path
// relative to the root). The list owns the paths given to it. Sorted case-insensitively.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <memory>
#include <vector>

class AFile;

class AFileList {
public:
    struct AFileInfo {
        std::uint64_t modTime = 0; // file time; 0 when the file is missing or has no date
        // The file's size. A record read back from a state record knows only the low 32 bits; 0
        // there means "not known" (lists saved before sizes were kept).
        std::uint64_t size = 0;
        AString* path = nullptr; // owned by the list
    };

    AFileList() = default;
    ~AFileList();
    AFileList(const AFileList&) = delete;
    AFileList& operator=(const AFileList&) = delete;

    void SetRootPath(const AString* p);
    const AString& GetRootPath() const { return root; }

    int Add(AString* relPath); // takes ownership; returns the record's index
    // Adds a record whose time is already known (no file-system query); takes ownership.
    int AddWithTime(AString* relPath, std::uint64_t modTime, std::uint64_t size = 0);
    AString* Get(int index) const;
    std::uint64_t GetModTime(int index) const;
    std::uint64_t GetSize(int index) const;
    void Delete(int index);
    void DeleteAll();
    int Count() const { return static_cast<int>(infos.size()); }
    // Trades records (not roots) with `other`.
    void SwapRecords(AFileList& other) noexcept { infos.swap(other.infos); }
    void Sort(signed char ascending);
    // Sorts A to Z by the exact names (UTF-16 code units): names that differ in case or Unicode
    // form are different names, as on most Linux file systems.
    void SortExact();

    static int CompareAscending(const void* a, const void* b);
    static int CompareDescending(const void* a, const void* b);

    int WriteState(AFile* f) const;
    int ReadState(AFile* f);

    static constexpr std::uint32_t kStateMark = 0x00100000;

private:
    AFileInfo MakeRecord(AString* relPath) const;

    AString root;
    std::vector<AFileInfo> infos;
};
