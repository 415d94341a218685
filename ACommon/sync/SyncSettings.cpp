#include "ACommon/sync/SyncSettings.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/ListString.h"
#include "ACommon/sync/ASyncLib.h"

#include <cstdlib>
#include <functional>
#include <map>

namespace {

using Kind = SyncSettings::Kind;

// How one setting is read and written.
struct Access {
    std::function<std::string(const ASyncLib&)> get;
    std::function<void(ASyncLib&, const std::string&)> set;
};

std::string Flag(signed char value) { return value ? "on" : "off"; }
signed char FlagOf(const std::string& text) { return text == "on" ? 1 : 0; }
std::string Text(const AString* value) { return value ? value->ToStdString() : std::string(); }
AString ListOf(const std::string& text)
{
    return SyncSettings::Join(SyncSettings::Items(AString::FromUTF8(text)));
}

// The flags, numbers and lists of ASyncLib, each with its getter and setter.
#define PELORIN_FLAG(getter, setter)                                                                         \
    Access                                                                                                   \
    {                                                                                                        \
        [](const ASyncLib& s) { return Flag(s.getter()); },                                                  \
            [](ASyncLib& s, const std::string& v) { s.setter(FlagOf(v)); }                                   \
    }
#define PELORIN_NUMBER(getter, setter)                                                                       \
    Access                                                                                                   \
    {                                                                                                        \
        [](const ASyncLib& s) { return std::to_string(s.getter()); },                                        \
            [](ASyncLib& s, const std::string& v) { s.setter(std::atoi(v.c_str())); }                        \
    }
#define PELORIN_LIST(getter, setter)                                                                         \
    Access                                                                                                   \
    {                                                                                                        \
        [](const ASyncLib& s) { return Text(s.getter()); }, [](ASyncLib& s, const std::string& v) {          \
            AString list = ListOf(v);                                                                        \
            s.setter(&list);                                                                                 \
        }                                                                                                    \
    }

struct Entry {
    SyncSettings::Setting setting;
    Access access;
};

const std::vector<Entry>& Entries()
{
    static const std::vector<Entry> entries = {
        {{"verbose-log", Kind::kFlag, "dated, detailed log lines"},
         PELORIN_FLAG(GetVerboseLog, SetVerboseLog)},
        {{"open-log-automatically", Kind::kFlag, "open the log when a run starts"},
         PELORIN_FLAG(GetOpenLogAutomatically, SetOpenLogAutomatically)},
        {{"show-actions-list", Kind::kFlag, "review the planned actions before they are carried out"},
         PELORIN_FLAG(GetShowActionsList, SetShowActionsList)},
        {{"stop-on-error", Kind::kFlag, "end a run at its first error"},
         PELORIN_FLAG(GetStopOnErr, SetStopOnErr)},
        {{"log-only", Kind::kFlag, "make and delete no folders"}, PELORIN_FLAG(GetLogOnly, SetLogOnly)},
        {{"dest-deletes", Kind::kFlag, "carry deletions over (make equal, synchronize)"},
         PELORIN_FLAG(GetDestDeletes, SetDestDeletes)},
        {{"auto-action", Kind::kNumber,
          "the direction: 0 left to right, 1 right to left, 2 both ways, 4 none"},
         PELORIN_NUMBER(GetAutoAction, SetAutoAction)},
        {{"auto-run-on-volume-mount", Kind::kFlag, "sync when the iPod is mounted"},
         PELORIN_FLAG(GetAutoRunOnVolumeMount, SetAutoRunOnVolumeMount)},
        {{"genre-relevant", Kind::kFlag, "the genre tells songs apart"},
         PELORIN_FLAG(GetGenreRelevantOnDupSongCompare, SetGenreRelevantOnDupSongCompare)},
        {{"album-relevant", Kind::kFlag, "the album tells songs apart"},
         PELORIN_FLAG(GetAlbumRelevantOnDupSongCompare, SetAlbumRelevantOnDupSongCompare)},
        {{"file-type-relevant", Kind::kFlag, "the file type tells songs apart"},
         PELORIN_FLAG(GetFileTypeRelevantOnDupSongCompare, SetFileTypeRelevantOnDupSongCompare)},
        {{"dont-dup-songs", Kind::kFlag, "copy no song of a name that a known artist already has"},
         PELORIN_FLAG(GetDontDupSongs, SetDontDupSongs)},
        {{"favor-size-vs-date", Kind::kFlag, "of two copies keep the larger, not the newer"},
         PELORIN_FLAG(GetFavorSizeVsDate, SetFavorSizeVsDate)},
        {{"favor-protected-music", Kind::kFlag, "of two copies keep the protected one"},
         PELORIN_FLAG(GetFavorProtectedMusic, SetFavorProtectedMusic)},
        {{"delete-music-not-owned", Kind::kFlag, "protected music of other accounts counts as not protected"},
         PELORIN_FLAG(GetDeleteMusicNotOwned, SetDeleteMusicNotOwned)},
        {{"move-instead-of-delete", Kind::kFlag, "move removed songs into \"Removed Files\""},
         PELORIN_FLAG(GetMoveInsteadOfDelete, SetMoveInsteadOfDelete)},
        {{"create-last-playlist", Kind::kFlag, "gather the songs of the last sync in a playlist"},
         PELORIN_FLAG(GetCreateLastPlaylist, SetCreateLastPlaylist)},
        {{"aac-kbps", Kind::kNumber, "the bit rate of AAC made from songs an iPod cannot play (kbit/s)",
          AudioFormats::kMinAACKbps, AudioFormats::kMaxAACKbps},
         PELORIN_NUMBER(GetAACKbps, SetAACKbps)},
        {{"always-aac", Kind::kFlag, "convert lossless songs into AAC too, not Apple Lossless"},
         PELORIN_FLAG(GetAlwaysAAC, SetAlwaysAAC)},
        {{"favor-file-types", Kind::kList, "file types to keep of two copies (:mp3:m4a:)"},
         PELORIN_LIST(GetFavorFileTypes, SetFavorFileTypes)},
        {{"apple-ids", Kind::kList, "your store accounts"}, PELORIN_LIST(GetAppleIDs, SetAppleIDs)},
        {{"type-filter", Kind::kNumber, "file type filter: 0 off, 1 include, 2 exclude, 3 both"},
         PELORIN_NUMBER(GetTypeFilterMode, SetTypeFilterMode)},
        {{"type-include", Kind::kList, "file types to include"},
         PELORIN_LIST(GetTypeIncludeFilter, SetTypeIncludeFilter)},
        {{"type-exclude", Kind::kList, "file types to exclude"},
         PELORIN_LIST(GetTypeExcludeFilter, SetTypeExcludeFilter)},
        {{"path-filter", Kind::kNumber, "path filter: 0 off, 1 include, 2 exclude, 3 both"},
         PELORIN_NUMBER(GetPathFilterMode, SetPathFilterMode)},
        {{"path-include", Kind::kList, "paths to include"},
         PELORIN_LIST(GetPathIncludeFilter, SetPathIncludeFilter)},
        {{"path-exclude", Kind::kList, "paths to exclude"},
         PELORIN_LIST(GetPathExcludeFilter, SetPathExcludeFilter)},
        {{"genre-filter", Kind::kNumber, "genre filter: 0 off, 1 include, 2 exclude, 3 both"},
         PELORIN_NUMBER(GetGenreFilterMode, SetGenreFilterMode)},
        {{"genre-include", Kind::kList, "genres to include"},
         PELORIN_LIST(GetGenreIncludeFilter, SetGenreIncludeFilter)},
        {{"genre-exclude", Kind::kList, "genres to exclude"},
         PELORIN_LIST(GetGenreExcludeFilter, SetGenreExcludeFilter)},
        {{"artist-filter", Kind::kNumber, "artist filter: 0 off, 1 include, 2 exclude, 3 both"},
         PELORIN_NUMBER(GetArtistFilterMode, SetArtistFilterMode)},
        {{"artist-include", Kind::kList, "artists to include"},
         PELORIN_LIST(GetArtistIncludeFilter, SetArtistIncludeFilter)},
        {{"artist-exclude", Kind::kList, "artists to exclude"},
         PELORIN_LIST(GetArtistExcludeFilter, SetArtistExcludeFilter)},
        {{"album-filter", Kind::kNumber, "album filter: 0 off, 1 include, 2 exclude, 3 both"},
         PELORIN_NUMBER(GetAlbumFilterMode, SetAlbumFilterMode)},
        {{"album-include", Kind::kList, "albums to include"},
         PELORIN_LIST(GetAlbumIncludeFilter, SetAlbumIncludeFilter)},
        {{"album-exclude", Kind::kList, "albums to exclude"},
         PELORIN_LIST(GetAlbumExcludeFilter, SetAlbumExcludeFilter)},
        {{"song-name-filter", Kind::kNumber, "song name filter: 0 off, 1 include, 2 exclude, 3 both"},
         PELORIN_NUMBER(GetSongNameFilterMode, SetSongNameFilterMode)},
        {{"song-name-include", Kind::kList, "parts of song names to include"},
         PELORIN_LIST(GetSongNameIncludeFilter, SetSongNameIncludeFilter)},
        {{"song-name-exclude", Kind::kList, "parts of song names to exclude"},
         PELORIN_LIST(GetSongNameExcludeFilter, SetSongNameExcludeFilter)},
    };
    return entries;
}

#undef PELORIN_FLAG
#undef PELORIN_NUMBER
#undef PELORIN_LIST

const Entry* FindEntry(const std::string& key)
{
    for (const Entry& entry : Entries())
        if (key == entry.setting.key)
            return &entry;
    return nullptr;
}

} // namespace

