// pelorin-gui: the window. With --screenshot FILE it renders itself offscreen over a
// demonstration iPod and folder of songs, saves the picture and quits.

#include "app/Demonstration.h"
#include "app/SyncWnd.h"

#include "ACommon/sync/RunController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDockWidget>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Waits, with the event loop running, until `done` holds or `milliseconds` have passed.
template <typename Done> bool RunUntil(Done done, int milliseconds)
{
    QEventLoop loop;
    QTimer poll;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(20);
    limit.start(milliseconds);
    if (!done())
        loop.exec();
    return done();
}

// The window's size when it opens.
const QSize kStartingSize(900, 460);

int Screenshot(const QString& file, const QString& drawer)
{
    Demonstration demo;
    QString problem;
    if (!demo.Make(&problem)) {
        std::fprintf(stderr, "pelorin-gui: cannot make the demonstration: %s\n",
                     problem.toLocal8Bit().constData());
        return 1;
    }
    SyncWnd window({demo.Volumes(), QString()});
    // The window as it starts; a drawer that needs more room makes it grow, as it does in use.
    window.resize(kStartingSize);
    window.show();
    if (drawer == QLatin1String("settings"))
        window.ui.SettingsDrawer->show();
    else if (drawer == QLatin1String("log"))
        window.ui.StatusDrawer->show();
    else if (drawer == QLatin1String("actions")) {
        window.SyncButton();
        RunUntil([&] { return window.ui.ActionsDrawer->isVisible() || !window.IsRunning(); }, 20000);
    }
    RunUntil([] { return false; }, 200);
    const bool saved = window.grab().save(file);
    if (window.IsRunning()) {
        window.CancelButton();
        RunUntil([&] { return !window.IsRunning(); }, 20000);
    }
    if (!saved) {
        std::fprintf(stderr, "pelorin-gui: cannot write %s\n", file.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // A screenshot, the help and the version need no display.
    for (int i = 1; i < argc; ++i)
        for (const char* headless : {"--screenshot", "--help", "-h", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], headless) == 0 && !std::getenv("QT_QPA_PLATFORM"))
                setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelorin"));
    QApplication::setApplicationVersion(QStringLiteral(PELORIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("pelorin-gui"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Pelorin keeps the music on a classic iPod and your music library (or a folder of songs) in step.\n"
        "Choose the library or a folder on the left, the iPod on the right (iPods are looked for under "
        "$PELORIN_VOLUMES, else /Volumes, /media/$USER or /run/media/$USER), the sync type, and press "
        "Sync. The settings are kept per iPod, in the same state file `pelorin sync` uses.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Render the window over a demonstration iPod and folder of songs "
                       "(made in a temporary folder) into FILE (PNG), then quit."),
        QStringLiteral("FILE"));
    QCommandLineOption drawer(
        QStringLiteral("drawer"),
        QStringLiteral("With --screenshot: the drawer to show open: settings, actions or log."),
        QStringLiteral("NAME"));
    QCommandLineOption songs(
        QStringLiteral("songs"),
        QStringLiteral("A folder of songs on the left side instead of the music library."),
        QStringLiteral("FOLDER"));
    parser.addOptions({screenshot, drawer, songs});
    parser.process(app);

    if (parser.isSet(screenshot))
        return Screenshot(parser.value(screenshot), parser.value(drawer));

    SyncWnd window({QString(), parser.value(songs)});
    window.resize(kStartingSize);
    window.show();
    return app.exec();
}
