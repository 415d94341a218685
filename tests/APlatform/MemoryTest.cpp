#include "APlatform/Memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <vector>

// Sanitizers replace the allocator; other C libraries keep freed memory their own way.
#if !defined(__SANITIZE_ADDRESS__) && defined(__GLIBC__)
#define PELORIN_GLIBC_HEAP 1
#endif

#ifdef PELORIN_GLIBC_HEAP
namespace {

std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

} // namespace
#endif

TEST(Memory, FreedSmallBlocksGoBackToTheSystem)
{
#ifndef PELORIN_GLIBC_HEAP
    GTEST_SKIP() << "only the C library's own allocator keeps freed memory this way";
#else
    constexpr std::size_t kBlocks = 50000, kBlockSize = 1000;
    std::vector<std::unique_ptr<char[]>> blocks(kBlocks);
    for (auto& block : blocks) {
        block = std::make_unique<char[]>(kBlockSize);
        std::memset(block.get(), 1, kBlockSize);
    }
    // A block kept above the freed ones, so that freeing alone cannot shrink the heap.
    const auto kept = std::make_unique<char[]>(kBlockSize);
    for (auto& block : blocks)
        block.reset();
    const std::size_t before = ResidentBytes();
    platform::ReturnFreedMemory();
    EXPECT_LT(ResidentBytes() + kBlocks * kBlockSize / 2, before);
#endif
}
