// Runs on the worker thread: the busy lock, a cancel that stays set, the review hand-over, and a
// cancel in the middle of copying songs onto an iPod.

#include "ACommon/sync/RunController.h"

#include "ACommon/base/AError.h"
#include "SongsAndIPods.h"
#include "fixtures/FolderPair.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <future>

using fixtures::ListFiles;
using fixtures::WriteFile;

namespace {

constexpr std::chrono::seconds kPatience{30};

using fixtures::Has;

// Waits for the run to want a review (true) or to end (false).
bool WaitForReview(RunController& controller)
{
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < until) {
        switch (controller.Wait(std::chrono::milliseconds(20))) {
        case RunController::Event::kReview:
            return true;
        case RunController::Event::kFinished:
            return false;
        case RunController::Event::kNothing:
            break;
        }
    }
    return false;
}

// Three files on the left to copy to an empty right, reviewed before they are performed.
struct ReviewedCopy : fixtures::FolderPair {
    ReviewedCopy()
    {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            WriteFile(L(name), name);
        EXPECT_EQ(session.OpenFolders(tmp.A("L"), tmp.A("R"), false, tmp.A("state")), 0);
        SyncSession::Settings settings;
        settings.review = true;
        session.Apply(settings);
        EXPECT_EQ(controller.StartSync(session), 0);
    }

    fixtures::RecordingFrontend frontend;
    SyncSession session;
    RunController controller;
};

// Cancels the run when the log shows `marker`.
class CancellingBus : public platform::NotificationBus {
public:
    CancellingBus(RunController& cancelled, std::string text) : controller(cancelled), marker(text) {}
    void Post(const std::string& name, const std::string& text) override
    {
        if (name == "LogUpdate" && Has(text, marker))
            controller.Cancel();
        log.Post(name, text);
    }
    platform::RecordingBus log;

private:
    RunController& controller;
    std::string marker;
};

} // namespace

TEST(RunController, BusyLockRefusesASecondRun)
{
    RunController controller, other;
    std::promise<void> started, cancelSeen;
    std::vector<signed char> checks;
    ASSERT_EQ(controller.StartJob([&](CancelProc cancel) {
        started.set_value();
        while (!cancel())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Checking the cancel never consumes it.
        checks = {cancel(), cancel(), static_cast<signed char>(RunController::IsBusy())};
        return kErrUserCancel;
    }),
              0);
    started.get_future().wait();
    EXPECT_TRUE(RunController::IsBusy());
    EXPECT_EQ(other.StartJob([](CancelProc) { return 0; }), kErrBusy);
    EXPECT_EQ(controller.StartJob([](CancelProc) { return 0; }), kErrBusy);
    controller.Cancel();
    EXPECT_EQ(controller.Join(), kErrUserCancel);
    EXPECT_EQ(checks, (std::vector<signed char>{1, 1, 1}));
    EXPECT_FALSE(RunController::IsBusy());

    // Free again: the next run starts with no cancel.
    ASSERT_EQ(other.StartJob([](CancelProc cancel) { return cancel() ? kErrUserCancel : 0; }), 0);
    EXPECT_EQ(other.Join(), 0);
}

TEST(RunController, TheReasonARunFailedIsKnownWhereItIsJoined)
{
    RunController controller;
    AError::ClearFailure();
    ASSERT_EQ(controller.StartJob([](CancelProc) {
        AError::NoteFailure(kErrVolumeNotFound, AString("the drive of the music seems not to be mounted"));
        return kErrVolumeNotFound;
    }),
              0);
    EXPECT_EQ(controller.Join(), kErrVolumeNotFound);
    EXPECT_EQ(AError::FailureDetail(kErrVolumeNotFound),
              AString("the drive of the music seems not to be mounted"));
}

