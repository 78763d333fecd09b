// The ODBC engine over unixODBC's wide (UTF-16) API: connecting, running
// statements, transactions and the catalogue. Reading results is in
// OdbcFetch.cpp.

#include "oracle/engines/OdbcSessionImpl.h"

#include "oracle/DbError.h"
#include "oracle/engines/SmallResult.h"
#include "oracle/engines/SqliteEngine.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <charconv>

namespace odbc {

OdbcSessionImpl::OdbcSessionImpl(const std::string& connectionString, const OdbcOptions& options)
    : options_(options)
{
    const CNumericLocale numbers;
    env_ = allocate(SQL_HANDLE_ENV, nullptr);
    env_.check(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
               "SQLSetEnvAttr");
    dbc_ = allocate(SQL_HANDLE_DBC, &env_);
    // A server that does not answer is given up on after the login timeout.
    SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(LoginTimeoutSeconds())), SQL_IS_UINTEGER);

    WideText in = toWide(connectionString);
    std::vector<SQLWCHAR> out(1024);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc_.get(), nullptr, wideData(in), SQL_NTS, out.data(),
                                           static_cast<SQLSMALLINT>(out.size()), &outLength, SQL_DRIVER_NOPROMPT);
    // The string held the password: leave no copy of it behind.
    in.fill(QChar(0));
    std::fill(out.begin(), out.end(), SQLWCHAR(0));
    if (!SQL_SUCCEEDED(rc)) {
        // No native code means the driver manager itself refused: the
        // driver could not be loaded, or the source is not known.
        const std::vector<Diagnostic> records = diagnostics(SQL_HANDLE_DBC, dbc_.get());
        const bool driverMissing = std::any_of(records.begin(), records.end(), [](const Diagnostic& d) {
            return d.state == "IM003" || d.state == "01000";
        });
        throw makeError(SQL_HANDLE_DBC, dbc_.get(), "SQLDriverConnect",
                        driverMissing ? DbError::kNoDriver : DbError::kBadConnectionString);
    }
    link_.dbc = dbc_.get();

    dbmsName_ = infoText(SQL_DBMS_NAME);
    const std::string name = lower(dbmsName_);
    DialectKind kind = DialectKind::Generic;
    if (name.find("oracle") != std::string::npos)
        kind = DialectKind::Oracle;
    else if (name.find("postgres") != std::string::npos)
        kind = DialectKind::PostgreSQL;
    else if (name.find("sqlite") != std::string::npos)
        kind = DialectKind::SQLite;
    kind = options_.dialect.value_or(kind);
    // Debian's SQLite driver links the shared libsqlite3, so the driver runs
    // on the library this process has: that library tells about RETURNING.
    dialect_ = kind == DialectKind::SQLite ? MakeSqliteDialect(SqliteHasReturning()) : MakeDialect(kind);

    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_.get(), SQL_GETDATA_EXTENSIONS, &getDataExtensions_,
                                   sizeof(getDataExtensions_), nullptr)))
        getDataExtensions_ = 0;

    if (dialect_->kind() == DialectKind::Oracle) {
        // Numbers travel as text: make sure their decimal separator is a
        // point whatever territory the client was set up with.
        try {
            execute("ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '.,'", {});
        } catch (const DbError&) {
            // Not fatal: the session works, only with its own separator.
        }
    } else if (dialect_->kind() == DialectKind::PostgreSQL) {
        // Doubles are read as the server's text (see classify): make sure
        // it prints them exactly, whatever the driver or the role set.
        execute("SET extra_float_digits = 3", {});
    }
}

OdbcSessionImpl::~OdbcSessionImpl()
{
    // Disconnecting with a transaction open fails: end it first.
    if (inTransaction_)
        SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
}

std::string OdbcSessionImpl::infoText(SQLUSMALLINT info)
{
    std::vector<SQLWCHAR> buffer(256);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetInfoW(dbc_.get(), info, buffer.data(), static_cast<SQLSMALLINT>(buffer.size() * 2), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(length) >= buffer.size() * 2) {
        buffer.resize(static_cast<std::size_t>(length) / 2 + 1);
        rc = SQLGetInfoW(dbc_.get(), info, buffer.data(), static_cast<SQLSMALLINT>(buffer.size() * 2), &length);
    }
    if (!SQL_SUCCEEDED(rc))
        return {};
    const std::size_t n = std::min(buffer.size() - 1, static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / 2);
    return toUtf8(buffer.data(), n);
}

OdbcSessionImpl::Statement OdbcSessionImpl::run(std::string_view sql, std::span<const Param> params)
{
    Statement st;
    st.params.reserve(params.size());
    for (const Param& p : params)
        st.params.push_back(makeParam(p, dialect_->kind()));
    st.stmt = allocate(SQL_HANDLE_STMT, &dbc_);
    for (std::size_t i = 0; i < st.params.size(); ++i) {
        BoundParam& b = st.params[i];
        st.stmt.check(SQLBindParameter(st.stmt.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, b.cType,
                                       b.sqlType, b.columnSize, b.digits, b.pointer(), b.bufferLength(), &b.length),
                      "SQLBindParameter");
    }
    WideText text = toWide(sql);
    SQLRETURN rc;
    {
        const Running running(*this, st.stmt);
        rc = SQLExecDirectW(st.stmt.get(), wideData(text), static_cast<SQLINTEGER>(wideLength(text)));
    }
    if (rc == SQL_NEED_DATA)
        throw DbError(DbError::kGeneric, "the driver asked for parameter data at execution");
    st.stmt.check(rc, "SQLExecDirect");
    st.result = rc;
    return st;
}

