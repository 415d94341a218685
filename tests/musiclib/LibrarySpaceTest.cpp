// A sync through the library onto an iPod it serves is refused, like any other route, when its
// songs do not fit on the iPod.

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirTunes.h"
#include "ACommon/sync/SyncSession.h"
#include "APlatform/FileSystem.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/LibraryFixture.h"
#include "fixtures/RecordingFrontend.h"
#include "musiclib/LibraryScriptRunner.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using fixtures::LibraryTest;

TEST_F(LibraryTest, ASyncThroughTheLibraryThatDoesNotFitIsRefusedBeforeAnySongIsCopied)
{
    fixtures::RecordingFrontend frontend;
    for (const char* title : {"One", "Two"})
        Add(Song(std::string("in/") + title + ".mp3", Tags(title, "A", "B", 3)));
    const std::string root = AttachNewIPod("Pod");
    MountedIPod pod;
    ASSERT_TRUE(MountedIPod::Read(AString::FromUTF8(root), &pod));

    LibraryScriptRunner runner(dir / "Library");
    platform::SetScriptRunner(&runner);
    platform::OverrideFreeSpaceForTesting(1000);
    int result = 0;
    {
        SyncSession session;
        ASSERT_EQ(session.OpenIPod(ADir::kTypeITunes, AString(ADirTunes::kRootMarker), pod, dir.A("state"),
                                   SyncSession::IPodAccess::kThroughLibrary),
                  0);
        session.Apply(SyncSession::Settings());
        result = session.Run(nullptr, nullptr).result;
    }
    platform::OverrideFreeSpaceForTesting(UINT64_MAX);
    platform::SetScriptRunner(nullptr);

    EXPECT_EQ(result, kErrNoSpace);
    EXPECT_TRUE(fixtures::IPodTitles(root).empty());
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/iPod_Control/Music"))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 0u);
    ASSERT_FALSE(frontend.questions.Informed().empty());
    EXPECT_NE(frontend.questions.Informed().back().find("Not enough space on"), std::string::npos);
}

} // namespace
