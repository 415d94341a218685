#include "app/SyncWnd.h"

#include "app/ActionTableModel.h"
#include "app/CapacityBar.h"
#include "app/DropChecks.h"
#include "app/MenuBar.h"
#include "app/Pictures.h"
#include "app/SideCounts.h"
#include "app/SongDropView.h"
#include "app/StatusLines.h"
#include "app/TransferStatus.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/ListString.h"
#include "ACommon/bridge/ASiTunes.h"
#include "ACommon/itunesdb/IPodEject.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASyncLib.h"
#include "APlatform/FileSystem.h"
#include "APlatform/KnownFolders.h"
#include "APlatform/Notifications.h"
#include "AUICommon/DetectVolume.h"
#include "AUICommon/ExtendedTableView.h"
#include "AUICommon/FocusedWheel.h"
#include "AUICommon/MessageBoxQuestions.h"
#include "AUICommon/QtNotificationBus.h"
#include "AUICommon/UDisksService.h"
#include "AUICommon/iTuneDisplay.h"
#include "musiclib/LibraryFiles.h"
#include "musiclib/LibraryScriptRunner.h"
#include "musiclib/MusicLibrary.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>
#include <filesystem>

namespace {

QString Q(const AString& text) { return QString::fromStdString(text.ToStdString()); }
AString A(const QString& text) { return AString::FromUTF8(text.toStdString()); }
AString Copy(const AString* text) { return text ? *text : AString(); }

constexpr const char* kRemovedFiles = "Removed Files";
constexpr const char* kOtherFolder = "Other Folder…";

// The folder of songs a state file's sync had on its left, when it had one.
QString StoredLeftFolder(const QString& statePath)
{
    std::error_code error;
    if (std::filesystem::file_size(statePath.toStdString(), error) == 0 || error)
        return QString();
    ASyncGroup group;
    AString path = A(statePath);
    if (group.ReadSyncState(&path) != 0 || group.NumSyncs() == 0)
        return QString();
    ADir* left = group.GetSync(0)->GetDir1();
    if (!left || left->GetType() != ADir::kTypeSongFolder)
        return QString();
    QString root = Q(*left->GetRootPath());
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return QDir(root).exists() ? root : QString();
}

// The lines of a bridge reply ("name\n" each).
QStringList Lines(const AString& text)
{
    QStringList lines = Q(text).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool LibraryExists() { return MusicLibrary::Exists(platform::LibraryFolder()); }

QString IPodTitle(const MountedIPod& pod) { return Q(pod.name.IsEmpty() ? pod.volume : pod.name); }

// The removed-files folder as the field shows it: with "Removed Files" appended.
QString ShownRemovedFolder(const AString& folder)
{
    QString shown = Q(folder);
    if (shown.isEmpty() || shown.endsWith(QLatin1String(kRemovedFiles)))
        return shown;
    return QDir(shown).filePath(QLatin1String(kRemovedFiles));
}

// The folder to store from the field: without a trailing "Removed Files".
AString StoredRemovedFolder(QString text)
{
    text = text.trimmed();
    if (text.endsWith(QLatin1String(kRemovedFiles)))
        text.chop(static_cast<int>(std::strlen(kRemovedFiles)));
    while (text.size() > 1 && text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return A(text);
}

} // namespace

const char* const SyncWnd::kSyncTypeTitles[6] = {
    "Copy from Library to iPod",  "Make iPod equal to Library", "Copy from iPod to Library",
    "Make Library equal to iPod", "Merge Library and iPod",     "Synchronize Library and iPod",
};

// One filter of the settings drawer: its mode (0 off, 1 include, 2 exclude) and its two lists.
struct SyncWnd::Filter {
    const char* title;
    std::function<int(ASync*)> mode;
    std::function<void(ASync*, int)> setMode;
    std::function<AString(ASync*)> include;
    std::function<void(ASync*, AString&)> setInclude;
    std::function<AString(ASync*)> exclude;
    std::function<void(ASync*, AString&)> setExclude;
};

namespace {

ASyncLib* Songs(ASync* sync) { return dynamic_cast<ASyncLib*>(sync); }

} // namespace

SyncWnd::SyncWnd(const Options& options, QWidget* parent)
    : AWindow(parent),
      volumesRoot(options.volumesRoot.isEmpty() ? QString::fromStdString(platform::VolumesRoot())
                                                : options.volumesRoot),
      leftFolder(options.leftFolder)
{
    setWindowTitle(QStringLiteral("Pelorin"));
    setWindowIcon(pictures::Icon(QStringLiteral("pelorin"), QSize(64, 64)));

    auto songFilter = [](const char* title, int (ASyncLib::*mode)() const, void (ASyncLib::*setMode)(int),
                         const AString* (ASyncLib::*in)() const, void (ASyncLib::*setIn)(AString*),
                         const AString* (ASyncLib::*out)() const, void (ASyncLib::*setOut)(AString*)) {
        auto read = [](const AString* (ASyncLib::*get)() const) {
            return [get](ASync* sync) { return Songs(sync) ? Copy((Songs(sync)->*get)()) : AString(); };
        };
        auto write = [](void (ASyncLib::*set)(AString*)) {
            return [set](ASync* sync, AString& value) {
                if (Songs(sync))
                    (Songs(sync)->*set)(&value);
            };
        };
        return Filter{title,
                      [mode](ASync* sync) { return Songs(sync) ? (Songs(sync)->*mode)() : 0; },
                      [setMode](ASync* sync, int value) {
                          if (Songs(sync))
                              (Songs(sync)->*setMode)(value);
                      },
                      read(in),
                      write(setIn),
                      read(out),
                      write(setOut)};
    };
    filters.push_back(songFilter("Genre", &ASyncLib::GetGenreFilterMode, &ASyncLib::SetGenreFilterMode,
                                 &ASyncLib::GetGenreIncludeFilter, &ASyncLib::SetGenreIncludeFilter,
                                 &ASyncLib::GetGenreExcludeFilter, &ASyncLib::SetGenreExcludeFilter));
    filters.push_back(songFilter("Artist", &ASyncLib::GetArtistFilterMode, &ASyncLib::SetArtistFilterMode,
                                 &ASyncLib::GetArtistIncludeFilter, &ASyncLib::SetArtistIncludeFilter,
                                 &ASyncLib::GetArtistExcludeFilter, &ASyncLib::SetArtistExcludeFilter));
    filters.push_back(songFilter("Album", &ASyncLib::GetAlbumFilterMode, &ASyncLib::SetAlbumFilterMode,
                                 &ASyncLib::GetAlbumIncludeFilter, &ASyncLib::SetAlbumIncludeFilter,
                                 &ASyncLib::GetAlbumExcludeFilter, &ASyncLib::SetAlbumExcludeFilter));
    filters.push_back(songFilter("Song Name", &ASyncLib::GetSongNameFilterMode,
                                 &ASyncLib::SetSongNameFilterMode, &ASyncLib::GetSongNameIncludeFilter,
                                 &ASyncLib::SetSongNameIncludeFilter, &ASyncLib::GetSongNameExcludeFilter,
                                 &ASyncLib::SetSongNameExcludeFilter));
    filters.push_back(Filter{"File Type", [](ASync* sync) { return sync->GetTypeFilterMode(); },
                             [](ASync* sync, int mode) { sync->SetTypeFilterMode(mode); },
                             [](ASync* sync) { return Copy(sync->GetTypeIncludeFilter()); },
                             [](ASync* sync, AString& list) { sync->SetTypeIncludeFilter(&list); },
                             [](ASync* sync) { return Copy(sync->GetTypeExcludeFilter()); },
                             [](ASync* sync, AString& list) { sync->SetTypeExcludeFilter(&list); }});
    filters.push_back(Filter{"Path", [](ASync* sync) { return sync->GetPathFilterMode(); },
                             [](ASync* sync, int mode) { sync->SetPathFilterMode(mode); },
                             [](ASync* sync) { return Copy(sync->GetPathIncludeFilter()); },
                             [](ASync* sync, AString& list) { sync->SetPathIncludeFilter(&list); },
                             [](ASync* sync) { return Copy(sync->GetPathExcludeFilter()); },
                             [](ASync* sync, AString& list) { sync->SetPathExcludeFilter(&list); }});

    // Scripts go to the embedded music library, opened when the first one runs.
    if (!platform::GetScriptRunner()) {
        scripts = std::make_unique<LibraryScriptRunner>();
        platform::SetScriptRunner(scripts.get());
    }
    leftIsLibrary = leftFolder.isEmpty() && LibraryExists();

    bus = new QtNotificationBus(this);
    platform::SetNotificationBus(bus);
    connect(bus, &QtNotificationBus::Notified, this, &SyncWnd::OnNotified);
    questions = new MessageBoxQuestions(this);
    // A sync with nothing to do says so in the panel, not in a box to be clicked away.
    questions->SetSayElsewhere([this](const std::string& message) {
        if (message != kNothingToSync)
            return false;
        QMetaObject::invokeMethod(
            this, [this] { nothingToSync = true; }, Qt::QueuedConnection);
        return true;
    });
    platform::SetQuestionInterface(questions);

    BuildMainArea();
    BuildSettingsDrawer();
    BuildActionsDrawer();
    BuildLogDrawer();
    menus = new MenuBar(this);

    statusLines = std::make_unique<StatusLines>(ui.SmallStatusTxt, ui.LargeStatusTxt);
    barSink = std::make_unique<WidgetProgressBar>(ui.ProgressBar);
    logSink = std::make_unique<TextLogView>(ui.LogText);
    AProgress::Shared().SetProgressControl(statusLines->Message(), statusLines->Detail(), barSink.get());
    AProgress::Shared().SetLogTextView(logSink.get());

    transferStatus = new TransferStatus(transferLine, this);
    if (!platform::GetDiskService()) {
        disks = std::make_unique<UDisksService>();
        platform::SetDiskService(disks.get());
    }

    detector = new DetectVolume(volumesRoot, this);
    connect(detector, &DetectVolume::VolumeMounted, this, &SyncWnd::VolumeMounted);
    connect(detector, &DetectVolume::VolumeUnMounted, this, &SyncWnd::VolumeUnMounted);
    SetCloseCheck([this] { return Quit(); });

    SetHiddenProgressItems(true);
    UpdatePopUps();
    LoadIPodSync();
}

SyncWnd::~SyncWnd()
{
    // A run still going is stopped before anything it reports to goes.
    controller.Cancel();
    controller.Join();
    AProgress::Shared().SetProgressControl(nullptr, nullptr, nullptr);
    AProgress::Shared().SetLogTextView(nullptr);
    if (platform::GetNotificationBus() == bus)
        platform::SetNotificationBus(nullptr);
    if (platform::GetQuestionInterface() == questions)
        platform::SetQuestionInterface(nullptr);
    if (disks && platform::GetDiskService() == disks.get())
        platform::SetDiskService(nullptr);
    session.reset();
    if (scripts && platform::GetScriptRunner() == scripts.get())
        platform::SetScriptRunner(nullptr);
}

void SyncWnd::BuildMainArea()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* sides = new QHBoxLayout;

    auto popUpRow = [](QComboBox* popUp, QToolButton* add) {
        auto* row = new QHBoxLayout;
        row->addWidget(popUp, 1);
        if (add)
            row->addWidget(add);
        return row;
    };
    auto addButton = [this](const QString& tip) {
        auto* button = new QToolButton(this);
        button->setText(QStringLiteral("+"));
        button->setToolTip(tip);
        return button;
    };

    // Left side.
    auto* left = new QVBoxLayout;
    ui.LeftSourcePopUp = new QComboBox(this);
    ui.iTunesPlaylistPopUp = new QComboBox(this);
    ui.addITunesPlaylist = addButton(QStringLiteral("New playlist"));
    ui.iTunesImage = new SongDropView(
        SongDropView::kLeft, [this](const QString& path) { return AcceptsDrop(SongDropView::kLeft, path); },
        this);
    ui.iTunesImage->setPixmap(pictures::Pixmap(QStringLiteral("library"), QSize(128, 128)));
    ui.iTunesImage->setToolTip(QStringLiteral("Drop music files or folders here to add them to this side"));
    ui.iTunesTextLabel = new QLabel(this);
    ui.iTunesTextLabel->setAlignment(Qt::AlignCenter);
    ui.iTunesTextLabel->setWordWrap(true);
    left->addLayout(popUpRow(ui.LeftSourcePopUp, nullptr));
    left->addLayout(popUpRow(ui.iTunesPlaylistPopUp, ui.addITunesPlaylist));
    left->addWidget(ui.iTunesImage);
    left->addWidget(ui.iTunesTextLabel);
    left->addStretch();

    // The sync type between the sides.
    auto* middle = new QVBoxLayout;
    ui.SyncTypePopUp = new QComboBox(this);
    ui.SyncTypePopUp->setIconSize(QSize(72, 30));
    for (int i = 0; i < 6; ++i)
        ui.SyncTypePopUp->addItem(pictures::Icon(QStringLiteral("synctype-%1").arg(i), QSize(72, 30)),
                                  QString::fromLatin1(kSyncTypeTitles[i]));
    ui.BigArrowTextLabel = new QLabel(this);
    ui.BigArrowTextLabel->setAlignment(Qt::AlignCenter);
    QFont big = ui.BigArrowTextLabel->font();
    big.setBold(true);
    ui.BigArrowTextLabel->setFont(big);
    // Level with the pictures of the two sides.
    middle->addSpacing(88);
    middle->addWidget(ui.SyncTypePopUp);
    middle->addWidget(ui.BigArrowTextLabel);
    middle->addStretch();

    // Right side.
    auto* right = new QVBoxLayout;
    ui.iPodPopUp = new QComboBox(this);
    ui.iPodPlaylistPopUp = new QComboBox(this);
    ui.addIPodPlaylist = addButton(QStringLiteral("New playlist on the iPod"));
    ui.iPodImage = new SongDropView(
        SongDropView::kRight, [this](const QString& path) { return AcceptsDrop(SongDropView::kRight, path); },
        this);
    ui.iPodImage->setToolTip(QStringLiteral("Drop music files or folders here to add them to the iPod"));
    ui.iPodTextLabel = new QLabel(this);
    ui.iPodTextLabel->setAlignment(Qt::AlignCenter);
    ui.iPodTextLabel->setWordWrap(true);
    right->addLayout(popUpRow(ui.iPodPopUp, nullptr));
    right->addLayout(popUpRow(ui.iPodPlaylistPopUp, ui.addIPodPlaylist));
    right->addWidget(ui.iPodImage);
    capacity = new CapacityBar(this);
    right->addWidget(capacity);
    right->addWidget(ui.iPodTextLabel);
    ejectButton = new QPushButton(QStringLiteral("Eject"), this);
    ejectButton->setToolTip(QStringLiteral("Unmount the iPod and power it off, so that it may be unplugged"));
    connect(ejectButton, &QPushButton::clicked, this, [this] { EjectIPod(); });
    right->addWidget(ejectButton, 0, Qt::AlignHCenter);
    right->addStretch();

    sides->addLayout(left, 1);
    sides->addLayout(middle, 1);
    sides->addLayout(right, 1);
    layout->addLayout(sides);

    // The status panel, with Sync beside it.
    auto* bottom = new QHBoxLayout;
    ui.iTunesStatusArea = new iTuneDisplay(this);
    ui.iTunesStatusArea->setMinimumHeight(78);
    auto* panel = new QVBoxLayout(ui.iTunesStatusArea);
    panel->setContentsMargins(16, 10, 16, 10);
    ui.SmallStatusTxt = new QLabel(this);
    ui.SmallStatusTxt->setWordWrap(true);
    ui.LargeStatusTxt = new QLabel(this);
    ui.LargeStatusTxt->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui.LargeStatusTxt->setMinimumWidth(10);
    ui.ProgressBar = new QProgressBar(this);
    ui.ProgressBar->setRange(0, WidgetProgressBar::kSteps);
    ui.ProgressBar->setTextVisible(false);
    ui.CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    panel->addWidget(ui.SmallStatusTxt);
    panel->addWidget(ui.LargeStatusTxt);
    auto* barRow = new QHBoxLayout;
    barRow->addWidget(ui.ProgressBar, 1);
    barRow->addWidget(ui.CancelButton);
    panel->addLayout(barRow);
    transferLine = new QLabel(this);
    panel->addWidget(transferLine);
    bottom->addWidget(ui.iTunesStatusArea, 1);
    auto* buttons = new QVBoxLayout;
    ui.SyncButton = new QPushButton(QStringLiteral("Sync"), this);
    ui.SyncButton->setDefault(true);
    ui.SettingsButton = new QPushButton(QStringLiteral("Settings"), this);
    ui.LogDlogButton = new QPushButton(QStringLiteral("Log"), this);
    buttons->addWidget(ui.SyncButton);
    buttons->addWidget(ui.SettingsButton);
    buttons->addWidget(ui.LogDlogButton);
    bottom->addLayout(buttons);
    layout->addLayout(bottom);
    setCentralWidget(central);

    connect(ui.SyncButton, &QPushButton::clicked, this, &SyncWnd::SyncButton);
    connect(ui.CancelButton, &QPushButton::clicked, this, &SyncWnd::CancelButton);
    connect(ui.SyncTypePopUp, &QComboBox::activated, this, &SyncWnd::SyncTypeMenu);
    connect(ui.iPodPopUp, &QComboBox::activated, this, [this](int) {
        if (IsRunning())
            return;
        const MountedIPod* pod = SelectedIPod();
        const QString chosen = pod ? Q(pod->mountPoint) : QString();
        SaveIPodSync();
        // The last run's line was about another iPod.
        ui.SmallStatusTxt->clear();
        UpdatePopUps(chosen);
        LoadIPodSync();
    });
    connect(ui.LeftSourcePopUp, &QComboBox::activated, this, [this](int index) {
        if (IsRunning())
            return;
        const QString kind = ui.LeftSourcePopUp->itemData(index, Qt::UserRole).toString();
        if (kind == QLatin1String("other"))
            ChooseLeftFolder();
        else if (kind == QLatin1String("library") && !leftIsLibrary)
            SetLeftLibrary();
        else if (kind == QLatin1String("folder") && leftIsLibrary)
            SetLeftFolder(leftFolder);
        UpdatePopUps();
    });
    auto askName = [this](int side) {
        bool ok = false;
        const QString name = QInputDialog::getText(this, QStringLiteral("New Playlist"),
                                                   QStringLiteral("Name of the new playlist:"),
                                                   QLineEdit::Normal, QString(), &ok);
        if (ok && !name.trimmed().isEmpty() && AddPlaylist(side, name.trimmed()) != 0)
            QApplication::beep();
    };
    connect(ui.addITunesPlaylist, &QToolButton::clicked, this, [askName] { askName(SongDropView::kLeft); });
    connect(ui.addIPodPlaylist, &QToolButton::clicked, this, [askName] { askName(SongDropView::kRight); });
    connect(ui.iTunesPlaylistPopUp, &QComboBox::activated, this, [this](int) { PlaylistsChosen(); });
    connect(ui.iPodPlaylistPopUp, &QComboBox::activated, this, [this](int) { PlaylistsChosen(); });
    connect(ui.iTunesImage, &SongDropView::FilesDropped, this, &SyncWnd::AddMusicFiles);
    connect(ui.iPodImage, &SongDropView::FilesDropped, this, &SyncWnd::AddMusicFiles);
}

void SyncWnd::BuildSettingsDrawer()
{
    ui.SettingsDrawer = new QDockWidget(QStringLiteral("Settings"), this);
    ui.SettingsDrawer->setObjectName(QStringLiteral("SettingsDrawer"));
    auto* scroll = new QScrollArea(ui.SettingsDrawer);
    scroll->setWidgetResizable(true);
    auto* page = new QWidget(scroll);
    auto* layout = new QVBoxLayout(page);

    // A check box that writes its state into the sync; `then` runs after.
    auto box = [this](const QString& text, QCheckBox** slot, std::function<void(ASync*, signed char)> set,
                      bool songsOnly, std::function<void(bool)> then = {}) {
        auto* made = new QCheckBox(text, this);
        *slot = made;
        connect(made, &QCheckBox::toggled, this, [this, set, songsOnly, then](bool on) {
            ASync* sync = Sync0();
            if (!sync || (songsOnly && !Songs(sync)))
                return;
            set(sync, on ? 1 : 0);
            if (then)
                then(on);
        });
        return made;
    };
    auto* syncBox = new QGroupBox(QStringLiteral("Sync"), page);
    auto* syncLayout = new QVBoxLayout(syncBox);
    syncLayout->addWidget(box(
        QStringLiteral("Delete on the receiving side what the other side lacks"), &ui.wDeletesCkBox,
        [](ASync* s, signed char v) { s->SetDestDeletes(v); }, false, [this](bool) { UpdateUIFromSync(); }));
    syncLayout->addWidget(box(
        QStringLiteral("Show the actions before performing them"), &ui.ShowActionsListCkBox,
        [](ASync* s, signed char v) { s->SetShowActionsList(v); }, false));
    syncLayout->addWidget(box(
        QStringLiteral("Stop at the first error"), &ui.StopOnErrCkBox,
        [](ASync* s, signed char v) { s->SetStopOnErr(v); }, false));
    syncLayout->addWidget(box(
        QStringLiteral("Move removed songs into \"Removed Files\""), &ui.moveInsteadOfDeleteCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetMoveInsteadOfDelete(v); }, true,
        [this](bool) { UpdateUIFromSync(); }));
    syncLayout->addWidget(box(
        QStringLiteral("Never copy a song the other side has by another name"), &ui.dontDupSongsCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetDontDupSongs(v); }, true));
    syncLayout->addWidget(box(
        QStringLiteral("Create a \"Last Sync\" playlist"), &ui.createLastPlaylist,
        [](ASync* s, signed char v) { Songs(s)->SetCreateLastPlaylist(v); }, true));
    syncLayout->addWidget(box(
        QStringLiteral("Verbose log"), &ui.VerboseLogCkBox,
        [](ASync* s, signed char v) { s->SetVerboseLog(v); }, false));
    syncLayout->addWidget(box(
        QStringLiteral("Open the log automatically"), &ui.OpenLogAutomaticallyCkBox,
        [](ASync* s, signed char v) { s->SetOpenLogAutomatically(v); }, false));
    syncLayout->addWidget(box(
        QStringLiteral("Sync when this iPod is mounted"), &ui.AutoRunOnVolMountCkBox,
        [](ASync* s, signed char v) { s->SetAutoRunOnVolumeMount(v); }, false));
    auto* reset = new QPushButton(QStringLiteral("Forget Remembered Answers"), page);
    connect(reset, &QPushButton::clicked, this, [this] {
        if (ASync* sync = Sync0())
            sync->ResetAlertSettings();
    });
    syncLayout->addWidget(reset);
    layout->addWidget(syncBox);

    auto* songBox = new QGroupBox(QStringLiteral("The same song"), page);
    auto* songLayout = new QVBoxLayout(songBox);
    songLayout->addWidget(box(
        QStringLiteral("Only when the genres match"), &ui.genreRelevantOnDupSongCompareCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetGenreRelevantOnDupSongCompare(v); }, true,
        [this](bool on) {
            if (!on) {
                ui.filterPopUps[0]->setCurrentIndex(0);
                FilterOf(0).setMode(Sync0(), 0);
                ReloadFilters();
            }
        }));
    songLayout->addWidget(box(
        QStringLiteral("Only when the albums match"), &ui.albumRelevantOnDupSongCompareCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetAlbumRelevantOnDupSongCompare(v); }, true,
        [this](bool on) {
            if (!on) {
                ui.filterPopUps[2]->setCurrentIndex(0);
                FilterOf(2).setMode(Sync0(), 0);
                ReloadFilters();
            }
        }));
    songLayout->addWidget(box(
        QStringLiteral("Only when the file types match"), &ui.fileTypeRelevantOnDupSongCompareCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetFileTypeRelevantOnDupSongCompare(v); }, true));
    songLayout->addWidget(box(
        QStringLiteral("Keep the larger file rather than the newer one"), &ui.favorSizeVsDateCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetFavorSizeVsDate(v); }, true));
    songLayout->addWidget(box(
        QStringLiteral("Keep purchased music over other copies"), &ui.favorProtectedMusicCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetFavorProtectedMusic(v); }, true,
        [this](bool) { UpdateUIFromSync(); }));
    songLayout->addWidget(box(
        QStringLiteral("Delete music not owned by these accounts"), &ui.deleteMusicNotOwnedCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetDeleteMusicNotOwned(v); }, true));
    layout->addWidget(songBox);

    auto* conversionBox = new QGroupBox(QStringLiteral("Songs an iPod cannot play (FLAC, Ogg, Opus)"), page);
    auto* conversionLayout = new QFormLayout(conversionBox);
    ui.aacKbpsField = new QSpinBox(conversionBox);
    ui.aacKbpsField->setRange(AudioFormats::kMinAACKbps, AudioFormats::kMaxAACKbps);
    ui.aacKbpsField->setSingleStep(32);
    ui.aacKbpsField->setSuffix(QStringLiteral(" kbit/s"));
    connect(ui.aacKbpsField, &QSpinBox::valueChanged, this, [this](int kbps) {
        if (ASyncLib* songs = Songs(Sync0()))
            songs->SetAACKbps(kbps);
    });
    conversionLayout->addRow(QStringLiteral("AAC bit rate:"), ui.aacKbpsField);
    conversionLayout->addRow(box(
        QStringLiteral("Convert lossless songs into AAC too, not Apple Lossless"), &ui.alwaysAACCkBox,
        [](ASync* s, signed char v) { Songs(s)->SetAlwaysAAC(v); }, true));
    layout->addWidget(conversionBox);

    // A list with add and remove buttons.
    auto listWithButtons = [this](QListWidget** slot, std::function<AString()> get,
                                  std::function<void(AString&)> store, std::function<void()> beforeAdd = {}) {
        auto* holder = new QWidget(this);
        auto* rows = new QVBoxLayout(holder);
        rows->setContentsMargins(0, 0, 0, 0);
        auto* list = new QListWidget(holder);
        list->setMaximumHeight(90);
        *slot = list;
        auto* buttons = new QHBoxLayout;
        auto* add = new QPushButton(QStringLiteral("Add"), holder);
        auto* remove = new QPushButton(QStringLiteral("Remove"), holder);
        buttons->addWidget(add);
        buttons->addWidget(remove);
        buttons->addStretch();
        rows->addWidget(list);
        rows->addLayout(buttons);
        connect(add, &QPushButton::clicked, this, [this, list, get, store, beforeAdd] {
            if (beforeAdd)
                beforeAdd();
            AddListItem(list, get, store);
        });
        connect(remove, &QPushButton::clicked, this, [this, list, store] {
            if (QListWidgetItem* item = list->currentItem()) {
                item->setText(QString());
                ListEdited(list, store);
            }
        });
        connect(list, &QListWidget::itemChanged, this, [this, list, store] { ListEdited(list, store); });
        return holder;
    };

    auto* listsBox = new QGroupBox(QStringLiteral("Accounts and file types"), page);
    auto* listsLayout = new QFormLayout(listsBox);
    listsLayout->addRow(
        QStringLiteral("Store accounts:"),
        listWithButtons(
            &ui.AppleIDsList,
            [this] { return Songs(Sync0()) ? Copy(Songs(Sync0())->GetAppleIDs()) : AString(); },
            [this](AString& list) {
                if (Songs(Sync0()))
                    Songs(Sync0())->SetAppleIDs(&list);
            }));
    ui.favorFileTypesCkBox = new QCheckBox(QStringLiteral("Prefer these file types:"), this);
    connect(ui.favorFileTypesCkBox, &QCheckBox::toggled, this, [this](bool on) {
        ui.favorFileTypesList->setEnabled(on);
        ASyncLib* songs = Songs(Sync0());
        if (!songs)
            return;
        if (!on) {
            AString none;
            songs->SetFavorFileTypes(&none);
            ReloadList(ui.favorFileTypesList, none);
        }
        // Which copy is kept changes with the preference: the saved lists no longer hold.
        songs->GetSavedDir1()->DeleteAll();
        songs->GetSavedDir2()->DeleteAll();
    });
    listsLayout->addRow(
        ui.favorFileTypesCkBox,
        listWithButtons(
            &ui.favorFileTypesList,
            [this] { return Songs(Sync0()) ? Copy(Songs(Sync0())->GetFavorFileTypes()) : AString(); },
            [this](AString& list) {
                if (Songs(Sync0()))
                    Songs(Sync0())->SetFavorFileTypes(&list);
            },
            [this] { ui.favorFileTypesCkBox->setChecked(true); }));
    layout->addWidget(listsBox);

    auto* removedBox = new QGroupBox(QStringLiteral("Removed songs go to"), page);
    auto* removedLayout = new QFormLayout(removedBox);
    ui.iTunesMoveToDirTxt = new QLineEdit(this);
    ui.iPodMoveToDirTxt = new QLineEdit(this);
    ui.iTunesMoveToDirTxt->setPlaceholderText(QStringLiteral("beside the folder"));
    ui.iPodMoveToDirTxt->setPlaceholderText(QStringLiteral("on the iPod"));
    removedLayout->addRow(QStringLiteral("Left:"), ui.iTunesMoveToDirTxt);
    removedLayout->addRow(QStringLiteral("iPod:"), ui.iPodMoveToDirTxt);
    auto storeFolder = [this](QLineEdit* field, int side) {
        connect(field, &QLineEdit::editingFinished, this, [this, field, side] {
            ASync* sync = Sync0();
            if (!sync)
                return;
            ADir* dir = side == 1 ? sync->GetDir1() : sync->GetDir2();
            dir->SetRemovedFilesFolder(StoredRemovedFolder(field->text()));
            field->setText(ShownRemovedFolder(dir->GetRemovedFilesFolder()));
        });
    };
    storeFolder(ui.iTunesMoveToDirTxt, 1);
    storeFolder(ui.iPodMoveToDirTxt, 2);
    layout->addWidget(removedBox);

    ui.filterTabView = new QTabWidget(page);
    for (int tab = 0; tab < 6; ++tab) {
        auto* holder = new QWidget(ui.filterTabView);
        auto* rows = new QVBoxLayout(holder);
        auto* mode = new QComboBox(holder);
        mode->addItems(
            {QStringLiteral("Off"), QStringLiteral("Only these"), QStringLiteral("All but these")});
        ui.filterPopUps[tab] = mode;
        rows->addWidget(mode);
        auto current = [this, tab] {
            ASync* sync = Sync0();
            const Filter& filter = FilterOf(tab);
            const int m = sync ? filter.mode(sync) : 0;
            return (m & 1) ? filter.include(sync) : (m & 2) ? filter.exclude(sync) : AString();
        };
        auto store = [this, tab](AString& list) {
            ASync* sync = Sync0();
            const Filter& filter = FilterOf(tab);
            const int m = sync ? filter.mode(sync) : 0;
            if (m & 1)
                filter.setInclude(sync, list);
            else if (m & 2)
                filter.setExclude(sync, list);
        };
        rows->addWidget(listWithButtons(&ui.filterLists[tab], current, store, [this, tab] {
            // Adding to a filter that is off turns it on as a list of what to take.
            if (ASync* sync = Sync0(); sync && FilterOf(tab).mode(sync) == 0) {
                FilterOf(tab).setMode(sync, 1);
                ui.filterPopUps[tab]->setCurrentIndex(1);
            }
        }));
        connect(mode, &QComboBox::activated, this, [this, tab](int index) {
            ASync* sync = Sync0();
            if (!sync)
                return;
            FilterOf(tab).setMode(sync, index);
            // Filtering by genre or album needs songs told apart by it.
            if (index != 0 && tab == 0)
                ui.genreRelevantOnDupSongCompareCkBox->setChecked(true);
            if (index != 0 && tab == 2)
                ui.albumRelevantOnDupSongCompareCkBox->setChecked(true);
            ReloadFilters();
        });
        ui.filterTabView->addTab(holder, QString::fromLatin1(filters[static_cast<std::size_t>(tab)].title));
    }
    layout->addWidget(ui.filterTabView);
    layout->addStretch();
    scroll->setWidget(page);
    (new FocusedWheel(this))->Guard(page);
    // Wide enough for every setting's text; long drawers scroll down, never sideways.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(page->sizeHint().width() + scroll->verticalScrollBar()->sizeHint().width() + 4);
    ui.SettingsDrawer->setWidget(scroll);
    addDockWidget(Qt::RightDockWidgetArea, ui.SettingsDrawer);
    ui.SettingsDrawer->hide();
    connect(ui.SettingsButton, &QPushButton::clicked, this,
            [this] { ui.SettingsDrawer->setVisible(!ui.SettingsDrawer->isVisible()); });
}

