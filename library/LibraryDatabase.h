// The library's one SQLite database: where it lives, opening it (WAL, busy
// time-out, schema version), prepared statements with bound parameters, and
// the faults that make it unusable for a while.
//
// TLibraryDatabase owns the connection. It never throws out of its
// constructor: a file that cannot be opened, is locked, read-only, corrupt,
// on a full disk or written by a newer program leaves a fault behind, and
// every later operation that fails adds its fault too. The window reads each
// kind of fault once through TakeFaultMessage and carries on with the
// network. One object per thread; two processes (or two objects) share the
// file through SQLite's locking and the busy time-out.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_blob;

// Why the library could not do what was asked.
enum class TLibraryFault {
    lfNone,
    lfLocked,      // another process holds the write lock past the busy time-out
    lfReadOnly,    // the file or its folder cannot be written
    lfCorrupt,     // not a database, or damaged pages
    lfDiskFull,    // the disk (or the size bound) is full
    lfNewerSchema, // written by a newer program: left alone
    lfUnavailable  // cannot be opened or read at all (no cache folder, I/O error)
};

// A failing SQLite call, with the fault it means.
class ELibraryError : public std::runtime_error {
public:
    ELibraryError(TLibraryFault fault, const std::string& message) : std::runtime_error(message), fault_(fault) {}
    TLibraryFault Fault() const { return fault_; }

private:
    TLibraryFault fault_;
};

struct TLibraryOptions {
    // The database file; its folder is made when missing.
    std::string Path;
    // How long a statement waits for another process's lock, milliseconds.
    int BusyTimeoutMs = 5000;
};

// $XDG_CACHE_HOME/scrivlet/library.db when that is an absolute path, else
// $HOME/.cache/scrivlet/library.db; empty when neither is known.
[[nodiscard]] std::string DefaultLibraryPath();

class TLibraryDatabase;

// One prepared statement; parameters are 1-based, columns 0-based (as SQLite
// counts them). Step raises ELibraryError.
class TSqlStatement {
public:
    TSqlStatement(TLibraryDatabase& database, const char* sql);
    ~TSqlStatement();
    TSqlStatement(const TSqlStatement&) = delete;
    TSqlStatement& operator=(const TSqlStatement&) = delete;

    TSqlStatement& Bind(int index, int64_t value);
    TSqlStatement& Bind(int index, std::string_view text);
    // True while a row is ready; false when done.
    bool Step();
    // Ready for new parameters and another run.
    void Reset();

    int64_t Integer(int column) const;
    std::string Text(int column) const;
    std::string_view TextView(int column) const;

private:
    TLibraryDatabase& database_;
    sqlite3_stmt* statement_ = nullptr;
};

// Incremental reading of one stored value (text or bytes), so a large one
// need not be read whole. Raises ELibraryError.
class TSqlBlob {
public:
    TSqlBlob(TLibraryDatabase& database, const char* table, const char* column, int64_t row);
    ~TSqlBlob();
    TSqlBlob(const TSqlBlob&) = delete;
    TSqlBlob& operator=(const TSqlBlob&) = delete;
    int64_t Size() const { return size_; }
    // Appends the next count bytes to text.
    void AppendTo(std::string& text, int64_t count);

private:
    TLibraryDatabase& database_;
    sqlite3_blob* blob_ = nullptr;
    int64_t size_ = 0;
    int64_t offset_ = 0;
};

// BEGIN IMMEDIATE at once, ROLLBACK unless committed.
class TSqlTransaction {
public:
    explicit TSqlTransaction(TLibraryDatabase& database);
    ~TSqlTransaction();
    TSqlTransaction(const TSqlTransaction&) = delete;
    TSqlTransaction& operator=(const TSqlTransaction&) = delete;
    void Commit();

private:
    TLibraryDatabase& database_;
    bool open_ = true;
};

class TLibraryDatabase {
public:
    // Raised with each new layout of the tables; an older file climbs one
    // step per version, each in a transaction of its own, keeping its rows.
    static constexpr int64_t kSchemaVersion = 2;

    explicit TLibraryDatabase(const TLibraryOptions& options);
    ~TLibraryDatabase();
    TLibraryDatabase(const TLibraryDatabase&) = delete;
    TLibraryDatabase& operator=(const TLibraryDatabase&) = delete;

    // False when the file could not be opened with a schema this program knows.
    bool Usable() const { return connection_ != nullptr; }
    // The fault behind the latest failure, lfNone while all went well.
    TLibraryFault Fault() const { return fault_; }
    // The text for the status line the first time a kind of fault happens;
    // empty afterwards and while nothing went wrong.
    std::string TakeFaultMessage();

    // Runs body; an ELibraryError becomes a fault and gives fallback instead.
    template <typename TBody, typename TResult>
    TResult Guarded(TBody body, TResult fallback)
    {
        if (!Usable()) return fallback;
        try {
            return body();
        } catch (const ELibraryError& e) {
            NoteFault(e);
            return fallback;
        }
    }

    // A value of the meta table; empty when absent. Raise ELibraryError.
    [[nodiscard]] std::string ReadMeta(std::string_view key);
    void WriteMeta(std::string_view key, std::string_view value);

    // Fixed statements only (schema, transactions): nothing of the user's goes in here.
    void Execute(const char* sql);
    sqlite3* Handle() { return connection_; }
    // Rows changed by the latest statement.
    [[nodiscard]] int64_t Changes();
    // Raises the ELibraryError for result code rc.
    [[noreturn]] void Raise(int rc);
    void NoteFault(const ELibraryError& error);

private:
    void Open(const TLibraryOptions& options);
    void EnsureSchema();
    [[nodiscard]] int64_t ReadInteger(const char* sql);
    void ClearForeignFile();
    // Lays out version from + 1 over version from.
    void Migrate(int64_t from);

    sqlite3* connection_ = nullptr;
    TLibraryFault fault_ = TLibraryFault::lfNone;
    std::string faultDetail_;
    std::set<TLibraryFault> reported_;
};
