#include "ACommon/sources/ADirSongDir.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/itunesdb/SongPicture.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "APlatform/Unicode.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// How often the listing shows its count: drawing it for every song would cost more than the
// bookkeeping of the song.
constexpr int kReportEvery = 64;

// Songs are read in chunks of this many files, by at most this many threads.
constexpr int kReadChunk = 64;
constexpr unsigned kMaxReaders = 4;

// The copy numbers AddSongFromDisk tries before it gives up on a name.
constexpr int kMaxCopyNumber = 9999;

// The key after the last "?" of a path: its decimal digits, or -1 when there is no such key.
long long KeyOf(const AString& path)
{
    const int question = path.ReverseFind('?');
    if (question < 0)
        return -1;
    const std::u16string& units = path.Units();
    if (static_cast<size_t>(question) + 1 >= units.size())
        return -1;
    long long k = 0;
    for (size_t i = static_cast<size_t>(question) + 1; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u < u'0' || u > u'9' || k > 1000000000000LL)
            return -1;
        k = k * 10 + (u - u'0');
    }
    return k;
}

// The part of a virtual path that names the song: before its last "?" (all of it without one), and
// without leading "/": a path joined to a root has lost its own first "/", a record has it.
std::u16string_view SongPart(const std::u16string& units)
{
    std::u16string_view view(units);
    const size_t question = view.rfind(u'?');
    if (question != std::u16string_view::npos)
        view = view.substr(0, question);
    while (!view.empty() && view.front() == u'/')
        view.remove_prefix(1);
    return view;
}

bool BeginsWith(const AString& text, const AString& prefix)
{
    const std::u16string& units = text.Units();
    const std::u16string& head = prefix.Units();
    return units.size() >= head.size() && units.compare(0, head.size(), head) == 0;
}

} // namespace

ADirSongDir::ADirSongDir(AProgress* reporter) : ADirSong(reporter) {}

ADirSongDir::~ADirSongDir() = default;

int ADirSongDir::GetType() const { return kTypeSongFolder; }

void ADirSongDir::Sort(signed char ascending)
{
    ADir::Sort(ascending);
    ForgetIndex();
}

int ADirSongDir::DeleteEntry(int entry, signed char removeFile, signed char keepFile)
{
    const int err = ADir::DeleteEntry(entry, removeFile, keepFile);
    ForgetIndex();
    return err;
}

int ADirSongDir::AddFPath(AString* path)
{
    const int added = ADir::AddFPath(path);
    ForgetIndex();
    return added;
}

int ADirSongDir::AddRecord(const AString& path, std::uint64_t modTime, std::uint64_t size)
{
    const int added = ADir::AddRecord(path, modTime, size);
    ForgetIndex();
    return added;
}

void ADirSongDir::DeleteAll()
{
    diskList.DeleteAll();
    ADir::DeleteAll();
    index.clear();
    ForgetIndex();
}

int ADirSongDir::DiskPathOfKey(long long k, AString* diskPath) const
{
    if (k < 0 || k >= diskList.Count())
        return kErrObjectNotFound;
    const AString* entry = diskList.Get(static_cast<int>(k));
    if (!entry)
        return kErrObjectNotFound;
    if (useFullPaths) {
        *diskPath = *entry;
    } else {
        *diskPath = rootPath;
        diskPath->AppendPathComponent(*entry);
    }
    return 0;
}

int ADirSongDir::FindKey(const AString& relative, long long* k)
{
    if (!indexBuilt) {
        index.clear();
        const int count = fileList.Count();
        index.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            const AString* record = fileList.Get(i);
            const long long key = record ? KeyOf(*record) : -1;
            if (key < 0)
                continue;
            // The first record of a path keeps its place: later ones do not replace it.
            index.emplace(platform::CanonicalKey(SongPart(record->Units()), true), key);
        }
        indexBuilt = true;
    }
    auto found = index.find(platform::CanonicalKey(SongPart(relative.Units()), true));
    if (found == index.end())
        return kErrObjectNotFound;
    *k = found->second;
    return 0;
}

