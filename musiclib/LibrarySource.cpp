#include "musiclib/LibrarySource.h"

#include "musiclib/LibraryText.h"
#include "musiclib/TrackArtwork.h"

#include "ACommon/base/AError.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

enum class ColumnType { Text, Integer, Real, Boolean, Alias };

struct Column {
    ScriptProperty property;
    const char* name;
    ColumnType type;
};

constexpr Column kColumns[] = {
    {ScriptProperty::Name, "t.name", ColumnType::Text},
    {ScriptProperty::Artist, "t.artist", ColumnType::Text},
    {ScriptProperty::AlbumArtist, "t.album_artist", ColumnType::Text},
    {ScriptProperty::Album, "t.album", ColumnType::Text},
    {ScriptProperty::Genre, "t.genre", ColumnType::Text},
    {ScriptProperty::Composer, "t.composer", ColumnType::Text},
    {ScriptProperty::Show, "t.show", ColumnType::Text},
    {ScriptProperty::Kind, "t.kind", ColumnType::Text},
    {ScriptProperty::Location, "t.location", ColumnType::Alias},
    {ScriptProperty::Size, "t.size", ColumnType::Integer},
    {ScriptProperty::MusicSize, "t.music_size", ColumnType::Integer},
    {ScriptProperty::Duration, "t.duration", ColumnType::Real},
    {ScriptProperty::BitRate, "t.bit_rate", ColumnType::Integer},
    {ScriptProperty::SampleRate, "t.sample_rate", ColumnType::Integer},
    {ScriptProperty::TrackNumber, "t.track_number", ColumnType::Integer},
    {ScriptProperty::TrackCount, "t.track_count", ColumnType::Integer},
    {ScriptProperty::DiscNumber, "t.disc_number", ColumnType::Integer},
    {ScriptProperty::DiscCount, "t.disc_count", ColumnType::Integer},
    {ScriptProperty::Year, "t.year", ColumnType::Integer},
    {ScriptProperty::Compilation, "t.compilation", ColumnType::Boolean},
    {ScriptProperty::Podcast, "t.podcast", ColumnType::Boolean},
    {ScriptProperty::DatabaseID, "t.id", ColumnType::Integer},
    {ScriptProperty::PlayedCount, "t.played_count", ColumnType::Integer},
    {ScriptProperty::SkippedCount, "t.skipped_count", ColumnType::Integer},
    {ScriptProperty::PlayedDate, "t.played_date", ColumnType::Integer},
    {ScriptProperty::Rating, "t.rating", ColumnType::Integer},
};

const Column* ColumnOf(ScriptProperty property)
{
    for (const Column& column : kColumns)
        if (column.property == property)
            return &column;
    return nullptr;
}

ScriptValue ValueOf(const LibraryStore::Query& row, int index, ColumnType type)
{
    switch (type) {
    case ColumnType::Text:
        return ScriptValue::Text(row.Text(index));
    case ColumnType::Integer:
        return ScriptValue::Integer(row.Integer(index));
    case ColumnType::Real:
        return ScriptValue::Real(static_cast<double>(row.Integer(index)));
    case ColumnType::Boolean:
        return ScriptValue::Boolean(row.Integer(index) != 0);
    case ColumnType::Alias:
        return ScriptValue::Alias(row.Text(index));
    }
    return ScriptValue();
}

// Where the tracks of a special playlist come from.
const char* SpecialFilter(const std::string& specialKind)
{
    if (specialKind == "kSpZ")
        return "t.category = 'music'";
    if (specialKind == "kSpI")
        return "t.category = 'movie'";
    if (specialKind == "kSpT")
        return "t.category = 'tv'";
    if (specialKind == "kSpP")
        return "t.category = 'podcast'";
    if (specialKind == "Audiobooks")
        return "t.category = 'audiobook'";
    if (specialKind == "kSpM")
        return "t.store_account <> ''";
    return "0";
}

