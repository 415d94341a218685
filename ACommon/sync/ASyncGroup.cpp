#include "ACommon/sync/ASyncGroup.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/sync/ASyncLib.h"

ASyncGroup::ASyncGroup(AProgress* reporter) : progress(reporter) {}

ASyncGroup::~ASyncGroup()
{
    lock.WaitUntilFree();
    DestroySyncs();
}

void ASyncGroup::DestroySyncs()
{
    for (auto& sync : syncs)
        sync.reset();
    count = 0;
}

ASync* ASyncGroup::GetSync(int index) const
{
    return index >= 0 && index < count ? syncs[index].get() : nullptr;
}

ASyncLib* ASyncGroup::AddASyncLib(int type1, int type2)
{
    APLock::TryGuard guard(lock);
    if (!guard || count >= kMaxSyncs)
        return nullptr;
    auto sync = std::make_unique<ASyncLib>(type1, type2, progress);
    ASyncLib* made = sync.get();
    syncs[count++] = std::move(sync);
    return made;
}

void ASyncGroup::SetProgressControl(RowSelector rows, platform::StatusField* message,
                                    platform::StatusField* detail, platform::ProgressBar* bar)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return;
    tableView = std::move(rows);
    for (int i = 0; i < count; ++i)
        syncs[i]->SetProgressControl(message, detail, bar);
}

int ASyncGroup::RunOne(int index, CancelProc cancel)
{
    ASync* sync = syncs[index].get();
    if (sync->GetAutoAction() == ASync::kDoNotSync)
        return 0;
    return sync->DoSync(cancel);
}

int ASyncGroup::DoSync(CancelProc cancel, int index)
{
    if (index < 0 || index >= count)
        return kErrInvalidElement;
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    return RunOne(index, cancel);
}

int ASyncGroup::DoSyncLoop(CancelProc cancel)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    int result = 0;
    for (int i = 0; i < count; ++i) {
        if (syncs[i]->GetAutoAction() == ASync::kDoNotSync)
            continue;
        if (tableView)
            tableView(i);
        result = RunOne(i, cancel);
        if (syncs[i]->GetStopOnErr() && result != 0)
            break;
        if (cancel && cancel()) {
            result = kErrUserCancel;
            break;
        }
    }
    return result;
}

int ASyncGroup::DoSyncLoopLogOnly(CancelProc cancel)
{
    signed char remembered[kMaxSyncs] = {};
    const int syncCount = count;
    for (int i = 0; i < syncCount; ++i) {
        remembered[i] = syncs[i]->GetLogOnly();
        syncs[i]->SetLogOnly(1);
    }
    const int result = DoSyncLoop(cancel);
    for (int i = 0; i < syncCount && i < count; ++i)
        syncs[i]->SetLogOnly(remembered[i]);
    return result;
}

int ASyncGroup::WriteState(AFile* f)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(count)); err != 0)
        return err;
    if (int err = groupName.WriteState(f); err != 0)
        return err;
    for (int i = 0; i < count; ++i) {
        ASync* sync = syncs[i].get();
        const int type = sync->GetType();
        if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(type)); err != 0)
            return err;
        if (type != ASync::kFileSync) {
            if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(sync->GetDir1()->GetType()));
                err != 0)
                return err;
            if (int err = AStateStream::WriteU32(f, static_cast<std::uint32_t>(sync->GetDir2()->GetType()));
                err != 0)
                return err;
        }
        if (int err = sync->WriteState(f); err != 0)
            return err;
    }
    return 0;
}

int ASyncGroup::ReadState(AFile* f)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    DestroySyncs();
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    std::uint32_t stored = 0;
    if (int err = AStateStream::ReadU32(f, &stored); err != 0)
        return err;
    // The group holds at most kMaxSyncs; a record claiming more is not one this program wrote.
    if (stored > static_cast<std::uint32_t>(kMaxSyncs))
        return kErrUnknown;
    if (int err = groupName.ReadState(f); err != 0)
        return err;
    for (std::uint32_t i = 0; i < stored; ++i) {
        std::uint32_t type = 0;
        if (int err = AStateStream::ReadU32(f, &type); err != 0)
            return err;
        std::unique_ptr<ASync> sync;
        if (type == ASync::kFileSync) {
            sync = std::make_unique<ASync>(progress);
        } else {
            std::uint32_t left = 0, right = 0;
            if (int err = AStateStream::ReadU32(f, &left); err != 0)
                return err;
            if (int err = AStateStream::ReadU32(f, &right); err != 0)
                return err;
            // The sources must be of the stored classes before their records are read.
            auto library =
                std::make_unique<ASyncLib>(static_cast<int>(left), static_cast<int>(right), progress);
            if (library->GetDir1()->GetType() != static_cast<int>(left) ||
                library->GetDir2()->GetType() != static_cast<int>(right))
                return kErrNotSupported;
            sync = std::move(library);
        }
        ASync* added = sync.get();
        syncs[count++] = std::move(sync);
        if (int err = added->ReadState(f); err != 0)
            return err;
    }
    return 0;
}

int ASyncGroup::WriteSyncState(const AString* path)
{
    if (!path || path->IsEmpty())
        return kErrOpen;
    // A run that changed nothing saves the state it loaded: the file is then left as it is.
    return AFile::ReplaceIfChanged(path, [this](AFile* file) { return WriteState(file); });
}

int ASyncGroup::ReadSyncState(const AString* path)
{
    if (!path)
        return kErrOpen;
    AFile file;
    if (int err = file.Open(path, 1); err != 0)
        return err;
    const int err = ReadState(&file);
    file.Close(0);
    return err;
}

int ASyncGroup::RunTool(const std::function<int(ASync* sync)>& body)
{
    APLock::TryGuard guard(lock);
    if (!guard)
        return kErrBusy;
    if (count == 0)
        return kErrObjectNotFound;
    return body(syncs[0].get());
}

ASyncGroup::Load ASyncGroup::LoadSyncState(const AString& path, AString* notice, bool setAside)
{
    if (notice)
        *notice = AString();
    if (AFile::GetPathType(&path) != AFile::kPathFile)
        return Load::kMissing;
    int err = 0;
    {
        AFile file;
        err = file.Open(&path, 1);
        if (err == 0) {
            err = ReadState(&file);
            file.Close(0);
        }
    }
    if (err == 0)
        return Load::kRead;
    if (err == kErrBusy) {
        if (notice)
            *notice = AString("The settings in ") + path +
                      " are in use by a run; they are read again when it has ended.";
        return Load::kBusy;
    }
    {
        APLock::TryGuard guard(lock);
        if (guard)
            DestroySyncs();
    }
    AString aside = path + ".bad";
    AString text;
    text += err;
    AError::AddErrorMsg(&text, err);
    if (!setAside || AFile::Rename(&path, &aside) != 0) {
        if (notice)
            *notice =
                AString("The settings file ") + path + " cannot be read (" + text +
                "); it is left as it is, these settings start from their defaults and are not saved over it.";
        return Load::kUnreadable;
    }
    if (notice)
        *notice = AString("The settings file ") + path + " cannot be read (" + text + "); it is kept as " +
                  aside + " and the settings start from their defaults.";
    return Load::kSetAside;
}
