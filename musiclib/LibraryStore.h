#pragma once
// LibraryStore: the library's SQLite database ("Library.sqlite" in the library folder). It keeps
// the sources, the playlists with their ordered members, and the tracks (see the schema in
// LibraryStore.cpp). The database runs in WAL mode with a busy timeout, so that the window and a
// terminal command can use it at once: readers see one committed state, and a writer waits for
// another writer instead of failing. Every change is one transaction; a statement is prepared
// once and kept for the life of the store.
//
// Text is compared with the collation LIBTEXT: case ignored, canonically equivalent text equal.

#include <cstdint>
#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class LibraryStore {
public:
    static constexpr int kSchemaVersion = 4;
    static constexpr int kBusyTimeoutMs = 60000;
    static constexpr const char* kFileName = "Library.sqlite";
    // The library source's row, made with the database.
    static constexpr std::int64_t kLibrarySourceId = 1;

    // A prepared statement while it is used: reset (and its bindings cleared) when it goes.
    class Query {
    public:
        explicit Query(sqlite3_stmt* prepared) : statement(prepared) {}
        ~Query();
        Query(const Query&) = delete;
        Query& operator=(const Query&) = delete;

        explicit operator bool() const { return statement != nullptr; }
        Query& Bind(int index, std::int64_t value);
        Query& Bind(int index, const std::string& utf8);
        Query& Bind(int index, double value);
        // Binds without copying: `utf8` must outlive the query's use.
        Query& BindStatic(int index, const std::string& utf8);
        Query& BindNull(int index);
        // SQLITE_ROW, SQLITE_DONE or an SQLite error code.
        int Step();
        std::int64_t Integer(int column) const;
        double Real(int column) const;
        std::string Text(int column) const;

    private:
        sqlite3_stmt* statement;
    };

    LibraryStore() = default;
    ~LibraryStore();
    LibraryStore(const LibraryStore&) = delete;
    LibraryStore& operator=(const LibraryStore&) = delete;

    // Opens (or makes) the database at `path` and brings its schema up to date. 0, or an error
    // code with `error` set.
    int Open(const std::string& path, std::string& error);
    bool IsOpen() const { return database != nullptr; }

    // The statement of `sql`, prepared on its first use. A null query when it cannot be prepared.
    Query Prepare(const std::string& sql);
    // Runs statements that return no rows (schema changes, pragmas).
    int Execute(const std::string& sql);

    // Begin a transaction: a writing one takes the write lock at once (waiting for another writer),
    // a reading one sees one committed state until it ends. kErrBusy when the lock is not had in time.
    int Begin(bool write);
    int Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction; }

    // A bulk change (an import) may commit its batches without waiting for the disk: a power loss
    // can then lose the last batches (never break the store); Checkpoint at its end waits for the
    // disk and makes every batch lasting. Every other change waits for the disk at its commit.
    int SetWaitForDisk(bool wait);
    int Checkpoint();

    // The last SQLite error in words.
    std::string ErrorText() const;
    // The error code of the system for an SQLite result.
    static int CodeFor(int sqliteResult);
    // For a database at `path` that is damaged, cannot be written or is of a newer version: `error`
    // (the reason) made into a sentence that names the file and what the user can do. `code` back.
    static int Explained(int code, const std::string& path, std::string& error);
    std::int64_t LastInsertId() const;
    int Changes() const;

private:
    int Migrate(std::string& error);
    // Runs a statement that begins or ends a transaction.
    int Control(const std::string& sql);
    bool HasColumn(const char* table, const char* column);

    sqlite3* database = nullptr;
    std::map<std::string, sqlite3_stmt*> statements;
    bool inTransaction = false;
};
