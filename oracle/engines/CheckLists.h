#pragma once

// The values a CHECK constraint allows a column, read from its SQL text, for
// the editors' drop-down lists. Only the plain form is read: the column
// compared IN a list of literals (as SQLite keeps the CREATE TABLE text),
// or that form as PostgreSQL writes it back (column = ANY (ARRAY[...])).
// Anything else (another operator, an expression, AND, OR, NOT) gives
// nothing: a list shown must be exactly what the database allows.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Every plain IN list of the CHECKs of a CREATE TABLE text, with the
// column's name as written (quotes taken off), in the order they appear.
std::vector<std::pair<std::string, std::vector<std::string>>> SqliteCheckLists(std::string_view createTable);

// The list of one PostgreSQL CHECK definition (pg_get_constraintdef) on
// `column`; empty when it is not the plain form.
std::vector<std::string> PgCheckList(std::string_view definition, std::string_view column);