void SyncWnd::BuildActionsDrawer()
{
    ui.ActionsDrawer = new QDockWidget(QStringLiteral("Actions"), this);
    ui.ActionsDrawer->setObjectName(QStringLiteral("ActionsDrawer"));
    auto* holder = new QWidget(ui.ActionsDrawer);
    auto* layout = new QVBoxLayout(holder);
    actionsModel = new ActionTableModel(this);
    ui.ActionsTableView = new ExtendedTableView(holder);
    ui.ActionsTableView->setModel(actionsModel);
    ui.ActionsTableView->setIconSize(QSize(28, 22));
    ui.ActionsTableView->horizontalHeader()->setSectionResizeMode(ActionTableModel::kSource,
                                                                  QHeaderView::Stretch);
    ui.ActionsTableView->horizontalHeader()->setSectionResizeMode(ActionTableModel::kActive,
                                                                  QHeaderView::ResizeToContents);
    ui.ActionsTableView->horizontalHeader()->setSectionResizeMode(ActionTableModel::kAction,
                                                                  QHeaderView::ResizeToContents);
    ui.ActionsTableView->horizontalHeader()->setSectionResizeMode(ActionTableModel::kSize,
                                                                  QHeaderView::ResizeToContents);
    // The source column takes the room that is left, not the size column at the end.
    ui.ActionsTableView->horizontalHeader()->setStretchLastSection(false);
    ui.ActionsTableView->setWordWrap(false);
    ui.ActionsTableView->sortByColumn(-1, Qt::AscendingOrder);
    ui.ActionsTableView->SetCheckColumn(ActionTableModel::kActive);
    // At least eight rows show, whatever the window's size.
    ui.ActionsTableView->setMinimumHeight(ui.ActionsTableView->HeightForRows(kReviewRows));
    ui.ActionsTotals = new QLabel(holder);
    ui.ActionsTotals->setWordWrap(true);
    connect(actionsModel, &ActionTableModel::TotalsChanged, ui.ActionsTotals, &QLabel::setText);
    ui.ActionsTextInfo = new QLabel(holder);
    connect(actionsModel, &ActionTableModel::CountChanged, ui.ActionsTextInfo, &QLabel::setText);
    auto* buttons = new QHBoxLayout;
    auto* checkAll = new QPushButton(QStringLiteral("C&heck All"), holder);
    auto* uncheckAll = new QPushButton(QStringLiteral("&Uncheck All"), holder);
    ui.CancelSelectingActions = new QPushButton(QStringLiteral("&Cancel"), holder);
    ui.DoneSelectingActions = new QPushButton(QStringLiteral("&Perform"), holder);
    ui.CancelSelectingActions->setToolTip(QStringLiteral("Perform nothing (Escape)"));
    ui.DoneSelectingActions->setToolTip(QStringLiteral("Perform the ticked actions (Return)"));
    // Return performs and Escape cancels from anywhere in the drawer.
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* perform = new QShortcut(QKeySequence(key), holder);
        perform->setContext(Qt::WidgetWithChildrenShortcut);
        connect(perform, &QShortcut::activated, this, &SyncWnd::DoneSelectingActionsButton);
    }
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), holder);
    cancel->setContext(Qt::WidgetWithChildrenShortcut);
    connect(cancel, &QShortcut::activated, this, &SyncWnd::CancelSelectingActionsButton);
    buttons->addWidget(ui.ActionsTextInfo, 1);
    buttons->addWidget(checkAll);
    buttons->addWidget(uncheckAll);
    buttons->addWidget(ui.CancelSelectingActions);
    buttons->addWidget(ui.DoneSelectingActions);
    layout->addWidget(ui.ActionsTotals);
    layout->addWidget(ui.ActionsTableView);
    layout->addLayout(buttons);
    ui.ActionsDrawer->setWidget(holder);
    addDockWidget(Qt::BottomDockWidgetArea, ui.ActionsDrawer);
    ui.ActionsDrawer->hide();
    connect(checkAll, &QPushButton::clicked, this, [this] { actionsModel->SetAllActive(true); });
    connect(uncheckAll, &QPushButton::clicked, this, [this] { actionsModel->SetAllActive(false); });
    connect(ui.DoneSelectingActions, &QPushButton::clicked, this, &SyncWnd::DoneSelectingActionsButton);
    connect(ui.CancelSelectingActions, &QPushButton::clicked, this, &SyncWnd::CancelSelectingActionsButton);
}

