#include "GuiHarness.h"

#include "ACommon/base/ListString.h"
#include "app/ActionTableModel.h"
#include "app/DropChecks.h"
#include "app/MenuBar.h"
#include "app/SongDropView.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/LibraryTools.h"
#include "APlatform/BinarySemaphore.h"
#include "AUICommon/DetectVolume.h"
#include "AUICommon/QtNotificationBus.h"
#include "AUICommon/RoundedRect.h"
#include "AUICommon/WidgetSinks.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTextCursor>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

namespace {

using guitest::Gui;
using guitest::HoldingBus;
using guitest::WaitFor;

std::vector<std::string> Titles(const std::string& ipod) { return fixtures::IPodTitles(ipod); }

TEST(SyncWnd, TheChosenSyncSettingsComeBackFromTheIPodsStateFile)
{
    Gui gui;
    gui.AddIPod("IPOD", "Pocket");
    SyncWnd& window = gui.Open();

    struct Case {
        int index, autoAction, destDeletes;
    };
    for (auto [index, autoAction, destDeletes] :
         {Case{0, 1, 0}, {1, 1, 1}, {2, 2, 0}, {3, 2, 1}, {4, 3, 0}, {5, 3, 1}}) {
        window.ui.SyncTypePopUp->setCurrentIndex(index);
        emit window.ui.SyncTypePopUp->activated(index);
        EXPECT_EQ(window.Sync0()->GetAutoAction(), autoAction) << index;
        EXPECT_EQ(window.Sync0()->GetDestDeletes(), destDeletes) << index;
        EXPECT_EQ(window.ui.wDeletesCkBox->isChecked(), destDeletes != 0) << index;
    }

    // Copy to the iPod, leaving out the genre "Rock", without a review (the filter's effect on the
    // songs is checked on the sources: LibrarySongSources.AFilterKeepsTheSameSongsOnEverySide).
    window.SyncTypeMenu(0);
    window.ui.ShowActionsListCkBox->setChecked(false);
    window.ui.filterPopUps[0]->setCurrentIndex(2);
    emit window.ui.filterPopUps[0]->activated(2);
    EXPECT_TRUE(window.ui.genreRelevantOnDupSongCompareCkBox->isChecked());
    window.ui.filterTabView->setCurrentIndex(0);
    QListWidget* genres = window.ui.filterLists[0];
    QTest::mouseClick(window.ui.filterTabView->currentWidget()->findChildren<QPushButton*>().at(0),
                      Qt::LeftButton);
    ASSERT_EQ(genres->count(), 1);
    genres->item(0)->setText(QStringLiteral("Rock"));
    EXPECT_EQ(static_cast<ASyncLib*>(window.Sync0())->GetGenreExcludeFilter()->ToStdString(), ":Rock:");

    // A new window shows the settings saved in the iPod's state file, the conversion's too.
    window.SyncTypeMenu(5);
    window.ui.aacKbpsField->setValue(128);
    window.ui.alwaysAACCkBox->setChecked(true);
    ASSERT_EQ(window.SaveIPodSync(), 0);
    SyncWnd& again = gui.Open();
    EXPECT_EQ(again.ui.SyncTypePopUp->currentIndex(), 5);
    EXPECT_EQ(again.ui.filterPopUps[0]->currentIndex(), 2);
    EXPECT_EQ(again.ui.filterLists[0]->count(), 1);
    EXPECT_FALSE(again.ui.ShowActionsListCkBox->isChecked());
    EXPECT_EQ(again.ui.aacKbpsField->value(), 128);
    EXPECT_TRUE(again.ui.alwaysAACCkBox->isChecked());
    EXPECT_EQ(static_cast<ASyncLib*>(again.Sync0())->GetConversionSettings().aacKbps, 128);
}

TEST(SyncWnd, ReviewPerformsTheTickedActionsOnlyWhateverTheSortOrder)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo", "Charlie", "Delta"});
    ASSERT_TRUE(gui.Review());
    ActionTableModel* model = window.ActionsModel();
    EXPECT_EQ(window.ui.ActionsTextInfo->text(), QStringLiteral("4 Actions"));
    // Sorted by source, last first: the first row is Delta.
    model->sort(ActionTableModel::kSource, Qt::DescendingOrder);
    ASSERT_TRUE(
        model->index(0, ActionTableModel::kSource).data().toString().contains(QStringLiteral("Delta")));
    model->setData(model->index(0, ActionTableModel::kActive), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_EQ(window.ui.ActionsTextInfo->text(), QStringLiteral("4 Actions, 3 Active"));

    // Sync pressed again while the actions wait hands them over, as Perform does.
    QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_EQ(gui.LastResult(), 0);
    EXPECT_EQ(Titles(gui.ipod), (std::vector<std::string>{"Alpha", "Bravo", "Charlie"}));
}

TEST(SyncWnd, CancelDuringACopyEndsTheRunBeforeTheWindowQuits)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot"});
    HoldingBus holding(window.Bus());

    QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
    ASSERT_TRUE(holding.WaitUntilHeld());
    EXPECT_FALSE(window.Quit());
    EXPECT_EQ(gui.questions.Informed(), std::vector<std::string>{SyncWnd::kQuitDuringRun});
    QTest::mouseClick(window.ui.CancelButton, Qt::LeftButton);
    holding.Release();
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_EQ(gui.LastResult(), kErrUserCancel);
    EXPECT_LE(Titles(gui.ipod).size(), 2u);
}

TEST(SyncWnd, OnlyTheSyncedIPodGoingAwayCancelsTheRun)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo"});
    window.ui.ShowActionsListCkBox->setChecked(true);
    QSignalSpy mounted(window.Detector(), &DetectVolume::VolumeMounted);
    QSignalSpy unmounted(window.Detector(), &DetectVolume::VolumeUnMounted);

    QTest::mouseClick(window.ui.SyncButton, Qt::LeftButton);
    ASSERT_TRUE(gui.WaitForReview());
    gui.AddIPod("OTHER", "Other");
    ASSERT_TRUE(WaitFor([&] { return mounted.count() == 1; }));
    EXPECT_TRUE(window.Controller().IsWaitingForReview());

    std::filesystem::remove_all(gui.ipod);
    ASSERT_TRUE(WaitFor([&] { return unmounted.count() == 1; }));
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_EQ(gui.LastResult(), kErrDisconnected);
    ASSERT_EQ(window.IPods().size(), 1u);
    EXPECT_EQ(window.ui.iPodPopUp->currentText(), QStringLiteral("Other"));
    EXPECT_EQ(window.StatePath().toStdString(), gui.tmp / "data/Veltrano/Ondrivel/Other_PODDB.snc");
}

TEST(SyncWnd, TheLibraryOnTheLeftShowsItsChosenPlaylist)
{
    Gui gui;
    gui.AddIPod("IPOD", "Pocket");
    gui.AddLibrary({"Alpha", "Bravo"});
    SyncWnd& window = gui.Open(true);
    EXPECT_TRUE(window.LeftIsLibrary());
    EXPECT_EQ(window.ui.LeftSourcePopUp->currentText(), QStringLiteral("Library"));
    EXPECT_EQ(window.ui.iTunesPlaylistPopUp->itemText(0), QStringLiteral("Library"));
    EXPECT_EQ(window.ui.iTunesTextLabel->text(), QStringLiteral("Library\n2 songs"));
    // A new playlist is chosen at once; being empty, it does not look like the whole library.
    ASSERT_EQ(window.AddPlaylist(SongDropView::kLeft, QStringLiteral("Road Trip")), 0);
    EXPECT_EQ(window.ui.iTunesPlaylistPopUp->currentText(), QStringLiteral("Road Trip"));
    EXPECT_EQ(window.ui.iTunesTextLabel->text(), QStringLiteral("Road Trip\n0 songs"));
    // One named as it in another case chooses it.
    const int playlists = window.ui.iTunesPlaylistPopUp->count();
    window.ui.iTunesPlaylistPopUp->setCurrentIndex(0);
    EXPECT_EQ(window.AddPlaylist(SongDropView::kLeft, QStringLiteral("road TRIP")), 0);
    EXPECT_EQ(window.ui.iTunesPlaylistPopUp->count(), playlists);
    EXPECT_EQ(window.ui.iTunesPlaylistPopUp->currentText(), QStringLiteral("Road Trip"));
    EXPECT_TRUE(window.ui.SmallStatusTxt->text().contains(QStringLiteral("exists already")));
}

