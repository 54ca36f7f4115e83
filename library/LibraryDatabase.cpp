#include "library/LibraryDatabase.h"

#include "library/RfcHeader.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

TLibraryFault FaultOf(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return TLibraryFault::lfLocked;
    case SQLITE_READONLY: return TLibraryFault::lfReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return TLibraryFault::lfCorrupt;
    case SQLITE_FULL: return TLibraryFault::lfDiskFull;
    default: return TLibraryFault::lfUnavailable;
    }
}

const char* FaultText(TLibraryFault fault)
{
    switch (fault) {
    case TLibraryFault::lfNone: return "";
    case TLibraryFault::lfLocked: return "ライブラリは別のプロセスが使用中です";
    case TLibraryFault::lfReadOnly: return "ライブラリに書き込めません";
    case TLibraryFault::lfCorrupt: return "ライブラリのデータベースが壊れています";
    case TLibraryFault::lfDiskFull: return "ディスクがいっぱいでライブラリに保存できません";
    case TLibraryFault::lfNewerSchema: return "ライブラリは新しい版のプログラムのものです";
    case TLibraryFault::lfUnavailable: break;
    }
    return "ライブラリを開けません";
}

// The tables as the first version laid them out; a new file starts here and
// climbs the same steps an old one does, so every step runs on every machine.
// Document text and index text each have a full-text table over their own
// rows (external content, so the text is stored once); the document side is
// kept in step by triggers, the index side is rebuilt whole after each load.
const char* const kVersion1 = R"(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE document(
  id INTEGER PRIMARY KEY,
  url TEXT NOT NULL UNIQUE,
  number INTEGER NOT NULL,
  title TEXT NOT NULL,
  etag TEXT NOT NULL,
  last_modified TEXT NOT NULL,
  length INTEGER NOT NULL,
  fetched INTEGER NOT NULL,
  body TEXT NOT NULL);
CREATE INDEX document_number ON document(number);
CREATE VIRTUAL TABLE document_text USING fts5(
  body, content='document', content_rowid='id', tokenize='porter unicode61');
CREATE TRIGGER document_added AFTER INSERT ON document BEGIN
  INSERT INTO document_text(rowid, body) VALUES (new.id, new.body);
END;
CREATE TRIGGER document_removed AFTER DELETE ON document BEGIN
  INSERT INTO document_text(document_text, rowid, body) VALUES ('delete', old.id, old.body);
END;
CREATE TRIGGER document_changed AFTER UPDATE OF body ON document BEGIN
  INSERT INTO document_text(document_text, rowid, body) VALUES ('delete', old.id, old.body);
  INSERT INTO document_text(rowid, body) VALUES (new.id, new.body);
END;
CREATE TABLE rfc(
  number INTEGER PRIMARY KEY,
  title TEXT NOT NULL,
  authors TEXT NOT NULL,
  date TEXT NOT NULL,
  status TEXT NOT NULL,
  stream TEXT NOT NULL,
  keywords TEXT NOT NULL,
  abstract TEXT NOT NULL,
  also TEXT NOT NULL,
  errata_url TEXT NOT NULL,
  obsolete INTEGER NOT NULL);
CREATE VIRTUAL TABLE rfc_text USING fts5(
  title, authors, keywords, abstract, content='rfc', content_rowid='number', tokenize='porter unicode61');
CREATE TABLE relation(
  number INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  position INTEGER NOT NULL,
  other TEXT NOT NULL,
  PRIMARY KEY (number, kind, position)) WITHOUT ROWID;
)";

// Version 2: how long the server let a copy be trusted, when it was last
// read, the index's year and the subseries (STD, BCP, FYI) as rows of their
// own, and a document text index that keeps no word positions: the whole
// series is stored offline now, and positions would make the index as large
// as the text. The subseries rows are carried over from the index entries'
// "also" lists; the index's own subseries entries come with its next load.
const char* const kVersion2 = R"(
ALTER TABLE document ADD COLUMN fresh_until INTEGER NOT NULL DEFAULT 0;
ALTER TABLE document ADD COLUMN read_at INTEGER NOT NULL DEFAULT 0;
ALTER TABLE rfc ADD COLUMN year INTEGER NOT NULL DEFAULT 0;
UPDATE rfc SET year = CAST(substr(date, -4) AS INTEGER) WHERE date GLOB '*[0-9][0-9][0-9][0-9]';
CREATE TABLE subseries(
  series TEXT NOT NULL,
  number INTEGER NOT NULL,
  PRIMARY KEY (series, number)) WITHOUT ROWID;
