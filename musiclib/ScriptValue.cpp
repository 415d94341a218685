#include "musiclib/ScriptValue.h"

#include "musiclib/LibraryText.h"
#include "musiclib/MusicSource.h"

ScriptValue ScriptValue::Boolean(bool flag) { return ScriptValue(Value(std::in_place_type<bool>, flag)); }

ScriptValue ScriptValue::Integer(std::int64_t number)
{
    return ScriptValue(Value(std::in_place_type<std::int64_t>, number));
}

ScriptValue ScriptValue::Real(double number)
{
    return ScriptValue(Value(std::in_place_type<double>, number));
}

ScriptValue ScriptValue::Text(std::string utf8)
{
    return ScriptValue(Value(std::in_place_type<Word<Kind::Text>>, Word<Kind::Text>{std::move(utf8)}));
}

ScriptValue ScriptValue::Constant(std::string word)
{
    return ScriptValue(
        Value(std::in_place_type<Word<Kind::Constant>>, Word<Kind::Constant>{std::move(word)}));
}

ScriptValue ScriptValue::Alias(std::string posixPath)
{
    return ScriptValue(Value(std::in_place_type<Word<Kind::Alias>>, Word<Kind::Alias>{std::move(posixPath)}));
}

ScriptValue ScriptValue::Data(std::vector<std::uint8_t> bytes)
{
    return ScriptValue(Value(std::in_place_type<std::vector<std::uint8_t>>, std::move(bytes)));
}

ScriptValue ScriptValue::List(std::vector<ScriptValue> items)
{
    return ScriptValue(Value(std::in_place_type<std::vector<ScriptValue>>, std::move(items)));
}

ScriptValue ScriptValue::Object(const ObjectRef& object)
{
    return ScriptValue(Value(std::in_place_type<ObjectRef>, object));
}

ScriptValue ScriptValue::Tracks(TrackSelection selection)
{
    return ScriptValue(Value(std::in_place_type<TrackSelection>, std::move(selection)));
}

bool ScriptValue::GetBoolean() const
{
    const bool* flag = std::get_if<bool>(&value);
    return flag && *flag;
}

std::int64_t ScriptValue::GetInteger() const
{
    const std::int64_t* number = std::get_if<std::int64_t>(&value);
    return number ? *number : 0;
}

double ScriptValue::GetReal() const
{
    const double* number = std::get_if<double>(&value);
    return number ? *number : 0;
}

const std::string& ScriptValue::GetText() const
{
    static const std::string kNone;
    if (const auto* text = std::get_if<Word<Kind::Text>>(&value))
        return text->text;
    if (const auto* constant = std::get_if<Word<Kind::Constant>>(&value))
        return constant->text;
    if (const auto* alias = std::get_if<Word<Kind::Alias>>(&value))
        return alias->text;
    return kNone;
}

const std::vector<std::uint8_t>& ScriptValue::GetBytes() const
{
    static const std::vector<std::uint8_t> kNone;
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value);
    return bytes ? *bytes : kNone;
}

const std::vector<ScriptValue>& ScriptValue::GetItems() const
{
    static const std::vector<ScriptValue> kNone;
    const auto* items = std::get_if<std::vector<ScriptValue>>(&value);
    return items ? *items : kNone;
}

std::vector<ScriptValue> ScriptValue::TakeItems() &&
{
    auto* items = std::get_if<std::vector<ScriptValue>>(&value);
    return items ? std::move(*items) : std::vector<ScriptValue>();
}

const ObjectRef& ScriptValue::GetObject() const
{
    static const ObjectRef kNone;
    const ObjectRef* object = std::get_if<ObjectRef>(&value);
    return object ? *object : kNone;
}

const TrackSelection& ScriptValue::GetSelection() const
{
    static const TrackSelection kNone;
    const TrackSelection* selection = std::get_if<TrackSelection>(&value);
    return selection ? *selection : kNone;
}

platform::ScriptDescriptor ScriptValue::ToDescriptor() &&
{
    using platform::ScriptDescriptor;
    switch (GetKind()) {
    case Kind::Nothing:
        return ScriptDescriptor();
    case Kind::Boolean:
        return ScriptDescriptor::Boolean(GetBoolean());
    case Kind::Integer:
        return ScriptDescriptor::Integer(GetInteger());
    case Kind::Real:
        return ScriptDescriptor::Real(GetReal());
    case Kind::Text:
        return ScriptDescriptor::String(std::move(std::get<Word<Kind::Text>>(value).text));
    case Kind::Constant:
        return ScriptDescriptor::String(std::move(std::get<Word<Kind::Constant>>(value).text));
    case Kind::Alias:
        return ScriptDescriptor::Alias(std::move(std::get<Word<Kind::Alias>>(value).text));
    case Kind::Data:
        return ScriptDescriptor::Data(std::move(std::get<std::vector<std::uint8_t>>(value)));
    case Kind::List: {
        std::vector<ScriptValue>& items = std::get<std::vector<ScriptValue>>(value);
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
    switch (GetKind()) {
    case Kind::Nothing:
        return "nothing";
    case Kind::Boolean:
        return GetBoolean() ? "true" : "false";
    case Kind::Integer:
        return std::to_string(GetInteger());
    case Kind::Real:
        return platform::ScriptDescriptor::Real(GetReal()).Describe();
    case Kind::Text:
        return platform::ScriptDescriptor::String(GetText()).Describe();
    case Kind::Constant:
        return GetText();
    case Kind::Alias:
        return platform::ScriptDescriptor::Alias(GetText()).Describe();
    case Kind::Data:
        return platform::ScriptDescriptor::Data(GetBytes()).Describe();
    case Kind::List: {
        const std::size_t count = GetItems().size();
        return "a list of " + std::to_string(count) + (count == 1 ? " item" : " items");
    }
    case Kind::Tracks: {
        const TrackSelection& selection = GetSelection();
        return "every track of playlist id " + std::to_string(selection.playlist) + " of source id " +
               std::to_string(selection.source ? selection.source->GetId() : 0);
    }
    case Kind::Object:
        break;
    }
    const ObjectRef& object = GetObject();
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
    switch (GetKind()) {
    case Kind::Text:
    case Kind::Constant:
    case Kind::Alias:
        equal = condition.isText && LibraryText::Equal(GetText(), condition.text);
        break;
    case Kind::Integer:
        equal = !condition.isText && static_cast<double>(GetInteger()) == condition.number;
        break;
    case Kind::Real:
        equal = !condition.isText && GetReal() == condition.number;
        break;
    case Kind::Boolean:
        equal = !condition.isText && (GetBoolean() ? 1.0 : 0.0) == condition.number;
        break;
    default:
        equal = false;
    }
    return equal == condition.equal;
}
