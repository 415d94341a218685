#include "app/Pictures.h"

#include "ACommon/sync/ASync.h"

#include <QPainter>
#include <QSvgRenderer>

// The pictures are compiled into a static library: their resource is registered by hand.
static void RegisterPictures() { Q_INIT_RESOURCE(pelorin); }

namespace pictures {

QPixmap Pixmap(const QString& name, const QSize& size)
{
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/pictures/") + name + QStringLiteral(".svg"));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    return pixmap;
}

QIcon Icon(const QString& name, const QSize& size) { return QIcon(Pixmap(name, size)); }

QString ActionPicture(int kind)
{
    switch (kind) {
    case ASync::kCopyLeft:
        return QStringLiteral("action-copy-left");
    case ASync::kCopyRight:
        return QStringLiteral("action-copy-right");
    case ASync::kDeleteLeft:
    case ASync::kDeleteRight:
        return QStringLiteral("action-delete");
    case ASync::kReplaceLeft:
        return QStringLiteral("action-replace-left");
    case ASync::kReplaceRight:
        return QStringLiteral("action-replace-right");
    case ASync::kCreateDirLeft:
        return QStringLiteral("action-create-dir-left");
    case ASync::kCreateDirRight:
        return QStringLiteral("action-create-dir-right");
    case ASync::kDeleteDirLeft:
    case ASync::kDeleteDirRight:
        return QStringLiteral("action-delete-dir");
    default:
        return QStringLiteral("action-undecided");
    }
}

} // namespace pictures
