// `pelorin sync` between the demonstration library and its iPod (attached to the library, so reached
// through it), every sync type in turn, each checked on the iPod with libgpod and in the library
// with its own listing.

#include "GpodPeer.h"

#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class LibrarySyncPeer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Pelorin({"demo", dir.Path()}).exitStatus, 0); }

    fixtures::CommandResult Pelorin(const std::vector<std::string>& args, const std::string& input = "")
    {
        return fixtures::RunPelorin(args, input, fixtures::EnvironmentIn(dir.Path()));
    }
    void Sync(const std::string& type, const std::string& says)
    {
        fixtures::CommandResult run =
            Pelorin({"sync", "--type", type, "--yes", "--allow-mass-deletion", "--delete-instead-of-move"});
        ASSERT_EQ(run.exitStatus, 0) << type << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find(says), std::string::npos) << type << "\n" << run.out;
    }
    // The library's tracks: title to database ID.
    std::map<std::string, std::string> Library()
    {
        std::map<std::string, std::string> tracks;
        std::istringstream lines(Pelorin({"library", "tracks"}).out);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream cut(line);
            for (std::string field; std::getline(cut, field, '\t');)
                fields.push_back(field);
            if (fields.size() >= 4)
                tracks[fields[3]] = fields[0];
        }
        return tracks;
    }
    // The iPod's titles as libgpod reads them, each with its file there.
    std::set<std::string> IPod()
    {
        const std::string root = dir / "Volumes/DEMOPOD";
        peers::PeerDatabase db = peers::ReadWithGpod(root);
        std::set<std::string> titles;
        for (const peers::PeerTrack& track : db.tracks) {
            EXPECT_TRUE(fs::is_regular_file(peers::FileOf(root, track.path))) << track.title;
            titles.insert(track.title);
        }
        return titles;
    }
    void Script(const std::string& body)
    {
        fixtures::CommandResult run =
            Pelorin({"library", "script"}, "tell application \"iTunes\"\n " + body + "\n end tell\n");
        ASSERT_EQ(run.exitStatus, 0) << body << run.err;
    }
    static std::set<std::string> Titles(const std::map<std::string, std::string>& tracks)
    {
        std::set<std::string> titles;
        for (const auto& [title, id] : tracks)
            titles.insert(title);
        return titles;
    }

    fixtures::TempDir dir;
};

} // namespace

TEST_F(LibrarySyncPeer, EverySyncTypeRunsOnTheLibrarysOwnIPod)
{
    std::map<std::string, std::string> library = Library();
    ASSERT_GT(library.size(), 30u);

    Sync("copy-to-ipod", "Copied " + std::to_string(library.size()) + " songs");
    EXPECT_EQ(IPod(), Titles(library));
    Sync("copy-to-ipod", "Copied 0 songs; removed 0");

    // A song removed from the library leaves the iPod with make-ipod-equal.
    auto it = library.begin();
    const std::string gone = it->first;
    Script("delete (first track of playlist \"Library\" whose database ID = " + it->second + ")");
    Sync("make-ipod-equal", "removed 1");
    library = Library();
    EXPECT_EQ(IPod(), Titles(library));

    // Another one comes back from the iPod, as a file of its own in the library's music folder.
    const std::string back = (++library.begin())->first;
    Script("delete (first track of playlist \"Library\" whose database ID = " + library[back] + ")");
    Sync("copy-from-ipod", "Copied 1 song ");
    library = Library();
    EXPECT_EQ(Titles(library), IPod());
    bool placed = false;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "Library/iTunes Music"))
        placed = placed || entry.path().filename().string().find(back) != std::string::npos;
    EXPECT_TRUE(placed) << back;

    // A song taken off the iPod leaves the library with make-library-equal.
    const std::string offIPod = library.rbegin()->first;
    fixtures::CommandResult ids = Pelorin(
        {"library", "script"}, "tell application \"iTunes\"\n database ID of (first track of playlist \"Demo "
                               "iPod\" in source \"Demo iPod\" whose name = \"" +
                                   offIPod + "\")\n end tell\n");
    ASSERT_EQ(ids.exitStatus, 0) << ids.err;
    std::string podId = ids.out;
    podId.erase(std::remove_if(podId.begin(), podId.end(), [](char c) { return c < '0' || c > '9'; }),
                podId.end());
    Script("delete (first track of playlist \"Demo iPod\" in source \"Demo iPod\" whose database ID = " +
           podId + ")");
    Sync("make-library-equal", "removed 1");
    library = Library();
    EXPECT_EQ(library.count(offIPod), 0u);
    EXPECT_EQ(Titles(library), IPod());

    // Merge copies both ways and deletes nothing; synchronize then carries a deletion over.
    Sync("merge", "removed 0");
    Sync("synchronize", "removed 0");
    library = Library();
    const std::string dropped = library.begin()->first;
    Script("delete (first track of playlist \"Library\" whose database ID = " + library[dropped] + ")");
    Sync("synchronize", "removed 1");
    EXPECT_EQ(IPod().count(dropped), 0u);
    EXPECT_EQ(Titles(Library()), IPod());
    EXPECT_EQ(IPod().count(gone), 0u);
}
