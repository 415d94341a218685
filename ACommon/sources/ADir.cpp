#include "ACommon/sources/ADir.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/base/ListString.h"
#include "ACommon/tags/ID3.h"
#include "APlatform/Trash.h"
#include "APlatform/Unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// `name` shortened to at most 255 bytes, at a character's start, keeping a short extension: a name
// as long as a volume allows cannot take a "~" more.
AString FittedName(const AString& name)
{
    constexpr size_t kNameMax = 255;
    std::string bytes = name.ToStdString();
    if (bytes.size() <= kNameMax)
        return name;
    const size_t dot = bytes.find_last_of('.');
    const std::string extension =
        dot != std::string::npos && dot > 0 && bytes.size() - dot <= 16 ? bytes.substr(dot) : std::string();
    size_t keep = kNameMax - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(bytes[keep]) & 0xC0) == 0x80)
        --keep;
    return AString::FromUTF8(bytes.substr(0, keep) + extension);
}

// How often the listing shows its count: often enough to look alive, rarely enough that drawing
// the count never costs more than reading the folder.
constexpr int kReportEvery = 256;

// Lists everything below one folder with one stat per entry, each folder before its contents, and
// in the order of the sorted list (case ignored) as far as names allow, so that sorting the list
// afterwards finds little or nothing to do. A folder's own entry and the entries inside it are
// apart in that order ("a", "a.txt", "a/x"): the names of one folder are sorted together with a
// key "name/" for each subfolder's contents, and the contents are read when that key comes up.
// Only one directory is open at a time, so depth is limited by memory, not by file handles.
class FolderWalk {
public:
    struct Entry {
        std::u16string relative;
        bool isDir = false;
        bool isRegular = false;
        std::uint64_t size = 0;
        std::uint64_t modTime = 0;
    };

    // Why an item is left out of the listing.
    enum class Skip {
        kBadName,   // not valid UTF-8: the rest of the system cannot name it
        kSpecial,   // neither a file, a folder nor a link to a file (a link to a folder, a pipe...)
        kTemporary, // a temporary file of this program (a copy or a safe write under way)
    };

    // `visit(entry)` returns 0 to go on or a code that ends the walk (it may take the entry's path
    // away: each entry is visited once); `skipped(folder, name, why)` hears of the items left out.
    template <typename Visit, typename Skipped> static int Run(std::string root, Visit visit, Skipped skipped)
    {
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        std::vector<Folder> stack;
        stack.emplace_back();
        if (int err = Read(root, std::u16string(), stack.back(), skipped); err != 0)
            return err;
        while (!stack.empty()) {
            Folder& folder = stack.back();
            if (folder.next == folder.items.size()) {
                stack.pop_back();
                continue;
            }
            Item& item = folder.items[folder.next++];
            if (item.contents) {
                std::string disk = folder.disk + "/" + item.raw;
                std::u16string relative = std::move(item.entry.relative);
                stack.emplace_back(); // invalidates `folder` and `item`
                if (int err = Read(std::move(disk), std::move(relative), stack.back(), skipped); err != 0)
                    return err;
                continue;
            }
            if (int stop = visit(item.entry); stop != 0)
                return stop;
        }
        return 0;
    }

private:
    struct Item {
        Entry entry;
        std::string raw;            // the name as the file system has it
        size_t nameStart = 0;       // where the name begins in entry.relative
        bool contents = false;      // stands for the contents of the subfolder of that name
        std::u16string contentsKey; // "name/", the sort key of those contents

        std::u16string_view Key() const
        {
            return contents ? std::u16string_view(contentsKey)
                            : std::u16string_view(entry.relative).substr(nameStart);
        }
    };
    struct Folder {
        std::string disk;
        std::vector<Item> items;
        size_t next = 0;
    };

    // -1 with the folder and the system's reason noted, so that the message names them.
    static int Unreadable(const std::string& disk, int error = errno)
    {
        AError::NoteFailure(kErrOpen, "list the folder", AString::FromUTF8(disk), error);
        return kErrOpen;
    }

