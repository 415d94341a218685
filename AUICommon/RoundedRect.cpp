#include "AUICommon/RoundedRect.h"

#include <algorithm>

qreal ClampedCornerRadius(const QRectF& rect, qreal radius)
{
    return std::min(radius, std::min(rect.width(), rect.height()) / 2);
}

QPainterPath RoundedRectPath(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    if (rect.isEmpty())
        return path;
    if (radius <= 0) {
        path.addRect(rect);
        return path;
    }
    const qreal r = ClampedCornerRadius(rect, radius);
    path.addRoundedRect(rect, r, r);
    return path;
}
