#include "musiclib/ScriptParser.h"
#include "musiclib/ScriptTokenizer.h"

#include <gtest/gtest.h>

namespace {

std::string Tokens(const std::string& source)
{
    std::vector<ScriptToken> tokens;
    std::string error;
    if (ScriptTokenizer::Tokenize(source, tokens, error) != 0)
        return "error: " + error;
    // Each kind's mark, in the order of ScriptToken::Type; a number shows its value, a line end its line.
    static const char* const kMarks[] = {"w:", "s:", "i:", "r:", "y:", "eol@", "end"};
    std::string out;
    for (const ScriptToken& token : tokens) {
        out += kMarks[static_cast<int>(token.type)];
        if (token.type == ScriptToken::Type::Integer)
            out += std::to_string(token.integer);
        else if (token.type == ScriptToken::Type::LineEnd)
            out += std::to_string(token.line);
        else if (token.type != ScriptToken::Type::End)
            out += token.text;
        out += ' ';
    }
    return out;
}

} // namespace

TEST(ScriptTokenizer, SplitsEveryKindOfToken)
{
    struct Case {
        const char* source;
        const char* tokens;
    };
    for (auto [source, tokens] : {
             Case{"get version", "w:get w:version end "},
             Case{"\"a \\\"b\\\" c\\\\d\"", "s:a \"b\" c\\d end "},
             Case{"\"tab\\tline\\nend\"", "s:tab\tline\nend end "},
             Case{"\"two\nlines\"\nx", "s:two\nlines eol@2 w:x end "},
             Case{"12 7.0 1e3 -4", "i:12 r:7.0 r:1e3 y:- i:4 end "},
             Case{"a = b \xE2\x89\xA0 c", "w:a y:= w:b y:!= w:c end "},
             Case{"x -- a comment \"not a string\ny", "w:x eol@1 w:y end "},
             Case{"a \xC2\xAC\n b\r\nc\rd", "w:a w:b eol@2 w:c eol@3 w:d end "},
             Case{"(every track) {name:\"x\"}", "y:( w:every w:track y:) y:{ w:name y:: s:x y:} end "},
             Case{"\"unclosed", "error: line 1: a string is not closed"},
             Case{"\"bad \\q escape\"", "error: line 1: unknown escape in a string"},
             Case{"\xC2\xAB"
                  "event hookhook"
                  "\xC2\xBB",
                  "error: line 1: raw event codes in \xC2\xAB\xC2\xBB are not understood"},
             Case{"get \xFF", "error: the script is not valid UTF-8 text"},
             Case{"x\ny @", "error: line 2: unexpected character"},
             Case{"99999999999999999999999", "r:99999999999999999999999 end "},
             Case{"12abc", "error: line 1: a number runs into a word"},
         })
        EXPECT_EQ(Tokens(source), tokens) << source;
}

TEST(ScriptTokenizer, RefusesAScriptLongerThanTheLimit)
{
    std::vector<ScriptToken> tokens;
    std::string error;
    EXPECT_NE(
        ScriptTokenizer::Tokenize(std::string(ScriptTokenizer::kMaxScriptBytes + 1, ' '), tokens, error), 0);
    EXPECT_TRUE(tokens.empty());
}

TEST(ScriptParser, RefusesWholeScriptsThatDoNotParse)
{
    struct Case {
        const char* source;
        const char* error;
    };
    for (auto [source, error] : {
             Case{"get version", "line 1: expected \"tell\" but found \"get\""},
             Case{"tell application \"Finder\"\n get version\n end tell",
                  "application \"Finder\" is not known"},
             Case{"tell application \"iTunes\"\n get version\n", "\"end tell\" is missing"},
             Case{"tell application \"iTunes\"\n get version\n end tell\n get version", "nothing may follow"},
             Case{"tell application \"iTunes\"\n get name of x\n end tell",
                  "the variable x is used before it is set"},
             Case{"tell application \"iTunes\"\n set x to x\n end tell",
                  "the variable x is used before it is set"},
             Case{"tell application \"iTunes\"\n make track\n end tell", "only a playlist can be made"},
             Case{"tell application \"iTunes\"\n name whose name = \"a\"\n end tell",
                  "\"whose\" needs elements"},
             Case{"tell application \"iTunes\"\n get playlist of source \"a\"\n end tell",
                  "expected a number or a name after \"playlist\""},
             Case{"tell application \"iTunes\"\n track 0 of playlist \"a\"\n end tell", "counted from 1"},
             Case{"tell application \"iTunes\"\n get version get version\n end tell",
                  "expected the end of the line"},
             // A name inserted without escaping ends its string early: the rest is refused, never run.
             Case{"tell application \"iTunes\"\n delete playlist \"12\" Mixes\" of source \"Library\"\n end "
                  "tell",
                  "line 2: a string is not closed"},
             Case{"tell application \"iTunes\"\n delete playlist \"x\" of source \"Library\" delete every "
                  "track \"\" "
                  "of source \"Library\"\n end tell",
                  "line 2: expected the end of the line but found \"delete\""},
             Case{
                 "tell application \"iTunes\"\n get name of playlist \"a\" \n delete every track\n end tell\n"
                 "delete every playlist",
                 "nothing may follow"},
         }) {
        ScriptProgram program;
        std::string message;
        EXPECT_NE(ScriptParser::Parse(source, program, message), 0) << source;
        EXPECT_NE(message.find(error), std::string::npos) << source << "\n -> " << message;
        EXPECT_TRUE(program.statements.empty()) << source;
    }
}

TEST(ScriptParser, RefusesNestingDeeperThanTheLimitWithoutExhaustingTheStack)
{
    const int depth = 100000;
    const std::string source = "tell application \"iTunes\"\n get " + std::string(depth, '(') + "1" +
                               std::string(depth, ')') + "\n end tell";
    ScriptProgram program;
    std::string error;
    EXPECT_NE(ScriptParser::Parse(source, program, error), 0);
    EXPECT_NE(error.find("nests too deeply"), std::string::npos) << error;

    const std::string shallow = "tell application \"iTunes\"\n get ((((1))))\n end tell";
    EXPECT_EQ(ScriptParser::Parse(shallow, program, error), 0) << error;
}

TEST(ScriptParser, MarksScriptsThatChangeTheLibrary)
{
    struct Case {
        const char* body;
        bool changes;
    };
    for (auto [body, changes] : {
             Case{"name of every playlist", false},
             Case{"count of (every track in playlist \"a\" whose kind is not equal to \"b\")", false},
             Case{"set x to playlist \"a\"\n get name of x", false},
             Case{"delete playlist \"a\"", true},
             Case{"set x to make playlist\n set name of x to \"b\"", true},
             Case{"add alias \"Root:a.mp3\"", true},
             Case{"update", true},
         }) {
        ScriptProgram program;
        std::string error;
        ASSERT_EQ(ScriptParser::Parse(std::string("tell application \"iTunes\"\n ") + body + "\n end tell",
                                      program, error),
                  0)
            << body << ": " << error;
        EXPECT_EQ(program.changes, changes) << body;
    }
}
