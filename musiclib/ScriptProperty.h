#pragma once
// ScriptProperty: the properties a script can ask of the objects of the library (the application,
// its sources, their playlists, their tracks and the tracks' artworks), with the words that name
// them in a script. Several words make one name ("database ID"); case is ignored.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ScriptProperty {
    Name,
    Version,
    Kind,
    Smart,
    SpecialKind,
    Artist,
    AlbumArtist,
    Album,
    Genre,
    Composer,
    Show,
    Location,
    Size,
    MusicSize,
    Duration,
    BitRate,
    SampleRate,
    TrackNumber,
    TrackCount,
    DiscNumber,
    DiscCount,
    Year,
    Compilation,
    Podcast,
    DatabaseID,
    PlayedCount,
    SkippedCount,
    PlayedDate, // seconds since 1970; 0 when never played
    Rating,     // 0-100, 20 a star
    // Of the library's source: the keys of the iPods' records of plays it took in. Setting it to a
    // key adds that key, refused for one it holds.
    PlaysBroughtBack,
    Data,
    Format,
};

struct ScriptPropertyName {
    ScriptProperty property;
    std::vector<std::string_view> words; // lower case
};

// Every property with its words, the longer names first (so that "special kind" is tried before
// "kind").
const std::vector<ScriptPropertyName>& ScriptPropertyNames();
// The name of a property as a script writes it ("database ID").
std::string ScriptPropertyText(ScriptProperty property);
// True for the properties a track has.
bool IsTrackProperty(ScriptProperty property);