    template <typename Skipped>
    static int Read(std::string disk, std::u16string relative, Folder& folder, Skipped skipped)
    {
        folder.disk = std::move(disk);
        DIR* dir = opendir(folder.disk.c_str());
        if (!dir)
            return Unreadable(folder.disk);
        const int fd = dirfd(dir);
        std::u16string name;
        for (;;) {
            errno = 0;
            dirent* found = readdir(dir);
            if (!found) {
                if (errno != 0) {
                    const int error = errno;
                    closedir(dir);
                    return Unreadable(folder.disk, error);
                }
                break;
            }
            const char* raw = found->d_name;
            if (raw[0] == '.' && (raw[1] == '\0' || (raw[1] == '.' && raw[2] == '\0')))
                continue;
            if (!platform::DecodeUTF8(raw, name)) {
                skipped(folder.disk, raw, Skip::kBadName);
                continue;
            }
            if (AFile::IsTemporaryName(raw)) {
                skipped(folder.disk, raw, Skip::kTemporary);
                continue;
            }
            struct stat info {};
            if (fstatat(fd, raw, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since the folder was read
            // A link to a file is listed as that file: its copy on the other side is a plain file,
            // and both must compare equal on the next run. Links to folders are left out, so that
            // nothing is ever written through one and no loop is walked; so is whatever is not a
            // file or a folder (a pipe would hang a copy, a socket cannot be copied).
            struct stat target {};
            if (S_ISLNK(info.st_mode)) {
                if (fstatat(fd, raw, &target, 0) != 0 || !S_ISREG(target.st_mode)) {
                    skipped(folder.disk, raw, Skip::kSpecial);
                    continue;
                }
                info = target;
            } else if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
                skipped(folder.disk, raw, Skip::kSpecial);
                continue;
            }
            Item item;
            item.raw = raw;
            item.entry.isDir = S_ISDIR(info.st_mode);
            item.entry.isRegular = S_ISREG(info.st_mode);
            item.entry.size = static_cast<std::uint64_t>(info.st_size);
            long long seconds =
                static_cast<long long>(info.st_mtim.tv_sec) + static_cast<long long>(AFile::kFileTimeOffset);
            item.entry.modTime = seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
            item.entry.relative = relative;
            if (!relative.empty())
                item.entry.relative += u'/';
            item.nameStart = item.entry.relative.size();
            item.entry.relative += name;
            if (item.entry.isDir) {
                Item contents;
                contents.contentsKey = name + u'/';
                contents.raw = raw;
                contents.contents = true;
                contents.entry.relative = item.entry.relative;
                folder.items.push_back(std::move(contents));
            }
            folder.items.push_back(std::move(item));
        }
        closedir(dir);
        std::sort(folder.items.begin(), folder.items.end(), [](const Item& a, const Item& b) {
            return platform::CompareCanonical(a.Key(), b.Key(), true) < 0;
        });
        return 0;
    }
};

} // namespace

bool ADir::TypeFilterCheck(const AString* path) const
{
    if (typeFilterMode == 0 || !path)
        return true;
    AString extension;
    path->PathExtension(&extension);
    TypeVerdict& last = lastTypeVerdict;
    if (last.known && last.extension == extension && last.mode == typeFilterMode &&
        last.include == typeIncludeFilter && last.exclude == typeExcludeFilter)
        return last.passes;
    bool passes = true;
    if ((typeFilterMode & 0x1) && !typeIncludeFilter.IsEmpty())
        passes = !extension.IsEmpty() && liststring::HoldsValue(typeIncludeFilter, extension);
    if (passes && (typeFilterMode & 0x2) && !typeExcludeFilter.IsEmpty())
        passes = extension.IsEmpty() || !liststring::HoldsValue(typeExcludeFilter, extension);
    last = {typeFilterMode, typeIncludeFilter, typeExcludeFilter, extension, passes, true};
    return passes;
}

bool ADir::FragmentFilterCheck(const AString& text, int mode, const AString& include, const AString& exclude)
{
    if ((mode & 0x1) && !include.IsEmpty() && !liststring::AnyItemOccursIn(include, text))
        return false;
    if ((mode & 0x2) && !exclude.IsEmpty() && liststring::AnyItemOccursIn(exclude, text))
        return false;
    return true;
}

bool ADir::PathFilterCheck(const AString* path) const
{
    return !path || FragmentFilterCheck(*path, pathFilterMode, pathIncludeFilter, pathExcludeFilter);
}

