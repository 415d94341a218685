#include "ACommon/sync/ASync.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/sync/SyncSpace.h"
#include "APlatform/FileSystem.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <sys/stat.h>
#include <thread>
#include <typeinfo>
#include <vector>

namespace {

// The walks show their count only every so many steps: drawing a status line for each of tens of
// thousands of entries would cost more than the comparison it reports.
constexpr int kShowEvery = 128;

// The entry `index` of `dir`, or null (the end mark) once the list is exhausted.
const AString* EntryOrEnd(ADir* dir, int index, int count)
{
    return index < count ? dir->GetFPath(index) : nullptr;
}

AString Joined(const AString* root, const AString* entry)
{
    AString full = *root;
    full.AppendPathComponent(*entry);
    return full;
}

// An empty root begins every path, as an empty text is found at the start of any other.
bool BeginsWith(const AString& text, const AString& prefix)
{
    const std::u16string& units = text.Units();
    const std::u16string& head = prefix.Units();
    return units.size() >= head.size() && units.compare(0, head.size(), head) == 0;
}

int Depth(const AString& path) { return path.Count('/'); }

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and settings

ASync::ASync(AProgress* reporter)
    : dir1(std::make_unique<ADir>(reporter)), dir2(std::make_unique<ADir>(reporter)),
      savedDir1(std::make_unique<ADir>(reporter)), savedDir2(std::make_unique<ADir>(reporter)),
      progress(reporter)
{
}

ASync::~ASync()
{
    lock.WaitUntilFree();
    dir1.reset();
    dir2.reset();
    savedDir1.reset();
    savedDir2.reset();
    ClearSyncActions();
}

const char* ASync::KindWord(int kind)
{
    static const char* const kWords[] = {
        "Copy Left",     "Copy Right",      "Delete",           "Delete",     "Replace Left",
        "Replace Right", "Create Dir Left", "Create Dir Right", "Delete Dir", "Delete Dir"};
    if (kind < 0 || kind >= static_cast<int>(sizeof kWords / sizeof kWords[0]))
        return "";
    return kWords[kind];
}

void ASync::SetOpenLogAutomatically(signed char value)
{
    openLogAutomatically = value;
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        if (dir)
            dir->SetOpenLogAutomatically(value);
}

void ASync::SetVerboseLog(signed char value)
{
    verboseLog = value;
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        if (dir)
            dir->SetVerboseLog(value);
}

void ASync::SetProgressControl(platform::StatusField* message, platform::StatusField* detail,
                               platform::ProgressBar* bar)
{
    if (progress)
        progress->SetProgressControl(message, detail, bar);
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        if (dir)
            dir->SetProgressControl(message, detail, bar);
}

void ASync::ResetAlertSettings() { replaceAnswer = replaceNewerAnswer = deleteAnswer = kAnswerNone; }

void ASync::SetRememberedAnswers(int replace, int replaceNewer, int remove)
{
    replaceAnswer = replace;
    replaceNewerAnswer = replaceNewer;
    deleteAnswer = remove;
}

ASync::SyncAction* ASync::GetAction(int index) const
{
    if (index < 0 || index >= actions.Count())
        return nullptr;
    return static_cast<SyncAction*>(actions.GetDataPtr(index));
}

// ---------------------------------------------------------------------------------------------
// Filters

int ASync::GetTypeFilterMode() const { return dir1 ? dir1->GetTypeFilter() : 0; }
const AString* ASync::GetTypeIncludeFilter() const { return dir1 ? &dir1->GetTypeIncludeFilter() : nullptr; }
const AString* ASync::GetTypeExcludeFilter() const { return dir1 ? &dir1->GetTypeExcludeFilter() : nullptr; }
int ASync::GetPathFilterMode() const { return dir1 ? dir1->GetPathFilterMode() : 0; }
const AString* ASync::GetPathIncludeFilter() const { return dir1 ? &dir1->GetPathIncludeFilter() : nullptr; }
const AString* ASync::GetPathExcludeFilter() const { return dir1 ? &dir1->GetPathExcludeFilter() : nullptr; }

template <typename Apply> void ASync::ApplyFilterChange(Apply apply)
{
    if (dir1)
        apply(dir1.get());
    if (savedDir1) {
        apply(savedDir1.get());
        savedDir1->DeleteAll();
    }
    if (dir2)
        apply(dir2.get());
    if (savedDir2) {
        apply(savedDir2.get());
        savedDir2->DeleteAll();
    }
}

void ASync::SetTypeFilterMode(int mode)
{
    if (dir1 && dir1->GetTypeFilter() == mode)
        return;
    ApplyFilterChange([mode](ADir* dir) { dir->SetTypeFilter(mode); });
}

void ASync::SetTypeIncludeFilter(AString* list)
{
    AString value;
    value = list;
    if (dir1 && dir1->GetTypeIncludeFilter().CompareNoCase(value) == 0)
        return;
    ApplyFilterChange([&value](ADir* dir) { dir->SetFileExtentionIncludeFilter(value); });
}

void ASync::SetTypeExcludeFilter(AString* list)
{
    AString value;
    value = list;
    if (dir1 && dir1->GetTypeExcludeFilter().CompareNoCase(value) == 0)
        return;
    ApplyFilterChange([&value](ADir* dir) { dir->SetTypeExcludeFilter(value); });
}

void ASync::SetPathFilterMode(int mode)
{
    if (dir1 && dir1->GetPathFilterMode() == mode)
        return;
    ApplyFilterChange([mode](ADir* dir) { dir->SetPathFilterMode(mode); });
}

void ASync::SetPathIncludeFilter(AString* list)
{
    AString value;
    value = list;
    if (dir1 && dir1->GetPathIncludeFilter().CompareNoCase(value) == 0)
        return;
    ApplyFilterChange([&value](ADir* dir) { dir->SetPathIncludeFilter(value); });
}

void ASync::SetPathExcludeFilter(AString* list)
{
    AString value;
    value = list;
    if (dir1 && dir1->GetPathExcludeFilter().CompareNoCase(value) == 0)
        return;
    ApplyFilterChange([&value](ADir* dir) { dir->SetPathExcludeFilter(value); });
}

void ASync::SetIncludeFilter(const AString& extensions)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return;
    if (extensions.CompareNoCase(includeFilter) == 0)
        return;
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        if (dir)
            dir->SetFileExtentionIncludeFilter(extensions);
    if (savedDir1)
        savedDir1->DeleteAll();
    if (savedDir2)
        savedDir2->DeleteAll();
}

// ---------------------------------------------------------------------------------------------
// The base file operations

signed char ASync::FilterCheck(const AString* path)
{
    if (!extFilterOn)
        return 1;
    if (!path)
        return 0;
    AString extension;
    path->PathExtension(&extension);
    if (!includeFilter.IsEmpty()) {
        if (extension.IsEmpty() || includeFilter.Find(extension, 0, 0) < 0)
            return 0;
    }
    if (!excludeFilter.IsEmpty() && !extension.IsEmpty() && excludeFilter.Find(extension, 0, 0) >= 0)
        return 0;
    return 1;
}

int ASync::SyncCompare(const AString& a, const AString& b)
{
    if (exactNames)
        return Sign(a.Units().compare(b.Units()));
    return Sign(a.CompareNoCase(b));
}

void ASync::DecideNameAndDateRules()
{
    exactNames = false;
    mixedNames = false;
    coarseDates = true;
    if (GetType() != kFileSync) {
        // Songs are matched by their tags, not their names; two folders of songs still keep exact
        // dates unless one of them lies on a volume that does not.
        if (JudgesByChanges())
            coarseDates = platform::HasCoarseDates(dir1->GetRootPath()->ToStdString()) ||
                          platform::HasCoarseDates(dir2->GetRootPath()->ToStdString());
        return;
    }
    const std::string left = dir1->GetRootPath()->ToStdString(), right = dir2->GetRootPath()->ToStdString();
    // Names are told apart exactly unless one side would take two of them for one.
    const bool leftFolds = platform::NamesIgnoreCase(left), rightFolds = platform::NamesIgnoreCase(right);
    exactNames = !leftFolds && !rightFolds;
    mixedNames = leftFolds != rightFolds;
    coarseDates = platform::HasCoarseDates(left) || platform::HasCoarseDates(right);
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        dir->SetExactNames(exactNames);
}

int ASync::CollidingNames(ADir* dir, int index, int count)
{
    if (!mixedNames || index >= count)
        return index < count ? 1 : 0;
    const AString first = *dir->GetFPath(index);
    int many = 1;
    while (index + many < count && SyncCompare(*dir->GetFPath(index + many), first) == 0)
        ++many;
    return many;
}

void ASync::ReportCollidingNames(ADir* dir, int index, int many, ADir* other)
{
    const AString* root = dir->GetRootPath();
    AString names;
    for (int k = 0; k < many; ++k) {
        if (k > 0)
            names += k + 1 == many ? " and " : ", ";
        names += Joined(root, dir->GetFPath(index + k));
    }
    progress->ReportError(kErrDuplicateNames, &names, nullptr);
    AString line = names;
    line += " differ only in case or in the form of their letters, which ";
    line += other->GetRootDisplayName(0);
    line += " takes for one name: none of them is synced until they are renamed apart.";
    LogLine(line, verboseLog);
    ++typeConflicts;
}

bool ASync::LiesInside(const AString& entry, const AString& prefix)
{
    if (prefix.IsEmpty() || entry.GetLength() < prefix.GetLength())
        return false;
    return SyncCompare(entry.Left(prefix.GetLength()), prefix) == 0;
}

signed char ASync::FilesEqual(const AString* a, const AString* b) { return AFile::FilesEqual(a, b) ? 1 : 0; }

signed char ASync::FastFilesEqual(const AString* a, const AString* b)
{
    const ADir::ListedFile* x = HintFor(a);
    const ADir::ListedFile* y = HintFor(b);
    // Dates count as equal within the tolerance only where a volume keeps coarse dates (FAT,
    // exFAT); elsewhere to the second they are stored with.
    auto sameDates = [this](std::uint64_t p, std::uint64_t q) {
        return p == q ||
               (coarseDates && AFile::DatesEssentiallyEqual(static_cast<double>(p), static_cast<double>(q)));
    };
    if (x && y)
        return x->size == y->size && sameDates(x->modTime, y->modTime) ? 1 : 0;
    if (coarseDates)
        return AFile::FastFilesEqual(a, b) ? 1 : 0;
    if (!AFile::FileExists(a) || !AFile::FileExists(b) || AFile::DirExists(a) || AFile::DirExists(b))
        return 0;
    return AFile::GetFileSize(a) == AFile::GetFileSize(b) &&
                   sameDates(AFile::FileModTime(a), AFile::FileModTime(b))
               ? 1
               : 0;
}

signed char ASync::FileExists(const AString* path)
{
    if (HintFor(path))
        return 1;
    return AFile::FileExists(path) ? 1 : 0;
}

signed char ASync::DirExists(const AString* path)
{
    if (const ADir::ListedFile* hint = HintFor(path))
        return hint->isDir ? 1 : 0;
    return AFile::DirExists(path) ? 1 : 0;
}