WITH RECURSIVE split(number, item, rest) AS (
  SELECT number, '', also || ',' FROM rfc WHERE also != ''
  UNION ALL
  SELECT number, trim(substr(rest, 1, instr(rest, ',') - 1)), substr(rest, instr(rest, ',') + 1)
  FROM split WHERE rest != '')
INSERT OR IGNORE INTO subseries(series, number) SELECT item, number FROM split WHERE item != '';
DROP TRIGGER document_added;
DROP TRIGGER document_removed;
DROP TRIGGER document_changed;
DROP TABLE document_text;
CREATE VIRTUAL TABLE document_text USING fts5(
  body, content='document', content_rowid='id', tokenize='porter unicode61', detail=column);
CREATE TRIGGER document_added AFTER INSERT ON document BEGIN
  INSERT INTO document_text(rowid, body) VALUES (new.id, new.body);
END;
CREATE TRIGGER document_removed AFTER DELETE ON document BEGIN
  INSERT INTO document_text(document_text, rowid, body) VALUES ('delete', old.id, old.body);
END;
CREATE TRIGGER document_changed AFTER UPDATE OF body ON document BEGIN
  INSERT INTO document_text(document_text, rowid, body) VALUES ('delete', old.id, old.body);
  INSERT INTO document_text(rowid, body) VALUES (new.id, new.body);
END;
INSERT INTO document_text(document_text) VALUES ('rebuild');
)";

} // namespace

std::string DefaultLibraryPath()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/scrivlet/library.db";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/scrivlet/library.db";
    return "";
}

// ---- statements -----------------------------------------------------------

TSqlStatement::TSqlStatement(TLibraryDatabase& database, const char* sql) : database_(database)
{
    const int rc = sqlite3_prepare_v2(database_.Handle(), sql, -1, &statement_, nullptr);
    if (rc != SQLITE_OK) database_.Raise(rc);
}

TSqlStatement::~TSqlStatement() { sqlite3_finalize(statement_); }

TSqlStatement& TSqlStatement::Bind(int index, int64_t value)
{
    const int rc = sqlite3_bind_int64(statement_, index, value);
    if (rc != SQLITE_OK) database_.Raise(rc);
    return *this;
}

TSqlStatement& TSqlStatement::Bind(int index, std::string_view text)
{
    const int rc = sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) database_.Raise(rc);
    return *this;
}

bool TSqlStatement::Step()
{
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(statement_);
    database_.Raise(rc);
}

