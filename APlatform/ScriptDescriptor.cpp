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
    ScriptDescriptor d;
    d.kind = Kind::List;
    d.items = std::move(items);
    return d;
}

ScriptDescriptor ScriptDescriptor::String(std::string utf8)
{
    ScriptDescriptor d;
    d.kind = Kind::String;
    d.text = std::move(utf8);
    return d;
}

ScriptDescriptor ScriptDescriptor::Integer(std::int64_t value)
{
    ScriptDescriptor d;
    d.kind = Kind::Integer;
    d.integer = value;
    return d;
}

ScriptDescriptor ScriptDescriptor::Real(double value)
{
    ScriptDescriptor d;
    d.kind = Kind::Real;
    d.real = value;
    return d;
}

ScriptDescriptor ScriptDescriptor::Boolean(bool value)
{
    ScriptDescriptor d;
    d.kind = Kind::Boolean;
    d.integer = value ? 1 : 0;
    return d;
}

ScriptDescriptor ScriptDescriptor::Alias(std::string posixPath)
{
    ScriptDescriptor d;
    d.kind = Kind::Alias;
    d.text = std::move(posixPath);
    return d;
}

ScriptDescriptor ScriptDescriptor::Data(std::vector<std::uint8_t> bytes)
{
    ScriptDescriptor d;
    d.kind = Kind::Data;
    d.bytes = std::move(bytes);
    return d;
}

const ScriptDescriptor* ScriptDescriptor::ItemAt(int index) const
{
    if (kind != Kind::List || index < 1 || index > static_cast<int>(items.size()))
        return nullptr;
    return &items[static_cast<std::size_t>(index - 1)];
}

std::int64_t ScriptDescriptor::Int64Value() const
{
    switch (kind) {
    case Kind::Integer:
    case Kind::Boolean:
        return integer;
    case Kind::Real:
    case Kind::String: {
        const double value = DoubleValue();
        if (!std::isfinite(value))
            return 0;
        constexpr double kLimit = 9.2e18;
        return static_cast<std::int64_t>(std::fmax(-kLimit, std::fmin(kLimit, std::trunc(value))));
    }
    default:
        return 0;
    }
}

std::int32_t ScriptDescriptor::Int32Value() const
{
    const std::int64_t value = Int64Value();
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

double ScriptDescriptor::DoubleValue() const
{
    switch (kind) {
    case Kind::Integer:
    case Kind::Boolean:
        return static_cast<double>(integer);
    case Kind::Real:
        return real;
    case Kind::String: {
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
    switch (kind) {
    case Kind::Boolean:
    case Kind::Integer:
        return integer != 0;
    case Kind::String: {
        std::string lower;
        for (char c : text)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower == "true" || lower == "yes";
    }
    default:
        return false;
    }
}

std::optional<std::string> ScriptDescriptor::StringValue() const
{
    switch (kind) {
    case Kind::String:
    case Kind::Alias:
        return text;
    case Kind::Integer:
        return std::to_string(integer);
    case Kind::Real:
        return RealText(real);
    case Kind::Boolean:
        return std::string(integer ? "true" : "false");
    default:
        return std::nullopt;
    }
}

std::optional<std::string> ScriptDescriptor::AliasPath() const
{
    if (kind != Kind::Alias)
        return std::nullopt;
    return text;
}

std::string ScriptDescriptor::Describe() const
{
    switch (kind) {
    case Kind::Nothing:
        return std::string();
    case Kind::List: {
        std::string out = "{";
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0)
                out += ", ";
            out += items[i].IsNothing() ? std::string("missing value") : items[i].Describe();
        }
        return out + "}";
    }
    case Kind::String:
        return Quoted(text);
    case Kind::Integer:
        return std::to_string(integer);
    case Kind::Real:
        return RealText(real);
    case Kind::Boolean:
        return integer ? "true" : "false";
    case Kind::Alias:
        return "POSIX file " + Quoted(text);
    case Kind::Data:
        return "\xC2\xAB"
               "data " +
               std::to_string(bytes.size()) + " bytes\xC2\xBB";
    }
    return std::string();
}

} // namespace platform
