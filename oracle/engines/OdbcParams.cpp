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

BoundParam makeParam(const Param& p, DialectKind dialect)
{
    BoundParam b;
    b.sqlType = sqlTypeFor(p);
    const bool temporal = p.type == ColumnType::Date || p.type == ColumnType::Time || p.type == ColumnType::Timestamp
                          || p.type == ColumnType::TimestampTz;
    if (dialect == DialectKind::SQLite && temporal)
        b.sqlType = SQL_VARCHAR; // the text as it was read (see classify)
    if (p.value.isNull()) {
        b.cType = isBinaryType(b.sqlType) ? SQL_C_BINARY : SQL_C_CHAR;
        b.length = SQL_NULL_DATA;
        // Some drivers check the size even of a NULL against its type.
        switch (b.sqlType) {
        case SQL_TYPE_TIMESTAMP: b.columnSize = 19; break;
        case SQL_TYPE_DATE: b.columnSize = 10; break;
        case SQL_TYPE_TIME: b.columnSize = 8; break;
        case SQL_DOUBLE:
        case SQL_FLOAT: b.columnSize = 15; break;
        case SQL_REAL: b.columnSize = 7; break;
        default: break;
        }
        return b;
    }
    if (p.value.kind == ValueKind::Blob || p.type == ColumnType::Binary) {
        if (!isBinaryType(b.sqlType))
            b.sqlType = SQL_VARBINARY;
        b.cType = SQL_C_BINARY;
        b.bytes = p.value.bytes;
        b.length = static_cast<SQLLEN>(b.bytes.size());
        b.columnSize = std::max<SQLULEN>(1, b.bytes.size());
        return b;
    }
    const std::string_view text = p.value.bytes;
    // Drivers end a text at a NUL (or fail on it) as they like: never sent.
    if (text.find('\0') != std::string_view::npos)
        throw DbError(DbError::kGeneric, Session::kNulInText);
    switch (dialect == DialectKind::SQLite && temporal ? ColumnType::Text : p.type) {
    case ColumnType::Real: {
        double v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec == std::errc() && r.ptr == text.data() + text.size()) {
            b.cType = SQL_C_DOUBLE;
            b.real = v;
            b.length = sizeof(double);
            b.columnSize = 15;
            return b;
        }
        break; // not a number: the driver decides what the text means
    }
    case ColumnType::Date:
        if (const auto ts = parseTimestamp(text); ts && text.size() == 10) {
            b.cType = SQL_C_TYPE_DATE;
            b.date = SQL_DATE_STRUCT{ts->year, ts->month, ts->day};
            b.length = sizeof(SQL_DATE_STRUCT);
            b.columnSize = 10;
            return b;
        }
        break;
    case ColumnType::Timestamp:
    case ColumnType::TimestampTz: {
        int fractionDigits = 0;
        if (const auto ts = parseTimestamp(text, &fractionDigits)) {
            b.cType = SQL_C_TYPE_TIMESTAMP;
            b.timestamp = *ts;
            b.length = sizeof(SQL_TIMESTAMP_STRUCT);
            b.columnSize = fractionDigits ? 20 + static_cast<SQLULEN>(fractionDigits) : 19;
            b.digits = static_cast<SQLSMALLINT>(fractionDigits);
            return b;
        }
        break;
    }
    case ColumnType::Integer:
    case ColumnType::Decimal:
    case ColumnType::Boolean:
        b.cType = SQL_C_CHAR;
        b.bytes = p.value.bytes;
        b.length = static_cast<SQLLEN>(b.bytes.size());
        decimalShape(text, b.columnSize, b.digits);
        return b;
    case ColumnType::Time: {
        b.cType = SQL_C_CHAR;
        b.bytes = p.value.bytes;
        b.length = static_cast<SQLLEN>(b.bytes.size());
        const auto point = text.find('.');
        b.digits = point == std::string_view::npos ? 0 : static_cast<SQLSMALLINT>(text.size() - point - 1);
        b.columnSize = b.digits ? 9 + static_cast<SQLULEN>(b.digits) : 8;
        return b;
    }
    default: break;
    }
    b.cType = SQL_C_WCHAR;
    b.wide = toWide(text);
    b.length = static_cast<SQLLEN>(wideLength(b.wide) * sizeof(SQLWCHAR));
    b.columnSize = std::max<SQLULEN>(1, wideLength(b.wide));
    return b;
}

} // namespace odbc
