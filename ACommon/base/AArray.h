#pragma once
// AArray: an ordered list whose elements are either pointer-sized values (stored as given, never
// owned) or copies of byte blocks, owned by the array.

#include <cstddef>
#include <cstdint>
#include <vector>

class AFile;

class AArray {
public:
    void AddPtr(const void* p);
    int AddCopy(const void* data, int size);       // 0 or kErrOutOfMemory
    int Get(int index, void* buf, int size) const; // copies: bytes copied
    void* GetDataPtr(int index) const;             // copy: its bytes; value: the value
    void Delete(int index);
    void DeleteAll();
    int Count() const { return static_cast<int>(elements.size()); }

    // The array record: mark 0x00100001, the count, then per element either the tag 116411164 and a
    // 4-byte value, or the byte length and the bytes.
    int WriteState(AFile* f) const;
    int ReadState(AFile* f); // appends to the elements already present

    static constexpr std::uint32_t kStateMark = 0x00100001;
    static constexpr std::uint32_t kValueTag = 116411164;

private:
    struct Element {
        bool isCopy = false;
        std::uintptr_t value = 0;
        std::vector<unsigned char> copy;
    };
    std::vector<Element> elements;
};
