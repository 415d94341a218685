#include "musiclib/LibraryStore.h"

#include "musiclib/LibraryText.h"

#include "ACommon/base/AError.h"
#include "APlatform/Unicode.h"

#include <sqlite3.h>

namespace {

// The schema, version 1.
//   sources    the library (row 1) and the iPods attached to it: an iPod's volume folder name and
//              the identity that tells it from other iPods
//   playlists  of the library source; `library` marks the one that holds every track, a special
//              kind other than kSpN one whose tracks follow from the tracks' category or account;
//              names are unique by their key (case folded, canonically decomposed)
//   tracks     the database ID is the row id, never used again once a track is gone; `location`
//              is the path the file was added by, `canonical` the same with links resolved when
//              that differs (else null)
//   members    the tracks of ordinary playlists, in the order of `position`
constexpr const char* kSchema = R"SQL(
CREATE TABLE sources(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    name_key TEXT NOT NULL UNIQUE,
    kind TEXT NOT NULL,
    volume TEXT NOT NULL DEFAULT '',
    identity TEXT NOT NULL DEFAULT ''
);
CREATE TABLE playlists(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    source_id INTEGER NOT NULL REFERENCES sources(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    name_key TEXT NOT NULL,
    smart INTEGER NOT NULL DEFAULT 0,
    special_kind TEXT NOT NULL DEFAULT 'kSpN',
    library INTEGER NOT NULL DEFAULT 0,
    UNIQUE(source_id, name_key)
);
CREATE TABLE tracks(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    location TEXT NOT NULL UNIQUE,
    canonical TEXT,
    name TEXT NOT NULL DEFAULT '',
    artist TEXT NOT NULL DEFAULT '',
    album_artist TEXT NOT NULL DEFAULT '',
    album TEXT NOT NULL DEFAULT '',
    genre TEXT NOT NULL DEFAULT '',
    composer TEXT NOT NULL DEFAULT '',
    show TEXT NOT NULL DEFAULT '',
    kind TEXT NOT NULL DEFAULT '',
    category TEXT NOT NULL DEFAULT 'music',
    size INTEGER NOT NULL DEFAULT 0,
    duration INTEGER NOT NULL DEFAULT 0,
    bit_rate INTEGER NOT NULL DEFAULT 0,
    sample_rate INTEGER NOT NULL DEFAULT 0,
    track_number INTEGER NOT NULL DEFAULT 0,
    track_count INTEGER NOT NULL DEFAULT 0,
    disc_number INTEGER NOT NULL DEFAULT 0,
    disc_count INTEGER NOT NULL DEFAULT 0,
    year INTEGER NOT NULL DEFAULT 0,
    compilation INTEGER NOT NULL DEFAULT 0,
    podcast INTEGER NOT NULL DEFAULT 0,
    media_kind INTEGER NOT NULL DEFAULT -1,
    store_account TEXT NOT NULL DEFAULT '',
    date_added INTEGER NOT NULL DEFAULT 0,
    file_time INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX tracks_canonical ON tracks(canonical) WHERE canonical IS NOT NULL;
CREATE TABLE members(
    id INTEGER PRIMARY KEY,
    playlist_id INTEGER NOT NULL REFERENCES playlists(id) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    track_id INTEGER NOT NULL REFERENCES tracks(id) ON DELETE CASCADE,
    UNIQUE(playlist_id, position)
);
CREATE INDEX members_track ON members(track_id);
)SQL";

struct SpecialPlaylist {
    const char* name;
    const char* specialKind;
    int library;
};

// The playlists a library has from the start, in this order.
constexpr SpecialPlaylist kFirstPlaylists[] = {
    {"Library", "kSpN", 1},   {"Music", "kSpZ", 0},         {"Movies", "kSpI", 0},
    {"TV Shows", "kSpT", 0},  {"Podcasts", "kSpP", 0},      {"Audiobooks", "Audiobooks", 0},
    {"Purchased", "kSpM", 0}, {"Party Shuffle", "kSpS", 0},
};

int CompareLibText(void*, int lengthA, const void* a, int lengthB, const void* b)
{
    return LibraryText::Compare(
        std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(lengthA)),
        std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(lengthB)));
}

} // namespace

