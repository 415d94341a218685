#include "ACommon/AError.h"

#include "ACommon/AString.h"

#include <gtest/gtest.h>

TEST(AError, EveryCodeHasItsMessage)
{
    struct Case {
        int code;
        const char* message;
    };
    const Case cases[] = {
        {-1, ": End of file encountered."},
        {-2, ": Invalid element."},
        {-3, ": Not connected to service."},
        {-4, ": Duplicate encountered."},
        {-5, ": Invalid path."},
        {-6, ": COM Error Occured."},
        {-7, ": Invalid PlayList."},
        {-8, ": iPod on auto-update mode."},
        {-36, ": IO error."},
        {-108, ": Out of memory."},
        {-8546, ": No version found."},
        {-10000, ": Unknown error encountered."},
        {-10001, ": iTunes refused to process the request."},
        {-10003, ": Original file path in destination not found."},
        {-11159, ": File type error."},
        {-11160, ": File not found."},
        {-11161, ": Unable to verify."},
        {-11162, ": Unable to copy."},
        {-11163, ": Unable to delete."},
        {-11164, ": Unable to determine which file is newer during Merge/Sync."},
        {-11165, ": Duplicate names."},
        {-11166, ": End of file encountered."},
        {-11167, ": The request is not supported."},
        {-102389, ": Version error."},
        {-102390, ": Service is busy."},
        {-102391, ": Object not found."},
        {-102392, ": Inconsistent size."},
        {-102393, ": iTunes reported an error adding a song. Possible cause Unauthorized Music."},
        {-102394, ": Insufficient free space or Volume Full."},
        {-102395,
         ": iTunes reported an error adding a song to a playlist. Possible cause Unauthorized Music."},
        {-102396, ": Failed to add item to Last Sync playlist."},
        {123456, ": User cancel activated."},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(AError::Message(c.code), c.message) << c.code;
}

TEST(AError, CodesOutsideTheTableAreUnknown)
{
    for (int code : {0, 7, -9, -37, -121798, 123457, -2147483647 - 1})
        EXPECT_STREQ(AError::Message(code), ": Unknown error encountered.") << code;
}

TEST(AError, NamedConstantsCarryTheirCodes)
{
    EXPECT_EQ(kErrUserCancel, 123456);
    EXPECT_EQ(kErrBusy, -102390);
    EXPECT_EQ(kErrVersion, -102389);
    EXPECT_EQ(kErrNoSpace, -102394);
    EXPECT_EQ(kErrUnknown, -10000);
    EXPECT_EQ(kErrIO, -36);
    EXPECT_EQ(kErrEndOfFile, -11166);
    EXPECT_EQ(kErrOpen, -1);
}

TEST(AError, AddErrorMsgAppendsToTheText)
{
    AString text("a.mp3 ERROR=-11163");
    AError::AddErrorMsg(&text, kErrUnableToDelete);
    EXPECT_EQ(text, "a.mp3 ERROR=-11163: Unable to delete.");
    AError::AddErrorMsg(nullptr, kErrIO); // nothing to append to
}
