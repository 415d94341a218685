#pragma once
// The rounded-rectangle path of the status panel.

#include <QPainterPath>
#include <QRectF>

// The corner radius a rectangle can take: `radius`, at most half its smaller side.
qreal ClampedCornerRadius(const QRectF& rect, qreal radius);
// `rect` with rounded corners: an empty path for an empty rectangle, a plain rectangle for a radius
// that is not above 0.
QPainterPath RoundedRectPath(const QRectF& rect, qreal radius);
