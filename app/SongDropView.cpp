#include "app/SongDropView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

SongDropView::SongDropView(Side shown, std::function<bool(const QString&)> accepting, QWidget* parent)
    : QLabel(parent), side(shown), accepts(std::move(accepting))
{
    setAcceptDrops(true);
    setAlignment(Qt::AlignCenter);
}

QStringList SongDropView::DraggedPaths(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && url.toLocalFile().size() > 1)
            paths << url.toLocalFile();
    return paths;
}

void SongDropView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!(event->possibleActions() & Qt::CopyAction))
        return;
    for (const QString& path : DraggedPaths(event->mimeData())) {
        if (accepts && accepts(path)) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
            return;
        }
    }
}

void SongDropView::dropEvent(QDropEvent* event)
{
    const QStringList paths = DraggedPaths(event->mimeData());
    if (paths.isEmpty())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit FilesDropped(side, paths);
}
