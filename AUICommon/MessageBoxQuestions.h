#pragma once
// The core's questions as message boxes and file dialogs on the GUI thread. A worker thread that
// asks waits until the user has answered.

#include "APlatform/Frontend.h"

#include <QObject>

#include <functional>

class QWidget;

class MessageBoxQuestions : public QObject, public platform::QuestionInterface {
    Q_OBJECT
public:
    explicit MessageBoxQuestions(QWidget* window);

    int Ask(const std::string& title, const std::string& informative,
            const std::vector<std::string>& buttons) override;
    bool ConfirmMassDeletion(const std::string& title, const std::string& informative) override;
    void Inform(const std::string& message) override;
    bool ChooseFiles(const std::string& title, const std::vector<std::string>& types, bool chooseDirectories,
                     bool chooseFiles, std::vector<std::string>& chosen) override;

    // Messages `sayElsewhere` takes (returning true; called on the asking thread) are not shown in a
    // box: the window says them in its own place.
    void SetSayElsewhere(std::function<bool(const std::string&)> sayElsewhere)
    {
        elsewhere = std::move(sayElsewhere);
    }

private:
    // Runs `body` on the GUI thread, waiting for it when called from another.
    template <typename Body> void OnGuiThread(Body body);

    QWidget* window;
    std::function<bool(const std::string&)> elsewhere;
};
