// The window's capacity bar, eject, folder chooser and copy progress.

#include "GuiHarness.h"

#include "app/CapacityBar.h"
#include "app/MenuBar.h"
#include "app/TransferStatus.h"

#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/sync/ASync.h"
#include "APlatform/Eject.h"
#include "APlatform/FileSystem.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using guitest::Gui;
using guitest::WaitFor;

// Ejecting runs a recorded `umount` that succeeds (the test's volumes are plain folders).
struct RecordedEject {
    RecordedEject()
    {
        platform::SetCommandRunnerForTesting([this](const std::vector<std::string>& argv, std::string&) {
            std::string line;
            for (const std::string& arg : argv)
                line += (line.empty() ? "" : " ") + arg;
            commands.push_back(line);
            return 0;
        });
    }
    ~RecordedEject() { platform::SetCommandRunnerForTesting(nullptr); }
    std::vector<std::string> commands;
};

struct FreeSpace {
    explicit FreeSpace(std::uint64_t bytes) { platform::OverrideFreeSpaceForTesting(bytes); }
    ~FreeSpace() { platform::OverrideFreeSpaceForTesting(UINT64_MAX); }
};

TEST(WindowExtras, TheCapacityBarShowsTheRoomAfterThePlannedSyncDuringTheReview)
{
    FreeSpace free(50000000);
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo"});
    EXPECT_TRUE(window.Capacity()->Text().contains(QStringLiteral(" used, 50 MB free")))
        << window.Capacity()->Text().toStdString();
    EXPECT_FALSE(window.Capacity()->Text().contains(QStringLiteral("after the sync")));

    window.ui.ShowActionsListCkBox->setChecked(true);
    window.SyncButton();
    ASSERT_TRUE(gui.WaitForReview());
    EXPECT_TRUE(window.Capacity()->Text().contains(QStringLiteral("free after the sync")))
        << window.Capacity()->Text().toStdString();
    EXPECT_TRUE(window.Capacity()->PlanFits());
    window.CancelSelectingActionsButton();
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_FALSE(window.Capacity()->Text().contains(QStringLiteral("after the sync")));
}

TEST(WindowExtras, EjectUnmountsTheSelectedIPod)
{
    RecordedEject eject;
    Gui gui;
    gui.AddIPod("ALPHA", "First");
    const std::string second = gui.AddIPod("BRAVO", "Second");
    SyncWnd& window = gui.Open();
    window.ui.iPodPopUp->setCurrentIndex(1);
    emit window.ui.iPodPopUp->activated(1);
    ASSERT_EQ(window.ui.iPodPopUp->currentText(), QStringLiteral("Second"));

    window.Menus()->UpdateEnabling(); // as when the menu opens
    ASSERT_TRUE(window.Menus()->EjectMenuItem->isEnabled());
    window.Menus()->EjectMenuItem->trigger();
    EXPECT_EQ(eject.commands, (std::vector<std::string>{"umount " + second}));
    EXPECT_TRUE(window.ui.SmallStatusTxt->text().contains(QStringLiteral("Second was unmounted. Unplug it")))
        << window.ui.SmallStatusTxt->text().toStdString();
    EXPECT_EQ(window.ui.iPodPopUp->count(), 1);
    EXPECT_EQ(window.ui.iPodPopUp->currentText(), QStringLiteral("First"));
}

TEST(WindowExtras, EjectIsRefusedWhileAnotherProgramChangesTheIPod)
{
    RecordedEject eject;
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket();
    IPodLock held;
    ASSERT_EQ(held.Acquire(AString::FromUTF8(gui.ipod), 0), 0);
    QTest::mouseClick(window.EjectButton(), Qt::LeftButton);
    EXPECT_TRUE(eject.commands.empty());
    EXPECT_TRUE(
        window.ui.SmallStatusTxt->text().contains(QStringLiteral("Pocket is being changed by a sync")));
    EXPECT_EQ(window.ui.iPodPopUp->count(), 1);
}

TEST(WindowExtras, AFolderChosenFromTheMenuIsAddedToTheIPod)
{
    Gui gui;
    const std::string ipod = gui.AddIPod("IPOD", "Pocket");
    for (const char* title : {"One", "Two"})
        samples::WriteSong(gui.tmp / (std::string("new/disc/") + title + ".mp3"),
                           fixtures::SongSpecOf(title, 7));
    SyncWnd& window = gui.Open();
    gui.questions.SetChosenFiles({gui.tmp / "new"});
    QSignalSpy ended(&window, &SyncWnd::RunEnded);
    window.Menus()->UpdateEnabling();
    ASSERT_TRUE(window.Menus()->AddMusicFolderiPodMenuItem->isEnabled());
    window.Menus()->AddMusicFolderiPodMenuItem->trigger();
    ASSERT_TRUE(WaitFor([&] { return ended.count() == 1; }));
    EXPECT_EQ(fixtures::IPodTitles(ipod), (std::vector<std::string>{"One", "Two"}));
}

// A sync whose copies are metered by the test.
class MeteredSync : public ASync {
public:
    TransferMeter& Meter() { return transfer; }
};

TEST(WindowExtras, WhileSongsAreCopiedTheWindowSaysHowFarItHasCome)
{
    guitest::App();
    QLabel line;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Pelorin"));
    TransferStatus status(&line, &window);
    MeteredSync sync;
    status.Begin(&sync);
    sync.Meter().Start(80000000);
    sync.Meter().Add(12000000);
    window.showMinimized();
    status.Refresh();
    EXPECT_FALSE(line.isHidden());
    EXPECT_EQ(line.text(), QStringLiteral("12 MB of 80 MB copied"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("15% — 12 MB of 80 MB copied — Pelorin"));
    window.showNormal();
    status.Refresh();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pelorin"));
    status.End();
    EXPECT_TRUE(line.isHidden());
}

TEST(WindowExtras, TheEndOfARunClearsItsProgress)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha"});
    const QString title = window.windowTitle();
    EXPECT_EQ(gui.RunSync(), 0);
    EXPECT_TRUE(window.TransferLine()->isHidden());
    EXPECT_EQ(window.windowTitle(), title);
}

} // namespace
