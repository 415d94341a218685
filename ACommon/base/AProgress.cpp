#include "ACommon/base/AProgress.h"

#include "ACommon/base/AError.h"
#include "APlatform/Frontend.h"
#include "APlatform/Notifications.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace {

bool Given(const AString* text) { return text && !text->IsEmpty(); }

} // namespace

AProgress& AProgress::Shared()
{
    static AProgress shared;
    return shared;
}

AString AProgress::FormatDate()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return AString(text);
}

void AProgress::SetProgressControl(platform::StatusField* message, platform::StatusField* detail,
                                   platform::ProgressBar* progressBar)
{
    std::lock_guard lock(sinkMutex);
    messageField = message;
    detailField = detail;
    bar = progressBar;
}

void AProgress::SetLogTextView(platform::LogView* view)
{
    std::lock_guard lock(sinkMutex);
    logView = view;
}

void AProgress::SetBar(double value)
{
    if (!std::isfinite(value))
        return; // a fraction that was not a number leaves the bar alone
    std::lock_guard lock(sinkMutex);
    if (bar)
        bar->SetValue(value);
}

void AProgress::ShowStatus(const AString* message, const AString* detail)
{
    std::lock_guard lock(sinkMutex);
    if (message && messageField)
        messageField->SetText(message->ToStdString());
    if (detail && detailField)
        detailField->SetText(detail->ToStdString());
}

void AProgress::ResetStacks()
{
    starts.clear();
    widths.clear();
    ends.clear();
    filled.assign(1, 0.0);
}

double AProgress::GetAbsoluteBarPosition(double fraction) const
{
    if (fraction < 0)
        return fraction;
    // Rounding may carry a finished count a hair past 1; only what lies beyond that is cut back.
    if (fraction > 1.0 + std::numeric_limits<double>::epsilon())
        fraction = 1.0;
    if (!starts.empty())
        return starts.back() + fraction * widths.back();
    return position + (1.0 - position) * fraction;
}

void AProgress::LogAndShow(const AString* msg, signed char addDate, signed char showMsg)
{
    const bool hasMessage = Given(msg);
    if (addDate)
        AddDateToLog(hasMessage ? 0 : 1, 0);
    if (hasMessage) {
        AddToLog(msg, 0);
        AddToLog("\n", 1);
        if (showMsg)
            ShowStatus(msg, msg);
    }
}

void AProgress::StartProgress(const AString* msg, signed char addDate, signed char showMsg,
                              signed char openLog)
{
    running = 1;
    ResetStacks();
    position = 0.0;
    platform::PostNotification(platform::notification::kCloseSettingsDrawer);
    if (openLog)
        platform::PostNotification(platform::notification::kOpenLogDrawer);
    LogAndShow(msg, addDate, showMsg);
    std::lock_guard lock(sinkMutex);
    if (bar) {
        bar->SetDeterminate(true);
        bar->SetRange(0.0, 1.0);
        bar->SetValue(0.0);
    }
}

void AProgress::EndProgress(const AString* msg, signed char addDate, signed char showMsg,
                            signed char closeLog)
{
    running = 0;
    double value = GetAbsoluteBarPosition(1.0);
    if (starts.empty())
        value = 1.0;
    ResetStacks();
    if (closeLog)
        platform::PostNotification(platform::notification::kCloseLogDrawer);
    LogAndShow(msg, addDate, showMsg);
    SetBar(value);
}

void AProgress::StartDivision(double width, const AString* msg, signed char addDate, signed char showMsg)
{
    starts.push_back(position);
    double absolute = widths.empty() ? width : width * widths.back();
    widths.push_back(absolute);
    ends.push_back(position + absolute);
    filled.back() = std::min(filled.back() + width, 1.0);
    filled.push_back(0.0);
    LogAndShow(msg, addDate, showMsg);
    SetBar(GetAbsoluteBarPosition(0.0));
}

void AProgress::EndDivision(const AString* msg, signed char addDate, signed char showMsg)
{
    double value = GetAbsoluteBarPosition(1.0);
    if (!ends.empty()) {
        position = ends.back();
        starts.pop_back();
        widths.pop_back();
        ends.pop_back();
        if (filled.size() > 1)
            filled.pop_back();
    }
    LogAndShow(msg, addDate, showMsg);
    SetBar(value);
}

