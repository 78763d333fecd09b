#pragma once

// The engine interface: one implementation each for SQLite (libsqlite3),
// PostgreSQL (libpq) and ODBC (unixODBC). An engine session runs statements
// with bound parameters and streams result rows into a sink; it knows nothing
// of the grid. All calls come from the UI thread only. Every failure is a
// DbError.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class Dialect;

// How one stored cell is held. Values are exact: text as the engine renders
// it, bytes for binary, SQLite's own integer/real (kept as exact decimal text;
// a real is written in the shortest form that reads back to the same double).
enum class ValueKind : std::uint8_t { Null = 0, Text = 1, Integer = 2, Real = 3, Blob = 4 };

// What a column holds, as far as editing cares.
enum class ColumnType : std::uint8_t {
    Text,        // character data of bounded or unbounded length
    Integer,     // exact whole numbers
    Decimal,     // exact NUMERIC / NUMBER (up to 38 digits and beyond), kept as text
    Real,        // binary floating point
    Boolean,
    Date,        // YYYY-MM-DD (Oracle DATE carries a time: it is read as Timestamp)
    Time,
    Timestamp,   // YYYY-MM-DD HH:MM:SS[.ffffff...]
    TimestampTz,
    Binary,      // bytes: shown as a size, read-only, never compared
    LargeText,   // CLOB / LONG / unbounded text an engine cannot compare: never in a WHERE
    Other,       // anything else: edited as text
};

struct ColumnInfo {
    std::string name;          // as the engine reports it, UTF-8
    ColumnType type = ColumnType::Text;
    std::string typeName;      // the engine's own type name, for display and casts
    int nativeType = 0;        // PostgreSQL type oid, ODBC SQL type, SQLite 0
    bool readOnly = false;     // binary and large objects
    bool comparable = true;    // may stand in a WHERE equality and match itself exactly
};

// A value passed to a statement. `data` holds the exact text (or bytes for
// Blob). `type` tells the engine which SQL type to bind as, so that
// timestamps, exact numbers and reals compare exactly with what was read.
struct Param {
    ValueKind kind = ValueKind::Null;
    std::string data;
    ColumnType type = ColumnType::Text;
    int nativeType = 0;
};

// Receives a result: begin() once (also for an empty result), then every cell
// of every row in order, endRow() after each row, then end().
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void begin(const std::vector<ColumnInfo>& columns) = 0;
    // data is null for ValueKind::Null; it is not NUL-terminated.
    virtual void cell(ValueKind kind, const char* data, std::size_t size) = 0;
    virtual void endRow() = 0;
    virtual void end() {}
};

class Session {
public:
    virtual ~Session() = default;

    // The SQL dialect of the database behind this session.
    virtual const Dialect& dialect() const = 0;

    // Runs a query and streams every row into the sink.
    virtual void query(std::string_view sql, std::span<const Param> params, RowSink& sink) = 0;

    // Runs a statement and returns the number of rows it affected.
    virtual long long execute(std::string_view sql, std::span<const Param> params = {}) = 0;

    // Explicit transactions; outside them every statement commits by itself.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // The table's primary key columns in key order; empty when it has none.
    virtual std::vector<std::string> primaryKey(std::string_view table) = 0;

    // The logged-in user's own tables, one text column. By default the
    // dialect's catalogue query; a generic ODBC source asks its driver.
    virtual void tables(RowSink& sink);
};

// The parts of a login that reach an engine (already parsed from the
// connection string).
struct LoginParts {
    std::string dataSource;
    std::string user;
    std::string password;
};

// Opens a session for the engine that the data source names:
//   sqlite:PATH                         an existing SQLite file, read-write
//   postgresql://HOST[:PORT]/DB         PostgreSQL (also postgres://)
//   odbc:DSN or odbc:DRIVER=...         any ODBC data source
//   anything else                       Oracle through its ODBC driver
std::unique_ptr<Session> OpenSession(const LoginParts& login);

// One per engine (each in its own file).
std::unique_ptr<Session> OpenSqliteSession(const LoginParts& login);
std::unique_ptr<Session> OpenPgSession(const LoginParts& login);
// odbcConnect is the ODBC connection string without UID/PWD.
std::unique_ptr<Session> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login);
std::unique_ptr<Session> OpenOracleSession(const LoginParts& login);
