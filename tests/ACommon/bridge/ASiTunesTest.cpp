// The bridge's script texts byte for byte, the decoding of replies, and the faults a missing or
// short reply must not turn into an empty answer.

#include "ACommon/bridge/ASiTunes.h"

#include "ACommon/base/AError.h"
#include "APlatform/ScriptRunner.h"
#include "fixtures/Pictures.h"
#include "fixtures/Recorders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

using platform::ScriptDescriptor;

namespace {

// Records every script and answers from a queue (no reply once the queue is empty).
class FakeRunner : public platform::ScriptRunner {
public:
    std::optional<ScriptDescriptor> Run(std::string_view source, std::string*) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        scripts.emplace_back(source);
        if (answer)
            return answer(source);
        if (replies.empty())
            return std::nullopt;
        std::optional<ScriptDescriptor> reply = std::move(replies.front());
        replies.pop_front();
        return reply;
    }
    std::mutex mutex;
    std::vector<std::string> scripts;
    std::deque<std::optional<ScriptDescriptor>> replies;
    std::function<std::optional<ScriptDescriptor>(std::string_view)> answer;
};

ScriptDescriptor Strings(std::initializer_list<const char*> items)
{
    std::vector<ScriptDescriptor> list;
    for (const char* item : items)
        list.push_back(ScriptDescriptor::String(item));
    return ScriptDescriptor::List(std::move(list));
}

class ASiTunesTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetScriptRunner(&runner); }
    void TearDown() override { platform::SetScriptRunner(nullptr); }
    FakeRunner runner;
};

// A script as the bridge sends it: `body` inside a tell block.
std::string Tell(const std::string& body, const char* end = "\n end tell\n")
{
    return "tell application \"iTunes\"\n " + body + end;
}

} // namespace

TEST_F(ASiTunesTest, ScriptTextsAreByteExactWithEveryValueEscaped)
{
    ASiTunes bridge;
    bridge.SetPlaylistName(AString("12\" Mixes \\ x"));
    bridge.SetIPodName(AString("Bob's \"Pod\""));
    const std::string p = "playlist \"12\\\" Mixes \\\\ x\"", s = "source \"Bob's \\\"Pod\\\"\"";
    const std::string lib = " whose kind is not equal to \"MPEG audio stream\")",
                      art = "(first track of " + p;
    std::vector<std::uint8_t> data;
    AString name, lastSync("Last Sync");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { bridge.GetLibName(); }, Tell("name of every source whose kind = library")},
        {[&] { ASiTunes::GetITunesPlaylist(0, &name); }, Tell("name of every playlist")},
        {[&] { bridge.GetIPodPlaylist(0, &name); }, Tell("name of every playlist in " + s + " ")},
        {[&] { ASiTunes::GetIPodCountiTunes(); }, Tell("count (every source whose kind = iPod)")},
        {[&] { bridge.GetIPodNameiTunes(0); }, Tell("name of every source whose kind = iPod")},
        {[&] { ASiTunes::GetITunesVersion(); }, Tell("get version")},
        {[&] { bridge.LibCount(); }, Tell("count of (every track in " + p + lib)},
        {[&] { bridge.IPodSongCount(); }, Tell("get count of every track of " + p + " in " + s)},
        {[&] { bridge.GetITunesSongAlbumArtCount(42); },
         Tell("count of (every artwork of (artworks of " + art + " whose database ID = 42)))")},
        {[&] { bridge.GetIPodSongAlbumArtCount(42); },
         Tell("count of (every artwork of (artworks of " + art + " in " + s + " whose database ID = 42)))")},
        {[&] { bridge.GetITunesSongAlbumArt(42, 1, &data); },
         Tell("data of (artwork 2 of (artworks of " + art + " whose database ID = 42)))")},
        {[&] { bridge.GetIPodSongAlbumArt(42, 0, &data); },
         Tell("data of (artwork 1 of (artworks of " + art + " in " + s + " whose database ID = 42)))")},
        {[&] { bridge.DeleteITunesSong(7); },
         Tell("delete (first track of " + p + " whose database ID = 7)")},
        {[&] { bridge.DeleteIPodSong(7); },
         Tell("delete (first track of " + p + " in " + s + " whose database ID = 7)")},
        {[&] { bridge.ITunesAddSongFromDisk(AString("/home/a/\"x\".mp3"), nullptr); },
         Tell("set fileTrack to add alias \"Root:home:a:\\\"x\\\".mp3\" to " + p +
                  "\n get database ID of fileTrack",
              "\n end tell")},
        {[&] { bridge.IPodAddSongFromDisk(AString("/a.mp3"), &lastSync); },
         Tell("set fileTrack to add alias \"Root:a.mp3\" to playlist \"Last Sync\" in " + s +
                  "\n get database ID of fileTrack",
              "\n end tell")},
        {[&] { bridge.IPodAddSong(AString("/a.mp3"), &lastSync, nullptr); },
         Tell("set fileTrack to add alias \"Root:a.mp3\" to " + p + " in " + s +
                  "\n add fileTrack to playlist \"Last Sync\" in " + s +
                  "\n get {database ID of fileTrack, location of fileTrack}",
              "\n end tell")},
        {[&] { bridge.ITunesAddSong(AString("/a.mp3"), &lastSync); },
         Tell("set fileTrack to add alias \"Root:a.mp3\" to " + p +
                  "\n add fileTrack to playlist \"Last Sync\"\n get database ID of fileTrack",
              "\n end tell")},
        {[&] { bridge.ITunesAddSongToPlaylist(lastSync, 9); },
         Tell("set fileTrack to add (get location of first track of " + p +
                  " whose database ID = 9) to playlist \"Last Sync\"\n get database ID of fileTrack",
              "\n end tell")},
        {[&] { bridge.MakePlaylistITunes(AString("a\"b")); },
         Tell(
             "set myPlayList to make playlist of source \"Library\"\n set name of myPlayList to \"a\\\"b\"")},
        {[&] { bridge.MakePlaylistIPod(AString("x")); },
         Tell("set myPlayList to make playlist of " + s + "\n set name of myPlayList to \"x\"")},
        {[&] { bridge.DeletePlaylistITunes(AString("x\\")); },
         Tell("delete playlist \"x\\\\\" of source \"Library\"")},
        {[&] { bridge.DeletePlaylistIPod(AString("x")); }, Tell("delete playlist \"x\" of " + s)},
        // The playlist type asks two questions.
        {[&] { bridge.GetIPodPlayListType(); },
         "tell application \"iTunes\"\nget smart of " + p + " in " + s + "\n end tell\n" +
             "tell application \"iTunes\"\nget special kind of " + p + " in " + s + "\n end tell\n"},
    };
    for (const auto& [call, script] : cases) {
        runner.scripts.clear();
        call();
        std::string sent;
        for (const std::string& one : runner.scripts)
            sent += one;
        EXPECT_EQ(sent, script);
    }
}

