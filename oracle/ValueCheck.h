#pragma once

// Whether a typed text looks like a value the column's type can hold, for a
// mark on the cell while the row is still being typed. A warning only: the
// database stays the judge, and the text is written as typed. The forms
// accepted are generous (what PostgreSQL's input functions read, about), so
// that a value the database takes is not marked.

#include "oracle/Engine.h"

#include <optional>
#include <string>
#include <string_view>

// Why the text does not fit the column; nothing when it does (or when the
// column's type takes any text).
std::optional<std::string> ValueWarning(const ColumnInfo& column, const ColumnDetails* details, std::string_view text);

// A boolean as the engines write it, read generously (t, true, yes, on, 1 and
// their opposites, any case); nothing for any other text.
std::optional<bool> ReadBoolean(std::string_view text);
