#include "GuiHarness.h"

#include "app/ActionTableModel.h"
#include "musiclib/MusicLibrary.h"

#include <QCheckBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace guitest {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    // Run by hand, the tests need no display either.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

Gui::Gui() : volumes(tmp / "Volumes"), songs(tmp / "Songs")
{
    App();
    setenv("PELORIN_VOLUMES", volumes.c_str(), 1);
    setenv("XDG_DATA_HOME", (tmp / "data").c_str(), 1);
    setenv("HOME", (tmp / "home").c_str(), 1);
    setenv("PELORIN_LIBRARY", (tmp / "Library").c_str(), 1);
    std::filesystem::create_directories(songs);
    std::filesystem::create_directories(volumes);
}

Gui::~Gui()
{
    window.reset();
    platform::SetQuestionInterface(nullptr);
}

std::string Gui::AddIPod(const std::string& volume, const std::string& name, const std::string& model)
{
    samples::IPodOptions options;
    options.name = name;
    options.modelNumStr = model;
    options.firewireGuid = "0x000A27001" + std::to_string(1000000 + seed++);
    return samples::MakeIPod(volumes, volume, options);
}

void Gui::AddSongs(const std::vector<std::string>& titles, const std::string& genre)
{
    for (const std::string& title : titles) {
        samples::SongSpec song = fixtures::SongSpecOf(title, static_cast<std::uint32_t>(seed++));
        song.genre = genre;
        samples::WriteSong(songs + "/Artist/Album/" + title + ".mp3", song);
    }
}

void Gui::AddLibrary(const std::vector<std::string>& titles, bool trip, const std::string& attach)
{
    AddSongs(titles);
    std::unique_ptr<MusicLibrary> library;
    std::string error;
    ASSERT_EQ(MusicLibrary::Open(tmp / "Library", true, library, error), 0) << error;
    PlaylistInfo whole, roadTrip;
    ASSERT_EQ(library->Library().GetLibraryPlaylist(whole), 0);
    if (trip) {
        ASSERT_EQ(library->Library().MakePlaylist("Road Trip", roadTrip), 0);
    }
    for (const std::string& title : titles) {
        std::uint32_t id = 0;
        ASSERT_EQ(library->Library().AddFile(songs + "/Artist/Album/" + title + ".mp3", whole.id, id), 0);
        if (trip && title == titles.front()) {
            ASSERT_EQ(library->Library().AddToPlaylist(id, roadTrip.id), 0);
        }
    }
    if (!attach.empty()) {
        ASSERT_EQ(library->AttachIPod(attach, error), 0) << error;
    }
}

SyncWnd& Gui::Open(bool library)
{
    window.reset();
    window = std::make_unique<SyncWnd>(SyncWnd::Options{QString::fromStdString(volumes),
                                                        library ? QString() : QString::fromStdString(songs)});
    platform::SetQuestionInterface(&questions);
    QObject::connect(window.get(), &SyncWnd::RunEnded, [this](int result) { lastResult = result; });
    window->resize(900, 700);
    window->show();
    return *window;
}

SyncWnd& Gui::OpenOnPocket(const std::vector<std::string>& titles)
{
    ipod = AddIPod("IPOD", "Pocket");
    AddSongs(titles);
    Open();
    window->ui.ShowActionsListCkBox->setChecked(false);
    return *window;
}

bool Gui::Review()
{
    window->ui.ShowActionsListCkBox->setChecked(true);
    QTest::mouseClick(window->ui.SyncButton, Qt::LeftButton);
    return WaitForReview();
}

bool Gui::WaitForReview()
{
    return WaitFor([this] { return window->ActionsModel()->rowCount() > 0 || !window->IsRunning(); }) &&
           window->ActionsModel()->rowCount() > 0;
}

bool Gui::WaitForRunEnd()
{
    return WaitFor([this] { return !window->IsRunning() && !RunController::IsBusy(); });
}

int Gui::RunSync()
{
    lastResult = -1;
    QTest::mouseClick(window->ui.SyncButton, Qt::LeftButton);
    EXPECT_TRUE(WaitForRunEnd());
    return lastResult;
}

} // namespace guitest

// The font configuration library keeps a cache for the life of the process, which the leak checker
// of the sanitizer builds would report when the program ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