int ASync::CreateDir(const AString* path) { return AFile::CreateDir(path); }

std::uint64_t ASync::FileModTime(const AString* path)
{
    if (const ADir::ListedFile* hint = HintFor(path))
        return hint->modTime;
    return AFile::FileModTime(path);
}

void ASync::SetHint(int slot, const AString* path, ADir* dir, int index)
{
    hints[slot].path = dir->GetListedFile(index, &hints[slot].file) ? path : nullptr;
    // A song source's record carries the size of the song's file as its listing found it.
    const bool song = dir->GetType() != ADir::kTypeFolder;
    hints[slot].recordPath = song ? path : nullptr;
    hints[slot].recordSize = song ? ListedSize(dir, index) : 0;
}

std::uint64_t ASync::ListedSize(ADir* dir, int index) { return dir->GetRecordSize(index); }

void ASync::ClearHints()
{
    for (PathHint& hint : hints) {
        hint.path = nullptr;
        hint.recordPath = nullptr;
    }
}

const ADir::ListedFile* ASync::HintFor(const AString* path) const
{
    if (!path)
        return nullptr;
    for (const PathHint& hint : hints)
        if (hint.path == path)
            return &hint.file;
    return nullptr;
}

int ASync::Copy(const AString* src, const AString* dst, signed char, signed char, CancelProc cancel)
{
    if (!src || !dst)
        return kErrOpen;
    // A file whose folder the user unticked, or whose folder was deleted on this side while the
    // file was added on the other, still finds a place to go (unless folders are not to be made).
    int slash = dst->ReverseFind('/');
    if (slash > 0 && !logOnly) {
        AString folder = dst->Left(slash);
        if (!AFile::DirExists(&folder))
            AFile::CreateDir(&folder);
    }
    return AFile::CopyWithProgress(src, dst, cancel, progress);
}

int ASync::Delete(const AString* path)
{
    // A folder is deleted only once it is empty; a file goes where the user can get it back.
    if (AFile::DirExists(path))
        return AFile::Delete(path);
    return PutAside(path);
}

int ASync::PutAside(const AString* path)
{
    ADir* side = SideOfPath(path) == 2 ? dir2.get() : dir1.get();
    if (!side || SideOfPath(path) == 0)
        return AFile::Delete(path);
    return side->PutAside(path);
}

void ASync::GetFileTitle(const AString* vp, AString* out)
{
    if (!vp || !out)
        return;
    int slash = vp->ReverseFind('/');
    *out = slash < 0 ? *vp : vp->Mid(slash + 1, vp->GetLength());
}

int ASync::PreSyncCheck() { return 0; }

AString ASync::VolumePathOfSide(int side)
{
    ADir* dir = side == 1 ? dir1.get() : side == 2 ? dir2.get() : nullptr;
    const AString* root = dir ? dir->GetRootPath() : nullptr;
    return root ? *root : AString();
}

// Removed files go to the Trash of their own volume.
bool ASync::RemovalFreesSpace(int) { return false; }

std::uint64_t ASync::PlannedCopySize(const AString* src, bool* estimated, std::uint64_t listed)
{
    if (estimated)
        *estimated = false;
    return listed != 0 ? listed : FileSize(src);
}

std::uint64_t ASync::SourceBytes(const SyncAction& action)
{
    return action.sourceSize != 0 ? action.sourceSize : FileSize(&action.path1);
}

AString ASync::SideName(int side)
{
    if (side < 1 || side > 2)
        return AString();
    if (!sideNames[side - 1].IsEmpty())
        return sideNames[side - 1];
    ADir* dir = side == 1 ? dir1.get() : dir2.get();
    return dir ? dir->GetRootDisplayName(0) : AString();
}

int ASync::CheckSpaceBeforeCopying()
{
    plannedCopyBytes = 0;
    for (int side = 1; side <= 2; ++side) {
        const SyncSpace::Change change = SyncSpace::PlannedChange(*this, side);
        plannedCopyBytes += change.adds;
        if (change.adds == 0)
            continue;
        const SyncSpace::Volume volume = SyncSpace::Measure(VolumePathOfSide(side));
        if (SyncSpace::Fits(volume, change))
            continue;
        AString text = SyncSpace::Refusal(SideName(side), volume, change);
        progress->ShowStatus(&text, &text);
        progress->ReportMessage(&text, 1);
        return kErrNoSpace;
    }
    return 0;
}

int ASync::GetType() const { return kFileSync; }

std::uint64_t ASync::FileSize(const AString* path)
{
    if (const ADir::ListedFile* hint = HintFor(path))
        return hint->size;
    return AFile::GetFileSize(path);
}

bool ASync::NamesFileOnDisk(const AString&) { return true; }

bool ASync::KeepsReplacedFiles(const AString& path)
{
    const int side = SideOfPath(&path);
    return side != 0 && (side == 1 ? dir1 : dir2)->GetType() == ADir::kTypeFolder;
}

AString ASync::RelativeEntry(const AString& path) const
{
    const int side = SideOfPath(&path);
    if (side == 0)
        return AString();
    const AString* root = (side == 1 ? dir1 : dir2)->GetRootPath();
    int start = root->GetLength();
    while (start < path.GetLength() && path[start] == '/')
        ++start;
    return path.Mid(start, path.GetLength());
}

void ASync::HoldEntry(const AString& path, bool subtree)
{
    AString relative = RelativeEntry(path);
    if (!relative.IsEmpty())
        heldEntries.push_back({relative, subtree});
}

