#include "musiclib/ScriptInterpreter.h"

#include "musiclib/LibraryText.h"
#include "musiclib/MusicLibrary.h"
#include "musiclib/MusicSource.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AString.h"
#include "APlatform/HfsPath.h"

#include <map>
#include <new>

namespace {

constexpr const char* kApplicationName = "iTunes";
constexpr const char* kVersion = "7.0";
constexpr const char* kUntitledPlaylist = "untitled playlist";

struct ScriptFailure {
    int code;
    std::string why;
};

[[noreturn]] void Fail(int code, const std::string& why) { throw ScriptFailure{code, why}; }
[[noreturn]] void Fail(const std::string& why) { Fail(kErrUnknown, why); }

const char* ClassWord(ObjectClass objectClass)
{
    switch (objectClass) {
    case ObjectClass::Application:
        return "application";
    case ObjectClass::Source:
        return "source";
    case ObjectClass::Playlist:
        return "playlist";
    case ObjectClass::Track:
        return "track";
    case ObjectClass::Artwork:
        return "artwork";
    }
    return "object";
}

class ScriptRun {
public:
    // `libraryWrites`: the library's own source begins for writing (else for reading, and a change
    // of it ends the run with the library asking for a writer).
    ScriptRun(MusicLibrary& served, bool mayWrite, bool mayWriteLibrary)
        : library(served), writes(mayWrite), libraryWrites(mayWriteLibrary)
    {
    }

    ScriptValue Program(const ScriptProgram& program)
    {
        // The library's own source takes part in every script: a script that only reads sees one
        // state of it from its first statement to its last.
        Use(&library.Library());
        ScriptValue result;
        for (const ScriptStatement& statement : program.statements)
            result = Statement(statement);
        return Resolve(std::move(result));
    }

    int Finish(bool commit)
    {
        int err = 0;
        for (MusicSource* source : begun) {
            if (commit && err == 0) {
                if (err = source->Commit(); err != 0) {
                    failure = source->LastError();
                    source->Rollback();
                }
            } else {
                source->Rollback();
            }
        }
        begun.clear();
        return err;
    }

    const std::string& CommitFailure() const { return failure; }

private:
    // ---- sources --------------------------------------------------------------------------------

    MusicSource* Use(MusicSource* source)
    {
        for (MusicSource* known : begun)
            if (known == source)
                return source;
        const bool write = source == &library.Library() ? libraryWrites : writes;
        if (int err = source->Begin(write); err != 0)
            Fail(err, source->LastError());
        begun.push_back(source);
        return source;
    }

    [[noreturn]] void SourceFailed(MusicSource* source, int code) { Fail(code, source->LastError()); }

    ObjectRef LibraryPlaylistOf(MusicSource* source)
    {
        PlaylistInfo info;
        if (int err = Use(source)->GetLibraryPlaylist(info); err != 0)
            SourceFailed(source, err);
        ObjectRef playlist;
        playlist.objectClass = ObjectClass::Playlist;
        playlist.source = source;
        playlist.playlist = info.id;
        return playlist;
    }

    ObjectRef SourceObject(MusicSource* source)
    {
        ObjectRef object;
        object.objectClass = ObjectClass::Source;
        object.source = Use(source);
        return object;
    }

    // ---- statements -----------------------------------------------------------------------------

    ScriptValue Statement(const ScriptStatement& statement)
    {
        switch (statement.type) {
        case ScriptStatement::Type::Expression:
            return Evaluate(*statement.value);
        case ScriptStatement::Type::SetVariable: {
            ScriptValue value = Resolve(Evaluate(*statement.value));
            variables[statement.variable] = value;
            return value;
        }
        case ScriptStatement::Type::SetProperty: {
            const ScriptValue target = Evaluate(*statement.target);
            ScriptValue value = Resolve(Evaluate(*statement.value));
            SetProperty(target, statement.property, value);
            return value;
        }
        case ScriptStatement::Type::Update:
            Update(statement.target ? Evaluate(*statement.target) : ScriptValue());
            return ScriptValue();
        }
        return ScriptValue();
    }

