#include "ACommon/base/AArray.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

using fixtures::Bytes;

namespace {

const void* Value(std::uintptr_t v) { return reinterpret_cast<const void*>(v); }
std::uintptr_t ValueAt(const AArray& a, int i) { return reinterpret_cast<std::uintptr_t>(a.GetDataPtr(i)); }

std::string CopyAt(const AArray& a, int i)
{
    char buffer[64] = {};
    int n = a.Get(i, buffer, sizeof buffer);
    return std::string(buffer, n);
}

} // namespace

TEST(AArray, ValuesAreInsertedBeforeTheIndex)
{
    AArray a;
    a.AddPtr(Value(10));
    a.Add(Value(30), sizeof(void*));
    a.InsertPtr(Value(20), 1);
    a.Insert(Value(5), sizeof(void*), 0);
    auto values = [&a] {
        std::vector<std::uintptr_t> v;
        for (int i = 0; i < a.Count(); ++i)
            v.push_back(ValueAt(a, i));
        return v;
    };
    EXPECT_EQ(values(), (std::vector<std::uintptr_t>{5, 10, 20, 30}));
    a.Delete(1);
    EXPECT_EQ(values(), (std::vector<std::uintptr_t>{5, 20, 30}));
    a.DeleteAll();
    EXPECT_EQ(a.Count(), 0);
    // Copies belong to the array.
    char text[] = "hello";
    ASSERT_EQ(a.AddCopy(text, 5), 0);
    std::strcpy(text, "xxxxx");
    EXPECT_EQ(CopyAt(a, 0), "hello") << "the array keeps its own copy";
    EXPECT_EQ(std::memcmp(a.GetDataPtr(0), "hello", 5), 0);

    char small[2] = {};
    EXPECT_EQ(a.Get(0, small, 2), 2) << "Get copies at most the size asked for";
    EXPECT_EQ(std::string(small, 2), "he");

    ASSERT_EQ(a.SetCopy(0, "bye", 3), 0);
    EXPECT_EQ(CopyAt(a, 0), "bye");
}

class AArrayState : public ::testing::Test {
protected:
    fixtures::TempDir dir;
    std::string path = dir / "state";

    int Read(AArray& a, const Bytes& bytes)
    {
        AFile f;
        if (fixtures::OpenWith(f, path, bytes) != 0)
            return -1;
        return a.ReadState(&f);
    }
};

TEST_F(AArrayState, WriteStateLayout)
{
    AArray a;
    a.AddPtr(Value(0x1234));
    a.AddCopy("abc", 3);
    a.AddCopy(nullptr, 0);
    Bytes expected = {0x01, 0x00, 0x10, 0x00,                // mark 0x00100001
                      3,    0,    0,    0,                   // count
                      0x1C, 0x4B, 0xF0, 0x06,                // value tag 116411164
                      0x34, 0x12, 0,    0,                   // the value's low 32 bits
                      3,    0,    0,    0,    'a', 'b', 'c', // a copy: its length and bytes
                      0,    0,    0,    0};                  // an empty copy
    EXPECT_EQ(fixtures::BytesWrittenBy(path, [&](AFile* f) { return a.WriteState(f); }), expected);
}

TEST_F(AArrayState, ReadStateAppends)
{
    AArray a;
    a.AddCopy("first", 5);
    Bytes bytes = {0x01, 0x00, 0x10, 0x00, 3, 0, 0, 0, 0x1C, 0x4B, 0xF0, 0x06, 0x78,
                   0x56, 0x34, 0x12, 0,    0, 0, 0, 2, 0,    0,    0,    'h',  'i'};
    ASSERT_EQ(Read(a, bytes), 0);
    ASSERT_EQ(a.Count(), 4);
    EXPECT_EQ(CopyAt(a, 0), "first");
    EXPECT_EQ(ValueAt(a, 1), 0x12345678u);
    EXPECT_EQ(CopyAt(a, 2), "") << "a length of 0 is an empty copy";
    EXPECT_EQ(CopyAt(a, 3), "hi");
}