int ASync::FindEntry(ADir* dir, const AString& key)
{
    auto bare = [](const AString* path) {
        int start = 0;
        while (start < path->GetLength() && (*path)[start] == '/')
            ++start;
        return start == 0 ? *path : path->Mid(start, path->GetLength());
    };
    int low = 0, high = dir->Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int c = SyncCompare(bare(dir->GetFPath(middle)), key);
        if (c == 0)
            return middle;
        if (c < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

void ASync::HoldUndoneActions()
{
    expectedAfterActions[0].clear();
    expectedAfterActions[1].clear();
    for (int i = 0; i < actions.Count(); ++i) {
        SyncAction* action = GetAction(i);
        if (action->done && JudgesByChanges()) {
            const int from = SideOfPath(&action->path1);
            if (from == 0)
                continue;
            const AString key = RelativeEntry(action->path1);
            ADir* source = from == 1 ? dir1.get() : dir2.get();
            if (action->operation == kOpCopy || action->operation == kOpReplace) {
                // A copy carries the date and size of its source as the plan saw it.
                const int at = FindEntry(source, key);
                Expected state{key, true, at >= 0 ? source->GetRecordModTime(at) : 0,
                               at >= 0 ? source->GetRecordSize(at) : 0};
                expectedAfterActions[0].push_back(state);
                expectedAfterActions[1].push_back(state);
            } else if (action->operation == kOpDelete) {
                expectedAfterActions[from - 1].push_back({key, false, 0, 0});
            }
        }
        if (action->done)
            continue;
        HoldEntry(action->path1, action->operation == kOpDeleteDir);
        if (!action->path2.IsEmpty())
            HoldEntry(action->path2, action->operation == kOpCreateDir);
    }
}

bool ASync::MeasureFile(const AString& path, std::uint64_t* time, std::uint64_t* size)
{
    *time = 0;
    *size = 0;
    const int side = SideOfPath(&path);
    if (side != 0 && (side == 1 ? dir1 : dir2)->GetType() == ADir::kTypeFolder) {
        // Followed through a link to a file, as the listing lists it; to the nanosecond, so that an
        // edit within the second of the plan is seen.
        struct stat info {};
        if (stat(path.CStr(), &info) != 0)
            return false;
        *time = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000ULL +
                static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
        *size = static_cast<std::uint64_t>(info.st_size);
        return true;
    }
    *time = FileModTime(&path);
    *size = FileSize(&path);
    return *time != 0 || *size != 0;
}

void ASync::NoteSource(const AString* source)
{
    if (actions.Count() == 0)
        return;
    for (const PathHint& hint : hints)
        if (hint.recordPath == source)
            GetAction(actions.Count() - 1)->sourceSize = hint.recordSize;
}

void ASync::NoteTarget(const AString& target)
{
    if (actions.Count() == 0)
        return;
    SyncAction* action = GetAction(actions.Count() - 1);
    action->knowsTarget = MeasureFile(target, &action->targetTime, &action->targetSize);
}

bool ASync::TargetAsPlanned(const SyncAction* action)
{
    if (!action->knowsTarget)
        return true;
    const AString& target = action->operation == kOpDelete ? action->path1 : action->path2;
    std::uint64_t time = 0, size = 0;
    if (!MeasureFile(target, &time, &size))
        return true; // gone: nothing of the user's is left there to lose
    return time == action->targetTime && size == action->targetSize;
}

void ASync::LeaveChangedForNextRun(const AString& changed)
{
    tally.CountKept();
    AString line = FormatVPForDisplay(&changed, 1, -1, 0);
    line += " changed during the run; left for the next run.";
    LogLine(line, verboseLog);
}

bool ASync::LeftOutItemAt(const AString& path)
{
    const int side = SideOfPath(&path);
    if (side == 0 || (side == 1 ? dir1 : dir2)->GetType() != ADir::kTypeFolder)
        return false;
    struct stat info {};
    if (lstat(path.CStr(), &info) != 0)
        return false;
    if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
        return false;
    // A link to a file is listed as that file; anything else there was left out of the listing.
    struct stat target {};
    return !(S_ISLNK(info.st_mode) && stat(path.CStr(), &target) == 0 && S_ISREG(target.st_mode));
}

int ASync::ScanForDups(CancelProc) { return 0; }

AString ASync::FormatVPForDisplay(const AString* vp, signed char isFile, int, signed char)
{
    if (!vp)
        return AString();
    if (isFile)
        return *vp;
    int slash = vp->ReverseFind('/');
    return slash < 0 ? AString() : vp->Left(slash + 1);
}

int ASync::GetUserValidation()
{
    if (!actionsListProc)
        return 0;
    return actionsListProc(&actions, this);
}

int ASync::SideOfPath(const AString* path) const
{
    if (!path)
        return 0;
    const AString* root1 = dir1 ? dir1->GetRootPath() : nullptr;
    const AString* root2 = dir2 ? dir2->GetRootPath() : nullptr;
    const bool left = root1 && BeginsWith(*path, *root1);
    const bool right = root2 && BeginsWith(*path, *root2);
    if (left && right)
        return root2->GetLength() > root1->GetLength() ? 2 : 1;
    if (left)
        return 1;
    return right ? 2 : 0;
}

void ASync::LogLine(const AString& text, signed char dated)
{
    if (dated)
        progress->AddDateToLog(0, 0);
    progress->AddToLog(&text, 0);
    progress->AddToLog("\n", 1);
}

// ---------------------------------------------------------------------------------------------
// Lists

int ASync::ListSide(ADir* side, const AString* path, CancelProc cancel, AProgress* reporter)
{
    AString text("Building Directory List...");
    if (path)
        text += path;
    reporter->StartDivision(1.0, &text, 0, 0);
    int err = side->InitWPath(path, 0, cancel);
    if (err != 0) {
        // Which side could not be listed, and (from the failing operation) which file and why.
        text = "Error building directory ";
        text += side->GetRootDisplayName(0);
        text += ": ";
        text += err;
        AError::AddErrorMsg(&text, err);
    } else {
        text = "Building Directory List: complete";
    }
    reporter->EndDivision(&text, 0, 0);
    return err;
}

int ASync::BuildList(ADir* side, ADir* saved, const AString* path, CancelProc cancel, signed char rebuild)
{
    if (!side)
        return kErrInvalidElement;
    if (!rebuild && path) {
        side->SetRootPath(path);
        if (saved)
            saved->SetRootPath(path);
        return 0;
    }
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    return ListSide(side, path, cancel, progress);
}

int ASync::SetRootPath1(const AString* path, CancelProc cancel, signed char rebuild)
{
    return BuildList(dir1.get(), savedDir1.get(), path, cancel, rebuild);
}

int ASync::SetRootPath2(const AString* path, CancelProc cancel, signed char rebuild)
{
    return BuildList(dir2.get(), savedDir2.get(), path, cancel, rebuild);
}

bool ASync::ListBothAtOnce(CancelProc cancel, int* err)
{
    // Only plain folders: listing them touches nothing but their own lists. Song sources talk to
    // libraries and devices that expect one caller at a time.
    const ADir* left = dir1.get();
    const ADir* right = dir2.get();
    if (!left || !right || typeid(*left) != typeid(ADir) || typeid(*right) != typeid(ADir))
        return false;
    APLock::TryGuard guard(lock);
    if (!guard) {
        *err = kErrBusy;
        return true;
    }
    // The right side reports to a reporter of its own: the status lines belong to the left side's
    // listing, and one reporter's divisions are not to be shared between threads. Its log lines
    // still reach the log.
    AProgress helper;
    AProgress* own = dir2->GetProgress();
    dir2->SetProgress(&helper);
    int rightErr = 0;
    std::thread worker;
    try {
        worker = std::thread([&] { rightErr = ListSide(dir2.get(), nullptr, cancel, &helper); });
    } catch (const std::exception&) {
        dir2->SetProgress(own);
        return false;
    }
    progress->StartDivision(0.5, nullptr, 0, 0);
    int leftErr = ListSide(dir1.get(), nullptr, cancel, progress);
    progress->EndDivision(nullptr, 0, 0);
    worker.join();
    dir2->SetProgress(own);
    progress->StartDivision(0.5, nullptr, 0, 0);
    progress->EndDivision(nullptr, 0, 0);
    *err = leftErr != 0 ? leftErr : rightErr;
    return true;
}

int ASync::UpdateFileLists(CancelProc cancel)
{
    // Listing is mostly waiting for the file system; two folders are listed side by side.
    int err = 0;
    if (ListBothAtOnce(cancel, &err))
        return err;
    progress->StartDivision(0.5, nullptr, 0, 0);
    err = SetRootPath1(nullptr, cancel, 1);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0)
        return err;
    progress->StartDivision(0.5, nullptr, 0, 0);
    err = SetRootPath2(nullptr, cancel, 1);
    progress->EndDivision(nullptr, 0, 0);
    return err;
}

void ASync::CleanUp()
{
    if (dir1)
        dir1->DeleteAll();
    if (dir2)
        dir2->DeleteAll();
    if (autoAction != kTwoWay && autoAction != kDoNotSync) {
        if (savedDir1)
            savedDir1->DeleteAll();
        if (savedDir2)
            savedDir2->DeleteAll();
    }
}

// ---------------------------------------------------------------------------------------------
// Actions and their order

void ASync::ClearSyncActions()
{
    for (int i = 0; i < actions.Count(); ++i)
        delete static_cast<SyncAction*>(actions.GetDataPtr(i));
    actions.DeleteAll();
}

void ASync::AddAction(signed char active, int operation, const AString& path1, const AString& path2,
                      signed char overwrite, int kind)
{
    // Which path each column shows: the side that changes is always in the right-hand column.
    static const int kLeftColumn[] = {1, 0, 0, 1, 1, 0, 1, 0, 0, 1, 0};
    auto action = std::make_unique<SyncAction>();
    action->active = active;
    action->operation = operation;
    action->path1 = path1;
    action->path2 = path2;
    action->overwrite = overwrite;
    action->kind = kind;
    action->leftColumn = (kind >= 0 && kind <= kUndecided) ? kLeftColumn[kind] : 0;
    action->rightColumn = 1 - action->leftColumn;
    AString text1 = FormatVPForDisplay(&action->path1, 1, -1, 0);
    AString text2 = FormatVPForDisplay(&action->path2, kind == kUndecided ? 1 : 0, -1, 0);
    action->leftText = action->leftColumn == 0 ? text1 : text2;
    action->rightText = action->rightColumn == 0 ? text1 : text2;
    actions.AddPtr(action.release());
}

int ASync::CompareSyncActionString(SyncAction* a, SyncAction* b, int column)
{
    if (column == 1)
        return Sign(a->leftText.CompareNoCase(b->leftText));
    if (column == 3)
        return Sign(a->rightText.CompareNoCase(b->rightText));
    assert(false && "CompareSyncActionString compares the text columns 1 and 3 only");
    return 0;
}

int ASync::CompareSyncAction(SyncAction* a, SyncAction* b, int column, signed char ascending)
{
    const int byActive = b->active - a->active;
    const int byKind = a->kind - b->kind;
    int d = 0;
    switch (column) {
    case 0:
        d = byActive ? byActive : byKind ? byKind : CompareSyncActionString(a, b, 1);
        if (d == 0)
            d = CompareSyncActionString(a, b, 3);
        break;
    case 1:
        d = CompareSyncActionString(a, b, 1);
        if (d == 0)
            d = byKind ? byKind : byActive ? byActive : CompareSyncActionString(a, b, 3);
        break;
    case 2:
        d = byKind ? byKind : byActive ? byActive : CompareSyncActionString(a, b, 1);
        if (d == 0)
            d = CompareSyncActionString(a, b, 3);
        break;
    case 3:
        d = CompareSyncActionString(a, b, 3);
        if (d == 0)
            d = byKind ? byKind : byActive ? byActive : CompareSyncActionString(a, b, 1);
        break;
    default:
        return 0;
    }
    return ascending ? d : -d;
}

namespace {

template <int Column, int Ascending> int CompareActionPointers(const void* x, const void* y)
{
    auto* a = *static_cast<ASync::SyncAction* const*>(x);
    auto* b = *static_cast<ASync::SyncAction* const*>(y);
    return ASync::CompareSyncAction(a, b, Column, Ascending);
}

} // namespace

int ASync::Compare00(const void* x, const void* y) { return CompareActionPointers<0, 0>(x, y); }
int ASync::Compare01(const void* x, const void* y) { return CompareActionPointers<0, 1>(x, y); }
int ASync::Compare10(const void* x, const void* y) { return CompareActionPointers<1, 0>(x, y); }
int ASync::Compare11(const void* x, const void* y) { return CompareActionPointers<1, 1>(x, y); }
int ASync::Compare20(const void* x, const void* y) { return CompareActionPointers<2, 0>(x, y); }
int ASync::Compare21(const void* x, const void* y) { return CompareActionPointers<2, 1>(x, y); }
int ASync::Compare30(const void* x, const void* y) { return CompareActionPointers<3, 0>(x, y); }
int ASync::Compare31(const void* x, const void* y) { return CompareActionPointers<3, 1>(x, y); }

void ASync::SortSyncActions(int column, signed char ascending)
{
    // Another column has no order; the list stays as it is.
    if (column < 0 || column > 3)
        return;
    static int (*const kCompare[4][2])(const void*, const void*) = {
        {Compare00, Compare01}, {Compare10, Compare11}, {Compare20, Compare21}, {Compare30, Compare31}};
    auto compare = kCompare[column][ascending ? 1 : 0];
    std::vector<SyncAction*> sorted;
    sorted.reserve(actions.Count());
    for (int i = 0; i < actions.Count(); ++i)
        sorted.push_back(static_cast<SyncAction*>(actions.GetDataPtr(i)));
    std::stable_sort(sorted.begin(), sorted.end(),
                     [compare](SyncAction* const& a, SyncAction* const& b) { return compare(&a, &b) < 0; });
    actions.DeleteAll();
    for (SyncAction* action : sorted)
        actions.AddPtr(action);
}

// ---------------------------------------------------------------------------------------------
// Planning

int ASync::SmartCopy(const AString* src, const AString* dst, signed char dstExists)
{
    const bool onLeft = SideOfPath(src) == 1;
    if (!DirExists(src)) {
        if (!FilterCheck(src))
            return 0;
        if (!dstExists) {
            if (LeftOutItemAt(*dst)) {
                // A link to a folder, a broken link or a pipe the listing left out holds the name:
                // it is never replaced. Said once per run, and its entries wait.
                AString line = FormatVPForDisplay(dst, 1, -1, 0);
                line += " is left out of the sync (a link to a folder, a broken link or another special "
                        "item), and ";
                line += FormatVPForDisplay(src, 1, -1, 0);
                line += " has the same name: neither is synced until one of them is renamed or removed.";
                LogLine(line, verboseLog);
                ++typeConflicts;
                HoldEntry(*src, true);
                return 0;
            }
            AddAction(1, kOpCopy, *src, *dst, 0, onLeft ? kCopyRight : kCopyLeft);
            NoteSource(src);
            return 0;
        }
        if (!carryingTags && FastFilesEqual(src, dst))
            return 0;
        AddAction(1, kOpReplace, *src, *dst, dstExists, onLeft ? kReplaceRight : kReplaceLeft);
        NoteSource(src);
        NoteTarget(*dst);
        // A file the saved lists do not know as synced may hold a change of its own: it is put
        // aside before it is replaced.
        GetAction(actions.Count() - 1)->keepReplaced = !replacingSyncedFile && KeepsReplacedFiles(*dst);
        return 0;
    }
    // Folders are not filtered.
    if (DirExists(dst))
        return 0;
    AddAction(1, kOpCreateDir, *src, *dst, dstExists, onLeft ? kCreateDirRight : kCreateDirLeft);
    return 0;
}

int ASync::SmartDelete(const AString* path)
{
    if (!destDeletes || !FilterCheck(path))
        return 0;
    const bool onLeft = SideOfPath(path) == 1;
    if (DirExists(path))
        AddAction(1, kOpDeleteDir, *path, AString(), 1, onLeft ? kDeleteDirLeft : kDeleteDirRight);
    else {
        AddAction(1, kOpDelete, *path, AString(), 1, onLeft ? kDeleteLeft : kDeleteRight);
        NoteTarget(*path);
    }
    return 0;
}

bool ASync::ChangedSinceSaved(ADir* side, int index, const AString& full, ADir* saved, int savedIndex)
{
    ADir::ListedFile now;
    if (side->GetType() != ADir::kTypeFolder) {
        // A song source's records carry the date and size of the song's file.
        now.modTime = side->GetRecordModTime(index);
        now.size = side->GetRecordSize(index);
    } else if (!side->GetListedFile(index, &now)) {
        now.isDir = AFile::DirExists(&full);
        now.modTime = AFile::FileModTime(&full);
        now.size = AFile::GetFileSize(&full);
    }
    if (now.isDir)
        return false;
    if (savedIndex < 0)
        return true;
    if (now.modTime != saved->GetRecordModTime(savedIndex))
        return true;
    // Saved lists keep the low 32 bits of the size; 0 there is a list saved before sizes were kept.
    const std::uint64_t savedSize = saved->GetRecordSize(savedIndex) & 0xFFFFFFFFu;
    return savedSize != 0 && savedSize != (now.size & 0xFFFFFFFFu);
}

void ASync::PlanChangedPair(const AString& left, const AString& right, bool leftChanged, bool rightChanged)
{
    // Only one side changed since the last run: that side wins, whatever the dates say (an edit
    // restored with an older date is still the edit).
    if (leftChanged != rightChanged) {
        replacingSyncedFile = true;
        if (leftChanged)
            SmartCopy(&left, &right, 1);
        else
            SmartCopy(&right, &left, 1);
        replacingSyncedFile = false;
        return;
    }
    // Both changed (or a pair an earlier run left different): the newer wins, and the other is
    // put aside rather than lost.
    const std::uint64_t leftTime = FileModTime(&left);
    const std::uint64_t rightTime = FileModTime(&right);
    if (leftTime == rightTime) {
        if (!AFile::FilesEqual(&left, &right)) {
            AddAction(0, kOpUndecided, left, right, 1, kUndecided);
            NoteSameDateDifference(left);
        }
        return;
    }
    const int before = actions.Count();
    if (leftTime > rightTime)
        SmartCopy(&left, &right, 1);
    else
        SmartCopy(&right, &left, 1);
    if (actions.Count() > before) {
        SyncAction* conflict = GetAction(before);
        conflict->keepReplaced = true;
        AString line = FormatVPForDisplay(leftTime > rightTime ? &right : &left, 1, -1, 0);
        line += " changed on both sides since the last run: the newer copy wins and this one is kept aside.";
        LogLine(line, verboseLog);
    }
}

bool ASync::JudgesByChanges() const { return true; }

void ASync::HoldChangesMadeDuringTheRun(ADir* now, ADir* planned, std::vector<Expected>& expected)
{
    auto before = [this](const Expected& a, const Expected& b) { return SyncCompare(a.key, b.key) < 0; };
    std::sort(expected.begin(), expected.end(), before);
    auto expectation = [&](const AString& key) -> const Expected* {
        Expected probe;
        probe.key = key;
        auto at = std::lower_bound(expected.begin(), expected.end(), probe, before);
        return at != expected.end() && SyncCompare(at->key, key) == 0 ? &*at : nullptr;
    };
    auto bare = [](const AString* path) {
        int start = 0;
        while (start < path->GetLength() && (*path)[start] == '/')
            ++start;
        return start == 0 ? *path : path->Mid(start, path->GetLength());
    };
    // Folders carry no date that tells a change (a listing keeps them with size 0): only files are
    // compared.
    auto isFolder = [](ADir* dir, int index) {
        if (dir->GetType() != ADir::kTypeFolder || dir->GetRecordSize(index) != 0)
            return false;
        const AString full = Joined(dir->GetRootPath(), dir->GetFPath(index));
        return AFile::DirExists(&full);
    };
    std::vector<AString> nowKeys;
    for (int i = 0; i < now->Count(); ++i) {
        const AString key = bare(now->GetFPath(i));
        nowKeys.push_back(key);
        if (isFolder(now, i))
            continue;
        std::uint64_t time = 0, size = 0;
        bool present = false;
        if (const Expected* e = expectation(key)) {
            present = e->present;
            time = e->modTime;
            size = e->size;
        } else if (const int at = FindEntry(planned, key); at >= 0) {
            present = true;
            time = planned->GetRecordModTime(at);
            size = planned->GetRecordSize(at);
        }
        if (!present || time != now->GetRecordModTime(i) || size != now->GetRecordSize(i))
            heldEntries.push_back({key, false});
    }
    // Files the plan saw and no action removed, gone now: deleted during the run.
    auto keyBefore = [this](const AString& a, const AString& b) { return SyncCompare(a, b) < 0; };
    std::sort(nowKeys.begin(), nowKeys.end(), keyBefore);
    for (int i = 0; i < planned->Count(); ++i) {
        const AString key = bare(planned->GetFPath(i));
        if (std::binary_search(nowKeys.begin(), nowKeys.end(), key, keyBefore) || isFolder(planned, i))
            continue;
        const Expected* e = expectation(key);
        if (!e || e->present)
            heldEntries.push_back({key, false});
    }
}

bool ASync::SameFileState(const AString&, const AString&) { return true; }

void ASync::NoteTagDifference(const AString& left)
{
    // Never synced: the saved lists must not take the two copies for a synced pair.
    HoldEntry(left, false);
    ++tagDifferences;
    AString line = FormatVPForDisplay(&left, 1, -1, 0);
    line += " has the same music on both sides but other tags, and both copies changed since the last run: "
            "neither is copied over the other (the review can choose one).";
    LogLine(line, verboseLog);
}

void ASync::NoteSameDateDifference(const AString& left)
{
    ++sameDateDifferences;
    AString line = FormatVPForDisplay(&left, 1, -1, 0);
    line += " differs from its copy on the other side but has the same date: neither is newer, so both are "
            "left as they are (the review can choose one).";
    LogLine(line, verboseLog);
}

void ASync::KeepChangeOverDeletion(const AString& changed, ADir* deletedOn)
{
    AString line = FormatVPForDisplay(&changed, 1, -1, 0);
    line += " was deleted on ";
    line += deletedOn->GetRootDisplayName(0);
    line += " but changed here since the last run: the change wins, it is copied back, not deleted.";
    LogLine(line, verboseLog);
}

int ASync::SmartCopyNewest2Other(const AString* left, const AString* right)
{
    if (FastFilesEqual(left, right))
        return 0;
    const std::uint64_t leftTime = FileModTime(left);
    const std::uint64_t rightTime = FileModTime(right);
    if (leftTime > rightTime)
        return SmartCopy(left, right, 1);
    if (rightTime > leftTime)
        return SmartCopy(right, left, 1);
    if (AFile::FilesEqual(left, right))
        return 0;
    AddAction(0, kOpUndecided, *left, *right, 1, kUndecided);
    NoteSameDateDifference(*left);
    return 0;
}

void ASync::SortSides(std::array<ADir*, 2> first, std::array<ADir*, 2> second)
{
    auto sortAll = [](const std::array<ADir*, 2>& lists) {
        for (ADir* list : lists)
            if (list)
                list->Sort(1);
    };
    // Plain folders' lists are sorted side by side: sorting is most of the planning time, and the
    // lists share nothing. Other sources may sort through libraries of their own; they take turns.
    auto plain = [](const std::array<ADir*, 2>& lists) {
        for (const ADir* list : lists)
            if (list && typeid(*list) != typeid(ADir))
                return false;
        return true;
    };
    std::thread helper;
    if (plain(first) && plain(second)) {
        try {
            helper = std::thread(sortAll, second);
        } catch (const std::exception&) {
            // No thread to be had: this thread sorts both.
        }
    }
    sortAll(first);
    if (helper.joinable())
        helper.join();
    else
        sortAll(second);
}

int ASync::XCopy(ADir* src, ADir* dst, CancelProc cancel)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    savedDir1->DeleteAll();
    savedDir2->DeleteAll();
    DecideNameAndDateRules();

    const int srcCount = src->Count();
    const int dstCount = dst->Count();
    AString text("Syncing: ");
    text += srcCount;
    text += " in source and ";
    text += dstCount;
    text += " in dest.";
    progress->StartDivision(1.0, &text, 0, 0);
    if (srcCount > 0 && dstCount > 0) {
        LogLine(AString("Sorting Directory List 1... ") + src->GetRootDisplayName(0), verboseLog);
        LogLine(AString("Sorting Directory List 2... ") + dst->GetRootDisplayName(0), verboseLog);
        SortSides({src, nullptr}, {dst, nullptr});
    }
    text = "Calculating sync actions to perform...";
    progress->UpdateDivision(0.0, &text, &text, &text, 0);

    const AString srcRoot = *src->GetRootPath();
    const AString dstRoot = *dst->GetRootPath();
    const int total = srcCount + dstCount;
    int result = 0;
    int i = 0, j = 0;
    AString conflicted; // "name/" of the last colliding name
    while (i < srcCount || j < dstCount) {
        if (stopOnErr && result != 0)
            break;
        const AString* a = EntryOrEnd(src, i, srcCount);
        const AString* b = EntryOrEnd(dst, j, dstCount);
        if ((i + j) % kShowEvery == 0) {
            AString detail("Processing ");
            detail += i + j;
            detail += " of ";
            detail += total;
            progress->UpdateDivision(static_cast<double>(i + j) / total, nullptr, &detail, nullptr, 0);
        }
        const int c = !a ? 1 : !b ? -1 : SyncCompare(*a, *b);
        // Names one side tells apart and the other takes for one are neither copied nor deleted.
        const int fromSource = c <= 0 ? CollidingNames(src, i, srcCount) : 0;
        const int atDest = c >= 0 ? CollidingNames(dst, j, dstCount) : 0;
        if (LiesInside(c <= 0 ? *a : *b, conflicted)) {
            // What a colliding folder holds waits with it.
            i += c <= 0 ? 1 : 0;
            j += c >= 0 ? 1 : 0;
            result = 0;
        } else if (fromSource > 1 || atDest > 1) {
            if (fromSource > 1)
                ReportCollidingNames(src, i, fromSource, dst);
            else
                ReportCollidingNames(dst, j, atDest, src);
            const AString entry = c <= 0 ? *a : *b;
            conflicted = entry;
            conflicted += '/';
            while (i < srcCount && SyncCompare(*src->GetFPath(i), entry) == 0)
                ++i;
            while (j < dstCount && SyncCompare(*dst->GetFPath(j), entry) == 0)
                ++j;
            result = stopOnErr ? kErrDuplicateNames : 0;
        } else if (c <= 0) {
            AString from = Joined(&srcRoot, a);
            AString to = Joined(&dstRoot, c == 0 ? b : a);
            SetHint(0, &from, src, i);
            if (c == 0)
                SetHint(1, &to, dst, j);
            result = SmartCopy(&from, &to, c == 0 ? 1 : 0);
            ++i;
            if (c == 0)
                ++j;
        } else {
            AString gone = Joined(&dstRoot, b);
            SetHint(1, &gone, dst, j);
            result = SmartDelete(&gone);
            ++j;
        }
        ClearHints();
        if (cancel && cancel()) {
            result = kErrUserCancel;
            break;
        }
    }

    text = result == 0                ? "Sync actions calculated."
           : result == kErrUserCancel ? "Sync terminated by user cancel."
                                      : "Error Syncing!";
    progress->EndDivision(&text, 0, 1);
    return result;
}

