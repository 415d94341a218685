#pragma once
// SyncWnd: the main window and its controller. The left side (a folder of songs, or the library)
// and the right side (a mounted iPod) are chosen in pop-ups, with the sync type; Sync runs the
// iPod's sync on the run controller's worker thread, the status panel and the log follow it, the
// actions drawer shows the planned actions for review, the settings drawer edits the sync's
// settings, which live in the iPod's state file (the one `pelorin sync` uses). iPods are noticed
// when they are mounted and unmounted. Every button is an operation of this class that a test can
// call; the sync itself is the core's (SyncSession, RunController).

#include "app/AWindow.h"

#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/LibraryTools.h"
#include "ACommon/sync/RunController.h"
#include "ACommon/sync/SyncSession.h"
#include "ACommon/sync/SyncSpace.h"
#include "AUICommon/WidgetSinks.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ActionTableModel;
class CapacityBar;
class TransferStatus;
class UDisksService;
class LibraryScriptRunner;
class DetectVolume;
class ExtendedTableView;
class MenuBar;
class MessageBoxQuestions;
class QCheckBox;
class QComboBox;
class QSpinBox;
class QDockWidget;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolButton;
class QtNotificationBus;
class SongDropView;
class StatusLines;
class iTuneDisplay;

class SyncWnd : public AWindow {
    Q_OBJECT
public:
    // The sync types of the pop-up, in its order: autoAction = index / 2 + 1, destDeletes = index & 1.
    static const char* const kSyncTypeTitles[6];
    static constexpr const char* kNoIPodAlert = "Error: No iPod selected and connected.";
    // The review shows at least this many rows.
    static constexpr int kReviewRows = 8;
    static constexpr const char* kNothingToSync = "Nothing to Sync!";
    static constexpr const char* kQuitDuringRun =
        "Sync in progress. Please either cancel the sync or allow it to complete before quitting.";

    struct Options {
        QString volumesRoot; // where iPods are looked for; empty: the platform's volumes root
        // The folder of songs on the left; empty: the music library when there is one, else the
        // folder the iPod's state names.
        QString leftFolder;
    };

    // The window's controls, named after what they do.
    struct Controls {
        QComboBox* LeftSourcePopUp = nullptr;
        QComboBox* iTunesPlaylistPopUp = nullptr;
        QToolButton* addITunesPlaylist = nullptr;
        QComboBox* iPodPopUp = nullptr;
        QComboBox* iPodPlaylistPopUp = nullptr;
        QToolButton* addIPodPlaylist = nullptr;
        QComboBox* SyncTypePopUp = nullptr;
        QLabel* BigArrowTextLabel = nullptr;
        SongDropView* iTunesImage = nullptr;
        SongDropView* iPodImage = nullptr;
        QLabel* iTunesTextLabel = nullptr;
        QLabel* iPodTextLabel = nullptr;
        iTuneDisplay* iTunesStatusArea = nullptr;
        QLabel* SmallStatusTxt = nullptr;
        QLabel* LargeStatusTxt = nullptr;
        QProgressBar* ProgressBar = nullptr;
        QPushButton* SyncButton = nullptr;
        QPushButton* CancelButton = nullptr;
        QPushButton* SettingsButton = nullptr;
        QPushButton* LogDlogButton = nullptr;
        QDockWidget* SettingsDrawer = nullptr;
        QDockWidget* ActionsDrawer = nullptr;
        QDockWidget* StatusDrawer = nullptr;
        QPlainTextEdit* LogText = nullptr;
        ExtendedTableView* ActionsTableView = nullptr;
        QLabel* ActionsTextInfo = nullptr;
        QLabel* ActionsTotals = nullptr; // what the ticked actions come to, above the table
        QPushButton* DoneSelectingActions = nullptr;
        QPushButton* CancelSelectingActions = nullptr;
        // Settings.
        QCheckBox* wDeletesCkBox = nullptr;
        QCheckBox* createLastPlaylist = nullptr;
        QCheckBox* dontDupSongsCkBox = nullptr;
        QCheckBox* moveInsteadOfDeleteCkBox = nullptr;
        QCheckBox* ShowActionsListCkBox = nullptr;
        QCheckBox* StopOnErrCkBox = nullptr;
        QCheckBox* VerboseLogCkBox = nullptr;
        QCheckBox* OpenLogAutomaticallyCkBox = nullptr;
        QCheckBox* AutoRunOnVolMountCkBox = nullptr;
        QCheckBox* favorSizeVsDateCkBox = nullptr;
        QCheckBox* fileTypeRelevantOnDupSongCompareCkBox = nullptr;
        QCheckBox* genreRelevantOnDupSongCompareCkBox = nullptr;
        QCheckBox* albumRelevantOnDupSongCompareCkBox = nullptr;
        QCheckBox* favorProtectedMusicCkBox = nullptr;
        QCheckBox* deleteMusicNotOwnedCkBox = nullptr;
        QSpinBox* aacKbpsField = nullptr;
        QCheckBox* alwaysAACCkBox = nullptr;
        QCheckBox* favorFileTypesCkBox = nullptr;
        QListWidget* favorFileTypesList = nullptr;
        QListWidget* AppleIDsList = nullptr;
        QLineEdit* iTunesMoveToDirTxt = nullptr;
        QLineEdit* iPodMoveToDirTxt = nullptr;
        QTabWidget* filterTabView = nullptr;
        QComboBox* filterPopUps[6] = {};
        QListWidget* filterLists[6] = {};
    };

