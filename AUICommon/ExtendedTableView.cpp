#include "AUICommon/ExtendedTableView.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
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
    setTabKeyNavigation(false);
}

int ExtendedTableView::HeightForRows(int rows) const
{
    return horizontalHeader()->sizeHint().height() + rows * verticalHeader()->defaultSectionSize() +
           2 * frameWidth();
}

void ExtendedTableView::keyPressEvent(QKeyEvent* event)
{
    const QModelIndex current = currentIndex();
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && checkColumn >= 0 &&
        current.isValid() && model()) {
        const QModelIndex box = model()->index(current.row(), checkColumn);
        if (model()->flags(box) & Qt::ItemIsUserCheckable) {
            const bool checked =
                model()->data(box, Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
            model()->setData(box, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
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
