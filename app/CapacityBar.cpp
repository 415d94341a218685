#include "app/CapacityBar.h"

#include "ACommon/sync/SyncTally.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Q(const AString& text) { return QString::fromStdString(text.ToStdString()); }

} // namespace

// The bar itself: used, then the plan's share (added, or given back), then free.
class CapacityBar::Bar : public QWidget {
public:
    explicit Bar(CapacityBar* bar) : QWidget(bar), owner(bar) { setFixedHeight(10); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF whole = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(palette().color(QPalette::Mid));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(whole, 3, 3);
        const SyncSpace::Volume& volume = owner->shown;
        if (!volume.known || volume.total == 0)
            return;
        const double width = whole.width();
        auto share = [&](std::uint64_t bytes) {
            return width * std::min(1.0, static_cast<double>(bytes) / static_cast<double>(volume.total));
        };
        double used = share(volume.used);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x4a, 0x90, 0xd9));
        double plannedWidth = 0;
        QColor plannedColor(0xf0, 0xa0, 0x30);
        if (owner->planned) {
            const std::int64_t after = SyncSpace::FreeAfter(volume, *owner->planned);
            const std::int64_t change = static_cast<std::int64_t>(volume.free) - after;
            if (change < 0) {
                // The plan gives room back: the part that goes is drawn lighter inside the used part.
                plannedWidth = std::min(used, share(static_cast<std::uint64_t>(-change)));
                used -= plannedWidth;
                plannedColor = QColor(0xa8, 0xcc, 0xf0);
            } else {
                plannedWidth = std::min(width - used, share(static_cast<std::uint64_t>(change)));
                if (!owner->fits)
                    plannedColor = QColor(0xd9, 0x3a, 0x3a);
            }
        }
        painter.drawRoundedRect(QRectF(whole.left(), whole.top(), used, whole.height()), 3, 3);
        if (plannedWidth > 0) {
            painter.setBrush(plannedColor);
            painter.drawRect(QRectF(whole.left() + used, whole.top(), plannedWidth, whole.height()));
        }
    }

private:
    CapacityBar* owner;
};

CapacityBar::CapacityBar(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(2);
    bar = new Bar(this);
    line = new QLabel(this);
    line->setAlignment(Qt::AlignCenter);
    line->setWordWrap(true);
    QFont small = line->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    line->setFont(small);
    layout->addWidget(bar);
    layout->addWidget(line);
    Clear();
}

void CapacityBar::Show(const SyncSpace::Volume& volume, const SyncSpace::Change* plan)
{
    shown = volume;
    planned.reset();
    fits = true;
    if (plan) {
        planned = *plan;
        fits = SyncSpace::Fits(volume, *plan);
    }
    setVisible(volume.known);
    line->setText(volume.known ? Q(SyncSpace::Describe(volume, plan)) : QString());
    setToolTip(volume.known ? QStringLiteral("%1 in all").arg(Q(SyncTally::FormatSize(volume.total)))
                            : QString());
    update();
    bar->update();
}

void CapacityBar::Clear() { Show(SyncSpace::Volume()); }

QString CapacityBar::Text() const { return line->text(); }