// Whether nothing is at `path` (not: it cannot be looked at now).
bool IsGone(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

constexpr const char* kPlaylistColumns = "SELECT id, name, smart, special_kind, library FROM playlists ";

// The columns a file's tags give, name to media kind in the tracks table's order, bound from `i` on.
// The record must outlive the query: its text is bound without copies.
void BindTagColumns(LibraryStore::Query& query, int& i, const TrackRecord& record)
{
    for (const std::string* text :
         {&record.name, &record.artist, &record.albumArtist, &record.album, &record.genre, &record.composer,
          &record.show, &record.kind, &record.category})
        query.BindStatic(i++, *text);
    query.Bind(i++, record.size);
    for (int number : {record.duration, record.bitRate, record.sampleRate, record.trackNumber,
                       record.trackCount, record.discNumber, record.discCount, record.year,
                       record.compilation ? 1 : 0, record.podcast ? 1 : 0, record.mediaKind})
        query.Bind(i++, static_cast<std::int64_t>(number));
}

// True when every component of the absolute `path` is a name: none empty, "." or "..". Such a path
// is its own normal form.
bool IsPlainAbsolute(std::string_view path)
{
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

std::string LibrarySource::NormalPath(const std::string& path)
{
    if (path.empty() || path.front() != '/')
        return std::string();
    if (IsPlainAbsolute(path))
        return path;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

int LibrarySource::PlaylistRow(LibraryStore::Query& query, PlaylistInfo& out)
{
    const int result = query.Step();
    if (result == SQLITE_DONE)
        return kErrObjectNotFound;
    if (result != SQLITE_ROW)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    out.id = query.Integer(0);
    out.name = query.Text(1);
    out.smart = query.Integer(2) != 0;
    out.specialKind = query.Text(3);
    out.library = query.Integer(4) != 0;
    return 0;
}

int LibrarySource::Playlists(std::vector<PlaylistInfo>& out)
{
    out.clear();
    LibraryStore::Query query =
        store.Prepare(std::string(kPlaylistColumns) + "WHERE source_id = ?1 ORDER BY library DESC, id");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, GetId());
    while (true) {
        PlaylistInfo info;
        const int err = PlaylistRow(query, info);
        if (err == kErrObjectNotFound)
            return 0;
        if (err != 0)
            return err;
        out.push_back(std::move(info));
    }
}

int LibrarySource::FindPlaylist(const std::string& name, PlaylistInfo& out)
{
    LibraryStore::Query query =
        store.Prepare(std::string(kPlaylistColumns) + "WHERE source_id = ?1 AND name_key = ?2");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, GetId()).Bind(2, LibraryText::Key(name));
    const int err = PlaylistRow(query, out);
    if (err == kErrObjectNotFound)
        return Fail(err, "the library has no playlist \"" + name + "\"");
    return err;
}

int LibrarySource::GetPlaylist(std::int64_t id, PlaylistInfo& out)
{
    LibraryStore::Query query =
        store.Prepare(std::string(kPlaylistColumns) + "WHERE source_id = ?1 AND id = ?2");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, GetId()).Bind(2, id);
    const int err = PlaylistRow(query, out);
    if (err == kErrObjectNotFound)
        return Fail(err, "the playlist no longer exists");
    return err;
}

int LibrarySource::GetLibraryPlaylist(PlaylistInfo& out)
{
    LibraryStore::Query query =
        store.Prepare(std::string(kPlaylistColumns) + "WHERE source_id = ?1 AND library = 1");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, GetId());
    const int err = PlaylistRow(query, out);
    if (err == kErrObjectNotFound)
        return Fail(kErrVersion, "the library has lost its library playlist");
    return err;
}

int LibrarySource::CheckNewName(const std::string& name, std::int64_t except)
{
    if (std::string why = LibraryText::CheckName(name); !why.empty())
        return Fail(kErrUnknown, why);
    PlaylistInfo existing;
    const int err = FindPlaylist(name, existing);
    if (err == 0 && existing.id != except)
        return Fail(kErrDuplicateNames, "the library has a playlist \"" + existing.name + "\" already");
    if (err != 0 && err != kErrObjectNotFound)
        return err;
    return 0;
}