void TSqlStatement::Reset()
{
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

int64_t TSqlStatement::Integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::string TSqlStatement::Text(int column) const { return std::string(TextView(column)); }

std::string_view TSqlStatement::TextView(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (text == nullptr) return {};
    return std::string_view(text, size_t(sqlite3_column_bytes(statement_, column)));
}

TSqlBlob::TSqlBlob(TLibraryDatabase& database, const char* table, const char* column, int64_t row) : database_(database)
{
    const int rc = sqlite3_blob_open(database_.Handle(), "main", table, column, row, 0, &blob_);
    if (rc != SQLITE_OK) database_.Raise(rc);
    size_ = sqlite3_blob_bytes(blob_);
}

TSqlBlob::~TSqlBlob() { sqlite3_blob_close(blob_); }

void TSqlBlob::AppendTo(std::string& text, int64_t count)
{
    const size_t at = text.size();
    text.resize(at + size_t(count));
    const int rc = sqlite3_blob_read(blob_, text.data() + at, int(count), int(offset_));
    if (rc != SQLITE_OK) database_.Raise(rc);
    offset_ += count;
}

TSqlTransaction::TSqlTransaction(TLibraryDatabase& database) : database_(database)
{
    database_.Execute("BEGIN IMMEDIATE");
}

TSqlTransaction::~TSqlTransaction()
{
    if (open_) sqlite3_exec(database_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TSqlTransaction::Commit()
{
    database_.Execute("COMMIT");
    open_ = false;
}

// ---- the database ---------------------------------------------------------

TLibraryDatabase::TLibraryDatabase(const TLibraryOptions& options)
{
    try {
        Open(options);
        EnsureSchema();
    } catch (const ELibraryError& e) {
        NoteFault(e);
        sqlite3_close_v2(connection_);
        connection_ = nullptr;
    }
}

TLibraryDatabase::~TLibraryDatabase() { sqlite3_close_v2(connection_); }

void TLibraryDatabase::Open(const TLibraryOptions& options)
{
    if (options.Path.empty()) throw ELibraryError(TLibraryFault::lfUnavailable, "no cache folder");
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(options.Path).parent_path(), ec);
    const int rc = sqlite3_open_v2(options.Path.c_str(), &connection_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) Raise(rc);
    sqlite3_extended_result_codes(connection_, 1);
    sqlite3_busy_timeout(connection_, options.BusyTimeoutMs);
}

int64_t TLibraryDatabase::ReadInteger(const char* sql)
{
    // Finalized before returning: a statement left on a row would hold its read transaction open.
    TSqlStatement read(*this, sql);
    return read.Step() ? read.Integer(0) : 0;
}

void TLibraryDatabase::EnsureSchema()
{
    const int64_t found = ReadInteger("PRAGMA user_version");
    if (found > kSchemaVersion) throw ELibraryError(TLibraryFault::lfNewerSchema, "schema " + std::to_string(found));
    if (found == 0 && ReadInteger("SELECT count(*) FROM sqlite_schema") > 0) ClearForeignFile();
    for (int64_t version = found; version < kSchemaVersion; ++version) Migrate(version);
    Execute("PRAGMA journal_mode=WAL");
    // With a write-ahead log this still never corrupts the file; a power cut
    // may only lose the last document stored, which a cache can afford.
    Execute("PRAGMA synchronous=NORMAL");
}

void TLibraryDatabase::ClearForeignFile()
{
    // Tables without a version of ours were never written by this program
    // (each version is set in the transaction that lays it out): nothing of
    // the user's is lost by emptying them.
    sqlite3_db_config(connection_, SQLITE_DBCONFIG_RESET_DATABASE, 1, 0);
    const int rc = sqlite3_exec(connection_, "VACUUM", nullptr, nullptr, nullptr);
    sqlite3_db_config(connection_, SQLITE_DBCONFIG_RESET_DATABASE, 0, 0);
    if (rc != SQLITE_OK) Raise(rc);
}

void TLibraryDatabase::Migrate(int64_t from)
{
    TSqlTransaction transaction(*this);
    // Another process may have climbed this step meanwhile: look again under the write lock.
    if (ReadInteger("PRAGMA user_version") != from) return transaction.Commit();
    switch (from) {
    case 0: Execute(kVersion1); break;
    case 1:
        Execute(kVersion2);
        RefileUnnumberedDocuments(*this);
        break;
    }
    Execute(("PRAGMA user_version = " + std::to_string(from + 1)).c_str());
    transaction.Commit();
}

void TLibraryDatabase::Execute(const char* sql)
{
    const int rc = sqlite3_exec(connection_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Raise(rc);
}

int64_t TLibraryDatabase::Changes() { return sqlite3_changes64(connection_); }

void TLibraryDatabase::Raise(int rc)
{
    const char* detail = connection_ != nullptr ? sqlite3_errmsg(connection_) : sqlite3_errstr(rc);
    throw ELibraryError(FaultOf(rc), detail);
}

void TLibraryDatabase::NoteFault(const ELibraryError& error)
{
    fault_ = error.Fault();
    faultDetail_ = error.what();
}

std::string TLibraryDatabase::TakeFaultMessage()
{
    if (fault_ == TLibraryFault::lfNone || !reported_.insert(fault_).second) return "";
    return std::string(FaultText(fault_)) + " (" + faultDetail_ + ")";
}

std::string TLibraryDatabase::ReadMeta(std::string_view key)
{
    TSqlStatement read(*this, "SELECT value FROM meta WHERE key = ?1");
    read.Bind(1, key);
    return read.Step() ? read.Text(0) : std::string();
}

void TLibraryDatabase::WriteMeta(std::string_view key, std::string_view value)
{
    TSqlStatement write(*this, "INSERT INTO meta(key, value) VALUES (?1, ?2) "
                               "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    write.Bind(1, key).Bind(2, value).Step();
}
