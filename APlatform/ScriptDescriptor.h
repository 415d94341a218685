#pragma once
// ScriptDescriptor: the reply of a script, as a tree. A descriptor is one of: nothing (the script
// ran and its last statement has no value), a list of descriptors, a string, an integer, a real, a
// boolean, a file alias (held as its POSIX path) or raw data. A script that fails gives no
// descriptor at all (ScriptRunner returns an empty optional), which callers tell apart from
// "nothing".
//
// The coercions below are the ones a caller decodes replies with; each says what it gives for the
// kinds it does not naturally hold.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

class ScriptDescriptor {
public:
    enum class Kind { Nothing, List, String, Integer, Real, Boolean, Alias, Data };

    ScriptDescriptor() = default; // nothing
    static ScriptDescriptor List(std::vector<ScriptDescriptor> items);
    static ScriptDescriptor String(std::string utf8);
    static ScriptDescriptor Integer(std::int64_t value);
    static ScriptDescriptor Real(double value);
    static ScriptDescriptor Boolean(bool value);
    static ScriptDescriptor Alias(std::string posixPath);
    static ScriptDescriptor Data(std::vector<std::uint8_t> bytes);

    Kind GetKind() const { return static_cast<Kind>(value.index()); }
    bool IsNothing() const { return GetKind() == Kind::Nothing; }

    // A list's item count; 0 for every other kind.
    int NumberOfItems() const { return static_cast<int>(Items().size()); }
    // Item `index` of a list, counted from 1; null outside the list and for other kinds.
    const ScriptDescriptor* ItemAt(int index) const;
    // A list's items; empty for every other kind.
    const std::vector<ScriptDescriptor>& Items() const;

    // Integer, real (truncated toward zero, clamped) and boolean (0 or 1) as a 32-bit integer; a
    // string that is a decimal number is read as one; anything else gives 0.
    std::int32_t Int32Value() const;
    std::int64_t Int64Value() const;
    // Real, integer, boolean, or a string that is a number; else 0.
    double DoubleValue() const;
    // Boolean; an integer other than 0; the strings "true" and "yes" (case ignored); else false.
    bool BooleanValue() const;
    // The text of a string; integers and reals in decimal, booleans as "true"/"false", an alias as
    // its POSIX path. Lists, data and nothing have no string value.
    std::optional<std::string> StringValue() const;
    // The POSIX path of a file alias; no value for any other kind.
    std::optional<std::string> AliasPath() const;
    // The bytes of raw data; empty for any other kind.
    const std::vector<std::uint8_t>& DataValue() const;

    // The reply as a person reads it: {"a", 2, true}, POSIX file "/x.mp3", «data 120 bytes»;
    // nothing is the empty text.
    std::string Describe() const;

    bool operator==(const ScriptDescriptor& other) const = default;

private:
    struct AliasText {
        std::string posixPath;
        bool operator==(const AliasText&) const = default;
    };
    // One alternative a kind, in the order of Kind.
    using Value = std::variant<std::monostate, std::vector<ScriptDescriptor>, std::string, std::int64_t,
                               double, bool, AliasText, std::vector<std::uint8_t>>;
    explicit ScriptDescriptor(Value held) : value(std::move(held)) {}

    Value value;
};

} // namespace platform