TEST_F(ASiTunesTest, NamesWithLineBreaksAreRefusedBeforeAnythingIsSent)
{
    ASiTunes bridge;
    bridge.SetPlaylistName(AString("a\"\n end tell\n delete every track"));
    EXPECT_EQ(bridge.LibCount(), -1);
    EXPECT_NE(bridge.DeleteITunesSong(1), 0);
    EXPECT_NE(bridge.MakePlaylistITunes(AString("x\ry")), 0);
    EXPECT_EQ(bridge.ITunesAddSongFromDisk(AString("/a\n.mp3"), nullptr), -1);
    EXPECT_TRUE(runner.scripts.empty());
}

TEST_F(ASiTunesTest, RepliesDecodeAsTheCallersExpect)
{
    ASiTunes bridge;
    bridge.SetPlaylistName(AString("P"));
    struct Version {
        const char* reply;
        int expected;
    };
    for (auto [reply, expected] : {Version{"6.0.5", 600}, Version{"7.0", 700}, Version{"7.0.2", 700}}) {
        runner.replies.push_back(ScriptDescriptor::String(reply));
        EXPECT_EQ(ASiTunes::GetITunesVersion(), expected) << reply;
    }
    EXPECT_EQ(ASiTunes::GetITunesVersion(), -1);
    EXPECT_EQ(bridge.LibCount(), -1) << "no reply";
    EXPECT_EQ(bridge.IPodSongCount(), -1) << "no reply";

    runner.replies.push_back(Strings({"X", "Y"}));
    EXPECT_EQ(bridge.GetIPodNameiTunes(0), AString("Y\nX\n"));
    runner.replies.push_back(Strings({"X", "Y"}));
    EXPECT_EQ(bridge.GetIPodNameiTunes(5), AString("X"));
    EXPECT_EQ(bridge.GetIPodNameiTunes(1), AString("X")) << "no reply keeps the name";

    // Deleting: no reply, a reply with a value, and the empty reply.
    EXPECT_EQ(bridge.DeleteITunesSong(1), -1);
    runner.replies.push_back(ScriptDescriptor::Integer(1));
    EXPECT_EQ(bridge.DeleteITunesSong(1), kErrUnableToDelete);
    runner.replies.push_back(ScriptDescriptor());
    EXPECT_EQ(bridge.DeleteITunesSong(1), 0);

    // Adding to a playlist succeeds only with the same track back.
    runner.replies.push_back(ScriptDescriptor::Integer(8));
    EXPECT_EQ(bridge.ITunesAddSongToPlaylist(AString("L"), 9), kErrAddToPlaylist);
    runner.replies.push_back(ScriptDescriptor::Integer(9));
    EXPECT_EQ(bridge.ITunesAddSongToPlaylist(AString("L"), 9), 0);

    struct Kind {
        bool smart;
        const char* kind;
        int expected;
    };
    for (auto [smart, kind, expected] :
         {Kind{true, "kSpN", 0}, Kind{false, "kSpM", 7}, Kind{false, "Audiobooks", 1},
          Kind{false, "kSpN", 11}, Kind{false, "kSpP", 6}, Kind{false, "kSpI", 4}, Kind{false, "kSpS", 5},
          Kind{false, "kSpZ", 12}}) {
        runner.replies.push_back(ScriptDescriptor::Boolean(smart));
        if (!smart)
            runner.replies.push_back(ScriptDescriptor::String(kind));
        EXPECT_EQ(bridge.GetITunesPlayListType(), expected) << kind;
    }
    EXPECT_EQ(bridge.GetITunesPlayListType(), 12) << "no reply";
}

