#include "app/MenuBar.h"

#include "app/SongDropView.h"
#include "app/SyncWnd.h"

#include "ACommon/sync/LibraryTools.h"
#include "ACommon/sync/RunController.h"
#include "APlatform/Frontend.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include <sstream>

MenuBar::MenuBar(SyncWnd* owner) : QObject(owner), window(owner)
{
    QMenuBar* bar = window->menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    SaveMenuItem = file->addAction(QStringLiteral("&Save Settings"), QKeySequence::Save, this, [this] {
        if (this->window->SaveIPodSync() != 0)
            QApplication::beep();
    });
    SettingsMenuItem = file->addAction(QStringLiteral("Se&ttings"), QKeySequence::Preferences, this, [this] {
        if (RunController::IsBusy())
            QApplication::beep();
        else
            this->window->ui.SettingsDrawer->show();
    });
    EjectMenuItem = file->addAction(QStringLiteral("&Eject iPod"), QKeySequence(QStringLiteral("Ctrl+E")),
                                    this, [this] { this->window->EjectIPod(); });
    file->addSeparator();
    QuitMenuItem =
        file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, [this] { this->window->close(); });

    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    using Tool = LibraryTools::Tool;
    auto side = [this, tools](const QString& title, QAction** library, QAction** ipod, Tool tool) {
        QMenu* menu = tools->addMenu(title);
        auto run = [this, tool](int which) {
            if (tool == Tool::kAddFiles)
                AddMusicFiles(which);
            else
                this->window->RunTool(tool, which);
        };
        *library = menu->addAction(QStringLiteral("Library"), this, [run] { run(SongDropView::kLeft); });
        *ipod = menu->addAction(QStringLiteral("iPod"), this, [run] { run(SongDropView::kRight); });
    };
    side(QStringLiteral("Add Music Files"), &AddMusicFilesiTunesMenuItem, &AddMusicFilesiPodMenuItem,
         Tool::kAddFiles);
    QMenu* folder = tools->addMenu(QStringLiteral("Add Music Folder"));
    AddMusicFolderiTunesMenuItem =
        folder->addAction(QStringLiteral("Library…"), this, [this] { AddMusicFolder(SongDropView::kLeft); });
    AddMusicFolderiPodMenuItem =
        folder->addAction(QStringLiteral("iPod…"), this, [this] { AddMusicFolder(SongDropView::kRight); });
    side(QStringLiteral("Scan for Duplicates"), &RemoveDupsiTunesMenuItem, &RemoveDupsiPodMenuItem,
         Tool::kDuplicates);
    side(QStringLiteral("Remove Orphans"), &RemoveOrphansiTunesMenuItem, &RemoveOrphansiPodMenuItem,
         Tool::kOrphans);
    side(QStringLiteral("Remove Music Not Owned"), &RemoveUnauthorizediTunesMenuItem,
         &RemoveUnauthorizediPodMenuItem, Tool::kNotOwned);
    side(QStringLiteral("Scan for Disconnected Files"), &ScanforDisconnectediTunesMenuItem,
         &ScanforDisconnectediPodMenuItem, Tool::kDisconnected);
    side(QStringLiteral("Add Album Art to Music Files"), &AddAlbumArt2MusicFilesiTunesMenuItem,
         &AddAlbumArt2MusicFilesiPodMenuItem, Tool::kAlbumArt);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Pelorin"), this, [this] {
        QMessageBox::about(this->window, QStringLiteral("About Pelorin"),
                           QStringLiteral("Pelorin keeps the music on a classic iPod and the music in your "
                                          "library in step, and cleans up both."));
    });
    for (QMenu* menu : {file, tools})
        connect(menu, &QMenu::aboutToShow, this, &MenuBar::UpdateEnabling);
    UpdateEnabling();
}

void MenuBar::UpdateEnabling()
{
    const LibraryTools::MenuState state = LibraryTools::MenuEnabling(
        RunController::IsBusy(), static_cast<int>(window->SelectedIPod() != nullptr));
    SaveMenuItem->setEnabled(state.save);
    SettingsMenuItem->setEnabled(state.settings);
    // The tools work on the sides of an iPod's sync: the left side's folder comes from it too.
    const bool synced = window->Session() != nullptr;
    struct Row {
        QAction* library;
        QAction* ipod;
        const bool* enabled;
    };
    for (const Row& row :
         {Row{AddMusicFilesiTunesMenuItem, AddMusicFilesiPodMenuItem, state.addFiles},
          {RemoveDupsiTunesMenuItem, RemoveDupsiPodMenuItem, state.duplicates},
          {RemoveOrphansiTunesMenuItem, RemoveOrphansiPodMenuItem, state.orphans},
          {RemoveUnauthorizediTunesMenuItem, RemoveUnauthorizediPodMenuItem, state.notOwned},
          {ScanforDisconnectediTunesMenuItem, ScanforDisconnectediPodMenuItem, state.disconnected},
          {AddAlbumArt2MusicFilesiTunesMenuItem, AddAlbumArt2MusicFilesiPodMenuItem, state.albumArt}}) {
        row.library->setEnabled(synced && row.enabled[0]);
        row.ipod->setEnabled(synced && row.enabled[1]);
    }
    AddMusicFolderiTunesMenuItem->setEnabled(AddMusicFilesiTunesMenuItem->isEnabled());
    AddMusicFolderiPodMenuItem->setEnabled(AddMusicFilesiPodMenuItem->isEnabled());
    EjectMenuItem->setEnabled(window->SelectedIPod() != nullptr && !window->IsRunning());
}

void MenuBar::AddMusicFiles(int side)
{
    platform::QuestionInterface* asked = platform::GetQuestionInterface();
    const MountedIPod* pod = window->SelectedIPod();
    const bool ipodSide = side == SongDropView::kRight;
    const int family = pod && pod->infoRead ? static_cast<int>(pod->info.family) : 0;
    const std::string offered =
        LibraryTools::ChooserTypes(ipodSide ? LibraryTools::Side::kIPod : LibraryTools::Side::kLibrary,
                                   family)
            .ToStdString();
    std::vector<std::string> types;
    std::istringstream words(offered);
    for (std::string type; words >> type;)
        types.push_back(type);
    std::vector<std::string> chosen;
    if (!asked || !asked->ChooseFiles("Add Music Files", types, true, true, chosen))
        return;
    QStringList paths;
    for (const std::string& path : chosen)
        paths << QString::fromStdString(path);
    window->AddMusicFiles(side, paths);
}

void MenuBar::AddMusicFolder(int side)
{
    platform::QuestionInterface* asked = platform::GetQuestionInterface();
    std::vector<std::string> chosen;
    if (!asked || !asked->ChooseFiles("Add Music Folder", {}, true, false, chosen))
        return;
    QStringList paths;
    for (const std::string& path : chosen)
        paths << QString::fromStdString(path);
    window->AddMusicFiles(side, paths);
}
