#pragma once
// ASync: the two-sided sync engine. It holds the left side (dir1) and the right side (dir2), each a
// source with a root and a file list, and for each side a second source of the same class with the
// list as it stood after the last two-way sync with deletions, which tells a file deleted on one
// side from a file that is new on the other. It owns the settings of one sync and its list of
// planned actions, plans them (one way or both ways), lets the user review them and performs them.
// Every file question goes through a virtual operation, so that the song library sync can answer
// with song operations where this class uses plain files.

#include "ACommon/base/AArray.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/APLock.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/base/AString.h"
#include "ACommon/sources/ADir.h"
#include "ACommon/sync/SyncTally.h"
#include "ACommon/sync/TransferMeter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {
class StatusField;
class ProgressBar;
} // namespace platform

class ASync {
public:
    // One planned action.
    struct SyncAction {
        signed char active = 0; // 1 perform, 0 skip
        int operation = 0;      // Operation below
        AString path1;          // source, or the item to delete
        AString path2;          // destination; empty for deletions
        signed char overwrite = 0;
        int leftColumn = 0; // which path the left column shows: 0 path1, 1 path2
        int rightColumn = 0;
        int kind = 0;     // Kind below: the action as the user sees it
        AString leftText; // display texts of the two columns, used for sorting
        AString rightText;
        // A replacement of a file that changed on its own side too: the replaced file is put aside
        // (into the Trash or the removed-files folder) before it is replaced, never lost.
        bool keepReplaced = false;
        // What the plan saw of the file this action replaces or deletes: a file found otherwise
        // when the action comes to be performed was changed during the run, and is left alone.
        bool knowsTarget = false;
        std::uint64_t targetTime = 0;
        std::uint64_t targetSize = 0;
        // The size of the song's file at path1 as its listing found it, so that the plan and the
        // tally need not look at the file again; 0: not known (the file is asked).
        std::uint64_t sourceSize = 0;
        // Set once the action has been carried out. The entries of an action left undone (failed,
        // unticked, answered No, changed during the run) keep what the saved lists said of them.
        bool done = false;
    };

    enum Operation : int {
        kOpCopy = 1,      // path1 to path2, which does not exist
        kOpDelete = 2,    // file path1
        kOpReplace = 3,   // path1 over the existing path2
        kOpCreateDir = 4, // directory path2
        kOpDeleteDir = 5, // directory path1
        kOpUndecided = 6, // same time, different contents: never performed until changed
    };

    enum Kind : int {
        kCopyLeft = 0,
        kCopyRight = 1,
        kDeleteLeft = 2,
        kDeleteRight = 3,
        kReplaceLeft = 4,
        kReplaceRight = 5,
        kCreateDirLeft = 6,
        kCreateDirRight = 7,
        kDeleteDirLeft = 8,
        kDeleteDirRight = 9,
        kUndecided = 10,
    };

    // The direction of a sync (autoAction); with destDeletes it makes the sync type the user chooses.
    // The values are those the state file stores.
    enum AutoAction : int {
        kLeftToRight = 1, // one way: the right side receives
        kRightToLeft = 2, // one way: the left side receives
        kTwoWay = 3,
        kDoNotSync = 4, // "Do Not Synchronize"
    };

    // What GetType tells of a sync, as the group's state record stores it.
    enum SyncKind : int {
        kFileSync = 1, // plain ASync
        kSongSync = 2, // ASyncLib
    };

    // The choices of ChangeSyncAction, each for actions of one kind.
    enum ChangeChoice : unsigned {
        kDeleteRightInstead = 0,  // "Copy Left" becomes the deletion of the right file
        kDeleteLeftInstead = 1,   // "Copy Right" becomes the deletion of the left file
        kCopyRightInstead = 2,    // the left deletion becomes "Copy Right"
        kCopyLeftInstead = 3,     // the right deletion becomes "Copy Left"
        kReplaceRightInstead = 4, // "Replace Left" becomes "Replace Right"
        kReplaceLeftInstead = 5,  // "Replace Right" becomes "Replace Left"
        kKeepLeft = 6,            // an undecided pair: the left file replaces the right one
        kKeepRight = 7,           // an undecided pair: the right file replaces the left one
    };

