#include "APlatform/ScriptDescriptor.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace platform {
namespace {

std::optional<double> ParseNumber(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty())
        return std::nullopt;
    return value;
}

std::string RealText(double value)
{
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc())
        return "0";
    std::string text(buffer, end);
    // A real reads as one: 7.0, not 7.
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

ScriptDescriptor ScriptDescriptor::List(std::vector<ScriptDescriptor> items)
{
    return ScriptDescriptor(Value(std::in_place_type<std::vector<ScriptDescriptor>>, std::move(items)));
}

ScriptDescriptor ScriptDescriptor::String(std::string utf8)
{
    return ScriptDescriptor(Value(std::in_place_type<std::string>, std::move(utf8)));
}

ScriptDescriptor ScriptDescriptor::Integer(std::int64_t number)
{
    return ScriptDescriptor(Value(std::in_place_type<std::int64_t>, number));
}

ScriptDescriptor ScriptDescriptor::Real(double number)
{
    return ScriptDescriptor(Value(std::in_place_type<double>, number));
}

ScriptDescriptor ScriptDescriptor::Boolean(bool flag)
{
    return ScriptDescriptor(Value(std::in_place_type<bool>, flag));
}

ScriptDescriptor ScriptDescriptor::Alias(std::string posixPath)
{
    return ScriptDescriptor(Value(std::in_place_type<AliasText>, AliasText{std::move(posixPath)}));
}

ScriptDescriptor ScriptDescriptor::Data(std::vector<std::uint8_t> bytes)
{
    return ScriptDescriptor(Value(std::in_place_type<std::vector<std::uint8_t>>, std::move(bytes)));
}

const std::vector<ScriptDescriptor>& ScriptDescriptor::Items() const
{
    static const std::vector<ScriptDescriptor> kNone;
    const auto* items = std::get_if<std::vector<ScriptDescriptor>>(&value);
    return items ? *items : kNone;
}

const std::vector<std::uint8_t>& ScriptDescriptor::DataValue() const
{
    static const std::vector<std::uint8_t> kNone;
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value);
    return bytes ? *bytes : kNone;
}

const ScriptDescriptor* ScriptDescriptor::ItemAt(int index) const
{
    const std::vector<ScriptDescriptor>& items = Items();
    if (index < 1 || index > static_cast<int>(items.size()))
        return nullptr;
    return &items[static_cast<std::size_t>(index - 1)];
}

std::int64_t ScriptDescriptor::Int64Value() const
{
    switch (GetKind()) {
    case Kind::Integer:
        return std::get<std::int64_t>(value);
    case Kind::Boolean:
        return std::get<bool>(value) ? 1 : 0;
    case Kind::Real:
    case Kind::String: {
        const double number = DoubleValue();
        if (!std::isfinite(number))
            return 0;
        constexpr double kLimit = 9.2e18;
        return static_cast<std::int64_t>(std::fmax(-kLimit, std::fmin(kLimit, std::trunc(number))));
    }
    default:
        return 0;
    }
}

std::int32_t ScriptDescriptor::Int32Value() const
{
    const std::int64_t number = Int64Value();
    if (number > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (number < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(number);
}

double ScriptDescriptor::DoubleValue() const
{
    switch (GetKind()) {
    case Kind::Integer:
    case Kind::Boolean:
        return static_cast<double>(Int64Value());
    case Kind::Real:
        return std::get<double>(value);
    case Kind::String: {
        const std::string& text = std::get<std::string>(value);
        // "7.0.2" reads as 7.0: the leading number, as a version is read.
        std::size_t end = 0;
        bool dot = false;
        while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) ||
                                     (text[end] == '.' && !dot) || (end == 0 && text[end] == '-'))) {
            dot = dot || text[end] == '.';
            ++end;
        }
        return ParseNumber(text.substr(0, end)).value_or(0);
    }
    default:
        return 0;
    }
}

bool ScriptDescriptor::BooleanValue() const
{
    switch (GetKind()) {
    case Kind::Boolean:
    case Kind::Integer:
        return Int64Value() != 0;
    case Kind::String: {
        std::string lower;
        for (char c : std::get<std::string>(value))
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower == "true" || lower == "yes";
    }
    default:
        return false;
    }
}

std::optional<std::string> ScriptDescriptor::StringValue() const
{
    switch (GetKind()) {
    case Kind::String:
        return std::get<std::string>(value);
    case Kind::Alias:
        return std::get<AliasText>(value).posixPath;
    case Kind::Integer:
        return std::to_string(std::get<std::int64_t>(value));
    case Kind::Real:
        return RealText(std::get<double>(value));
    case Kind::Boolean:
        return std::string(std::get<bool>(value) ? "true" : "false");
    default:
        return std::nullopt;
    }
}

std::optional<std::string> ScriptDescriptor::AliasPath() const
{
    if (const auto* alias = std::get_if<AliasText>(&value))
        return alias->posixPath;
    return std::nullopt;
}

std::string ScriptDescriptor::Describe() const
{
    switch (GetKind()) {
    case Kind::Nothing:
        return std::string();
    case Kind::List: {
        const std::vector<ScriptDescriptor>& items = Items();
        std::string out = "{";
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0)
                out += ", ";
            out += items[i].IsNothing() ? std::string("missing value") : items[i].Describe();
        }
        return out + "}";
    }
    case Kind::String:
        return Quoted(std::get<std::string>(value));
    case Kind::Integer:
    case Kind::Real:
    case Kind::Boolean:
        return *StringValue();
    case Kind::Alias:
        return "POSIX file " + Quoted(std::get<AliasText>(value).posixPath);
    case Kind::Data:
        return "\xC2\xAB"
               "data " +
               std::to_string(DataValue().size()) + " bytes\xC2\xBB";
    }
    return std::string();
}

} // namespace platform
