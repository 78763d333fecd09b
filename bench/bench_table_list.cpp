// How long the chooser page takes to list 10,000 tables: the real Form2 load
// (connection, catalogue query, one yield per name into the real list),
// with the page hidden and shown, on SQLite and on PostgreSQL.
//
// Run:  build/bench/bench_table_list [count]
// PostgreSQL is measured when DERVANTA_TEST_PG_* are set (source
// /tmp/devpg.env or run under scripts/with-test-postgres); the tables go into
// a database of their own, created as the superuser (postgres/postgres unless
// DERVANTA_BENCH_PG_SUPERUSER / _PASSWORD say otherwise) and dropped at the end.
// The settings store is a temporary one, never the user's own.

#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Forms.h"
#include "pages/TableList.h"
#include "shell/Main.h"
#include "shell/SettingsStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

int tableCount = 10000;

// In transactions of 500 tables: PostgreSQL holds a lock per table created
// until the transaction ends.
std::string createStatements()
{
    std::string sql;
    for (int i = 0; i < tableCount; ++i) {
        if (i % 500 == 0)
            sql += "begin;";
        sql += "create table bench_table_" + std::to_string(i) + " (id integer primary key, name text);";
        if (i % 500 == 499 || i == tableCount - 1)
            sql += "commit;";
    }
    return sql;
}

// Loads the chooser page three times: its first load (hidden), a reload while
// hidden, a reload while it is shown; prints each and returns the slowest.
qint64 measure(const char* engine)
{
    qint64 slowest = 0;
    const auto run = [&](const char* what, const std::function<void()>& load) {
        QElapsedTimer timer;
        timer.start();
        load();
        const qint64 ms = timer.elapsed();
        slowest = std::max(slowest, ms);
        std::printf("%-10s %-28s %6lld ms  (%d names listed)\n", engine, what, static_cast<long long>(ms),
                    GetForm2().List1->ListCount());
    };
    run("first load (hidden)", [] { GetForm2(); });
    run("reload (hidden)", [] { GetForm2().Form_Load(); });
    GetForm2().show();
    QApplication::processEvents();
    run("reload (shown)", [] { GetForm2().Form_Load(); });
    GetForm2().hide();
    return slowest;
}

void useLogin(const QString& sid, const QString& user, const QString& password)
{
    DestroyFormsForTests();
    // An empty stored login keeps the connection page from moving on (and
    // loading the chooser) before the measurement.
    for (const char* key : {"OracleSID", "OracleUser", "OraclePassword"})
        SettingsSave(QStringLiteral("Marrowick"), QStringLiteral("Dervanta"), QString::fromLatin1(key), QString());
    Form1& form1 = GetForm1();
    form1.Text1->setText(sid);
    form1.Text2->setText(user);
    form1.Text3->setText(password);
}

qint64 benchSqlite(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("tables.db"));
    sqlite3* raw = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> db(raw, &sqlite3_close_v2);
    char* error = nullptr;
    if (sqlite3_exec(db.get(), createStatements().c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "SQLite: %s\n", error);
        sqlite3_free(error);
        return -1;
    }
    db.reset();
    useLogin(QStringLiteral("sqlite:") + path, {}, {});
    return measure("SQLite");
}

struct PgCloser {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using PgPtr = std::unique_ptr<PGconn, PgCloser>;

PgPtr pgConnect(const std::string& port, const std::string& db, const std::string& user, const std::string& pw)
{
    const char* keys[] = {"host", "port", "dbname", "user", "password", nullptr};
    const char* values[] = {"127.0.0.1", port.c_str(), db.c_str(), user.c_str(), pw.c_str(), nullptr};
    PgPtr c(PQconnectdbParams(keys, values, 0));
    if (PQstatus(c.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "PostgreSQL: %s\n", PQerrorMessage(c.get()));
        return nullptr;
    }
    return c;
}

bool pgRun(PGconn* c, const std::string& sql)
{
    PGresult* r = PQexec(c, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok)
        std::fprintf(stderr, "PostgreSQL: %s\n", PQerrorMessage(c));
    PQclear(r);
    return ok;
}

qint64 benchPostgres()
{
    const std::string port = qEnvironmentVariable("DERVANTA_TEST_PG_PORT").toStdString();
    const std::string user = qEnvironmentVariable("DERVANTA_TEST_PG_USER").toStdString();
    const std::string password = qEnvironmentVariable("DERVANTA_TEST_PG_PASSWORD").toStdString();
    if (port.empty() || user.empty()) {
        std::printf("PostgreSQL skipped: DERVANTA_TEST_PG_* not set\n");
        return 0;
    }
    const std::string superuser = qEnvironmentVariable("DERVANTA_BENCH_PG_SUPERUSER", "postgres").toStdString();
    const std::string superPassword =
        qEnvironmentVariable("DERVANTA_BENCH_PG_SUPERUSER_PASSWORD", "postgres").toStdString();
    const std::string dbName = "dervanta_bench_" + std::to_string(QCoreApplication::applicationPid());

    PgPtr admin = pgConnect(port, "postgres", superuser, superPassword);
    if (!admin || !pgRun(admin.get(), "create database " + dbName + " owner \"" + user + "\""))
        return -1;
    qint64 result = -1;
    {
        PgPtr owner = pgConnect(port, dbName, user, password);
        if (owner && pgRun(owner.get(), createStatements())) {
            owner.reset();
            useLogin(QStringLiteral("postgresql://127.0.0.1:%1/%2").arg(QString::fromStdString(port),
                                                                          QString::fromStdString(dbName)),
                     QString::fromStdString(user), QString::fromStdString(password));
            result = measure("PostgreSQL");
        }
    }
    DestroyFormsForTests();
    pgRun(admin.get(), "drop database if exists " + dbName + " with (force)");
    return result;
}

// The list alone, without a database: the shown page's list takes every
// name with a yield before each, as FillTableList gives them.
void benchListOnly()
{
    TableList& list = *GetForm2().List1;
    GetForm2().show();
    QElapsedTimer timer;
    timer.start();
    list.Clear();
    for (int i = 0; i < tableCount; ++i) {
        QCoreApplication::processEvents();
        list.AddItem(QStringLiteral("bench_table_%1").arg(i));
    }
    list.SetListIndex(0);
    std::printf("%-10s %-28s %6lld ms  (%d names listed)\n", "no engine", "list only (shown)",
                static_cast<long long>(timer.elapsed()), list.ListCount());
    GetForm2().hide();
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    QApplication app(argc, argv);
    if (argc > 1)
        tableCount = std::max(1, std::atoi(argv[1]));
    SetHomePageHooks([] { return 0.5; }, [](const QUrl&) {});

    std::printf("Listing %d tables, one yield per name (budget: 1000 ms per load)\n", tableCount);
    const qint64 sqlite = benchSqlite(dir);
    if (sqlite >= 0)
        benchListOnly();
    const qint64 pg = benchPostgres();
    DestroyFormsForTests();
    const bool ok = sqlite >= 0 && pg >= 0 && sqlite <= 1000 && pg <= 1000;
    std::printf("%s\n", ok ? "within budget" : "OVER BUDGET (or failed)");
    return ok ? 0 : 1;
}
