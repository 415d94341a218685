#pragma once
// The seams through which the core reaches whoever is watching: a window, a terminal or a test.
// All texts are UTF-8. The core calls these from the thread that runs the operation (often a worker
// thread); an implementation that drives widgets marshals the calls to its own thread, in order.

#include <string>
#include <vector>

namespace platform {

// One of the two status lines of the main window ("message" and "detail").
class StatusField {
public:
    virtual ~StatusField() = default;
    virtual void SetText(const std::string& text) = 0;
};

// The progress bar. Positions run from the range's minimum to its maximum (the core uses 0 to 1).
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetDeterminate(bool determinate) = 0;
    virtual void SetRange(double minimum, double maximum) = 0;
    virtual void SetValue(double value) = 0;
};

// The log view of the main window: receives the run log as it grows.
class LogView {
public:
    virtual ~LogView() = default;
    virtual void Append(const std::string& text) = 0;
};

// The notification bus: worker threads post a name with an optional text; the front end delivers
// them, in the order posted, on its own thread ("LogUpdate", "OpenLogDrawer", ...).
class NotificationBus {
public:
    virtual ~NotificationBus() = default;
    virtual void Post(const std::string& name, const std::string& text) = 0;
};

// Modal questions. The calling (worker) thread blocks until the user has answered.
class QuestionInterface {
public:
    virtual ~QuestionInterface() = default;
    // An alert with the message `title`, the informative text `informative` and the given buttons, the
    // first being the default. Returns the index of the button pressed.
    virtual int Ask(const std::string& title, const std::string& informative,
                    const std::vector<std::string>& buttons) = 0;
    // The check before a plan deletes most of one side (what an unmounted or emptied folder on the
    // other side looks like): true goes on with the run, false cancels it. A question of its own
    // kind, so that an answer given to every other question ("Yes to All", or a front end's
    // blanket --yes) never answers it. A front end that cannot ask answers false.
    virtual bool ConfirmMassDeletion(const std::string& title, const std::string& informative);
    // An alert with the single button "OK".
    virtual void Inform(const std::string& message) = 0;
    // The file chooser. `types` are allowed extensions (empty: any file). Fills `chosen` with full
    // paths and returns true when the user confirmed a non-empty choice.
    virtual bool ChooseFiles(const std::string& title, const std::vector<std::string>& types,
                             bool chooseDirectories, bool chooseFiles, std::vector<std::string>& chosen) = 0;
};

// The process-wide bus and question interface; null until a front end installs one. Installing is
// done once at start-up (or by a test before it runs its subject).
void SetNotificationBus(NotificationBus* bus);
NotificationBus* GetNotificationBus();
void SetQuestionInterface(QuestionInterface* questions);
QuestionInterface* GetQuestionInterface();

// Posts on the installed bus; does nothing when none is installed.
void PostNotification(const std::string& name, const std::string& text = std::string());

} // namespace platform
