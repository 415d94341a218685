#include "ACommon/base/AError.h"

#include "ACommon/base/AString.h"

#include <gtest/gtest.h>

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