    void SetProperty(const ScriptValue& target, ScriptProperty property, const ScriptValue& value)
    {
        if (target.GetKind() == ScriptValue::Kind::List) {
            for (const ScriptValue& item : target.GetItems())
                SetProperty(item, property, value);
            return;
        }
        if (target.IsObject(ObjectClass::Track)) {
            if (value.GetKind() != ScriptValue::Kind::Integer)
                Fail("the " + ScriptPropertyText(property) + " of a track must be a whole number, not " +
                     value.Describe());
            MusicSource* source = target.GetObject().source;
            if (int err = source->SetTrackValue(target.GetObject().track, property, value.GetInteger());
                err != 0)
                SourceFailed(source, err);
            return;
        }
        if (target.IsObject(ObjectClass::Source) && property == ScriptProperty::PlaysBroughtBack) {
            if (value.GetKind() != ScriptValue::Kind::Text)
                Fail("a key of plays brought back must be text, not " + value.Describe());
            MusicSource* source = target.GetObject().source;
            if (int err = source->AddPlaysBroughtBack(value.GetText()); err != 0)
                SourceFailed(source, err);
            return;
        }
        if (!target.IsObject(ObjectClass::Playlist) || property != ScriptProperty::Name)
            Fail("cannot set the " + ScriptPropertyText(property) + " of " + target.Describe());
        if (value.GetKind() != ScriptValue::Kind::Text)
            Fail("a playlist's name must be text, not " + value.Describe());
        MusicSource* source = target.GetObject().source;
        if (int err = source->RenamePlaylist(target.GetObject().playlist, value.GetText()); err != 0)
            SourceFailed(source, err);
    }

    void Update(const ScriptValue& target)
    {
        if (target.IsNothing()) {
            if (int err = library.Flush(nullptr, true); err != 0)
                Fail(err, "an iPod's database could not be written back");
            return;
        }
        if (target.GetKind() == ScriptValue::Kind::List) {
            for (const ScriptValue& item : target.GetItems())
                Update(item);
            return;
        }
        if (!target.IsObject(ObjectClass::Source))
            Fail("only a source can be updated, not " + target.Describe());
        if (int err = library.Flush(target.GetObject().source, true); err != 0)
            Fail(err, target.GetObject().source->LastError());
    }

    // ---- expressions ----------------------------------------------------------------------------

    ScriptValue Evaluate(const ScriptExpression& expression)
    {
        switch (expression.type) {
        case ScriptExpression::Type::Literal:
            return expression.literal;
        case ScriptExpression::Type::Alias: {
            std::optional<std::string> path = platform::HfsToPosixPath(expression.text);
            if (!path)
                Fail("\"" + expression.text + "\" is not a file path of the form Volume:folder:file");
            return ScriptValue::Alias(*path);
        }
        case ScriptExpression::Type::PosixFile:
            if (expression.text.empty() || expression.text.front() != '/')
                Fail("a POSIX file path must begin with \"/\"");
            return ScriptValue::Alias(expression.text);
        case ScriptExpression::Type::Variable: {
            auto found = variables.find(expression.text);
            if (found == variables.end())
                Fail("the variable " + expression.text + " is not set");
            return found->second;
        }
        case ScriptExpression::Type::Reference:
            return Chain(expression.chain);
        case ScriptExpression::Type::List: {
            std::vector<ScriptValue> items;
            for (const auto& item : expression.items)
                items.push_back(Resolve(Evaluate(*item)));
            return ScriptValue::List(std::move(items));
        }
        case ScriptExpression::Type::Get:
            return Resolve(Evaluate(*expression.operand));
        case ScriptExpression::Type::Count:
            return ScriptValue::Integer(Count(Evaluate(*expression.operand)));
        case ScriptExpression::Type::Add:
            return Add(expression);
        case ScriptExpression::Type::Make:
            return Make(expression);
        case ScriptExpression::Type::Delete:
            Delete(Evaluate(*expression.operand));
            return ScriptValue();
        }
        return ScriptValue();
    }

    // A set of tracks not read yet becomes the list of its tracks, the way a reply or a variable
    // holds it.
    ScriptValue Resolve(ScriptValue value)
    {
        if (value.GetKind() == ScriptValue::Kind::Tracks) {
            std::vector<TrackEntry> entries;
            MusicSource* source = value.GetSelection().source;
            if (int err = source->ListTracks(value.GetSelection(), 0, -1, entries); err != 0)
                SourceFailed(source, err);
            std::vector<ScriptValue> items;
            items.reserve(entries.size());
            for (const TrackEntry& entry : entries)
                items.push_back(TrackObject(source, value.GetSelection().playlist, entry));
            return ScriptValue::List(std::move(items));
        }
        if (value.GetKind() == ScriptValue::Kind::List) {
            std::vector<ScriptValue> items = std::move(value).TakeItems();
            for (ScriptValue& item : items)
                item = Resolve(std::move(item));
            return ScriptValue::List(std::move(items));
        }
        return value;
    }

