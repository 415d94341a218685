#include "musiclib/ScriptParser.h"

#include "musiclib/ScriptTokenizer.h"

#include "ACommon/base/AError.h"

#include <algorithm>
#include <optional>
#include <set>
#include <unordered_map>

namespace {

struct ParseFailure {
    std::string why;
};

struct ClassName {
    ObjectClass objectClass;
    bool plural;
    std::vector<std::string_view> words;
};

const std::vector<ClassName>& ClassNames()
{
    // The longer names first. "user playlist" and "library playlist" are other names of playlist.
    static const std::vector<ClassName> names = {
        {ObjectClass::Playlist, false, {"user", "playlist"}},
        {ObjectClass::Playlist, true, {"user", "playlists"}},
        {ObjectClass::Playlist, false, {"library", "playlist"}},
        {ObjectClass::Playlist, true, {"library", "playlists"}},
        {ObjectClass::Track, false, {"file", "track"}},
        {ObjectClass::Track, true, {"file", "tracks"}},
        {ObjectClass::Source, false, {"source"}},
        {ObjectClass::Source, true, {"sources"}},
        {ObjectClass::Playlist, false, {"playlist"}},
        {ObjectClass::Playlist, true, {"playlists"}},
        {ObjectClass::Track, false, {"track"}},
        {ObjectClass::Track, true, {"tracks"}},
        {ObjectClass::Artwork, false, {"artwork"}},
        {ObjectClass::Artwork, true, {"artworks"}},
    };
    return names;
}

const char* const kConstants[] = {"library", "ipod"};

constexpr std::size_t kKeptTokens = 1024;

// The names of a list (classes or properties) whose first word has a word's length and first letter
// (case ignored), in the list's order: every link of a reference is tried against the names, and
// each word can only begin the few of them.
template <typename Name> class FirstWordIndex {
public:
    explicit FirstWordIndex(const std::vector<Name>& names)
    {
        for (std::size_t i = 0; i < names.size(); ++i)
            candidates[KeyOf(names[i].words.front())].push_back(&names[i]);
    }

    const std::vector<const Name*>& Candidates(std::string_view word) const
    {
        static const std::vector<const Name*> kNone;
        auto found = word.empty() ? candidates.end() : candidates.find(KeyOf(word));
        return found == candidates.end() ? kNone : found->second;
    }

private:
    static std::size_t KeyOf(std::string_view word)
    {
        char first = word.front();
        if (first >= 'A' && first <= 'Z')
            first = static_cast<char>(first - 'A' + 'a');
        return word.size() << 8 | static_cast<unsigned char>(first);
    }

    std::unordered_map<std::size_t, std::vector<const Name*>> candidates;
};

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// `text` is `word` (lower case) with ASCII case ignored, compared without a copy: every link of a
// reference is tried against each property and class name.
bool IsLowerWord(std::string_view text, std::string_view word)
{
    if (text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

const std::set<std::string>& ReservedWords()
{
    static const std::set<std::string> words = [] {
        std::set<std::string> all = {
            "tell",    "end",    "application", "of",   "in",    "whose",      "where", "every",
            "first",   "last",   "get",         "set",  "to",    "count",      "add",   "make",
            "new",     "delete", "update",      "at",   "with",  "properties", "is",    "not",
            "equal",   "equals", "and",         "true", "false", "alias",      "posix", "file",
            "missing", "value",  "library",     "ipod", "user"};
        for (const ClassName& name : ClassNames())
            for (std::string_view word : name.words)
                all.insert(std::string(word));
        for (const ScriptPropertyName& name : ScriptPropertyNames())
            for (std::string_view word : name.words)
                all.insert(std::string(word));
        return all;
    }();
    return words;
}

class Parser {
public:
    explicit Parser(const std::vector<ScriptToken>& list) : tokens(list) {}

    void Program(ScriptProgram& program)
    {
        SkipLineEnds();
        ExpectWord("tell");
        ExpectWord("application");
        if (Peek().type != ScriptToken::Type::String)
            Fail("the application's name must be a string");
        program.application = Peek().text;
        if (Lower(program.application) != "itunes")
            Fail("application \"" + program.application + "\" is not known here");
        ++at;
        ExpectLineEnd();
        while (true) {
            SkipLineEnds();
            if (Peek().type == ScriptToken::Type::End)
                Fail("\"end tell\" is missing");
            if (AcceptWord("end")) {
                AcceptWord("tell");
                break;
            }
            program.statements.push_back(Statement());
            ExpectLineEnd();
        }
        SkipLineEnds();
        if (Peek().type != ScriptToken::Type::End)
            Fail("nothing may follow \"end tell\"");
        program.changes = changes;
    }

private:
    // ---- tokens ---------------------------------------------------------------------------------

    const ScriptToken& Peek(std::size_t ahead = 0) const
    {
        const std::size_t index = std::min(at + ahead, tokens.size() - 1);
        return tokens[index];
    }

    bool IsWordAhead(std::string_view word, std::size_t ahead) const
    {
        const ScriptToken& token = Peek(ahead);
        return token.type == ScriptToken::Type::Word && IsLowerWord(token.text, word);
    }
    bool IsWord(std::string_view word) const { return IsWordAhead(word, 0); }
    bool AcceptWord(std::string_view word)
    {
        if (!IsWord(word))
            return false;
        ++at;
        return true;
    }
    void ExpectWord(std::string_view word)
    {
        if (!AcceptWord(word))
            Fail("expected \"" + std::string(word) + "\" but found " + Found());
    }
    bool IsSymbol(std::string_view symbol, std::size_t ahead = 0) const
    {
        return Peek(ahead).type == ScriptToken::Type::Symbol && Peek(ahead).text == symbol;
    }
    bool AcceptSymbol(std::string_view symbol)
    {
        if (!IsSymbol(symbol))
            return false;
        ++at;
        return true;
    }
    void ExpectSymbol(std::string_view symbol)
    {
        if (!AcceptSymbol(symbol))
            Fail("expected \"" + std::string(symbol) + "\" but found " + Found());
    }
    void SkipLineEnds()
    {
        while (Peek().type == ScriptToken::Type::LineEnd)
            ++at;
    }
    void ExpectLineEnd()
    {
        if (Peek().type != ScriptToken::Type::LineEnd)
            Fail("expected the end of the line but found " + Found());
        ++at;
    }

    std::string Found() const
    {
        const ScriptToken& token = Peek();
        switch (token.type) {
        case ScriptToken::Type::Word:
            return "\"" + token.text + "\"";
        case ScriptToken::Type::String:
            return "a string";
        case ScriptToken::Type::Integer:
        case ScriptToken::Type::Real:
            return "the number " + token.text;
        case ScriptToken::Type::Symbol:
            return "\"" + token.text + "\"";
        case ScriptToken::Type::LineEnd:
            return "the end of the line";
        case ScriptToken::Type::End:
            return "the end of the script";
        }
        return "something else";
    }

    [[noreturn]] void Fail(const std::string& why) const
    {
        throw ParseFailure{"line " + std::to_string(Peek().line) + ": " + why};
    }

    // Matches a multi-word name at the current token; the number of words, or 0.
    std::size_t MatchWords(const std::vector<std::string_view>& words) const
    {
        for (std::size_t i = 0; i < words.size(); ++i)
            if (!IsWordAhead(words[i], i))
                return 0;
        return words.size();
    }

    std::optional<ScriptProperty> MatchProperty(bool advance)
    {
        static const FirstWordIndex<ScriptPropertyName> index(ScriptPropertyNames());
        if (Peek().type != ScriptToken::Type::Word)
            return std::nullopt;
        for (const ScriptPropertyName* name : index.Candidates(Peek().text)) {
            if (std::size_t n = MatchWords(name->words); n > 0) {
                if (advance)
                    at += n;
                return name->property;
            }
        }
        return std::nullopt;
    }

    const ClassName* MatchClass(std::size_t* length) const
    {
        static const FirstWordIndex<ClassName> index(ClassNames());
        if (Peek().type != ScriptToken::Type::Word)
            return nullptr;
        for (const ClassName* name : index.Candidates(Peek().text)) {
            if (std::size_t n = MatchWords(name->words); n > 0) {
                *length = n;
                return name;
            }
        }
        return nullptr;
    }

    bool IsVariableWord(const ScriptToken& token) const
    {
        return token.type == ScriptToken::Type::Word && ReservedWords().count(Lower(token.text)) == 0;
    }

    // ---- statements -----------------------------------------------------------------------------

    ScriptStatement Statement()
    {
        ScriptStatement statement;
        statement.line = Peek().line;
        if (AcceptWord("set")) {
            if (IsVariableWord(Peek()) && IsWordAhead("to", 1)) {
                statement.type = ScriptStatement::Type::SetVariable;
                statement.variable = Lower(Peek().text);
                at += 2;
                statement.value = Expression();
                // Defined from here on; the value may not use it.
                variables.insert(statement.variable);
                return statement;
            }
            const std::optional<ScriptProperty> property = MatchProperty(true);
            if (!property)
                Fail("\"set\" takes a variable or a property of an object, not " + Found());
            if (!AcceptWord("of") && !AcceptWord("in"))
                Fail("expected \"of\" after the property to set but found " + Found());
            statement.type = ScriptStatement::Type::SetProperty;
            statement.property = *property;
            statement.target = Reference();
            ExpectWord("to");
            statement.value = Expression();
            changes = true;
            return statement;
        }
        if (AcceptWord("update")) {
            statement.type = ScriptStatement::Type::Update;
            if (Peek().type != ScriptToken::Type::LineEnd && Peek().type != ScriptToken::Type::End)
                statement.target = Expression();
            changes = true;
            return statement;
        }
        statement.type = ScriptStatement::Type::Expression;
        statement.value = Expression();
        return statement;
    }

    // ---- expressions ----------------------------------------------------------------------------

    class Nesting {
    public:
        explicit Nesting(Parser& nested) : parser(nested)
        {
            if (++nested.depth > ScriptParser::kMaxDepth)
                nested.Fail("the script nests too deeply");
        }
        ~Nesting() { --parser.depth; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& parser;
    };

    std::unique_ptr<ScriptExpression> NewExpression(ScriptExpression::Type type) const
    {
        auto expression = std::make_unique<ScriptExpression>();
        expression->type = type;
        expression->line = Peek().line;
        return expression;
    }

    std::unique_ptr<ScriptExpression> Expression()
    {
        Nesting nesting(*this);
        if (AcceptWord("get")) {
            auto expression = NewExpression(ScriptExpression::Type::Get);
            expression->operand = Expression();
            return expression;
        }
        if (AcceptWord("count")) {
            auto expression = NewExpression(ScriptExpression::Type::Count);
            AcceptWord("of");
            expression->operand = Expression();
            return expression;
        }
        if (AcceptWord("add")) {
            auto expression = NewExpression(ScriptExpression::Type::Add);
            expression->operand = Expression();
            if (AcceptWord("to"))
                expression->target = Expression();
            changes = true;
            return expression;
        }
        if (AcceptWord("make")) {
            auto expression = NewExpression(ScriptExpression::Type::Make);
            AcceptWord("new");
            std::size_t length = 0;
            const ClassName* name = MatchClass(&length);
            if (!name || name->plural || name->objectClass != ObjectClass::Playlist)
                Fail("only a playlist can be made, not " + Found());
            at += length;
            expression->makeClass = name->objectClass;
            if (AcceptWord("of") || AcceptWord("at") || AcceptWord("in"))
                expression->target = Expression();
            if (AcceptWord("with")) {
                ExpectWord("properties");
                ExpectSymbol("{");
                do {
                    const std::optional<ScriptProperty> property = MatchProperty(true);
                    if (!property)
                        Fail("expected a property but found " + Found());
                    ExpectSymbol(":");
                    expression->properties.emplace_back(*property, Expression());
                } while (AcceptSymbol(","));
                ExpectSymbol("}");
            }
            changes = true;
            return expression;
        }
        if (AcceptWord("delete")) {
            auto expression = NewExpression(ScriptExpression::Type::Delete);
            expression->operand = Expression();
            changes = true;
            return expression;
        }
        return Reference();
    }

    std::unique_ptr<ScriptExpression> Reference()
    {
        auto reference = NewExpression(ScriptExpression::Type::Reference);
        reference->chain.reserve(4);
        while (true) {
            reference->chain.push_back(Link());
            if (reference->chain.back().type == ScriptSegment::Type::Start) {
                if (IsWord("of") || IsWord("in"))
                    Fail("a value cannot contain objects: found " + Found());
                break;
            }
            if (!AcceptWord("of") && !AcceptWord("in"))
                break;
        }
        if (IsWord("whose") || IsWord("where")) {
            ++at;
            auto element =
                std::find_if(reference->chain.begin(), reference->chain.end(),
                             [](const ScriptSegment& s) { return s.type == ScriptSegment::Type::Element; });
            if (element == reference->chain.end())
                Fail("\"whose\" needs elements to test, such as \"every track\"");
            do {
                element->whose.push_back(Condition());
            } while (AcceptWord("and"));
        }
        // A reference that is only a value is that value.
        if (reference->chain.size() == 1 && reference->chain.front().type == ScriptSegment::Type::Start)
            return std::move(reference->chain.front().start);
        return reference;
    }

    ScriptSegment Link()
    {
        ScriptSegment segment;
        std::size_t length = 0;
        if (AcceptWord("every")) {
            const ClassName* name = MatchClass(&length);
            if (!name)
                Fail("expected what to take every one of, but found " + Found());
            at += length;
            segment.elementClass = name->objectClass;
            return segment;
        }
        if (IsWord("first") || IsWord("last")) {
            const bool first = IsWord("first");
            ++at;
            const ClassName* name = MatchClass(&length);
            if (!name || name->plural)
                Fail("expected an object after \"" + std::string(first ? "first" : "last") + "\" but found " +
                     Found());
            at += length;
            segment.elementClass = name->objectClass;
            segment.selector = ScriptSegment::Selector::Index;
            segment.index = first ? 1 : -1;
            return segment;
        }
        if (const ClassName* name = MatchClass(&length)) {
            const ScriptToken& next = Peek(length);
            if (name->plural) {
                at += length;
                segment.elementClass = name->objectClass;
                return segment;
            }
            if (next.type == ScriptToken::Type::Integer ||
                (IsSymbol("-", length) && Peek(length + 1).type == ScriptToken::Type::Integer)) {
                at += length;
                const bool negative = AcceptSymbol("-");
                segment.elementClass = name->objectClass;
                segment.selector = ScriptSegment::Selector::Index;
                segment.index = negative ? -Peek().integer : Peek().integer;
                if (segment.index == 0)
                    Fail("objects are counted from 1");
                ++at;
                return segment;
            }
            if (next.type == ScriptToken::Type::String) {
                at += length;
                segment.elementClass = name->objectClass;
                segment.selector = ScriptSegment::Selector::Name;
                segment.name = Peek().text;
                ++at;
                return segment;
            }
        }
        if (const std::optional<ScriptProperty> property = MatchProperty(true)) {
            segment.type = ScriptSegment::Type::Property;
            segment.property = *property;
            return segment;
        }
        if (MatchClass(&length))
            Fail("expected a number or a name after \"" + Peek().text + "\" but found " + Found(length));
        segment.type = ScriptSegment::Type::Start;
        segment.start = Primary();
        return segment;
    }

    std::string Found(std::size_t ahead)
    {
        const std::size_t saved = at;
        at += ahead;
        std::string text = Found();
        at = saved;
        return text;
    }

    ScriptCondition Condition()
    {
        ScriptCondition condition;
        const std::optional<ScriptProperty> property = MatchProperty(true);
        if (!property)
            Fail("expected a property to test but found " + Found());
        condition.property = *property;
        if (AcceptSymbol("=") || AcceptWord("equals")) {
            condition.equal = true;
        } else if (AcceptSymbol("!=")) {
            condition.equal = false;
        } else if (AcceptWord("is")) {
            condition.equal = !AcceptWord("not");
            if (AcceptWord("equal"))
                ExpectWord("to");
        } else {
            Fail("expected \"=\" or \"is not equal to\" but found " + Found());
        }
        condition.value = Value();
        if (!condition.value)
            Fail("expected a value to test against but found " + Found());
        return condition;
    }

    // A plain value; null when the token is not one.
    std::unique_ptr<ScriptExpression> Value()
    {
        const ScriptToken& token = Peek();
        auto literal = [&](ScriptValue value) {
            auto expression = NewExpression(ScriptExpression::Type::Literal);
            expression->literal = std::move(value);
            ++at;
            return expression;
        };
        switch (token.type) {
        case ScriptToken::Type::String:
            return literal(ScriptValue::Text(token.text));
        case ScriptToken::Type::Integer:
            return literal(ScriptValue::Integer(token.integer));
        case ScriptToken::Type::Real:
            return literal(ScriptValue::Real(token.real));
        case ScriptToken::Type::Symbol:
            if (token.text == "-" && Peek(1).type == ScriptToken::Type::Integer) {
                ++at;
                return literal(ScriptValue::Integer(-Peek().integer));
            }
            if (token.text == "-" && Peek(1).type == ScriptToken::Type::Real) {
                ++at;
                return literal(ScriptValue::Real(-Peek().real));
            }
            return nullptr;
        case ScriptToken::Type::Word:
            break;
        default:
            return nullptr;
        }
        const std::string word = Lower(token.text);
        if (word == "true" || word == "false")
            return literal(ScriptValue::Boolean(word == "true"));
        for (const char* constant : kConstants)
            if (word == constant)
                return literal(ScriptValue::Constant(word == "ipod" ? "iPod" : word));
        if (IsVariableWord(token)) {
            if (variables.count(word) == 0)
                Fail("the variable " + token.text + " is used before it is set");
            auto expression = NewExpression(ScriptExpression::Type::Variable);
            expression->text = word;
            ++at;
            return expression;
        }
        return nullptr;
    }

    std::unique_ptr<ScriptExpression> Primary()
    {
        if (AcceptSymbol("(")) {
            auto inner = Expression();
            ExpectSymbol(")");
            return inner;
        }
        if (AcceptSymbol("{")) {
            Nesting nesting(*this);
            auto list = NewExpression(ScriptExpression::Type::List);
            if (!AcceptSymbol("}")) {
                do {
                    list->items.push_back(Expression());
                } while (AcceptSymbol(","));
                ExpectSymbol("}");
            }
            return list;
        }
        if (IsWord("missing") && IsWordAhead("value", 1)) {
            at += 2;
            return NewExpression(ScriptExpression::Type::Literal);
        }
        if (IsWord("alias") || (IsWord("posix") && IsWordAhead("file", 1))) {
            const bool alias = IsWord("alias");
            at += alias ? 1 : 2;
            if (Peek().type != ScriptToken::Type::String)
                Fail("expected the file's path as a string but found " + Found());
            auto file =
                NewExpression(alias ? ScriptExpression::Type::Alias : ScriptExpression::Type::PosixFile);
            file->text = Peek().text;
            ++at;
            return file;
        }
        if (auto value = Value())
            return value;
        Fail("expected a value or an object but found " + Found());
    }

    const std::vector<ScriptToken>& tokens;
    std::size_t at = 0;
    int depth = 0;
    bool changes = false;
    std::set<std::string> variables;
};

} // namespace

int ScriptParser::Parse(std::string_view source, ScriptProgram& program, std::string& error)
{
    program = ScriptProgram();
    // The room for the tokens is kept from one script to the next of this thread (a sync parses a
    // script or more a song), unless a long script made it large.
    thread_local std::vector<ScriptToken> tokens;
    struct Kept {
        std::vector<ScriptToken>& tokens;
        ~Kept()
        {
            tokens.clear();
            if (tokens.capacity() > kKeptTokens)
                std::vector<ScriptToken>().swap(tokens);
        }
    } kept{tokens};
    if (int err = ScriptTokenizer::Tokenize(source, tokens, error); err != 0)
        return err;
    try {
        Parser(tokens).Program(program);
    } catch (const ParseFailure& failure) {
        error = failure.why;
        program = ScriptProgram();
        return kErrUnknown;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        program = ScriptProgram();
        return kErrOutOfMemory;
    }
    return 0;
}