int ADirSongDir::GetFileDiskPath(const AString* path, AString* diskPath, signed char fromList)
{
    if (!path || !diskPath)
        return kErrObjectNotFound;
    long long k = -1;
    if (fromList) {
        // A path from the own list carries its key.
        k = KeyOf(*path);
    } else {
        // Any full path of a song of this folder: found by its virtual path, whatever its key.
        if (!BeginsWith(*path, rootPath))
            return kErrObjectNotFound;
        const AString relative = path->Mid(rootPath.GetLength(), path->GetLength());
        if (int err = FindKey(relative, &k); err != 0)
            return err;
    }
    return DiskPathOfKey(k, diskPath);
}

bool ADirSongDir::FileExists(const AString* path)
{
    AString disk;
    return GetFileDiskPath(path, &disk, 0) == 0 && AFile::FileExists(&disk);
}

std::uint64_t ADirSongDir::GetFileModTime(const AString* path)
{
    AString disk;
    if (GetFileDiskPath(path, &disk, 0) != 0)
        return 0;
    return AFile::FileModTime(&disk);
}

int ADirSongDir::GetSongInfo(const AString* path, SongInfoStruct* info)
{
    AString disk;
    if (int err = GetFileDiskPath(path, &disk, 0); err != 0)
        return err;
    ID3 tags;
    if (tags.SetFilePath(disk) != 0)
        return kErrFileNotFound;
    if (info) {
        long value = 0;
        tags.GetDuration(value);
        info->duration = static_cast<int>(value);
        tags.GetBitrate(value);
        info->bitRate = static_cast<int>(value);
    }
    return 0;
}

int ADirSongDir::Delete(const AString* path, signed char fromList, signed char keepFile)
{
    AString disk;
    if (int err = GetFileDiskPath(path, &disk, fromList); err != 0)
        return err;
    if (!AFile::FileExists(&disk))
        return 0; // already gone
    return ADir::Delete(&disk, fromList, keepFile);
}

int ADirSongDir::MakeSongInfoString(const AString* file, AString* vpath, std::uint64_t* modTime,
                                    std::uint64_t* size)
{
    if (!file || !vpath)
        return kErrFileNotFound;
    ID3 tags;
    if (tags.SetFilePath(*file) != 0)
        return kErrFileNotFound;
    if (modTime)
        *modTime = tags.GetFileModTime();
    if (size)
        *size = tags.GetFileBytes();
    AString genre, artist, album, name, extension;
    tags.GetGenre(genre);
    tags.GetArtist(artist);
    tags.GetAlbum(album);
    tags.GetModifiedName(name);
    // The extension as the file name has it, not as the reader normalised it.
    file->PathExtension(&extension);
    // The music size of an untagged song comes from the read just made (what CalcMusicSize would
    // read again).
    auto musicSize = [&tags]() -> std::uint64_t {
        unsigned long long start = 0, end = 0;
        return tags.GetMusicRange(&start, &end) && end >= start ? end - start : 0;
    };
    *vpath = BuildVirtualPath(genre, artist, album, name, extension, musicSize, nullptr);
    return 0;
}

