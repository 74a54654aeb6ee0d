// A thin RAII layer over the SQLite C interface, private to the item store:
// one connection, prepared statements that reset themselves, and a
// transaction that rolls back unless committed. Every failure raises
// TSqliteError carrying SQLite's message and result code.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace items::sql {

class TSqliteError : public std::runtime_error {
public:
    TSqliteError(const std::string& message, int code) : std::runtime_error(message), FCode(code) {}
    // The primary result code (SQLITE_CORRUPT, SQLITE_NOTADB, ...).
    int Code() const { return FCode; }

private:
    int FCode;
};

class TStatement {
public:
    TStatement(sqlite3* db, std::string_view sql);
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    // Parameters are numbered from 1; an empty optional binds NULL.
    TStatement& Bind(int index, std::string_view text);
    TStatement& Bind(int index, std::int64_t value);
    TStatement& Bind(int index, const std::optional<std::int64_t>& value);
    TStatement& BindNull(int index);

    // Steps once: true while a row is available.
    bool Step();
    // Steps to the end, for statements that return no rows.
    void Run();
    // Clears the bindings and rewinds, ready for the next use.
    void Reset();

    std::string Text(int column) const;
    std::int64_t Int(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
};

// Rewinds a cached statement however the scope is left, so a statement
// that raised is never left mid-step holding a read lock.
class TStatementUse {
public:
    explicit TStatementUse(TStatement& statement) : FStatement(statement) {}
    ~TStatementUse() { FStatement.Reset(); }
    TStatement* operator->() { return &FStatement; }
    TStatement& operator*() { return FStatement; }

private:
    TStatement& FStatement;
};

class TConnection {
public:
    // Opens (and creates) the file; raises TSqliteError when it cannot.
    explicit TConnection(const std::string& path);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    sqlite3* Handle() const { return FDb; }
    // Runs statements that take no parameters.
    void Exec(std::string_view sql);
    // The first column of the first row, for PRAGMAs and counts.
    std::int64_t QueryInt(std::string_view sql);
    std::string QueryText(std::string_view sql);
    std::int64_t Changes() const;

private:
    sqlite3* FDb = nullptr;
};

// BEGIN IMMEDIATE takes the write lock at once, so a writer waits (under the
// busy timeout) at the start rather than failing half-way through.
class TTransaction {
public:
    explicit TTransaction(TConnection& connection);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    void Commit();

private:
    TConnection& FConnection;
    bool FDone = false;
};

}  // namespace items::sql
