#include "musiclib/ScriptValue.h"

#include "musiclib/LibraryText.h"
#include "musiclib/MusicSource.h"

ScriptValue ScriptValue::Boolean(bool value)
{
    ScriptValue v;
    v.kind = Kind::Boolean;
    v.boolean = value;
    return v;
}

ScriptValue ScriptValue::Integer(std::int64_t value)
{
    ScriptValue v;
    v.kind = Kind::Integer;
    v.integer = value;
    return v;
}

ScriptValue ScriptValue::Real(double value)
{
    ScriptValue v;
    v.kind = Kind::Real;
    v.real = value;
    return v;
}

ScriptValue ScriptValue::Text(std::string utf8)
{
    ScriptValue v;
    v.kind = Kind::Text;
    v.text = std::move(utf8);
    return v;
}

ScriptValue ScriptValue::Constant(std::string word)
{
    ScriptValue v;
    v.kind = Kind::Constant;
    v.text = std::move(word);
    return v;
}

ScriptValue ScriptValue::Alias(std::string posixPath)
{
    ScriptValue v;
    v.kind = Kind::Alias;
    v.text = std::move(posixPath);
    return v;
}

ScriptValue ScriptValue::Data(std::vector<std::uint8_t> bytes)
{
    ScriptValue v;
    v.kind = Kind::Data;
    v.bytes = std::move(bytes);
    return v;
}

ScriptValue ScriptValue::List(std::vector<ScriptValue> items)
{
    ScriptValue v;
    v.kind = Kind::List;
    v.items = std::move(items);
    return v;
}

ScriptValue ScriptValue::Object(const ObjectRef& object)
{
    ScriptValue v;
    v.kind = Kind::Object;
    v.object = object;
    return v;
}

ScriptValue ScriptValue::Tracks(TrackSelection selection)
{
    ScriptValue v;
    v.kind = Kind::Tracks;
    v.selection = std::move(selection);
    return v;
}

platform::ScriptDescriptor ScriptValue::ToDescriptor() &&
{
    using platform::ScriptDescriptor;
    switch (kind) {
    case Kind::Nothing:
        return ScriptDescriptor();
    case Kind::Boolean:
        return ScriptDescriptor::Boolean(boolean);
    case Kind::Integer:
        return ScriptDescriptor::Integer(integer);
    case Kind::Real:
        return ScriptDescriptor::Real(real);
    case Kind::Text:
    case Kind::Constant:
        return ScriptDescriptor::String(std::move(text));
    case Kind::Alias:
        return ScriptDescriptor::Alias(std::move(text));
    case Kind::Data:
        return ScriptDescriptor::Data(std::move(bytes));
    case Kind::List: {
        std::vector<ScriptDescriptor> out;
        out.reserve(items.size());
        for (ScriptValue& item : items)
            out.push_back(std::move(item).ToDescriptor());
        return ScriptDescriptor::List(std::move(out));
    }
    case Kind::Object:
    case Kind::Tracks:
        return ScriptDescriptor::String(Describe());
    }
    return ScriptDescriptor();
}

std::string ScriptValue::Describe() const
{
    switch (kind) {
    case Kind::Nothing:
        return "nothing";
    case Kind::Boolean:
        return boolean ? "true" : "false";
    case Kind::Integer:
        return std::to_string(integer);
    case Kind::Real:
        return platform::ScriptDescriptor::Real(real).Describe();
    case Kind::Text:
        return platform::ScriptDescriptor::String(text).Describe();
    case Kind::Constant:
        return text;
    case Kind::Alias:
        return platform::ScriptDescriptor::Alias(text).Describe();
    case Kind::Data:
        return platform::ScriptDescriptor::Data(bytes).Describe();
    case Kind::List:
        return "a list of " + std::to_string(items.size()) + (items.size() == 1 ? " item" : " items");
    case Kind::Tracks:
        return "every track of playlist id " + std::to_string(selection.playlist) + " of source id " +
               std::to_string(selection.source ? selection.source->GetId() : 0);
    case Kind::Object:
        break;
    }
    const std::string source = "source id " + std::to_string(object.source ? object.source->GetId() : 0);
    const std::string playlist = "playlist id " + std::to_string(object.playlist) + " of " + source;
    switch (object.objectClass) {
    case ObjectClass::Application:
        return "application \"iTunes\"";
    case ObjectClass::Source:
        return source;
    case ObjectClass::Playlist:
        return playlist;
    case ObjectClass::Track:
        return "file track id " + std::to_string(object.track) + " of " + playlist;
    case ObjectClass::Artwork:
        return "artwork " + std::to_string(object.artwork) + " of file track id " +
               std::to_string(object.track) + " of " + playlist;
    }
    return "object";
}

bool ScriptValue::Passes(const TrackCondition& condition) const
{
    bool equal = false;
    switch (kind) {
    case Kind::Text:
    case Kind::Constant:
    case Kind::Alias:
        equal = condition.isText && LibraryText::Equal(text, condition.text);
        break;
    case Kind::Integer:
        equal = !condition.isText && static_cast<double>(integer) == condition.number;
        break;
    case Kind::Real:
        equal = !condition.isText && real == condition.number;
        break;
    case Kind::Boolean:
        equal = !condition.isText && (boolean ? 1.0 : 0.0) == condition.number;
        break;
    default:
        equal = false;
    }
    return equal == condition.equal;
}
