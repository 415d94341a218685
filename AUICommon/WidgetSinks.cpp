#include "AUICommon/WidgetSinks.h"

#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>
#include <cmath>

namespace {

template <typename Widget, typename Body> void OnWidgetThread(const QPointer<Widget>& widget, Body body)
{
    if (!widget)
        return;
    QPointer<Widget> guarded = widget;
    QMetaObject::invokeMethod(
        widget.data(),
        [guarded, body] {
            if (guarded)
                body(guarded.data());
        },
        Qt::QueuedConnection);
}

} // namespace

LabelStatusField::LabelStatusField(QLabel* shownIn) : label(shownIn) {}
WidgetProgressBar::WidgetProgressBar(QProgressBar* shownIn) : bar(shownIn) {}
TextLogView::TextLogView(QPlainTextEdit* shownIn) : view(shownIn) {}

void LabelStatusField::SetText(const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    OnWidgetThread(label, [shown](QLabel* widget) { widget->setText(shown); });
}

void WidgetProgressBar::SetDeterminate(bool determinate)
{
    OnWidgetThread(bar, [determinate](QProgressBar* widget) {
        // A bar whose minimum equals its maximum shows work of unknown length.
        widget->setRange(0, determinate ? kSteps : 0);
    });
}

void WidgetProgressBar::SetRange(double low, double high)
{
    minimum = low;
    maximum = high > low ? high : low + 1.0;
}

void WidgetProgressBar::SetValue(double value)
{
    double fraction = (value - minimum) / (maximum - minimum);
    if (!std::isfinite(fraction))
        return;
    const int step = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kSteps));
    OnWidgetThread(bar, [step](QProgressBar* widget) {
        if (widget->maximum() == 0)
            widget->setRange(0, kSteps);
        widget->setValue(step);
    });
}

void TextLogView::Append(const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    OnWidgetThread(view, [shown](QPlainTextEdit* widget) { AppendAtEnd(widget, shown); });
}

void TextLogView::AppendAtEnd(QPlainTextEdit* view, const QString& text)
{
    QScrollBar* scroll = view->verticalScrollBar();
    const bool following = scroll->value() == scroll->maximum();
    // A cursor of its own: the user's caret and selection stay as they are.
    QTextCursor end(view->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    if (following)
        scroll->setValue(scroll->maximum());
}
