#include "ACommon/base/AProgress.h"

#include "ACommon/base/AError.h"
#include "APlatform/Frontend.h"
#include "fixtures/Recorders.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <regex>

namespace {

// A reporter wired to recording sinks, with a recording bus and scripted questions installed for
// the test's duration.
class AProgressTest : public ::testing::Test {
protected:
    AProgress progress;
    platform::RecordingStatusField message;
    platform::RecordingStatusField detail;
    platform::RecordingProgressBar bar;
    platform::RecordingBus bus;
    platform::ScriptedQuestions questions;

    void SetUp() override
    {
        progress.SetProgressControl(&message, &detail, &bar);
        platform::SetNotificationBus(&bus);
        platform::SetQuestionInterface(&questions);
    }
    void TearDown() override
    {
        platform::SetNotificationBus(nullptr);
        platform::SetQuestionInterface(nullptr);
    }

    // The log with every date replaced by "<date>".
    std::string Log() const
    {
        static const std::regex date(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} [+-]\d{4})");
        return std::regex_replace(bus.Log(), date, "<date>");
    }
};

} // namespace

// ---- Divisions and the bar ----

TEST_F(AProgressTest, StartProgressResetsTheStatus)
{
    AString msg("Syncing");
    progress.StartProgress(&msg, 0, 1, 1);
    EXPECT_TRUE(progress.IsRunning());
    EXPECT_TRUE(bar.IsDeterminate());
    EXPECT_EQ(bar.Range(), (std::pair<double, double>{0.0, 1.0}));
    EXPECT_EQ(bar.Value(), 0.0);
    EXPECT_EQ(message.Text() + "|" + detail.Text(), "Syncing|Syncing");
    progress.UpdateDivision(0.5, nullptr, nullptr, nullptr, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.5) << "with no division open the run itself is divided";
    AString step("Building the file list"), empty;
    progress.StartDivision(0.1, &step, 0, 1);
    EXPECT_EQ(message.Text() + "|" + detail.Text(), "Building the file list|Building the file list");
    progress.EndDivision(&empty, 0, 1);
    EXPECT_EQ(message.History().size(), 2u) << "an empty message counts as none";
}

TEST_F(AProgressTest, NestedDivisionsMapFractionsOntoTheWholeBar)
{
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.StartDivision(0.5, nullptr, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.0);
    progress.UpdateDivision(0.5, nullptr, nullptr, nullptr, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.25);
    progress.StartDivision(0.5, nullptr, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.0) << "the nested division starts where the last closed one ended";
    progress.UpdateDivision(1.0, nullptr, nullptr, nullptr, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.25);
    progress.EndDivision(nullptr, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.25);
    EXPECT_DOUBLE_EQ(progress.GetPosition(), 0.25);
    progress.EndDivision(nullptr, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.5);
    EXPECT_DOUBLE_EQ(progress.GetPosition(), 0.5);
    progress.StartDivision(0.5, nullptr, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.5);
    progress.UpdateDivision(0.5, nullptr, nullptr, nullptr, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.75);
    EXPECT_EQ(progress.OpenDivisions(), 1);
}

TEST_F(AProgressTest, BarPositionsStayInRange)
{
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.StartDivision(0.5, nullptr, 0, 0);
    progress.EndDivision(nullptr, 0, 0);
    progress.StartDivision(0.25, nullptr, 0, 0); // absolute width 0.25, starting at 0.5
    const std::pair<double, double> cases[] = {
        {0.0, 0.5},   {1.0, 0.75},  {1.5, 0.75},
        {-1.0, -1.0}, {-0.5, -0.5}, {1.0 + DBL_EPSILON, 0.5 + (1.0 + DBL_EPSILON) * 0.25}};
    for (auto [fraction, expected] : cases)
        EXPECT_DOUBLE_EQ(progress.GetAbsoluteBarPosition(fraction), expected) << fraction;
    // A negative fraction, or one that is not a number, changes only the fields.
    progress.UpdateDivision(0.4, nullptr, nullptr, nullptr, 0);
    AString m("Copying"), d("song.mp3");
    progress.UpdateDivision(-1.0, &m, &d, nullptr, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.6);
    EXPECT_EQ(message.Text() + "|" + detail.Text(), "Copying|song.mp3");
    progress.UpdateDivision(NAN, nullptr, nullptr, nullptr, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.6);
}

TEST_F(AProgressTest, EndProgressClosesEveryDivision)
{
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.StartDivision(0.5, nullptr, 0, 0);
    progress.StartDivision(0.5, nullptr, 0, 0);
    progress.EndProgress(nullptr, 0, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 0.25) << "the end of the innermost division still open";
    EXPECT_FALSE(progress.IsRunning());
    EXPECT_EQ(progress.OpenDivisions(), 0);

    progress.StartProgress(nullptr, 0, 0, 0);
    progress.UpdateDivision(0.4, nullptr, nullptr, nullptr, 0);
    progress.EndProgress(nullptr, 0, 0, 0);
    EXPECT_DOUBLE_EQ(bar.Value(), 1.0);
    progress.StartProgress(nullptr, 0, 0, 0);
    EXPECT_DOUBLE_EQ(progress.GetAbsoluteBarPosition(0.5), 0.5) << "a new run starts from 0";
}

// ---- Notifications and the log ----

