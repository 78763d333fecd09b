// Pasting 10,000 rows x 10 columns over existing rows through the model's
// paste path (tab-separated text read as a spreadsheet's, each row typed into
// the model and written as the grid writes a row it leaves: its own
// transaction, the UPDATE checking the values read, the row read again),
// against the engine's own client running the same single-row UPDATEs, each
// in its own transaction, from a generated script (psql -X -q -f, sqlite3).
// Rounds alternate, so both see the same table and server state.
//
//   bench_paste [ROWS [ENGINE]]                          SQLite only
//   scripts/with-test-postgres build/bench/bench_paste  SQLite and PostgreSQL
// ENGINE (sqlite or postgresql) runs only that engine.
//
// Goal: the paste within 1.5 times the client's time.

#include "oracle/ClipboardText.h"
#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/EditableRowset.h"
#include "oracle/RowBatch.h"
#include "oracle/TableModel.h"
#include "bench/BenchTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kColumns = 10;
constexpr int kRounds = 6; // paste and client in turn

// The value of a column of a row after a round (round 0: as created).
std::string cell(int round, int row, int column)
{
    const std::string r = std::to_string(row);
    const std::string k = std::to_string(round);
    char stamp[40];
    switch (column) {
    case 0: return r;
    case 1: return std::to_string(round * 100000 + row);
    case 2: return std::to_string(round * 100000 + row) + ".5";
    case 3: return "r" + k + "-" + r + "-three";
    case 4: return "line " + r + " of round " + k;
    case 5: return std::to_string(round * 1000000 + row) + ".25";
    case 6:
        std::snprintf(stamp, sizeof stamp, "2024-0%d-01 10:00:%02d.%06d", 1 + round % 9, row % 60, row);
        return stamp;
    case 7: return std::to_string(row * 7 + round);
    case 8: return "eight" + k;
    default: return "nine " + r + " " + k;
    }
}

std::string literal(int round, int row, int column)
{
    if (column == 0 || column == 1 || column == 2 || column == 5 || column == 7)
        return cell(round, row, column);
    std::string out = "'";
    for (char c : cell(round, row, column)) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    return out + "'";
}

// The client's script: the UPDATE the editor runs for the row, the values
// inline: every changed column set, found by the key and by the changed
// columns' values before.
void writeScript(const std::string& path, int round, int rows)
{
    std::ofstream out(path);
    for (int r = 1; r <= rows; ++r) {
        out << "BEGIN;\nUPDATE t SET ";
        for (int c = 1; c < kColumns; ++c)
            out << (c > 1 ? ", " : "") << "c" << c << " = " << literal(round, r, c);
        out << " WHERE c0 = " << r;
        for (int c = 1; c < kColumns; ++c)
            out << " AND c" << c << " = " << literal(round - 1, r, c);
        out << ";\nCOMMIT;\n";
    }
}

struct Engine {
    const char* name;
    QString dataSource, user, password;
    // Runs SQL through the engine's client (setting up, checking).
    std::function<std::string(const std::string& sql)> query;
    // Runs a script file through the client; false on failure.
    std::function<bool(const std::string& path)> runScript;
    std::string createSql;
};


double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double pasteRound(TableModel& model, int round, int rows)
{
    QElapsedTimer timer;
    timer.start();
    const double cpu = threadSeconds();
    // Each row's new values where the grid shows the row (writes move rows
    // about in a PostgreSQL heap, and a table is read in its heap's order).
    TextRows block;
    block.reserve(static_cast<std::size_t>(rows));
    for (int shown = 0; shown < rows; ++shown) {
        const int key = model.index(shown, 0).data().toInt();
        std::vector<std::string>& fields = block.emplace_back();
        for (int c = 0; c < kColumns; ++c)
            fields.push_back(cell(round, key, c));
    }
    const std::string text = ToPlainText(block);
    std::vector<int> columns(kColumns);
    for (int c = 0; c < kColumns; ++c)
        columns[static_cast<std::size_t>(c)] = c;
    const std::vector<RowInput> inputs = PasteRows(model, ParsePlainText(text), 0, columns);
    const BatchResult result = WriteRows(model, inputs);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::printf("  (the user-interface thread's own time: %.2f s)\n", threadSeconds() - cpu);
    if (!result.complete())
        std::printf("  paste stopped: %s\n", qPrintable(result.summary()));
    return seconds;
}

