#include "GuiHarness.h"

#include "app/ActionTableModel.h"

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
