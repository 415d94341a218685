// How a script's names and paths are looked up: paths made normal, class and property names found
// by all their words in any case, strings spanning lines, and playlists of an iPod found by name.

#include "fixtures/LibraryFixture.h"

#include "musiclib/LibrarySource.h"
#include "musiclib/ScriptParser.h"
#include "musiclib/ScriptTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(LibraryPaths, AnAbsolutePathIsMadeNormal)
{
    struct Case {
        const char* path;
        const char* normal;
    };
    for (auto [path, normal] : {
             Case{"/a/b.mp3", "/a/b.mp3"},
             Case{"/a/.b/...mp3", "/a/.b/...mp3"},
             Case{"/a//b", "/a/b"},
             Case{"/a/./b", "/a/b"},
             Case{"/a/x/../b", "/a/b"},
             Case{"/a/b/", "/a/b"},
             Case{"/", "/"},
             Case{"a/b", ""},
         })
        EXPECT_EQ(LibrarySource::NormalPath(path), normal) << path;
}

TEST(ScriptTokenizer, AStringSpanningLinesCountsEachLineBreakOnce)
{
    std::vector<ScriptToken> tokens;
    std::string error;
    ASSERT_EQ(ScriptTokenizer::Tokenize("\"a\r\nb\rc\nd\" x", tokens, error), 0) << error;
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0].text, "a\r\nb\rc\nd");
    EXPECT_EQ(tokens[0].line, 1);
    EXPECT_EQ(tokens[1].line, 4);
}

TEST(ScriptParser, NamesAreFoundByAllTheirWordsInAnyCase)
{
    struct Case {
        const char* body;
        const char* chain; // each link of the reference: p:property or e:class number
    };
    for (auto [body, chain] : {
             Case{"get Special Kind of User Playlist \"a\"", "p:special kind e:2 "},
             Case{"get KIND of library playlist 1", "p:kind e:2 "},
             Case{"get name of every File Track of playlist \"a\"", "p:name e:3 e:2 "},
             Case{"get database ID of tracks", "p:database ID e:3 "},
         }) {
        ScriptProgram program;
        std::string error;
        ASSERT_EQ(ScriptParser::Parse(std::string("tell application \"iTunes\"\n ") + body + "\n end tell",
                                      program, error),
                  0)
            << body << ": " << error;
        const ScriptExpression& reference = *program.statements.at(0).value->operand;
        std::string links;
        for (const ScriptSegment& segment : reference.chain)
            links += segment.type == ScriptSegment::Type::Property
                         ? "p:" + ScriptPropertyText(segment.property) + " "
                         : "e:" + std::to_string(static_cast<int>(segment.elementClass)) + " ";
        EXPECT_EQ(links, chain) << body;
    }
}

class PlaylistLookup : public fixtures::LibraryTest {};

TEST_F(PlaylistLookup, AnIPodsPlaylistIsFoundByItsNameInAnyCase)
{
    AttachNewIPod("Pod");
    MakePlaylist("Road Trip", "Pod");
    EXPECT_EQ(Must(Tell("get name of playlist \"ROAD trip\" of source \"pod\"")).StringValue(), "Road Trip");
    EXPECT_EQ(Must(Tell("get name of playlist \"pod\" of source \"Pod\"")).StringValue(), "Pod");
    std::string error;
    EXPECT_FALSE(Run(Tell("get name of playlist \"Road\" of source \"Pod\""), &error));
    EXPECT_NE(error.find("playlist \"Road\""), std::string::npos) << error;
}