    static ScriptValue TrackObject(MusicSource* source, std::int64_t playlist, const TrackEntry& entry)
    {
        ObjectRef track;
        track.objectClass = ObjectClass::Track;
        track.source = source;
        track.playlist = playlist;
        track.track = entry.id;
        track.entry = entry.entry;
        return ScriptValue::Object(track);
    }

    std::int64_t Count(const ScriptValue& value)
    {
        switch (value.GetKind()) {
        case ScriptValue::Kind::Tracks: {
            int count = 0;
            if (int err = value.GetSelection().source->CountTracks(value.GetSelection(), count); err != 0)
                SourceFailed(value.GetSelection().source, err);
            return count;
        }
        case ScriptValue::Kind::List:
            return static_cast<std::int64_t>(value.GetItems().size());
        case ScriptValue::Kind::Text:
            return static_cast<std::int64_t>(AString::FromUTF8(value.GetText()).GetLength());
        case ScriptValue::Kind::Nothing:
            return 0;
        default:
            return 1;
        }
    }

    // ---- references -----------------------------------------------------------------------------

    ScriptValue Chain(const std::vector<ScriptSegment>& chain)
    {
        ScriptValue current = ScriptValue::Object(ObjectRef());
        std::size_t remaining = chain.size();
        if (remaining > 0 && chain.back().type == ScriptSegment::Type::Start) {
            current = Evaluate(*chain.back().start);
            --remaining;
        }
        while (remaining > 0) {
            const ScriptSegment& segment = chain[--remaining];
            if (segment.type == ScriptSegment::Type::Property)
                current = Property(current, segment.property);
            else
                current = Elements(current, segment);
        }
        return current;
    }

    std::vector<TrackCondition> Conditions(const std::vector<ScriptCondition>& whose)
    {
        std::vector<TrackCondition> conditions;
        for (const ScriptCondition& test : whose) {
            const ScriptValue value = Resolve(Evaluate(*test.value));
            TrackCondition condition;
            condition.property = test.property;
            condition.equal = test.equal;
            switch (value.GetKind()) {
            case ScriptValue::Kind::Text:
            case ScriptValue::Kind::Constant:
            case ScriptValue::Kind::Alias:
                condition.text = value.GetText();
                break;
            case ScriptValue::Kind::Integer:
                condition.isText = false;
                condition.number = static_cast<double>(value.GetInteger());
                break;
            case ScriptValue::Kind::Real:
                condition.isText = false;
                condition.number = value.GetReal();
                break;
            case ScriptValue::Kind::Boolean:
                condition.isText = false;
                condition.number = value.GetBoolean() ? 1 : 0;
                break;
            default:
                Fail("cannot test the " + ScriptPropertyText(test.property) + " against " + value.Describe());
            }
            conditions.push_back(std::move(condition));
        }
        return conditions;
    }