    // The answers that YesNoAlert gives and that the sync remembers.
    enum Answer : int {
        kAnswerNone = 0,
        kAnswerYes = 1,
        kAnswerYesToAll = 2,
        kAnswerNo = 3,
        kAnswerNoToAll = 4
    };

    // Shows the action list to the user: 0 to go on, any other value when the user cancelled.
    using ActionsListProc = int (*)(AArray* actions, ASync* sync);

    static constexpr std::uint32_t kStateMark = 0x00100005;
    // A song sync's plan that deletes at least this many entries, and more than half of one side, is
    // confirmed once before anything is performed (a plain folder's from one entry up).
    static constexpr int kMassDeletionMinimum = 10;

    explicit ASync(AProgress* progress = &AProgress::Shared());
    ASync(const ASync&) = delete;
    ASync& operator=(const ASync&) = delete;

    // The word the action list shows for a kind ("Copy Left", ...); empty for the undecided pair.
    static const char* KindWord(int kind);

    // Virtual operations, in the order the song library sync overrides them.
    virtual signed char FilterCheck(const AString* path);
    virtual int SyncCompare(const AString& a, const AString& b);
    virtual signed char FilesEqual(const AString* a, const AString* b);
    virtual signed char FastFilesEqual(const AString* a, const AString* b);
    virtual signed char FileExists(const AString* path);
    virtual signed char DirExists(const AString* path);
    virtual int CreateDir(const AString* path);
    virtual std::uint64_t FileModTime(const AString* path);
    virtual int Copy(const AString* src, const AString* dst, signed char overwrite, signed char isReplace,
                     CancelProc cancel);
    // Whether the last Copy that succeeded put a song the receiving side held already into its
    // playlist instead of copying a file.
    virtual bool LastCopyTookHeldSong() const { return false; }
    virtual int Delete(const AString* path);
    virtual void GetFileTitle(const AString* vp, AString* out);
    virtual int PreSyncCheck();
    virtual ~ASync();
    virtual int GetType() const;
    virtual int ScanForDups(CancelProc cancel);
    virtual int WriteState(AFile* f);
    virtual int ReadState(AFile* f);
    virtual AString FormatVPForDisplay(const AString* vp, signed char isFile, int maxLen,
                                       signed char detailed);
    virtual int GetUserValidation();
    // The size of the file (or the song's file) at `path`, 0 when there is none; what a copy moved.
    virtual std::uint64_t FileSize(const AString* path);
    // Where the files a side receives go on disk (for measuring its volume).
    virtual AString VolumePathOfSide(int side);
    // Whether a removal on `side` gives its file's room back (rather than moving it aside on the
    // same volume).
    virtual bool RemovalFreesSpace(int side);
    // The bytes a copy of `src` writes to the other side; `estimated` says the figure is a guess
    // (a song converted on the way). `listed`, when not 0, is the size of its file as listed.
    virtual std::uint64_t PlannedCopySize(const AString* src, bool* estimated, std::uint64_t listed = 0);
    // The size of the file an action copies: as listed where known, else as it is now.
    std::uint64_t SourceBytes(const SyncAction& action);
    // Called once the actions are reviewed, before the first is performed, and after the last (or
    // the cancel or failure that ended them).
    virtual void BeforePerforming() {}
    virtual void AfterPerforming() {}

