// The window as it is used week after week: what the user chose stays chosen, every run says how
// it ended, the iPod going away stops a run, and the review and the settings answer the keyboard
// and the mouse as people expect.

#include "GuiHarness.h"

#include "app/ActionTableModel.h"
#include "app/SongDropView.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/LibraryTools.h"
#include "APlatform/FileSystem.h"
#include "AUICommon/ExtendedTableView.h"
#include "AUICommon/QtNotificationBus.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

using guitest::Gui;
using guitest::HoldingBus;
using guitest::WaitFor;

void Choose(QComboBox* popUp, const QString& text)
{
    const int index = popUp->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    popUp->setCurrentIndex(index);
    emit popUp->activated(index);
}

QString LeftPlaylistOfTheSync(SyncWnd& window)
{
    const auto* tunes = dynamic_cast<const ADirTunes*>(window.Sync0()->GetDir1());
    return tunes ? QString::fromStdString(tunes->GetPlaylist().ToStdString()) : QString();
}

TEST(DailyUse, TheChosenPlaylistStaysAfterEveryKindOfRun)
{
    Gui gui;
    gui.AddIPod("IPOD", "Pocket");
    gui.AddLibrary({"Alpha", "Bravo"}, true);
    SyncWnd& window = gui.Open(true);
    Choose(window.ui.iTunesPlaylistPopUp, QStringLiteral("Road Trip"));
    const QString trip = QStringLiteral("Road Trip");

    // Cancelled at the review.
    ASSERT_TRUE(gui.Review());
    window.CancelSelectingActionsButton();
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_EQ(window.ui.iTunesPlaylistPopUp->currentText(), trip) << "cancelled";
    EXPECT_EQ(LeftPlaylistOfTheSync(window), trip) << "cancelled";

    // Completed, then with nothing left to do, with the "Last Sync" playlist off.
    window.ui.ShowActionsListCkBox->setChecked(false);
    window.ui.createLastPlaylist->setChecked(false);
    for (const char* kind : {"completed", "nothing to do"}) {
        EXPECT_EQ(gui.RunSync(), 0) << kind;
        EXPECT_EQ(window.ui.iTunesPlaylistPopUp->currentText(), trip) << kind;
        EXPECT_EQ(LeftPlaylistOfTheSync(window), trip) << kind;
    }
    EXPECT_EQ(fixtures::IPodTitles(gui.volumes + "/IPOD"), std::vector<std::string>{"Alpha"});
}

TEST(DailyUse, TheChosenPlaylistIsSavedWithTheIPodsSettings)
{
    Gui gui;
    gui.AddIPod("IPOD", "Pocket");
    gui.AddLibrary({"Alpha", "Bravo"}, true);
    Choose(gui.Open(true).ui.iTunesPlaylistPopUp, QStringLiteral("Road Trip"));
    ASSERT_EQ(gui.window->SaveIPodSync(), 0);
    SyncWnd& again = gui.Open(true);
    EXPECT_EQ(again.ui.iTunesPlaylistPopUp->currentText(), QStringLiteral("Road Trip"));
    EXPECT_EQ(LeftPlaylistOfTheSync(again), QStringLiteral("Road Trip"));
}

TEST(DailyUse, AnIPodUnpluggedDuringARunStopsItAtOnceOnEitherRoute)
{
    for (bool throughLibrary : {false, true}) {
        Gui gui;
        const std::string ipod = gui.AddIPod("IPOD", "Pocket");
        const std::vector<std::string> titles = {"Alpha", "Bravo", "Charlie", "Delta", "Echo"};
        if (throughLibrary)
            gui.AddLibrary(titles, true, "IPOD");
        else
            gui.AddSongs(titles);
        SyncWnd& window = gui.Open(throughLibrary);
        ASSERT_EQ(window.Sync0()->GetDir2()->GetType(), throughLibrary ? ADir::kTypeIPod : ADir::kTypeIPodDB);
        window.ui.ShowActionsListCkBox->setChecked(false);
        HoldingBus holding(window.Bus());

        QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
        ASSERT_TRUE(holding.WaitUntilHeld()) << throughLibrary;
        std::filesystem::rename(ipod, gui.tmp / "unplugged");
        holding.Release();
        ASSERT_TRUE(gui.WaitForRunEnd()) << throughLibrary;

        EXPECT_EQ(gui.LastResult(), kErrDisconnected) << throughLibrary;
        EXPECT_EQ(window.ui.SmallStatusTxt->text(),
                  QStringLiteral("The iPod was disconnected; 1 song was copied before that."))
            << throughLibrary;
        const QString log = window.ui.LogText->toPlainText();
        EXPECT_FALSE(log.contains(QStringLiteral("Action 3 of"))) << throughLibrary;
        // Nothing was written where the iPod was mounted.
        EXPECT_FALSE(std::filesystem::exists(ipod)) << throughLibrary;
    }
}

