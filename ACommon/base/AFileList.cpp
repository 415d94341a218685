#include "ACommon/base/AFileList.h"

#include "ACommon/base/AArray.h"
#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AStateStream.h"

#include <algorithm>
#include <utility>

AFileList::~AFileList() { DeleteAll(); }

void AFileList::SetRootPath(const AString* p)
{
    root = p;
    if (!root.IsEmpty() && root.ReverseFind('/') != root.GetLength() - 1)
        root += '/';
}

AFileList::AFileInfo AFileList::MakeRecord(AString* relPath) const
{
    AFileInfo info;
    // Every record has a path: a null one becomes the empty path.
    info.path = relPath ? relPath : new AString();
    if (root.IsEmpty()) {
        info.modTime = AFile::FileModTime(info.path);
        info.size = AFile::GetFileSize(info.path);
    } else {
        AString full = root;
        full.AppendPathComponent(*info.path);
        info.modTime = AFile::FileModTime(&full);
        info.size = AFile::GetFileSize(&full);
    }
    return info;
}

int AFileList::Add(AString* relPath)
{
    infos.push_back(MakeRecord(relPath));
    return Count() - 1;
}

int AFileList::AddWithTime(AString* relPath, std::uint64_t modTime, std::uint64_t size)
{
    infos.push_back({modTime, size, relPath ? relPath : new AString()});
    return Count() - 1;
}

AString* AFileList::Get(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return infos[index].path;
}

std::uint64_t AFileList::GetModTime(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return infos[index].modTime;
}

std::uint64_t AFileList::GetSize(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return infos[index].size;
}

void AFileList::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    delete infos[index].path;
    infos.erase(infos.begin() + index);
}

void AFileList::DeleteAll()
{
    for (AFileInfo& info : infos)
        delete info.path;
    infos.clear();
}

void AFileList::Sort(signed char ascending)
{
    if (ascending)
        std::sort(infos.begin(), infos.end(),
                  [](const AFileInfo& a, const AFileInfo& b) { return a.path->CompareNoCase(*b.path) < 0; });
    else
        std::sort(infos.begin(), infos.end(),
                  [](const AFileInfo& a, const AFileInfo& b) { return b.path->CompareNoCase(*a.path) < 0; });
}

void AFileList::SortExact()
{
    std::sort(infos.begin(), infos.end(),
              [](const AFileInfo& a, const AFileInfo& b) { return a.path->Units() < b.path->Units(); });
}

int AFileList::CompareAscending(const void* a, const void* b)
{
    const auto* x = static_cast<const AFileInfo*>(a);
    const auto* y = static_cast<const AFileInfo*>(b);
    return x->path->CompareNoCase(*y->path);
}

int AFileList::CompareDescending(const void* a, const void* b) { return CompareAscending(b, a); }

int AFileList::WriteState(AFile* f) const
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = root.WriteState(f); err != 0)
        return err;
    if (int err = AStateStream::WriteU32(f, AArray::kStateMark); err != 0)
        return err;
    if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(infos.size())); err != 0)
        return err;
    for (const AFileInfo& info : infos) {
        unsigned char block[16] = {12, 0, 0, 0};
        for (int i = 0; i < 8; ++i)
            block[4 + i] = static_cast<unsigned char>(info.modTime >> (8 * i));
        // The last four bytes stood for the path pointer, and older readers skip them: they carry
        // the low 32 bits of the size, which tell an edit that kept the date from no change.
        for (int i = 0; i < 4; ++i)
            block[12 + i] = static_cast<unsigned char>(info.size >> (8 * i));
        if (int err = f->Write(block, 16); err != 0)
            return err;
    }
    for (const AFileInfo& info : infos)
        if (int err = info.path->WriteState(f); err != 0)
            return err;
    return 0;
}

int AFileList::ReadState(AFile* f)
{
    DeleteAll();
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    AString readRoot;
    if (int err = readRoot.ReadState(f); err != 0)
        return err;
    root = readRoot;
    if (int err = AStateStream::ReadMark(f, AArray::kStateMark); err != 0)
        return err;
    std::uint32_t count = 0;
    if (int err = AStateStream::ReadU32(f, &count); err != 0)
        return err;
    // Each record takes at least 12 bytes in the array (its length and time) and 6 for its path (a
    // string record of an empty string written without a byte-order mark): refuse a count that
    // cannot fit before anything is reserved for it.
    if (static_cast<unsigned long long>(count) * 18 > f->Remaining())
        return kErrEndOfFile;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> timesAndSizes;
    timesAndSizes.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        if (int err = AStateStream::ReadU32(f, &length); err != 0)
            return err;
        if (length < 8 || length == AArray::kValueTag || length > f->Remaining())
            return kErrEndOfFile;
        std::uint64_t time = 0;
        if (int err = AStateStream::ReadU64(f, &time); err != 0)
            return err;
        std::uint32_t size = 0;
        if (length >= 12) {
            if (int err = AStateStream::ReadU32(f, &size); err != 0)
                return err;
            f->Seek(f->GetFilePos() + (length - 12));
        } else {
            f->Seek(f->GetFilePos() + (length - 8));
        }
        timesAndSizes.push_back({time, size});
    }
    infos.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto path = std::make_unique<AString>();
        if (int err = path->ReadState(f); err != 0)
            return err; // the records read so far keep their paths
        infos.push_back({timesAndSizes[i].first, timesAndSizes[i].second, path.release()});
    }
    return 0;
}
