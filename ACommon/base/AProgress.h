#pragma once
// AProgress: the one reporter of the system. Every long operation reports through it: nested
// progress divisions (each step reports 0 to 1 while the bar shows its place in the whole run), the
// run log (handed to the front end as "LogUpdate" notifications), the two status lines, and modal
// questions. It talks to the sinks of APlatform/Frontend.h, never to widgets.

#include "ACommon/base/AString.h"

#include <mutex>
#include <vector>

namespace platform {
class StatusField;
class ProgressBar;
class LogView;
} // namespace platform

class AProgress {
public:
    AProgress() = default;
    AProgress(const AProgress&) = delete;
    AProgress& operator=(const AProgress&) = delete;

    // The application's single reporter; sources and syncs take a pointer to it when they are made.
    static AProgress& Shared();

    void StartProgress(const AString* msg, signed char addDate, signed char showMsg, signed char openLog);
    void EndProgress(const AString* msg, signed char addDate, signed char showMsg, signed char closeLog);
    void StartDivision(double width, const AString* msg, signed char addDate, signed char showMsg);
    void EndDivision(const AString* msg, signed char addDate, signed char showMsg);
    void UpdateDivision(double fraction, const AString* message, const AString* detail,
                        const AString* logLine, signed char addDate);
    double GetAbsoluteBarPosition(double fraction) const;

    // Sinks (any may be null: nothing is shown then).
    void SetProgressControl(platform::StatusField* message, platform::StatusField* detail,
                            platform::ProgressBar* bar);
    // The log view. With a notification bus installed the log goes out as "LogUpdate" notifications
    // only (the receiver appends them to this view); without one it is appended here directly.
    void SetLogTextView(platform::LogView* view);

    void AddToLog(const AString* text, signed char flush);
    void AddToLog(const AString& text, signed char flush) { AddToLog(&text, flush); }
    void AddToLog(const char* text, signed char flush);
    void AddToLog(int value, signed char flush);
    void AddDateToLog(signed char lineBreak, signed char flush);
    void AddErrorMsg(int code, signed char flush);
    void FlushLog();
    void ReportError(int code, const AString* what, const AString* where);
    void ReportMessage(const AString* msg, signed char log);
    void DisplayAlert(const AString* msg, signed char);

    // 1 "Yes", 2 "Yes to All", 3 "No", 4 "No to All". Without a question interface: 3.
    int YesNoAlert(const AString* title, const AString* first, const AString* second);
    // As above, and 5 "Add ID to Prefs".
    int UnauthorizedAlert(const AString* title, const AString* path);
    // The check before a plan deletes most of one side, a question of its own kind that no
    // remembered or blanket "to All" answer settles. Returns 1 for Yes, 3 for No (also when nobody
    // can be asked).
    int ConfirmMassDeletion(const AString* title, const AString* informative);

    // Shows texts in the status lines without logging (either may be null).
    void ShowStatus(const AString* message, const AString* detail);

    bool IsRunning() const { return running != 0; }
    double GetPosition() const { return position; }
    int OpenDivisions() const { return static_cast<int>(starts.size()); }

    // The local date and time as the log writes it: YYYY-MM-DD HH:MM:SS +HHMM.
    static AString FormatDate();

private:
    void LogAndShow(const AString* msg, signed char addDate, signed char showMsg);
    void SetBar(double value);
    void ResetStacks();

    std::vector<double> starts;
    std::vector<double> widths;
    std::vector<double> ends;
    std::vector<double> filled{0.0};
    double position = 0.0;
    int running = 0;

    std::mutex logMutex;
    AString pendingLog;

    std::mutex sinkMutex;
    platform::StatusField* messageField = nullptr;
    platform::StatusField* detailField = nullptr;
    platform::ProgressBar* bar = nullptr;
    platform::LogView* logView = nullptr;
};