    explicit SyncWnd(const Options& options, QWidget* parent = nullptr);
    ~SyncWnd() override;

    Controls ui;

    // The sync the controls edit: sync 0 of the iPod's group, or of the default group when no iPod
    // is chosen; null when the chosen iPod cannot be synced.
    ASync* Sync0() const;
    SyncSession* Session() const { return session.get(); }
    RunController& Controller() { return controller; }
    QtNotificationBus* Bus() const { return bus; }
    DetectVolume* Detector() const { return detector; }
    ActionTableModel* ActionsModel() const { return actionsModel; }
    MenuBar* Menus() const { return menus; }
    // The mounted iPods, in the order of the iPod pop-up.
    const std::vector<MountedIPod>& IPods() const { return pods; }
    const MountedIPod* SelectedIPod() const;
    const QString& StatePath() const { return statePath; }
    bool IsRunning() const { return running != RunKind::kNone; }

    // Rebuilds the pop-ups from the mounted iPods, selecting the iPod at `rightMountPoint` (else the
    // one selected, else the first) and leaving out the one at `exclude`.
    void UpdatePopUps(const QString& rightMountPoint = QString(), const QString& exclude = QString());
    // Opens the sync of the selected iPod from its state file (or fresh settings); 0 or the error.
    int LoadIPodSync();
    // Writes the sync's state to its file; 0 or the error.
    int SaveIPodSync();
    void UpdateUIFromSync();
    void SetLeftFolder(const QString& folder);
    // The music library on the left (when there is one).
    void SetLeftLibrary();
    bool LeftIsLibrary() const { return leftIsLibrary; }
    // Creates a playlist on a side (SongDropView::Side) of a sync through the library, and makes it
    // that side's playlist; 0 or the error.
    int AddPlaylist(int side, const QString& name);

    void SyncButton();
    void CancelButton();
    void DoneSelectingActionsButton();
    void CancelSelectingActionsButton();
    void SyncTypeMenu(int index);
    // Adds the music files under `paths` to a side (SongDropView::Side) in one run.
    void AddMusicFiles(int side, const QStringList& paths);
    // Runs a library tool on a side (SongDropView::Side) of the sync; `paths` are the files to add.
    void RunTool(LibraryTools::Tool tool, int side, const QStringList& paths = {});
    // The Quit rules: false while a run goes on (the window stays); a run waiting for its review
    // is cancelled and the window closes once it has ended.
    bool Quit();

    // An iPod's volume appeared at or went from `mountPoint`.
    void VolumeMounted(const QString& mountPoint);
    void VolumeUnMounted(const QString& mountPoint);

