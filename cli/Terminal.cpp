#include "cli/Terminal.h"

#include "ACommon/base/AProgress.h"
#include "APlatform/Notifications.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {
namespace {

std::atomic<int> gInterrupts{0};

void OnInterrupt(int)
{
    if (gInterrupts.fetch_add(1) >= 1)
        _exit(130);
}

int TerminalWidth()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

// Cuts `text` to at most `width` columns, counting UTF-8 sequences as one column each.
std::string Fit(const std::string& text, int width)
{
    int columns = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (columns == width)
                return text.substr(0, i);
            ++columns;
        }
    }
    return text;
}

std::string Lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

std::string TerminalText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char escaped[8];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F, the second set of control characters (U+009B opens an escape
            // sequence on many terminals).
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
            out += escaped;
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

class Terminal::Field : public platform::StatusField {
public:
    Field(Terminal& shownBy, bool message) : owner(shownBy), isMessage(message) {}
    void SetText(const std::string& text) override
    {
        if (isMessage)
            owner.SetMessage(text);
        else
            owner.SetDetail(text);
    }

private:
    Terminal& owner;
    bool isMessage;
};

class Terminal::Bar : public platform::ProgressBar {
public:
    explicit Bar(Terminal& shownBy) : owner(shownBy) {}
    void SetDeterminate(bool) override {}
    void SetRange(double, double) override {}
    void SetValue(double value) override { owner.SetBar(value); }

private:
    Terminal& owner;
};

Terminal::Terminal()
    : stdoutIsTerminal(isatty(STDOUT_FILENO) != 0), stdinIsTerminal(isatty(STDIN_FILENO) != 0),
      messageField(std::make_unique<Field>(*this, true)), detailField(std::make_unique<Field>(*this, false)),
      progressBar(std::make_unique<Bar>(*this))
{
}

Terminal::~Terminal()
{
    if (installed) {
        AProgress::Shared().FlushLog();
        AProgress::Shared().SetProgressControl(nullptr, nullptr, nullptr);
        platform::SetNotificationBus(nullptr);
        platform::SetQuestionInterface(nullptr);
    }
    FinishProgressLine();
    if (ownsLogFile && logFile)
        std::fclose(logFile);
}

void Terminal::Install()
{
    platform::SetNotificationBus(this);
    platform::SetQuestionInterface(this);
    AProgress::Shared().SetProgressControl(messageField.get(), detailField.get(), progressBar.get());
    installed = true;
}

bool Terminal::SetLogFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return false;
    std::lock_guard lock(mutex);
    if (ownsLogFile && logFile)
        std::fclose(logFile);
    logFile = file;
    ownsLogFile = true;
    return true;
}

bool Terminal::CanAnswerQuestions() const { return answers != Answers::Ask || stdinIsTerminal; }

void Terminal::InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

signed char Terminal::CancelRequested() { return gInterrupts.load() > 0 ? 1 : 0; }

void Terminal::ResetCancel() { gInterrupts.store(0); }

void Terminal::ClearLineLocked()
{
    if (lineShown) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        lineShown = false;
    }
}

void Terminal::DrawLocked()
{
    if (!stdoutIsTerminal)
        return;
    const int width = TerminalWidth();
    const int barWidth = 20;
    int filledCells = static_cast<int>(std::clamp(bar, 0.0, 1.0) * barWidth + 0.5);
    std::string line = "[" + std::string(filledCells, '#') + std::string(barWidth - filledCells, ' ') + "] ";
    line += message;
    if (!detail.empty() && detail != message)
        line += " - " + detail;
    std::fputs("\r\033[K", stdout);
    std::fputs(Fit(line, width - 1).c_str(), stdout);
    std::fflush(stdout);
    lineShown = true;
}

void Terminal::FinishProgressLine()
{
    std::lock_guard lock(mutex);
    ClearLineLocked();
}

