#pragma once
// ScriptTokenizer: splits the text of a script into tokens.
//
//   word     a letter or "_", then letters, digits and "_" (ASCII); case is kept, and the parser
//            compares words ignoring case
//   string   "..." with the escapes \" \\ \n \r \t; may span lines
//   number   digits, optionally "." and digits, optionally an exponent: 12, 7.0, 1e3
//   symbol   ( ) { } , : = and the not-equal sign (U+2260)
//   line end a line feed, a carriage return, or both; a "¬" (U+00AC) before one joins the lines
//   comment  "--" up to the end of the line, left out
//
// The text must be UTF-8 and at most kMaxScriptBytes long. Anything else (a raw event code in
// «», a stray character, an unknown escape, a string left open) is an error with its line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ScriptToken {
    enum class Type { Word, String, Integer, Real, Symbol, LineEnd, End };
    Type type = Type::End;
    std::string text; // the word, the string's value, the symbol ("!=" for the not-equal sign)
    std::int64_t integer = 0;
    double real = 0;
    int line = 1;
};

class ScriptTokenizer {
public:
    static constexpr std::size_t kMaxScriptBytes = 1 << 20;

    // 0 and the tokens, ending with one of type End; else kErrUnknown and `error` set.
    static int Tokenize(std::string_view source, std::vector<ScriptToken>& tokens, std::string& error);
};