    // Settings.
    void SetLogOnly(signed char value) { logOnly = value; }
    signed char GetLogOnly() const { return logOnly; }
    void SetOpenLogAutomatically(signed char value);
    signed char GetOpenLogAutomatically() const { return openLogAutomatically; }
    void SetAutoRunOnVolumeMount(signed char value) { autoRunOnVolumeMount = value; }
    signed char GetAutoRunOnVolumeMount() const
    {
        return static_cast<signed char>(autoRunOnVolumeMount & 0xFF);
    }
    void SetVerboseLog(signed char value);
    signed char GetVerboseLog() const { return verboseLog; }
    void SetDestDeletes(signed char value) { destDeletes = value; }
    signed char GetDestDeletes() const { return destDeletes; }
    void SetStopOnErr(signed char value) { stopOnErr = value; }
    signed char GetStopOnErr() const { return stopOnErr; }
    void SetShowActionsList(signed char value) { showActionsList = value; }
    signed char GetShowActionsList() const { return showActionsList; }
    void SetAutoAction(int value) { autoAction = value; }
    int GetAutoAction() const { return autoAction; }
    void SetActionsListDlogProc(ActionsListProc proc) { actionsListProc = proc; }
    void SetProgressControl(platform::StatusField* message, platform::StatusField* detail,
                            platform::ProgressBar* bar);
    AProgress* GetProgress() const { return progress; }
    void ResetAlertSettings();
    int GetReplaceAnswer() const { return replaceAnswer; }
    int GetReplaceNewerAnswer() const { return replaceNewerAnswer; }
    int GetDeleteAnswer() const { return deleteAnswer; }
    // Puts back remembered answers (a front end that answers for one run only restores them after).
    void SetRememberedAnswers(int replace, int replaceNewer, int remove);
    int GetType2() const { return type2; }

    // Filters of the sources: read from dir1; changing one sets it on all four sources and drops the
    // saved lists, so the next two-way sync treats every file as new.
    int GetTypeFilterMode() const;
    const AString* GetTypeIncludeFilter() const;
    const AString* GetTypeExcludeFilter() const;
    int GetPathFilterMode() const;
    const AString* GetPathIncludeFilter() const;
    const AString* GetPathExcludeFilter() const;
    void SetTypeFilterMode(int mode);
    void SetTypeIncludeFilter(AString* list);
    void SetTypeExcludeFilter(AString* list);
    void SetPathFilterMode(int mode);
    void SetPathIncludeFilter(AString* list);
    void SetPathExcludeFilter(AString* list);
    void SetIncludeFilter(const AString& extensions);

    // Lists and actions.
    int SetRootPath1(const AString* path, CancelProc cancel, signed char rebuild);
    int SetRootPath2(const AString* path, CancelProc cancel, signed char rebuild);
    int UpdateFileLists(CancelProc cancel);
    void CleanUp();
    void ClearSyncActions();
    void SortSyncActions(int column, signed char ascending);
    static int CompareSyncAction(SyncAction* a, SyncAction* b, int column, signed char ascending);
    static int CompareSyncActionString(SyncAction* a, SyncAction* b, int column);
    // Comparison functions for a standard sort over an array of SyncAction pointers: the first digit
    // is the column, the second the ascending flag.
    static int Compare00(const void* x, const void* y);
    static int Compare01(const void* x, const void* y);
    static int Compare10(const void* x, const void* y);
    static int Compare11(const void* x, const void* y);
    static int Compare20(const void* x, const void* y);
    static int Compare21(const void* x, const void* y);
    static int Compare30(const void* x, const void* y);
    static int Compare31(const void* x, const void* y);

    int GetActionCount() const { return actions.Count(); }
    SyncAction* GetAction(int index) const;

    ADir* GetDir1() const { return dir1.get(); }
    ADir* GetDir2() const { return dir2.get(); }
    ADir* GetSavedDir1() const { return savedDir1.get(); }
    ADir* GetSavedDir2() const { return savedDir2.get(); }

