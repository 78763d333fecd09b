#pragma once

// How each column of a result is read: its place among the editor's column
// types, and whether it is bound to a row array or read with SQLGetData.

#include "oracle/Dialect.h"
#include "oracle/Engine.h"

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace odbc {

inline bool isCharType(SQLSMALLINT t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR
           || t == SQL_WLONGVARCHAR;
}
inline bool isIntegerType(SQLSMALLINT t)
{
    return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}
inline bool isExactNumberType(SQLSMALLINT t) { return t == SQL_DECIMAL || t == SQL_NUMERIC || isIntegerType(t); }
inline bool isRealType(SQLSMALLINT t) { return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE; }
inline bool isBinaryType(SQLSMALLINT t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

// How a column's cells are fetched.
enum class Fetch : std::uint8_t {
    WideText,  // SQL_C_WCHAR, converted to UTF-8
    Chars,     // SQL_C_CHAR: digits and signs the driver writes in ASCII
    Double,    // SQL_C_DOUBLE
    Date,      // SQL_C_TYPE_DATE
    Timestamp, // SQL_C_TYPE_TIMESTAMP
    Bytes,     // SQL_C_BINARY
};

// Character columns wider than this are read with SQLGetData: binding them
// would cost more memory per row than it saves.
constexpr SQLULEN kMaxBoundChars = 4000;
// Bound buffers of one block, and the most rows a block holds.
constexpr std::size_t kBlockBudgetBytes = 8u << 20;
constexpr std::size_t kMaxBlockRows = 1000;

struct ColumnPlan {
    ColumnInfo info;
    Fetch fetch = Fetch::WideText;
    ValueKind kind = ValueKind::Text;
    bool longData = false; // never bound: always read with SQLGetData
    bool bound = false;
    SQLLEN elementBytes = 0;
    std::vector<unsigned char> buffer; // column-wise array, one element per row
    std::vector<SQLLEN> indicators;
};

SQLSMALLINT cTypeOf(Fetch f);

// The plan for one column from the driver's description of it.
void classify(ColumnPlan& p, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, DialectKind dialect);

} // namespace odbc
