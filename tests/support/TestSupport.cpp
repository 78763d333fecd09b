#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QUrl>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport {

namespace {

QString env(const char* name) { return qEnvironmentVariable(name); }

struct PgConnCloser {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgResultClearer {
    void operator()(PGresult* r) const { PQclear(r); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgConnCloser>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultClearer>;

PgConnPtr pgConnect(PgRole role)
{
    const std::optional<PgLogin> login = pgLogin();
    if (!login)
        throw SetupError("DERVANTA_TEST_PG_* not set");
    std::string user, password;
    switch (role) {
    case PgRole::Owner:
        user = login->user.toStdString();
        password = login->password.toStdString();
        break;
    case PgRole::Other:
        user = login->otherUser.toStdString();
        password = login->otherPassword.toStdString();
        break;
    case PgRole::Superuser:
        user = "postgres";
        password = "postgres";
        break;
    }
    const std::string port = std::to_string(login->port);
    const char* keys[] = {"host", "port", "dbname", "user", "password", "client_encoding", nullptr};
    const char* values[] = {"127.0.0.1", port.c_str(), "dervanta", user.c_str(), password.c_str(), "UTF8", nullptr};
    PgConnPtr conn(PQconnectdbParams(keys, values, 0));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
        throw SetupError(std::string("cannot connect to the test server: ")
                         + (conn ? PQerrorMessage(conn.get()) : "out of memory"));
    // Notices ("drop cascades to ...") are no news in a test's output.
    PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
    return conn;
}

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;

SqlitePtr sqliteOpen(const QString& path, int flags)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, flags, nullptr);
    SqlitePtr db(raw);
    if (rc != SQLITE_OK)
        throw SetupError("cannot open " + path.toStdString() + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
    return db;
}

void sqliteExec(sqlite3* db, const std::string& sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "unknown failure";
        sqlite3_free(message);
        throw SetupError("SQLite: " + text + " in: " + sql);
    }
}

} // namespace

std::optional<PgLogin> pgLogin()
{
    PgLogin login;
    login.url = env("DERVANTA_TEST_PG_URL");
    login.user = env("DERVANTA_TEST_PG_USER");
    login.password = env("DERVANTA_TEST_PG_PASSWORD");
    login.otherUser = env("DERVANTA_TEST_PG_OTHER_USER");
    login.otherPassword = env("DERVANTA_TEST_PG_OTHER_PASSWORD");
    login.port = env("DERVANTA_TEST_PG_PORT").toInt();
    if (login.port == 0 && !login.url.isEmpty())
        login.port = QUrl(login.url).port(5432);
    if (login.user.isEmpty() || login.port == 0)
        return std::nullopt;
    return login;
}

QString pgDataSource()
{
    const std::optional<PgLogin> login = pgLogin();
    if (!login)
        return {};
    return QStringLiteral("postgresql://127.0.0.1:%1/dervanta").arg(login->port);
}

void pgExec(const std::string& sql, PgRole role)
{
    PgConnPtr conn = pgConnect(role);
    PgResultPtr result(PQexec(conn.get(), sql.c_str()));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw SetupError("PostgreSQL: " + std::string(PQerrorMessage(conn.get())) + " in: " + sql);
}

Rows pgQuery(const std::string& sql, PgRole role)
{
    PgConnPtr conn = pgConnect(role);
    PgResultPtr result(PQexec(conn.get(), sql.c_str()));
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        throw SetupError("PostgreSQL: " + std::string(PQerrorMessage(conn.get())) + " in: " + sql);
    Rows rows;
    const int n = PQntuples(result.get());
    const int columns = PQnfields(result.get());
    rows.reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
        auto& row = rows.emplace_back();
        for (int c = 0; c < columns; ++c) {
            if (PQgetisnull(result.get(), r, c))
                row.emplace_back();
            else
                row.emplace_back(std::string(PQgetvalue(result.get(), r, c),
                                             static_cast<std::size_t>(PQgetlength(result.get(), r, c))));
        }
    }
    return rows;
}

void pgDropTables(const std::vector<std::string>& names, PgRole role)
{
    for (const std::string& name : names) {
        std::string quoted = "\"";
        for (char c : name) {
            if (c == '"')
                quoted += '"';
            quoted += c;
        }
        quoted += '"';
        try {
            pgExec("drop table if exists " + quoted, role);
        } catch (const SetupError&) {
            // Cleanup only: a table that cannot be dropped must not fail the test.
        }
    }
}

PgDropAtEnd::PgDropAtEnd(std::vector<std::string> tables, PgRole role, std::vector<std::string> schemas)
    : tables_(std::move(tables)), role_(role), schemas_(std::move(schemas))
{
}