TEST(SyncWnd, OnlyAnIPodTheLibraryServesByItsWholeNameIsReachedThroughIt)
{
    Gui gui;
    gui.AddIPod("JANE", "Jane's iPod");
    gui.AddIPod("PLAIN", "iPod");
    gui.AddLibrary({}, false, "JANE");
    SyncWnd& window = gui.Open(true);
    struct Case {
        const char* ipod;
        const char* state;
        bool playlists;
    };
    for (auto [ipod, state, playlists] :
         {Case{"Jane's iPod", "Jane's iPod.snc", true}, {"iPod", "iPod_PODDB.snc", false}}) {
        const int index = window.ui.iPodPopUp->findText(QString::fromUtf8(ipod));
        ASSERT_GE(index, 0) << ipod;
        window.ui.iPodPopUp->setCurrentIndex(index);
        emit window.ui.iPodPopUp->activated(index);
        EXPECT_EQ(window.StatePath().toStdString(),
                  gui.tmp / (std::string("data/Veltrano/Ondrivel/") + state));
        EXPECT_EQ(window.ui.iPodPlaylistPopUp->isEnabled(), playlists) << ipod;
    }
}

TEST(SyncWnd, AnIPodSetToSyncOnMountSyncsWhenItComesBack)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha"});
    window.ui.AutoRunOnVolMountCkBox->setChecked(true);
    ASSERT_EQ(window.SaveIPodSync(), 0);
    QSignalSpy ended(&window, &SyncWnd::RunEnded);

    // Unmounted, and mounted again under another volume name.
    std::filesystem::rename(gui.ipod, gui.volumes + "/IPOD 2");
    ASSERT_TRUE(WaitFor([&] { return ended.count() == 1; }));
    EXPECT_EQ(ended.at(0).at(0).toInt(), 0);
    EXPECT_EQ(Titles(gui.volumes + "/IPOD 2"), std::vector<std::string>{"Alpha"});
}

TEST(SyncWnd, TheChosenEntryDecidesWhereTheStateFileLives)
{
    Gui gui;
    gui.AddIPod("IPOD", "../../Jane/iPod");
    SyncWnd& window = gui.Open();
    ASSERT_EQ(window.SaveIPodSync(), 0);
    EXPECT_EQ(window.StatePath().toStdString(), gui.tmp / "data/Veltrano/Ondrivel/_._.._Jane_iPod_PODDB.snc");
    EXPECT_TRUE(fixtures::Exists(window.StatePath().toStdString()));

    // The same iPod mounted under another name next time: the sync goes to where it is now.
    std::filesystem::rename(gui.volumes + "/IPOD", gui.volumes + "/IPOD1");
    SyncWnd& again = gui.Open();
    ASSERT_NE(again.Session(), nullptr);
    EXPECT_EQ(again.Sync0()->GetDir2()->GetRootPath()->ToStdString(), gui.volumes + "/IPOD1/");
}

TEST(SyncWnd, AnIPodWithoutSysInfoIsAnUnknownModelLeftUntouched)
{
    Gui gui;
    const std::string ipod = gui.AddIPod("IPOD", "Pocket", "");
    const std::vector<std::string> before = fixtures::ListFiles(ipod);
    SyncWnd& window = gui.Open();
    EXPECT_TRUE(window.ui.iPodTextLabel->text().contains(QStringLiteral("unknown model")));
    EXPECT_EQ(fixtures::ListFiles(ipod), before);
}