LibraryStore::Query::~Query()
{
    if (statement) {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
}

LibraryStore::Query& LibraryStore::Query::Bind(int index, std::int64_t value)
{
    sqlite3_bind_int64(statement, index, value);
    return *this;
}

LibraryStore::Query& LibraryStore::Query::Bind(int index, const std::string& utf8)
{
    sqlite3_bind_text(statement, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

LibraryStore::Query& LibraryStore::Query::BindStatic(int index, const std::string& utf8)
{
    sqlite3_bind_text(statement, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_STATIC);
    return *this;
}

LibraryStore::Query& LibraryStore::Query::BindNull(int index)
{
    sqlite3_bind_null(statement, index);
    return *this;
}

LibraryStore::Query& LibraryStore::Query::Bind(int index, double value)
{
    sqlite3_bind_double(statement, index, value);
    return *this;
}

int LibraryStore::Query::Step() { return sqlite3_step(statement); }

std::int64_t LibraryStore::Query::Integer(int column) const
{
    return sqlite3_column_int64(statement, column);
}

double LibraryStore::Query::Real(int column) const { return sqlite3_column_double(statement, column); }

std::string LibraryStore::Query::Text(int column) const
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    const int length = sqlite3_column_bytes(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length))
                : std::string();
}

LibraryStore::~LibraryStore()
{
    if (inTransaction)
        Rollback();
    for (auto& [sql, statement] : statements)
        sqlite3_finalize(statement);
    if (database)
        sqlite3_close_v2(database);
}

int LibraryStore::CodeFor(int sqliteResult)
{
    switch (sqliteResult & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return kErrBusy;
    case SQLITE_NOMEM:
        return kErrOutOfMemory;
    case SQLITE_FULL:
        return kErrNoSpace;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return kErrLibraryDamaged;
    case SQLITE_READONLY:
        return kErrLibraryReadOnly;
    default:
        return kErrIO;
    }
}

std::string LibraryStore::ErrorText() const
{
    return database ? std::string(sqlite3_errmsg(database))
                    : std::string("the library's database is not open");
}

std::int64_t LibraryStore::LastInsertId() const { return sqlite3_last_insert_rowid(database); }

int LibraryStore::Changes() const { return sqlite3_changes(database); }

int LibraryStore::Explained(int code, const std::string& path, std::string& error)
{
    const std::string reason = error.empty() ? std::string() : " (" + error + ")";
    switch (code) {
    case kErrLibraryDamaged:
        error = "the library's database " + path + " is damaged" + reason +
                "; put back a copy of it, or move it away and make the library again with \"pelorin "
                "library init\" and \"pelorin library import\"";
        break;
    case kErrLibraryReadOnly:
        error = "the library's database " + path + " cannot be written" + reason +
                "; give this user write access to it and to its folder";
        break;
    case kErrLibraryNewer:
        error = "the library's database " + path + " was made by a newer version of Pelorin" + reason +
                "; use that version with it";
        break;
    default:
        break;
    }
    return code;
}

int LibraryStore::Open(const std::string& path, std::string& error)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int result = sqlite3_open_v2(path.c_str(), &database, flags, nullptr);
    if (result != SQLITE_OK) {
        error = "cannot open " + path + ": " + ErrorText();
        const int code = CodeFor(result);
        sqlite3_close_v2(database);
        database = nullptr;
        return code == 0 ? kErrIO : Explained(code, path, error);
    }
    sqlite3_busy_timeout(database, kBusyTimeoutMs);
    sqlite3_extended_result_codes(database, 1);
    sqlite3_create_collation_v2(database, "LIBTEXT", SQLITE_UTF8, nullptr, CompareLibText, nullptr);
    // WAL lets readers go on while one process writes; FULL makes a commit survive a power loss.
    for (const char* pragma :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
        if (int err = Execute(pragma); err != 0) {
            error = ErrorText();
            if (err != kErrLibraryDamaged && err != kErrLibraryReadOnly)
                error = "cannot set up " + path + ": " + error;
            return Explained(err, path, error);
        }
    }
    return Explained(Migrate(error), path, error);
}

