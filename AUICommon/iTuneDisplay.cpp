#include "AUICommon/iTuneDisplay.h"

#include "AUICommon/RoundedRect.h"

#include <QPainter>
#include <QStyleOptionFrame>

iTuneDisplay::iTuneDisplay(QWidget* parent) : QWidget(parent) {}

void iTuneDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawPath(RoundedRectPath(QRectF(r.x() + 5, r.y() + 5, r.width() - 10, r.height() - 9), 5));
}
