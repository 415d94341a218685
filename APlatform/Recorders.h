#pragma once
// Recording implementations of the front-end seams, for tests and for callers that want to look at
// what an operation reported. All of them are safe to call from several threads.

#include "APlatform/Frontend.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class RecordingStatusField : public StatusField {
public:
    void SetText(const std::string& text) override;
    std::string Text() const;
    std::vector<std::string> History() const;

private:
    mutable std::mutex mutex;
    std::vector<std::string> history;
};

class RecordingProgressBar : public ProgressBar {
public:
    void SetDeterminate(bool determinate) override;
    void SetRange(double minimum, double maximum) override;
    void SetValue(double value) override;
    double Value() const;
    std::vector<double> Values() const;
    bool IsDeterminate() const;
    std::pair<double, double> Range() const;
    void Clear(); // forgets the values set so far

private:
    mutable std::mutex mutex;
    std::vector<double> values;
    bool determinate = false;
    double minimum = 0.0;
    double maximum = 0.0;
};

class RecordingLogView : public LogView {
public:
    void Append(const std::string& text) override;
    std::string Text() const;

private:
    mutable std::mutex mutex;
    std::string text;
};

// Records every notification; the text of every "LogUpdate" is also collected as the log.
class RecordingBus : public NotificationBus {
public:
    void Post(const std::string& name, const std::string& text) override;
    std::vector<std::pair<std::string, std::string>> Posted() const;
    std::vector<std::string> Names() const;
    std::string Log() const;
    void Clear();

private:
    mutable std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> posted;
    std::string log;
};

// Answers questions from a script: each question takes the next answer (a button title, for
// example "Yes to All"); when the script is empty the default answer is used (itself a button
// title; empty means the first button). Every question asked is recorded.
class ScriptedQuestions : public QuestionInterface {
public:
    struct Question {
        std::string title;
        std::string informative;
        std::vector<std::string> buttons;
        std::string answer;
    };

    void Script(std::vector<std::string> answers);
    void SetDefaultAnswer(std::string answer);
    void SetChosenFiles(std::vector<std::string> files);

    int Ask(const std::string& title, const std::string& informative,
            const std::vector<std::string>& buttons) override;
    void Inform(const std::string& message) override;
    bool ChooseFiles(const std::string& title, const std::vector<std::string>& types, bool chooseDirectories,
                     bool chooseFiles, std::vector<std::string>& chosen) override;

    std::vector<Question> Asked() const;
    std::vector<std::string> Informed() const;
    void Clear();

private:
    mutable std::mutex mutex;
    std::deque<std::string> answers;
    std::string defaultAnswer;
    std::vector<std::string> chosenFiles;
    std::vector<Question> asked;
    std::vector<std::string> informed;
};

} // namespace platform
