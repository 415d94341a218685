// The window with the library and iPod the environment names (PELORIN_LIBRARY, PELORIN_VOLUMES;
// make them with `pelorin demo DIR` and `pelorin library import`): the time from start to the window
// shown, and from pressing Sync to the planned actions shown for review. Offscreen; prints figures.

#include "app/ActionTableModel.h"
#include "app/SyncWnd.h"

#include "AUICommon/ExtendedTableView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    SyncWnd window({QString(), QString()});
    window.resize(900, 460);
    window.show();
    QApplication::processEvents();
    const double started = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::printf("window shown: %.0f ms (%s on the left, %zu iPods)\n", started,
                window.LeftIsLibrary() ? "library" : "folder", window.IPods().size());
    if (window.IPods().empty())
        return 0;

    window.ui.ShowActionsListCkBox->setChecked(true);
    clock.restart();
    window.SyncButton();
    const bool reviewed =
        QTest::qWaitFor([&] { return window.ui.ActionsDrawer->isVisible() || !window.IsRunning(); }, 600000);
    QApplication::processEvents();
    std::printf("Sync to review: %.0f ms, %d actions%s\n", static_cast<double>(clock.nsecsElapsed()) / 1e6,
                window.ActionsModel()->rowCount(), reviewed ? "" : " (no review came)");
    clock.restart();
    window.ui.ActionsTableView->sortByColumn(ActionTableModel::kSource, Qt::DescendingOrder);
    std::printf("sorting the review by source: %.0f ms\n", static_cast<double>(clock.nsecsElapsed()) / 1e6);
    window.CancelSelectingActionsButton();
    return QTest::qWaitFor([&] { return !window.IsRunning(); }, 600000) ? 0 : 1;
}
