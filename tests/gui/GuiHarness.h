#pragma once
// The window under test: a temporary volumes folder with iPods, a folder of songs on the left, the
// state files kept in the temporary folder, scripted questions, and waiting for the window with
// its event loop running (never a sleep).

#include "app/SyncWnd.h"

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/Recorders.h"
#include "fixtures/TempDir.h"

#include "APlatform/BinarySemaphore.h"
#include "APlatform/Frontend.h"

#include <QApplication>
#include <QTest>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace guitest {

// The one application object of the test program.
QApplication& App();

// Waits with the event loop running until `done` holds (at most a generous limit).
template <typename Done> bool WaitFor(Done done) { return QTest::qWaitFor(done, 30000); }

// Holds the run at a log line (by default its second action's) until the test lets it go on; it
// stands in for the window's bus while it lives.
class HoldingBus : public platform::NotificationBus {
public:
    explicit HoldingBus(platform::NotificationBus* passedOn, std::string heldAt = "Action 2 of")
        : inner(passedOn), at(std::move(heldAt))
    {
        gate.Take();
        platform::SetNotificationBus(this);
    }
    ~HoldingBus() override
    {
        Release();
        platform::SetNotificationBus(inner);
    }
    void Post(const std::string& name, const std::string& text) override
    {
        if (name == "LogUpdate" && text.find(at) != std::string::npos && !held.exchange(true)) {
            holding.store(true);
            gate.Take();
            holding.store(false);
        }
        inner->Post(name, text);
    }
    bool WaitUntilHeld()
    {
        return WaitFor([this] { return holding.load(); });
    }
    void Release()
    {
        if (!released.exchange(true))
            gate.Release();
    }

private:
    platform::NotificationBus* inner;
    std::string at;
    platform::BinarySemaphore gate;
    std::atomic<bool> held{false}, holding{false}, released{false};
};

class Gui {
public:
    Gui();
    ~Gui();

    // An iPod called `name` on the volume `volume`; its mount point.
    std::string AddIPod(const std::string& volume, const std::string& name,
                        const std::string& model = "MA147");
    // Songs titled `titles` in the left folder (genre "Rock" unless given).
    void AddSongs(const std::vector<std::string>& titles, const std::string& genre = "Rock");
    // A music library holding `titles` (added to the left folder first); with `trip` a playlist
    // "Road Trip" holds the first of them; with `attach` the library serves that iPod volume.
    void AddLibrary(const std::vector<std::string>& titles, bool trip = false,
                    const std::string& attach = "");
    // Opens the window (again), with the scripted questions installed; the left side is the song
    // folder, or with `library` the music library (when there is one).
    SyncWnd& Open(bool library = false);
    // An iPod "Pocket" on the volume IPOD (its mount point in `ipod`), `titles` in the left folder, and
    // the window opened on them with the review off.
    SyncWnd& OpenOnPocket(const std::vector<std::string>& titles = {});
    // Presses Sync with the review on and waits for the actions to be shown.
    bool Review();
    // Presses Sync and waits for the run to end (or, with `review`, for its actions to be shown).
    int RunSync();
    bool WaitForReview();
    bool WaitForRunEnd();
    int LastResult() const { return lastResult; }

    fixtures::TempDir tmp;
    std::string volumes;
    std::string songs;
    std::string ipod;
    platform::ScriptedQuestions questions;
    std::unique_ptr<SyncWnd> window;

private:
    int lastResult = 0;
    int seed = 1;
};

} // namespace guitest

// Texts in failure messages read as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