TEST_F(ASiTunesTest, AStoreAccountIsDecodedWithinTheDataOnly)
{
    auto encode = [](const std::u16string& account, std::size_t zeros, int length) {
        std::vector<std::uint8_t> data(zeros, 0);
        data.push_back(static_cast<std::uint8_t>(length));
        data.push_back(static_cast<std::uint8_t>(length >> 8));
        for (char16_t unit : account) {
            data.push_back(static_cast<std::uint8_t>(unit));
            data.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        return data;
    };
    EXPECT_EQ(ASiTunes::DecodeUserID(encode(u"a@b.com", 8, 7)), AString("a@b.com"));
    EXPECT_EQ(ASiTunes::DecodeUserID(encode(u"a@b.com", 8, 90)), AString()) << "a length past the end";
    EXPECT_EQ(ASiTunes::DecodeUserID(encode(u"a@b.com", 0, 7)), AString()) << "nothing before the length";
    EXPECT_EQ(ASiTunes::DecodeUserID({}), AString());
    EXPECT_EQ(ASiTunes::DecodeUserID({0x40, 0}), AString());
    EXPECT_EQ(ASiTunes::DecodeUserID(encode(u"nobody", 8, 6)), AString());
}

TEST_F(ASiTunesTest, MusicFolderUrlsDecodeEveryEscape)
{
    struct Case {
        const char* url;
        const char* folder;
    };
    for (auto [url, folder] : {
             Case{"file://localhost/Users/a/Music/iTunes/iTunes%20Music/",
                  "/Users/a/Music/iTunes/iTunes Music"},
             Case{"file:///home/a/Caf%C3%A9%2520/", "/home/a/Caf\xC3\xA9%20"},
             Case{"file://localhost/", "/"},
             Case{"file://localhostrelative/x/", ""},
             Case{"http://localhost/x/", ""},
             Case{"file:///a/%2", ""},
             Case{"file:///a/%00b", ""},
             Case{"file:///a/%FF", ""},
         })
        EXPECT_EQ(ASiTunes::DecodeFolderUrl(url), AString(folder)) << url;
}

TEST_F(ASiTunesTest, ArtIsStoredAsJpeg)
{
    const std::vector<std::uint8_t> png = fixtures::MakePng(1, 1, fixtures::Rgb{255, 0, 0});
    std::vector<std::uint8_t> jpeg;
    ASSERT_TRUE(ASiTunes::ToJpeg(png, &jpeg));
    ASSERT_GT(jpeg.size(), 3u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    const std::vector<std::uint8_t> raw = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3};
    ASSERT_TRUE(ASiTunes::ToJpeg(raw, &jpeg));
    EXPECT_EQ(jpeg, raw);
    EXPECT_FALSE(ASiTunes::ToJpeg({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}, &jpeg));
    EXPECT_FALSE(ASiTunes::ToJpeg({'G', 'I', 'F'}, &jpeg));
}

TEST_F(ASiTunesTest, ASecondCallerWaitsForTheFirstScript)
{
    std::atomic<bool> inFirst{false};
    std::atomic<int> running{0}, most{0};
    runner.answer = [&](std::string_view) -> std::optional<ScriptDescriptor> {
        const int now = ++running;
        most = std::max(most.load(), now);
        inFirst = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        --running;
        return ScriptDescriptor::Integer(3);
    };
    AProgress progress;
    int counts[2] = {0, 0};
    std::thread first([&] { counts[0] = ASiTunes::Send2iTunes("a", &progress)->Int32Value(); });
    while (!inFirst)
        std::this_thread::yield();
    std::thread second([&] { counts[1] = ASiTunes::Send2iTunes("b", &progress)->Int32Value(); });
    first.join();
    second.join();
    EXPECT_EQ(counts[0], 3);
    EXPECT_EQ(counts[1], 3);
    EXPECT_EQ(most.load(), 1);

    // A wait that gives up fails the script and logs why.
    platform::RecordingLogView log;
    progress.SetLogTextView(&log);
    ASiTunes::SetLockWaitForTesting(1);
    std::atomic<bool> release{false};
    inFirst = false;
    runner.answer = [&](std::string_view) -> std::optional<ScriptDescriptor> {
        inFirst = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ScriptDescriptor();
    };
    std::thread holder([&] { ASiTunes::Send2iTunes("hold", &progress); });
    while (!inFirst)
        std::this_thread::yield();
    EXPECT_FALSE(ASiTunes::Send2iTunes("late", &progress));
    EXPECT_NE(
        log.Text().find("Error communicating with iTunes: Simultaneous calls to iTunes not allowed. \n"),
        std::string::npos)
        << log.Text();
    release = true;
    holder.join();
    ASiTunes::SetLockWaitForTesting(0);
}