void SyncWnd::BuildLogDrawer()
{
    ui.StatusDrawer = new QDockWidget(QStringLiteral("Log"), this);
    ui.StatusDrawer->setObjectName(QStringLiteral("StatusDrawer"));
    ui.LogText = new QPlainTextEdit(ui.StatusDrawer);
    ui.LogText->setReadOnly(true);
    ui.LogText->setLineWrapMode(QPlainTextEdit::NoWrap);
    ui.LogText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui.StatusDrawer->setWidget(ui.LogText);
    addDockWidget(Qt::BottomDockWidgetArea, ui.StatusDrawer);
    ui.StatusDrawer->hide();
    connect(ui.LogDlogButton, &QPushButton::clicked, this, [this] {
        ui.StatusDrawer->setVisible(!ui.StatusDrawer->isVisible());
        logOpenedByRun = false;
    });
}

ASync* SyncWnd::Sync0() const
{
    if (session)
        return session->GetSync();
    return defaultGroup ? defaultGroup->GetSync(0) : nullptr;
}

const MountedIPod* SyncWnd::SelectedIPod() const
{
    const int index = ui.iPodPopUp->currentIndex();
    return index >= 0 && index < static_cast<int>(pods.size()) ? &pods[static_cast<std::size_t>(index)]
                                                               : nullptr;
}