PgDropAtEnd::~PgDropAtEnd()
{
    pgDropTables(tables_, role_);
    for (const std::string& schema : schemas_) {
        try {
            pgExec("drop schema if exists " + schema + " cascade", PgRole::Superuser);
        } catch (const SetupError&) {
            // Cleanup only, as for the tables.
        }
    }
}

ScratchPgRole::ScratchPgRole()
    : name_(uniqueName("role")), password_("pw '\"; " + uniqueName("x"))
{
    std::string literal = "'";
    for (char c : password_) {
        if (c == '\'')
            literal += '\'';
        literal += c;
    }
    literal += '\'';
    pgExec("create role " + name_ + " login password " + literal + ";"
           " grant create, usage on schema public to " + name_,
           PgRole::Superuser);
}

ScratchPgRole::~ScratchPgRole()
{
    try {
        pgExec("drop owned by " + name_ + " cascade; drop role " + name_, PgRole::Superuser);
    } catch (const SetupError&) {
        // Cleanup only.
    }
}

void ScratchPgRole::exec(const std::string& sql) const
{
    pgExec("set role " + name_ + "; " + sql, PgRole::Superuser);
}

int ScratchPgRole::backends() const
{
    const Rows rows = pgQuery("select count(*) from pg_catalog.pg_stat_activity where usename = '" + name_ + "'",
                              PgRole::Superuser);
    return std::stoi(rows.at(0).at(0).value_or("0"));
}

void ScratchPgRole::useAsLogin() const
{
    setLoginFields(pgDataSource(), QString::fromStdString(name_), QString::fromStdString(password_));
}

SilentServer::SilentServer()
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0
        || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw SetupError("cannot listen on loopback");
    port_ = ntohs(address.sin_port);
}

SilentServer::~SilentServer()
{
    if (fd_ >= 0)
        ::close(fd_);
}

ScratchSqlite::ScratchSqlite(const std::string& sql)
{
    if (!dir_.isValid())
        throw SetupError("cannot create a temporary folder");
    path_ = dir_.filePath(QStringLiteral("scratch.db"));
    SqlitePtr db = sqliteOpen(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Make it a real database file even when no statement follows.
    sqliteExec(db.get(), "pragma user_version = 1");
    if (!sql.empty())
        sqliteExec(db.get(), sql);
}

void ScratchSqlite::exec(const std::string& sql) const
{
    SqlitePtr db = sqliteOpen(path_, SQLITE_OPEN_READWRITE);
    sqlite3_busy_timeout(db.get(), 5000);
    sqliteExec(db.get(), sql);
}

Rows ScratchSqlite::query(const std::string& sql) const
{
    SqlitePtr db = sqliteOpen(path_, SQLITE_OPEN_READWRITE);
    sqlite3_busy_timeout(db.get(), 5000);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK)
        throw SetupError("SQLite: " + std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, &sqlite3_finalize);
    Rows rows;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        auto& row = rows.emplace_back();
        for (int c = 0; c < sqlite3_column_count(stmt.get()); ++c) {
            if (sqlite3_column_type(stmt.get(), c) == SQLITE_NULL) {
                row.emplace_back();
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
            row.emplace_back(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), c))));
        }
    }
    if (rc != SQLITE_DONE)
        throw SetupError("SQLite: " + std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
    return rows;
}

SqliteExclusiveLock::SqliteExclusiveLock(const QString& path)
{
    SqlitePtr db = sqliteOpen(path, SQLITE_OPEN_READWRITE);
    sqliteExec(db.get(), "begin exclusive");
    db_ = std::shared_ptr<void>(db.release(), [](void* raw) { sqlite3_close_v2(static_cast<sqlite3*>(raw)); });
}

SqliteExclusiveLock::~SqliteExclusiveLock() = default;

std::string uniqueName(const std::string& prefix)
{
    static std::atomic<int> counter{0};
    const quint32 tail = QRandomGenerator::global()->bounded(1u << 24);
    return prefix + "_" + std::to_string(QCoreApplication::applicationPid()) + "_" + std::to_string(++counter) + "_"
           + QString::number(tail, 36).toStdString();
}

void setLoginFields(const QString& sid, const QString& user, const QString& password)
{
    SetLoginFieldsReader([sid, user, password] { return LoginFields{sid, user, password}; });
}

void setPgLoginFields(PgRole role)
{
    const std::optional<PgLogin> login = pgLogin();
    if (!login)
        return;
    switch (role) {
    case PgRole::Owner: setLoginFields(pgDataSource(), login->user, login->password); break;
    case PgRole::Other: setLoginFields(pgDataSource(), login->otherUser, login->otherPassword); break;
    case PgRole::Superuser: setLoginFields(pgDataSource(), QStringLiteral("postgres"), QStringLiteral("postgres")); break;
    }
}

} // namespace TestSupport