int ASync::TwoWaySync(CancelProc cancel)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    // Without deletions ("Merge") every file counts as new: nothing is ever deleted.
    if (!destDeletes) {
        savedDir1->DeleteAll();
        savedDir2->DeleteAll();
    }
    sameDateDifferences = 0;
    tagDifferences = 0;
    DecideNameAndDateRules();
    // Plain folders are synchronized by what changed since the last run, told by the dates and
    // sizes the saved lists keep: a change beats a deletion, and the side that changed wins.
    const bool byChanges = destDeletes && JudgesByChanges();
    // A saved list known to be its side's listing is that listing: the merge reads the one list twice.
    ADir* lists[4] = {dir1.get(), savedIsSide[0] ? dir1.get() : savedDir1.get(), dir2.get(),
                      savedIsSide[1] ? dir2.get() : savedDir2.get()};
    int counts[4];
    for (int k = 0; k < 4; ++k)
        counts[k] = lists[k]->Count();

    AString text("Syncing: ");
    text += counts[0];
    text += " files and ";
    text += counts[2];
    text += " files";
    progress->StartDivision(1.0, &text, 0, 0);
    LogLine(AString("Sorting Directory List 1... ") + dir1->GetRootDisplayName(0), verboseLog);
    LogLine(AString("Sorting Directory List 2... ") + dir2->GetRootDisplayName(0), verboseLog);
    SortSides({dir1.get(), counts[1] > 0 && !savedIsSide[0] ? savedDir1.get() : nullptr},
              {dir2.get(), counts[3] > 0 && !savedIsSide[1] ? savedDir2.get() : nullptr});
    text = "Calculating sync actions to perform...";
    progress->UpdateDivision(0.0, &text, &text, &text, 0);

    const AString root1 = *dir1->GetRootPath();
    const AString root2 = *dir2->GetRootPath();
    const int total = counts[0] + counts[1] + counts[2] + counts[3];
    int index[4] = {0, 0, 0, 0};
    int steps = 0;
    AString conflicted; // "name/" of the last folder that is a file on the other side
    int result = 0;
    // One merge pass over the four sorted lists. Each step takes the smallest current entry of all
    // four and decides by which lists hold it: present on both sides, the newer replaces the older;
    // present on one side only, it is new there (copied across) unless the other side held it at
    // the last sync (then it was deleted there, and the deletion is carried over). Taking the
    // smallest entry first keeps a saved entry from being passed over while a smaller new entry of
    // the other side is still waiting.
    while (index[0] < counts[0] || index[1] < counts[1] || index[2] < counts[2] || index[3] < counts[3]) {
        if (stopOnErr && result != 0)
            break;
        const AString* current[4];
        for (int k = 0; k < 4; ++k)
            current[k] = EntryOrEnd(lists[k], index[k], counts[k]);
        if (steps++ % kShowEvery == 0) {
            const int done = index[0] + index[1] + index[2] + index[3];
            AString detail("Comparing Entries: ");
            detail += done;
            detail += " of ";
            detail += total;
            progress->UpdateDivision(static_cast<double>(done) / total, nullptr, &detail, nullptr, 0);
        }
        // The smallest entry and which lists hold it, in at most three comparisons: an entry equal
        // to a smallest-so-far that is then beaten is greater than the new smallest too.
        int smallest = -1;
        bool holds[4] = {false, false, false, false};
        for (int k = 0; k < 4; ++k) {
            if (!current[k])
                continue;
            const int c = smallest < 0 ? -1 : SyncCompare(*current[k], *current[smallest]);
            if (c < 0) {
                for (bool& held : holds)
                    held = false;
                smallest = k;
            }
            holds[k] = c <= 0;
        }
        const bool inLeft = holds[0], inSavedLeft = holds[1], inRight = holds[2], inSavedRight = holds[3];

        // What lies inside a folder that is a file on the other side waits with it.
        const bool insideConflict = LiesInside(*current[smallest], conflicted);
        // Names one side tells apart and the other takes for one cannot all go there: one would
        // overwrite the other. They all wait, with what their folders hold.
        int collidingSide = -1, colliding = 0;
        for (int k : {0, 2})
            if (!insideConflict && collidingSide < 0 && holds[k] &&
                (colliding = CollidingNames(lists[k], index[k], counts[k])) > 1)
                collidingSide = k;
        const AString entry = *current[smallest];
        if (insideConflict) {
            result = 0;
        } else if (collidingSide >= 0) {
            ReportCollidingNames(lists[collidingSide], index[collidingSide], colliding,
                                 lists[2 - collidingSide]);
            conflicted = entry;
            conflicted += '/';
            heldEntries.push_back({RelativeEntry(Joined(lists[collidingSide]->GetRootPath(), &entry)), true});
            result = stopOnErr ? kErrDuplicateNames : 0;
        } else if (inLeft && inRight) {
            AString pl = Joined(&root1, current[0]);
            AString pr = Joined(&root2, current[2]);
            SetHint(0, &pl, dir1.get(), index[0]);
            SetHint(1, &pr, dir2.get(), index[2]);
            const signed char leftIsDir = DirExists(&pl);
            if (leftIsDir != DirExists(&pr)) {
                AString what = pl + " and ";
                progress->ReportError(kErrDuplicateNames, &what, &pr);
                AString line = FormatVPForDisplay(leftIsDir ? &pl : &pr, 1, -1, 0);
                line += " is a folder, and ";
                line += FormatVPForDisplay(leftIsDir ? &pr : &pl, 1, -1, 0);
                line +=
                    " a file of the same name: neither is synced until one of them is renamed or removed.";
                LogLine(line, verboseLog);
                ++typeConflicts;
                conflicted = *current[0];
                conflicted += '/';
                HoldEntry(pl, true);
                // The clash is logged and its entry left alone; it ends the plan only when the
                // sync stops at the first error.
                result = stopOnErr ? kErrDuplicateNames : 0;
            } else if (!leftIsDir && byChanges) {
                const bool leftChanged =
                    ChangedSinceSaved(dir1.get(), index[0], pl, savedDir1.get(), inSavedLeft ? index[1] : -1);
                const bool rightChanged = ChangedSinceSaved(dir2.get(), index[2], pr, savedDir2.get(),
                                                            inSavedRight ? index[3] : -1);
                if (!FastFilesEqual(&pl, &pr)) {
                    PlanChangedPair(pl, pr, leftChanged, rightChanged);
                } else if (!SameFileState(pl, pr)) {
                    // Two songs with the same music whose tags differ.
                    if (leftChanged != rightChanged) {
                        carryingTags = true; // the retagging is carried
                        PlanChangedPair(pl, pr, leftChanged, rightChanged);
                        carryingTags = false;
                    } else {
                        NoteTagDifference(pl);
                    }
                } else if (leftChanged && rightChanged && inSavedLeft && inSavedRight &&
                           !FilesEqual(&pl, &pr)) {
                    // Both were edited since the last run and came out of it with one size and one
                    // date: only their contents tell whether they are still the same file.
                    PlanChangedPair(pl, pr, true, true);
                }
                result = 0;
            } else if (!leftIsDir) {
                result = SmartCopyNewest2Other(&pl, &pr);
            } else {
                result = 0;
            }
        } else if (inLeft) {
            AString pl = Joined(&root1, current[0]);
            SetHint(0, &pl, dir1.get(), index[0]);
            if (inSavedRight && byChanges &&
                ChangedSinceSaved(dir1.get(), index[0], pl, savedDir1.get(), inSavedLeft ? index[1] : -1)) {
                KeepChangeOverDeletion(pl, dir2.get());
                AString pr = Joined(&root2, current[0]);
                result = SmartCopy(&pl, &pr, 0);
            } else if (inSavedRight) {
                result = SmartDelete(&pl);
            } else {
                AString pr = Joined(&root2, current[0]);
                result = SmartCopy(&pl, &pr, 0);
            }
        } else if (inRight) {
            AString pr = Joined(&root2, current[2]);
            SetHint(1, &pr, dir2.get(), index[2]);
            if (inSavedLeft && byChanges &&
                ChangedSinceSaved(dir2.get(), index[2], pr, savedDir2.get(), inSavedRight ? index[3] : -1)) {
                KeepChangeOverDeletion(pr, dir1.get());
                AString pl = Joined(&root1, current[2]);
                result = SmartCopy(&pr, &pl, 0);
            } else if (inSavedLeft) {
                result = SmartDelete(&pr);
            } else {
                AString pl = Joined(&root1, current[2]);
                result = SmartCopy(&pr, &pl, 0);
            }
        }
        ClearHints();
        // An entry only in the saved lists is gone from both sides: nothing to do.
        for (int k = 0; k < 4; ++k)
            if (holds[k])
                ++index[k];
        // Colliding names are passed over together, in all four lists.
        if (collidingSide >= 0)
            for (int k = 0; k < 4; ++k)
                while (index[k] < counts[k] && SyncCompare(*lists[k]->GetFPath(index[k]), entry) == 0)
                    ++index[k];
        if (cancel && cancel()) {
            result = kErrUserCancel;
            break;
        }
    }

    text = result == 0                ? "Sync actions calculated."
           : result == kErrUserCancel ? "Sync terminated by user cancel."
                                      : "Error Sync'ing!";
    progress->EndDivision(&text, 0, 1);
    return result;
}

