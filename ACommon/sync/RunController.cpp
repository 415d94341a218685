#include "ACommon/sync/RunController.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/APLock.h"
#include "APlatform/Frontend.h"
#include "APlatform/Notifications.h"

#include <system_error>

namespace {

// Held from the start of a run until its thread ends; syncs and tools take the same one.
APLock gBusy;
// The controller whose run holds gBusy: the cancel callback and the review procedure are plain
// functions and find their run here.
std::atomic<RunController*> gRunning{nullptr};

} // namespace

RunController::~RunController()
{
    if (worker.joinable()) {
        Cancel();
        worker.join();
    }
}

bool RunController::IsBusy() { return gBusy.IsLocked(); }

signed char RunController::CancelRequested()
{
    RunController* run = gRunning.load();
    return run && run->cancelled.load() ? 1 : 0;
}

int RunController::StartSync(SyncSession& session)
{
    return Start([this, &session] {
        outcome = session.Run(CancelRequested, ReviewActions);
        return outcome.result;
    });
}

int RunController::StartJob(Job job)
{
    return Start([job = std::move(job)] { return job(CancelRequested); });
}

int RunController::Start(std::function<int()> body)
{
    if (!gBusy.TryLock())
        return kErrBusy;
    // The thread of an earlier run released the lock as its last step: it is done or nearly so.
    if (worker.joinable())
        worker.join();
    {
        std::lock_guard lock(mutex);
        cancelled.store(false);
        finished = false;
        result = 0;
        resultDetail = AString();
        reviewing = nullptr;
        answered = false;
        review.clear();
        outcome = SyncSession::Outcome();
    }
    gRunning.store(this);
    platform::PostNotification(platform::notification::kShowStatusItems);
    platform::PostNotification(platform::notification::kDisableSyncPopUpsEtc);
    try {
        worker = std::thread([this, body = std::move(body)] {
            const int ended = body();
            // What failed and why was noted on this thread; whoever joins it reports the result.
            AString detail = ended != 0 ? AError::FailureDetail(ended) : AString();
            {
                std::lock_guard lock(mutex);
                result = ended;
                resultDetail = std::move(detail);
                finished = true;
            }
            platform::PostNotification(platform::notification::kHideStatusItems);
            platform::PostNotification(platform::notification::kEnableSyncPopUpsEtc);
            changed.notify_all();
            gRunning.store(nullptr);
            gBusy.Unlock();
        });
    } catch (const std::system_error&) {
        {
            std::lock_guard lock(mutex);
            finished = true;
            result = kErrUnknown;
        }
        gRunning.store(nullptr);
        platform::PostNotification(platform::notification::kHideStatusItems);
        platform::PostNotification(platform::notification::kEnableSyncPopUpsEtc);
        gBusy.Unlock();
        return kErrUnknown;
    }
    return 0;
}

void RunController::Cancel()
{
    {
        // Set under the lock a waiting review sleeps on, so that it cannot miss the wake-up.
        std::lock_guard lock(mutex);
        cancelled.store(true);
    }
    changed.notify_all();
}

RunController::Event RunController::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex);
    changed.wait_for(lock, timeout, [this] { return finished || ReviewPending(); });
    if (finished)
        return Event::kFinished;
    return ReviewPending() ? Event::kReview : Event::kNothing;
}

int RunController::Join()
{
    if (worker.joinable())
        worker.join();
    const int ended = GetResult();
    std::lock_guard lock(mutex);
    if (ended != 0 && !resultDetail.IsEmpty())
        AError::NoteFailure(ended, resultDetail);
    return ended;
}

int RunController::GetResult() const
{
    std::lock_guard lock(mutex);
    return result;
}

bool RunController::ReviewPending() const { return reviewing && !answered && !cancelled.load(); }

bool RunController::IsWaitingForReview() const
{
    std::lock_guard lock(mutex);
    return ReviewPending();
}

std::vector<ActionReview::Item> RunController::GetReview() const
{
    std::lock_guard lock(mutex);
    return ReviewPending() ? review : std::vector<ActionReview::Item>();
}

int RunController::AnswerReview(const ActionReview::Answer& answer, bool goOn)
{
    std::lock_guard lock(mutex);
    if (!reviewing || answered)
        return kErrObjectNotFound;
    if (cancelled.load())
        return kErrUserCancel;
    // The run's thread waits on this lock's condition: the actions are the front end's to change.
    if (int err = ActionReview::Apply(*reviewing, answer); err != 0)
        return err;
    if (goOn) {
        answered = true;
        changed.notify_all();
    } else {
        review = ActionReview::Snapshot(*reviewing);
    }
    return 0;
}

int RunController::ReviewActions(AArray*, ASync* sync)
{
    RunController* run = gRunning.load();
    if (!run || !sync)
        return kErrUserCancel;
    return run->WaitForReview(*sync);
}

int RunController::WaitForReview(ASync& sync)
{
    // Taken on the run's thread, before the front end can see the actions.
    std::vector<ActionReview::Item> snapshot = ActionReview::Snapshot(sync);
    {
        std::unique_lock lock(mutex);
        if (cancelled.load())
            return kErrUserCancel;
        review = std::move(snapshot);
        reviewing = &sync;
        answered = false;
    }
    platform::PostNotification(platform::notification::kOpenActionsDrawer);
    changed.notify_all();
    bool stop = false;
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return answered || cancelled.load(); });
        stop = cancelled.load();
        reviewing = nullptr;
        answered = false;
        review.clear();
    }
    platform::PostNotification(platform::notification::kCloseActionsDrawer);
    return stop ? kErrUserCancel : 0;
}
