#pragma once

// Every SQL text the program writes for a given database: the catalogue
// query, identifier quoting, placeholders, and the statements that write one
// row. The ODBC engine picks its dialect from the DBMS name its driver
// reports.

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

    // The marker of the n-th parameter (1-based): "?" or "$n".
    virtual std::string placeholder(int n) const;

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

    // What a text typed into a column stores: its kind and text; kind Null
    // when it means NULL (an empty entry in a column that is not text, or any
    // empty text where the database stores it as NULL).
    struct TypedValue {
        ValueKind kind = ValueKind::Null;
        std::string data;
    };
    virtual TypedValue typedValue(const ColumnInfo& column, std::string_view text) const;

    // The parameter standing for a value of a column, read or typed: bound by
    // the column's type so that it compares exactly with what was read.
    virtual Param parameter(const ColumnInfo& column, ValueKind kind, std::string data) const;
};

std::unique_ptr<Dialect> MakeDialect(DialectKind kind);