    // True when `path` (a file or a folder) may be dropped on `side`.
    bool AcceptsDrop(int side, const QString& path) const;

    // The iPod's room under its picture, ejecting it, and the copy progress of a run.
    CapacityBar* Capacity() const { return capacity; }
    QPushButton* EjectButton() const { return ejectButton; }
    QLabel* TransferLine() const { return transferLine; }
    // Ejects the selected iPod: refused (kErrBusy) while a run uses it; 0 when unmounted, or the
    // error. What happened is said in the status panel and the log.
    int EjectIPod();
    // The selected iPod's room, with what `plan` would do to it.
    void ShowCapacity(const SyncSpace::Change* plan = nullptr);
    // The song count of the left side (the library's chosen playlist, or the folder) under it.
    void ShowLeftSongCount();

signals:
    // A run (sync or tool) ended, with its result.
    void RunEnded(int result);

private:
    enum class RunKind { kNone, kSync, kTool };
    struct Filter; // one of the six filters of the settings drawer

    void BuildMainArea();
    void BuildSettingsDrawer();
    void BuildActionsDrawer();
    void BuildLogDrawer();
    void OnNotified(const QString& name, const QString& text);
    void OnRunEnded();
    // Shows the actions waiting for review, with their totals.
    void ShowReview();
    void SetHiddenProgressItems(bool hidden);
    void SetEnabledSyncListItems(bool enabled);
    void LoadIPodIcon();
    void SetBigArrowPic();
    void ShowNotices();
    void Say(const QString& line);
    void Inform(const QString& text);
    // The left side: its source type, root and title. Wiring the library in is a matter of this
    // function.
    struct LeftSide {
        int type = 0;
        AString root;
        QString title;
    };
    LeftSide ChosenLeftSide(const MountedIPod* pod);
    // Whether the library serves `pod` (an iPod attached to it, by its whole name).
    bool LibraryServes(const MountedIPod& pod) const;
    SyncSession::IPodAccess AccessOf(const MountedIPod& pod) const;
    void PlaylistsChosen();
    // Selects in the playlist pop-ups the playlists the sync holds.
    void ShowChosenPlaylists();
    void ChooseLeftFolder();
    // The editable lists: the list string shown, and storing an edit.
    void ReloadList(QListWidget* list, const AString& value);
    void ListEdited(QListWidget* list, const std::function<void(AString&)>& store);
    void ReloadFilters();
    const Filter& FilterOf(int tab) const;
    void AddListItem(QListWidget* list, const std::function<AString()>& get,
                     const std::function<void(AString&)>& store);

    QString volumesRoot;
    QString leftFolder;
    bool leftIsLibrary = false;
    std::unique_ptr<LibraryScriptRunner> scripts;
    QString statePath;
    std::vector<MountedIPod> pods;
    std::unique_ptr<SyncSession> session;
    std::unique_ptr<ASyncGroup> defaultGroup;
    RunController controller;
    RunKind running = RunKind::kNone;
    QString runMountPoint;       // the iPod the run works on
    bool refreshPending = false; // iPods came or went, or the settings were held, during a run
    bool quitPending = false;
    bool logOpenedByRun = false;
    bool nothingToSync = false;           // the running sync found nothing to do
    std::shared_ptr<AString> toolSummary; // the running tool's closing line, once it has ended // the log
                                          // drawer was opened by a run, not by the user
    QString loadProblem;                  // why the selected iPod cannot be synced

    QtNotificationBus* bus = nullptr;
    MessageBoxQuestions* questions = nullptr;
    DetectVolume* detector = nullptr;
    ActionTableModel* actionsModel = nullptr;
    MenuBar* menus = nullptr;
    std::unique_ptr<StatusLines> statusLines;
    std::unique_ptr<WidgetProgressBar> barSink;
    std::unique_ptr<TextLogView> logSink;
    std::vector<Filter> filters;
    CapacityBar* capacity = nullptr;
    QPushButton* ejectButton = nullptr;
    QLabel* transferLine = nullptr;
    TransferStatus* transferStatus = nullptr;
    std::unique_ptr<UDisksService> disks;
};
