#pragma once
// FocusedWheel: combo boxes and spin boxes inside a scrolled page take the mouse wheel only once
// they have the focus. Scrolling the page past them with the wheel then scrolls the page and never
// changes a setting the pointer happens to pass over.

#include <QObject>

class QWidget;

class FocusedWheel : public QObject {
    Q_OBJECT
public:
    explicit FocusedWheel(QObject* parent = nullptr);

    // Guards every combo box and spin box under `page` (the widget a scroll area shows); they take
    // the focus by click or Tab only, not by the wheel.
    void Guard(QWidget* page);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