void ASync::UseSavedListsOnTheirOwn()
{
    ADir* saved[2] = {savedDir1.get(), savedDir2.get()};
    for (int k = 0; k < 2; ++k) {
        if (!savedIsSide[k])
            continue;
        savedIsSide[k] = false;
        // The scan a song sync gives every list before it plans (ScanForDups).
        if (GetType() != kFileSync)
            saved[k]->ScanForDuplicates(0, 1, 1, nullptr, 0);
    }
}

int ASync::RepopulateLists(CancelProc cancel)
{
    if (!destDeletes)
        return 0;
    // Entries this run left as they were (an action that failed, was refused or found its file
    // changed; a clash left for the user) keep what the saved lists said of them, so that the next
    // run judges them as this one did; every other entry is saved as the sides now stand.
    std::vector<AString> exact, folders;
    for (const HeldEntry& held : heldEntries)
        (held.subtree ? folders : exact).push_back(held.relative);
    auto before = [this](const AString& a, const AString& b) { return SyncCompare(a, b) < 0; };
    std::sort(exact.begin(), exact.end(), before);
    std::sort(folders.begin(), folders.end(), before);
    auto found = [&](const std::vector<AString>& sorted, const AString& key) {
        auto at = std::lower_bound(sorted.begin(), sorted.end(), key, before);
        return at != sorted.end() && SyncCompare(*at, key) == 0;
    };
    auto isHeld = [&](const AString* record) {
        if (!record)
            return false;
        int start = 0;
        while (start < record->GetLength() && (*record)[start] == '/')
            ++start;
        const AString relative = start == 0 ? *record : record->Mid(start, record->GetLength());
        if (found(exact, relative) || found(folders, relative))
            return true;
        for (int slash = relative.Find('/', 0); slash > 0 && !folders.empty();
             slash = relative.Find('/', slash + 1))
            if (found(folders, relative.Left(slash)))
                return true;
        return false;
    };
    struct Record {
        AString path;
        std::uint64_t modTime;
        std::uint64_t size;
    };
    ADir* saved[2] = {savedDir1.get(), savedDir2.get()};
    std::vector<Record> kept[2];
    // Runs that judge files by their changes compare the sides as they are now with what the plan
    // and the actions left; every old record may then be wanted.
    const bool checkChanges = JudgesByChanges();
    // Sides as this run listed them, with nothing held: their listings become the saved lists.
    const bool takeOver = sidesAsListed && heldEntries.empty() && !checkChanges;
    // Only what is held, or a run judged by changes, reads the old saved lists; otherwise they are
    // listed afresh below.
    if (!takeOver && (checkChanges || !heldEntries.empty()))
        UseSavedListsOnTheirOwn();
    savedIsSide[0] = savedIsSide[1] = false;
    for (int k = 0; k < 2 && (checkChanges || !heldEntries.empty()); ++k)
        for (int i = 0; i < saved[k]->Count(); ++i)
            if (const AString* record = saved[k]->GetFPath(i); checkChanges || isHeld(record))
                kept[k].push_back({*record, saved[k]->GetRecordModTime(i), saved[k]->GetRecordSize(i)});

    // A source that keeps its list elsewhere (an iPod's database) cannot take an old record back,
    // only drop one: a held entry it had keeps the record the new listing gives it. Where that is
    // not the old one (the song is gone from the side, or changed on it), the saved lists stay as
    // the last run left them, all of them.
    bool takesBack[2] = {true, true};
    std::vector<AString> heldBefore[2];
    auto bare = [](const AString* path) {
        int start = 0;
        while (start < path->GetLength() && (*path)[start] == '/')
            ++start;
        return start == 0 ? *path : path->Mid(start, path->GetLength());
    };
    if (!heldEntries.empty())
        for (int k = 0; k < 2; ++k) {
            const int count = saved[k]->Count();
            saved[k]->AddRecord(AString("?"), 0, 0);
            if (saved[k]->Count() != count)
                continue;
            takesBack[k] = false;
            ADir* live = k == 0 ? dir1.get() : dir2.get();
            for (int i = 0; i < count; ++i) {
                const AString* record = saved[k]->GetFPath(i);
                if (!isHeld(record))
                    continue;
                const AString entry = bare(record);
                AString full = *saved[k]->GetRootPath();
                full.AppendPathComponent(entry);
                if (FindEntry(live, entry) < 0 ||
                    live->GetFileModTime(&full) != saved[k]->GetFileModTime(&full))
                    return 0;
                heldBefore[k].push_back(entry);
            }
            std::sort(heldBefore[k].begin(), heldBefore[k].end(), before);
        }

    // The run's own listing has said what it left out.
    savedDir1->SetReportSkipped(false);
    savedDir2->SetReportSkipped(false);
    AString text("Saving file list 1...");
    progress->StartDivision(0.5, &text, 0, 0);
    // A file changed since the run listed it is then seen as changed by the next run, as it would
    // not be if it were listed again now.
    auto renew = [&](ADir* list, ADir* live) {
        if (takeOver && list->GetType() == live->GetType() && list->TakeListing(*live)) {
            live->DeleteAll();
            return 0;
        }
        return list->InitWPath(live->GetRootPath(), 0, cancel);
    };
    int err = renew(savedDir1.get(), dir1.get());
    progress->EndDivision(nullptr, 0, 0);
    text = "Saving file list 2...";
    progress->StartDivision(0.5, &text, 0, 0);
    int err2 = renew(savedDir2.get(), dir2.get());
    progress->EndDivision(nullptr, 0, 0);
    if (checkChanges && err == 0 && err2 == 0) {
        HoldChangesMadeDuringTheRun(savedDir1.get(), dir1.get(), expectedAfterActions[0]);
        HoldChangesMadeDuringTheRun(savedDir2.get(), dir2.get(), expectedAfterActions[1]);
        exact.clear();
        folders.clear();
        for (const HeldEntry& held : heldEntries)
            (held.subtree ? folders : exact).push_back(held.relative);
        std::sort(exact.begin(), exact.end(), before);
        std::sort(folders.begin(), folders.end(), before);
    }
    if (!heldEntries.empty()) {
        for (int k = 0; k < 2; ++k) {
            for (int i = saved[k]->Count() - 1; i >= 0; --i) {
                const AString* record = saved[k]->GetFPath(i);
                if (isHeld(record) && (takesBack[k] || !found(heldBefore[k], bare(record))))
                    saved[k]->ForgetRecord(i);
            }
            if (!takesBack[k])
                continue;
            for (Record& record : kept[k])
                if (isHeld(&record.path))
                    saved[k]->AddRecord(record.path, record.modTime, record.size);
        }
    }
    return err != 0 ? err : err2;
}

