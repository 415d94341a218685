#pragma once
// The core's status, progress and log sinks bound to widgets. The core calls them from any thread;
// each call is carried to the widget's thread, in order, and dropped once the widget is gone.

#include "APlatform/Frontend.h"

#include <QPointer>

class QLabel;
class QProgressBar;
class QPlainTextEdit;

class LabelStatusField : public platform::StatusField {
public:
    explicit LabelStatusField(QLabel* label);
    void SetText(const std::string& text) override;

private:
    QPointer<QLabel> label;
};

class WidgetProgressBar : public platform::ProgressBar {
public:
    // The bar's integer range stands for the core's 0 to 1 in this many steps.
    static constexpr int kSteps = 1000;
    explicit WidgetProgressBar(QProgressBar* bar);
    void SetDeterminate(bool determinate) override;
    void SetRange(double minimum, double maximum) override;
    void SetValue(double value) override;

private:
    QPointer<QProgressBar> bar;
    double minimum = 0.0;
    double maximum = 1.0;
};

class TextLogView : public platform::LogView {
public:
    explicit TextLogView(QPlainTextEdit* view);
    void Append(const std::string& text) override;
    // Appends `text` at the end of `view` whatever its caret and selection; follows the end when the
    // view showed it. GUI thread only.
    static void AppendAtEnd(QPlainTextEdit* view, const QString& text);

private:
    QPointer<QPlainTextEdit> view;
};
