// Feeds arbitrary bytes, as the content of a state file, to the readers of the state stream:
// AString::ReadState, AArray::ReadState and AFileList::ReadState, each from the start of the file
// and all three one after another (as records follow each other in a real state file). A reader
// must return an error code for bad bytes, never crash, hang or allocate more than the file holds.
// Whatever a reader accepts is written back and must read back the same.

#include "ACommon/base/AArray.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AFileList.h"
#include "ACommon/base/AString.h"
#include "fuzz/FuzzScratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

FuzzScratch& Scratch()
{
    static FuzzScratch scratch("state");
    return scratch;
}

// Writes `object` with WriteState and reads it back into `copy` with ReadState.
template <typename T> bool RoundTrip(const T& object, T& copy)
{
    Scratch().WriteOutput(object);
    AFile in;
    Scratch().OpenOutput(in);
    return copy.ReadState(&in) == 0 && in.Remaining() == 0;
}

bool SameArrays(const AArray& a, const AArray& b)
{
    if (a.Count() != b.Count())
        return false;
    static uint8_t x[1 << 20], y[1 << 20]; // larger than any input the fuzzer makes
    for (int i = 0; i < a.Count(); ++i) {
        int nx = a.Get(i, x, sizeof x), ny = b.Get(i, y, sizeof y);
        if (nx != ny || std::memcmp(x, y, static_cast<size_t>(nx)) != 0)
            return false;
        // A value (a pointer when written) reads back as its low 32 bits; an empty copy has no bytes.
        if (nx == 0 && (reinterpret_cast<uintptr_t>(a.GetDataPtr(i)) & 0xFFFFFFFFu) !=
                           (reinterpret_cast<uintptr_t>(b.GetDataPtr(i)) & 0xFFFFFFFFu))
            return false;
    }
    return true;
}

// Longer strings are written but refused on reading, by design: only shorter ones must round-trip.
bool Storable(const AString& s) { return s.GetLength() <= 1023; }

void CheckString(AFile& in)
{
    AString s("unchanged");
    if (s.ReadState(&in) != 0) {
        if (s != "unchanged")
            std::abort(); // a failed read keeps the old value
        return;
    }
    AString back;
    if (Storable(s) && (!RoundTrip(s, back) || back != s))
        std::abort();
}

void CheckArray(AFile& in)
{
    AArray a;
    if (a.ReadState(&in) != 0)
        return;
    AArray back;
    if (!RoundTrip(a, back) || !SameArrays(a, back))
        std::abort();
}

void CheckFileList(AFile& in)
{
    AFileList list;
    int err = list.ReadState(&in);
    for (int i = 0; i < list.Count(); ++i)
        if (!list.Get(i))
            std::abort(); // every record has a path, also after a failure
    if (err != 0)
        return;
    bool storable = Storable(list.GetRootPath());
    for (int i = 0; i < list.Count(); ++i)
        storable = storable && Storable(*list.Get(i));
    if (!storable)
        return;
    AFileList back;
    if (!RoundTrip(list, back) || back.Count() != list.Count() || back.GetRootPath() != list.GetRootPath())
        std::abort();
    for (int i = 0; i < list.Count(); ++i)
        if (*back.Get(i) != *list.Get(i) || back.GetModTime(i) != list.GetModTime(i))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AFile in;
    Scratch().OpenInput(data, size, in);
    CheckString(in);
    in.Seek(0);
    CheckArray(in);
    in.Seek(0);
    CheckFileList(in);

    // The three records one after another, as a state file holds them.
    in.Seek(0);
    AString s;
    AArray a;
    AFileList list;
    if (s.ReadState(&in) == 0 && a.ReadState(&in) == 0)
        list.ReadState(&in);
    return 0;
}