int LibrarySource::MakePlaylist(const std::string& name, PlaylistInfo& out)
{
    if (int err = CheckNewName(name, 0); err != 0)
        return err;
    if (int err = Writable(); err != 0)
        return err;
    LibraryStore::Query insert =
        store.Prepare("INSERT INTO playlists(source_id, name, name_key) VALUES(?1, ?2, ?3)");
    if (!insert)
        return Fail(kErrIO, store.ErrorText());
    insert.Bind(1, GetId()).Bind(2, name).Bind(3, LibraryText::Key(name));
    if (int result = insert.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    return GetPlaylist(store.LastInsertId(), out);
}

int LibrarySource::RenamePlaylist(std::int64_t id, const std::string& name)
{
    PlaylistInfo playlist;
    if (int err = GetPlaylist(id, playlist); err != 0)
        return err;
    if (playlist.IsFixed())
        return Fail(kErrUnknown, "the playlist \"" + playlist.name + "\" cannot be renamed");
    if (int err = CheckNewName(name, id); err != 0)
        return err;
    if (int err = Writable(); err != 0)
        return err;
    LibraryStore::Query update = store.Prepare("UPDATE playlists SET name = ?2, name_key = ?3 WHERE id = ?1");
    if (!update)
        return Fail(kErrIO, store.ErrorText());
    update.Bind(1, id).Bind(2, name).Bind(3, LibraryText::Key(name));
    if (int result = update.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    return 0;
}

int LibrarySource::SetTrackValue(std::uint32_t id, ScriptProperty property, std::int64_t value)
{
    const char* column = nullptr;
    std::int64_t most = INT32_MAX;
    switch (property) {
    case ScriptProperty::PlayedCount:
        column = "played_count";
        break;
    case ScriptProperty::SkippedCount:
        column = "skipped_count";
        break;
    case ScriptProperty::PlayedDate:
        column = "played_date";
        most = INT64_MAX;
        break;
    case ScriptProperty::Rating:
        column = "rating";
        most = 100;
        break;
    default:
        return Fail(kErrUnknown, "the " + ScriptPropertyText(property) + " of a track cannot be set");
    }
    if (value < 0 || value > most)
        return Fail(kErrUnknown,
                    "the " + ScriptPropertyText(property) + " of a track cannot be " + std::to_string(value));
    ScriptValue before;
    if (int err = ReadTrack(id, property, before); err != 0)
        return err;
    if (int err = Writable(); err != 0)
        return err;
    LibraryStore::Query update =
        store.Prepare(std::string("UPDATE tracks SET ") + column + " = ?2 WHERE id = ?1");
    if (!update)
        return Fail(kErrIO, store.ErrorText());
    update.Bind(1, static_cast<std::int64_t>(id)).Bind(2, value);
    if (int result = update.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    if (property != ScriptProperty::PlayedCount || value <= before.GetInteger())
        return 0;
    ScriptValue played;
    if (int err = ReadTrack(id, ScriptProperty::PlayedDate, played); err != 0)
        return err;
    LibraryStore::Query record =
        store.Prepare("INSERT INTO plays(track_id, count, played_date) VALUES(?1, ?2, ?3)");
    if (!record)
        return Fail(kErrIO, store.ErrorText());
    record.Bind(1, static_cast<std::int64_t>(id))
        .Bind(2, value - before.GetInteger())
        .Bind(3, played.GetInteger());
    if (int result = record.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    return 0;
}

int LibrarySource::PlaysBroughtBack(std::vector<std::string>& keys)
{
    keys.clear();
    LibraryStore::Query query = store.Prepare("SELECT key FROM plays_brought_back ORDER BY rowid");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    int result;
    while ((result = query.Step()) == SQLITE_ROW)
        keys.push_back(query.Text(0));
    return result == SQLITE_DONE ? 0 : Fail(LibraryStore::CodeFor(result), store.ErrorText());
}

int LibrarySource::AddPlaysBroughtBack(const std::string& key)
{
    if (key.empty())
        return Fail(kErrUnknown, "the key of plays brought back cannot be empty");
    if (int err = Writable(); err != 0)
        return err;
    LibraryStore::Query insert = store.Prepare("INSERT OR IGNORE INTO plays_brought_back(key) VALUES(?1)");
    if (!insert)
        return Fail(kErrIO, store.ErrorText());
    if (int result = insert.Bind(1, key).Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    if (store.Changes() == 0)
        return Fail(kErrDuplicate, "the plays of " + key + " were brought back already");
    return 0;
}

int LibrarySource::DeletePlaylist(std::int64_t id)
{
    PlaylistInfo playlist;
    if (int err = GetPlaylist(id, playlist); err != 0)
        return err;
    if (playlist.IsFixed())
        return Fail(kErrUnknown, "the playlist \"" + playlist.name + "\" cannot be deleted");
    if (int err = Writable(); err != 0)
        return err;
    // Its members go with it (the foreign key cascades); its tracks stay.
    LibraryStore::Query remove = store.Prepare("DELETE FROM playlists WHERE id = ?1");
    if (!remove)
        return Fail(kErrIO, store.ErrorText());
    remove.Bind(1, id);
    if (int result = remove.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    return 0;
}

int LibrarySource::Query(const TrackSelection& selection, const std::string& columns, int offset, int limit,
                         const std::function<void(LibraryStore::Query&)>& row)
{
    PlaylistInfo playlist;
    if (int err = GetPlaylist(selection.playlist, playlist); err != 0)
        return err;
    const bool members = !playlist.IsFixed();
    std::string sql = "SELECT " + columns;
    if (members)
        sql += " FROM members m JOIN tracks t ON t.id = m.track_id WHERE m.playlist_id = ?1";
    else if (playlist.library)
        sql += " FROM tracks t WHERE 1";
    else
        sql += std::string(" FROM tracks t WHERE ") + SpecialFilter(playlist.specialKind);
    int next = 2;
    for (const TrackCondition& condition : selection.conditions) {
        const Column* column = ColumnOf(condition.property);
        if (!column)
            return Fail(kErrUnknown, "a track has no " + ScriptPropertyText(condition.property));
        sql += std::string(" AND ") + column->name + (condition.equal ? " = ?" : " <> ?") +
               std::to_string(next++);
        if (condition.isText)
            sql += " COLLATE LIBTEXT";
    }
    const bool counting = columns == "count(*)";
    if (!counting)
        sql += members ? " ORDER BY m.position" : " ORDER BY t.id";
    const bool limited = limit >= 0 || offset > 0;
    if (limited)
        sql += " LIMIT ?" + std::to_string(next) + " OFFSET ?" + std::to_string(next + 1);

    LibraryStore::Query query = store.Prepare(sql);
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    if (members)
        query.Bind(1, selection.playlist);
    next = 2;
    for (const TrackCondition& condition : selection.conditions) {
        if (condition.isText)
            query.Bind(next++, condition.text);
        else if (condition.number == std::floor(condition.number) && std::fabs(condition.number) < 9e15)
            query.Bind(next++, static_cast<std::int64_t>(condition.number));
        else
            query.Bind(next++, condition.number);
    }
    if (limited)
        query.Bind(next, static_cast<std::int64_t>(limit)).Bind(next + 1, static_cast<std::int64_t>(offset));
    while (true) {
        const int result = query.Step();
        if (result == SQLITE_DONE)
            return 0;
        if (result != SQLITE_ROW)
            return Fail(LibraryStore::CodeFor(result), store.ErrorText());
        row(query);
    }
}

int LibrarySource::CountTracks(const TrackSelection& selection, int& count)
{
    count = 0;
    return Query(selection, "count(*)", 0, -1,
                 [&count](LibraryStore::Query& row) { count = static_cast<int>(row.Integer(0)); });
}

int LibrarySource::ListTracks(const TrackSelection& selection, int offset, int limit,
                              std::vector<TrackEntry>& out)
{
    out.clear();
    PlaylistInfo playlist;
    if (int err = GetPlaylist(selection.playlist, playlist); err != 0)
        return err;
    return Query(selection, playlist.IsFixed() ? "t.id, 0" : "t.id, m.id", offset, limit,
                 [&out](LibraryStore::Query& row) {
                     out.push_back(TrackEntry{static_cast<std::uint32_t>(row.Integer(0)), row.Integer(1)});
                 });
}

int LibrarySource::ReadTracks(const TrackSelection& selection, ScriptProperty property,
                              std::vector<ScriptValue>& out)
{
    out.clear();
    const Column* column = ColumnOf(property);
    if (!column)
        return Fail(kErrUnknown, "a track has no " + ScriptPropertyText(property));
    return Query(selection, column->name, 0, -1,
                 [&out, column](LibraryStore::Query& row) { out.push_back(ValueOf(row, 0, column->type)); });
}

int LibrarySource::ReadTrack(std::uint32_t id, ScriptProperty property, ScriptValue& out)
{
    const Column* column = ColumnOf(property);
    if (!column)
        return Fail(kErrUnknown, "a track has no " + ScriptPropertyText(property));
    LibraryStore::Query query =
        store.Prepare(std::string("SELECT ") + column->name + " FROM tracks t WHERE t.id = ?1");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, static_cast<std::int64_t>(id));
    const int result = query.Step();
    if (result == SQLITE_DONE)
        return Fail(kErrObjectNotFound,
                    "the library has no track with the database ID " + std::to_string(id));
    if (result != SQLITE_ROW)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    out = ValueOf(query, 0, column->type);
    return 0;
}

int LibrarySource::ReadPictures(std::uint32_t id, std::vector<TrackPicture>& out)
{
    ScriptValue location;
    if (int err = ReadTrack(id, ScriptProperty::Location, location); err != 0)
        return err;
    TrackArtwork::Read(location.GetText(), true, out);
    return 0;
}

int LibrarySource::FindTrack(const std::string& location, const std::string& canonical, std::uint32_t& id)
{
    // By the path it was added by, or by the file a link leads to (a track added through a link
    // keeps the resolved path too), or by the file's identity.
    id = 0;
    LibraryStore::Query query = store.Prepare(
        "SELECT id FROM tracks WHERE location = ?1 UNION ALL SELECT id FROM tracks WHERE location = ?2 "
        "UNION ALL SELECT id FROM tracks WHERE canonical = ?2 AND canonical IS NOT NULL LIMIT 1");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, location).Bind(2, canonical.empty() ? location : canonical);
    const int result = query.Step();
    if (result == SQLITE_ROW)
        id = static_cast<std::uint32_t>(query.Integer(0));
    else if (result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    if (id != 0)
        return 0;
    // The same file by another path (a hard link, a folder mounted twice, a link the track was not
    // added through): a track whose file had this identity, and still has it (device numbers are
    // given out again after a drive goes). Else the file renamed or moved: a track whose file had
    // this identity and this size at a path where nothing is now.
    std::int64_t size = 0;
    const std::string identity = TrackRecord::FileIdentity(location, &size);
    if (identity.empty())
        return 0;
    LibraryStore::Query same =
        store.Prepare("SELECT id, location, size FROM tracks WHERE file_id = ?1 AND file_id <> ''");
    if (!same)
        return Fail(kErrIO, store.ErrorText());
    same.Bind(1, identity);
    std::uint32_t moved = 0;
    int step = SQLITE_ROW;
    while ((step = same.Step()) == SQLITE_ROW) {
        const std::string stored = same.Text(1);
        if (TrackRecord::FileIdentity(stored) == identity) {
            id = static_cast<std::uint32_t>(same.Integer(0));
            return 0;
        }
        if (moved == 0 && same.Integer(2) == size && IsGone(stored))
            moved = static_cast<std::uint32_t>(same.Integer(0));
    }
    if (step != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(step), store.ErrorText());
    id = moved;
    return 0;
}

int LibrarySource::PathsUnder(const std::string& folder, std::unordered_set<std::string>& out)
{
    // Paths that begin with "folder/": from "folder/" up to, not including, "folder0" ('0' follows '/').
    const std::string low = folder + "/";
    const std::string high = folder + "0";
    for (const char* column : {"location", "canonical"}) {
        LibraryStore::Query query =
            store.Prepare(std::string("SELECT ") + column + " FROM tracks WHERE " + column +
                          " IS NOT NULL AND " + column + " >= ?1 AND " + column + " < ?2");
        if (!query)
            return Fail(kErrIO, store.ErrorText());
        query.Bind(1, low).Bind(2, high);
        int result = SQLITE_ROW;
        while ((result = query.Step()) == SQLITE_ROW)
            out.insert(query.Text(0));
        if (result != SQLITE_DONE)
            return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    }
    return 0;
}

int LibrarySource::RefreshChanged(const std::string& folder, int& refreshed)
{
    refreshed = 0;
    struct Stale {
        std::int64_t id;
        std::string location;
    };
    std::vector<Stale> stale;
    {
        // Under the folder by the path a track was added by, or by the file a link of it leads to.
        std::string sql = "SELECT id, location, size, file_time_ns, change_time_ns FROM tracks";
        if (!folder.empty())
            sql += " WHERE (location >= ?1 AND location < ?2) OR (canonical >= ?1 AND canonical < ?2)";
        LibraryStore::Query query = store.Prepare(sql);
        if (!query)
            return Fail(kErrIO, store.ErrorText());
        if (!folder.empty())
            query.Bind(1, folder + "/").Bind(2, folder + "0"); // '0' follows '/'
        int result = SQLITE_ROW;
        while ((result = query.Step()) == SQLITE_ROW) {
            std::string location = query.Text(1);
            if (TrackRecord::FileChanged(location, query.Integer(2), query.Integer(3), query.Integer(4)))
                stale.push_back(Stale{query.Integer(0), std::move(location)});
        }
        if (result != SQLITE_DONE)
            return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    }
    if (stale.empty())
        return 0;
    if (int err = Begin(true); err != 0)
        return err;
    for (const Stale& track : stale) {
        bool changed = false;
        if (int err = Reread(track.id, track.location, changed); err != 0) {
            Rollback();
            return err;
        }
        refreshed += changed ? 1 : 0;
    }
    return Commit();
}

int LibrarySource::FollowLinksUnder(const std::string& folder, int& followed)
{
    followed = 0;
    std::vector<std::pair<std::int64_t, std::string>> gone;
    {
        LibraryStore::Query query = store.Prepare(
            "SELECT id, location, canonical FROM tracks WHERE canonical >= ?1 AND canonical < ?2");
        if (!query)
            return Fail(kErrIO, store.ErrorText());
        query.Bind(1, folder + "/").Bind(2, folder + "0"); // '0' follows '/'
        int result = SQLITE_ROW;
        while ((result = query.Step()) == SQLITE_ROW) {
            struct stat info {};
            std::string canonical = query.Text(2);
            if (IsGone(query.Text(1)) && stat(canonical.c_str(), &info) == 0 && S_ISREG(info.st_mode))
                gone.emplace_back(query.Integer(0), std::move(canonical));
        }
        if (result != SQLITE_DONE)
            return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    }
    if (gone.empty())
        return 0;
    if (int err = Begin(true); err != 0)
        return err;
    for (const auto& [id, canonical] : gone) {
        if (int err = Relocate(id, canonical, canonical); err != 0) {
            Rollback();
            return err;
        }
        ++followed;
    }
    return Commit();
}

int LibrarySource::Relocate(std::int64_t id, const std::string& location, const std::string& canonical)
{
    if (int err = Writable(); err != 0)
        return err;
    // A path another track holds is left to that track.
    LibraryStore::Query update =
        store.Prepare("UPDATE OR IGNORE tracks SET location = ?2, canonical = ?3 WHERE id = ?1");
    if (!update)
        return Fail(kErrIO, store.ErrorText());
    update.Bind(1, id).Bind(2, location);
    if (canonical == location)
        update.BindNull(3);
    else
        update.Bind(3, canonical);
    if (int result = update.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    return 0;
}

int LibrarySource::TakeOver(std::uint32_t id, const std::string& location, const std::string& canonical)
{
    LibraryStore::Query query =
        store.Prepare("SELECT location, size, file_time_ns, change_time_ns FROM tracks WHERE id = ?1");
    if (!query)
        return Fail(kErrIO, store.ErrorText());
    query.Bind(1, static_cast<std::int64_t>(id));
    const int result = query.Step();
    if (result != SQLITE_ROW)
        return result == SQLITE_DONE ? 0 : Fail(LibraryStore::CodeFor(result), store.ErrorText());
    std::string stored = query.Text(0);
    const std::int64_t size = query.Integer(1), fileTimeNs = query.Integer(2),
                       changeTimeNs = query.Integer(3);
    if (stored != location && IsGone(stored)) {
        if (int err = Relocate(id, location, canonical); err != 0)
            return err;
        stored = location;
    }
    if (!TrackRecord::FileChanged(stored, size, fileTimeNs, changeTimeNs))
        return 0;
    if (int err = Writable(); err != 0)
        return err;
    bool changed = false;
    return Reread(id, stored, changed);
}

int LibrarySource::Reread(std::int64_t id, const std::string& location, bool& changed)
{
    // The columns read from the file, bound from ?2 on in this order; the track changed when one of
    // them did (not for new times alone, nor for a drive mounted under another device number).
    static const std::string kUpdate = [] {
        static constexpr const char* kRead[] = {
            "name",        "artist",       "album_artist", "album",       "genre",         "composer",
            "show",        "kind",         "category",     "size",        "duration",      "bit_rate",
            "sample_rate", "track_number", "track_count",  "disc_number", "disc_count",    "year",
            "compilation", "podcast",      "media_kind",   "music_size",  "store_account", "canonical"};
        std::string set, differs;
        int parameter = 2;
        for (const char* column : kRead) {
            const std::string bound = "?" + std::to_string(parameter++);
            set += (set.empty() ? "" : ", ") + std::string(column) + " = " + bound;
            differs += (differs.empty() ? "" : " OR ") + std::string(column) + " IS NOT " + bound;
        }
        return "UPDATE tracks SET " + set + " WHERE id = ?1 AND (" + differs + ")";
    }();
    changed = false;
    TrackRecord record;
    std::string why;
    // A file that cannot be read now (half written, gone meanwhile) keeps its record, and is tried
    // again next time: its times are not taken.
    if (TrackRecord::Read(location, record, why) != 0)
        return 0;
    // A link may lead to another file now.
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(location, error);
    const std::string canonical = error ? location : resolved.string();

    LibraryStore::Query update = store.Prepare(kUpdate);
    if (!update)
        return Fail(kErrIO, store.ErrorText());
    int i = 1;
    update.Bind(i++, id);
    BindTagColumns(update, i, record);
    update.Bind(i++, record.musicSize);
    update.Bind(i++, record.storeAccount);
    if (canonical == location)
        update.BindNull(i++);
    else
        update.Bind(i++, canonical);
    if (int result = update.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    changed = store.Changes() > 0;

    LibraryStore::Query stamp = store.Prepare("UPDATE tracks SET file_time = ?2, file_time_ns = ?3, "
                                              "change_time_ns = ?4, file_id = ?5 WHERE id = ?1");
    if (!stamp)
        return Fail(kErrIO, store.ErrorText());
    stamp.Bind(1, id)
        .Bind(2, record.fileTime)
        .Bind(3, record.fileTimeNs)
        .Bind(4, record.changeTimeNs)
        .Bind(5, record.fileId);
    if (int result = stamp.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    return 0;
}

int LibrarySource::InsertTrack(const TrackRecord& record, std::uint32_t& id, bool* inserted)
{
    if (inserted)
        *inserted = false;
    if (int err = Writable(); err != 0)
        return err;
    LibraryStore::Query insert = store.Prepare(
        "INSERT INTO tracks(location, canonical, name, artist, album_artist, album, genre, composer, show, "
        "kind, category, size, duration, bit_rate, sample_rate, track_number, track_count, disc_number, "
        "disc_count, year, compilation, podcast, media_kind, store_account, date_added, file_time, "
        "music_size, file_id, file_time_ns, change_time_ns) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
        "?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, ?30) "
        "ON CONFLICT(location) DO NOTHING");
    if (!insert)
        return Fail(kErrIO, store.ErrorText());
    // The record outlives the insert: its text is bound without copies.
    int i = 1;
    insert.BindStatic(i++, record.location);
    if (record.canonical.empty() || record.canonical == record.location)
        insert.BindNull(i++);
    else
        insert.BindStatic(i++, record.canonical);
    BindTagColumns(insert, i, record);
    insert.BindStatic(i++, record.storeAccount);
    insert.Bind(i++, static_cast<std::int64_t>(std::time(nullptr)));
    insert.Bind(i++, record.fileTime);
    insert.Bind(i++, record.musicSize);
    insert.BindStatic(i++, record.fileId);
    insert.Bind(i++, record.fileTimeNs);
    insert.Bind(i++, record.changeTimeNs);
    if (int result = insert.Step(); result != SQLITE_DONE)
        return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    // Another process added the file meanwhile: its track.
    if (store.Changes() == 0)
        return FindTrack(record.location, record.canonical, id);
    if (inserted)
        *inserted = true;
    const std::int64_t row = store.LastInsertId();
    // Database IDs are 32-bit numbers; the row ids that name them are never used again.
    if (row <= 0 || row > INT32_MAX)
        return Fail(kErrAddSong, "the library has used up its database IDs");
    id = static_cast<std::uint32_t>(row);
    return 0;
}

int LibrarySource::AddFile(const std::string& path, std::int64_t playlist, std::uint32_t& id)
{
    id = 0;
    const std::string location = NormalPath(path);
    if (location.empty())
        return Fail(kErrInvalidPath, "\"" + path + "\" is not an absolute path");
    PlaylistInfo target;
    if (int err = GetPlaylist(playlist, target); err != 0)
        return err;
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(location, error);
    const std::string canonical = error ? location : resolved.string();
    if (int err = FindTrack(location, canonical, id); err != 0)
        return err;
    if (id != 0) {
        if (int err = TakeOver(id, location, canonical); err != 0)
            return err;
    } else {
        TrackRecord record;
        std::string why;
        if (int err = TrackRecord::Read(location, record, why); err != 0)
            return Fail(err, "cannot add " + location + ": " + why);
        record.canonical = canonical;
        if (int err = InsertTrack(record, id); err != 0)
            return err;
    }
    return AddToPlaylist(id, playlist);
}

int LibrarySource::AddToPlaylist(std::uint32_t id, std::int64_t playlist)
{
    PlaylistInfo target;
    if (int err = GetPlaylist(playlist, target); err != 0)
        return err;
    if (target.IsFixed())
        return 0;
    LibraryStore::Query present =
        store.Prepare("SELECT 1 FROM members WHERE playlist_id = ?1 AND track_id = ?2");
    if (!present)
        return Fail(kErrIO, store.ErrorText());
    present.Bind(1, playlist).Bind(2, static_cast<std::int64_t>(id));
    if (present.Step() == SQLITE_ROW)
        return 0;
    if (int err = Writable(); err != 0)
        return err;
    LibraryStore::Query insert =
        store.Prepare("INSERT INTO members(playlist_id, position, track_id) SELECT ?1, "
                      "COALESCE(MAX(position), 0) + 1, ?2 FROM members WHERE playlist_id = ?1");
    if (!insert)
        return Fail(kErrIO, store.ErrorText());
    insert.Bind(1, playlist).Bind(2, static_cast<std::int64_t>(id));
    if (int result = insert.Step(); result != SQLITE_DONE)
        return Fail(result == SQLITE_CONSTRAINT_FOREIGNKEY ? kErrObjectNotFound
                                                           : LibraryStore::CodeFor(result),
                    "the track " + std::to_string(id) + " cannot be put in \"" + target.name +
                        "\": " + store.ErrorText());
    return 0;
}

int LibrarySource::DeleteTracks(std::int64_t playlist, const std::vector<TrackEntry>& entries)
{
    PlaylistInfo target;
    if (int err = GetPlaylist(playlist, target); err != 0)
        return err;
    if (!target.library && target.IsFixed())
        return Fail(kErrUnableToDelete,
                    "tracks cannot be taken out of the special playlist \"" + target.name + "\"");
    if (entries.empty())
        return 0;
    if (int err = Writable(); err != 0)
        return err;
    for (const TrackEntry& entry : entries) {
        std::string sql;
        if (target.library)
            sql = "DELETE FROM tracks WHERE id = ?2";
        else if (entry.entry != 0)
            sql = "DELETE FROM members WHERE playlist_id = ?1 AND id = ?3";
        else
            sql = "DELETE FROM members WHERE playlist_id = ?1 AND track_id = ?2";
        LibraryStore::Query remove = store.Prepare(sql);
        if (!remove)
            return Fail(kErrIO, store.ErrorText());
        if (!target.library)
            remove.Bind(1, playlist);
        remove.Bind(2, static_cast<std::int64_t>(entry.id));
        if (!target.library && entry.entry != 0)
            remove.Bind(3, entry.entry);
        if (int result = remove.Step(); result != SQLITE_DONE)
            return Fail(LibraryStore::CodeFor(result), store.ErrorText());
    }
    return 0;
}

int LibrarySource::Writable()
{
    needsWriter = store.InTransaction() && !writing;
    if (needsWriter)
        return Fail(kErrBusy, "the script changes the library in a transaction begun for reading");
    return 0;
}

int LibrarySource::Begin(bool write)
{
    writing = write;
    needsWriter = false;
    if (int err = store.Begin(write); err != 0)
        return Fail(err, "the library is busy: " + store.ErrorText());
    return 0;
}

int LibrarySource::Commit()
{
    if (int err = store.Commit(); err != 0)
        return Fail(err, store.ErrorText());
    return 0;
}

void LibrarySource::Rollback() { store.Rollback(); }
