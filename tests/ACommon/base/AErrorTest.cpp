#include "ACommon/base/AError.h"

#include "ACommon/base/AString.h"

#include <gtest/gtest.h>

TEST(AError, CodesHaveTheirMessagesAndOthersAreUnknown)
{
    const std::pair<int, const char*> cases[] = {
        {-1, ": End of file encountered."},
        {-36, ": IO error."},
        {-11163, ": Unable to delete."},
        {-11166, ": End of file encountered."},
        {-102394, ": Insufficient free space or Volume Full."},
        {-102396, ": Failed to add item to Last Sync playlist."},
        {123456, ": User cancel activated."},
        {0, ": Unknown error encountered."},
        {-9, ": Unknown error encountered."},
        {123457, ": Unknown error encountered."},
        {-2147483647 - 1, ": Unknown error encountered."},
    };
    for (auto [code, message] : cases)
        EXPECT_STREQ(AError::Message(code), message) << code;
}

TEST(AError, AddErrorMsgAppendsToTheText)
{
    AString text("a.mp3 ERROR=-11163");
    AError::AddErrorMsg(&text, kErrUnableToDelete);
    EXPECT_EQ(text, "a.mp3 ERROR=-11163: Unable to delete.");
    AError::AddErrorMsg(nullptr, kErrIO); // nothing to append to
}

TEST(AError, FailureDetailFollowsOnlyTheCodeItWasNotedWith)
{
    AError::NoteFailure(kErrIO, "write", AString("/media/u/IPOD/iPod_Control/iTunes/iTunesDB"), 28);
    AString text("-36");
    AError::AddErrorMsg(&text, kErrIO);
    EXPECT_EQ(text,
              "-36: IO error. (cannot write /media/u/IPOD/iPod_Control/iTunes/iTunesDB: No space left on "
              "device)");
    EXPECT_TRUE(AError::FailureDetail(kErrUnknown).IsEmpty());
    text = "-10000";
    AError::AddErrorMsg(&text, kErrUnknown);
    EXPECT_EQ(text, "-10000: Unknown error encountered.");

    AError::NoteFailure(kErrUnknown, AString("the database has no track list"));
    EXPECT_EQ(AError::FailureDetail(kErrUnknown), "the database has no track list");
    EXPECT_TRUE(AError::FailureDetail(kErrIO).IsEmpty()) << "a newer failure replaces the older";
    AError::ClearFailure();
    EXPECT_TRUE(AError::FailureDetail(kErrUnknown).IsEmpty());
}
