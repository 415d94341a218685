#pragma once
// The tree a script is parsed into (ScriptParser) and run from (ScriptInterpreter).

#include "musiclib/ScriptProperty.h"
#include "musiclib/ScriptValue.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ScriptExpression;

// One test of a "whose" clause.
struct ScriptCondition {
    ScriptProperty property = ScriptProperty::Name;
    bool equal = true;
    std::unique_ptr<ScriptExpression> value;
};

// One link of a reference: "every track", "playlist \"Rock\"", "name", or, last in a reference,
// the value it starts from: "(...)" or a variable.
struct ScriptSegment {
    enum class Type { Element, Property, Start };
    enum class Selector { Every, Index, Name };

    Type type = Type::Element;
    ObjectClass elementClass = ObjectClass::Track;
    Selector selector = Selector::Every;
    std::int64_t index = 0; // from 1; -1 is the last
    std::string name;
    std::vector<ScriptCondition> whose;
    ScriptProperty property = ScriptProperty::Name;
    std::unique_ptr<ScriptExpression> start;
};

struct ScriptExpression {
    enum class Type {
        Literal,   // literal: text, number, boolean, constant, nothing
        Alias,     // text: a colon path ("alias ...")
        PosixFile, // text: a POSIX path ("POSIX file ...")
        Variable,  // text
        Reference, // chain, the first link outermost
        List,      // items
        Get,       // operand
        Count,     // operand
        Add,       // operand, target (may be null)
        Make,      // makeClass, target (may be null), properties
        Delete,    // operand
    };

    Type type = Type::Literal;
    int line = 0;
    ScriptValue literal;
    std::string text;
    std::vector<ScriptSegment> chain;
    std::vector<std::unique_ptr<ScriptExpression>> items;
    std::unique_ptr<ScriptExpression> operand;
    std::unique_ptr<ScriptExpression> target;
    ObjectClass makeClass = ObjectClass::Playlist;
    std::vector<std::pair<ScriptProperty, std::unique_ptr<ScriptExpression>>> properties;
};

struct ScriptStatement {
    enum class Type {
        Expression,  // value
        SetVariable, // variable, value
        SetProperty, // property, target (the object), value
        Update,      // target (may be null: every source)
    };

    Type type = Type::Expression;
    int line = 0;
    std::string variable;
    ScriptProperty property = ScriptProperty::Name;
    std::unique_ptr<ScriptExpression> target;
    std::unique_ptr<ScriptExpression> value;
};

struct ScriptProgram {
    std::string application;
    std::vector<ScriptStatement> statements;
    // True when a statement may change the library (add, make, delete, set a property, update).
    bool changes = false;
};
