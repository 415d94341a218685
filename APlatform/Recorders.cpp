#include "APlatform/Recorders.h"

#include <algorithm>

namespace platform {

void RecordingStatusField::SetText(const std::string& text)
{
    std::lock_guard lock(mutex);
    history.push_back(text);
}

std::string RecordingStatusField::Text() const
{
    std::lock_guard lock(mutex);
    return history.empty() ? std::string() : history.back();
}

std::vector<std::string> RecordingStatusField::History() const
{
    std::lock_guard lock(mutex);
    return history;
}

void RecordingProgressBar::SetDeterminate(bool value)
{
    std::lock_guard lock(mutex);
    determinate = value;
}

void RecordingProgressBar::SetRange(double low, double high)
{
    std::lock_guard lock(mutex);
    minimum = low;
    maximum = high;
}

bool RecordingProgressBar::IsDeterminate() const
{
    std::lock_guard lock(mutex);
    return determinate;
}

std::pair<double, double> RecordingProgressBar::Range() const
{
    std::lock_guard lock(mutex);
    return {minimum, maximum};
}

void RecordingProgressBar::Clear()
{
    std::lock_guard lock(mutex);
    values.clear();
}

void RecordingProgressBar::SetValue(double value)
{
    std::lock_guard lock(mutex);
    values.push_back(value);
}

double RecordingProgressBar::Value() const
{
    std::lock_guard lock(mutex);
    return values.empty() ? 0.0 : values.back();
}

std::vector<double> RecordingProgressBar::Values() const
{
    std::lock_guard lock(mutex);
    return values;
}

void RecordingLogView::Append(const std::string& more)
{
    std::lock_guard lock(mutex);
    text += more;
}

std::string RecordingLogView::Text() const
{
    std::lock_guard lock(mutex);
    return text;
}

void RecordingBus::Post(const std::string& name, const std::string& text)
{
    std::lock_guard lock(mutex);
    posted.emplace_back(name, text);
    if (name == "LogUpdate")
        log += text;
}

std::vector<std::pair<std::string, std::string>> RecordingBus::Posted() const
{
    std::lock_guard lock(mutex);
    return posted;
}

std::vector<std::string> RecordingBus::Names() const
{
    std::lock_guard lock(mutex);
    std::vector<std::string> names;
    for (const auto& [name, text] : posted)
        names.push_back(name);
    return names;
}

std::string RecordingBus::Log() const
{
    std::lock_guard lock(mutex);
    return log;
}

void RecordingBus::Clear()
{
    std::lock_guard lock(mutex);
    posted.clear();
    log.clear();
}

void ScriptedQuestions::Script(std::vector<std::string> list)
{
    std::lock_guard lock(mutex);
    answers.assign(list.begin(), list.end());
}

void ScriptedQuestions::SetDefaultAnswer(std::string answer)
{
    std::lock_guard lock(mutex);
    defaultAnswer = std::move(answer);
}

void ScriptedQuestions::SetChosenFiles(std::vector<std::string> files)
{
    std::lock_guard lock(mutex);
    chosenFiles = std::move(files);
}

int ScriptedQuestions::Ask(const std::string& title, const std::string& informative,
                           const std::vector<std::string>& buttons)
{
    std::lock_guard lock(mutex);
    std::string answer = defaultAnswer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    int index = 0;
    auto found = std::find(buttons.begin(), buttons.end(), answer);
    if (found != buttons.end())
        index = static_cast<int>(found - buttons.begin());
    asked.push_back({title, informative, buttons, buttons.empty() ? std::string() : buttons[index]});
    return index;
}

void ScriptedQuestions::Inform(const std::string& message)
{
    std::lock_guard lock(mutex);
    informed.push_back(message);
}

bool ScriptedQuestions::ChooseFiles(const std::string&, const std::vector<std::string>&, bool, bool,
                                    std::vector<std::string>& chosen)
{
    std::lock_guard lock(mutex);
    chosen = chosenFiles;
    return !chosen.empty();
}

std::vector<ScriptedQuestions::Question> ScriptedQuestions::Asked() const
{
    std::lock_guard lock(mutex);
    return asked;
}

std::vector<std::string> ScriptedQuestions::Informed() const
{
    std::lock_guard lock(mutex);
    return informed;
}

void ScriptedQuestions::Clear()
{
    std::lock_guard lock(mutex);
    answers.clear();
    asked.clear();
    informed.clear();
}

} // namespace platform