    ScriptValue Elements(const ScriptValue& container, const ScriptSegment& segment)
    {
        const ObjectClass wanted = segment.elementClass;
        if (container.GetKind() == ScriptValue::Kind::Object) {
            const ObjectRef& object = container.GetObject();
            switch (object.objectClass) {
            case ObjectClass::Application:
                if (wanted == ObjectClass::Source) {
                    std::vector<MusicSource*> sources;
                    if (int err = library.Sources(sources); err != 0)
                        Fail(err, "the sources cannot be listed");
                    std::vector<ScriptValue> objects;
                    for (MusicSource* source : sources)
                        objects.push_back(ScriptValue::Object(SourceObject(source)));
                    return Select(std::move(objects), segment, container);
                }
                if (wanted == ObjectClass::Playlist || wanted == ObjectClass::Track)
                    return Elements(ScriptValue::Object(SourceObject(&library.Library())), segment);
                break;
            case ObjectClass::Source:
                if (wanted == ObjectClass::Playlist)
                    return Playlists(object.source, segment, container);
                if (wanted == ObjectClass::Track)
                    return Elements(ScriptValue::Object(LibraryPlaylistOf(object.source)), segment);
                break;
            case ObjectClass::Playlist:
                if (wanted == ObjectClass::Track) {
                    TrackSelection selection;
                    selection.source = object.source;
                    selection.playlist = object.playlist;
                    return Tracks(std::move(selection), segment, container);
                }
                break;
            case ObjectClass::Track:
                if (wanted == ObjectClass::Artwork)
                    return Select(Artworks(object), segment, container);
                break;
            case ObjectClass::Artwork:
                break;
            }
        } else if (container.GetKind() == ScriptValue::Kind::Tracks) {
            if (wanted == ObjectClass::Track)
                return Tracks(container.GetSelection(), segment, container);
            if (wanted == ObjectClass::Artwork)
                return Elements(Resolve(container), segment);
        } else if (container.GetKind() == ScriptValue::Kind::List) {
            bool allWanted = true;
            for (const ScriptValue& item : container.GetItems())
                allWanted = allWanted && item.IsObject(wanted);
            if (allWanted)
                return Select(container.GetItems(), segment, container);
            // Every such element of each item, in the items' order; then the selection among them.
            ScriptSegment every;
            every.elementClass = wanted;
            std::vector<ScriptValue> gathered;
            for (const ScriptValue& item : container.GetItems()) {
                ScriptValue elements = Resolve(Elements(item, every));
                for (ScriptValue& element : std::move(elements).TakeItems())
                    gathered.push_back(std::move(element));
            }
            return Select(std::move(gathered), segment, container);
        }
        Fail(std::string("cannot get ") + ClassWord(wanted) + "s of " + container.Describe());
    }

    ScriptValue Playlists(MusicSource* source, const ScriptSegment& segment, const ScriptValue& container)
    {
        auto playlistObject = [source](std::int64_t id) {
            ObjectRef playlist;
            playlist.objectClass = ObjectClass::Playlist;
            playlist.source = source;
            playlist.playlist = id;
            return ScriptValue::Object(playlist);
        };
        if (segment.selector == ScriptSegment::Selector::Name) {
            PlaylistInfo info;
            if (int err = source->FindPlaylist(segment.name, info); err != 0) {
                if (err == kErrObjectNotFound)
                    Fail(err, "playlist \"" + segment.name + "\" of source \"" + source->GetName() +
                                  "\" does not exist");
                SourceFailed(source, err);
            }
            std::vector<ScriptValue> one{playlistObject(info.id)};
            return Select(std::move(one), segment, container, true);
        }
        std::vector<PlaylistInfo> playlists;
        if (int err = source->Playlists(playlists); err != 0)
            SourceFailed(source, err);
        std::vector<ScriptValue> objects;
        for (const PlaylistInfo& info : playlists)
            objects.push_back(playlistObject(info.id));
        return Select(std::move(objects), segment, container);
    }

    ScriptValue Tracks(TrackSelection selection, const ScriptSegment& segment, const ScriptValue& container)
    {
        for (TrackCondition& condition : Conditions(segment.whose)) {
            if (!IsTrackProperty(condition.property))
                Fail("a track has no " + ScriptPropertyText(condition.property));
            selection.conditions.push_back(std::move(condition));
        }
        MusicSource* source = selection.source;
        switch (segment.selector) {
        case ScriptSegment::Selector::Every:
            return ScriptValue::Tracks(std::move(selection));
        case ScriptSegment::Selector::Name: {
            TrackCondition byName;
            byName.text = segment.name;
            selection.conditions.push_back(byName);
            std::vector<TrackEntry> entries;
            if (int err = source->ListTracks(selection, 0, 1, entries); err != 0)
                SourceFailed(source, err);
            if (entries.empty())
                Fail(kErrObjectNotFound,
                     "track \"" + segment.name + "\" of " + container.Describe() + " does not exist");
            return TrackObject(source, selection.playlist, entries.front());
        }
        case ScriptSegment::Selector::Index: {
            std::int64_t offset = segment.index - 1;
            if (segment.index < 0) {
                int count = 0;
                if (int err = source->CountTracks(selection, count); err != 0)
                    SourceFailed(source, err);
                offset = count + segment.index;
            }
            std::vector<TrackEntry> entries;
            if (offset >= 0 && offset <= INT32_MAX) {
                if (int err = source->ListTracks(selection, static_cast<int>(offset), 1, entries); err != 0)
                    SourceFailed(source, err);
            }
            if (entries.empty())
                Fail(kErrObjectNotFound, (segment.index == 1    ? std::string("there is no track in ")
                                          : segment.index == -1 ? std::string("there is no track in ")
                                                                : "track " + std::to_string(segment.index) +
                                                                      " does not exist in ") +
                                             container.Describe());
            return TrackObject(source, selection.playlist, entries.front());
        }
        }
        return ScriptValue();
    }