int ADirSongDir::ListMusicFiles(std::vector<AString>& files, CancelProc cancel)
{
    std::string root = rootPath.ToStdString();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root.empty())
        return kErrOpen;

    // Folders still to read: their path on disk and relative to the root.
    struct Pending {
        std::string disk;
        std::u16string relative;
    };
    std::vector<Pending> pending;
    pending.push_back({root, std::u16string()});
    staleTemporaries.clear();
    std::u16string name;
    AString candidate;
    int seen = 0;
    while (!pending.empty()) {
        Pending folder = std::move(pending.back());
        pending.pop_back();
        DIR* dir = opendir(folder.disk.c_str());
        if (!dir)
            return kErrOpen;
        const int fd = dirfd(dir);
        for (;;) {
            errno = 0;
            dirent* entry = readdir(dir);
            if (!entry) {
                if (errno != 0) {
                    closedir(dir);
                    return kErrOpen;
                }
                break;
            }
            const char* raw = entry->d_name;
            if (raw[0] == '.' && (raw[1] == '\0' || (raw[1] == '.' && raw[2] == '\0')))
                continue;
            if (!platform::DecodeUTF8(raw, name)) {
                AString line("Skipped a name that is not valid UTF-8 in ");
                line += AString::FromUTF8(folder.disk);
                line += '\n';
                progress->AddToLog(&line, 1);
                continue;
            }
            // The folder tells most entries' types; only the others are asked. A link is followed to
            // a file, never into a folder (a link back up would never end).
            bool isDir = entry->d_type == DT_DIR;
            bool isFile = entry->d_type == DT_REG;
            if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat info {};
                if (fstatat(fd, raw, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone since the folder was read
                isDir = S_ISDIR(info.st_mode);
                isFile = S_ISREG(info.st_mode);
                if (S_ISLNK(info.st_mode))
                    isFile = fstatat(fd, raw, &info, 0) == 0 && S_ISREG(info.st_mode);
            }
            std::u16string relative = folder.relative;
            if (!relative.empty())
                relative += u'/';
            relative += name;
            if (isDir) {
                pending.push_back({folder.disk + "/" + raw, std::move(relative)});
                continue;
            }
            if (!isFile)
                continue;
            if (AFile::IsStaleTemporaryName(raw)) {
                staleTemporaries.push_back(folder.disk + "/" + raw); // a copy a stopped run cut short
                continue;
            }
            candidate = AString(std::move(relative));
            if (useFullPaths)
                candidate.Insert(rootPath, 0);
            if (PathFilterCheck(&candidate) && TypeFilterCheck(&candidate))
                files.push_back(std::move(candidate));
            if (++seen % kReportEvery == 0) {
                AString detail("Reading File Info ");
                detail += seen;
                progress->UpdateDivision(0.0, nullptr, &detail, nullptr, 0);
            }
            if (cancel && cancel()) {
                closedir(dir);
                return kErrUserCancel;
            }
        }
        closedir(dir);
    }
    return 0;
}

int ADirSongDir::ReadSongs(std::vector<AString>& files, CancelProc cancel)
{
    // Reading tags is most of a listing, and each file is read on its own: the files are shared
    // out in chunks between this thread and helpers. Only this thread reports and asks the cancel
    // callback; the songs are put into the lists afterwards, in the order of `files`.
    enum : signed char { kNotRead, kSong, kUnreadable };
    const int total = static_cast<int>(files.size());
    std::vector<AString> vpaths(files.size());
    std::vector<signed char> state(files.size(), kNotRead);
    // The date and size of each song's file, kept in its record: a sync tells by them which songs
    // changed since its last run.
    std::vector<std::uint64_t> times(files.size(), 0), sizes(files.size(), 0);
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    auto readChunk = [&]() -> bool {
        const int start = next.fetch_add(kReadChunk);
        if (start >= total || stop.load())
            return false;
        const int end = std::min(total, start + kReadChunk);
        AString full;
        for (int i = start; i < end; ++i) {
            if (useFullPaths) {
                full = files[static_cast<size_t>(i)];
            } else {
                full = rootPath;
                full += files[static_cast<size_t>(i)];
            }
            // The date and size are those of the file the tags were read from.
            const size_t at = static_cast<size_t>(i);
            state[at] =
                MakeSongInfoString(&full, &vpaths[at], &times[at], &sizes[at]) == 0 ? kSong : kUnreadable;
        }
        done.fetch_add(end - start);
        return true;
    };
    std::vector<std::thread> helpers;
    if (total >= 2 * kReadChunk) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const int wanted = static_cast<int>(std::min<unsigned>(cores, kMaxReaders)) - 1;
        for (int h = 0; h < wanted; ++h) {
            try {
                helpers.emplace_back([&readChunk] {
                    while (readChunk()) {
                    }
                });
            } catch (const std::exception&) {
                break; // no thread to be had: fewer readers
            }
        }
    }
    int err = 0;
    while (readChunk()) {
        const int count = done.load();
        AString detail;
        detail += count;
        detail += " / ";
        detail += total;
        progress->UpdateDivision(static_cast<double>(count) / total, nullptr, &detail, nullptr, 0);
        if (cancel && cancel()) {
            stop = true;
            err = kErrUserCancel;
        }
    }
    for (std::thread& helper : helpers)
        helper.join();
    if (total > 0 && err == 0) {
        AString detail;
        detail += total;
        detail += " / ";
        detail += total;
        progress->UpdateDivision(1.0, nullptr, &detail, nullptr, 0);
    }

    for (int i = 0; i < total; ++i) {
        const size_t at = static_cast<size_t>(i);
        if (state[at] == kUnreadable)
            ++unreadable;
        if (state[at] != kSong || !VPathFilterCheck(&vpaths[at]))
            continue;
        const int k = diskList.AddWithTime(new AString(std::move(files[at])), 0);
        vpaths[at] += '?';
        vpaths[at] += k;
        fileList.AddWithTime(new AString(std::move(vpaths[at])), times[at], sizes[at]);
    }
    return err;
}

