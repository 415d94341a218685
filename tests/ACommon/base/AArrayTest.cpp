#include "ACommon/base/AArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

const void* Value(std::uintptr_t v) { return reinterpret_cast<const void*>(v); }

std::vector<std::uintptr_t> Values(const AArray& a)
{
    std::vector<std::uintptr_t> values;
    for (int i = 0; i < a.Count(); ++i)
        values.push_back(reinterpret_cast<std::uintptr_t>(a.GetDataPtr(i)));
    return values;
}

} // namespace

// (The program uses the array as a list of pointers only: the sync's actions.)
TEST(AArray, PointersKeepTheirOrderThroughDeletes)
{
    AArray a;
    for (std::uintptr_t v : {5, 10, 20, 30})
        a.AddPtr(Value(v));
    a.Delete(1);
    a.Delete(3); // past the end: nothing
    a.Delete(-1);
    EXPECT_EQ(Values(a), (std::vector<std::uintptr_t>{5, 20, 30}));
    EXPECT_EQ(a.GetDataPtr(3), nullptr);
    EXPECT_EQ(a.GetDataPtr(-1), nullptr);
}
