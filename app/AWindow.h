#pragma once
// AWindow: the main window's frame. Closing it asks its owner first (the Quit rules: a run going
// on, the settings to save).

#include <QMainWindow>

#include <functional>

class AWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit AWindow(QWidget* parent = nullptr) : QMainWindow(parent) {}
    // Called when the user closes the window; false keeps it open.
    void SetCloseCheck(std::function<bool()> check) { closeCheck = std::move(check); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<bool()> closeCheck;
};
