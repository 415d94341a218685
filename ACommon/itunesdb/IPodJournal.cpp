#include "ACommon/itunesdb/IPodJournal.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodDB.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kMagic = "PLJ1";
// No string the journal holds comes near this; a longer count is damage.
constexpr std::uint32_t kMaxString = 1 << 16;
// Nor does a journal: it is emptied at every store.
constexpr std::uint64_t kMaxJournal = 16u << 20;
// The kind of the entry that holds the plays mark.
constexpr std::uint8_t kPlaysKind = 3;
constexpr const char* kPlaysLocation = "/iPod_Control/iTunes/Play Counts";

void WriteString(ByteWriter& out, const AString& text)
{
    const std::string bytes = text.ToStdString();
    out.WriteU32LE(static_cast<std::uint32_t>(bytes.size()));
    out.WriteBytes(bytes.data(), bytes.size());
}

bool ReadString(ByteReader& in, AString& text)
{
    const std::uint32_t length = in.ReadU32LE();
    if (!in.Ok() || length > kMaxString || !in.Has(length))
        return false;
    const std::span<const std::uint8_t> bytes = in.ReadSpan(length);
    text = AString::FromUTF8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return in.Ok();
}

} // namespace

IPodJournal::~IPodJournal() { CloseFile(); }

void IPodJournal::CloseFile()
{
    if (appendFd >= 0)
        close(appendFd);
    appendFd = -1;
}

const AString& IPodJournal::FilePath()
{
    // The folder is found without regard to case, which takes a look at each level: once per iPod.
    if (filePath.IsEmpty() || filePathRoot != root) {
        filePath = PathOf(root);
        filePathRoot = root;
    }
    return filePath;
}

// Writes `size` bytes at the end of the journal's file, which must be `onDisk` bytes long, without a
// flush, through the file kept open since the last entry (opened and checked for its length when it
// is not). On any failure the file is cut back to `onDisk` bytes where that can be done, and let go.
// 0, kErrNoSpace, kErrIO, or kErrUnknown when the file was not `onDisk` bytes long (nothing written).
int IPodJournal::Append(const std::uint8_t* data, std::size_t size)
{
    const AString& path = FilePath();
    auto fail = [&path](int code, const char* action, int systemError) {
        AError::NoteFailure(code, action, path, systemError);
        return code;
    };
    if (appendFd < 0) {
        const int fd = open(path.CStr(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return fail(kErrIO, "write", errno);
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
            static_cast<std::uint64_t>(info.st_size) != onDisk) {
            close(fd);
            return fail(kErrUnknown, "write", 0);
        }
        appendFd = fd;
    }
    off_t offset = static_cast<off_t>(onDisk);
    int systemError = 0;
    while (size > 0 && systemError == 0) {
        const ssize_t written = pwrite(appendFd, data, size, offset);
        if (written < 0 && errno != EINTR) {
            systemError = errno;
        } else if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            offset += written;
        }
    }
    if (systemError == 0)
        return 0;
    const bool cutBack = ftruncate(appendFd, static_cast<off_t>(onDisk)) == 0;
    CloseFile();
    const int code = systemError == ENOSPC || systemError == EDQUOT ? kErrNoSpace : kErrIO;
    return fail(code, cutBack ? "write" : "write (left cut short)", systemError);
}

AString IPodJournal::PathOf(const AString& root)
{
    AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes");
    path.AppendPathComponent(kFileName);
    return path;
}

IPodJournal& IPodJournal::Shared(const AString& root)
{
    static std::mutex guard;
    static std::map<std::string, std::unique_ptr<IPodJournal>> journals;
    std::string key = root.ToStdString();
    if (key.empty() || key.back() != '/')
        key += '/';
    std::lock_guard<std::mutex> hold(guard);
    std::unique_ptr<IPodJournal>& journal = journals[key];
    if (!journal) {
        journal = std::make_unique<IPodJournal>();
        journal->Read(AString::FromUTF8(key));
    }
    return *journal;
}

