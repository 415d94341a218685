#include "AUICommon/ExtendedTableView.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>

ExtendedTableView::ExtendedTableView(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAlternatingRowColors(true);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    setSortingEnabled(true);
}

void ExtendedTableView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        const bool enabled = isEnabled();
        setFocusPolicy(enabled ? Qt::StrongFocus : Qt::NoFocus);
        verticalScrollBar()->setEnabled(enabled);
        horizontalScrollBar()->setEnabled(enabled);
        QPalette shades = palette();
        shades.setColor(QPalette::Disabled, QPalette::Text, QColor::fromRgbF(0.5, 0.5, 0.5));
        shades.setColor(QPalette::Disabled, QPalette::Base, QColor::fromRgbF(0.94, 0.94, 0.94));
        setPalette(shades);
    }
    QTableView::changeEvent(event);
}