SyncWnd::LeftSide SyncWnd::ChosenLeftSide(const MountedIPod* pod)
{
    if (leftIsLibrary) {
        LeftSide side;
        side.type = ADir::kTypeITunes;
        side.root = AString(ADirTunes::kRootMarker);
        side.title = QStringLiteral("Library");
        return side;
    }
    if (leftFolder.isEmpty() && pod)
        leftFolder = StoredLeftFolder(
            Q(SyncSession::IPodStatePath(pod->name, SyncSession::IPodAccess::kThroughDatabase)));
    if (leftFolder.isEmpty())
        leftFolder = QString::fromStdString(platform::HomeFolder() + "/Music");
    LeftSide side;
    side.type = ADir::kTypeSongFolder;
    side.root = A(leftFolder);
    side.title = QFileInfo(leftFolder).fileName();
    return side;
}

bool SyncWnd::LibraryServes(const MountedIPod& pod) const
{
    return AccessOf(pod) == SyncSession::IPodAccess::kThroughLibrary;
}

SyncSession::IPodAccess SyncWnd::AccessOf(const MountedIPod& pod) const
{
    return SyncSession::AccessOf(pod.name, leftIsLibrary);
}

void SyncWnd::SetLeftLibrary()
{
    if (IsRunning() || !LibraryExists())
        return;
    SaveIPodSync();
    leftIsLibrary = true;
    UpdatePopUps();
    LoadIPodSync();
}