ADir::ADir(AProgress* reporter) : progress(reporter) {}

ADir::~ADir() = default;

int ADir::GetType() const { return kTypeFolder; }

void ADir::InitRoot(const AString* root, signed char fullPaths)
{
    if (root) {
        SetRootPath(root);
        AString listRoot;
        if (!fullPaths)
            listRoot = rootPath;
        fileList.SetRootPath(&listRoot);
    }
    useFullPaths = fullPaths;
}

int ADir::InitWPath(const AString* root, signed char fullPaths, CancelProc cancel)
{
    InitRoot(root, fullPaths);
    DeleteAll();
    return PopulateFileList(cancel);
}

int ADir::Count() { return fileList.Count(); }

void ADir::Sort(signed char ascending)
{
    // A list read in order (a folder listing is, almost always) needs one look, not a sort.
    const int count = fileList.Count();
    if (exactNames && ascending) {
        for (int i = 1; i < count; ++i)
            if (fileList.Get(i)->Units() < fileList.Get(i - 1)->Units()) {
                fileList.SortExact();
                return;
            }
        return;
    }
    for (int i = 1; i < count; ++i) {
        const int order = fileList.Get(i - 1)->CompareNoCase(*fileList.Get(i));
        if (ascending ? order > 0 : order < 0) {
            fileList.Sort(ascending);
            return;
        }
    }
}

const AString* ADir::GetRootPath() { return &rootPath; }

void ADir::SetRootPath(const AString* root)
{
    rootPath = root;
    if (!rootPath.IsEmpty() && rootPath[rootPath.GetLength() - 1] != '/')
        rootPath += '/';
}

int ADir::GetFileDiskPath(const AString* path, AString* diskPath, signed char)
{
    if (diskPath)
        *diskPath = path;
    return 0;
}

std::uint64_t ADir::GetFileModTime(const AString* path) { return AFile::FileModTime(path); }

int ADir::DeleteEntry(int index, signed char removeFile, signed char keepFile)
{
    const AString* entry = GetFPath(index);
    if (!entry)
        return kErrInvalidElement;
    int err = 0;
    if (removeFile) {
        // With full paths the entry is already the whole path; joining the root again would double it.
        AString full;
        if (useFullPaths) {
            full = *entry;
        } else {
            full = rootPath;
            full.AppendPathComponent(*entry);
        }
        err = Delete(&full, 1, keepFile);
    }
    // Keep the records in step with the list; once they are not, forget them (the path object of
    // a deleted record may come back for another path).
    if (index < static_cast<int>(listed.size()) && listed[index].path == fileList.Get(index))
        listed.erase(listed.begin() + index);
    else
        listed.clear();
    fileList.Delete(index);
    return err;
}

int ADir::Delete(const AString* path, signed char, signed char keepFile)
{
    if (keepFile)
        return 0;
    if (!path || path->IsEmpty())
        return kErrUnableToDelete;
    if (!moveInsteadOfDelete)
        return AFile::Delete(path);
    return MoveToRemovedFiles(path);
}

int ADir::MoveToRemovedFiles(const AString* path)
{
    AString target = RemovedFilesTarget();
    AString name;
    path->LastPathComponent(&name);

    if (AFile::DirExists(path)) {
        // A folder has no tags. An empty one holds nothing worth keeping; one with contents is
        // moved whole under its own name.
        if (rmdir(path->CStr()) == 0)
            return 0;
        if (!AFile::DirExists(&target))
            if (int err = AFile::CreateDir(&target); err != 0)
                return err;
    } else {
        if (!AFile::FileExists(path))
            return kErrFileNotFound;
        // The tags only choose the folders below "Removed Files" and, for a device name, the new
        // name. A file whose tags cannot be read (empty or damaged) is still moved, under its own
        // name: refusing would leave it on the side the sync is making equal to the other.
        ID3 tags;
        const bool tagged = tags.SetFilePath(*path) == 0;
        if (tagged) {
            signed char unknownArtist = 0;
            AppendArtistAlbum(&tags, &target, unknownArtist, 0);
        }
        if (!AFile::DirExists(&target))
            if (int err = AFile::CreateDir(&target); err != 0)
                return err;
        if (tagged && HasDeviceFileName(name)) {
            // Files put on an iPod get four-letter names; the tags tell what the song was called.
            AString modified, extension;
            tags.GetModifiedName(modified);
            tags.GetFileExt(extension);
            AString::FormatPathString(modified, '_', 0);
            if (!modified.IsEmpty()) {
                name = modified;
                if (!extension.IsEmpty()) {
                    name += '.';
                    name += extension;
                }
            }
        }
    }

    AString destination = target;
    destination.AppendPathComponent(name);
    while (AFile::FileExists(&destination)) {
        int dot = name.ReverseFind('.');
        name.Insert('~', dot < 0 ? name.GetLength() : dot);
        name = FittedName(name);
        destination = target;
        destination.AppendPathComponent(name);
    }
    const int err = AFile::Move(path, &destination);
    if (err == 0) {
        ++movedFiles;
        progress->AddToLog(AString("Moved ") + *path + " into Removed Files: " + destination + "\n", 1);
    }
    return err;
}