int IPodJournal::Remove(Kind kind, const AString& location)
{
    std::vector<Entry> left;
    for (const Entry& entry : entries)
        if (entry.kind != kind || entry.location != location)
            left.push_back(entry);
    if (left.size() == entries.size())
        return 0;
    return Set(std::move(left));
}

int IPodJournal::Read(const AString& iPodRoot)
{
    CloseFile();
    root = iPodRoot;
    entries.clear();
    plays.reset();
    onDisk = 0;
    onDiskKnown = false;
    const AString path = FilePath();
    if (AFile::GetPathType(&path) != AFile::kPathFile) {
        onDiskKnown = AFile::GetPathType(&path) == AFile::kPathOther;
        return 0;
    }
    std::vector<std::uint8_t> bytes;
    AFile f;
    if (int err = f.Open(&path, 1); err != 0)
        return err;
    if (f.GetEOF() > kMaxJournal)
        return kErrUnknown;
    try {
        bytes.resize(static_cast<std::size_t>(f.GetEOF()));
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (!bytes.empty())
        if (int err = f.Read(bytes.data(), static_cast<unsigned>(bytes.size()), nullptr); err != 0)
            return err;
    const int err = Parse(bytes, entries, &plays);
    onDisk = bytes.size();
    onDiskKnown = err == 0;
    return err;
}

std::optional<IPodJournal::PlaysMark> IPodJournal::ReadPlaysMark(const AString& root)
{
    IPodJournal journal;
    journal.Read(root);
    return journal.plays;
}

int IPodJournal::MarkPlays(const PlaysMark& mark)
{
    const std::optional<PlaysMark> before = plays;
    plays = mark;
    if (int err = Write(entries, true); err != 0) {
        plays = before;
        return err;
    }
    return 0;
}

int IPodJournal::ClearPlays()
{
    if (!plays)
        return 0;
    const std::optional<PlaysMark> before = plays;
    plays.reset();
    if (int err = Write(entries, true); err != 0) {
        plays = before;
        return err;
    }
    return 0;
}

int IPodJournal::Parse(std::span<const std::uint8_t> bytes, std::vector<Entry>& parsed,
                       std::optional<PlaysMark>* mark)
{
    parsed.clear();
    if (mark)
        mark->reset();
    ByteReader in(bytes);
    if (in.ReadTag(4) != kMagic || !in.Ok())
        return kErrUnknown;
    while (in.Remaining() > 0) {
        Entry entry;
        const std::uint8_t kind = in.ReadU8();
        const std::uint8_t flags = in.ReadU8();
        entry.size = in.ReadU32LE();
        entry.size |= static_cast<std::uint64_t>(in.ReadU32LE()) << 32;
        if (!in.Ok() || kind < 1 || kind > kPlaysKind)
            return kErrUnknown;
        entry.kind = static_cast<Kind>(kind);
        entry.move = (flags & 1) != 0;
        entry.pending = (flags & 2) != 0;
        for (AString* text : {&entry.location, &entry.genre, &entry.artist, &entry.album, &entry.name})
            if (!ReadString(in, *text))
                return kErrUnknown;
        if (kind == kPlaysKind) {
            if (mark)
                *mark = PlaysMark{static_cast<std::uint32_t>(entry.size),
                                  static_cast<std::uint32_t>(entry.size >> 32)};
            continue;
        }
        parsed.push_back(std::move(entry));
    }
    return 0;
}

void IPodJournal::SerializeEntry(const Entry& entry, ByteWriter& out)
{
    out.WriteU8(static_cast<std::uint8_t>(entry.kind));
    out.WriteU8(static_cast<std::uint8_t>((entry.move ? 1 : 0) | (entry.pending ? 2 : 0)));
    out.WriteU32LE(static_cast<std::uint32_t>(entry.size));
    out.WriteU32LE(static_cast<std::uint32_t>(entry.size >> 32));
    for (const AString* text : {&entry.location, &entry.genre, &entry.artist, &entry.album, &entry.name})
        WriteString(out, *text);
}

std::vector<std::uint8_t> IPodJournal::Serialize(const std::vector<Entry>& toWrite,
                                                 const std::optional<PlaysMark>& mark)
{
    ByteWriter out;
    out.WriteTag(kMagic);
    if (mark) {
        out.WriteU8(kPlaysKind);
        out.WriteU8(0);
        out.WriteU32LE(mark->playCountsCrc);
        out.WriteU32LE(mark->databaseCrc);
        WriteString(out, AString(kPlaysLocation));
        for (int i = 0; i < 4; ++i)
            WriteString(out, AString());
    }
    for (const Entry& entry : toWrite)
        SerializeEntry(entry, out);
    return out.Bytes();
}

int IPodJournal::Add(const Entry& entry)
{
    Entry added = entry;
    if (added.kind == Kind::kAdded)
        added.pending = true;
    unsettled = true;
    // The file holds every entry but this one: the entry is written at its end.
    if (onDiskKnown && onDisk > 0) {
        std::vector<std::uint8_t> bytes;
        try {
            ByteWriter out;
            SerializeEntry(added, out);
            bytes = out.Bytes();
            // Room made ahead, so that the push below cannot fail after the write; the room grows
            // by doubling (one more each time would move every entry at every song).
            if (entries.size() == entries.capacity())
                entries.reserve(entries.size() * 2 + 16);
        } catch (const std::bad_alloc&) {
            return kErrOutOfMemory;
        }
        const int err = Append(bytes.data(), bytes.size());
        if (err == 0) {
            onDisk += bytes.size();
            entries.push_back(std::move(added));
            return 0;
        }
        // A file cut short or not what it was known to be is written whole by the next change.
        onDiskKnown = false;
        if (err != kErrUnknown)
            return err;
    }
    std::vector<Entry> more = entries;
    more.push_back(std::move(added));
    if (int err = Write(more, false); err != 0)
        return err;
    entries = std::move(more);
    return 0;
}

int IPodJournal::Copied(std::uint64_t bytes)
{
    unsettled = true;
    ++batchSongs;
    batchBytes += bytes;
    if (batchSongs < kBatchSongs && batchBytes < kBatchBytes)
        return 0;
    return Settle();
}

int IPodJournal::Settle()
{
    // A flush that failed may have lost what it was to flush, which a second one would not tell:
    // nothing written since the last good flush is ever stored as safe.
    CloseFile();
    if (settleError != 0)
        return settleError;
    if (!unsettled)
        return 0;
    if (int err = AFile::FlushVolume(&root); err != 0) {
        settleError = err;
        return err;
    }
    std::vector<Entry> settled = entries;
    bool anyPending = false;
    for (Entry& entry : settled) {
        anyPending = anyPending || entry.pending;
        entry.pending = false;
    }
    if (anyPending || !onDiskKnown)
        if (int err = Write(settled, false); err != 0)
            return err;
    entries = std::move(settled);
    unsettled = false;
    batchSongs = 0;
    batchBytes = 0;
    return 0;
}

int IPodJournal::Set(std::vector<Entry> newEntries)
{
    if (int err = Write(newEntries, true); err != 0)
        return err;
    entries = std::move(newEntries);
    return 0;
}

int IPodJournal::Write(const std::vector<Entry>& toWrite, bool flush)
{
    // The file is replaced (or removed): what is kept open is no longer the journal.
    CloseFile();
    const AString path = FilePath();
    onDiskKnown = false;
    if (toWrite.empty() && !plays) {
        if (AFile::GetPathType(&path) != AFile::kPathOther)
            if (int err = AFile::Delete(&path); err != 0)
                return err;
        onDisk = 0;
        onDiskKnown = true;
        return 0;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = Serialize(toWrite, plays);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (int err = AFile::WriteWholeFileSafely(&path, bytes.data(), bytes.size(), flush); err != 0)
        return err;
    onDisk = bytes.size();
    onDiskKnown = true;
    return 0;
}