    std::vector<ScriptValue> Artworks(const ObjectRef& track)
    {
        std::vector<TrackPicture> pictures;
        if (int err = track.source->ReadPictures(track.track, pictures); err != 0)
            SourceFailed(track.source, err);
        std::vector<ScriptValue> artworks;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            ObjectRef artwork = track;
            artwork.objectClass = ObjectClass::Artwork;
            artwork.artwork = static_cast<int>(i + 1);
            artworks.push_back(ScriptValue::Object(artwork));
        }
        return artworks;
    }

    // The elements of `candidates` that pass the segment's tests, then the one its selector names
    // (or all of them). `single` marks a list already chosen by name.
    ScriptValue Select(std::vector<ScriptValue> candidates, const ScriptSegment& segment,
                       const ScriptValue& container, bool single = false)
    {
        const std::vector<TrackCondition> conditions = Conditions(segment.whose);
        std::vector<ScriptValue> passing;
        for (ScriptValue& candidate : candidates) {
            bool passes = true;
            for (const TrackCondition& condition : conditions)
                passes = passes && Property(candidate, condition.property).Passes(condition);
            if (passes)
                passing.push_back(std::move(candidate));
        }
        const char* word = ClassWord(segment.elementClass);
        switch (segment.selector) {
        case ScriptSegment::Selector::Every:
            return ScriptValue::List(std::move(passing));
        case ScriptSegment::Selector::Index: {
            const std::int64_t count = static_cast<std::int64_t>(passing.size());
            const std::int64_t index = segment.index < 0 ? count + segment.index : segment.index - 1;
            if (index < 0 || index >= count)
                Fail(kErrObjectNotFound, std::string(word) + " " + std::to_string(segment.index) + " of " +
                                             container.Describe() + " does not exist");
            return passing[static_cast<std::size_t>(index)];
        }
        case ScriptSegment::Selector::Name:
            for (ScriptValue& candidate : passing) {
                if (single)
                    return candidate;
                const ScriptValue name = Property(candidate, ScriptProperty::Name);
                if (name.GetKind() == ScriptValue::Kind::Text &&
                    LibraryText::Equal(name.GetText(), segment.name))
                    return candidate;
            }
            Fail(kErrObjectNotFound, std::string(word) + " \"" + segment.name + "\" of " +
                                         container.Describe() + " does not exist");
        }
        return ScriptValue();
    }

    // ---- properties -----------------------------------------------------------------------------

    ScriptValue Property(const ScriptValue& value, ScriptProperty property)
    {
        switch (value.GetKind()) {
        case ScriptValue::Kind::Tracks: {
            if (!IsTrackProperty(property))
                Fail("a track has no " + ScriptPropertyText(property));
            std::vector<ScriptValue> values;
            if (int err = value.GetSelection().source->ReadTracks(value.GetSelection(), property, values);
                err != 0)
                SourceFailed(value.GetSelection().source, err);
            return ScriptValue::List(std::move(values));
        }
        case ScriptValue::Kind::List: {
            std::vector<ScriptValue> values;
            values.reserve(value.GetItems().size());
            for (const ScriptValue& item : value.GetItems())
                values.push_back(Property(item, property));
            return ScriptValue::List(std::move(values));
        }
        case ScriptValue::Kind::Object:
            return ObjectProperty(value.GetObject(), property, value);
        default:
            Fail("cannot get the " + ScriptPropertyText(property) + " of " + value.Describe());
        }
    }

