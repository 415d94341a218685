#include "app/MenuBar.h"

#include "app/SongDropView.h"
#include "app/SyncWnd.h"

#include "ACommon/sync/RunController.h"
#include "APlatform/Frontend.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

MenuBar::MenuBar(SyncWnd* window) : QObject(window), window(window)
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
    file->addSeparator();
    QuitMenuItem =
        file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, [this] { this->window->close(); });

    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    auto side = [this, tools](const QString& title, QAction** library, QAction** ipod,
                              std::function<void(int)> run) {
        QMenu* menu = tools->addMenu(title);
        *library = menu->addAction(QStringLiteral("Library"), this, [run] { run(SongDropView::kLeft); });
        *ipod = menu->addAction(QStringLiteral("iPod"), this, [run] { run(SongDropView::kRight); });
        if (!run) {
            unavailable << *library << *ipod;
            menu->setToolTip(QStringLiteral("Not available in this version"));
        }
    };
    side(QStringLiteral("Add Music Files"), &AddMusicFilesiTunesMenuItem, &AddMusicFilesiPodMenuItem,
         [this](int which) { AddMusicFiles(which); });
    side(QStringLiteral("Scan for Duplicates"), &RemoveDupsiTunesMenuItem, &RemoveDupsiPodMenuItem,
         [this](int which) { this->window->ScanForDuplicates(which); });
    side(QStringLiteral("Remove Orphans"), &RemoveOrphansiTunesMenuItem, &RemoveOrphansiPodMenuItem, {});
    side(QStringLiteral("Remove Music Not Owned"), &RemoveUnauthorizediTunesMenuItem,
         &RemoveUnauthorizediPodMenuItem, {});
    side(QStringLiteral("Scan for Disconnected Files"), &ScanforDisconnectediTunesMenuItem,
         &ScanforDisconnectediPodMenuItem, {});
    side(QStringLiteral("Add Album Art to Music Files"), &AddAlbumArt2MusicFilesiTunesMenuItem,
         &AddAlbumArt2MusicFilesiPodMenuItem, {});

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
    const bool busy = RunController::IsBusy();
    const bool mounted = window->SelectedIPod() != nullptr;
    const QList<QAction*> runs = {SettingsMenuItem,
                                  AddMusicFilesiTunesMenuItem,
                                  AddMusicFilesiPodMenuItem,
                                  RemoveDupsiTunesMenuItem,
                                  RemoveDupsiPodMenuItem,
                                  RemoveOrphansiTunesMenuItem,
                                  RemoveOrphansiPodMenuItem,
                                  RemoveUnauthorizediTunesMenuItem,
                                  RemoveUnauthorizediPodMenuItem,
                                  ScanforDisconnectediTunesMenuItem,
                                  ScanforDisconnectediPodMenuItem,
                                  AddAlbumArt2MusicFilesiTunesMenuItem,
                                  AddAlbumArt2MusicFilesiPodMenuItem};
    const QList<QAction*> ipodItems = {AddMusicFilesiPodMenuItem,       RemoveUnauthorizediPodMenuItem,
                                       ScanforDisconnectediPodMenuItem, RemoveDupsiPodMenuItem,
                                       RemoveOrphansiPodMenuItem,       AddAlbumArt2MusicFilesiPodMenuItem};
    for (QAction* item : runs)
        item->setEnabled(!busy && !unavailable.contains(item) && (mounted || !ipodItems.contains(item)));
    // The tools need a sync to work on: the left side's folder and the iPod come from it.
    if (!window->Session())
        for (QAction* item : runs)
            if (item != SettingsMenuItem)
                item->setEnabled(false);
}

void MenuBar::AddMusicFiles(int side)
{
    platform::QuestionInterface* asked = platform::GetQuestionInterface();
    std::vector<std::string> chosen;
    if (!asked || !asked->ChooseFiles("Add Music Files", {"mp3", "m4p", "m4a", "m4b"}, true, true, chosen))
        return;
    QStringList paths;
    for (const std::string& path : chosen)
        paths << QString::fromStdString(path);
    window->AddMusicFiles(side, paths);
}