TEST_F(AProgressTest, RunsPostTheirNotifications)
{
    AString start("Sync started."), end("Sync completed.");
    progress.StartProgress(&start, 0, 0, 1);
    progress.EndProgress(&end, 0, 0, 1);
    EXPECT_EQ(bus.Names(), (std::vector<std::string>{"CloseSettingsDrawer", "OpenLogDrawer", "LogUpdate",
                                                     "CloseLogDrawer", "LogUpdate"}));
    EXPECT_EQ(Log(), "Sync started.\nSync completed.\n");

    bus.Clear();
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.EndProgress(nullptr, 0, 0, 0);
    EXPECT_EQ(bus.Names(), (std::vector<std::string>{"CloseSettingsDrawer"})) << "no message, nothing logged";
}

TEST_F(AProgressTest, DatesPrecedeMessagesOrStandOnTheirOwnLine)
{
    AString msg("Step one");
    progress.StartProgress(nullptr, 0, 0, 0);
    progress.StartDivision(0.5, &msg, 1, 0);
    EXPECT_EQ(Log(), "<date> Step one\n");
    progress.EndDivision(nullptr, 1, 0); // a date alone waits in the pending log
    AString line("copied a.mp3");
    progress.UpdateDivision(0.5, nullptr, nullptr, &line, 1);
    EXPECT_EQ(Log(), "<date> Step one\n<date>\n<date> copied a.mp3\n");
    EXPECT_EQ(message.History().size(), 0u) << "showMsg 0 leaves the status lines alone";
}

TEST_F(AProgressTest, LogLinesFlushOnlyWhenAsked)
{
    AString text("a");
    progress.AddToLog(&text, 0);
    progress.AddToLog("b", 0);
    progress.AddToLog(-42, 0);
    EXPECT_TRUE(bus.Posted().empty());
    progress.AddErrorMsg(kErrIO, 1);
    ASSERT_EQ(bus.Posted().size(), 1u);
    EXPECT_EQ(bus.Posted()[0], (std::pair<std::string, std::string>{"LogUpdate", "ab-42: IO error."}));
    progress.FlushLog();
    EXPECT_EQ(bus.Posted().size(), 1u) << "nothing pending, nothing posted";
    bus.Clear();
    // Errors: what, where, the code and its message.
    AString what("a.mp3"), nowhere, in(" in iTunes");
    progress.ReportError(kErrUnableToDelete, &what, &nowhere);
    progress.ReportError(0, &what, &nowhere); // success reports nothing
    progress.ReportError(7, &what, &in);
    progress.FlushLog();
    EXPECT_EQ(bus.Log(),
              "a.mp3 ERROR=-11163: Unable to delete.\na.mp3 in iTunes ERROR=7: Unknown error encountered.\n");
}

TEST_F(AProgressTest, ReportMessageLogsThenAlerts)
{
    AString msg("iPod not found.");
    progress.ReportMessage(&msg, 1);
    EXPECT_EQ(Log(), "<date> iPod not found.\n");
    EXPECT_EQ(questions.Informed(), (std::vector<std::string>{"iPod not found."}));
}

TEST_F(AProgressTest, WithoutABusTheLogViewReceivesTheLog)
{
    platform::RecordingLogView view;
    progress.SetLogTextView(&view);
    progress.AddToLog("shown once\n", 1);
    EXPECT_EQ(bus.Log(), "shown once\n");
    EXPECT_EQ(view.Text(), "") << "with a bus the receiver of LogUpdate fills the view";
    platform::SetNotificationBus(nullptr);
    progress.AddToLog("direct\n", 1);
    EXPECT_EQ(view.Text(), "direct\n");
    progress.SetLogTextView(nullptr);
}

// ---- Questions ----

TEST_F(AProgressTest, AlertsMapButtonsToAnswers)
{
    AString title("Replace?"), first("/iPod/a.mp3"), second("/Music/a.mp3");
    const std::pair<const char*, int> buttons[] = {
        {"Yes", 1}, {"Yes to All", 2}, {"No", 3}, {"No to All", 4}, {"Add ID to Prefs", 5}};
    for (auto [button, expected] : buttons) {
        questions.Script({button});
        if (expected != 5) {
            EXPECT_EQ(progress.YesNoAlert(&title, &first, &second), expected) << button;
        }
        questions.Script({button});
        EXPECT_EQ(progress.UnauthorizedAlert(&title, &first), expected) << button;
    }
    const auto asked = questions.Asked();
    EXPECT_EQ(asked[0].title, "Replace?");
    EXPECT_EQ(asked[0].informative, "Copy /iPod/a.mp3\nto /Music/a.mp3");
    EXPECT_EQ(asked[0].buttons, (std::vector<std::string>{"Yes", "No", "Yes to All", "No to All"}));
    EXPECT_EQ(asked.back().informative, "Delete /iPod/a.mp3");
    EXPECT_EQ(asked.back().buttons,
              (std::vector<std::string>{"Yes", "No", "Yes to All", "No to All", "Add ID to Prefs"}));
    questions.Script({"No"});
    EXPECT_EQ(progress.YesNoAlert(&title, &first, nullptr), 3);
    EXPECT_EQ(questions.Asked().back().informative, "Delete /iPod/a.mp3");

    platform::SetQuestionInterface(nullptr);
    EXPECT_EQ(progress.YesNoAlert(&title, &first, nullptr), 3);
    EXPECT_EQ(progress.UnauthorizedAlert(&title, &first), 3);
}