TEST(RunController, ReviewAnswersAreAppliedWholeOrNotAtAllBeforeTheRunGoesOn)
{
    ReviewedCopy run;
    ASSERT_TRUE(WaitForReview(run.controller));
    ASSERT_EQ(run.controller.GetReview().size(), 3u);
    auto ticks = [&] {
        std::vector<bool> active;
        for (const ActionReview::Item& item : run.controller.GetReview())
            active.push_back(item.active);
        return active;
    };
    // Too few ticks, and a choice for an action that is not an undecided pair: nothing changes.
    ActionReview::Answer wrongCount{{false, true}, {}};
    ActionReview::Answer wrongChoice{{true, false, true}, {{0, ASync::kKeepLeft}}};
    for (const ActionReview::Answer* answer : {&wrongCount, &wrongChoice}) {
        EXPECT_EQ(run.controller.AnswerReview(*answer, true), kErrInvalidElement);
        EXPECT_EQ(ticks(), (std::vector<bool>{true, true, true}));
    }
    EXPECT_TRUE(run.controller.IsWaitingForReview());
    EXPECT_EQ(run.controller.AnswerReview({{true, false, true}, {}}, false), 0);
    EXPECT_EQ(ticks(), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(run.controller.AnswerReview({}, true), 0);
    EXPECT_FALSE(WaitForReview(run.controller));
    EXPECT_EQ(run.controller.Join(), 0);
    EXPECT_EQ(ListFiles(run.tmp / "R"), (std::vector<std::string>{"a.txt", "c.txt"}));
    EXPECT_EQ(run.controller.GetOutcome().summary.ToStdString(),
              "Copied 2 files (10 bytes) to " + run.tmp / "R" +
                  "; removed 0; kept 1 as they were; 0 errors.");
}

TEST(RunController, CancelDuringTheReviewPerformsNothing)
{
    ReviewedCopy run;
    ASSERT_TRUE(WaitForReview(run.controller));
    run.controller.Cancel();
    EXPECT_EQ(run.controller.Join(), kErrUserCancel);
    EXPECT_EQ(run.controller.AnswerReview({}, true), kErrObjectNotFound);
    EXPECT_TRUE(ListFiles(run.tmp / "R").empty());
    EXPECT_TRUE(Has(run.frontend.Log(), "User cancelled."));
    EXPECT_FALSE(Has(run.frontend.Log(), "Performing sync..."));
}

// The second of four songs is large enough to be copied in chunks, and the cancel comes as its copy
// begins: it is given up, nothing after it is performed, and the database written at the end holds
// exactly the song copied before.
TEST(RunController, CancelDuringACopyOntoTheIPodKeepsTheDatabaseWhole)
{
    std::vector<fixtures::SongSpec> songs;
    for (std::string title : {"A One", "B Two", "C Three", "D Four"}) {
        songs.push_back(fixtures::SongSpecOf(title));
        songs.back().bitRate = 320;
        songs.back().seconds = title == "B Two" ? 40 : 1; // the copy cancelled
    }
    syncruns::SongsAndIPods world(songs);
    const MountedIPod pod = world.IPod("POD");
    const std::string ipod = pod.mountPoint.ToStdString();
    SyncSession session;
    ASSERT_EQ(world.Open(session, pod), 0);
    session.Apply(SyncSession::Settings());
    RunController controller;
    CancellingBus bus(controller, "Action 2 of 4 Copying");
    struct Restore {
        platform::NotificationBus* previous;
        ~Restore() { platform::SetNotificationBus(previous); }
    } restore{platform::GetNotificationBus()};
    platform::SetNotificationBus(&bus);

    ASSERT_EQ(controller.StartSync(session), 0);
    EXPECT_EQ(controller.Join(), kErrUserCancel);
    AProgress::Shared().FlushLog();
    const std::string log = bus.log.Log();
    EXPECT_FALSE(Has(log, "Action 3 of 4")) << log;
    EXPECT_TRUE(Has(controller.GetOutcome().summary.ToStdString(), "Cancelled. Copied 1 song ")) << log;

    const auto tracks = fixtures::IPodTracks(ipod);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_TRUE(tracks.at("A One").fileThere);
    // No file of the copy that was given up stays behind.
    EXPECT_EQ(ListFiles(ipod + "/iPod_Control/Music").size(), 1u);
}
