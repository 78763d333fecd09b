#pragma once

// The ODBC engine (unixODBC). Results are read with bound columns and row
// arrays where the driver allows it, and cell by cell with SQLGetData for
// long columns and for values longer than the driver said. Text travels as
// UTF-16 (the wide API) and reaches the sink as UTF-8, whatever the locale.
// All calls come from the UI thread only; every failure is a DbError carrying
// the driver's native error and all its diagnostic records.

#include "oracle/Dialect.h"
#include "oracle/Engine.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct OdbcOptions {
    // Read every cell with its own SQLGetData call and bind nothing; the
    // slow, simple path that the block fetch is checked against.
    bool perCellFetch = false;
    // Rows per SQLFetch in block mode; 0 picks it from the row's size.
    int rowArraySize = 0;
    // The dialect to use whatever DBMS the driver reports.
    std::optional<DialectKind> dialect;
};

// How the last query was read, for tests and benchmarks.
struct OdbcFetchStats {
    enum class Mode { None, PerCell, RowByRow, Block };
    Mode mode = Mode::None;
    long long rowArraySize = 0;
    long long fetchCalls = 0;
    long long getDataCalls = 0;
    long long rows = 0;
};

class OdbcSession : public Session {
public:
    // The DBMS name the driver reported at connect (SQL_DBMS_NAME).
    virtual const std::string& dbmsName() const = 0;
    virtual const OdbcFetchStats& lastFetch() const = 0;
};

// Connects with a complete ODBC connection string (credentials included).
std::unique_ptr<OdbcSession> ConnectOdbc(const std::string& connectionString, const OdbcOptions& options = {});

// OpenOdbcSession with options: odbcConnect is a connection string without
// credentials (or a bare DSN name); UID and PWD come from the login.
std::unique_ptr<OdbcSession> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login,
                                             const OdbcOptions& options);

// The connection string OpenOdbcSession uses: odbcConnect, then UID and PWD
// when the login has them, each value brace-quoted only when it needs it.
std::string OdbcConnectionString(const std::string& odbcConnect, const LoginParts& login);

// An ODBC attribute value: enclosed in braces with '}' doubled only when it
// contains ';', '{', '}', '=' or has a leading or trailing blank.
std::string OdbcQuote(const std::string& value);

// The value enclosed in braces with '}' doubled, whatever it holds.
std::string OdbcBrace(std::string_view value);
