// Text shown on the terminal: what a tag or a file name holds can neither steer the terminal nor
// start a line of its own.

#include "cli/Terminal.h"

#include <gtest/gtest.h>

#include <string>

TEST(Terminal, OnlyControlCharactersAreShownEscaped)
{
    struct Case {
        std::string in, shown;
    };
    for (const Case& c :
         {Case{"Plain Title", "Plain Title"},
          {"Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB5", "Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB5"},
          {"\x1b[2JCleared", "\\x1b[2JCleared"},
          {"One\nFake line\r", "One\\nFake line\\r"},
          {"a\tb", "a\\tb"},
          {std::string("nul\0bell\x07 del\x7f", 14), "nul\\x00bell\\x07 del\\x7f"},
          {"csi\xC2\x9b"
           "31m \xC2\xA0",
           "csi\\u009b31m \xC2\xA0"},
          {"AC\\DC", "AC\\\\DC"}})
        EXPECT_EQ(cli::TerminalText(c.in), c.shown) << c.shown;
}
