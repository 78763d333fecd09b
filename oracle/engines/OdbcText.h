#pragma once

// Text for the ODBC engine: UTF-8 <-> UTF-16 for the wide API, and values as
// exact text. Numbers travel as the driver's decimal text, reals as doubles
// written in the shortest text that reads back to the same double, dates and
// timestamps as ODBC's structs written YYYY-MM-DD HH:MM:SS[.f] (and bound
// back as structs), so no session date or number format matters.

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

static_assert(sizeof(SQLWCHAR) == 2, "the engine expects UTF-16 SQLWCHAR (unixODBC's default)");

namespace odbc {

// NUL-terminated UTF-16 text for the wide API.
using WideText = std::vector<SQLWCHAR>;

// Invalid UTF-8 becomes U+FFFD rather than failing: the text came from us.
WideText toWide(std::string_view s);
// Without the terminating NUL in the count.
inline std::size_t wideLength(const WideText& w) { return w.empty() ? 0 : w.size() - 1; }

// A lone surrogate becomes U+FFFD.
void appendUtf8(std::string& out, const SQLWCHAR* s, std::size_t n);
std::string toUtf8(const SQLWCHAR* s, std::size_t n);

std::string lower(std::string_view s);

// Each writes the value into out and returns its length; 64 bytes are room enough.
std::size_t formatDate(const SQL_DATE_STRUCT& d, char* out);
std::size_t formatTimestamp(const SQL_TIMESTAMP_STRUCT& t, char* out);
std::size_t formatDouble(double v, char* out, std::size_t room);

// YYYY-MM-DD[( |T)HH:MM:SS[.fffffffff]]; a date alone is midnight.
std::optional<SQL_TIMESTAMP_STRUCT> parseTimestamp(std::string_view s, int* fractionDigits = nullptr);

// Digits before and after the point of a decimal text, for column size and scale.
void decimalShape(std::string_view s, SQLULEN& precision, SQLSMALLINT& scale);

} // namespace odbc