    // Planning.
    int XCopy(ADir* src, ADir* dst, CancelProc cancel);
    int TwoWaySync(CancelProc cancel);
    // How many entries of `dir` from `index` on the other side would take for one name; over one
    // only on a pair of volumes that disagree about names.
    int CollidingNames(ADir* dir, int index, int count);
    // Logs and counts the `many` colliding entries of `dir` from `index` as a conflict.
    void ReportCollidingNames(ADir* dir, int index, int many, ADir* other);
    // Whether `entry` lies inside the folder `prefix` ("name/") as this run matches names.
    bool LiesInside(const AString& entry, const AString& prefix);
    int SmartCopy(const AString* src, const AString* dst, signed char dstExists);
    int SmartDelete(const AString* path);
    int SmartCopyNewest2Other(const AString* left, const AString* right);
    int RepopulateLists(CancelProc cancel);
    // Set while a run that found nothing to do renews its saved lists: the sides are as this run
    // listed them, so their listings are taken over rather than made again.
    bool sidesAsListed = false;
    // The saved lists (left, right) that this run's plan took to be their sides' listings, as
    // SameListingAs found them: they were neither sorted nor scanned, and are before they are used
    // on their own (UseSavedListsOnTheirOwn).
    bool savedIsSide[2] = {false, false};
    void UseSavedListsOnTheirOwn();
    // Entries (relative to their side's root) that this run left as they were and whose saved
    // entries are kept for the next run; with `subtree` also everything below them.
    struct HeldEntry {
        AString relative;
        bool subtree = false;
    };
    // Pairs left different because both had the same date (undecided), counted by the last plan.
    int GetSameDateDifferences() const { return sameDateDifferences; }
    // Songs with the same music and other tags that both changed, left as they are by the last plan.
    int GetTagDifferences() const { return tagDifferences; }

    // Performing.
    int DoSync(CancelProc cancel);
    int PerformSyncActions(CancelProc cancel);
    int CopyWithAlert(const AString* src, const AString* dst, signed char overwrite, signed char isReplace,
                      CancelProc cancel);
    int DeleteWithAlert(const AString* path);
    void ChangeSyncAction(SyncAction* action, unsigned int choice); // choice: ChangeChoice

    // What the last run did, counted as it performed its actions.
    const SyncTally& GetTally() const { return tally; }
    // How far the copies of the run under way have come; read from any thread.
    const TransferMeter& GetTransfer() const { return transfer; }
    // The names of the sides in what the run says (the iPod's own name, say); empty: the sources'.
    void SetSideNames(const AString& left, const AString& right)
    {
        sideNames[0] = left;
        sideNames[1] = right;
    }
    AString SideName(int side);
    // A run that only plans: DoSync stops once the plan is made ("Sync ready."), leaves the actions
    // in the list and changes nothing anywhere (no review, no action, no source written back, no
    // saved list renewed). Not part of the state.
    void SetPlanOnly(bool value) { planOnly = value; }

    // Tells whether side 1 or 2 went away during the run (its volume unmounted or unplugged). A
    // run asks before each action and after each one that failed, and stops at the first yes with
    // kErrDisconnected, writing nothing more to that side. Not part of the state.
    using SideGoneProc = std::function<bool(int side)>;
    void SetSideGoneProc(SideGoneProc proc) { sideGone = std::move(proc); }
    // The side the last run found gone: 1 or 2, 0 when none.
    int GetGoneSide() const { return goneSide; }

