#include "musiclib/ScriptTokenizer.h"

#include "ACommon/base/AError.h"
#include "APlatform/Unicode.h"

#include <algorithm>
#include <charconv>

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr std::string_view kNotEqual = "\xE2\x89\xA0"; // U+2260
constexpr std::string_view kContinuation = "\xC2\xAC"; // U+00AC
constexpr std::string_view kOpenChevron = "\xC2\xAB";  // U+00AB
constexpr std::size_t kReservedTokens = 256;

class Scanner {
public:
    Scanner(std::string_view text, std::vector<ScriptToken>& out) : source(text), tokens(out) {}

    // Empty on success, else what is wrong.
    std::string Run()
    {
        while (at < source.size()) {
            const char c = source[at];
            if (c == ' ' || c == '\t') {
                ++at;
            } else if (c == '\n' || c == '\r') {
                LineEnd();
            } else if (c == '-' && Next(1) == '-') {
                while (at < source.size() && source[at] != '\n' && source[at] != '\r')
                    ++at;
            } else if (Starts(kContinuation)) {
                at += kContinuation.size();
                while (at < source.size() && (source[at] == ' ' || source[at] == '\t'))
                    ++at;
                if (at < source.size() && (source[at] == '\n' || source[at] == '\r')) {
                    SkipLineBreak();
                } else {
                    return Where() + "a continuation mark must end its line";
                }
            } else if (IsLetter(c)) {
                const std::size_t start = at;
                while (at < source.size() && (IsLetter(source[at]) || IsDigit(source[at])))
                    ++at;
                Push(ScriptToken::Type::Word, source.substr(start, at - start));
            } else if (IsDigit(c)) {
                if (std::string why = Number(); !why.empty())
                    return why;
            } else if (c == '"') {
                if (std::string why = String(); !why.empty())
                    return why;
            } else if (c == '(' || c == ')' || c == '{' || c == '}' || c == ',' || c == ':' || c == '=' ||
                       c == '-') {
                Push(ScriptToken::Type::Symbol, source.substr(at, 1));
                ++at;
            } else if (Starts(kNotEqual)) {
                Push(ScriptToken::Type::Symbol, "!=");
                at += kNotEqual.size();
            } else if (Starts(kOpenChevron)) {
                return Where() + "raw event codes in \xC2\xAB\xC2\xBB are not understood";
            } else {
                return Where() + "unexpected character";
            }
        }
        Push(ScriptToken::Type::End, std::string_view());
        return std::string();
    }

private:
    char Next(std::size_t ahead) const { return at + ahead < source.size() ? source[at + ahead] : '\0'; }
    bool Starts(std::string_view text) const { return source.substr(at, text.size()) == text; }
    std::string Where() const { return "line " + std::to_string(line) + ": "; }

    // Made where it is kept: a token moved into place copies its text once more.
    ScriptToken& Push(ScriptToken::Type type, std::string_view text)
    {
        ScriptToken& token = tokens.emplace_back();
        token.type = type;
        token.text.assign(text);
        token.line = line;
        return token;
    }

    void SkipLineBreak()
    {
        if (source[at] == '\r' && Next(1) == '\n')
            ++at;
        ++at;
        ++line;
    }

    void LineEnd()
    {
        Push(ScriptToken::Type::LineEnd, std::string_view());
        SkipLineBreak();
    }

    std::string Number()
    {
        const std::size_t start = at;
        bool real = false;
        while (at < source.size() && IsDigit(source[at]))
            ++at;
        if (at < source.size() && source[at] == '.' && IsDigit(Next(1))) {
            real = true;
            ++at;
            while (at < source.size() && IsDigit(source[at]))
                ++at;
        }
        if (at < source.size() && (source[at] == 'e' || source[at] == 'E')) {
            std::size_t exponent = at + 1;
            if (exponent < source.size() && (source[exponent] == '+' || source[exponent] == '-'))
                ++exponent;
            if (exponent < source.size() && IsDigit(source[exponent])) {
                real = true;
                at = exponent;
                while (at < source.size() && IsDigit(source[at]))
                    ++at;
            }
        }
        if (at < source.size() && IsLetter(source[at]))
            return Where() + "a number runs into a word";
        const std::string_view text = source.substr(start, at - start);
        ScriptToken token;
        token.line = line;
        token.text = std::string(text);
        if (!real) {
            auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), token.integer);
            if (error == std::errc() && end == text.data() + text.size()) {
                token.type = ScriptToken::Type::Integer;
                tokens.push_back(std::move(token));
                return std::string();
            }
        }
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), token.real);
        if (error != std::errc() || end != text.data() + text.size())
            return Where() + "the number " + std::string(text) + " is out of range";
        token.type = ScriptToken::Type::Real;
        tokens.push_back(std::move(token));
        return std::string();
    }

    std::string String()
    {
        const int startLine = line;
        ++at;
        std::string value;
        // At least up to the next quote: most strings are taken in one piece.
        value.reserve(std::min(source.find('"', at), source.size()) - at);
        while (true) {
            if (at >= source.size())
                return "line " + std::to_string(startLine) + ": a string is not closed";
            const char c = source[at];
            if (c == '"') {
                ++at;
                break;
            }
            if (c == '\\') {
                switch (Next(1)) {
                case '"':
                    value += '"';
                    break;
                case '\\':
                    value += '\\';
                    break;
                case 'n':
                    value += '\n';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 't':
                    value += '\t';
                    break;
                default:
                    return Where() + "unknown escape in a string";
                }
                at += 2;
                continue;
            }
            if (c == '\n' || (c == '\r' && Next(1) != '\n'))
                ++line;
            // The plain run up to the next quote, backslash or line break, at once.
            std::size_t end = at + 1;
            while (end < source.size() && source[end] != '"' && source[end] != '\\' && source[end] != '\n' &&
                   source[end] != '\r')
                ++end;
            value.append(source.data() + at, end - at);
            at = end;
        }
        ScriptToken& token = tokens.emplace_back();
        token.type = ScriptToken::Type::String;
        token.text = std::move(value);
        token.line = startLine;
        return std::string();
    }

    std::string_view source;
    std::vector<ScriptToken>& tokens;
    std::size_t at = 0;
    int line = 1;
};

} // namespace

int ScriptTokenizer::Tokenize(std::string_view source, std::vector<ScriptToken>& tokens, std::string& error)
{
    tokens.clear();
    if (source.size() > kMaxScriptBytes) {
        error = "the script is longer than " + std::to_string(kMaxScriptBytes) + " bytes";
        return kErrUnknown;
    }
    // Plain ASCII, as the scripts this program sends are, needs no decoding to be valid.
    const bool ascii = std::all_of(source.begin(), source.end(), [](char c) { return (c & 0x80) == 0; });
    std::u16string scratch;
    if (!ascii && !platform::DecodeUTF8(source, scratch)) {
        error = "the script is not valid UTF-8 text";
        return kErrUnknown;
    }
    // Room for the tokens of a script a sync sends, at once; a longer script grows it as it goes.
    tokens.reserve(std::min<std::size_t>(source.size() / 4 + 4, kReservedTokens));
    error = Scanner(source, tokens).Run();
    if (!error.empty()) {
        tokens.clear();
        return kErrUnknown;
    }
    return 0;
}
