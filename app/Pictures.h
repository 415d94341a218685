#pragma once
// The application's pictures (SVG, drawn for Pelorin), rendered at the size asked for.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace pictures {

// `name` is the picture's file name without ".svg" ("synctype-0", "generic-ipod").
QPixmap Pixmap(const QString& name, const QSize& size);
QIcon Icon(const QString& name, const QSize& size);
// The picture of an action of the action table, by its kind.
QString ActionPicture(int kind);

} // namespace pictures
