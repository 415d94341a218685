#include "APlatform/Frontend.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<NotificationBus*> gBus{nullptr};
std::atomic<QuestionInterface*> gQuestions{nullptr};
} // namespace

bool QuestionInterface::ConfirmMassDeletion(const std::string&, const std::string&) { return false; }

void SetNotificationBus(NotificationBus* bus) { gBus.store(bus); }
NotificationBus* GetNotificationBus() { return gBus.load(); }
void SetQuestionInterface(QuestionInterface* questions) { gQuestions.store(questions); }
QuestionInterface* GetQuestionInterface() { return gQuestions.load(); }

void PostNotification(const std::string& name, const std::string& text)
{
    if (NotificationBus* bus = gBus.load())
        bus->Post(name, text);
}

} // namespace platform