void AProgress::UpdateDivision(double fraction, const AString* message, const AString* detail,
                               const AString* logLine, signed char addDate)
{
    const bool hasLine = Given(logLine);
    if (addDate)
        AddDateToLog(hasLine ? 0 : 1, 0);
    if (hasLine) {
        AddToLog(logLine, 0);
        AddToLog("\n", 1);
    }
    double value = GetAbsoluteBarPosition(fraction);
    if (value >= 0)
        SetBar(value);
    ShowStatus(message, detail);
}

void AProgress::AddToLog(const AString* text, signed char flush)
{
    {
        std::lock_guard lock(logMutex);
        if (text)
            pendingLog += *text;
    }
    if (flush)
        FlushLog();
}

void AProgress::AddToLog(const char* text, signed char flush)
{
    AString value(text);
    AddToLog(&value, flush);
}

void AProgress::AddToLog(int value, signed char flush)
{
    AString text;
    text = value;
    AddToLog(&text, flush);
}

void AProgress::AddDateToLog(signed char lineBreak, signed char flush)
{
    AString text = FormatDate();
    text += lineBreak ? '\n' : ' ';
    AddToLog(&text, flush);
}

void AProgress::AddErrorMsg(int code, signed char flush)
{
    AString text;
    AError::AddErrorMsg(&text, code);
    AddToLog(&text, flush);
}

void AProgress::FlushLog()
{
    std::string text;
    {
        std::lock_guard lock(logMutex);
        text = pendingLog.ToStdString();
        pendingLog = AString();
    }
    if (text.empty())
        return;
    // The log reaches the window through "LogUpdate", whose receiver appends it to the log view; the
    // view is written directly only when no bus is installed, so that no text is shown twice.
    if (platform::GetNotificationBus()) {
        platform::PostNotification(platform::notification::kLogUpdate, text);
        return;
    }
    std::lock_guard lock(sinkMutex);
    if (logView)
        logView->Append(text);
}

void AProgress::ReportError(int code, const AString* what, const AString* where)
{
    if (code == 0)
        return;
    AddToLog(what, 0);
    AddToLog(where, 0);
    AddToLog(" ERROR=", 0);
    AddToLog(code, 0);
    AddErrorMsg(code, 1);
    AddToLog("\n", 0);
}

void AProgress::ReportMessage(const AString* msg, signed char log)
{
    if (log) {
        AddDateToLog(0, 0);
        AddToLog(msg, 0);
        AddToLog("\n", 1);
    }
    DisplayAlert(msg, 0);
}

void AProgress::DisplayAlert(const AString* msg, signed char)
{
    if (platform::QuestionInterface* questions = platform::GetQuestionInterface())
        questions->Inform(msg ? msg->ToStdString() : std::string());
}

int AProgress::YesNoAlert(const AString* title, const AString* first, const AString* second)
{
    AString informative;
    if (second) {
        informative = "Copy ";
        informative += first;
        informative += "\nto ";
        informative += second;
    } else {
        informative = "Delete ";
        informative += first;
    }
    platform::QuestionInterface* questions = platform::GetQuestionInterface();
    if (!questions)
        return 3;
    static const std::vector<std::string> kButtons = {"Yes", "No", "Yes to All", "No to All"};
    static const int kResults[] = {1, 3, 2, 4};
    int pressed =
        questions->Ask(title ? title->ToStdString() : std::string(), informative.ToStdString(), kButtons);
    return (pressed >= 0 && pressed < 4) ? kResults[pressed] : 3;
}

int AProgress::ConfirmMassDeletion(const AString* title, const AString* informative)
{
    platform::QuestionInterface* questions = platform::GetQuestionInterface();
    if (!questions)
        return 3;
    const bool yes = questions->ConfirmMassDeletion(title ? title->ToStdString() : std::string(),
                                                    informative ? informative->ToStdString() : std::string());
    return yes ? 1 : 3;
}

int AProgress::UnauthorizedAlert(const AString* title, const AString* path)
{
    AString informative("Delete ");
    informative += path;
    platform::QuestionInterface* questions = platform::GetQuestionInterface();
    if (!questions)
        return 3;
    static const std::vector<std::string> kButtons = {"Yes", "No", "Yes to All", "No to All",
                                                      "Add ID to Prefs"};
    static const int kResults[] = {1, 3, 2, 4, 5};
    int pressed =
        questions->Ask(title ? title->ToStdString() : std::string(), informative.ToStdString(), kButtons);
    return (pressed >= 0 && pressed < 5) ? kResults[pressed] : 3;
}