void Terminal::SetMessage(const std::string& text)
{
    std::lock_guard lock(mutex);
    if (text == message)
        return;
    message = text;
    if (!stdoutIsTerminal && !text.empty()) {
        std::fputs((text + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
    DrawLocked();
}

void Terminal::SetDetail(const std::string& text)
{
    std::lock_guard lock(mutex);
    detail = text;
    DrawLocked();
}

void Terminal::SetBar(double value)
{
    std::lock_guard lock(mutex);
    bar = value;
    DrawLocked();
}

void Terminal::Print(const std::string& text)
{
    std::lock_guard lock(mutex);
    ClearLineLocked();
    std::fputs(text.c_str(), stdout);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', stdout);
    std::fflush(stdout);
    DrawLocked();
}

void Terminal::Post(const std::string& name, const std::string& text)
{
    if (name != platform::notification::kLogUpdate)
        return;
    std::lock_guard lock(mutex);
    if (logFile) {
        std::fputs(text.c_str(), logFile);
        std::fflush(logFile);
        return;
    }
    bool redraw = lineShown;
    ClearLineLocked();
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    if (redraw)
        DrawLocked();
}

bool Terminal::Prompt(const std::string& prompt, std::string& line)
{
    std::lock_guard lock(mutex);
    ClearLineLocked();
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
    if (!std::getline(std::cin, line))
        return false;
    return true;
}

int Terminal::Ask(const std::string& title, const std::string& informative,
                  const std::vector<std::string>& buttons)
{
    if (buttons.empty())
        return 0;
    auto indexOf = [&](const char* name) {
        auto found = std::find(buttons.begin(), buttons.end(), name);
        return found == buttons.end() ? -1 : static_cast<int>(found - buttons.begin());
    };
    // Without a terminal to ask on, the safe answer is to change nothing.
    const int refuse = std::max(indexOf("No"), 0);
    const bool offersToAll = indexOf("Yes to All") >= 0 || indexOf("No to All") >= 0;
    if (answers != Answers::Ask && (offersToAll || answers == Answers::NoToAll || !stdinIsTerminal)) {
        const bool yes = answers == Answers::YesToAll && offersToAll;
        int index = indexOf(yes ? "Yes to All" : "No to All");
        if (index < 0)
            index = indexOf(yes ? "Yes" : "No");
        return index < 0 ? 0 : index;
    }
    if (!stdinIsTerminal)
        return refuse;
    // Enter takes the first answer, except in a confirmation, where it takes the safe one.
    return AskAtTerminal(title, informative, buttons, offersToAll ? 0 : refuse, refuse);
}

bool Terminal::ConfirmMassDeletion(const std::string& title, const std::string& informative)
{
    if (allowMassDeletion)
        return true;
    if (!stdinIsTerminal)
        return false;
    // Enter, and the end of the input, take the answer that deletes nothing.
    return AskAtTerminal(title, informative, {"Yes", "No"}, 1, 1) == 0;
}

int Terminal::AskAtTerminal(const std::string& title, const std::string& informative,
                            const std::vector<std::string>& buttons, int enter, int refuse)
{
    std::string choices;
    for (size_t i = 0; i < buttons.size(); ++i)
        choices += "  [" + std::to_string(i + 1) + "] " + buttons[i];
    for (;;) {
        std::string line;
        if (!Prompt(title + "\n" + informative + "\n" + choices + "\nAnswer (1-" +
                        std::to_string(buttons.size()) + ", Enter for " + buttons[enter] + "): ",
                    line))
            return refuse;
        if (line.empty())
            return enter;
        char* end = nullptr;
        long number = std::strtol(line.c_str(), &end, 10);
        if (end && *end == '\0' && number >= 1 && number <= static_cast<long>(buttons.size()))
            return static_cast<int>(number - 1);
        for (size_t i = 0; i < buttons.size(); ++i)
            if (Lowercase(line) == Lowercase(buttons[i]))
                return static_cast<int>(i);
        Print("Please answer with a number from 1 to " + std::to_string(buttons.size()) + ".");
    }
}

void Terminal::Inform(const std::string& text) { Print(text); }

bool Terminal::ChooseFiles(const std::string&, const std::vector<std::string>&, bool, bool,
                           std::vector<std::string>&)
{
    return false; // files are named on the command line
}

} // namespace cli
