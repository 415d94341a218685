#include "ACommon/base/AArray.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AStateStream.h"

#include <algorithm>
#include <cstring>
#include <new>

void AArray::AddPtr(const void* p)
{
    Element element;
    element.value = reinterpret_cast<std::uintptr_t>(p);
    elements.push_back(std::move(element));
}

int AArray::AddCopy(const void* data, int size)
{
    try {
        Element element;
        element.isCopy = true;
        if (size > 0)
            element.copy.assign(static_cast<const unsigned char*>(data),
                                static_cast<const unsigned char*>(data) + size);
        elements.push_back(std::move(element));
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return 0;
}

int AArray::Get(int index, void* buf, int size) const
{
    if (index < 0 || index >= Count() || !elements[index].isCopy || size <= 0)
        return 0;
    int n = std::min(size, static_cast<int>(elements[index].copy.size()));
    if (n > 0)
        std::memcpy(buf, elements[index].copy.data(), n);
    return n;
}

void* AArray::GetDataPtr(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    const Element& element = elements[index];
    if (element.isCopy)
        return const_cast<unsigned char*>(element.copy.data());
    return reinterpret_cast<void*>(element.value);
}

void AArray::Delete(int index)
{
    if (index >= 0 && index < Count())
        elements.erase(elements.begin() + index);
}

void AArray::DeleteAll() { elements.clear(); }

int AArray::WriteState(AFile* f) const
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(elements.size())); err != 0)
        return err;
    for (const Element& element : elements) {
        if (!element.isCopy) {
            if (int err = AStateStream::WriteU32(f, kValueTag); err != 0)
                return err;
            if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(element.value)); err != 0)
                return err;
            continue;
        }
        if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(element.copy.size())); err != 0)
            return err;
        if (!element.copy.empty()) {
            if (int err = f->Write(element.copy.data(), static_cast<unsigned>(element.copy.size())); err != 0)
                return err;
        }
    }
    return 0;
}

int AArray::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    std::uint32_t count = 0;
    if (int err = AStateStream::ReadU32(f, &count); err != 0)
        return err;
    // Every element takes at least four bytes: a count that cannot fit in the rest of the file is
    // corrupt, and nothing is reserved for it.
    if (static_cast<unsigned long long>(count) * 4 > f->Remaining())
        return kErrEndOfFile;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        if (int err = AStateStream::ReadU32(f, &length); err != 0)
            return err;
        if (length == kValueTag) {
            std::uint32_t value = 0;
            if (int err = AStateStream::ReadU32(f, &value); err != 0)
                return err;
            AddPtr(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(value)));
            continue;
        }
        if (length > f->Remaining())
            return kErrEndOfFile;
        try {
            Element element;
            element.isCopy = true;
            element.copy.resize(length);
            if (length > 0) {
                if (int err = f->Read(element.copy.data(), length, nullptr); err != 0)
                    return err;
            }
            elements.push_back(std::move(element));
        } catch (const std::bad_alloc&) {
            return kErrOutOfMemory;
        }
    }
    return 0;
}
