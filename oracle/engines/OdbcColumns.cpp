#include "oracle/engines/OdbcColumns.h"

#include "oracle/engines/OdbcText.h"

#include <algorithm>
#include <string>

namespace odbc {

SQLSMALLINT cTypeOf(Fetch f)
{
    switch (f) {
    case Fetch::WideText: return SQL_C_WCHAR;
    case Fetch::Chars: return SQL_C_CHAR;
    case Fetch::Double: return SQL_C_DOUBLE;
    case Fetch::Date: return SQL_C_TYPE_DATE;
    case Fetch::Timestamp: return SQL_C_TYPE_TIMESTAMP;
    case Fetch::Bytes: return SQL_C_BINARY;
    }
    return SQL_C_WCHAR;
}

namespace {

// Character columns. psqlODBC calls PostgreSQL's text (and varchar without a
// length) long, but the server compares it exactly like any short text: it
// is ordinary text, only read in pieces.
bool placeText(ColumnPlan& p, SQLSMALLINT sqlType, SQLULEN size, DialectKind dialect)
{
    ColumnInfo& info = p.info;
    if ((sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR) && dialect == DialectKind::PostgreSQL) {
        info.type = ColumnType::Text;
        p.longData = true;
    } else if (sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR) {
        info.type = ColumnType::LargeText;
        info.comparable = false;
        p.longData = true;
    } else if (isCharType(sqlType)) {
        info.type = ColumnType::Text;
        p.longData = size == 0 || size > kMaxBoundChars;
    } else {
        return false;
    }
    return true;
}

// Whole, decimal and binary floating point numbers, and booleans.
bool placeNumber(ColumnPlan& p, SQLSMALLINT sqlType, const std::string& typeName, DialectKind dialect)
{
    ColumnInfo& info = p.info;
    if (isIntegerType(sqlType)) {
        info.type = ColumnType::Integer;
        p.fetch = Fetch::Chars;
        p.kind = ValueKind::Integer;
    } else if (sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC
               // Oracle's NUMBER without precision and its FLOAT are decimal
               // numbers the driver may call double; only BINARY_FLOAT and
               // BINARY_DOUBLE are binary.
               || (dialect == DialectKind::Oracle && isRealType(sqlType) && typeName.rfind("binary", 0) != 0)) {
        info.type = ColumnType::Decimal;
        p.fetch = Fetch::Chars;
    } else if (isRealType(sqlType)) {
        info.type = ColumnType::Real;
        // PostgreSQL prints its reals exactly (extra_float_digits, set when
        // the session opens): take the text as it is, as its own engine does,
        // instead of having the driver parse it and writing it out again.
        p.fetch = dialect == DialectKind::PostgreSQL ? Fetch::Chars : Fetch::Double;
        p.kind = ValueKind::Real;
        // SQLite's ODBC driver passes reals through 15-digit text both ways,
        // so a value read need not match the one stored: never look a row up by it.
        if (dialect == DialectKind::SQLite)
            info.comparable = false;
    } else if (sqlType == SQL_BIT) {
        info.type = ColumnType::Boolean;
        p.fetch = Fetch::Chars;
    } else {
        return false;
    }
    return true;
}

// Dates, times and timestamps.
bool placeTemporal(ColumnPlan& p, SQLSMALLINT sqlType, const std::string& typeName, DialectKind dialect)
{
    ColumnInfo& info = p.info;
    const bool oracle = dialect == DialectKind::Oracle;
    if (sqlType == SQL_TYPE_DATE || sqlType == SQL_DATE) {
        // An Oracle DATE has a time of day; a driver that calls it a date
        // must not lose it.
        info.type = oracle ? ColumnType::Timestamp : ColumnType::Date;
        p.fetch = oracle ? Fetch::Timestamp : Fetch::Date;
    } else if (sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME) {
        // SQL_TIME_STRUCT has no fraction of a second: read the text.
        info.type = ColumnType::Time;
        p.fetch = Fetch::Chars;
    } else if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TIMESTAMP) {
        // "timestamptz", "timestamp with time zone" (not "... without time zone")
        const bool zoned =
            typeName.find("tz") != std::string::npos || typeName.find("with time zone") != std::string::npos;
        info.type = zoned ? ColumnType::TimestampTz : ColumnType::Timestamp;
        p.fetch = Fetch::Timestamp;
    } else {
        return false;
    }
    return true;
}

// The editor's column type and how the cells are fetched, by the SQL type
// the driver gives.
void placeBySqlType(ColumnPlan& p, SQLSMALLINT sqlType, SQLULEN size, const std::string& typeName,
                    DialectKind dialect)
{
    if (placeText(p, sqlType, size, dialect) || placeNumber(p, sqlType, typeName, dialect)
        || placeTemporal(p, sqlType, typeName, dialect))
        return;
    ColumnInfo& info = p.info;
    if (isBinaryType(sqlType)) {
        info.type = ColumnType::Binary;
        info.readOnly = true;
        info.comparable = false;
        p.fetch = Fetch::Bytes;
        p.kind = ValueKind::Blob;
        p.longData = true;
    } else {
        info.type = ColumnType::Other;
        p.longData = size == 0 || size > kMaxBoundChars;
    }
}

// What a database makes of a column whatever SQL type its driver gives it.
void applyDialect(ColumnPlan& p, SQLULEN size, const std::string& typeName, DialectKind dialect)
{
    ColumnInfo& info = p.info;
    // PostgreSQL types without an equality operator: never in a WHERE as
    // themselves (the dialect compares them by their text). psqlODBC names
    // json and the geometric types "unknown", so a type it cannot name is
    // taken for one of them.
    if (dialect == DialectKind::PostgreSQL) {
        static const char* const noEquality[] = {"json", "xml", "point", "lseg", "path", "box", "polygon", "line",
                                                 "circle", "unknown"};
        if (std::find(std::begin(noEquality), std::end(noEquality), typeName) != std::end(noEquality)) {
            info.type = ColumnType::Other;
            info.comparable = false;
        }
    }

    // SQLite keeps dates and times as the text they were written in, and its
    // driver rounds a bound timestamp to milliseconds: read and bind the text.
    if (dialect == DialectKind::SQLite
        && (info.type == ColumnType::Date || info.type == ColumnType::Time || info.type == ColumnType::Timestamp
            || info.type == ColumnType::TimestampTz)) {
        p.fetch = Fetch::WideText;
        p.kind = ValueKind::Text;
        p.longData = size == 0 || size > kMaxBoundChars;
    }
}

// The bytes one bound cell takes.
SQLLEN elementBytes(Fetch fetch, SQLULEN size, SQLSMALLINT digits)
{
    switch (fetch) {
    case Fetch::WideText: return static_cast<SQLLEN>((2 * size + 1) * sizeof(SQLWCHAR));
    case Fetch::Chars: return std::max<SQLLEN>(32, static_cast<SQLLEN>(std::min<SQLULEN>(size, 1000)) + digits + 8);
    case Fetch::Double: return sizeof(double);
    case Fetch::Date: return sizeof(SQL_DATE_STRUCT);
    case Fetch::Timestamp: return sizeof(SQL_TIMESTAMP_STRUCT);
    case Fetch::Bytes: break;
    }
    return 0;
}

} // namespace

void classify(ColumnPlan& p, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, DialectKind dialect)
{
    p.info.nativeType = sqlType;
    const std::string typeName = lower(p.info.typeName);
    placeBySqlType(p, sqlType, size, typeName, dialect);
    applyDialect(p, size, typeName, dialect);
    p.elementBytes = elementBytes(p.fetch, size, digits);
}

} // namespace odbc
