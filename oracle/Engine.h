#pragma once

// The engine interface: one implementation each for SQLite (libsqlite3),
// PostgreSQL (libpq) and ODBC (unixODBC), in oracle/engines/. A session runs
// statements with bound parameters and streams result rows into a sink; it
// knows nothing of the grid. One thread at a time uses a session; only
// interrupt() may be called from another thread. Every failure is a DbError.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class Dialect;

// How one value is held. Values are exact: text as the engine renders it,
// bytes for binary, SQLite's own integer/real (kept as exact decimal text;
// a real is written in the shortest form that reads back to the same double).
enum class ValueKind : std::uint8_t { Null = 0, Text = 1, Integer = 2, Real = 3, Blob = 4 };

// The one value type: what the snapshot stores, what typing produces and
// what a statement parameter carries. NULL is not the empty text.
struct Value {
    ValueKind kind = ValueKind::Null;
    std::string bytes; // the exact text, or the bytes of a Blob; empty for NULL

    bool isNull() const { return kind == ValueKind::Null; }
};

// Whether two values are the same value: both NULL, or the same bytes.
inline bool SameValue(ValueKind kindA, std::string_view a, ValueKind kindB, std::string_view b)
{
    const bool nullA = kindA == ValueKind::Null;
    const bool nullB = kindB == ValueKind::Null;
    return nullA == nullB && (nullA || a == b);
}
inline bool SameValue(const Value& a, const Value& b) { return SameValue(a.kind, a.bytes, b.kind, b.bytes); }
// Whether two rows (or places) hold the same values, one by one.
inline bool SameValues(const std::vector<Value>& a, const std::vector<Value>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!SameValue(a[i], b[i]))
            return false;
    return true;
}

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

// What the catalogue says of a column beyond its type, for the heading's
// tool tip: where an engine cannot tell, nothing.
struct ColumnDetails {
    std::string name;
    bool notNull = false;
    std::optional<std::string> defaultText; // the default's expression, as the database writes it
    bool filledByDatabase = false;          // identity, serial, rowid: the database picks the value
    std::string comment;
    // For the editors: the values the column may take, in their order (an
    // enum type's labels, or the list of a plain CHECK (col IN (...))); the
    // key another table's one-column foreign key refers to; the most
    // characters the type holds (VARCHAR(n), CHAR(n)) where the database
    // refuses more, 0 otherwise.
    std::vector<std::string> choices;
    struct Reference {
        std::string table;
        std::string column;
    };
    std::optional<Reference> references;
    int maxLength = 0;
};

struct ColumnInfo {
    std::string name;          // as the engine reports it, UTF-8
    ColumnType type = ColumnType::Text;
    std::string typeName;      // the engine's own type name, for display and casts
    int nativeType = 0;        // PostgreSQL type oid, ODBC SQL type, SQLite 0
    bool readOnly = false;     // binary and large objects
    bool comparable = true;    // may stand in a WHERE equality and match itself exactly
};

// A value passed to a statement, with the SQL type to bind it as, so that
// timestamps, exact numbers and reals compare exactly with what was read.
struct Param {
    Param() = default;
    Param(ValueKind kind, std::string bytes, ColumnType type = ColumnType::Text, int nativeType = 0)
        : value{kind, std::move(bytes)}, type(type), nativeType(nativeType)
    {
    }
    Param(Value v, ColumnType type, int nativeType) : value(std::move(v)), type(type), nativeType(nativeType) {}

    Value value;
    ColumnType type = ColumnType::Text;
    int nativeType = 0;
};

// How an engine marks the parameters of a statement: ODBC's and SQLite's
// "?", or libpq's "$1", "$2", ...
enum class Placeholders { Question, Dollar };
inline std::string Placeholder(Placeholders style, int n)
{
    return style == Placeholders::Dollar ? "$" + std::to_string(n) : std::string("?");
}

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

    // How this engine marks parameters in SQL text.
    virtual Placeholders placeholders() const { return Placeholders::Question; }

    // Whether a text holding the character NUL (a zero byte) is stored whole.
    // Where it is not (PostgreSQL cannot hold it; drivers may cut it there),
    // the engine refuses such a text instead of sending it.
    virtual bool textKeepsNul() const { return false; }
    static constexpr const char* kNulInText =
        "a text holding the character NUL (a zero byte) cannot be stored in this database";

    // Runs a query and streams every row into the sink.
    virtual void query(std::string_view sql, std::span<const Param> params, RowSink& sink) = 0;
    // The same for a result that may not fit in memory: an engine that holds
    // a whole result before its first row is given reads this one in parts.
    virtual void queryLarge(std::string_view sql, std::span<const Param> params, RowSink& sink)
    {
        query(sql, params, sink);
    }

    // Runs a statement and returns the number of rows it affected; -1 when
    // the driver does not tell.
    virtual long long execute(std::string_view sql, std::span<const Param> params = {}) = 0;

    // Runs a statement and, when it affected exactly one row, a query whose
    // rows go to the sink; returns the rows the statement affected. An engine
    // that talks to a server sends both at once (and drops the query's rows
    // when they are not wanted): one round trip instead of two. Meant for use
    // inside a transaction; outside one the two may commit as one.
    virtual long long executeThenQuery(std::string_view sql, std::span<const Param> params, std::string_view then,
                                       std::span<const Param> thenParams, RowSink& sink)
    {
        const long long affected = execute(sql, params);
        if (affected == 1)
            query(then, thenParams, sink);
        return affected;
    }

    // Explicit transactions; outside them every statement commits by itself.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // The table's primary key columns in key order; empty when it has none.
    virtual std::vector<std::string> primaryKey(std::string_view table) = 0;

    // About how many rows the table holds, where the database can tell
    // without reading it; nothing otherwise.
    virtual std::optional<long long> estimatedRows(std::string_view table) { (void)table; return std::nullopt; }

    // Streams every row of `table` into the sink, as the dialect's selectAll
    // reads it. An engine may read in steps of its own (see below).
    virtual void readTable(std::string_view table, RowSink& sink);
    // Whether another session of the same login may write to `table` while
    // readTable reads it, neither waiting for the other's end. A row that the
    // read has not reached may then be read as it is after such a write;
    // one whose key a write moved ahead of the read may be read a second
    // time (the reader's caller drops it by its key).
    virtual bool othersCanWriteWhileRead(std::string_view table) { (void)table; return false; }

    // NOT NULL, defaults, identity and comments of the table's columns, where
    // the engine's catalogue tells them; nothing otherwise.
    virtual std::vector<ColumnDetails> columnDetails(std::string_view table) { (void)table; return {}; }

    // The logged-in user's own tables, one text column. By default the
    // dialect's catalogue query; a generic ODBC source asks its driver.
    virtual void tables(RowSink& sink);

    // True once the link to the server is gone (the server went away, the
    // network broke): nothing more can run on this session.
    virtual bool broken() const { return false; }

    // Asks the statement running now on another thread to stop soon. May be
    // called from any thread; may block until the server answers, so callers
    // run it off the user-interface thread.
    virtual void interrupt() noexcept {}
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

// How long a login may take before it is given up (30 seconds unless a test
// sets it shorter). Used by the engines that reach a server.
int LoginTimeoutSeconds();
void SetLoginTimeoutSeconds(int seconds);