OdbcSessionImpl::Running::Running(OdbcSessionImpl& session, const Handle& stmt) : session_(session)
{
    const std::lock_guard<std::mutex> lock(session_.runningMutex_);
    session_.running_ = stmt.get();
}

OdbcSessionImpl::Running::~Running()
{
    const std::lock_guard<std::mutex> lock(session_.runningMutex_);
    session_.running_ = SQL_NULL_HANDLE;
}

void OdbcSessionImpl::interrupt() noexcept
{
    // SQLCancel may come from another thread while the statement runs; the
    // lock keeps the handle from being freed meanwhile.
    const std::lock_guard<std::mutex> lock(runningMutex_);
    if (running_)
        SQLCancel(running_);
}

bool OdbcSessionImpl::broken() const
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttrW(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr))
           && dead == SQL_CD_TRUE;
}

void OdbcSessionImpl::query(std::string_view sql, std::span<const Param> params, RowSink& sink)
{
    const CNumericLocale numbers;
    const Statement st = run(sql, params);
    // SQL_NO_DATA: a statement that met no row (an UPDATE ... RETURNING,
    // say) has no cursor to fetch from; its result is empty.
    const Running running(*this, st.stmt);
    readResult(st.stmt, sink, st.result == SQL_NO_DATA);
}

long long OdbcSessionImpl::execute(std::string_view sql, std::span<const Param> params)
{
    const CNumericLocale numbers;
    const Statement st = run(sql, params);
    if (st.result == SQL_NO_DATA) // a searched UPDATE or DELETE that met no row
        return 0;
    SQLLEN count = 0;
    st.stmt.check(SQLRowCount(st.stmt.get(), &count), "SQLRowCount");
    return count;
}

// What the database's statistics say of the table's size (Oracle's
// NUM_ROWS, PostgreSQL's reltuples); nothing where they say nothing.
std::optional<long long> OdbcSessionImpl::estimatedRows(std::string_view table)
{
    const Param name{ValueKind::Text, std::string(table)};
    std::optional<std::string> n;
    try {
        if (dialect_->kind() == DialectKind::Oracle)
            n = scalar("select num_rows from user_tables where table_name = ?", std::span<const Param>(&name, 1));
        else if (dialect_->kind() == DialectKind::PostgreSQL)
            n = scalar("select c.reltuples::bigint from pg_catalog.pg_class c where c.relname = ? and c.relnamespace ="
                       " (select oid from pg_catalog.pg_namespace where nspname = current_schema())",
                       std::span<const Param>(&name, 1));
    } catch (const DbError&) {
        return std::nullopt; // only a nicety
    }
    long long rows = -1;
    if (n)
        std::from_chars(n->data(), n->data() + n->size(), rows);
    return rows >= 0 ? std::optional<long long>(rows) : std::nullopt;
}

std::optional<std::string> OdbcSessionImpl::scalar(const std::string& sql, std::span<const Param> params)
{
    SmallResult result;
    query(sql, params, result);
    if (result.rowCount() < 1 || result.columnCount() < 1 || result.isNull(0, 0))
        return std::nullopt;
    return std::string(result.value(0, 0));
}

std::string OdbcSessionImpl::currentSchema()
{
    switch (dialect_->kind()) {
    case DialectKind::Oracle: return scalar("select sys_context('USERENV', 'CURRENT_SCHEMA') from dual").value_or("");
    case DialectKind::PostgreSQL: return scalar("select current_schema()").value_or("");
    case DialectKind::SQLite: return {};
    case DialectKind::Generic: break;
    }
    // A source with schemas: the user's own, as the driver names the user.
    SQLUINTEGER usage = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc_.get(), SQL_SCHEMA_USAGE, &usage, sizeof usage, nullptr))
        && (usage & SQL_SU_DML_STATEMENTS))
        return infoText(SQL_USER_NAME);
    return {};
}