    ScriptValue ObjectProperty(const ObjectRef& object, ScriptProperty property, const ScriptValue& value)
    {
        MusicSource* source = object.source;
        switch (object.objectClass) {
        case ObjectClass::Application:
            if (property == ScriptProperty::Name)
                return ScriptValue::Text(kApplicationName);
            if (property == ScriptProperty::Version)
                return ScriptValue::Text(kVersion);
            break;
        case ObjectClass::Source:
            if (property == ScriptProperty::Name)
                return ScriptValue::Text(source->GetName());
            if (property == ScriptProperty::Kind)
                return ScriptValue::Constant(source->GetKind());
            if (property == ScriptProperty::PlaysBroughtBack) {
                std::vector<std::string> keys;
                if (int err = source->PlaysBroughtBack(keys); err != 0)
                    SourceFailed(source, err);
                std::vector<ScriptValue> items;
                for (std::string& key : keys)
                    items.push_back(ScriptValue::Text(std::move(key)));
                return ScriptValue::List(std::move(items));
            }
            break;
        case ObjectClass::Playlist: {
            PlaylistInfo info;
            if (property != ScriptProperty::Name && property != ScriptProperty::Smart &&
                property != ScriptProperty::SpecialKind)
                break;
            if (int err = source->GetPlaylist(object.playlist, info); err != 0)
                SourceFailed(source, err);
            if (property == ScriptProperty::Name)
                return ScriptValue::Text(info.name);
            if (property == ScriptProperty::Smart)
                return ScriptValue::Boolean(info.smart);
            return ScriptValue::Constant(info.specialKind);
        }
        case ObjectClass::Track: {
            if (!IsTrackProperty(property))
                break;
            ScriptValue out;
            if (int err = source->ReadTrack(object.track, property, out); err != 0)
                SourceFailed(source, err);
            return out;
        }
        case ObjectClass::Artwork: {
            if (property != ScriptProperty::Data && property != ScriptProperty::Format)
                break;
            std::vector<TrackPicture> pictures;
            if (int err = source->ReadPictures(object.track, pictures); err != 0)
                SourceFailed(source, err);
            if (object.artwork < 1 || object.artwork > static_cast<int>(pictures.size()))
                Fail(kErrObjectNotFound, value.Describe() + " does not exist");
            TrackPicture& picture = pictures[static_cast<std::size_t>(object.artwork - 1)];
            if (property == ScriptProperty::Format)
                return ScriptValue::Text(picture.format);
            return ScriptValue::Data(std::move(picture.bytes));
        }
        }
        Fail(std::string("a ") + ClassWord(object.objectClass) + " has no " + ScriptPropertyText(property));
    }

    // ---- changes --------------------------------------------------------------------------------

    ScriptValue Add(const ScriptExpression& expression)
    {
        const ScriptValue what = Resolve(Evaluate(*expression.operand));
        if (what.IsObject(ObjectClass::Track))
            return AddTrack(what, expression);
        std::vector<std::string> paths;
        if (what.GetKind() == ScriptValue::Kind::Alias) {
            paths.push_back(what.GetText());
        } else if (what.GetKind() == ScriptValue::Kind::List) {
            for (const ScriptValue& item : what.GetItems()) {
                if (item.GetKind() != ScriptValue::Kind::Alias)
                    Fail("only files can be added, not " + item.Describe());
                paths.push_back(item.GetText());
            }
        } else {
            Fail("only files can be added, not " + what.Describe());
        }
        ObjectRef playlist;
        if (!expression.target) {
            playlist = LibraryPlaylistOf(&library.Library());
        } else {
            const ScriptValue target = Evaluate(*expression.target);
            if (target.IsObject(ObjectClass::Playlist))
                playlist = target.GetObject();
            else if (target.IsObject(ObjectClass::Source))
                playlist = LibraryPlaylistOf(target.GetObject().source);
            else
                Fail("files can be added to a playlist or a source, not " + target.Describe());
        }
        std::vector<ScriptValue> tracks;
        for (const std::string& path : paths) {
            std::uint32_t id = 0;
            if (int err = playlist.source->AddFile(path, playlist.playlist, id); err != 0)
                SourceFailed(playlist.source, err);
            TrackEntry entry;
            entry.id = id;
            tracks.push_back(TrackObject(playlist.source, playlist.playlist, entry));
        }
        if (what.GetKind() == ScriptValue::Kind::Alias)
            return tracks.front();
        return ScriptValue::List(std::move(tracks));
    }

    // A track of a source put in an ordinary playlist of that source (once): the track.
    ScriptValue AddTrack(const ScriptValue& track, const ScriptExpression& expression)
    {
        const ScriptValue target = expression.target ? Evaluate(*expression.target) : ScriptValue();
        if (!target.IsObject(ObjectClass::Playlist) || target.GetObject().source != track.GetObject().source)
            Fail("a track can be added to a playlist of its source, not to " + target.Describe());
        MusicSource* source = target.GetObject().source;
        if (int err = source->AddToPlaylist(track.GetObject().track, target.GetObject().playlist); err != 0)
            SourceFailed(source, err);
        return track;
    }

