#pragma once
// SyncSession: one sync as a front end sets it up and runs it, whatever front end that is: its two
// sides, the state file that keeps its settings, saved lists and remembered answers between runs
// (and, for an iPod, the identity of the iPod those lists belong to), the rules that keep that
// state from doing harm (an unreadable file is said and kept, a group is re-typed to the sides of
// this run, saved lists of another iPod or folder are dropped, the state is written safely and
// without its lists when a path is too long for it), one run of the sync with what it did, and the
// iPod set to manual updating after a run that synced to it.
//
// A session is opened for an iPod (a folder of songs, or the library, on the left) or for a pair
// of folders, given settings, then run, usually by RunController on its worker thread. What the
// user must be told comes back as notices, in order, for the front end to show.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/ActionReview.h"
#include "ACommon/tags/AudioFormats.h"

#include <memory>
#include <optional>
#include <vector>

class AProgress;
class ASyncGroup;

class SyncSession {
public:
    // How the iPod is reached: through the library, which serves it, or through its own database.
    enum class IPodAccess { kThroughLibrary, kThroughDatabase };

    struct Notice {
        bool warning = false; // something went wrong or was given up; otherwise for information
        AString text;         // one or more sentences
    };

    // What a front end sets for one run. The song settings apply to song syncs only.
    struct Settings {
        int autoAction = ASync::kLeftToRight;
        bool destDeletes = false;
        bool review = false;
        bool stopOnError = false;
        bool noFolderChanges = false; // the stored "log only" setting: no folder made or deleted
        bool verbose = false;
        bool resetAnswers = false;
        // Questions are answered for this run by the front end (--yes, --no): the answers the state
        // file remembers are put aside for the run and kept as they were.
        bool answersForThisRunOnly = false;
        // Plan and report, change nothing: no action, no state written, no iPod setting changed.
        bool dryRun = false;
        bool genreRelevant = true;
        bool albumRelevant = true;
        bool fileTypeRelevant = true;
        bool dontDupSongs = false;
        bool moveInsteadOfDelete = true;
        // How songs an iPod cannot play are converted on the way there, where the front end was
        // told; otherwise the saved settings stand.
        std::optional<int> aacKbps;
        std::optional<bool> alwaysAAC;
    };

    // What one run did.
    struct Outcome {
        int result = 0;                       // 0, kErrUserCancel when cancelled, or the run's error
        int stateError = 0;                   // 0, or why the state file could not be written
        bool listsLeftOut = false;            // the state was written without the saved lists
        bool setToManual = false;             // the iPod was set to manual updating
        AString summary;                      // the line the run ends with
        std::vector<ActionReview::Item> plan; // a dry run's plan
        AString space; // a dry run's effect on the room of the sides it writes to, a line per side
    };

    SyncSession();
    ~SyncSession();
    SyncSession(const SyncSession&) = delete;
    SyncSession& operator=(const SyncSession&) = delete;

    // The folder of the state files: the application support folder's Veltrano/Ondrivel.
    static AString StateFolder();
    // `name` made fit to be a file name in the state folder: no "/", "\", ":" or control
    // character, no leading ".", at most 120 bytes; "iPod" when nothing is left.
    static AString SafeFileName(const AString& name);
    // How the iPod called `name` is reached: through the library when the library is the other side
    // (`withLibrary`) and serves that iPod (it was attached to the library; whole names compared),
    // otherwise through the iPod's own database. Asks the library by script only `withLibrary`; a
    // library that cannot be asked gives the route through it.
    static IPodAccess AccessOf(const AString& name, bool withLibrary);
    // The state file of the iPod called `name`: NAME.snc when the library serves it,
    // NAME_PODDB.snc when it is reached through its database.
    static AString IPodStatePath(const AString& name, IPodAccess access);
    // The state file when no iPod is chosen: Default.snc.
    static AString DefaultStatePath();
    // The state file of a pair of folders (full paths without a trailing "/"): a readable name
    // made of both and a checksum of their full paths.
    static AString FolderPairStatePath(const AString& left, const AString& right);
    // The file beside a state file that names the iPod whose lists it holds.
    static AString IdentityPath(const AString& statePath);