TEST(DailyUse, ACancelIsLoggedAsACancelInTheLogTheUserOpened)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo", "Charlie"});
    window.ui.OpenLogAutomaticallyCkBox->setChecked(true);
    QTest::mouseClick(window.ui.LogDlogButton, Qt::LeftButton);
    ASSERT_TRUE(window.ui.StatusDrawer->isVisible());
    HoldingBus holding(window.Bus());
    QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
    ASSERT_TRUE(holding.WaitUntilHeld());
    window.CancelButton();
    holding.Release();
    ASSERT_TRUE(gui.WaitForRunEnd());

    EXPECT_EQ(gui.LastResult(), kErrUserCancel);
    EXPECT_TRUE(window.ui.StatusDrawer->isVisible());
    const QString log = window.ui.LogText->toPlainText();
    EXPECT_FALSE(log.contains(QStringLiteral("Error Sync'ing!"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Sync completed."))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Sync cancelled."))) << log.toStdString();
}

// Turns the wheel one notch down over `widget`.
void WheelDown(QWidget* widget)
{
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

TEST(DailyUse, TheWheelChangesASettingOnlyWhenItsControlHasTheFocus)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha"});
    window.ui.SettingsDrawer->show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QComboBox* genre = window.ui.filterPopUps[0];
    ASSERT_EQ(genre->currentIndex(), 0);

    WheelDown(genre);
    EXPECT_EQ(genre->currentIndex(), 0);
    EXPECT_EQ(static_cast<ASyncLib*>(window.Sync0())->GetGenreFilterMode(), 0);

    genre->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(WaitFor([&] { return genre->hasFocus(); }));
    WheelDown(genre);
    EXPECT_EQ(genre->currentIndex(), 1);
}

QString Cell(SyncWnd& window, int row, int column, int role = Qt::DisplayRole)
{
    return window.ActionsModel()->index(row, column).data(role).toString();
}

// Opens the review of a sync that copies `titles` onto the iPod and deletes "Gone" from it.
SyncWnd& OpenReview(Gui& gui, const std::vector<std::string>& titles)
{
    SyncWnd& window = gui.OpenOnPocket({"Gone"});
    EXPECT_EQ(gui.RunSync(), 0);
    std::filesystem::remove_all(gui.songs);
    gui.AddSongs(titles);
    window.SyncTypeMenu(1); // make the iPod equal: "Gone" goes
    window.ui.ShowActionsListCkBox->setChecked(true);
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
    EXPECT_TRUE(gui.WaitForReview());
    return window;
}

TEST(DailyUse, TheReviewNamesEachActionPlainly)
{
    Gui gui;
    SyncWnd& window = OpenReview(gui, {"Nocturne", "Étude"});
    ActionTableModel* model = window.ActionsModel();
    ASSERT_EQ(model->rowCount(), 3);
    window.ui.ActionsTableView->sortByColumn(ActionTableModel::kSource, Qt::AscendingOrder);

    struct Row {
        const char* action;
        const char* source;
        const char* destination;
    };
    const Row expected[] = {{"Copy to iPod", "Étude", "Pocket"},
                            {"Delete from iPod", "Gone", "Pocket"},
                            {"Copy to iPod", "Nocturne", "Pocket"}};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(window, row, ActionTableModel::kAction), QString::fromUtf8(expected[row].action))
            << row;
        EXPECT_TRUE(
            Cell(window, row, ActionTableModel::kSource).contains(QString::fromUtf8(expected[row].source)))
            << row << ' ' << Cell(window, row, ActionTableModel::kSource).toStdString();
        EXPECT_TRUE(Cell(window, row, ActionTableModel::kDestination)
                        .contains(QString::fromUtf8(expected[row].destination)))
            << row << ' ' << Cell(window, row, ActionTableModel::kDestination).toStdString();
        EXPECT_TRUE(Cell(window, row, ActionTableModel::kSize).endsWith(QStringLiteral(" kB"))) << row;
    }
    window.CancelSelectingActionsButton();
    ASSERT_TRUE(gui.WaitForRunEnd());
}

