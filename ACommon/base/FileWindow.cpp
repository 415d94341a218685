#include "ACommon/base/FileWindow.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

FileWindow::FileWindow(AFile& source, std::uint64_t size) : file(source), fileSize(size) {}

int FileWindow::Fill(std::uint64_t offset)
{
    if (!block)
        block.reset(new std::uint8_t[kBlockSize]);
    blockStart = offset;
    blockFilled = 0;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, fileSize - offset));
    if (int err = file.Seek(offset); err != 0)
        return err;
    unsigned got = 0;
    if (int err = file.Read(block.get(), static_cast<unsigned>(want), &got); err != 0)
        return err;
    blockFilled = got;
    return 0;
}

std::span<const std::uint8_t> FileWindow::View(std::uint64_t offset, std::size_t n)
{
    if (error != 0 || offset >= fileSize)
        return {};
    n = static_cast<std::size_t>(std::min<std::uint64_t>({n, kBlockSize, fileSize - offset}));
    bool cached =
        offset >= blockStart && offset - blockStart <= blockFilled && offset - blockStart + n <= blockFilled;
    if (!cached) {
        if (int err = Fill(offset); err != 0) {
            error = err;
            return {};
        }
    }
    std::size_t at = static_cast<std::size_t>(offset - blockStart);
    n = std::min(n, blockFilled - at);
    return std::span<const std::uint8_t>(block.get() + at, n);
}

std::span<const std::uint8_t> FileWindow::ViewAtLeast(std::uint64_t offset, std::size_t minimum)
{
    if (error != 0 || offset >= fileSize)
        return {};
    if (offset >= blockStart && offset - blockStart < blockFilled) {
        std::size_t at = static_cast<std::size_t>(offset - blockStart);
        std::size_t cached = blockFilled - at;
        if (cached >= minimum || blockStart + blockFilled >= fileSize)
            return std::span<const std::uint8_t>(block.get() + at, cached);
    }
    return View(offset, kBlockSize);
}

int FileWindow::ReadExact(std::uint64_t offset, std::size_t n, void* out)
{
    if (offset > fileSize || n > fileSize - offset)
        return kErrEndOfFile;
    if (offset >= blockStart && offset - blockStart <= blockFilled &&
        offset - blockStart + n <= blockFilled) {
        std::memcpy(out, block.get() + (offset - blockStart), n);
        return 0;
    }
    if (n <= kBlockSize / 2) {
        std::span<const std::uint8_t> view = View(offset, n);
        if (view.size() != n)
            return error != 0 ? error : kErrEndOfFile;
        std::memcpy(out, view.data(), n);
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(out);
    while (n > 0) {
        unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30));
        if (int err = file.Seek(offset); err != 0)
            return err;
        unsigned got = 0;
        if (int err = file.Read(bytes, chunk, &got); err != 0)
            return err;
        if (got != chunk)
            return kErrEndOfFile; // the file shrank under us
        bytes += chunk;
        offset += chunk;
        n -= chunk;
    }
    return 0;
}

int FileWindow::ReadInto(std::uint64_t offset, std::size_t n, std::vector<std::uint8_t>& out)
{
    if (offset > fileSize || n > fileSize - offset)
        return kErrEndOfFile;
    try {
        out.resize(n);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    } catch (const std::length_error&) {
        return kErrOutOfMemory;
    }
    if (n == 0)
        return 0;
    return ReadExact(offset, n, out.data());
}