int ADirSongDir::PopulateFileList(CancelProc cancel)
{
    DeleteAll();
    unreadable = 0;

    // The music files of the folder, by the type and path filters. Folders hold no songs: they are
    // walked, not listed.
    AString heading("Reading Dir: ");
    heading += rootPath;
    progress->StartDivision(0.5, &heading, 0, 0);
    std::vector<AString> files;
    int err = ListMusicFiles(files, cancel);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0)
        return err;

    diskList.SetRootPath(&fileList.GetRootPath());
    heading = "Reading Song Dir: ";
    heading += rootPath;
    progress->StartDivision(0.5, &heading, 0, 0);
    err = ReadSongs(files, cancel);
    AString end("Reading Song Directory Done!");
    progress->EndDivision(&end, 0, 0);
    if (unreadable > 0) {
        // They are left out of the list; the user should know that they are not synced.
        AString line;
        line += unreadable;
        line += unreadable == 1 ? " file could not be read" : " files could not be read";
        line += '\n';
        progress->AddToLog(&line, 1);
    }
    ForgetIndex();
    return err;
}

int ADirSongDir::AddSongFromDisk(const AString* file, const AString* fallbackName, CancelProc cancel)
{
    if (!file)
        return kErrFileNotFound;
    ID3 tags;
    if (tags.SetFilePath(*file) != 0)
        return kErrFileNotFound;
    if (rootPath.IsEmpty())
        return kErrInvalidPath;
    AString artist, album, name;
    tags.GetArtist(artist);
    tags.GetAlbum(album);
    tags.GetName(name);

    AString folder = rootPath;
    folder.AppendPathComponent(tags.IsCompilation() ? AString("Compilations")
                                                    : FolderNameFromTag(artist, "Unknown Artist"));
    if (!AFile::DirExists(&folder))
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;
    folder.AppendPathComponent(FolderNameFromTag(album, "Unknown Album"));
    if (!AFile::DirExists(&folder))
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;

    // "2-07 Name": disc (of several), track with two digits at least, then the name.
    AString base;
    long track = 0, disc = 0, discCount = 0;
    tags.GetTrackNumber(track);
    tags.GetDiskNumber(disc);
    tags.GetDiskCount(discCount);
    if (track > 0) {
        if (discCount > 1) {
            base += static_cast<int>(disc);
            base += '-';
        }
        if (track < 10)
            base += '0';
        base += static_cast<int>(track);
        base += ' ';
    }
    AString title = name;
    if (title.IsEmpty() && fallbackName)
        title = *fallbackName;
    AString::FormatPathString(title, '_', 0);
    title.Trim();
    AString extension;
    if (!title.IsEmpty()) {
        base += title;
        file->PathExtension(&extension);
    } else {
        // No name at all: the file's own name follows the track number.
        AString own;
        file->LastPathComponent(&own);
        const int dot = own.ReverseFind('.');
        if (dot > 0) {
            extension = own.Mid(dot + 1, own.GetLength());
            own = own.Left(dot);
        }
        base += own;
    }

    // The name with copy number `copy` (none for 0) before the extension.
    auto target = [&](int copy) {
        AString tail;
        if (copy > 0) {
            tail += ' ';
            tail += copy;
        }
        if (!extension.IsEmpty()) {
            tail += '.';
            tail += extension;
        }
        AString path = folder;
        path.AppendPathComponent(FitName(base, tail));
        return path;
    };

    AString destination = target(0);
    if (!AFile::FileExists(&destination))
        return AFile::CopyWithProgress(file, &destination, cancel, progress);
    // A song of this name by a known artist is taken to be this one.
    if (dontDupSongs && !artist.IsEmpty() && !tags.IsCompilation())
        return 0;
    if (AFile::FilesEqual(&destination, file))
        return 0;
    for (int copy = 1; copy <= kMaxCopyNumber; ++copy) {
        destination = target(copy);
        if (!AFile::FileExists(&destination))
            return AFile::CopyWithProgress(file, &destination, cancel, progress);
        if (AFile::FilesEqual(&destination, file))
            return 0;
    }
    return kErrDuplicate;
}

