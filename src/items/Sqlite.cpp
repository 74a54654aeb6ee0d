#include "Sqlite.h"

#include <sqlite3.h>

namespace items::sql {

namespace {

[[noreturn]] void Raise(sqlite3* db, int code, std::string_view context) {
    std::string message(context);
    message += ": ";
    message += db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw TSqliteError(message, code & 0xff);
}

}  // namespace

TStatement::TStatement(sqlite3* db, std::string_view sql) : FDb(db) {
    const int rc =
        sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &FStmt, nullptr);
    if (rc != SQLITE_OK) Raise(db, rc, "cannot prepare a statement");
}

TStatement::~TStatement() { sqlite3_finalize(FStmt); }

TStatement& TStatement::Bind(int index, std::string_view text) {
    const int rc = sqlite3_bind_text(FStmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Raise(FDb, rc, "cannot bind a value");
    return *this;
}

TStatement& TStatement::Bind(int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(FStmt, index, value);
    if (rc != SQLITE_OK) Raise(FDb, rc, "cannot bind a value");
    return *this;
}

TStatement& TStatement::Bind(int index, const std::optional<std::int64_t>& value) {
    return value ? Bind(index, *value) : BindNull(index);
}

TStatement& TStatement::BindNull(int index) {
    const int rc = sqlite3_bind_null(FStmt, index);
    if (rc != SQLITE_OK) Raise(FDb, rc, "cannot bind a value");
    return *this;
}

bool TStatement::Step() {
    const int rc = sqlite3_step(FStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Raise(FDb, rc, "statement failed");
}

void TStatement::Run() {
    while (Step()) {
    }
}

void TStatement::Reset() {
    sqlite3_reset(FStmt);
    sqlite3_clear_bindings(FStmt);
}

std::string TStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(FStmt, column);
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(FStmt, column)));
}

std::int64_t TStatement::Int(int column) const { return sqlite3_column_int64(FStmt, column); }

bool TStatement::IsNull(int column) const { return sqlite3_column_type(FStmt, column) == SQLITE_NULL; }

TConnection::TConnection(const std::string& path) {
    // NOMUTEX: a connection belongs to one thread, so SQLite's own locking
    // of the connection is pure overhead.
    const int rc =
        sqlite3_open_v2(path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message =
            std::string("cannot open ") + path + ": " + (FDb ? sqlite3_errmsg(FDb) : sqlite3_errstr(rc));
        sqlite3_close_v2(FDb);
        FDb = nullptr;
        throw TSqliteError(message, rc & 0xff);
    }
    sqlite3_extended_result_codes(FDb, 0);
}

TConnection::~TConnection() { sqlite3_close_v2(FDb); }

void TConnection::Exec(std::string_view sql) {
    const std::string text(sql);
    char* error = nullptr;
    const int rc = sqlite3_exec(FDb, text.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw TSqliteError(message, rc & 0xff);
    }
}

std::int64_t TConnection::QueryInt(std::string_view sql) {
    TStatement statement(FDb, sql);
    return statement.Step() ? statement.Int(0) : 0;
}

std::string TConnection::QueryText(std::string_view sql) {
    TStatement statement(FDb, sql);
    return statement.Step() ? statement.Text(0) : std::string();
}

std::int64_t TConnection::Changes() const { return sqlite3_changes64(FDb); }

TTransaction::TTransaction(TConnection& connection) : FConnection(connection) { FConnection.Exec("BEGIN IMMEDIATE"); }

TTransaction::~TTransaction() {
    if (FDone) return;
    try {
        FConnection.Exec("ROLLBACK");
    } catch (const TSqliteError&) {
        // SQLite already rolled back (an I/O or full-disk error does that).
    }
}

void TTransaction::Commit() {
    FConnection.Exec("COMMIT");
    FDone = true;
}

}  // namespace items::sql