int LibraryStore::Migrate(std::string& error)
{
    if (int err = Begin(true); err != 0) {
        error = err == kErrLibraryDamaged || err == kErrLibraryReadOnly
                    ? ErrorText()
                    : "cannot lock the library's database: " + ErrorText();
        return err;
    }
    int current = 0;
    {
        Query version = Prepare("PRAGMA user_version");
        if (!version || version.Step() != SQLITE_ROW) {
            error = "it is not a library database: " + ErrorText();
            Rollback();
            return kErrLibraryDamaged;
        }
        current = static_cast<int>(version.Integer(0));
    }
    if (current > kSchemaVersion) {
        Rollback();
        error = "schema " + std::to_string(current);
        return kErrLibraryNewer;
    }
    if (current < 1) {
        int err = Execute(kSchema);
        {
            Query source =
                Prepare("INSERT INTO sources(id, name, name_key, kind) VALUES(?1, 'Library', ?2, 'library')");
            if (err == 0)
                err = CodeFor(source.Bind(1, kLibrarySourceId).Bind(2, LibraryText::Key("Library")).Step());
        }
        for (const SpecialPlaylist& playlist : kFirstPlaylists) {
            if (err != 0)
                break;
            Query insert = Prepare("INSERT INTO playlists(source_id, name, name_key, special_kind, library) "
                                   "VALUES(?1, ?2, ?3, ?4, ?5)");
            err = CodeFor(insert.Bind(1, kLibrarySourceId)
                              .Bind(2, std::string(playlist.name))
                              .Bind(3, LibraryText::Key(playlist.name))
                              .Bind(4, std::string(playlist.specialKind))
                              .Bind(5, static_cast<std::int64_t>(playlist.library))
                              .Step());
        }
        if (err == 0)
            err = Execute("PRAGMA user_version=1");
        if (err != 0) {
            error = "cannot make the library's tables: " + ErrorText();
            Rollback();
            return err;
        }
    }
    // Later schema versions add their steps here, each from the version before.
    // Version 2: the music size of each track (0 for tracks added before: not known), and the
    // identity of its file ("device:inode"; empty before), which finds a file added again by
    // another path.
    if (current < 2) {
        int err = Execute("ALTER TABLE tracks ADD COLUMN music_size INTEGER NOT NULL DEFAULT 0; "
                          "ALTER TABLE tracks ADD COLUMN file_id TEXT NOT NULL DEFAULT ''; "
                          "CREATE INDEX tracks_file_id ON tracks(file_id) WHERE file_id <> ''");
        if (err == 0)
            err = Execute("PRAGMA user_version=2");
        if (err != 0) {
            error = "cannot bring the library's tables up to date: " + ErrorText();
            Rollback();
            return err;
        }
    }
    // Version 3: what was listened to of each track (brought back from iPods), and every batch of
    // plays brought back, for an export of the plays since a date.
    if (current < 3) {
        int err = Execute("ALTER TABLE tracks ADD COLUMN played_count INTEGER NOT NULL DEFAULT 0; "
                          "ALTER TABLE tracks ADD COLUMN skipped_count INTEGER NOT NULL DEFAULT 0; "
                          "ALTER TABLE tracks ADD COLUMN played_date INTEGER NOT NULL DEFAULT 0; "
                          "ALTER TABLE tracks ADD COLUMN rating INTEGER NOT NULL DEFAULT 0; "
                          "CREATE TABLE plays(id INTEGER PRIMARY KEY, "
                          "track_id INTEGER NOT NULL REFERENCES tracks(id) ON DELETE CASCADE, "
                          "count INTEGER NOT NULL, played_date INTEGER NOT NULL); "
                          "CREATE INDEX plays_date ON plays(played_date)");
        if (err == 0)
            err = Execute("PRAGMA user_version=3");
        if (err != 0) {
            error = "cannot bring the library's tables up to date: " + ErrorText();
            Rollback();
            return err;
        }
    }
    // Version 4: the merges of an iPod's records of plays the library took in, each by its key (what
    // the records and the iPod's database were when they were taken in), written in the transaction
    // that takes in the plays: a run stopped after it is told by the key that they are in.
    if (current < 4) {
        int err = Execute("CREATE TABLE plays_brought_back(key TEXT PRIMARY KEY)");
        if (err == 0)
            err = Execute("PRAGMA user_version=4");
        if (err != 0) {
            error = "cannot bring the library's tables up to date: " + ErrorText();
            Rollback();
            return err;
        }
    }
    // Columns an older version can do without are added whenever they are missing, in this same
    // transaction, without a new version number: an older version refuses a newer schema, and this
    // way it still opens the library (it leaves these columns as they are, which reads as "not
    // known" or "changed" here, never as "the same").
    //   file_time_ns, change_time_ns  the file's modification and change times, in nanoseconds since
    //                                 1970, when its record was read (0: not known)
    for (const char* column : {"file_time_ns", "change_time_ns"}) {
        if (HasColumn("tracks", column))
            continue;
        if (int err = Execute(std::string("ALTER TABLE tracks ADD COLUMN ") + column +
                              " INTEGER NOT NULL DEFAULT 0");
            err != 0) {
            error = "cannot bring the library's tables up to date: " + ErrorText();
            Rollback();
            return err;
        }
    }
    if (int err = Commit(); err != 0) {
        error = "cannot save the library's tables: " + ErrorText();
        return err;
    }
    return 0;
}

