#include "ACommon/base/FreeLater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

TEST(FreeLater, AChildProcessFreesWithAThreadOfItsOwn)
{
    std::atomic<int> gone{0};
    FreeLater::Free(std::make_unique<Counted>(gone));
    FreeLater::Drain();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20); // a child left waiting for a thread it does not have fails, not hangs
        std::atomic<int> goneInChild{0};
        FreeLater::Free(std::make_unique<Counted>(goneInChild));
        FreeLater::Drain();
        _exit(goneInChild.load() == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