    // A sync between `leftRoot` (a folder of songs, type ADir::kTypeSongFolder, or the library)
    // and `pod`, reached through its database, with its state in `statePath`. Refused, with a
    // notice, when the iPod's database cannot be read (kErrUnknown), its volume is mounted read-only
    // (kErrNotSupported), or the folder and the iPod lie inside one another (kErrInvalidPath).
    // With `access` kThroughLibrary the iPod is the library's source of that name (type
    // ADir::kTypeIPod), and `leftRoot` of the library is ADirTunes::kRootMarker.
    int OpenIPod(int leftType, const AString& leftRoot, const MountedIPod& pod, const AString& statePath,
                 IPodAccess access = IPodAccess::kThroughDatabase);
    // The playlists of a sync with the library (`left`) and an iPod through the library (`right`);
    // an empty name keeps the whole library, or the iPod's main playlist. Another playlist than
    // the last run's drops the saved lists.
    void SetPlaylists(const AString& left, const AString& right);
    // A sync between two folders (of songs when `songs` is set), with its state in `statePath`.
    // Refused (kErrInvalidPath) when they are the same folder or one lies inside the other.
    int OpenFolders(const AString& left, const AString& right, bool songs, const AString& statePath);

    void Apply(const Settings& settings);

    // The sync of this session (sync 0 of an iPod's group); null before a successful Open.
    ASync* GetSync() const;
    // The group of an iPod's sync; null for a pair of folders.
    ASyncGroup* GetGroup() const { return group.get(); }
    const std::optional<MountedIPod>& GetIPod() const { return ipod; }
    // The notices gathered since the last call, oldest first.
    std::vector<Notice> TakeNotices();

    // One run: the sync's DoSync with `cancel` and the review procedure `review`; then, unless it
    // was a dry run, the state written and the iPod set to manual updating when the run synced to
    // it. Called on the run's thread; nothing else may use the session meanwhile.
    Outcome Run(CancelProc cancel, ASync::ActionsListProc review);
    // Writes the state file and then the identity beside it. A state that cannot hold a path of
    // its lists is written without them (`listsLeftOut`). An unreadable file read at Open is kept
    // as STATE.bad first. 0, or the error (with a notice).
    int SaveState(bool* listsLeftOut = nullptr);

private:
    // Reads the iPod's group, recovers from an unreadable file, and re-types sync 0 to the sides of
    // this run.
    int LoadGroup(int leftType, int rightType);
    // Reads the single sync of a pair of folders, or starts a fresh one.
    void LoadSingle(bool songs);
    void DropForeignIPodLists(const AString& leftRoot);
    void DropForeignFolderLists(const AString& leftRoot, const AString& rightRoot);
    // Takes the lock (a file in the state folder named after the pair of folders) that keeps two
    // runs of one pair apart, waiting a little for a run that is finishing. False when another run
    // holds it.
    bool LockState(const AString& lockFile);
    // Says so when the state path holds an empty file or a folder (taken as no state).
    void SayIfNoStateIn();
    int WriteState();
    void Say(bool warning, const AString& text);
    // Brings what was listened to on the iPod into the library (PlaysFoldIn), saying what it did: 0,
    // or the error that kept it from doing so.
    int BringBackPlays(AProgress& progress);

    std::unique_ptr<ASyncGroup> group; // an iPod's sync
    std::unique_ptr<ASync> single;     // a pair of folders
    AString statePath;
    bool stateUnreadable = false;
    std::optional<MountedIPod> ipod;
    AString leftName;
    AString rightName;
    Settings settings;
    std::vector<Notice> notices;
    int stateLock = -1;     // the locked file descriptor, held until the session ends
    AString folderIdentity; // of a pair of folders: both folders' identities, kept beside the state
};