// The iPod's panel shows the model and the signature; Sync explains why an iPod whose signature
// cannot be made is not synced, and nothing is written to it.
TEST(SyncWnd, TheIPodPanelExplainsWhyASyncIsRefused)
{
    Gui gui;
    const std::string ipod = gui.AddIPod("CLASSIC", "Big One", "MC293");
    const std::string sysInfo = ipod + "/iPod_Control/Device/SysInfo";
    fixtures::WriteFile(sysInfo, std::string("ModelNumStr: MC293\n")); // no GUID
    gui.AddSongs({"One"});
    const std::vector<std::string> before = fixtures::ListFiles(ipod);
    SyncWnd& window = gui.Open();
    const QString label = window.ui.iPodTextLabel->text();
    for (const char* part : {"iPod classic, 7th generation (MC293)", "Database signed with hash58",
                             "needs its FireWire GUID to sign its music database"})
        EXPECT_TRUE(label.contains(QString::fromLatin1(part))) << part << " in " << label.toStdString();
    window.ui.SyncButton->click();
    const std::vector<std::string> told = gui.questions.Informed();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("--write-identity CLASSIC"), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("Nothing was changed."), std::string::npos) << told[0];
    EXPECT_EQ(fixtures::ListFiles(ipod), before);
}

TEST(SyncWnd, ADropOfSeveralFilesAddsThemAllInOneRun)
{
    const std::vector<std::string> files = {"Artist/Album/One.mp3", "Artist/Album/Three.mp3",
                                            "Artist/Album/Two.mp3"};
    struct Case {
        const char* row;
        bool onIPod, library;
    };
    for (auto [row, onIPod, library] : {Case{"onto the iPod", true, false},
                                        {"onto the song folder", false, false},
                                        {"onto the library", false, true}}) {
        Gui gui;
        const std::string ipod = gui.AddIPod("IPOD", "Pocket");
        if (library)
            gui.AddLibrary({});
        SyncWnd& window = gui.Open(library);
        QList<QUrl> urls;
        for (const char* title : {"One", "Two", "Three"}) {
            const std::string path = gui.tmp / (std::string("drop/") + title + ".mp3");
            samples::WriteSong(path,
                               fixtures::SongSpecOf(title, static_cast<std::uint32_t>(urls.size() + 40)));
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        }
        QMimeData data;
        data.setUrls(urls);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QSignalSpy ended(&window, &SyncWnd::RunEnded);
        // Straight to the view: the application hands a drop only to the target of a real drag.
        QObject* view = onIPod ? static_cast<QObject*>(window.ui.iPodImage) : window.ui.iTunesImage;
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        view->event(&enter);
        EXPECT_TRUE(enter.isAccepted()) << row;
        view->event(&drop);
        ASSERT_TRUE(WaitFor([&] { return ended.count() == 1; })) << row;
        EXPECT_EQ(ended.at(0).at(0).toInt(), 0) << row;
        if (onIPod)
            EXPECT_EQ(Titles(ipod), (std::vector<std::string>{"One", "Three", "Two"}));
        else
            EXPECT_EQ(fixtures::ListFiles(library ? gui.tmp / "Library/iTunes Music" : gui.songs), files)
                << row;
    }
}

TEST(SyncWnd, ADragIsTakenForMusicFoundBrieflyWithoutFollowingLinks)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket();
    const std::string song = gui.tmp / "deep/a/b/c/Song.mp3";
    samples::WriteSong(song, fixtures::SongSpecOf("Song"));
    fixtures::WriteFile(gui.tmp / "text/notes.txt", std::string("x"));
    std::filesystem::create_directories(gui.tmp / "linked");
    std::filesystem::create_directory_symlink(gui.tmp / "deep", gui.tmp / "linked/deep");
    std::filesystem::create_directory_symlink(gui.tmp / "linked", gui.tmp / "linked/loop");
    struct Case {
        std::string path;
        bool taken;
    };
    for (const auto& [path, taken] : {Case{song, true},
                                      {gui.tmp / "deep", true},
                                      {gui.tmp / "text", false},
                                      {gui.tmp / "text/notes.txt", false},
                                      {gui.tmp / "linked", false}})
        EXPECT_EQ(window.AcceptsDrop(SongDropView::kRight, QString::fromStdString(path)), taken) << path;
    // A big folder is given up after a bounded look rather than walked on the GUI thread.
    for (int i = 0; i < 5; ++i)
        fixtures::WriteFile(gui.tmp / ("big/" + std::to_string(i) + ".txt"), std::string("x"));
    samples::WriteSong(gui.tmp / "big/zz/a/b/c/d/Song.mp3", fixtures::SongSpecOf("Song"));
    EXPECT_FALSE(drops::FolderHoldsMusicFile(*window.Sync0()->GetDir2(), gui.tmp / "big", 3));
    EXPECT_TRUE(drops::FolderHoldsMusicFile(*window.Sync0()->GetDir2(), gui.tmp / "big"));
}

