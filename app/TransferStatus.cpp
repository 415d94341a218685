#include "app/TransferStatus.h"

#include "ACommon/sync/ASync.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int kEveryMs = 500;

} // namespace

TransferStatus::TransferStatus(QLabel* shownIn, QWidget* titled)
    : QObject(titled), line(shownIn), window(titled), timer(new QTimer(this))
{
    timer->setInterval(kEveryMs);
    connect(timer, &QTimer::timeout, this, &TransferStatus::Refresh);
    line->hide();
}

QString TransferStatus::MinimisedTitle(int percent, const QString& text, const QString& title)
{
    return QStringLiteral("%1% — %2 — %3").arg(percent).arg(text, title);
}

void TransferStatus::Begin(const ASync* run)
{
    sync = run;
    title = window->windowTitle();
    line->clear();
    line->hide();
    timer->start();
}

void TransferStatus::End()
{
    timer->stop();
    sync = nullptr;
    line->hide();
    if (!title.isEmpty())
        window->setWindowTitle(title);
}

void TransferStatus::Refresh()
{
    if (!sync)
        return;
    const TransferMeter::Reading reading = sync->GetTransfer().Read();
    if (!reading.running || reading.total == 0) {
        line->hide();
        window->setWindowTitle(title);
        return;
    }
    const QString text = QString::fromStdString(TransferMeter::Describe(reading).ToStdString());
    line->setText(text);
    line->show();
    const int percent = static_cast<int>(100 * reading.done / reading.total);
    window->setWindowTitle(window->isMinimized() ? MinimisedTitle(percent, text, title) : title);
}
