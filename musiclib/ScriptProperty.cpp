#include "musiclib/ScriptProperty.h"

#include <algorithm>

const std::vector<ScriptPropertyName>& ScriptPropertyNames()
{
    static const std::vector<ScriptPropertyName> names = [] {
        std::vector<ScriptPropertyName> list = {
            {ScriptProperty::Name, {"name"}},
            {ScriptProperty::Version, {"version"}},
            {ScriptProperty::Kind, {"kind"}},
            {ScriptProperty::Smart, {"smart"}},
            {ScriptProperty::SpecialKind, {"special", "kind"}},
            {ScriptProperty::Artist, {"artist"}},
            {ScriptProperty::AlbumArtist, {"album", "artist"}},
            {ScriptProperty::Album, {"album"}},
            {ScriptProperty::Genre, {"genre"}},
            {ScriptProperty::Composer, {"composer"}},
            {ScriptProperty::Show, {"show"}},
            {ScriptProperty::Location, {"location"}},
            {ScriptProperty::Size, {"size"}},
            {ScriptProperty::MusicSize, {"music", "size"}},
            {ScriptProperty::Duration, {"duration"}},
            {ScriptProperty::BitRate, {"bit", "rate"}},
            {ScriptProperty::SampleRate, {"sample", "rate"}},
            {ScriptProperty::TrackNumber, {"track", "number"}},
            {ScriptProperty::TrackCount, {"track", "count"}},
            {ScriptProperty::DiscNumber, {"disc", "number"}},
            {ScriptProperty::DiscCount, {"disc", "count"}},
            {ScriptProperty::Year, {"year"}},
            {ScriptProperty::Compilation, {"compilation"}},
            {ScriptProperty::Podcast, {"podcast"}},
            {ScriptProperty::DatabaseID, {"database", "id"}},
            {ScriptProperty::PlayedCount, {"played", "count"}},
            {ScriptProperty::SkippedCount, {"skipped", "count"}},
            {ScriptProperty::PlayedDate, {"played", "date"}},
            {ScriptProperty::Rating, {"rating"}},
            {ScriptProperty::PlaysBroughtBack, {"plays", "brought", "back"}},
            {ScriptProperty::Data, {"data"}},
            {ScriptProperty::Format, {"format"}},
        };
        std::stable_sort(list.begin(), list.end(),
                         [](const ScriptPropertyName& a, const ScriptPropertyName& b) {
                             return a.words.size() > b.words.size();
                         });
        return list;
    }();
    return names;
}

std::string ScriptPropertyText(ScriptProperty property)
{
    if (property == ScriptProperty::DatabaseID)
        return "database ID";
    for (const ScriptPropertyName& name : ScriptPropertyNames()) {
        if (name.property != property)
            continue;
        std::string text;
        for (std::string_view word : name.words) {
            if (!text.empty())
                text += ' ';
            text += word;
        }
        return text;
    }
    return "property";
}

bool IsTrackProperty(ScriptProperty property)
{
    switch (property) {
    case ScriptProperty::Version:
    case ScriptProperty::Smart:
    case ScriptProperty::SpecialKind:
    case ScriptProperty::Data:
    case ScriptProperty::Format:
    case ScriptProperty::PlaysBroughtBack:
        return false;
    default:
        return true;
    }
}
