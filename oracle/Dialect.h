#pragma once

// Every SQL text the program writes for a given database: the catalogue
// query, identifier quoting, placeholders, and the statements that write one
// row. The ODBC engine picks its dialect from the DBMS name its driver
// reports.

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
};

std::unique_ptr<Dialect> MakeDialect(DialectKind kind);