TEST(DailyUse, TheReviewShowsTheTotalsOfTheTickedActionsAboveAtLeastEightRows)
{
    Gui gui;
    platform::OverrideFreeSpaceForTesting(5'000'000'000ULL);
    SyncWnd& window = OpenReview(gui, {"Alpha", "Bravo"});
    platform::OverrideFreeSpaceForTesting(UINT64_MAX);
    const QString totals = window.ui.ActionsTotals->text();
    EXPECT_TRUE(totals.startsWith(QStringLiteral("2 songs to copy, "))) << totals.toStdString();
    EXPECT_TRUE(totals.contains(QStringLiteral("; 1 to delete; space after the sync: 5000 MB free on iPod")))
        << totals.toStdString();
    EXPECT_TRUE(window.ui.ActionsTotals->isVisible());
    EXPECT_LT(window.ui.ActionsTotals->y(), window.ui.ActionsTableView->y());

    // The panel does not stand still under "Preparing action list..." meanwhile.
    EXPECT_EQ(window.ui.LargeStatusTxt->text(), totals);
    EXPECT_FALSE(window.ui.ProgressBar->isVisible());

    window.ActionsModel()->SetAllActive(false);
    EXPECT_TRUE(
        window.ui.ActionsTotals->text().startsWith(QStringLiteral("0 songs to copy, 0 bytes; 0 to delete")))
        << window.ui.ActionsTotals->text().toStdString();

    QTest::qWait(50);
    const int rowHeight = window.ui.ActionsTableView->verticalHeader()->defaultSectionSize();
    EXPECT_GE(window.ui.ActionsTableView->viewport()->height(), SyncWnd::kReviewRows * rowHeight);
    window.CancelSelectingActionsButton();
    ASSERT_TRUE(gui.WaitForRunEnd());
}

TEST(DailyUse, TheReviewTableTakesTheKeysOfAList)
{
    Gui gui;
    SyncWnd& window = OpenReview(gui, {"Alpha", "Bravo"});
    ExtendedTableView* table = window.ui.ActionsTableView;
    table->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(WaitFor([&] { return table->hasFocus(); }));
    table->setCurrentIndex(window.ActionsModel()->index(1, ActionTableModel::kDestination));
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(Cell(window, 1, ActionTableModel::kActive, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    EXPECT_EQ(window.ui.ActionsTextInfo->text(), QStringLiteral("3 Actions, 2 Active"));

    QTest::keyClick(table, Qt::Key_Tab);
    EXPECT_FALSE(table->hasFocus());
    window.CancelSelectingActionsButton();
    ASSERT_TRUE(gui.WaitForRunEnd());
}

// The review is answered from the keyboard, or by either Cancel button; a cancel performs nothing.
TEST(DailyUse, TheReviewIsAnsweredFromTheKeyboardOrTheButtons)
{
    using Press = std::function<void(SyncWnd&)>;
    const auto key = [](Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) -> Press {
        return [=](SyncWnd& window) { QTest::keyClick(window.ui.ActionsTableView, k, modifiers); };
    };
    const auto click = [](QPushButton* SyncWnd::Controls::*button) -> Press {
        return [=](SyncWnd& window) { QTest::mouseClick(window.ui.*button, Qt::LeftButton); };
    };
    const std::pair<const char*, Press> answers[] = {
        {"Return", key(Qt::Key_Return)},
        {"Escape", key(Qt::Key_Escape)},
        {"Alt+P", key(Qt::Key_P, Qt::AltModifier)},
        {"Alt+C", key(Qt::Key_C, Qt::AltModifier)},
        {"Cancel", click(&SyncWnd::Controls::CancelButton)},
        {"the drawer's Cancel", click(&SyncWnd::Controls::CancelSelectingActions)}};
    for (const auto& [name, press] : answers) {
        SCOPED_TRACE(name);
        Gui gui;
        SyncWnd& window = OpenReview(gui, {"Alpha"});
        window.ui.ActionsTableView->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(WaitFor([&] { return window.ui.ActionsTableView->hasFocus(); }));
        press(window);
        ASSERT_TRUE(gui.WaitForRunEnd());
        const bool performed = name == std::string("Return") || name == std::string("Alt+P");
        EXPECT_EQ(gui.LastResult(), performed ? 0 : kErrUserCancel);
        EXPECT_EQ(fixtures::IPodTitles(gui.ipod),
                  performed ? std::vector<std::string>{"Alpha"} : std::vector<std::string>{"Gone"});
        EXPECT_EQ(window.ui.SmallStatusTxt->text().startsWith(QStringLiteral("Cancelled. ")), !performed);
    }
}

TEST(DailyUse, RemovingMusicNotOwnedRefusesWithoutAStoreAccount)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo"});
    QSignalSpy ended(&window, &SyncWnd::RunEnded);
    window.RunTool(LibraryTools::Tool::kNotOwned, SongDropView::kLeft);
    EXPECT_FALSE(window.IsRunning());
    EXPECT_TRUE(
        window.ui.SmallStatusTxt->text().startsWith(QString::fromLatin1(LibraryTools::kNoAccountKnown)))
        << window.ui.SmallStatusTxt->text().toStdString();

    AString account("me@example.com");
    static_cast<ASyncLib*>(window.Sync0())->SetAppleIDs(&account);
    window.RunTool(LibraryTools::Tool::kNotOwned, SongDropView::kLeft);
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(fixtures::ListFiles(gui.songs).size(), 2u);
}

TEST(DailyUse, AToolsResultKeepsItsCounts)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket();
    const std::string song = gui.tmp / "drop/Charlie.mp3";
    samples::WriteSong(song, fixtures::SongSpecOf("Charlie", 77));
    fixtures::WriteFile(gui.tmp / "drop/notes.txt", "not a song");
    window.AddMusicFiles(SongDropView::kRight, {QString::fromStdString(gui.tmp / "drop")});
    ASSERT_TRUE(gui.WaitForRunEnd());
    const QString text = window.ui.SmallStatusTxt->text();
    EXPECT_TRUE(text.contains(QStringLiteral("1 added"))) << text.toStdString();
    EXPECT_NE(text, QStringLiteral("All files added.")) << text.toStdString();
}

TEST(DailyUse, AToolsQuestionSaysWhichSongItMeans)
{
    struct Case {
        LibraryTools::Tool tool;
        int side;
        const char* expected; // in the question's text, after the song's name
    };
    for (auto [tool, side, expected] :
         {Case{LibraryTools::Tool::kOrphans, SongDropView::kRight, ""},
          {LibraryTools::Tool::kDuplicates, SongDropView::kLeft, "The copy kept: "}}) {
        Gui gui;
        SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo"});
        ASSERT_EQ(gui.RunSync(), 0);
        const std::string song = gui.songs + "/Artist/Album/Alpha.mp3";
        if (tool == LibraryTools::Tool::kOrphans)
            std::filesystem::remove(gui.ipod + fixtures::IPodTracks(gui.ipod).at("Alpha").path);
        else
            std::filesystem::copy_file(song, gui.songs + "/Artist/Album/Alpha 1.mp3");
        gui.questions.SetDefaultAnswer("No");
        window.RunTool(tool, side);
        ASSERT_TRUE(gui.WaitForRunEnd());
        ASSERT_EQ(gui.questions.Asked().size(), 1u) << int(tool);
        const std::string text = gui.questions.Asked()[0].informative;
        EXPECT_EQ(text.rfind("Delete Alpha \u2014 Artist (", 0), 0u) << text;
        EXPECT_EQ(text.find("?"), std::string::npos) << text;
        EXPECT_NE(text.find(expected), std::string::npos) << text;
    }
}

TEST(DailyUse, EachActionLineShowsOnce)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo", "Charlie"});
    // The left side shows its song count.
    EXPECT_TRUE(window.ui.iTunesTextLabel->text().endsWith(QStringLiteral("\n3 songs")))
        << window.ui.iTunesTextLabel->text().toStdString();
    HoldingBus holding(window.Bus());
    QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
    ASSERT_TRUE(holding.WaitUntilHeld());
    QTest::qWait(50);
    const QString message = window.ui.SmallStatusTxt->text();
    const QString detail = window.ui.LargeStatusTxt->text();
    holding.Release();
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_TRUE(message.startsWith(QStringLiteral("Action 1 of 3"))) << message.toStdString();
    EXPECT_NE(detail, message);
}

TEST(DailyUse, TheWindowSaysWhichIPodItShowsWhenOneGoes)
{
    Gui gui;
    const std::string pocket = gui.AddIPod("IPOD", "Pocket");
    gui.AddIPod("OTHER", "Other");
    gui.AddSongs({"Alpha"});
    SyncWnd& window = gui.Open();
    window.ui.ShowActionsListCkBox->setChecked(false);
    Choose(window.ui.iPodPopUp, QStringLiteral("Pocket"));
    EXPECT_EQ(gui.RunSync(), 0);

    // Another iPod chosen: the last run's line was about Pocket.
    Choose(window.ui.iPodPopUp, QStringLiteral("Other"));
    EXPECT_EQ(window.ui.SmallStatusTxt->text(), QString());
    Choose(window.ui.iPodPopUp, QStringLiteral("Pocket"));

    std::filesystem::remove_all(pocket);
    ASSERT_TRUE(WaitFor([&] { return window.IPods().size() == 1; }));
    EXPECT_EQ(window.ui.SmallStatusTxt->text(),
              QStringLiteral("Pocket was disconnected; showing Other now."));
}

} // namespace