TEST(SyncWnd, ToolsMenuFollowsWhatCanBeDoneNow)
{
    Gui gui;
    SyncWnd& window = gui.Open();
    MenuBar* menus = window.Menus();
    menus->UpdateEnabling();
    EXPECT_FALSE(menus->AddMusicFilesiPodMenuItem->isEnabled());
    EXPECT_TRUE(menus->SettingsMenuItem->isEnabled());
    // With no iPod Sync is off; pressed all the same, it says so in the panel and starts nothing.
    EXPECT_FALSE(window.ui.SyncButton->isEnabled());
    window.SyncButton();
    EXPECT_TRUE(gui.questions.Informed().empty());
    EXPECT_EQ(window.ui.SmallStatusTxt->text(), QString::fromLatin1(SyncWnd::kNoIPodAlert));
    EXPECT_FALSE(RunController::IsBusy());

    gui.AddIPod("IPOD", "Pocket");
    gui.AddSongs({"Alpha"});
    ASSERT_TRUE(WaitFor([&] { return window.SelectedIPod() != nullptr; }));
    menus->UpdateEnabling();
    for (QAction* item : {menus->AddMusicFilesiPodMenuItem, menus->AddMusicFilesiTunesMenuItem,
                          menus->RemoveDupsiPodMenuItem, menus->SettingsMenuItem})
        EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();

    ASSERT_TRUE(gui.Review());
    menus->UpdateEnabling();
    for (QAction* item : {menus->AddMusicFilesiPodMenuItem, menus->AddMusicFilesiTunesMenuItem,
                          menus->RemoveDupsiPodMenuItem, menus->SettingsMenuItem})
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    EXPECT_TRUE(menus->QuitMenuItem->isEnabled());
    // Quit while the actions wait cancels the run and closes the window once it has ended.
    EXPECT_FALSE(window.Quit());
    ASSERT_TRUE(gui.WaitForRunEnd());
    EXPECT_EQ(gui.LastResult(), kErrUserCancel);
    EXPECT_TRUE(WaitFor([&] { return !window.isVisible(); }));
}

// Each tool of the menu runs on its side, with the menu off while it runs. What each tool does to
// its side is checked on the tools (LibraryToolsTest, ToolCommand, ScanCommand).
TEST(SyncWnd, EachToolFromTheMenuRunsOnItsSide)
{
    using Tool = LibraryTools::Tool;
    using Side = LibraryTools::Side;
    using Item = QAction* MenuBar::*;
    struct Case {
        Tool tool;
        Item item;
        Side side;
    };
    const Case cases[] = {{Tool::kAddFiles, &MenuBar::AddMusicFilesiPodMenuItem, Side::kIPod},
                          {Tool::kDuplicates, &MenuBar::RemoveDupsiTunesMenuItem, Side::kLibrary},
                          {Tool::kOrphans, &MenuBar::RemoveOrphansiPodMenuItem, Side::kIPod},
                          {Tool::kDisconnected, &MenuBar::ScanforDisconnectediPodMenuItem, Side::kIPod},
                          {Tool::kAlbumArt, &MenuBar::AddAlbumArt2MusicFilesiTunesMenuItem, Side::kLibrary}};
    const Item every[] = {&MenuBar::SettingsMenuItem, &MenuBar::AddMusicFilesiTunesMenuItem,
                          &MenuBar::RemoveOrphansiPodMenuItem, &MenuBar::AddAlbumArt2MusicFilesiPodMenuItem};
    for (const Case& c : cases) {
        const std::string name = LibraryTools::TextsOf(c.tool).status;
        Gui gui;
        SyncWnd& window = gui.OpenOnPocket({"Alpha"});
        samples::WriteSong(gui.tmp / "drop/Charlie.mp3", fixtures::SongSpecOf("Charlie", 77));
        gui.questions.SetChosenFiles({gui.tmp / "drop/Charlie.mp3"});
        // The run is held at its first log line while the menu is looked at.
        MenuBar* menus = window.Menus();
        HoldingBus holding(window.Bus(), LibraryTools::TextsOf(c.tool).start);
        menus->UpdateEnabling(); // as the menu opens
        (menus->*c.item)->trigger();
        EXPECT_EQ(window.ui.SmallStatusTxt->text().toStdString(),
                  LibraryTools::StatusText(c.tool, c.side).ToStdString());
        ASSERT_TRUE(holding.WaitUntilHeld()) << name;
        menus->UpdateEnabling();
        for (Item item : every)
            EXPECT_FALSE((menus->*item)->isEnabled()) << name;
        holding.Release();
        ASSERT_TRUE(gui.WaitForRunEnd()) << name;
        menus->UpdateEnabling();
        for (Item item : every)
            EXPECT_TRUE((menus->*item)->isEnabled()) << name;
        EXPECT_EQ(gui.LastResult(), 0) << name;
        EXPECT_TRUE(window.ui.SmallStatusTxt->text().contains(QStringLiteral(" found"))) << name;
        if (c.tool == Tool::kAddFiles) {
            // A video iPod's chooser offers its video types too.
            EXPECT_EQ(gui.questions.OfferedTypes().back(), "ipg");
        }
    }
}

