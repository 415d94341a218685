#pragma once
// The terminal as a front end: the status lines and the bar become one progress line on stdout when
// it is a terminal (plain message lines otherwise), the run log goes to stderr or a log file, and
// questions are asked on the terminal or answered from flags.

#include "APlatform/Frontend.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace cli {

// `text` as a JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text);
// `text` (a title, a path: anything a tag or a file name may hold) as it is safe to print on a
// terminal: control characters shown escaped (\t, \n, \r, \x1b; \u009b for those of Latin-1),
// so that none can move the cursor, clear the screen or start a line of its own, and a backslash
// shown as \\ so that what is shown reads back one way.
std::string TerminalText(const std::string& text);

class Terminal : public platform::NotificationBus, public platform::QuestionInterface {
public:
    enum class Answers { Ask, YesToAll, NoToAll };

    Terminal();
    ~Terminal() override;

    // Installs this terminal as the process's bus and question interface and binds the shared
    // progress reporter's status lines and bar to it. Uninstalled by the destructor.
    void Install();

    // --yes and --no answer the questions that offer "Yes to All" and "No to All". The check
    // before deleting most of a side is not one of them: it is asked at the terminal, answered No
    // without one, and answered Yes only when `allowMassDeletion` is set.
    void SetAnswers(Answers given, bool massDeletion = false)
    {
        answers = given;
        allowMassDeletion = massDeletion;
    }
    // Sends the run log to `path` instead of stderr. False when the file cannot be opened.
    bool SetLogFile(const std::string& path);
    // True when questions can be asked: stdin is a terminal, or answers come from flags.
    bool CanAnswerQuestions() const;

    // Reads one line from the user (after printing `prompt`); false at end of input.
    bool Prompt(const std::string& prompt, std::string& line);
    // Prints a line on stdout, above the progress line.
    void Print(const std::string& text);
    // Ends the progress line so that what follows starts on a fresh line.
    void FinishProgressLine();

    // Ctrl-C: the first asks the running operation to stop (through CancelRequested), a second
    // exits at once with status 130.
    static void InstallInterruptHandler();
    static signed char CancelRequested();
    static void ResetCancel();

    // NotificationBus
    void Post(const std::string& name, const std::string& text) override;
    // QuestionInterface
    int Ask(const std::string& title, const std::string& informative,
            const std::vector<std::string>& buttons) override;
    bool ConfirmMassDeletion(const std::string& title, const std::string& informative) override;
    void Inform(const std::string& message) override;
    bool ChooseFiles(const std::string& title, const std::vector<std::string>& types, bool chooseDirectories,
                     bool chooseFiles, std::vector<std::string>& chosen) override;

    // Called by the status-line adapters.
    void SetMessage(const std::string& text);
    void SetDetail(const std::string& text);
    void SetBar(double value);

private:
    class Field;
    class Bar;

    // Asks at the terminal until one of `buttons` is chosen; Enter chooses button `enter`, the end
    // of the input button `refuse`.
    int AskAtTerminal(const std::string& title, const std::string& informative,
                      const std::vector<std::string>& buttons, int enter, int refuse);
    void DrawLocked();
    void ClearLineLocked();

    std::mutex mutex;
    bool stdoutIsTerminal = false;
    bool stdinIsTerminal = false;
    bool lineShown = false;
    Answers answers = Answers::Ask;
    bool allowMassDeletion = false;
    std::string message;
    std::string detail;
    double bar = 0.0;
    std::FILE* logFile = nullptr;
    bool ownsLogFile = false;
    std::unique_ptr<Field> messageField;
    std::unique_ptr<Field> detailField;
    std::unique_ptr<Bar> progressBar;
    bool installed = false;
};

} // namespace cli
