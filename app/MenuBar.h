#pragma once
// MenuBar: the menus of the main window. File: Save, Quit. Tools: the library tools for the left
// side and for the iPod. The tools that cannot run now are disabled: with a run going on, the
// settings and every tool; with no iPod mounted, the iPod's tools.

#include <QObject>

class QAction;
class QMenu;
class SyncWnd;

class MenuBar : public QObject {
    Q_OBJECT
public:
    explicit MenuBar(SyncWnd* window);

    // Sets which items are enabled (also done each time a menu opens).
    void UpdateEnabling();

    QAction* SaveMenuItem = nullptr;
    QAction* QuitMenuItem = nullptr;
    QAction* SettingsMenuItem = nullptr;
    QAction* AddMusicFilesiTunesMenuItem = nullptr;
    QAction* AddMusicFilesiPodMenuItem = nullptr;
    QAction* RemoveDupsiTunesMenuItem = nullptr;
    QAction* RemoveDupsiPodMenuItem = nullptr;
    QAction* RemoveOrphansiTunesMenuItem = nullptr;
    QAction* RemoveOrphansiPodMenuItem = nullptr;
    QAction* RemoveUnauthorizediTunesMenuItem = nullptr;
    QAction* RemoveUnauthorizediPodMenuItem = nullptr;
    QAction* ScanforDisconnectediTunesMenuItem = nullptr;
    QAction* ScanforDisconnectediPodMenuItem = nullptr;
    QAction* AddAlbumArt2MusicFilesiTunesMenuItem = nullptr;
    QAction* AddAlbumArt2MusicFilesiPodMenuItem = nullptr;

private:
    void AddMusicFiles(int side);

    SyncWnd* window;
    // The tools that have no run in this version yet.
    QList<QAction*> unavailable;
};