// The window stores an edited row as the command line stores a typed value: the same text gives the
// same list.
TEST(SettingsLists, AnEditedRowIsStoredAsTheItemsItHolds)
{
    struct Case {
        const char* row;
        const char* list;
        int index;
        const char* replacement;
        const char* want;
    };
    for (auto [row, list, index, replacement, want] :
         {Case{"the first item", "", 0, "new", ":new:"},
          {"an item past the end", ":new:", 1, "new", ":new:new:"},
          {"a row typed as two items", ":a:", 0, " a:b ", ":a:b:"},
          {"a name with a slash, kept", ":x:", 0, "AC/DC", ":AC/DC:"},
          {"the only item removed: no list", ":x:", 0, "", ""},
          {"one of two removed", ":x:y:", 0, "", ":y:"}})
        EXPECT_EQ(
            liststring::SetItem(AString::FromUTF8(list), index, AString::FromUTF8(replacement)).ToStdString(),
            want)
            << row;
}

TEST(SmallViews, LogAppendsAtTheEndWithoutMovingTheSelection)
{
    guitest::App();
    QPlainTextEdit log;
    log.setPlainText(QStringLiteral("first\nsecond\n"));
    QTextCursor selection(log.document());
    selection.setPosition(0);
    selection.setPosition(5, QTextCursor::KeepAnchor);
    log.setTextCursor(selection);
    TextLogView::AppendAtEnd(&log, QStringLiteral("third\n"));
    EXPECT_EQ(log.toPlainText(), QStringLiteral("first\nsecond\nthird\n"));
    EXPECT_EQ(log.textCursor().selectedText(), QStringLiteral("first"));
}

TEST(SmallViews, RoundedCornersFitTheRectangle)
{
    EXPECT_EQ(ClampedCornerRadius(QRectF(0, 0, 20, 8), 10), 4);
    EXPECT_TRUE(RoundedRectPath(QRectF(0, 0, 0, 8), 5).isEmpty());
    EXPECT_EQ(RoundedRectPath(QRectF(0, 0, 20, 8), 0).boundingRect(), QRectF(0, 0, 20, 8));
}

TEST(SyncWnd, ScreenshotsOfEachDrawer)
{
    Gui gui;
    SyncWnd& window = gui.OpenOnPocket({"Alpha", "Bravo", "Charlie"});
    std::filesystem::create_directories(PELORIN_SCREENSHOTS);
    auto shoot = [&](const char* name) {
        QTest::qWait(50);
        EXPECT_TRUE(
            window.grab().save(QStringLiteral(PELORIN_SCREENSHOTS "/%1.png").arg(QLatin1String(name))));
    };
    shoot("main");
    window.ui.SettingsDrawer->show();
    shoot("settings");
    window.ui.SettingsDrawer->hide();
    ASSERT_TRUE(gui.Review());
    shoot("actions");
    window.DoneSelectingActionsButton();
    ASSERT_TRUE(gui.WaitForRunEnd());
    window.ui.StatusDrawer->show();
    shoot("log");
}

} // namespace