    // The side a full path belongs to: 1 left, 2 right, 0 neither. When both roots begin the path
    // (one root lies inside the other), the longer root decides.
    int SideOfPath(const AString* path) const;

protected:
    // Appends a new action; columns and display texts follow from the kind.
    void AddAction(signed char active, int operation, const AString& path1, const AString& path2,
                   signed char overwrite, int kind);
    // One action of PerformSyncActions; `number` counts from 1.
    int PerformAction(SyncAction* action, int number, int count, CancelProc cancel);
    // The action itself, once PerformAction found it may go ahead.
    int PerformPlannedAction(SyncAction* action, int number, int count, CancelProc cancel);
    // Refuses a plan whose copies do not fit on the volume that receives them: 0, or kErrNoSpace
    // once the refusal is said and logged.
    int CheckSpaceBeforeCopying();
    // Asks once before a plan that deletes at least kMassDeletionMinimum entries and more than half
    // of one side. False when the user declined.
    bool ConfirmMassDeletion();
    // Takes out of the plan every deletion on the side opposite a side that holds files its listing
    // could not read: any of them may be the copy of a file the plan would delete as missing.
    void KeepCopiesOfUnreadableFiles();
    // Finalize of both sources, each failure logged; the first failure.
    int FinalizeSides();
    // Asks the side-gone procedure about both sides; notes and logs the first side gone.
    bool SideGoneNow();
    // Sets a changed filter on the four sources and drops the saved lists.
    template <typename Apply> void ApplyFilterChange(Apply apply);
    int BuildList(ADir* side, ADir* saved, const AString* path, CancelProc cancel, signed char rebuild);
    // Rebuilds one side's list, reporting to `reporter`; the caller holds `lock`.
    int ListSide(ADir* side, const AString* path, CancelProc cancel, AProgress* reporter);
    // Lists two plain folders at once, the right one on a helper thread. False when that cannot be
    // done (other sources, or no thread to be had); nothing was listed then.
    bool ListBothAtOnce(CancelProc cancel, int* err);
    // Sorts the lists of the two sides (a side's current list and, when given, its saved list).
    void SortSides(std::array<ADir*, 2> first, std::array<ADir*, 2> second);
    // While a walk looks at an entry it hands the base file questions what the listing learned of
    // the two full paths it built, so that planning asks the file system nothing it already knows.
    // A hint answers only for the very path object the walk passed on.
    void SetHint(int slot, const AString* path, ADir* dir, int index);
    // The size of the song file of record `index` of `dir` as its listing (or a check before the
    // plan) found it; 0: not known.
    virtual std::uint64_t ListedSize(ADir* dir, int index);
    void ClearHints();
    const ADir::ListedFile* HintFor(const AString* path) const;
    void LogLine(const AString& text, signed char dated);
    // Whether the entry at `index` of `side` changed since the last synchronize run: it is not in
    // the saved list (`savedIndex` < 0), or its date or size differ from the saved ones. Folders
    // never count as changed: their contents decide.
    bool ChangedSinceSaved(ADir* side, int index, const AString& full, ADir* saved, int savedIndex);
    // Plans the pair `left`, `right` (two files that differ) of a plain-folder synchronize run by
    // which side changed since the last run.
    void PlanChangedPair(const AString& left, const AString& right, bool leftChanged, bool rightChanged);
    // Whether a two-way run judges files by what changed since the last run (the sides' records
    // carry the dates and sizes of their files).
    virtual bool JudgesByChanges() const;
    // Whether two files that FastFilesEqual takes for equal are also the same file by size and
    // date (for songs, equal music may come with other tags).
    virtual bool SameFileState(const AString& left, const AString& right);
    // Counts and logs two songs with the same music whose tags differ, both changed (left as they are).
    void NoteTagDifference(const AString& left);
    // Counts and logs a pair that differs but has one date (left as it is).
    void NoteSameDateDifference(const AString& left);
    // Asks the volumes of two plain folders how they compare names and dates, and sorts the lists
    // accordingly from here on.
    void DecideNameAndDateRules();
    // Logs that `changed` is copied back to `deletedOn`, where it was deleted, since it changed.
    void KeepChangeOverDeletion(const AString& changed, ADir* deletedOn);
    // Whether `path` lies below its side's root with no link and no ".." among the folders between
    // (folders not there yet count as fine: the run makes them).
    bool ReachableWithoutLinks(const AString* path);
    // Puts a file that is about to be replaced or deleted aside where the user can get it back.
    virtual int PutAside(const AString* path);
    // The path relative to its side's root, without a leading "/"; empty for a path on no side.
    AString RelativeEntry(const AString& path) const;
    // Keeps the saved entries of `path` (and, with `subtree`, of all below it) as they were.
    void HoldEntry(const AString& path, bool subtree);
    // Holds the entries of every action that was not carried out, and notes what the actions that
    // were left on the sides.
    void HoldUndoneActions();
    // What a run expects of an entry of one side once its actions are done: there with the date
    // and size the plan saw (of the file it was copied from), or gone.
    struct Expected {
        AString key;
        bool present = true;
        std::uint64_t modTime = 0;
        std::uint64_t size = 0;
    };
    // Holds every entry whose file the lists now read differently from what the plan saw and the
    // actions did: a change made during the run, which the next run must see as a change.
    void HoldChangesMadeDuringTheRun(ADir* now, ADir* planned, std::vector<Expected>& expected);
    // Index of `key` in the sorted list of `dir`, or -1.
    int FindEntry(ADir* dir, const AString& key);
    // The date (to the nanosecond where the side tells it) and size of the file at `path` as its
    // side sees it; false when there is none.
    bool MeasureFile(const AString& path, std::uint64_t* time, std::uint64_t* size);
    // Notes what the plan sees of `target` in the action just added.
    void NoteTarget(const AString& target);
    // Gives the last action the size of `source` as listed, where a hint knows it.
    void NoteSource(const AString* source);
    // Whether the file an action replaces or deletes is still the one the plan saw.
    bool TargetAsPlanned(const SyncAction* action);
    // Logs and counts an action left for the next run because its file changed during the run.
    void LeaveChangedForNextRun(const AString& changed);
    // Whether something the listing left out (a link to a folder, a broken link, a pipe) lies at
    // `path` on a plain-folder side: it is never replaced.
    bool LeftOutItemAt(const AString& path);
    // Whether the side that receives `path` is one whose replaced files are put aside (plain
    // folders and folders of songs).
    virtual bool KeepsReplacedFiles(const AString& path);
    // Whether `path` names a file on the disk, as the paths of folders do, rather than a song of a
    // library or an iPod (whose paths are their own and name no file there).
    virtual bool NamesFileOnDisk(const AString& path);