// ---------------------------------------------------------------------------------------------
// Performing

int ASync::DoSync(CancelProc cancel)
{
    tally.Reset();
    plannedCopyBytes = 0;
    goneSide = 0;
    int err = PreSyncCheck();
    if (err != 0)
        return err;

    AString text("Initializing sync...");
    progress->StartProgress(&text, 1, 1, openLogAutomatically);
    auto endEarly = [this](int code) {
        progress->EndProgress(nullptr, 1, 1, code == kErrUserCancel ? 1 : 0);
        return code;
    };
    const double share = GetType() == kFileSync ? 0.5 : 1.0 / 3.0;

    typeConflicts = 0;
    heldEntries.clear();
    // What the plan of this run found holds for this run only.
    struct Forget {
        bool* flags;
        ~Forget() { flags[0] = flags[1] = false; }
    } forget{savedIsSide};
    savedIsSide[0] = savedIsSide[1] = false;
    dir1->ShareWith(*savedDir1);
    dir2->ShareWith(*savedDir2);
    progress->StartDivision(share, nullptr, 0, 0);
    err = UpdateFileLists(cancel);
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0)
        return endEarly(err);
    // A saved list that is what its side lists now need not be read: deletions are told by it only
    // in a two-way run that carries them.
    if (autoAction == kTwoWay && destDeletes) {
        savedIsSide[0] = savedDir1->GetType() == dir1->GetType() && savedDir1->SameListingAs(*dir1);
        savedIsSide[1] = savedDir2->GetType() == dir2->GetType() && savedDir2->SameListingAs(*dir2);
    }

    if (GetType() != kFileSync) {
        progress->StartDivision(share, nullptr, 0, 0);
        err = ScanForDups(cancel);
        progress->EndDivision(nullptr, 0, 0);
        if (err != 0)
            return endEarly(err);
    }

    progress->StartDivision(share, nullptr, 0, 0);
    ClearSyncActions();
    switch (autoAction) {
    case kLeftToRight:
        err = XCopy(dir1.get(), dir2.get(), cancel);
        break;
    case kRightToLeft:
        err = XCopy(dir2.get(), dir1.get(), cancel);
        break;
    case kTwoWay:
        err = TwoWaySync(cancel);
        break;
    default:
        break;
    }
    progress->EndDivision(nullptr, 0, 0);
    if (err != 0)
        return endEarly(err);
    KeepCopiesOfUnreadableFiles();

    text = "Sync ready.";
    progress->EndProgress(&text, 1, 1, 1);

    if (actions.Count() == 0) {
        // Both sides agree; the saved lists must say so too. Lists left from an older run would
        // take a file added later under a name that was deleted on both sides since for a file
        // deleted on one side, and delete it.
        // The sources are finalised all the same: what listing found to mend on a side (an iPod's
        // iTunesSD a stopped run left behind its database, songs such a run copied) is mended.
        if (!planOnly)
            err = FinalizeSides();
        if (!planOnly) {
            dir1->RemoveStaleTemporaries();
            dir2->RemoveStaleTemporaries();
        }
        if (autoAction == kTwoWay && !planOnly && err == 0) {
            sidesAsListed = true;
            RepopulateLists(nullptr);
            sidesAsListed = false;
        }
        if (err == 0 && typeConflicts > 0 && !planOnly) {
            tally.CountError();
            err = kErrDuplicateNames;
        }
        text = "Nothing to Sync!";
        progress->ReportMessage(&text, 1);
        return err;
    }
    if (planOnly)
        return 0;

    auto userCancelled = [this](int code) {
        AString line("User cancelled.");
        progress->ShowStatus(&line, &line);
        LogLine(line, verboseLog);
        return code;
    };
    if (showActionsList) {
        text = "Preparing action list...";
        progress->ShowStatus(&text, &text);
        if (int refused = GetUserValidation(); refused != 0)
            return userCancelled(refused);
    }
    if (!ConfirmMassDeletion())
        return userCancelled(kErrUserCancel);
    if (int full = CheckSpaceBeforeCopying(); full != 0) {
        tally.CountError();
        return full;
    }

    // The sources make ready for the actions (a "Last Sync" playlist made afresh) only once there
    // are actions to perform: a dry run, a run with nothing to do and a run refused at its review
    // write nothing.
    err = dir1->Initialize();
    if (err == 0)
        err = dir2->Initialize();
    if (err != 0) {
        tally.CountError();
        AString line("Failed preparing the sync: ");
        line += err;
        AError::AddErrorMsg(&line, err);
        LogLine(line, verboseLog);
        return err;
    }

    text = "Performing sync...";
    progress->StartProgress(&text, 1, 1, openLogAutomatically);
    // Temporary files that killed runs left in folders go once the run is to change things.
    dir1->RemoveStaleTemporaries();
    dir2->RemoveStaleTemporaries();
    progress->StartDivision(autoAction == kTwoWay ? 0.9 : 1.0, nullptr, 0, 0);
    BeforePerforming();
    err = PerformSyncActions(cancel);
    // Why the first action failed, which the run ends with; what runs after may note failures of
    // its own.
    const AString firstDetail = AError::FailureDetail(err);
    AfterPerforming();
    progress->EndDivision(nullptr, 0, 0);
    HoldUndoneActions();
    ClearSyncActions();

    // The sources write their libraries back first: the lists saved for the next two-way sync are
    // read from the sides as they now stand (an iPod's database holds the songs just copied onto it
    // only once it is written).
    const int finalized = FinalizeSides();
    if (err == 0)
        err = finalized;
    // The saved lists are renewed after every run that got through its plan, failures and all:
    // the entries of actions that failed or were left undone, and of clashes left for the user,
    // keep their saved state (RepopulateLists), so that one file that cannot be copied delays
    // only itself. A cancelled run keeps the lists it started with, and so does one whose sides
    // could not be written back or went away (what they hold is not known).
    if (autoAction == kTwoWay && err != kErrUserCancel && err != kErrDisconnected && finalized == 0) {
        text = "Performing sync finalization...";
        progress->StartDivision(0.1, &text, 0, 1);
        RepopulateLists(nullptr);
        progress->EndDivision(nullptr, 0, 0);
    }
    // A folder against a file is left for the user, and every run says so until it is settled.
    if (err == 0 && typeConflicts > 0) {
        tally.CountError();
        err = kErrDuplicateNames;
    }
    CleanUp();
    if (!firstDetail.IsEmpty() && AError::FailureDetail(err).IsEmpty())
        AError::NoteFailure(err, firstDetail);
    text = err == kErrUserCancel     ? "Sync cancelled."
           : err == kErrDisconnected ? "Sync stopped."
                                     : "Sync completed.";
    progress->EndProgress(&text, 1, 1, (err == 0 || err == kErrUserCancel) ? 1 : 0);
    return err;
}

