#pragma once
// SongDropView: the picture of one side (the library or folder on the left, the iPod on the right)
// onto which music files and folders are dropped to be added to that side. A drag is accepted when
// it holds a music file the side takes, or a folder with one in it (looked for briefly, following
// no link); a drop hands over every dropped path at once.

#include <QLabel>
#include <QStringList>

#include <functional>

class QMimeData;

class SongDropView : public QLabel {
    Q_OBJECT
public:
    enum Side { kLeft = 1, kRight = 2 };
    // `accepts` tells whether a path (file or folder) may be dropped on this side.
    SongDropView(Side side, std::function<bool(const QString& path)> accepts, QWidget* parent = nullptr);
    // The local paths of a drag's URLs.
    static QStringList DraggedPaths(const QMimeData* data);

signals:
    void FilesDropped(int side, const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    Side side;
    std::function<bool(const QString&)> accepts;
};
