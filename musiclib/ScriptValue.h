#pragma once
// ScriptValue: a value while a script runs. Besides the plain values a reply can carry (nothing,
// booleans, numbers, text, file aliases, data, lists) it holds references into the library: one
// object (the application, a source, a playlist, a track reached through a playlist, an artwork of a
// track) or a set of tracks not read yet (the tracks of a playlist that pass a "whose" test), which
// is read in one go when a property or a count of it is asked for.

#include "musiclib/ScriptProperty.h"

#include "APlatform/ScriptDescriptor.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

class MusicSource;

enum class ObjectClass { Application, Source, Playlist, Track, Artwork };

// One object of the library.
struct ObjectRef {
    ObjectClass objectClass = ObjectClass::Application;
    MusicSource* source = nullptr;
    std::int64_t playlist = 0; // playlists, and the playlist a track was reached through
    std::uint32_t track = 0;   // the track's database ID
    std::int64_t entry = 0;    // the playlist entry a track was reached through; 0 when not known
    int artwork = 0;           // counted from 1
};

// One test of a "whose" clause: the property equals (or does not equal) a value. Text compares
// ignoring case, with canonically equivalent text equal; booleans are 1 and 0.
struct TrackCondition {
    ScriptProperty property = ScriptProperty::Name;
    bool equal = true;
    bool isText = true;
    std::string text;
    double number = 0;
};

// The tracks of one playlist of a source that pass every condition, in the playlist's order.
struct TrackSelection {
    MusicSource* source = nullptr;
    std::int64_t playlist = 0;
    std::vector<TrackCondition> conditions;
};

class ScriptValue {
public:
    enum class Kind { Nothing, Boolean, Integer, Real, Text, Constant, Alias, Data, List, Object, Tracks };

    ScriptValue() = default;
    static ScriptValue Boolean(bool flag);
    static ScriptValue Integer(std::int64_t number);
    static ScriptValue Real(double number);
    static ScriptValue Text(std::string utf8);
    // An enumerated word of the language (library, iPod), compared and replied as its text.
    static ScriptValue Constant(std::string word);
    static ScriptValue Alias(std::string posixPath);
    static ScriptValue Data(std::vector<std::uint8_t> bytes);
    static ScriptValue List(std::vector<ScriptValue> items);
    static ScriptValue Object(const ObjectRef& object);
    static ScriptValue Tracks(TrackSelection selection);

    Kind GetKind() const { return static_cast<Kind>(value.index()); }
    bool IsNothing() const { return GetKind() == Kind::Nothing; }
    bool IsObject(ObjectClass objectClass) const
    {
        const ObjectRef* object = std::get_if<ObjectRef>(&value);
        return object && object->objectClass == objectClass;
    }

    // What a value of each kind holds; for a value of another kind false, 0 or empty.
    bool GetBoolean() const;
    std::int64_t GetInteger() const;
    double GetReal() const;
    const std::string& GetText() const; // text, constant, alias path
    const std::vector<std::uint8_t>& GetBytes() const;
    const std::vector<ScriptValue>& GetItems() const;
    // The items of a list, moved out; empty for any other kind.
    std::vector<ScriptValue> TakeItems() &&;
    const ObjectRef& GetObject() const;
    const TrackSelection& GetSelection() const;

    // The reply form: objects become the text that names them; a set of tracks must be read into a
    // list before (the interpreter does).
    platform::ScriptDescriptor ToDescriptor() &&;
    // Whether the value passes one test of a "whose" clause: text against text (LibraryText's
    // comparison), numbers and booleans against numbers.
    bool Passes(const TrackCondition& condition) const;
    // What a script calls the value in messages: "playlist \"Rock\"", "a list of 3 items".
    std::string Describe() const;

private:
    // The three kinds held as text, told apart.
    template <Kind> struct Word {
        std::string text;
    };
    // One alternative a kind, in the order of Kind.
    using Value = std::variant<std::monostate, bool, std::int64_t, double, Word<Kind::Text>,
                               Word<Kind::Constant>, Word<Kind::Alias>, std::vector<std::uint8_t>,
                               std::vector<ScriptValue>, ObjectRef, TrackSelection>;
    explicit ScriptValue(Value held) : value(std::move(held)) {}

    Value value;
};