void SyncWnd::PlaylistsChosen()
{
    if (!session || !leftIsLibrary || IsRunning())
        return;
    const bool throughLibrary = Sync0() && Sync0()->GetDir2()->GetType() == ADir::kTypeIPod;
    // The library playlist and the iPod's own name stand for the whole side.
    const QString left =
        ui.iTunesPlaylistPopUp->currentIndex() > 0 ? ui.iTunesPlaylistPopUp->currentText() : QString();
    const QString right = throughLibrary && ui.iPodPlaylistPopUp->currentIndex() > 0
                              ? ui.iPodPlaylistPopUp->currentText()
                              : QString();
    session->SetPlaylists(A(left), A(right));
    ShowNotices();
    ShowLeftSongCount();
}

int SyncWnd::AddPlaylist(int side, const QString& name)
{
    const MountedIPod* pod = SelectedIPod();
    const bool ipodSide = side == SongDropView::kRight;
    if (IsRunning() || !leftIsLibrary || (ipodSide && (!pod || !LibraryServes(*pod))))
        return kErrObjectNotFound;
    QComboBox* popUp = ipodSide ? ui.iPodPlaylistPopUp : ui.iTunesPlaylistPopUp;
    // Playlist names are told apart without regard to case: an existing one is chosen instead.
    if (const int existing = popUp->findText(name, Qt::MatchFixedString); existing >= 0) {
        popUp->setCurrentIndex(existing);
        PlaylistsChosen();
        ui.SmallStatusTxt->setText(QStringLiteral("The playlist \"%1\" exists already; it is chosen.")
                                       .arg(popUp->itemText(existing)));
        return 0;
    }
    ASiTunes bridge;
    int err = 0;
    if (ipodSide) {
        bridge.SetIPodName(pod->name);
        err = bridge.MakePlaylistIPod(A(name));
    } else {
        err = bridge.MakePlaylistITunes(A(name));
    }
    if (err != 0)
        return err;
    if (popUp->findText(name) < 0)
        popUp->addItem(name);
    popUp->setCurrentIndex(popUp->findText(name));
    PlaylistsChosen();
    return 0;
}

void SyncWnd::SetLeftFolder(const QString& folder)
{
    if (IsRunning())
        return;
    SaveIPodSync();
    leftFolder = QDir::cleanPath(folder);
    leftIsLibrary = false;
    UpdatePopUps();
    LoadIPodSync();
}

void SyncWnd::ChooseLeftFolder()
{
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Choose the folder of songs"), leftFolder);
    if (!chosen.isEmpty())
        SetLeftFolder(chosen);
}

void SyncWnd::UpdatePopUps(const QString& rightMountPoint, const QString& exclude)
{
    QString wanted = rightMountPoint;
    if (wanted.isEmpty())
        if (const MountedIPod* current = SelectedIPod())
            wanted = Q(current->mountPoint);
    pods.clear();
    for (MountedIPod& pod : MountedIPod::FindAll(A(volumesRoot)))
        if (exclude.isEmpty() || Q(pod.mountPoint) != exclude)
            pods.push_back(std::move(pod));

    const QSignalBlocker blockIPods(ui.iPodPopUp);
    ui.iPodPopUp->clear();
    int selected = pods.empty() ? -1 : 0;
    for (std::size_t i = 0; i < pods.size(); ++i) {
        ui.iPodPopUp->addItem(IPodTitle(pods[i]));
        ui.iPodPopUp->setItemData(static_cast<int>(i), Q(pods[i].mountPoint), Qt::ToolTipRole);
        if (Q(pods[i].mountPoint) == wanted)
            selected = static_cast<int>(i);
    }
    ui.iPodPopUp->setCurrentIndex(selected);

    const LeftSide left = ChosenLeftSide(SelectedIPod());
    const QSignalBlocker blockLeft(ui.LeftSourcePopUp);
    ui.LeftSourcePopUp->clear();
    if (LibraryExists()) {
        ui.LeftSourcePopUp->addItem(QStringLiteral("Library"), QStringLiteral("library"));
        ui.LeftSourcePopUp->setItemData(0, QString::fromStdString(platform::LibraryFolder()),
                                        Qt::ToolTipRole);
    }
    if (!leftFolder.isEmpty()) {
        ui.LeftSourcePopUp->addItem(QFileInfo(leftFolder).fileName(), QStringLiteral("folder"));
        ui.LeftSourcePopUp->setItemData(ui.LeftSourcePopUp->count() - 1, leftFolder, Qt::ToolTipRole);
    }
    ui.LeftSourcePopUp->addItem(QString::fromUtf8(kOtherFolder), QStringLiteral("other"));
    ui.LeftSourcePopUp->setCurrentIndex(
        ui.LeftSourcePopUp->findData(leftIsLibrary ? QStringLiteral("library") : QStringLiteral("folder")));

    const QSignalBlocker blockLeftPlaylists(ui.iTunesPlaylistPopUp);
    ui.iTunesPlaylistPopUp->clear();
    AString names;
    if (leftIsLibrary && ASiTunes::GetITunesPlaylist(0, &names) == 0) {
        // The library playlist, the whole library, comes first.
        QStringList playlists = Lines(names);
        playlists.removeAll(QStringLiteral("Library"));
        ui.iTunesPlaylistPopUp->addItem(QStringLiteral("Library"));
        ui.iTunesPlaylistPopUp->addItems(playlists);
    } else {
        ui.iTunesPlaylistPopUp->addItem(QStringLiteral("All Songs"));
    }
    ui.iTunesPlaylistPopUp->setEnabled(leftIsLibrary);
    ui.addITunesPlaylist->setEnabled(leftIsLibrary);
    ui.iTunesTextLabel->setText(leftIsLibrary ? QStringLiteral("Library") : Q(left.root));

    // Reached through its own database, an iPod offers its whole collection only; through the
    // library, its playlists too.
    const QSignalBlocker blockRightPlaylists(ui.iPodPlaylistPopUp);
    ui.iPodPlaylistPopUp->clear();
    const MountedIPod* pod = SelectedIPod();
    const bool throughLibrary = pod && LibraryServes(*pod);
    if (pod) {
        ui.iPodPlaylistPopUp->addItem(IPodTitle(*pod));
        if (throughLibrary) {
            ASiTunes bridge;
            bridge.SetIPodName(pod->name);
            AString ipodNames;
            if (bridge.GetIPodPlaylist(0, &ipodNames) == 0)
                for (const QString& playlist : Lines(ipodNames))
                    if (playlist != IPodTitle(*pod))
                        ui.iPodPlaylistPopUp->addItem(playlist);
        }
    }
    ui.iPodPlaylistPopUp->setEnabled(throughLibrary);
    ui.addIPodPlaylist->setEnabled(throughLibrary);
    ShowChosenPlaylists();
    ShowLeftSongCount();
}

