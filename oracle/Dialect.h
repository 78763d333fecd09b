#pragma once

// What differs between the databases behind the engines: every SQL text the
// program writes (the catalogue query, identifier quoting, the pieces the row
// statements are made of, how NULL is matched), how a typed text becomes a
// value, how NULL and the empty text relate, and how a column's value read is
// checked. Where the parameters go in a statement is the engine's
// (Session::placeholder). The ODBC engine picks its dialect from the DBMS
// name its driver reports. A dialect holds no state but what its engine
// told it when the session opened, so a copy (clone) is as good as the
// session's own.

#include "oracle/Engine.h"

#include <memory>
#include <string>
#include <string_view>

enum class DialectKind { Oracle, PostgreSQL, SQLite, Generic };

class Dialect {
public:
    // How a statement checks that a column still holds the value read:
    // Equal ("col" = ?), AsText (by the column's text form, for types with
    // no equality of their own), LobCompare (a large object by its content),
    // or None when this database cannot check it at all.
    enum class Check { Equal, AsText, LobCompare, None };

    virtual ~Dialect() = default;
    virtual DialectKind kind() const = 0;
    // A copy, knowing what this one was told.
    virtual std::unique_ptr<Dialect> clone() const = 0;

    // "name" with every inner double quote doubled.
    static std::string quoteIdentifier(std::string_view name);

    // ---- SQL text ------------------------------------------------------------
    // Names go in as listed, except where the argument is `quoted` (already
    // passed through quote()); `marker` is a parameter's placeholder.

    // The query that lists the user's own tables (one text column).
    virtual std::string catalogueQuery() const = 0;
    // An identifier, whatever it holds, as this database takes a name.
    virtual std::string quote(std::string_view name) const { return quoteIdentifier(name); }
    // Every row and column of a table: the editor's query.
    virtual std::string selectAll(std::string_view table) const;
    // A query that reads no row, only the table's columns as they are now.
    virtual std::string selectNoRows(std::string_view table) const;
    // The condition that a column is NULL.
    virtual std::string matchNull(const std::string& quoted) const;
    // The condition that a column holds the parameter's value, compared the
    // way `check` says. A form this dialect never asks for (see changeCheck)
    // is compared with "=".
    virtual std::string matchValue(const std::string& quoted, const std::string& marker, Check check) const;
    // An INSERT that sets no column: every column takes its default.
    virtual std::string insertDefaults(const std::string& quotedTable) const;
    // The clause after an INSERT that gives back the listed columns of the
    // new row; asked for only where supportsReturning().
    virtual std::string returning(const std::string& quotedColumns) const;
    // A query's first `rows` rows only (the query ends with its ORDER BY).
    virtual std::string firstRows(const std::string& query, long long rows) const;
    // One term of an ORDER BY with NULL placed after every value ascending
    // and before them descending (as the grid sorts), whatever this
    // database does by default; `nullable` false where the column holds none.
    virtual std::string orderTerm(const std::string& quoted, bool descending, bool nullable) const;
    // A column's value as text, for looking for a text in it.
    virtual std::string asText(const std::string& quoted) const { return "CAST(" + quoted + " AS VARCHAR(4000))"; }

    // ---- values and checks ------------------------------------------------------

    // Oracle stores an empty text as NULL.
    virtual bool emptyTextIsNull() const { return false; }

    // Whether an INSERT takes RETURNING, giving back the key the database
    // chose for the new row in the same statement.
    virtual bool supportsReturning() const { return false; }

    // How a changed column's value read is checked.
    virtual Check changeCheck(const ColumnInfo& column) const;

    // What a text typed into a column stores: its kind and text; NULL when
    // it means NULL (an empty entry in a column that is not text, or any
    // empty text where the database stores it as NULL).
    virtual Value typedValue(const ColumnInfo& column, std::string_view text) const;

    // A value as this database holds it: an empty text is NULL where the
    // database stores it so.
    Value stored(Value value) const;
};

// The dialect of a kind, knowing only what every database of that kind has
// (a SQLite dialect made this way assumes no RETURNING).
std::unique_ptr<Dialect> MakeDialect(DialectKind kind);
// The SQLite dialect, told by its engine whether the library at hand takes
// INSERT ... RETURNING (it came with SQLite 3.35).
std::unique_ptr<Dialect> MakeSqliteDialect(bool hasReturning);