bool LibraryStore::HasColumn(const char* table, const char* column)
{
    // A statement that names a column the table lacks does not prepare.
    const std::string sql = std::string("SELECT ") + column + " FROM " + table + " LIMIT 0";
    sqlite3_stmt* statement = nullptr;
    const bool has = sqlite3_prepare_v2(database, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK;
    sqlite3_finalize(statement);
    return has;
}

LibraryStore::Query LibraryStore::Prepare(const std::string& sql)
{
    if (!database)
        return Query(nullptr);
    auto found = statements.find(sql);
    if (found != statements.end())
        return Query(found->second);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(database, sql.c_str(), static_cast<int>(sql.size()) + 1, SQLITE_PREPARE_PERSISTENT,
                           &statement, nullptr) != SQLITE_OK)
        return Query(nullptr);
    statements.emplace(sql, statement);
    return Query(statement);
}

int LibraryStore::Execute(const std::string& sql)
{
    if (!database)
        return kErrIO;
    return CodeFor(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr));
}

int LibraryStore::SetWaitForDisk(bool wait)
{
    return Execute(wait ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
}

int LibraryStore::Checkpoint() { return Execute("PRAGMA wal_checkpoint(PASSIVE)"); }

int LibraryStore::Control(const std::string& sql)
{
    // Every script begins and ends a transaction: these statements are prepared once, like the others.
    Query query = Prepare(sql);
    if (!query)
        return Execute(sql);
    return CodeFor(query.Step());
}

int LibraryStore::Begin(bool write)
{
    if (inTransaction)
        return kErrBusy;
    static const std::string kBeginWrite = "BEGIN IMMEDIATE", kBeginRead = "BEGIN";
    if (int err = Control(write ? kBeginWrite : kBeginRead); err != 0)
        return err;
    inTransaction = true;
    return 0;
}

int LibraryStore::Commit()
{
    if (!inTransaction)
        return 0;
    static const std::string kCommit = "COMMIT";
    if (int err = Control(kCommit); err != 0) {
        Rollback();
        return err;
    }
    inTransaction = false;
    return 0;
}

void LibraryStore::Rollback()
{
    if (!inTransaction)
        return;
    static const std::string kRollback = "ROLLBACK";
    Control(kRollback);
    inTransaction = false;
}