const std::vector<SyncSettings::Setting>& SyncSettings::All()
{
    static const std::vector<Setting> all = [] {
        std::vector<Setting> settings;
        for (const Entry& entry : Entries())
            settings.push_back(entry.setting);
        return settings;
    }();
    return all;
}

const SyncSettings::Setting* SyncSettings::Find(const std::string& key)
{
    const Entry* entry = FindEntry(key);
    return entry ? &entry->setting : nullptr;
}

std::string SyncSettings::Get(const ASyncLib& sync, const std::string& key)
{
    const Entry* entry = FindEntry(key);
    return entry ? entry->access.get(sync) : std::string();
}

int SyncSettings::Set(ASyncLib& sync, const std::string& key, const std::string& value, std::string* problem)
{
    const Entry* entry = FindEntry(key);
    if (!entry) {
        if (problem)
            *problem = "no setting is called \"" + key + "\"";
        return kErrInvalidElement;
    }
    std::string given = value;
    if (entry->setting.kind == Kind::kFlag) {
        static const std::map<std::string, std::string> kFlags = {
            {"on", "on"}, {"off", "off"}, {"yes", "on"},  {"no", "off"},
            {"1", "on"},  {"0", "off"},   {"true", "on"}, {"false", "off"}};
        auto found = kFlags.find(value);
        if (found == kFlags.end()) {
            if (problem)
                *problem = key + " takes on or off, not \"" + value + "\"";
            return kErrInvalidElement;
        }
        given = found->second;
    } else if (entry->setting.kind == Kind::kNumber) {
        char* end = nullptr;
        const long number = std::strtol(value.c_str(), &end, 10);
        const Setting& setting = entry->setting;
        if (value.empty() || *end != '\0' || number < setting.minimum || number > setting.maximum) {
            if (problem)
                *problem = key + " takes a number from " + std::to_string(setting.minimum) + " to " +
                           std::to_string(setting.maximum) + ", not \"" + value + "\"";
            return kErrInvalidElement;
        }
    } else if (AString::FromUTF8(value).IsEmpty() && !value.empty()) {
        if (problem)
            *problem = key + " takes UTF-8 text";
        return kErrInvalidElement;
    }
    entry->access.set(sync, given);
    return 0;
}

std::vector<AString> SyncSettings::Items(const AString& list) { return liststring::Items(list); }

AString SyncSettings::Join(const std::vector<AString>& items) { return liststring::Join(items); }

AString SyncSettings::WithItem(const AString& list, const AString& item)
{
    std::vector<AString> items = Items(list);
    for (const AString& existing : items)
        if (existing.CompareNoCase(item) == 0)
            return Join(items);
    for (const AString& part : Items(item))
        items.push_back(part);
    return Join(items);
}

AString SyncSettings::WithoutItem(const AString& list, const AString& item)
{
    std::vector<AString> kept;
    for (const AString& existing : Items(list))
        if (existing.CompareNoCase(item) != 0)
            kept.push_back(existing);
    return Join(kept);
}
