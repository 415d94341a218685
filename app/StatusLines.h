#pragma once
// StatusLines: the two status lines of the panel as the run's progress reporter fills them. The core
// often gives both lines the same text ("Action 3 of 40 Copying ..."); the second line then stays
// empty rather than say it twice.

#include "AUICommon/WidgetSinks.h"

#include <string>

class QLabel;

class StatusLines {
public:
    StatusLines(QLabel* message, QLabel* detail);

    platform::StatusField* Message() { return &message; }
    platform::StatusField* Detail() { return &detail; }

private:
    struct MessageLine : platform::StatusField {
        explicit MessageLine(QLabel* label) : field(label) {}
        void SetText(const std::string& text) override;
        LabelStatusField field;
        std::string last; // set and read on the run's thread only
    };
    struct DetailLine : platform::StatusField {
        DetailLine(QLabel* label, const MessageLine& messageLine) : field(label), message(messageLine) {}
        void SetText(const std::string& text) override;
        LabelStatusField field;
        const MessageLine& message;
    };
    MessageLine message;
    DetailLine detail;
};
