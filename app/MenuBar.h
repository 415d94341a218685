#pragma once
// MenuBar: the menus of the main window. File: Save, Eject iPod, Quit. Tools: the library tools
// (and adding a folder of music) for the left side and for the iPod, enabled by the library tools' menu
// rules, and only while there is a sync to work on.

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
    // A whole folder of music, chosen in the folder chooser, for each side.
    QAction* AddMusicFolderiTunesMenuItem = nullptr;
    QAction* AddMusicFolderiPodMenuItem = nullptr;
    QAction* EjectMenuItem = nullptr;

    // Asks for a folder and adds the music in it (and below it) to a side (SongDropView::Side).
    void AddMusicFolder(int side);

private:
    void AddMusicFiles(int side);

    SyncWnd* window;
};
