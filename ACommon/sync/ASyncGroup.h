#pragma once
// ASyncGroup: the syncs a front end works with (one song library sync in practice), their runs,
// and the state file that keeps all of their settings, saved lists and remembered answers, one
// file per iPod.

#include "ACommon/base/AFile.h"
#include "ACommon/base/APLock.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/base/AString.h"
#include "ACommon/sync/ASync.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
class StatusField;
class ProgressBar;
} // namespace platform

class ASyncLib;

class ASyncGroup {
public:
    static constexpr std::uint32_t kStateMark = 0x00100001;
    static constexpr int kMaxSyncs = 20;
    // Shows which sync a loop is running: the front end selects row `index` of its list of syncs.
    using RowSelector = std::function<void(int index)>;

    explicit ASyncGroup(AProgress* progress = &AProgress::Shared());
    ~ASyncGroup();
    ASyncGroup(const ASyncGroup&) = delete;
    ASyncGroup& operator=(const ASyncGroup&) = delete;

    int NumSyncs() const { return count; }
    // Sync `index`; null outside 0 to NumSyncs() - 1.
    ASync* GetSync(int index) const;
    // Appends a new song library sync with these source types; null when the group is busy or full.
    ASyncLib* AddASyncLib(int type1, int type2);
    void SetProgressControl(RowSelector rows, platform::StatusField* message, platform::StatusField* detail,
                            platform::ProgressBar* bar);

    // Runs sync `index` (nothing for "Do Not Synchronize"); kErrBusy while the group is busy,
    // kErrInvalidElement for an index outside the group.
    int DoSync(CancelProc cancel, int index);
    // Runs every sync in order; stops after a failed sync that stops on errors, or on a cancel.
    int DoSyncLoop(CancelProc cancel);
    // The loop with every sync in log-only mode (no folders made or deleted).
    int DoSyncLoopLogOnly(CancelProc cancel);

    int WriteState(AFile* f);
    int ReadState(AFile* f);
    // Writes the group's record to `path` safely: into a temporary file beside it, flushed, renamed
    // over it. The old file stays whole when anything fails.
    int WriteSyncState(const AString* path);
    // Reads the group's record from `path`. A missing file is created empty (and so reads as
    // kErrEndOfFile, the end of the file).
    int ReadSyncState(const AString* path);

    // Runs `body` on sync 0 under the group's lock, as a run does: a library tool's walk never sees
    // the group saved, read again or emptied under it. kErrBusy while the group is busy, kErrObjectNotFound
    // when it holds no sync.
    int RunTool(const std::function<int(ASync* sync)>& body);

    // How LoadSyncState went.
    enum class Load { kRead, kMissing, kBusy, kSetAside, kUnreadable };
    // Reads the group's record from `path` without ever losing it: a missing file reads as kMissing
    // (nothing is created); a group busy with a run gives kBusy and leaves the file alone (read it
    // again after the run); a file that cannot be read (damaged, or written by a newer version) is
    // renamed to PATH.bad with `setAside`, so that the next save cannot overwrite it, and gives
    // kSetAside; without `setAside`, or when the rename fails, it stays as it is and gives
    // kUnreadable (nothing may be saved over it then). Unless kRead, the group is left empty for the
    // caller's defaults, and `notice` says what happened when the user must know.
    Load LoadSyncState(const AString& path, AString* notice, bool setAside = true);

    void SetGroupName(const AString& name) { groupName = name; }

private:
    int RunOne(int index, CancelProc cancel);
    void DestroySyncs();

    std::array<std::unique_ptr<ASync>, kMaxSyncs> syncs;
    int count = 0;
    AString groupName;
    APLock lock;
    RowSelector tableView;
    AProgress* progress = nullptr;
};
