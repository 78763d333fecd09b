#pragma once

// Statement parameters as the driver binds them: the C and SQL types, the
// column size and the storage that SQLBindParameter points at.

#include "oracle/Dialect.h"
#include "oracle/Engine.h"
#include "oracle/engines/OdbcText.h"

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace odbc {

// One bound parameter and the storage it points at (kept until the statement ran).
struct BoundParam {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN columnSize = 1;
    SQLSMALLINT digits = 0;
    WideText wide;
    std::string bytes;
    double real = 0;
    SQL_DATE_STRUCT date{};
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLLEN length = 0;
    char nullByte = 0;

    SQLPOINTER pointer()
    {
        switch (cType) {
        case SQL_C_WCHAR: return wideData(wide);
        case SQL_C_DOUBLE: return &real;
        case SQL_C_TYPE_DATE: return &date;
        case SQL_C_TYPE_TIMESTAMP: return &timestamp;
        default: return bytes.empty() ? static_cast<SQLPOINTER>(&nullByte) : bytes.data();
        }
    }
    SQLLEN bufferLength() const
    {
        switch (cType) {
        case SQL_C_WCHAR: return static_cast<SQLLEN>((wideLength(wide) + 1) * sizeof(SQLWCHAR)); // with its NUL
        case SQL_C_DOUBLE: return sizeof(double);
        case SQL_C_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
        case SQL_C_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
        default: return static_cast<SQLLEN>(bytes.size());
        }
    }
};

// The SQL type a parameter is bound as: the column's own when it belongs to
// the family the value is written in, otherwise the family's usual type.
SQLSMALLINT sqlTypeFor(const Param& p);

// The bound form of a parameter, written so that the database compares it
// exactly with the value read (see OdbcText.h).
BoundParam makeParam(const Param& p, DialectKind dialect);

} // namespace odbc
