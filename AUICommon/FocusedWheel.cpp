#include "AUICommon/FocusedWheel.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>

FocusedWheel::FocusedWheel(QObject* parent) : QObject(parent) {}

void FocusedWheel::Guard(QWidget* page)
{
    auto guard = [this](QWidget* widget) {
        widget->setFocusPolicy(Qt::StrongFocus);
        widget->installEventFilter(this);
    };
    for (QComboBox* box : page->findChildren<QComboBox*>())
        guard(box);
    for (QAbstractSpinBox* box : page->findChildren<QAbstractSpinBox*>())
        guard(box);
}

bool FocusedWheel::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() != QEvent::Wheel || !widget || widget->hasFocus())
        return QObject::eventFilter(watched, event);
    // The page scrolls instead, as if the control were not there.
    for (QWidget* up = widget->parentWidget(); up; up = up->parentWidget())
        if (auto* area = qobject_cast<QAbstractScrollArea*>(up)) {
            QApplication::sendEvent(area->verticalScrollBar(), event);
            break;
        }
    return true;
}