void run(const Engine& e, int rows, const std::string& scratch)
{
    std::printf("%s, %d rows x %d columns:\n", e.name, rows, kColumns);
    e.query(e.createSql);
    ConnectionPtr connection = Connection::Create();
    connection->CursorLocation = adUseClient;
    connection->Open(BuildConnectionString(e.dataSource, e.user, e.password));
    std::unique_ptr<TableModel> model = OpenWholeTable(connection, "t");
    double bestPaste = 1e9, bestClient = 1e9;
    for (int round = 1; round <= kRounds; ++round) {
        const bool paste = round % 2 == 1;
        double seconds = 0;
        if (paste) {
            seconds = pasteRound(*model, round, rows);
            bestPaste = std::min(bestPaste, seconds);
        } else {
            const std::string path = scratch + "/round" + std::to_string(round) + ".sql";
            writeScript(path, round, rows);
            QElapsedTimer timer;
            timer.start();
            if (!e.runScript(path))
                std::printf("  the client failed\n");
            seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            bestClient = std::min(bestClient, seconds);
        }
        const std::string changed = e.query("select count(*) from t where c8 = 'eight" + std::to_string(round) + "'");
        std::printf("  round %d %-7s %7.2f s  %6.0f rows/s  (rows changed: %s)\n", round, paste ? "paste" : "client",
                    seconds, rows / seconds, changed.c_str());
        if (!paste)
            model = OpenWholeTable(connection, "t"); // as F5 does: the values read are the table's again
    }
    std::printf("  best paste %.2f s, best client %.2f s: %.2fx\n\n", bestPaste, bestClient, bestPaste / bestClient);
}

std::string createSql(bool postgres, int rows)
{
    std::string sql = postgres ? "drop table if exists t; create table t (c0 integer primary key, c1 integer, c2 double "
                                 "precision, c3 text, c4 text, c5 numeric(20,2), c6 timestamp(6), c7 integer, c8 text, "
                                 "c9 text);"
                               : "create table t (c0 integer primary key, c1 integer, c2 real, c3 text, c4 text, c5 "
                                 "numeric, c6 timestamp, c7 integer, c8 text, c9 text);";
    sql += " insert into t values ";
    for (int r = 1; r <= rows; ++r) {
        sql += r > 1 ? ",(" : "(";
        for (int c = 0; c < kColumns; ++c)
            sql += (c ? "," : "") + literal(0, r, c);
        sql += ")";
    }
    return sql + ";";
}

// Feeds `input` to a started client and returns what it printed.
std::string capture(QProcess& process, const std::string& input = {})
{
    process.waitForStarted(-1);
    if (!input.empty())
        process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed().toStdString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const std::string only = argc > 2 ? argv[2] : "";
    QTemporaryDir scratch;
    const std::string dir = scratch.path().toStdString();

    // SQLite: a file, and the sqlite3 shell on it.
    const QString file = scratch.filePath(QStringLiteral("paste.db"));
    Engine lite{"SQLite", QStringLiteral("sqlite:") + file, {}, {}, {}, {}, createSql(false, rows)};
    lite.query = [file](const std::string& sql) {
        QProcess p;
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), file});
        return capture(p, sql);
    };
    lite.runScript = [file](const std::string& path) {
        QProcess p;
        p.setStandardInputFile(QString::fromStdString(path));
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), file});
        capture(p);
        return p.exitCode() == 0;
    };
    if (only.empty() || only == "sqlite")
        run(lite, rows, dir);
    if (only == "sqlite")
        return 0;

    // PostgreSQL: the test server's login, and psql.
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DERVANTA_TEST_PG_PORT"))) {
        std::printf("PostgreSQL skipped: run under scripts/with-test-postgres\n");
        return 0;
    }
    const QString port = env.value(QStringLiteral("DERVANTA_TEST_PG_PORT"));
    const QString user = env.value(QStringLiteral("DERVANTA_TEST_PG_USER"));
    const QString password = env.value(QStringLiteral("DERVANTA_TEST_PG_PASSWORD"));
    const auto psql = [port, user, password](QStringList args) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment pe = QProcessEnvironment::systemEnvironment();
        pe.insert(QStringLiteral("PGPASSWORD"), password);
        p->setProcessEnvironment(pe);
        args = QStringList{QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                           QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), port,
                           QStringLiteral("-U"), user, QStringLiteral("-d"), QStringLiteral("dervanta")}
               + args;
        p->start(QStringLiteral("psql"), args);
        return p;
    };
    Engine pg{"PostgreSQL", QStringLiteral("postgresql://127.0.0.1:%1/dervanta").arg(port), user, password, {}, {},
              createSql(true, rows)};
    pg.query = [psql](const std::string& sql) {
        auto p = psql({QStringLiteral("-A"), QStringLiteral("-t")});
        return capture(*p, sql);
    };
    pg.runScript = [psql](const std::string& path) {
        auto p = psql({QStringLiteral("-f"), QString::fromStdString(path)});
        capture(*p);
        return p->exitCode() == 0;
    };
    run(pg, rows, dir);
    pg.query("drop table t");
    return 0;
}