int ADir::RemoveStaleTemporaries()
{
    int removed = 0;
    for (const std::string& path : staleTemporaries) {
        // Still a file of a process that is gone: no run has taken the name since the listing.
        struct stat info {};
        const std::string name = path.substr(path.rfind('/') + 1);
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            AFile::IsStaleTemporaryName(name.c_str()) && unlink(path.c_str()) == 0)
            ++removed;
    }
    staleTemporaries.clear();
    if (removed > 0) {
        AString line("Removed ");
        line += removed;
        line += removed == 1 ? " temporary file" : " temporary files";
        line += " that a stopped run left in ";
        line += rootPath;
        line += ".\n";
        progress->AddToLog(&line, 1);
    }
    return removed;
}

int ADir::PutAside(const AString* path)
{
    if (!path || path->IsEmpty())
        return kErrUnableToDelete;
    if (!moveInsteadOfDelete)
        return AFile::Delete(path);
    std::string inTrash;
    const int trashed = platform::MoveToTrash(path->ToStdString(), &inTrash);
    if (trashed == 0) {
        progress->AddToLog(AString("Moved ") + *path + " to the Trash: " + AString::FromUTF8(inTrash) + "\n",
                           1);
        return 0;
    }
    if (trashed == ENOENT)
        return kErrFileNotFound;
    // No Trash takes it: the removed-files folder keeps it under its path below the root.
    AString relative;
    if (path->GetLength() > rootPath.GetLength() && path->Left(rootPath.GetLength()) == rootPath)
        relative = path->Mid(rootPath.GetLength(), path->GetLength());
    else
        path->LastPathComponent(&relative);
    AString destination = RemovedFilesTarget();
    destination.AppendPathComponent(relative);
    const int slash = destination.ReverseFind('/');
    AString folder = destination.Left(slash);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder.ToStdString()), error);
    if (!AFile::DirExists(&folder))
        return kErrUnableToDelete;
    AString name = destination.Mid(slash + 1, destination.GetLength());
    while (AFile::FileExists(&destination)) {
        int dot = name.ReverseFind('.');
        name.Insert('~', dot <= 0 ? name.GetLength() : dot);
        name = FittedName(name);
        destination = folder;
        destination.AppendPathComponent(name);
    }
    const int err = AFile::Move(path, &destination);
    if (err == 0) {
        AString line("Moved ");
        line += *path;
        line += " into Removed Files: ";
        line += destination;
        line += " (no Trash on its volume can take it: ";
        line += std::strerror(trashed);
        line += ")\n";
        progress->AddToLog(&line, 1);
    }
    return err;
}

AString ADir::RemovedFilesTarget() const
{
    AString target;
    if (!removedFilesFolder.IsEmpty()) {
        target = removedFilesFolder;
    } else {
        AString parent = rootPath;
        if (parent.GetLength() > 1 && parent[parent.GetLength() - 1] == '/')
            parent = parent.Left(parent.GetLength() - 1);
        int slash = parent.ReverseFind('/');
        target = slash > 0 ? parent.Left(slash) : AString("/");
    }
    target.AppendPathComponent("Removed Files");
    return target;
}

