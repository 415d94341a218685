#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const char* const kHeader =
    "path\tname\tartist\talbum\tgenre\tcomposer\ttvshow\ttrack\tdisc\tdisccount\tyear\t"
    "compilation\tpodcast\tmediakind\tduration\tbitrate\tsize\tpictures\tmusicstart\t"
    "musicend\tappleid\ttagkinds\tresult";

// The lines of a text, or the tab-separated fields of a line.
std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

fixtures::SongSpec Song(const std::string& title)
{
    fixtures::SongSpec song;
    song.title = title;
    song.artist = "Artist";
    song.album = "Album";
    song.genre = "Rock";
    song.composer = "Composer";
    song.track = 3;
    song.trackCount = 12;
    song.disc = 1;
    song.discCount = 2;
    song.year = 1999;
    song.seconds = 3;
    song.picture = fixtures::FakeJpeg(200);
    return song;
}

class TagsCommand : public testing::Test {
protected:
    fixtures::TempDir dir;
};

TEST_F(TagsCommand, PrintsOneTabSeparatedLinePerFile)
{
    fixtures::WriteSong(dir / "a.mp3", Song("a\tb\nc\\d"));
    fixtures::WriteSong(dir / "b.m4a", Song("Song B"));
    fixtures::WriteSong(dir / "c.aif", Song("Song C"));
    fixtures::WriteSong(dir / "d.flac", Song("Lossless"));
    auto result = fixtures::RunPelorin({"tags", dir / "a.mp3", dir / "b.m4a", dir / "c.aif", dir / "d.flac"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::string> lines = Split(result.out, '\n');
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], kHeader);
    const std::string mp3Size = std::to_string(fixtures::ReadFile(dir / "a.mp3").size());
    // The music start (field 18) depends on the tag's layout.
    std::vector<std::string> mp3 = Split(lines[1], '\t');
    ASSERT_EQ(mp3.size(), 23u);
    mp3[18] = "-";
    std::string joined;
    for (const std::string& field : mp3)
        joined += field + "|";
    EXPECT_EQ(joined, dir / "a.mp3" + "|a\\tb\\nc\\\\d|Artist|Album|Rock|Composer||3|1|2|1999|0|0|-1|3|128|" +
                          mp3Size + "|1|-|" + std::to_string(std::stoul(mp3Size) - 1) + "||ID3v2.3|0|");
    const std::vector<std::string> m4a = Split(lines[2], '\t'), aif = Split(lines[3], '\t'),
                                   flac = Split(lines[4], '\t');
    ASSERT_EQ(m4a.size() + aif.size() + flac.size(), 69u);
    EXPECT_EQ(m4a[1] + "|" + m4a[14] + "|" + m4a[21], "Song B|3|MP4");
    EXPECT_EQ(aif[1] + "|" + aif[15] + "|" + aif[21], "Song C|128|ID3v2.3");
    EXPECT_EQ(flac[1] + "|" + flac[21], "Lossless|Vorbis comment");
}

TEST_F(TagsCommand, FileThatCannotBeReadStillGetsItsLine)
{
    fixtures::WriteSong(dir / "good.mp3", Song("Good"));
    auto result = fixtures::RunPelorin({"tags", dir / "missing.mp3", dir / "good.mp3"});
    EXPECT_EQ(result.exitStatus, 1);
    std::vector<std::string> lines = Split(result.out, '\n');
    ASSERT_EQ(lines.size(), 3u);
    std::vector<std::string> missing = Split(lines[1], '\t');
    ASSERT_EQ(missing.size(), 23u);
    EXPECT_EQ(missing[0], dir / "missing.mp3");
    EXPECT_EQ(missing[22], "-11160");
    EXPECT_EQ(Split(lines[2], '\t')[1], "Good");
    EXPECT_NE(result.err.find(dir / "missing.mp3"), std::string::npos);
    EXPECT_NE(result.err.find("-11160"), std::string::npos);
}

TEST_F(TagsCommand, JsonPrintsOneObjectPerFileWithEscapedStrings)
{
    fixtures::WriteSong(dir / "q.mp3", Song("Say \"Hi\"\t\\ \x01 Caf\xC3\xA9"));
    auto result = fixtures::RunPelorin({"tags", "--json", dir / "q.mp3", dir / "none.m4a"});
    EXPECT_EQ(result.exitStatus, 1);
    std::vector<std::string> lines = Split(result.out, '\n');
    ASSERT_EQ(lines.size(), 2u);
    const std::string& first = lines[0];
    EXPECT_EQ(first.rfind("{\"path\":\"" + dir / "q.mp3" +
                              "\",\"name\":\"Say \\\"Hi\\\"\\t\\\\ \\u0001 Caf\xC3\xA9\",",
                          0),
              0u)
        << first;
    EXPECT_NE(
        first.find(",\"track\":3,\"disc\":1,\"disccount\":2,\"year\":1999,\"compilation\":0,\"podcast\":0,"
                   "\"mediakind\":-1,\"duration\":3,\"bitrate\":128,"),
        std::string::npos)
        << first;
    EXPECT_NE(first.find(",\"appleid\":\"\",\"tagkinds\":\"ID3v2.3\",\"result\":0}"), std::string::npos)
        << first;
    EXPECT_EQ(first.back(), '}');
    EXPECT_NE(lines[1].find("\"result\":-11160}"), std::string::npos) << lines[1];
}

TEST_F(TagsCommand, JsonReplacesPathBytesThatAreNotUTF8)
{
    auto result = fixtures::RunPelorin({"tags", "--json", "/nowhere/\xFF.mp3"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out.rfind("{\"path\":\"/nowhere/\xEF\xBF\xBD.mp3\",", 0), 0u) << result.out;
}

} // namespace
