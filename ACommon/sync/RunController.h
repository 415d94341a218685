#pragma once
// RunController: runs a sync, or any other long job (the library tools), on a worker thread while
// the front end's own thread stays free, and carries what passes between the two.
//
// - The busy lock: one run at a time in the whole process, syncs and tools alike. The starting
//   thread takes it without waiting; the run's thread releases it as the very last thing it does,
//   so a run is busy until its thread has ended.
// - Cancel: a flag, set once by the front end and never consumed by a check; it stays set until
//   the run's thread has ended, so every step polled after it sees it. CancelRequested is the
//   cancel callback every long operation of a run polls.
// - Review: when a sync would show its planned actions, the run's thread publishes a snapshot of
//   them and waits. The front end answers with ticks and choices for undecided pairs, applied whole
//   or not at all while the run still waits, and lets it go on; or it cancels, which sets the flag
//   before the waiting run is woken, so that the run performs nothing.
//
// The run posts "ShowStatusItems" and "DisableSyncPopUpsEtc" when it starts, "OpenActionsDrawer"
// and "CloseActionsDrawer" around a review, and "HideStatusItems" and "EnableSyncPopUpsEtc" when it
// ends, on the notification bus.

#include "ACommon/base/AFile.h"
#include "ACommon/sync/ASync.h"
#include "ACommon/sync/ActionReview.h"
#include "ACommon/sync/SyncSession.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class RunController {
public:
    // A job run on the worker thread; it polls `cancel` and returns 0, kErrUserCancel or an error.
    using Job = std::function<int(CancelProc cancel)>;
    // What Wait saw.
    enum class Event { kNothing, kReview, kFinished };

    RunController() = default;
    // Cancels a run of this controller that is still going and waits for its thread.
    ~RunController();
    RunController(const RunController&) = delete;
    RunController& operator=(const RunController&) = delete;

    // Runs `session` (SyncSession::Run) on a worker thread. 0 when it started; kErrBusy when a run
    // holds the busy lock (nothing started). The session must stay until the run has ended.
    int StartSync(SyncSession& session);
    // Runs `job` on a worker thread under the busy lock, with this controller's cancel.
    int StartJob(Job job);

    // True while any run of the process holds the busy lock.
    static bool IsBusy();
    // The cancel callback of the running run: 1 once its cancel was asked for.
    static signed char CancelRequested();

    // Asks the run to stop; wakes it when it waits for the review. Any thread may call it.
    void Cancel();

    // Waits at most `timeout` for the run to want a review or to end.
    Event Wait(std::chrono::milliseconds timeout);
    // Waits for the run's thread to end; its result (0 when nothing ran), with the reason the run
    // noted for it noted on the calling thread too (AError::FailureDetail).
    int Join();
    int GetResult() const;
    // The outcome of the last sync run (once it has ended).
    const SyncSession::Outcome& GetOutcome() const { return outcome; }

    // True while the run waits for the front end's review.
    bool IsWaitingForReview() const;
    // The actions under review, as they stand; empty when no review waits.
    std::vector<ActionReview::Item> GetReview() const;
    // Applies `answer` to the actions under review, whole or not at all (ActionReview::Apply),
    // and, with `goOn`, lets the run perform them. kErrObjectNotFound when no review waits; kErrUserCancel
    // when the run was cancelled; kErrInvalidElement for an answer that does not fit (nothing changed, the
    // run still waits).
    int AnswerReview(const ActionReview::Answer& answer, bool goOn);

private:
    int Start(std::function<int()> body);
    // The review procedure the syncs of a run call (ASync::ActionsListProc).
    static int ReviewActions(AArray* actions, ASync* sync);
    int WaitForReview(ASync& sync);
    // A review waits for an answer (and was not cancelled); the caller holds `mutex`.
    bool ReviewPending() const;

    std::thread worker;
    std::atomic<bool> cancelled{false};
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool finished = true;
    int result = 0;
    AString resultDetail;       // the reason noted with `result` on the run's thread
    ASync* reviewing = nullptr; // the sync whose actions wait for the review
    bool answered = false;
    std::vector<ActionReview::Item> review;
    SyncSession::Outcome outcome;
};