void SyncWnd::ShowChosenPlaylists()
{
    // The pop-ups show what the sync holds (from the iPod's state file, or the user's last choice),
    // so that a rebuilt list never puts the whole library back in place of a chosen playlist.
    ASync* sync = Sync0();
    if (!session || !sync || !leftIsLibrary)
        return;
    const MountedIPod* pod = SelectedIPod();
    if (!pod || !session->GetIPod() || session->GetIPod()->mountPoint.Compare(pod->mountPoint) != 0)
        return;
    auto select = [this](QComboBox* popUp, const ADir* dir) {
        const auto* tunes = dynamic_cast<const ADirTunes*>(dir);
        if (!tunes || popUp->count() == 0)
            return;
        const QString name = Q(tunes->GetPlaylist());
        const int index = popUp->findText(name);
        const QSignalBlocker blocker(popUp);
        popUp->setCurrentIndex(index >= 0 ? index : 0);
        if (index < 0 && !name.isEmpty() && name != popUp->itemText(0))
            Say(QStringLiteral("The playlist \"%1\" is gone; \"%2\" is chosen instead.")
                    .arg(name, popUp->itemText(0)));
    };
    select(ui.iTunesPlaylistPopUp, sync->GetDir1());
    if (sync->GetDir2()->GetType() == ADir::kTypeIPod)
        select(ui.iPodPlaylistPopUp, sync->GetDir2());
}

int SyncWnd::LoadIPodSync()
{
    // A run holds the settings (and works on the group they are read into): they are read again
    // once it has ended.
    if (IsRunning() || RunController::IsBusy()) {
        refreshPending = true;
        return kErrBusy;
    }
    session.reset();
    defaultGroup.reset();
    loadProblem.clear();
    int err = 0;
    const MountedIPod* pod = SelectedIPod();
    if (!pod) {
        statePath = Q(SyncSession::DefaultStatePath());
        defaultGroup = std::make_unique<ASyncGroup>();
        std::error_code error;
        if (std::filesystem::file_size(statePath.toStdString(), error) > 0 && !error) {
            AString notice;
            if (defaultGroup->LoadSyncState(A(statePath), &notice) == ASyncGroup::Load::kBusy)
                refreshPending = true;
            Say(Q(notice));
        }
        if (defaultGroup->NumSyncs() == 0 || !Songs(defaultGroup->GetSync(0))) {
            defaultGroup = std::make_unique<ASyncGroup>();
            defaultGroup->AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        }
    } else {
        const LeftSide left = ChosenLeftSide(pod);
        // Named by the iPod the entry stands for, the way `pelorin sync` names it; the volume is
        // always the entry's own mount point.
        const SyncSession::IPodAccess access = AccessOf(*pod);
        statePath = Q(SyncSession::IPodStatePath(pod->name, access));
        session = std::make_unique<SyncSession>();
        err = session->OpenIPod(left.type, left.root, *pod, A(statePath), access);
        if (err != 0) {
            for (const SyncSession::Notice& notice : session->TakeNotices())
                loadProblem += (loadProblem.isEmpty() ? QString() : QStringLiteral(" ")) + Q(notice.text);
            session.reset();
            Say(loadProblem);
        }
        ShowNotices();
        ShowChosenPlaylists();
        PlaylistsChosen();
    }
    UpdateUIFromSync();
    return err;
}

int SyncWnd::SaveIPodSync()
{
    if (RunController::IsBusy())
        return kErrBusy;
    int err = 0;
    if (session) {
        err = session->SaveState();
        ShowNotices();
    } else if (defaultGroup) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(statePath.toStdString()).parent_path(),
                                            error);
        AString path = A(statePath);
        err = defaultGroup->WriteSyncState(&path);
    }
    return err;
}

void SyncWnd::ShowNotices()
{
    if (!session)
        return;
    for (const SyncSession::Notice& notice : session->TakeNotices())
        Say(Q(notice.text));
}

void SyncWnd::Say(const QString& line)
{
    if (!line.isEmpty())
        TextLogView::AppendAtEnd(ui.LogText, line + QLatin1Char('\n'));
}

void SyncWnd::Inform(const QString& text)
{
    if (platform::QuestionInterface* asked = platform::GetQuestionInterface())
        asked->Inform(text.toStdString());
}

void SyncWnd::SetBigArrowPic()
{
    ASync* sync = Sync0();
    if (!sync) {
        ui.BigArrowTextLabel->clear();
        return;
    }
    const int action = sync->GetAutoAction();
    const bool deletes = sync->GetDestDeletes() != 0;
    QString name = QStringLiteral("Do Not Synchronize");
    if (action >= ASync::kLeftToRight && action <= ASync::kTwoWay)
        name = QString::fromLatin1(kSyncTypeTitles[(action - 1) * 2 + (deletes ? 1 : 0)]);
    ui.BigArrowTextLabel->setText(name);
}

void SyncWnd::LoadIPodIcon()
{
    const MountedIPod* pod = SelectedIPod();
    if (!pod) {
        ui.iPodImage->setPixmap(pictures::Pixmap(QStringLiteral("generic-ipod"), QSize(128, 128)));
        ui.iPodTextLabel->setText(QStringLiteral("Please Connect Your iPod"));
        ShowCapacity();
        return;
    }
    const bool shuffle = pod->infoRead && pod->info.family == IPodInfo::kFamilyShuffle;
    ui.iPodImage->setPixmap(pictures::Pixmap(
        shuffle ? QStringLiteral("shuffle") : QStringLiteral("generic-ipod"), QSize(128, 128)));
    QString label = IPodTitle(*pod);
    // Without SysInfo the model is unknown; nothing is written to find it out.
    label +=
        QStringLiteral("\n") + (pod->infoRead ? QString::fromLatin1(IPodInfo::FamilyName(pod->info.family))
                                              : QStringLiteral("unknown model"));
    if (pod->infoRead && !pod->info.generation.IsEmpty())
        label += QStringLiteral(", ") + Q(pod->info.generation);
    if (!pod->info.model.IsEmpty())
        label += QStringLiteral(" (M") + Q(pod->info.model) + QStringLiteral(")");
    if (pod->databaseRead)
        label += QStringLiteral(", %1 songs").arg(pod->songs);
    // How the iPod checks its database, and what keeps Pelorin from making that signature.
    if (pod->info.scheme != IPodInfo::kSchemeNone)
        label += QStringLiteral("\nDatabase signed with ") +
                 QString::fromLatin1(IPodInfo::SchemeName(pod->info.scheme)) +
                 (pod->info.firewireGuid.IsEmpty()
                      ? QString()
                      : QStringLiteral(" (FireWire GUID %1)").arg(Q(pod->info.firewireGuid)));
    if (!loadProblem.isEmpty())
        label += QStringLiteral("\n") + loadProblem;
    ui.iPodTextLabel->setText(label);
    ui.iPodImage->setToolTip(Q(pod->mountPoint));
    ShowCapacity();
}

void SyncWnd::UpdateUIFromSync()
{
    ASync* sync = Sync0();
    ASyncLib* songs = Songs(sync);
    ui.SettingsDrawer->widget()->setEnabled(sync != nullptr && !IsRunning());
    LoadIPodIcon();
    const bool mounted = !pods.empty();
    ui.iPodPopUp->setEnabled(mounted && !IsRunning());
    ui.SyncButton->setEnabled(mounted || IsRunning());
    ui.SyncTypePopUp->setEnabled(mounted && sync && !IsRunning());
    ui.BigArrowTextLabel->setVisible(mounted);
    if (!sync)
        return;

    std::vector<QSignalBlocker> quiet;
    auto show = [&quiet](QCheckBox* box, bool on) {
        quiet.emplace_back(box);
        box->setChecked(on);
    };
    const int action = sync->GetAutoAction();
    {
        const QSignalBlocker blocker(ui.SyncTypePopUp);
        ui.SyncTypePopUp->setCurrentIndex(
            action >= 1 && action <= 3 ? 2 * action - (sync->GetDestDeletes() ? 1 : 2) : -1);
    }
    SetBigArrowPic();
    show(ui.wDeletesCkBox, sync->GetDestDeletes());
    show(ui.StopOnErrCkBox, sync->GetStopOnErr());
    show(ui.VerboseLogCkBox, sync->GetVerboseLog());
    show(ui.OpenLogAutomaticallyCkBox, sync->GetOpenLogAutomatically());
    show(ui.AutoRunOnVolMountCkBox, sync->GetAutoRunOnVolumeMount());
    show(ui.ShowActionsListCkBox, sync->GetShowActionsList());
    if (songs) {
        show(ui.createLastPlaylist, songs->GetCreateLastPlaylist());
        show(ui.dontDupSongsCkBox, songs->GetDontDupSongs());
        show(ui.moveInsteadOfDeleteCkBox, songs->GetMoveInsteadOfDelete());
        show(ui.favorSizeVsDateCkBox, songs->GetFavorSizeVsDate());
        show(ui.fileTypeRelevantOnDupSongCompareCkBox, songs->GetFileTypeRelevantOnDupSongCompare());
        show(ui.genreRelevantOnDupSongCompareCkBox, songs->GetGenreRelevantOnDupSongCompare());
        show(ui.albumRelevantOnDupSongCompareCkBox, songs->GetAlbumRelevantOnDupSongCompare());
        show(ui.favorProtectedMusicCkBox, songs->GetFavorProtectedMusic());
        show(ui.deleteMusicNotOwnedCkBox, songs->GetDeleteMusicNotOwned());
        show(ui.alwaysAACCkBox, songs->GetAlwaysAAC());
        quiet.emplace_back(ui.aacKbpsField);
        ui.aacKbpsField->setValue(songs->GetAACKbps());
        ui.deleteMusicNotOwnedCkBox->setEnabled(songs->GetFavorProtectedMusic() != 0);
        const AString favored = Copy(songs->GetFavorFileTypes());
        show(ui.favorFileTypesCkBox, !favored.IsEmpty());
        ui.favorFileTypesList->setEnabled(!favored.IsEmpty());
        ReloadList(ui.favorFileTypesList, favored);
        ReloadList(ui.AppleIDsList, Copy(songs->GetAppleIDs()));
    }
    const bool moving = songs && songs->GetMoveInsteadOfDelete();
    ui.iTunesMoveToDirTxt->setText(ShownRemovedFolder(sync->GetDir1()->GetRemovedFilesFolder()));
    ui.iPodMoveToDirTxt->setText(ShownRemovedFolder(sync->GetDir2()->GetRemovedFilesFolder()));
    ui.iTunesMoveToDirTxt->setEnabled(moving);
    ui.iPodMoveToDirTxt->setEnabled(moving);
    ReloadFilters();
}

