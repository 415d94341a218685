#pragma once
// ScriptParser: parses the whole text of a script into a ScriptProgram before any of it runs. A
// script that does not parse is refused whole: nothing of it is run.
//
// The language is a small part of AppleScript, the part that talks to a music library. Words are
// compared ignoring case; "eol" is a line end.
//
//   script       = { eol } "tell" "application" STRING eol { [ statement ] eol }
//                  "end" [ "tell" ] { eol } end-of-text
//   statement    = "set" VARIABLE "to" expression
//                | "set" property ("of" | "in") reference "to" expression
//                | "update" [ expression ]                    -- writes iPods back
//                | expression
//   expression   = "get" expression
//                | "count" [ "of" ] expression
//                | "add" expression [ "to" expression ]
//                | "make" [ "new" ] class [ ("of" | "at" | "in") expression ]
//                         [ "with" "properties" "{" property ":" expression { "," ... } "}" ]
//                | "delete" expression
//                | reference
//   reference    = link { ("of" | "in") link } [ whose ]
//   link         = "every" class | plural
//                | ("first" | "last") class
//                | class INTEGER | class "-" INTEGER | class STRING
//                | property
//                | primary                                     -- only as the last link
//   whose        = ("whose" | "where") test { "and" test }    -- filters the first element link
//   test         = property ("=" | "is" | "equals" | "is equal to") value
//                | property ("!=" | "is not" | "is not equal to") value
//   value        = STRING | number | "-" number | "true" | "false" | constant | VARIABLE
//   primary      = "(" expression ")" | value | "missing value" | "alias" STRING
//                | "POSIX" "file" STRING | "{" [ expression { "," expression } ] "}"
//   class        = "source" | "playlist" | "user playlist" | "library playlist" | "track"
//                | "file track" | "artwork"                  -- plural: the same with "s"
//   constant     = "library" | "iPod"
//   property     = "name" | "version" | "kind" | "smart" | "special kind" | "artist"
//                | "album artist" | "album" | "genre" | "composer" | "show" | "location" | "size"
//                | "duration" | "bit rate" | "sample rate" | "track number" | "track count"
//                | "disc number" | "disc count" | "year" | "compilation" | "podcast"
//                | "database ID" | "data" | "format"
//
// A variable must be set before it is used. Parentheses and lists nest at most kMaxDepth deep.

#include "musiclib/ScriptTree.h"

#include <string>
#include <string_view>

class ScriptParser {
public:
    static constexpr int kMaxDepth = 64;

    // 0 and the program; else kErrUnknown and `error` set (with the line).
    static int Parse(std::string_view source, ScriptProgram& program, std::string& error);
};
