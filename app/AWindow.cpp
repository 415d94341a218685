#include "app/AWindow.h"

#include <QCloseEvent>

void AWindow::closeEvent(QCloseEvent* event)
{
    if (closeCheck && !closeCheck()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