    ScriptValue Make(const ScriptExpression& expression)
    {
        MusicSource* source = &library.Library();
        if (expression.target) {
            const ScriptValue at = Evaluate(*expression.target);
            if (!at.IsObject(ObjectClass::Source))
                Fail("a playlist is made in a source, not in " + at.Describe());
            source = at.GetObject().source;
        }
        Use(source);
        std::string name;
        for (const auto& [property, valueExpression] : expression.properties) {
            const ScriptValue value = Resolve(Evaluate(*valueExpression));
            if (property != ScriptProperty::Name)
                Fail("a new playlist takes only a name, not its " + ScriptPropertyText(property));
            if (value.GetKind() != ScriptValue::Kind::Text)
                Fail("a playlist's name must be text, not " + value.Describe());
            name = value.GetText();
        }
        if (name.empty()) {
            // "untitled playlist", else the first free "untitled playlist N".
            PlaylistInfo existing;
            name = kUntitledPlaylist;
            for (int n = 2; source->FindPlaylist(name, existing) == 0; ++n)
                name = std::string(kUntitledPlaylist) + " " + std::to_string(n);
        }
        PlaylistInfo made;
        if (int err = source->MakePlaylist(name, made); err != 0)
            SourceFailed(source, err);
        ObjectRef playlist;
        playlist.objectClass = ObjectClass::Playlist;
        playlist.source = source;
        playlist.playlist = made.id;
        return ScriptValue::Object(playlist);
    }

    void Delete(const ScriptValue& value)
    {
        switch (value.GetKind()) {
        case ScriptValue::Kind::Tracks: {
            MusicSource* source = value.GetSelection().source;
            std::vector<TrackEntry> entries;
            if (int err = source->ListTracks(value.GetSelection(), 0, -1, entries); err != 0)
                SourceFailed(source, err);
            if (int err = source->DeleteTracks(value.GetSelection().playlist, entries); err != 0)
                SourceFailed(source, err);
            return;
        }
        case ScriptValue::Kind::List:
            for (const ScriptValue& item : value.GetItems())
                Delete(item);
            return;
        case ScriptValue::Kind::Object:
            if (value.GetObject().objectClass == ObjectClass::Track) {
                MusicSource* source = value.GetObject().source;
                const std::vector<TrackEntry> entries{
                    TrackEntry{value.GetObject().track, value.GetObject().entry}};
                if (int err = source->DeleteTracks(value.GetObject().playlist, entries); err != 0)
                    SourceFailed(source, err);
                return;
            }
            if (value.GetObject().objectClass == ObjectClass::Playlist) {
                MusicSource* source = value.GetObject().source;
                if (int err = source->DeletePlaylist(value.GetObject().playlist); err != 0)
                    SourceFailed(source, err);
                return;
            }
            break;
        default:
            break;
        }
        Fail("cannot delete " + value.Describe());
    }

    MusicLibrary& library;
    bool writes;
    bool libraryWrites;
    std::vector<MusicSource*> begun;
    std::map<std::string, ScriptValue> variables;
    std::string failure;
};

} // namespace

int ScriptInterpreter::Run(const ScriptProgram& program, ScriptValue& result, std::string& error)
{
    // A script that changes only an iPod must not hold the library's write lock while it copies
    // files: the library's source begins for reading, and a script that turns out to change the
    // library is undone and run again from the start with the library begun for writing.
    int err = RunOnce(program, false, result, error);
    if (err == kErrBusy && program.changes && library.Library().NeedsWriter())
        err = RunOnce(program, true, result, error);
    return err;
}

int ScriptInterpreter::RunOnce(const ScriptProgram& program, bool libraryWrites, ScriptValue& result,
                               std::string& error)
{
    ScriptRun run(library, program.changes, libraryWrites);
    try {
        ScriptValue value = run.Program(program);
        if (int err = run.Finish(true); err != 0) {
            error = "the changes could not be saved: " + run.CommitFailure();
            return err;
        }
        result = std::move(value);
        return 0;
    } catch (const ScriptFailure& failure) {
        run.Finish(false);
        error = failure.why;
        return failure.code;
    } catch (const std::bad_alloc&) {
        run.Finish(false);
        error = "out of memory";
        return kErrOutOfMemory;
    } catch (const std::exception& failure) {
        run.Finish(false);
        error = failure.what();
        return kErrUnknown;
    }
}
