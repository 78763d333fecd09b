#include "oracle/engines/OdbcParams.h"

#include "oracle/engines/OdbcColumns.h"

#include "oracle/DbError.h"

#include <algorithm>
#include <charconv>

namespace odbc {

SQLSMALLINT sqlTypeFor(const Param& p)
{
    const auto native = static_cast<SQLSMALLINT>(p.nativeType);
    switch (p.type) {
    case ColumnType::Text: return isCharType(native) ? native : SQL_VARCHAR;
    case ColumnType::LargeText: return isCharType(native) ? native : SQL_LONGVARCHAR;
    case ColumnType::Integer: return isExactNumberType(native) ? native : SQL_BIGINT;
    case ColumnType::Decimal: return native == SQL_DECIMAL || native == SQL_NUMERIC ? native : SQL_DECIMAL;
    case ColumnType::Real: return isRealType(native) ? native : SQL_DOUBLE;
    case ColumnType::Boolean: return SQL_BIT;
    case ColumnType::Date: return SQL_TYPE_DATE;
    case ColumnType::Time: return SQL_TYPE_TIME;
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz: return SQL_TYPE_TIMESTAMP;
    case ColumnType::Binary: return isBinaryType(native) ? native : SQL_VARBINARY;
    case ColumnType::Other: return native ? native : SQL_VARCHAR;
    }
    return SQL_VARCHAR;
}

namespace {

// NULL, in the C type of its family. Some drivers check the size even of a
// NULL against its type.
void bindNull(BoundParam& b)
{
    b.cType = isBinaryType(b.sqlType) ? SQL_C_BINARY : SQL_C_CHAR;
    b.length = SQL_NULL_DATA;
    switch (b.sqlType) {
    case SQL_TYPE_TIMESTAMP: b.columnSize = 19; break;
    case SQL_TYPE_DATE: b.columnSize = 10; break;
    case SQL_TYPE_TIME: b.columnSize = 8; break;
    case SQL_DOUBLE:
    case SQL_FLOAT: b.columnSize = 15; break;
    case SQL_REAL: b.columnSize = 7; break;
    default: break;
    }
}

void bindBytes(BoundParam& b, const std::string& bytes)
{
    if (!isBinaryType(b.sqlType))
        b.sqlType = SQL_VARBINARY;
    b.cType = SQL_C_BINARY;
    b.bytes = bytes;
    b.length = static_cast<SQLLEN>(b.bytes.size());
    b.columnSize = std::max<SQLULEN>(1, b.bytes.size());
}

// Digits and signs as the driver's ASCII text.
void bindChars(BoundParam& b, std::string_view text)
{
    b.cType = SQL_C_CHAR;
    b.bytes = std::string(text);
    b.length = static_cast<SQLLEN>(b.bytes.size());
}

// The text in the C form its column type has; false when the text is not in
// that form (the driver then gets it as text and decides what it means).
bool bindTyped(BoundParam& b, ColumnType type, std::string_view text)
{
    switch (type) {
    case ColumnType::Real: {
        double v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec != std::errc() || r.ptr != text.data() + text.size())
            return false;
        b.cType = SQL_C_DOUBLE;
        b.real = v;
        b.length = sizeof(double);
        b.columnSize = 15;
        return true;
    }
    case ColumnType::Date: {
        const auto ts = parseTimestamp(text);
        if (!ts || text.size() != 10)
            return false;
        b.cType = SQL_C_TYPE_DATE;
        b.date = SQL_DATE_STRUCT{ts->year, ts->month, ts->day};
        b.length = sizeof(SQL_DATE_STRUCT);
        b.columnSize = 10;
        return true;
    }
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz: {
        int fractionDigits = 0;
        const auto ts = parseTimestamp(text, &fractionDigits);
        if (!ts)
            return false;
        b.cType = SQL_C_TYPE_TIMESTAMP;
        b.timestamp = *ts;
        b.length = sizeof(SQL_TIMESTAMP_STRUCT);
        b.columnSize = fractionDigits ? 20 + static_cast<SQLULEN>(fractionDigits) : 19;
        b.digits = static_cast<SQLSMALLINT>(fractionDigits);
        return true;
    }
    case ColumnType::Integer:
    case ColumnType::Decimal:
    case ColumnType::Boolean:
        bindChars(b, text);
        decimalShape(text, b.columnSize, b.digits);
        return true;
    case ColumnType::Time: {
        bindChars(b, text);
        const auto point = text.find('.');
        b.digits = point == std::string_view::npos ? 0 : static_cast<SQLSMALLINT>(text.size() - point - 1);
        b.columnSize = b.digits ? 9 + static_cast<SQLULEN>(b.digits) : 8;
        return true;
    }
    default: return false;
    }
}

void bindWide(BoundParam& b, std::string_view text)
{
    b.cType = SQL_C_WCHAR;
    b.wide = toWide(text);
    b.length = static_cast<SQLLEN>(wideLength(b.wide) * sizeof(SQLWCHAR));
    b.columnSize = std::max<SQLULEN>(1, wideLength(b.wide));
}

} // namespace

BoundParam makeParam(const Param& p, DialectKind dialect)
{
    BoundParam b;
    b.sqlType = sqlTypeFor(p);
    const bool temporal = p.type == ColumnType::Date || p.type == ColumnType::Time || p.type == ColumnType::Timestamp
                          || p.type == ColumnType::TimestampTz;
    // SQLite's dates and times go as the text they were read in (see classify).
    const bool asText = dialect == DialectKind::SQLite && temporal;
    if (asText)
        b.sqlType = SQL_VARCHAR;
    if (p.value.isNull()) {
        bindNull(b);
        return b;
    }
    if (p.value.kind == ValueKind::Blob || p.type == ColumnType::Binary) {
        bindBytes(b, p.value.bytes);
        return b;
    }
    const std::string_view text = p.value.bytes;
    // Drivers end a text at a NUL (or fail on it) as they like: never sent.
    if (text.find('\0') != std::string_view::npos)
        throw DbError(DbError::kGeneric, Session::kNulInText);
    if (!bindTyped(b, asText ? ColumnType::Text : p.type, text))
        bindWide(b, text);
    return b;
}

} // namespace odbc