bool ADir::HasDeviceFileName(const AString& name)
{
    int dot = name.Find('.', 0);
    AString stem = dot < 0 ? name : name.Left(dot);
    if (stem.GetLength() != 4)
        return false;
    AString upper = stem;
    upper.Upper();
    return upper == stem;
}

int ADir::GetSongInfo(const AString*, SongInfoStruct*) { return kErrFileType; }

bool ADir::FileExists(const AString* path) { return AFile::FileExists(path); }

AString* ADir::GetFPath(int index) { return fileList.Get(index); }

int ADir::AddFPath(AString* path)
{
    if (!path)
        return -1;
    const int index = fileList.Add(new AString(*path));
    if (index == static_cast<int>(listed.size()))
        listed.push_back({fileList.Get(index), false, {}});
    return index;
}

int ADir::AddRecord(const AString& path, std::uint64_t modTime, std::uint64_t size)
{
    const int index = fileList.AddWithTime(new AString(path), modTime, size);
    if (index == static_cast<int>(listed.size()))
        listed.push_back({fileList.Get(index), false, {}});
    return index;
}

bool ADir::GetListedFile(int index, ListedFile* out)
{
    const AString* path = fileList.Get(index);
    if (!path || index >= static_cast<int>(listed.size()) || path != GetFPath(index))
        return false;
    const ListedRecord& record = listed[index];
    if (record.path != path || !record.known || record.file.modTime != fileList.GetModTime(index))
        return false;
    if (out)
        *out = record.file;
    return true;
}

void ADir::SetPlaylist(const AString*) {}

int ADir::ScanForDuplicates(signed char, signed char, signed char, CancelProc, signed char) { return 0; }

void ADir::SwapListing(ADir& other)
{
    fileList.SwapRecords(other.fileList);
    listed.swap(other.listed);
    staleTemporaries.swap(other.staleTemporaries);
}

void ADir::DeleteAll()
{
    listed.clear();
    fileList.DeleteAll();
}

int ADir::Initialize() { return 0; }

int ADir::Finalize() { return 0; }

int ADir::CopyProperties(ADir* other)
{
    if (!other || other == this)
        return 0;
    typeFilterMode = other->typeFilterMode;
    typeIncludeFilter = other->typeIncludeFilter;
    typeExcludeFilter = other->typeExcludeFilter;
    pathFilterMode = other->pathFilterMode;
    pathIncludeFilter = other->pathIncludeFilter;
    pathExcludeFilter = other->pathExcludeFilter;
    detectOnly = other->detectOnly;
    stopOnError = other->stopOnError;
    moveInsteadOfDelete = other->moveInsteadOfDelete;
    useFullPaths = other->useFullPaths;
    return 0;
}

AString ADir::GetRootDisplayName(signed char) { return rootPath; }

void ADir::AppendArtistAlbum(const ID3*, AString*, signed char&, unsigned int) {}

void ADir::SetProgressControl(platform::StatusField* message, platform::StatusField* detail,
                              platform::ProgressBar* bar)
{
    if (progress)
        progress->SetProgressControl(message, detail, bar);
}