const SyncWnd::Filter& SyncWnd::FilterOf(int tab) const { return filters[static_cast<std::size_t>(tab)]; }

void SyncWnd::ReloadFilters()
{
    ASync* sync = Sync0();
    for (int tab = 0; tab < 6; ++tab) {
        const Filter& filter = FilterOf(tab);
        const int mode = sync ? filter.mode(sync) : 0;
        {
            const QSignalBlocker blocker(ui.filterPopUps[tab]);
            ui.filterPopUps[tab]->setCurrentIndex(mode >= 0 && mode <= 2 ? mode : 0);
        }
        ReloadList(ui.filterLists[tab], (mode & 1)   ? filter.include(sync)
                                        : (mode & 2) ? filter.exclude(sync)
                                                     : AString());
        ui.filterLists[tab]->setEnabled(mode != 0);
    }
}

void SyncWnd::ReloadList(QListWidget* list, const AString& value)
{
    const QSignalBlocker blocker(list);
    list->clear();
    for (const AString& item : liststring::Items(value)) {
        auto* row = new QListWidgetItem(Q(item), list);
        row->setFlags(row->flags() | Qt::ItemIsEditable);
    }
}

void SyncWnd::ListEdited(QListWidget* list, const std::function<void(AString&)>& store)
{
    std::vector<AString> items;
    // A row may be edited into several items ("Rock:Jazz"), as the command line takes them.
    for (int i = 0; i < list->count(); ++i)
        for (AString& item : liststring::Items(A(list->item(i)->text())))
            items.push_back(std::move(item));
    // No items left is the empty list, not a lone ":" that would match nothing.
    AString value = liststring::Join(items);
    store(value);
    ReloadList(list, value);
}

void SyncWnd::AddListItem(QListWidget* list, const std::function<AString()>& get,
                          const std::function<void(AString&)>& store)
{
    if (!Sync0())
        return;
    AString value =
        liststring::SetItem(get(), static_cast<int>(liststring::Items(get()).size()), AString("new"));
    store(value);
    ReloadList(list, value);
    list->setEnabled(true);
    if (list->count() > 0) {
        QListWidgetItem* last = list->item(list->count() - 1);
        list->setCurrentItem(last);
        list->editItem(last);
    }
}

void SyncWnd::SyncTypeMenu(int index)
{
    ASync* sync = Sync0();
    if (!sync || index < 0 || index > 5)
        return;
    sync->SetAutoAction(index / 2 + 1);
    sync->SetDestDeletes(static_cast<signed char>(index & 1));
    {
        const QSignalBlocker blocker(ui.wDeletesCkBox);
        ui.wDeletesCkBox->setChecked(index & 1);
    }
    const QSignalBlocker blocker(ui.SyncTypePopUp);
    ui.SyncTypePopUp->setCurrentIndex(index);
    SetBigArrowPic();
}

void SyncWnd::SetHiddenProgressItems(bool hidden)
{
    ui.LargeStatusTxt->setVisible(!hidden);
    ui.ProgressBar->setVisible(!hidden);
    ui.CancelButton->setVisible(!hidden);
    ui.iTunesStatusArea->update();
}

void SyncWnd::SetEnabledSyncListItems(bool enabled)
{
    const bool mounted = !pods.empty();
    ejectButton->setEnabled(enabled && mounted);
    ui.SettingsButton->setEnabled(enabled);
    ui.SettingsDrawer->widget()->setEnabled(enabled && Sync0());
    ui.LeftSourcePopUp->setEnabled(enabled);
    ui.iPodPopUp->setEnabled(enabled && mounted);
    ui.SyncTypePopUp->setEnabled(enabled && mounted);
    ui.BigArrowTextLabel->setVisible(enabled && mounted);
}

void SyncWnd::OnNotified(const QString& name, const QString& text)
{
    namespace notification = platform::notification;
    const std::string posted = name.toStdString();
    if (posted == notification::kLogUpdate)
        TextLogView::AppendAtEnd(ui.LogText, text);
    else if (posted == notification::kShowStatusItems) {
        SetHiddenProgressItems(false);
        if (running == RunKind::kSync)
            transferStatus->Begin(Sync0());
    } else if (posted == notification::kHideStatusItems)
        SetHiddenProgressItems(true);
    else if (posted == notification::kDisableSyncPopUpsEtc)
        SetEnabledSyncListItems(false);
    else if (posted == notification::kEnableSyncPopUpsEtc) {
        SetEnabledSyncListItems(true);
        OnRunEnded();
    } else if (posted == notification::kOpenActionsDrawer) {
        ShowReview();
        if (ASync* sync = Sync0(); sync && controller.IsWaitingForReview()) {
            const SyncSpace::Change plan = SyncSpace::PlannedChange(*sync, 2);
            ShowCapacity(&plan);
        }
    } else if (posted == notification::kCloseActionsDrawer) {
        actionsModel->SetSnapshot({});
        ui.ActionsDrawer->hide();
        ui.ProgressBar->setVisible(IsRunning());
    } else if (posted == notification::kOpenLogDrawer) {
        // A run closes only the log it opened itself, never one the user opened.
        if (!ui.StatusDrawer->isVisible()) {
            ui.StatusDrawer->show();
            logOpenedByRun = true;
        }
    } else if (posted == notification::kCloseLogDrawer) {
        if (logOpenedByRun)
            ui.StatusDrawer->hide();
        logOpenedByRun = false;
    }
    // The settings drawer is only ever opened by the user, and its controls are disabled while a
    // run goes on: a run starting leaves it open.
}

void SyncWnd::ShowReview()
{
    ActionTableModel::Sides sides;
    ASync* sync = Sync0();
    sides.left = leftIsLibrary ? QStringLiteral("Library") : QFileInfo(leftFolder).fileName();
    sides.songs = Songs(sync) != nullptr;
    std::uint64_t free = 0;
    if (const MountedIPod* pod = SelectedIPod();
        pod && platform::VolumeFreeSpace(pod->mountPoint.ToStdString(), free))
        sides.rightFree = free;
    actionsModel->SetSides(sides);
    actionsModel->SetSnapshot(controller.GetReview());
    // The run waits for the user: no bar stands still under a stale "Preparing" line meanwhile.
    ui.SmallStatusTxt->setText(
        QStringLiteral("Untick what should not be done, then press Perform (or Sync)."));
    ui.LargeStatusTxt->setText(actionsModel->TotalsText());
    ui.ProgressBar->hide();
    ui.ActionsDrawer->show();
    ui.ActionsDrawer->raise();
    // The window grows to show the drawer's rows rather than squeeze them.
    resize(size().expandedTo(minimumSizeHint()));
    ui.ActionsTableView->setFocus(Qt::OtherFocusReason);
    if (actionsModel->rowCount() > 0)
        ui.ActionsTableView->setCurrentIndex(actionsModel->index(0, ActionTableModel::kSource));
}

void SyncWnd::SyncButton()
{
    if (RunController::IsBusy()) {
        // Sync pressed again while the actions wait for review performs them, as Perform does.
        if (controller.IsWaitingForReview())
            DoneSelectingActionsButton();
        else
            QApplication::beep();
        return;
    }
    if (!SelectedIPod()) {
        QApplication::beep();
        ui.SmallStatusTxt->setText(QString::fromLatin1(kNoIPodAlert));
        return;
    }
    if (!session) {
        Inform(loadProblem.isEmpty() ? QString::fromLatin1(kNoIPodAlert) : loadProblem);
        return;
    }
    PlaylistsChosen();
    ui.LogText->clear();
    ui.SmallStatusTxt->setText(QStringLiteral("Sync'ing Starting..."));
    ui.LargeStatusTxt->clear();
    runMountPoint = Q(session->GetIPod()->mountPoint);
    running = RunKind::kSync;
    nothingToSync = false;
    if (controller.StartSync(*session) != 0) {
        running = RunKind::kNone;
        QApplication::beep();
    }
}

void SyncWnd::CancelButton()
{
    // The flag is set before a run waiting for its review is woken: it performs nothing.
    controller.Cancel();
}

void SyncWnd::DoneSelectingActionsButton()
{
    if (!controller.IsWaitingForReview())
        return;
    // The ticks go into the run's actions before it goes on.
    if (controller.AnswerReview(actionsModel->Answer(), true) != 0)
        QApplication::beep();
}

void SyncWnd::CancelSelectingActionsButton() { controller.Cancel(); }

