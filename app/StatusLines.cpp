#include "app/StatusLines.h"

StatusLines::StatusLines(QLabel* messageLabel, QLabel* detailLabel)
    : message(messageLabel), detail(detailLabel, message)
{
}

void StatusLines::MessageLine::SetText(const std::string& text)
{
    last = text;
    field.SetText(text);
}

void StatusLines::DetailLine::SetText(const std::string& text)
{
    field.SetText(text == message.last ? std::string() : text);
}