int ADir::PopulateFileList(CancelProc cancel)
{
    const std::string root = rootPath.ToStdString();
    DIR* probe = root.empty() ? nullptr : opendir(root.c_str());
    if (!probe) {
        AError::NoteFailure(kErrOpen, "list the folder", rootPath, root.empty() ? ENOENT : errno);
        return kErrOpen;
    }
    closedir(probe);

    listed.clear();
    AString heading("Reading Dir: ");
    heading += rootPath;
    progress->StartDivision(1.0, &heading, 0, 0);

    int count = 0;
    AString candidate;
    auto visit = [&](FolderWalk::Entry& entry) -> int {
        if (useFullPaths) {
            candidate = rootPath;
            candidate += AString(std::move(entry.relative));
        } else {
            candidate = AString(std::move(entry.relative));
        }
        if (PathFilterCheck(&candidate) && (entry.isDir || TypeFilterCheck(&candidate))) {
            auto* path = new AString(std::move(candidate));
            fileList.AddWithTime(path, entry.modTime, entry.isDir ? 0 : entry.size);
            listed.push_back(
                {path, entry.isDir || entry.isRegular, {entry.isDir, entry.size, entry.modTime}});
        }
        ++count;
        if (count % kReportEvery == 1) {
            AString detail("Reading File Info ");
            detail += count;
            progress->UpdateDivision(0.0, nullptr, &detail, nullptr, 0);
        }
        if (cancel && cancel())
            return kErrUserCancel;
        return 0;
    };
    int specials = 0;
    staleTemporaries.clear();
    std::string firstSpecial;
    auto skipped = [&](const std::string& folder, const char* name, FolderWalk::Skip why) {
        switch (why) {
        case FolderWalk::Skip::kBadName: {
            AString line("Skipped a name that is not valid UTF-8 in ");
            line += AString::FromUTF8(folder);
            line += '\n';
            progress->AddToLog(&line, 1);
            break;
        }
        case FolderWalk::Skip::kSpecial:
            if (specials++ == 0)
                firstSpecial = folder + "/" + name;
            break;
        case FolderWalk::Skip::kTemporary:
            // One whose writer is gone is what a stopped run left behind: nothing will finish it.
            if (AFile::IsStaleTemporaryName(name))
                staleTemporaries.push_back(folder + "/" + name);
            break;
        }
    };
    int err = FolderWalk::Run(root, visit, skipped);
    if (reportSkipped && specials > 0) {
        AString line("Skipped ");
        line += specials;
        line += specials == 1 ? " item" : " items";
        line += " in ";
        line += rootPath;
        line += " that ";
        line += specials == 1 ? "is" : "are";
        line += " neither a file, a folder nor a link to a file (a link to a folder, a pipe, a socket, a "
                "device or a broken link), such as ";
        line += AString::FromUTF8(firstSpecial);
        line += "; ";
        line += specials == 1 ? "it is" : "they are";
        line += " not synced.\n";
        progress->AddToLog(&line, 1);
    }
    if (err != 0 && err != kErrUserCancel) {
        // A listing with a hole in it would look like deleted files to the planner.
        fileList.DeleteAll();
        listed.clear();
    }
    progress->EndDivision(nullptr, 0, 0);
    return err;
}

int ADir::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = rootPath.WriteState(f); err != 0)
        return err;
    if (int err = AStateStream::WriteFlag(f, openLogAutomatically); err != 0)
        return err;
    if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(typeFilterMode)); err != 0)
        return err;
    if (int err = typeIncludeFilter.WriteState(f); err != 0)
        return err;
    if (int err = typeExcludeFilter.WriteState(f); err != 0)
        return err;
    if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(pathFilterMode)); err != 0)
        return err;
    if (int err = pathIncludeFilter.WriteState(f); err != 0)
        return err;
    if (int err = pathExcludeFilter.WriteState(f); err != 0)
        return err;
    if (int err = fileList.WriteState(f); err != 0)
        return err;
    for (signed char flag : {useFullPaths, stopOnError, detectOnly, moveInsteadOfDelete, verboseLog})
        if (int err = AStateStream::WriteFlag(f, flag); err != 0)
            return err;
    return removedFilesFolder.WriteState(f);
}

int ADir::ReadState(AFile* f)
{
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    if (int err = rootPath.ReadState(f); err != 0)
        return err;
    if (int err = AStateStream::ReadFlag(f, &openLogAutomatically); err != 0)
        return err;
    if (int err = AStateStream::ReadI32(f, &typeFilterMode); err != 0)
        return err;
    if (int err = typeIncludeFilter.ReadState(f); err != 0)
        return err;
    if (int err = typeExcludeFilter.ReadState(f); err != 0)
        return err;
    if (int err = AStateStream::ReadI32(f, &pathFilterMode); err != 0)
        return err;
    if (int err = pathIncludeFilter.ReadState(f); err != 0)
        return err;
    if (int err = pathExcludeFilter.ReadState(f); err != 0)
        return err;
    listed.clear();
    if (int err = fileList.ReadState(f); err != 0)
        return err;
    for (signed char* flag : {&useFullPaths, &stopOnError, &detectOnly, &moveInsteadOfDelete, &verboseLog})
        if (int err = AStateStream::ReadFlag(f, flag); err != 0)
            return err;
    return removedFilesFolder.ReadState(f);
}