bool ASync::SideGoneNow()
{
    if (!sideGone)
        return false;
    for (int side : {2, 1}) {
        if (!sideGone(side))
            continue;
        goneSide = side;
        AString line((side == 1 ? dir1 : dir2)->GetRootDisplayName(0));
        line += " was disconnected; the sync stops here.";
        LogLine(line, verboseLog);
        return true;
    }
    return false;
}

int ASync::FinalizeSides()
{
    // A side that cannot write its library back has lost what the actions did to it (songs copied
    // onto an iPod are not in its database): the run failed.
    int err = 0;
    for (ADir* side : {dir1.get(), dir2.get()}) {
        // Nothing is written to a side that went away: its folder may now be that of another disk.
        if (goneSide == (side == dir1.get() ? 1 : 2))
            continue;
        if (int finalized = side->Finalize(); finalized != 0) {
            // The summary tells what is true of the side after the run: songs it holds only in
            // memory were neither copied onto it nor removed from it.
            const ADir::Unwritten undone = side->GetUnwritten();
            tally.CountUndone(side == dir1.get() ? 1 : 2, undone.added, undone.addedBytes, undone.removed);
            tally.CountError();
            AString line("Failed writing ");
            line += side->GetRootDisplayName(0);
            line += ": ";
            line += finalized;
            AError::AddErrorMsg(&line, finalized);
            LogLine(line, verboseLog);
            if (err == 0)
                err = finalized;
        }
    }
    return err;
}

void ASync::KeepCopiesOfUnreadableFiles()
{
    for (int side = 1; side <= 2; ++side) {
        ADir* unread = side == 1 ? dir1.get() : dir2.get();
        const int count = unread->GetUnreadableCount();
        if (count == 0)
            continue;
        const int other = 3 - side;
        int dropped = 0;
        for (int i = actions.Count() - 1; i >= 0; --i) {
            SyncAction* action = GetAction(i);
            if ((action->operation == kOpDelete || action->operation == kOpDeleteDir) &&
                SideOfPath(&action->path1) == other) {
                delete action;
                actions.Delete(i);
                ++dropped;
                tally.CountKept();
            }
        }
        if (dropped == 0)
            continue;
        AString line;
        line += count;
        line += " files on ";
        line += unread->GetRootDisplayName(0);
        line += " could not be read, so this sync deletes nothing on ";
        line += (other == 1 ? dir1 : dir2)->GetRootDisplayName(0);
        line += " (";
        line += dropped;
        line += " deletions left out): a file that could not be read may be the copy of one it would delete.";
        LogLine(line, verboseLog);
    }
}

bool ASync::ConfirmMassDeletion()
{
    int deletions[3] = {0, 0, 0};
    for (int i = 0; i < actions.Count(); ++i) {
        SyncAction* action = GetAction(i);
        if (action->active && (action->operation == kOpDelete || action->operation == kOpDeleteDir))
            ++deletions[SideOfPath(&action->path1)];
    }
    for (int side = 1; side <= 2; ++side) {
        ADir* dir = side == 1 ? dir1.get() : dir2.get();
        const int held = dir->Count();
        const int doomed = deletions[side];
        // Plain folders are checked for any plan that deletes more than half of a side, and always
        // when the other side is empty (unmounted, say); song syncs from a few deletions up.
        const bool otherEmpty = (side == 1 ? dir2 : dir1)->Count() == 0;
        const int minimum = GetType() == kFileSync ? 1 : kMassDeletionMinimum;
        if (doomed < minimum || (doomed * 2 <= held && !(otherEmpty && GetType() == kFileSync)))
            continue;
        const AString name = dir->GetRootDisplayName(0);
        AString title("Delete ");
        title += doomed;
        title += " of ";
        title += held;
        title += " files on ";
        title += name;
        title += '?';
        AString detail("Delete ");
        detail += doomed;
        detail += " files and folders from ";
        detail += name;
        detail +=
            ": more than half of what is there. This is what a missing, unmounted or unreadable folder "
            "on the other side looks like. Yes goes on with the sync; No cancels it with nothing changed.";
        LogLine(title, verboseLog);
        // Asked every time: a "Yes to All" given to other questions must not wave this one through.
        if (progress->ConfirmMassDeletion(&title, &detail) != kAnswerYes)
            return false;
    }
    return true;
}

int ASync::PerformSyncActions(CancelProc cancel)
{
    const int count = actions.Count();
    AString text("Performing sync actions...");
    progress->StartDivision(1.0, &text, 0, 1);
    int firstErr = 0;
    AString firstDetail;
    bool stopped = false;
    bool stoppedOnCancelledAction = false;
    transfer.Start(plannedCopyBytes);

    // Folders are removed after everything else, deepest first, so that a folder is judged by what
    // is left in it once every file the plan deletes is gone.
    std::vector<int> folderDeletions;
    auto disconnected = [&] {
        if (!SideGoneNow())
            return false;
        firstErr = kErrDisconnected;
        stopped = true;
        return true;
    };
    auto perform = [&](int i) {
        // A volume that went away fails every action left: the run stops at the first sign.
        if (disconnected())
            return;
        SyncAction* action = GetAction(i);
        int err = PerformAction(action, i + 1, count, cancel);
        if (err != 0 && err != kErrUserCancel && disconnected())
            return;
        if (firstErr == 0) {
            firstErr = err;
            firstDetail = AError::FailureDetail(err);
        }
        // A side that another program is changing refuses every further action as it refused
        // this one: the run stops here rather than fail each of them.
        if (err != 0 && (stopOnErr || err == kErrBusy)) {
            stopped = true;
            stoppedOnCancelledAction = err == kErrUserCancel;
            return;
        }
        if (cancel && cancel()) {
            firstErr = kErrUserCancel;
            stopped = true;
        }
    };
    for (int i = 0; i < count && !stopped; ++i) {
        SyncAction* action = GetAction(i);
        if (!action->active) {
            tally.CountKept();
            continue;
        }
        if (action->operation == kOpDeleteDir) {
            folderDeletions.push_back(i);
            continue;
        }
        perform(i);
    }
    std::stable_sort(folderDeletions.begin(), folderDeletions.end(), [this](int a, int b) {
        return Depth(GetAction(a)->path1) > Depth(GetAction(b)->path1);
    });
    for (size_t k = 0; k < folderDeletions.size() && !stopped; ++k)
        perform(folderDeletions[k]);

    transfer.Stop();
    text = firstErr == 0                                            ? "Sync actions completed."
           : stoppedOnCancelledAction || firstErr == kErrUserCancel ? "Sync terminated by user cancel."
           : firstErr == kErrDisconnected                           ? "Sync stopped: a side was disconnected."
                                                                    : "Error Sync'ing!";
    progress->EndDivision(&text, 0, 0);
    if (!firstDetail.IsEmpty())
        AError::NoteFailure(firstErr, firstDetail);
    return firstErr;
}

