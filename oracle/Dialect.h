#pragma once

// What differs between the databases behind the engines: the catalogue
// query, identifier quoting, how a typed text becomes a value, how NULL and
// the empty text relate, and how a column's value read is checked. Where the
// parameters go in a statement is the engine's (Session::placeholder). The
// ODBC engine picks its dialect from the DBMS name its driver reports.

#include "oracle/Engine.h"

#include <memory>
#include <string>
#include <string_view>

enum class DialectKind { Oracle, PostgreSQL, SQLite, Generic };

class Dialect {
public:
    virtual ~Dialect() = default;
    virtual DialectKind kind() const = 0;

    // "name" with every inner double quote doubled.
    static std::string quoteIdentifier(std::string_view name);

    // The query that lists the user's own tables (one text column).
    virtual std::string catalogueQuery() const = 0;

    // Oracle stores an empty text as NULL.
    virtual bool emptyTextIsNull() const { return false; }

    // Whether an INSERT takes RETURNING, giving back the key the database
    // chose for the new row in the same statement.
    virtual bool supportsReturning() const { return false; }

    // How a statement checks that a column still holds the value read:
    // Equal ("col" = ?), AsText (by the column's text form, for types with
    // no equality of their own), LobCompare (a large object by its content),
    // or None when this database cannot check it at all.
    enum class Check { Equal, AsText, LobCompare, None };
    virtual Check changeCheck(const ColumnInfo& column) const;

    // What a text typed into a column stores: its kind and text; NULL when
    // it means NULL (an empty entry in a column that is not text, or any
    // empty text where the database stores it as NULL).
    virtual Value typedValue(const ColumnInfo& column, std::string_view text) const;

    // A value as this database holds it: an empty text is NULL where the
    // database stores it so.
    Value stored(Value value) const;
};

std::unique_ptr<Dialect> MakeDialect(DialectKind kind);