    std::unique_ptr<ADir> dir1;
    std::unique_ptr<ADir> dir2;
    std::unique_ptr<ADir> savedDir1;
    std::unique_ptr<ADir> savedDir2;
    signed char reservedFlag = 1;
    int replaceAnswer = 0;
    int replaceNewerAnswer = 0;
    int deleteAnswer = 0;
    int autoAction = kLeftToRight;
    int autoRunOnVolumeMount = 0;
    signed char logOnly = 0;
    signed char openLogAutomatically = 1;
    signed char destDeletes = 0;
    signed char verifyCopies = 0;
    signed char stopOnErr = 0;
    signed char showActionsList = 1;
    signed char extFilterOn = 0;
    AString includeFilter;
    AString excludeFilter;
    APLock lock;
    int type1 = ADir::kTypeFolder;
    int type2 = ADir::kTypeFolder;
    signed char verboseLog = 0;
    AProgress* progress = nullptr;
    AArray actions;
    ActionsListProc actionsListProc = nullptr;
    SyncTally tally;
    TransferMeter transfer;
    std::uint64_t plannedCopyBytes = 0; // what the reviewed plan copies, both ways
    AString sideNames[2];
    bool planOnly = false;
    SideGoneProc sideGone;
    int goneSide = 0;
    int sameDateDifferences = 0;
    int tagDifferences = 0;
    // Entries left for the user: a folder on one side and a file on the other, or names one side
    // tells apart and the other takes for one.
    int typeConflicts = 0;
    // How the two plain folders' volumes compare names and dates, decided before each plan.
    bool exactNames = false;
    bool mixedNames = false; // one side tells names apart that the other takes for one
    bool coarseDates = true;
    bool keepNextReplaced = false; // set while a conflict's replacement is performed
    std::vector<HeldEntry> heldEntries;
    std::vector<Expected> expectedAfterActions[2];
    bool replacingSyncedFile = false; // set while the plan replaces a file known as synced
    bool carryingTags = false;        // set while the plan carries a change of a song's tags alone

private:
    struct PathHint {
        const AString* path = nullptr;
        ADir::ListedFile file;
        const AString* recordPath = nullptr; // a song source's record: its file's size as listed
        std::uint64_t recordSize = 0;
    };
    // The action being performed, while it is.
    const SyncAction* performing = nullptr;
    PathHint hints[2];
};