bool ASync::ReachableWithoutLinks(const AString* path)
{
    const int side = SideOfPath(path);
    if (side == 0)
        return false;
    const std::string full = path->ToStdString();
    const std::string root = (side == 1 ? dir1 : dir2)->GetRootPath()->ToStdString();
    if (full.find("/../") != std::string::npos || full.size() < 3 ||
        full.compare(full.size() - 3, 3, "/..") == 0)
        return false;
    for (size_t slash = full.find('/', root.size()); slash != std::string::npos;
         slash = full.find('/', slash + 1)) {
        struct stat info {};
        if (lstat(full.substr(0, slash).c_str(), &info) != 0)
            return errno == ENOENT; // the rest is made by this run, as real folders
        if (!S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

int ASync::PerformAction(SyncAction* action, int number, int count, CancelProc cancel)
{
    // Plain folders are written only below their roots, never through a link to a folder that
    // appeared in them since they were listed.
    if (GetType() == kFileSync && action->operation != kOpUndecided) {
        const AString& target = action->operation == kOpDelete || action->operation == kOpDeleteDir
                                    ? action->path1
                                    : action->path2;
        if (!ReachableWithoutLinks(&target)) {
            tally.CountError();
            LogLine(AString("Not written: ") + target +
                        " lies behind a link or outside the synced folder; nothing is written through it.",
                    verboseLog);
            return kErrInvalidPath;
        }
    }

    // A file changed since the plan saw it (saved by the user during the review or while earlier
    // actions ran) is not replaced or deleted: the action waits for the next run, which sees the
    // change. A file that appeared where a copy was to go counts the same.
    if ((action->operation == kOpReplace || action->operation == kOpDelete) && !TargetAsPlanned(action)) {
        LeaveChangedForNextRun(action->operation == kOpDelete ? action->path1 : action->path2);
        return 0;
    }
    if (action->operation == kOpCopy && KeepsReplacedFiles(action->path2) &&
        AFile::FileExists(&action->path2)) {
        LeaveChangedForNextRun(action->path2);
        return 0;
    }
    const int keptBefore = tally.Kept();
    const int err = PerformPlannedAction(action, number, count, cancel);
    action->done = err == 0 && tally.Kept() == keptBefore;
    return err;
}

int ASync::PerformPlannedAction(SyncAction* action, int number, int count, CancelProc cancel)
{
    AString text("Action ");
    text += number;
    text += " of ";
    text += count;
    const double fraction = static_cast<double>(number - 1) / count;
    auto failure = [this](const char* what, const AString& subject, int err) {
        AString line(what);
        line += subject;
        line += ": ";
        line += err;
        AError::AddErrorMsg(&line, err);
        LogLine(line, verboseLog);
    };

    switch (action->operation) {
    case kOpCopy:
    case kOpReplace: {
        const bool replace = action->operation == kOpReplace;
        text += replace ? " Replacing " : " Copying ";
        text += FormatVPForDisplay(&action->path1, 1, 25, 0);
        text += replace ? " on " : " to ";
        text += FormatVPForDisplay(&action->path2, 0, 25, 0);
        progress->StartDivision(1.0 / count, &text, 1, 1);
        keepNextReplaced = replace && action->keepReplaced;
        performing = action;
        int err = CopyWithAlert(&action->path1, &action->path2, action->overwrite, replace ? 1 : 0, cancel);
        performing = nullptr;
        keepNextReplaced = false;
        progress->EndDivision(nullptr, 0, 0);
        return err;
    }
    case kOpDelete:
        text += " Deleting ";
        text += FormatVPForDisplay(&action->path1, 1, 25, 0);
        progress->UpdateDivision(fraction, nullptr, &text, &text, verboseLog);
        return DeleteWithAlert(&action->path1);
    case kOpCreateDir: {
        if (verboseLog) {
            text += " Creating directory: ";
            text += action->path2;
            progress->UpdateDivision(fraction, nullptr, &text, &text, 0);
        }
        if (logOnly)
            return 0;
        int err = CreateDir(&action->path2);
        if (err != 0) {
            tally.CountError();
            failure("Failed creating directory ", action->path2, err);
        }
        return err;
    }
    case kOpDeleteDir: {
        const AString shown = FormatVPForDisplay(&action->path1, 1, 25, 0);
        if (verboseLog) {
            text += " Deleting directory: ";
            text += shown;
            progress->UpdateDivision(fraction, nullptr, &text, &text, 0);
        }
        if (logOnly)
            return 0;
        if (AFile::DirectoryEmptiness(&action->path1) != 1) {
            if (!FileExists(&action->path1))
                return 0; // already gone
            // Something the plan does not delete is still in it (a file added since the last sync,
            // one the filters left out, one the user chose to keep): the folder stays with it.
            LogLine(AString("Kept directory ") + shown +
                        ": it still holds files that this sync does not delete.",
                    verboseLog);
            // Its deletion waits: the saved lists keep the folder, so the next run does not take it
            // for new and bring it back to the other side empty.
            tally.CountKept();
            return 0;
        }
        int err = Delete(&action->path1);
        if (err != 0) {
            tally.CountError();
            failure("Failed deleting directory ", shown, err);
        }
        return err;
    }
    default:
        // The undecided pair is never performed until the user has changed it into a replacement.
        tally.CountKept();
        return 0;
    }
}

int ASync::CopyWithAlert(const AString* src, const AString* dst, signed char overwrite, signed char isReplace,
                         CancelProc cancel)
{
    // A file that appeared at the destination since the plan was made (during the review, say) is
    // not replaced without the question a planned replacement asks. (Asked of the disk itself, where
    // the side's paths name files on it.)
    if (!overwrite && NamesFileOnDisk(*dst) && AFile::FileExists(dst))
        overwrite = 1;
    // Whether the replacement of an existing destination is wanted, by the remembered answers or
    // by asking.
    auto approved = [&]() {
        if (replaceAnswer == kAnswerNoToAll)
            return false;
        const AString srcText = FormatVPForDisplay(src, 1, -1, 0);
        const AString dstText = FormatVPForDisplay(dst, 1, -1, 0);
        auto ask = [&](const char* title, int& remembered) {
            AString heading(title);
            switch (progress->YesNoAlert(&heading, &srcText, &dstText)) {
            case kAnswerNoToAll:
                remembered = kAnswerNoToAll;
                return false;
            case kAnswerYesToAll:
                remembered = kAnswerYesToAll;
                return true;
            case kAnswerYes:
                return true;
            default:
                return false;
            }
        };
        // Judged on the sides' own dates: a song side's paths name no file of their own.
        if (FileModTime(dst) > FileModTime(src)) {
            if (replaceNewerAnswer == kAnswerNoToAll)
                return false;
            return replaceNewerAnswer == kAnswerYesToAll || ask("Replace newer file?", replaceNewerAnswer);
        }
        return replaceAnswer == kAnswerYesToAll || ask("Replace file?", replaceAnswer);
    };
    if (overwrite && !approved()) {
        tally.CountKept();
        return 0;
    }
    // The reason given with a failure is this copy's own, never one an earlier operation noted.
    AError::ClearFailure();
    int err = 0;
    if (keepNextReplaced && overwrite && FileExists(dst)) {
        // The file replaced may hold a change of its own: it goes where the user can get it back.
        err = PutAside(dst);
        if (err == 0)
            LogLine(AString("Kept aside ") + FormatVPForDisplay(dst, 1, -1, 0) +
                        (autoAction == kTwoWay && destDeletes
                             ? " (changed on both sides)."
                             : " (not known as synced, so it may hold changes "
                               "of its own)."),
                    verboseLog);
    }
    if (err == 0)
        err = Copy(src, dst, overwrite, isReplace, cancel);
    if (err == 0 && verifyCopies && !FilesEqual(src, dst))
        err = kErrIO;
    if (err == kErrChangedWhileCopied) {
        // The copy was thrown away; the file as it now is goes across with the next run.
        LeaveChangedForNextRun(*src);
        return 0;
    }
    if (err == 0) {
        if (LastCopyTookHeldSong()) {
            tally.CountHeldSongAdded();
            return 0;
        }
        const std::uint64_t bytes =
            performing && &performing->path1 == src ? SourceBytes(*performing) : FileSize(src);
        if (overwrite)
            tally.CountReplacement(bytes);
        else
            tally.CountCopy(SideOfPath(dst), bytes);
        transfer.Add(bytes);
        return 0;
    }
    if (err != kErrUserCancel) {
        tally.CountError();
        AString why;
        why += err;
        AError::AddErrorMsg(&why, err);
        tally.NoteFailure(FormatVPForDisplay(src, 1, -1, 1), why);
    }
    AString line("Failed copying ");
    line += FormatVPForDisplay(src, 1, 25, 0);
    line += " to ";
    line += FormatVPForDisplay(dst, 0, 25, 0);
    line += ": ";
    line += err;
    AError::AddErrorMsg(&line, err);
    LogLine(line, verboseLog);
    return err;
}

int ASync::DeleteWithAlert(const AString* path)
{
    auto approved = [&]() {
        if (deleteAnswer == kAnswerNoToAll)
            return false;
        if (deleteAnswer == kAnswerYesToAll)
            return true;
        AString title("Delete file?");
        AString shown = FormatVPForDisplay(path, 1, -1, 0);
        switch (progress->YesNoAlert(&title, &shown, nullptr)) {
        case kAnswerNoToAll:
            deleteAnswer = kAnswerNoToAll;
            return false;
        case kAnswerYesToAll:
            deleteAnswer = kAnswerYesToAll;
            return true;
        case kAnswerYes:
            return true;
        default:
            return false;
        }
    };
    if (!approved()) {
        tally.CountKept();
        return 0;
    }
    AError::ClearFailure();
    int err = Delete(path);
    if (err == 0)
        tally.CountRemoval();
    else
        tally.CountError();
    if (err != 0) {
        AString why;
        why += err;
        AError::AddErrorMsg(&why, err);
        tally.NoteFailure(FormatVPForDisplay(path, 1, -1, 1), why);
        AString line("Failed to delete ");
        line += FormatVPForDisplay(path, 1, 25, 0);
        line += ": ";
        line += err;
        AError::AddErrorMsg(&line, err);
        LogLine(line, verboseLog);
    }
    return err;
}

void ASync::ChangeSyncAction(SyncAction* action, unsigned int choice)
{
    if (!action)
        return;
    static const int kAppliesTo[] = {kCopyLeft,    kCopyRight,    kDeleteLeft, kDeleteRight,
                                     kReplaceLeft, kReplaceRight, kUndecided,  kUndecided};
    if (choice > kKeepRight) {
        assert(false && "ChangeSyncAction knows the choices kDeleteRightInstead to kKeepRight");
        return;
    }
    if (action->kind != kAppliesTo[choice])
        return;
    auto text = [this](const AString& path, signed char isFile) {
        return FormatVPForDisplay(&path, isFile, -1, 0);
    };
    // The path relative to its side's root, joined to the other side's root.
    auto across = [](const AString& path, ADir* from, ADir* to) {
        AString joined = *to->GetRootPath();
        joined.AppendPathComponent(path.Mid(from->GetRootPath()->GetLength(), path.GetLength()));
        return joined;
    };
    auto swapSides = [action] {
        std::swap(action->path1, action->path2);
        std::swap(action->leftColumn, action->rightColumn);
    };
    switch (choice) {
    case kDeleteRightInstead:
    case kDeleteLeftInstead:
        action->kind = choice == kDeleteRightInstead ? kDeleteRight : kDeleteLeft;
        action->operation = kOpDelete;
        action->overwrite = 1;
        action->path2 = AString();
        (choice == kDeleteRightInstead ? action->leftText : action->rightText) = AString();
        break;
    case kCopyRightInstead:
        action->kind = kCopyRight;
        action->operation = kOpCopy;
        action->overwrite = 0;
        action->path2 = across(action->path1, dir1.get(), dir2.get());
        action->rightText = text(action->path2, 0);
        break;
    case kCopyLeftInstead:
        action->kind = kCopyLeft;
        action->operation = kOpCopy;
        action->overwrite = 0;
        action->path2 = across(action->path1, dir2.get(), dir1.get());
        action->leftText = text(action->path2, 0);
        break;
    case kReplaceRightInstead:
        action->kind = kReplaceRight;
        swapSides();
        action->leftText = text(action->path1, 1);
        action->rightText = text(action->path2, 0);
        break;
    case kReplaceLeftInstead:
        action->kind = kReplaceLeft;
        swapSides();
        action->leftText = text(action->path2, 0);
        action->rightText = text(action->path1, 1);
        break;
    case kKeepLeft:
        action->kind = kReplaceRight;
        action->operation = kOpReplace;
        action->leftText = text(action->path1, 1);
        action->rightText = text(action->path2, 0);
        break;
    case kKeepRight:
        action->kind = kReplaceLeft;
        action->operation = kOpReplace;
        swapSides();
        action->leftText = text(action->path2, 0);
        action->rightText = text(action->path1, 1);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// State record: mark, the four sources, then the settings and the remembered answers.

int ASync::WriteState(AFile* f)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    CleanUp();
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        if (int err = dir->WriteState(f); err != 0)
            return err;
    if (int err = AStateStream::WriteFlag(f, reservedFlag); err != 0)
        return err;
    for (int value : {replaceAnswer, replaceNewerAnswer, deleteAnswer, autoAction, autoRunOnVolumeMount})
        if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(value)); err != 0)
            return err;
    for (signed char flag : {logOnly, showActionsList, destDeletes, verifyCopies, stopOnErr, extFilterOn,
                             openLogAutomatically, verboseLog})
        if (int err = AStateStream::WriteFlag(f, flag); err != 0)
            return err;
    if (int err = includeFilter.WriteState(f); err != 0)
        return err;
    return excludeFilter.WriteState(f);
}

int ASync::ReadState(AFile* f)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    for (ADir* dir : {dir1.get(), dir2.get(), savedDir1.get(), savedDir2.get()})
        if (int err = dir->ReadState(f); err != 0)
            return err;
    if (int err = AStateStream::ReadFlag(f, &reservedFlag); err != 0)
        return err;
    for (int* value :
         {&replaceAnswer, &replaceNewerAnswer, &deleteAnswer, &autoAction, &autoRunOnVolumeMount})
        if (int err = AStateStream::ReadI32(f, value); err != 0)
            return err;
    for (signed char* flag : {&logOnly, &showActionsList, &destDeletes, &verifyCopies, &stopOnErr,
                              &extFilterOn, &openLogAutomatically, &verboseLog})
        if (int err = AStateStream::ReadFlag(f, flag); err != 0)
            return err;
    if (int err = includeFilter.ReadState(f); err != 0)
        return err;
    return excludeFilter.ReadState(f);
}