void SyncWnd::OnRunEnded()
{
    if (running == RunKind::kNone)
        return;
    // The run's thread has posted its last notification; it ends at once.
    const int result = controller.Join();
    // What the library holds for an iPod it serves is written back to the iPod now.
    if (scripts)
        if (int err = scripts->Flush(); err != 0)
            Say(QStringLiteral("The library could not write the iPod's database back (%1).").arg(err));
    const RunKind ended = running;
    running = RunKind::kNone;
    transferStatus->End();
    actionsModel->SetSnapshot({});
    ui.ActionsDrawer->hide();
    if (ended == RunKind::kTool && toolSummary && !toolSummary->IsEmpty()) {
        // The tool's counts ("3 found, 2 added, 1 left as it was."), after what stopped it if it
        // did not complete.
        const QString counts = Q(*toolSummary);
        const QString text = result == 0 ? counts : ui.SmallStatusTxt->text() + QLatin1Char(' ') + counts;
        ui.SmallStatusTxt->setText(text);
        ui.SmallStatusTxt->setToolTip(text);
    }
    toolSummary.reset();
    if (ended == RunKind::kSync) {
        // The line the command line ends with stays in the panel until the next run.
        QString summary = Q(controller.GetOutcome().summary);
        if (summary.isEmpty())
            summary = result == 0 ? QStringLiteral("Done") : QStringLiteral("Error");
        if (nothingToSync && result == 0)
            summary = QString::fromLatin1(kNothingToSync);
        ui.SmallStatusTxt->setText(summary);
        ui.SmallStatusTxt->setToolTip(summary);
        ShowNotices();
    }
    // The iPod's song count (and whatever else a run changed on it) shows as it is now.
    if (!refreshPending)
        UpdatePopUps();
    UpdateUIFromSync();
    emit RunEnded(result);
    if (refreshPending) {
        refreshPending = false;
        SaveIPodSync();
        UpdatePopUps();
        LoadIPodSync();
    }
    if (quitPending) {
        quitPending = false;
        close();
    }
}

void SyncWnd::RunTool(LibraryTools::Tool tool, int side, const QStringList& paths)
{
    // A tool works on a side of the iPod's sync: without one, the left side has no folder either.
    ASyncGroup* group = session ? session->GetGroup() : nullptr;
    const bool ipodSide = side == SongDropView::kRight;
    if (RunController::IsBusy() || !group || (ipodSide && !SelectedIPod())) {
        QApplication::beep();
        return;
    }
    const LibraryTools::Side which = ipodSide ? LibraryTools::Side::kIPod : LibraryTools::Side::kLibrary;
    // Purchases are told to be the user's by the saved accounts and the library's own one; with
    // neither, every purchase would look like someone else's.
    const AString libraryAccount =
        AString::FromUTF8(LibraryFiles::ReadAccount(platform::LibraryPreferencesPath()));
    if (tool == LibraryTools::Tool::kNotOwned && Songs(Sync0()) &&
        liststring::Items(LibraryTools::OwnAccounts(Copy(Songs(Sync0())->GetAppleIDs()), libraryAccount))
            .empty()) {
        QApplication::beep();
        const QString why =
            QString::fromLatin1(LibraryTools::kNoAccountKnown) +
            QStringLiteral(" Add yours under Settings, Store accounts, or set the library's with "
                           "`pelorin library account set NAME@EXAMPLE.COM`.");
        ui.SmallStatusTxt->setText(why);
        Say(why);
        return;
    }
    LibraryTools::Options options;
    for (const QString& path : paths)
        options.paths.push_back(A(path));
    ui.LogText->clear();
    ui.SmallStatusTxt->setText(Q(LibraryTools::StatusText(tool, which)));
    runMountPoint = Q(session->GetIPod()->mountPoint);
    running = RunKind::kTool;
    toolSummary = std::make_shared<AString>();
    const int started = controller.StartJob(
        [group, tool, which, options, libraryAccount, summary = toolSummary](CancelProc cancel) {
            // The library's account counts for this run only; an account the user adds is kept.
            ASyncLib* songs = Songs(group->GetSync(0));
            const AString saved = songs ? Copy(songs->GetAppleIDs()) : AString();
            AString accounts = LibraryTools::OwnAccounts(saved, libraryAccount);
            if (songs)
                songs->SetAppleIDs(&accounts);
            LibraryTools::Outcome outcome = LibraryTools::RunOnGroup(tool, which, *group, options, cancel);
            if (songs) {
                AString kept = saved;
                for (const AString& account : liststring::Items(Copy(songs->GetAppleIDs())))
                    if (account.Compare(libraryAccount) != 0)
                        kept = LibraryTools::OwnAccounts(kept, account);
                songs->SetAppleIDs(&kept);
            }
            *summary = outcome.summary;
            return outcome.result;
        });
    if (started != 0) {
        running = RunKind::kNone;
        QApplication::beep();
    }
}

void SyncWnd::AddMusicFiles(int side, const QStringList& paths)
{
    RunTool(LibraryTools::Tool::kAddFiles, side, paths);
}

bool SyncWnd::AcceptsDrop(int side, const QString& path) const
{
    ASync* sync = Sync0();
    if (!sync || (side == SongDropView::kRight && !SelectedIPod()))
        return false;
    const ADir& dir = side == SongDropView::kRight ? *sync->GetDir2() : *sync->GetDir1();
    const QFileInfo info(path);
    if (info.isSymLink())
        return false;
    if (info.isFile())
        return drops::AcceptsMusicFile(dir, path.toStdString());
    return info.isDir() && drops::FolderHoldsMusicFile(dir, path.toStdString());
}

bool SyncWnd::Quit()
{
    if (controller.IsWaitingForReview()) {
        // The run performs nothing; the window closes once it has ended.
        controller.Cancel();
        quitPending = true;
        return false;
    }
    if (RunController::IsBusy()) {
        Inform(QString::fromLatin1(kQuitDuringRun));
        return false;
    }
    if (int err = SaveIPodSync(); err != 0) {
        QApplication::beep();
        platform::QuestionInterface* asked = platform::GetQuestionInterface();
        AString why;
        AError::AddErrorMsg(&why, err);
        return asked &&
               asked->Ask("The settings could not be saved (" + std::to_string(err) + why.ToStdString() +
                              ").",
                          "Quit anyway and lose the changes to them?", {"Don't Quit", "Quit Anyway"}) == 1;
    }
    return true;
}

void SyncWnd::VolumeMounted(const QString& mountPoint)
{
    if (IsRunning() || RunController::IsBusy()) {
        // Another iPod arriving leaves the run alone; the pop-ups follow once it has ended.
        refreshPending = true;
        return;
    }
    SaveIPodSync();
    UpdatePopUps(mountPoint);
    LoadIPodSync();
    ASync* sync = Sync0();
    const MountedIPod* pod = SelectedIPod();
    if (sync && pod && Q(pod->mountPoint) == mountPoint && sync->GetAutoRunOnVolumeMount())
        SyncButton();
}

void SyncWnd::VolumeUnMounted(const QString& mountPoint)
{
    if (IsRunning() || RunController::IsBusy()) {
        // Only the iPod being synced going away stops the run.
        if (mountPoint == runMountPoint)
            controller.Cancel();
        refreshPending = true;
        return;
    }
    const MountedIPod* current = SelectedIPod();
    if (current && Q(current->mountPoint) != mountPoint) {
        UpdatePopUps(Q(current->mountPoint), mountPoint);
        return;
    }
    const QString gone = current ? IPodTitle(*current) : QFileInfo(mountPoint).fileName();
    SaveIPodSync();
    UpdatePopUps(QString(), mountPoint);
    LoadIPodSync();
    const MountedIPod* now = SelectedIPod();
    const QString said =
        now ? QStringLiteral("%1 was disconnected; showing %2 now.").arg(gone, IPodTitle(*now))
            : QStringLiteral("%1 was disconnected.").arg(gone);
    ui.SmallStatusTxt->setText(said);
    Say(said);
}

void SyncWnd::ShowCapacity(const SyncSpace::Change* plan)
{
    const MountedIPod* pod = SelectedIPod();
    ejectButton->setEnabled(pod != nullptr && !IsRunning());
    if (!pod) {
        capacity->Clear();
        return;
    }
    capacity->Show(SyncSpace::Measure(pod->mountPoint), plan);
}

void SyncWnd::ShowLeftSongCount()
{
    // A run has the library's scripts to itself; the count is read again when it has ended.
    if (RunController::IsBusy())
        return;
    const LeftSide left = ChosenLeftSide(SelectedIPod());
    QString title;
    int count = -1;
    if (leftIsLibrary) {
        title = ui.iTunesPlaylistPopUp->currentText();
        if (title.isEmpty())
            title = QStringLiteral("Library");
        count = sidecounts::LibrarySongs(title);
    } else {
        title = Q(left.root);
        count = title.isEmpty() ? -1 : sidecounts::FolderSongs(title);
    }
    const QString songs = sidecounts::SongsText(count);
    ui.iTunesTextLabel->setText(songs.isEmpty() ? title : title + QStringLiteral("\n") + songs);
}

int SyncWnd::EjectIPod()
{
    const MountedIPod* pod = SelectedIPod();
    if (!pod)
        return kErrObjectNotFound;
    const MountedIPod chosen = *pod;
    AString message;
    int err = 0;
    // Every run of the window works on the selected iPod's sync.
    if (IsRunning() || RunController::IsBusy()) {
        message = IPodEject::InUseMessage(chosen);
        err = kErrBusy;
    } else {
        // The settings go to the state file, and what the library holds for the iPod to the iPod,
        // before the volume goes.
        SaveIPodSync();
        if (scripts)
            if (int unsaved = scripts->Flush(); unsaved != 0)
                Say(QStringLiteral("The library could not write the iPod's database back (%1).")
                        .arg(unsaved));
        err = IPodEject::Eject(chosen, &message);
    }
    ui.SmallStatusTxt->setText(Q(message));
    ui.SmallStatusTxt->setToolTip(Q(message));
    Say(Q(message));
    if (err == 0 && !IsRunning()) {
        UpdatePopUps(QString(), Q(chosen.mountPoint));
        LoadIPodSync();
        ui.SmallStatusTxt->setText(Q(message));
    }
    return err;
}