bool ADirSongDir::TakeListing(ADir& live)
{
    auto* other = dynamic_cast<ADirSongDir*>(&live);
    if (!other || other->useFullPaths)
        return false;
    InitRoot(other->GetRootPath(), 0);
    SwapListing(*other);
    diskList.SwapRecords(other->diskList);
    diskList.SetRootPath(&fileList.GetRootPath());
    std::swap(unreadable, other->unreadable);
    ForgetIndex();
    other->ForgetIndex();
    return true;
}

int ADirSongDir::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = ADirSong::WriteState(f); err != 0)
        return err;
    return diskList.WriteState(f);
}

int ADirSongDir::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    ForgetIndex();
    if (int err = ADirSong::ReadState(f); err != 0)
        return err;
    return diskList.ReadState(f);
}

namespace {

// The folder image beside a music file; empty when there is none.
AString FolderImageOf(const AString& file)
{
    const std::filesystem::path image =
        SongPicture::FolderImage(std::filesystem::path(file.ToStdString()).parent_path());
    return image.empty() ? AString() : AString::FromUTF8(image.string());
}

} // namespace

int ADirSongDir::AddLooseFile(const AString* file, CancelProc cancel, AString* placed)
{
    if (placed)
        *placed = AString();
    return AddSongFromDisk(file, nullptr, cancel);
}

int ADirSongDir::GetImageCount(const AString* path, int* count)
{
    if (!count)
        return kErrInvalidElement;
    *count = 0;
    AString disk;
    if (int err = GetFileDiskPath(path, &disk, 1); err != 0)
        return err;
    *count = FolderImageOf(disk).IsEmpty() ? 0 : 1;
    return 0;
}

int ADirSongDir::GetImageInfo(const AString* path, int picture, unsigned char** data, int* size)
{
    if (!data || !size)
        return kErrInvalidElement;
    *data = nullptr;
    *size = 0;
    AString disk;
    if (int err = GetFileDiskPath(path, &disk, 1); err != 0)
        return err;
    const AString image = FolderImageOf(disk);
    if (picture != 0 || image.IsEmpty())
        return 0;
    // Anything larger than a picture may be is not read at all.
    const std::uint64_t length = AFile::GetFileSize(&image);
    if (length == 0 || length > kMaxPictureBytes)
        return 0;
    std::ifstream in(image.ToStdString(), std::ios::binary);
    try {
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[length]);
        if (!in.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(length)))
            return kErrIO;
        *data = bytes.release();
        *size = static_cast<int>(length);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return 0;
}