std::vector<std::string> OdbcSessionImpl::primaryKey(std::string_view table)
{
    const CNumericLocale numbers;
    const std::string schema = currentSchema();
    const WideText wideTable = toWide(table);
    // With the schema first; when that finds nothing (a generic source whose
    // user is not a schema), anywhere, keeping the first schema found.
    for (const bool withSchema : {true, false}) {
        if (withSchema && schema.empty())
            continue;
        const WideText wideSchema = toWide(schema);
        Handle stmt = allocate(SQL_HANDLE_STMT, &dbc_);
        stmt.check(SQLPrimaryKeysW(stmt.get(), nullptr, 0,
                                   withSchema ? wideData(wideSchema) : nullptr,
                                   withSchema ? static_cast<SQLSMALLINT>(wideLength(wideSchema)) : 0,
                                   wideData(wideTable),
                                   static_cast<SQLSMALLINT>(wideLength(wideTable))),
                   "SQLPrimaryKeys");
        SmallResult keys;
        readResult(stmt, keys);
        if (keys.rowCount() == 0 || keys.columnCount() < 5)
            continue;
        std::vector<std::pair<long, std::string>> columns;
        const std::string_view firstSchema = keys.value(0, 1);
        for (std::int64_t r = 0; r < keys.rowCount(); ++r) {
            if (keys.value(r, 1) != firstSchema || keys.value(r, 0) != keys.value(0, 0))
                continue;
            long seq = 0;
            const std::string_view s = keys.value(r, 4);
            std::from_chars(s.data(), s.data() + s.size(), seq);
            columns.emplace_back(seq, std::string(keys.value(r, 3)));
        }
        std::stable_sort(columns.begin(), columns.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> out;
        for (auto& [seq, name] : columns)
            out.push_back(std::move(name));
        return out;
    }
    return {};
}

void OdbcSessionImpl::tables(RowSink& sink)
{
    const CNumericLocale numbers;
    if (dialect_->kind() != DialectKind::Generic) {
        Session::tables(sink);
        return;
    }
    // Ask the driver for the base tables, in the user's schema where it has
    // schemas (the search pattern's wildcards escaped), else all it shows.
    std::string schema = currentSchema();
    if (!schema.empty()) {
        const std::string escape = infoText(SQL_SEARCH_PATTERN_ESCAPE);
        if (!escape.empty()) {
            std::string escaped;
            for (char c : schema) {
                if (c == '_' || c == '%' || escape.find(c) != std::string::npos)
                    escaped += escape;
                escaped += c;
            }
            schema = escaped;
        }
    }
    SmallResult found;
    for (const bool withSchema : {true, false}) {
        if (withSchema && schema.empty())
            continue;
        const WideText wideSchema = toWide(schema);
        const WideText pattern = toWide("%");
        const WideText type = toWide("TABLE");
        Handle stmt = allocate(SQL_HANDLE_STMT, &dbc_);
        stmt.check(SQLTablesW(stmt.get(), nullptr, 0, withSchema ? wideData(wideSchema) : nullptr,
                              withSchema ? static_cast<SQLSMALLINT>(wideLength(wideSchema)) : 0,
                              wideData(pattern), SQL_NTS, wideData(type),
                              SQL_NTS),
                   "SQLTables");
        readResult(stmt, found);
        if (found.rowCount() > 0)
            break;
    }
    ColumnInfo name;
    name.name = "TABLE_NAME";
    name.typeName = "VARCHAR";
    name.nativeType = SQL_VARCHAR;
    sink.begin({name});
    for (std::int64_t r = 0; r < found.rowCount() && found.columnCount() >= 3; ++r) {
        const std::string_view v = found.value(r, 2);
        sink.cell(ValueKind::Text, v.data(), v.size());
        sink.endRow();
    }
    sink.end();
}

void OdbcSessionImpl::setAutocommit(bool on)
{
    dbc_.check(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON
                                                                                       : SQL_AUTOCOMMIT_OFF)),
                                  SQL_IS_UINTEGER),
               "SQLSetConnectAttr(SQL_ATTR_AUTOCOMMIT)");
}

void OdbcSessionImpl::begin()
{
    if (inTransaction_)
        throw DbError(DbError::kGeneric, "a transaction is already open on this connection");
    setAutocommit(false);
    inTransaction_ = true;
}

void OdbcSessionImpl::endTransaction(SQLSMALLINT completion)
{
    if (!inTransaction_)
        return;
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), completion);
    std::optional<DbError> failure;
    if (!SQL_SUCCEEDED(rc)) {
        failure = makeError(SQL_HANDLE_DBC, dbc_.get(), completion == SQL_COMMIT ? "commit" : "rollback");
        if (completion == SQL_COMMIT) // leave nothing half-done behind
            SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    }
    inTransaction_ = false;
    try {
        setAutocommit(true);
    } catch (const DbError&) {
        // The failure of the commit itself is the one to report.
        if (!failure)
            throw;
    }
    if (failure)
        throw *failure;
}

void OdbcSessionImpl::commit() { endTransaction(SQL_COMMIT); }
void OdbcSessionImpl::rollback() { endTransaction(SQL_ROLLBACK); }

} // namespace odbc

std::unique_ptr<OdbcSession> ConnectOdbc(const std::string& connectionString, const OdbcOptions& options)
{
    return std::make_unique<odbc::OdbcSessionImpl>(connectionString, options);
}

std::unique_ptr<OdbcSession> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login,
                                             const OdbcOptions& options)
{
    return ConnectOdbc(OdbcConnectionString(odbcConnect, login), options);
}

std::unique_ptr<Session> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login)
{
    return OpenOdbcSession(odbcConnect, login, OdbcOptions{});
}
