#include "ACommon/base/FreeLater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

struct Counted {
    explicit Counted(std::atomic<int>& counter, std::thread::id* freedOn = nullptr)
        : gone(counter), where(freedOn)
    {
    }
    ~Counted()
    {
        if (where)
            *where = std::this_thread::get_id();
        ++gone;
    }
    std::atomic<int>& gone;
    std::thread::id* where;
};

TEST(FreeLater, WhatIsHandedOverIsFreedOnAThreadOfItsOwn)
{
    std::atomic<int> gone{0};
    std::thread::id where;
    for (int i = 0; i < 100; ++i)
        FreeLater::Free(std::make_unique<Counted>(gone, i == 0 ? &where : nullptr));
    FreeLater::Free(std::unique_ptr<Counted>());
    FreeLater::Drain();
    EXPECT_EQ(gone.load(), 100);
    EXPECT_NE(where, std::this_thread::get_id());
}

} // namespace
