// The window's log tells what a run brought back from the iPod.

#include "GuiHarness.h"

#include <QCheckBox>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

TEST(PlaysLog, TheLogSaysWhatARunBroughtBackFromTheIPod)
{
    guitest::Gui gui;
    const std::string ipod = gui.AddIPod("IPOD", "Pocket");
    gui.AddLibrary({"Alpha"}, false, "IPOD");
    SyncWnd& window = gui.Open(true);
    window.ui.ShowActionsListCkBox->setChecked(false);
    ASSERT_EQ(gui.RunSync(), 0);
    fixtures::WriteFile(ipod + "/iPod_Control/iTunes/Play Counts",
                        fixtures::itdb::PlayCounts(0x1C, {{3, 3880000000u}}));
    ASSERT_EQ(gui.RunSync(), 0);
    const QString log = window.ui.LogText->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Brought back 3 plays and 0 ratings from Pocket")))
        << log.toStdString();
}

} // namespace
