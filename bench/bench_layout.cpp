// Opening a table whose column layout is remembered (ten columns: moved,
// one hidden, widths set, two kept in place at the left, sorted by a text
// column, filtered by a number)
// against opening it with none, through the real window (offscreen), from
// the press of Next > on the chooser: the first rows painted, every row read,
// and the view ready (sorted and filtered where the layout asks for it).
// Target: the first two at most 1.1x without; the third is the sort and the
// filter themselves, the same work as asking for them by hand.
//
//   bench_layout [ROWS]        (default 200,000)
//
// SQLite: $TMPDIR/dervanta_bench_layout_ROWS.db, made with sqlite3 when
// missing. DERVANTA_BENCH_ENGINE=postgresql (under scripts/with-test-postgres)
// reads bench_layout_ROWS, made with psql when missing. Each way three
// times, alternating; the best of each counts.

#include "bench/BenchPages.h"
#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/GridLayout.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/LayoutStore.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"
#include "shell/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Times {
    qint64 painted = -1, read = -1, ready = -1;
};

class PaintWatch : public QObject {
public:
    QElapsedTimer clock;
    qint64 painted = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && painted < 0 && Form3Loaded()) {
            const QAbstractItemModel* model = GetForm3().DataGrid1->model();
            if (model && model->rowCount() > 1 && watched == GetForm3().DataGrid1->viewport())
                painted = clock.elapsed();
        }
        return QObject::eventFilter(watched, event);
    }
};

bool run(const QString& program, const QStringList& args, const std::string& input)
{
    QProcess p;
    p.start(program, args);
    p.waitForStarted();
    p.write(input.c_str());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Times openOnce(const QString& table, bool sorted)
{
    Form2& chooser = GetForm2();
    for (int i = 0; i < chooser.List1->ListCount(); ++i)
        if (chooser.List1->List(i) == table)
            chooser.List1->SetListIndex(i);
    PaintWatch watch;
    GetForm3().DataGrid1->viewport()->installEventFilter(&watch);
    QApplication::processEvents();
    Times times;
    watch.clock.start();
    chooser.Check3->SetValue(1); // Next >
    DataGrid& grid = *GetForm3().DataGrid1;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        const TableModel* model = grid.Model();
        if (!model)
            return;
        if (times.read < 0 && !model->reading())
            times.read = watch.clock.elapsed();
        const bool viewDone = !model->viewBusy() && (!sorted || model->sortOrder().column >= 0);
        if (times.read >= 0 && watch.painted >= 0 && viewDone) {
            times.ready = watch.clock.elapsed();
            loop.quit();
        }
        if (watch.clock.elapsed() > 600000)
            loop.quit();
    });
    check.start(1);
    loop.exec();
    times.painted = watch.painted;
    GetForm3().DataGrid1->viewport()->removeEventFilter(&watch);
    GetForm3().Check1->SetValue(1); // < Back
    // Unbound here, so that what it keeps is written before the next round's file.
    GetForm3().DataGrid1->SetDataSource(nullptr);
    QApplication::processEvents();
    return times;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir config;
    BenchPrepareEnvironment(config);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SetHomePageHooks([] { return 0.5; }, [](const QUrl&) {});
    const long long rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200000;
    const bool pg = qEnvironmentVariable("DERVANTA_BENCH_ENGINE") == QLatin1String("postgresql");

    QString sid, user, password, table;
    if (pg) {
        const BenchPgLogin login = BenchPgLoginFromEnvironment();
        const QString port = login.port;
        user = login.user;
        password = login.password;
        sid = login.sid;
        table = QStringLiteral("bench_layout_%1").arg(rows);
        const std::string t = table.toStdString();
        const std::string sql = "create table if not exists " + t
                                + " (id bigint primary key, i1 int, i2 bigint, r1 float8, r2 float8, s1 text, s2 text,"
                                  " s3 text, s4 text, ts timestamp);"
                                  "insert into " + t
                                + " select i, (random() * 1e6)::int, (random() * 9e18)::bigint, random(), random() * 1000,"
                                  " 'name_' || i, substr(md5(i::text), 1, 8), substr(md5((i * 7)::text), 1, 12),"
                                  " 'city ' || (i % 97), timestamp '2023-11-14 22:13:20' + i * interval '7 seconds'"
                                  " from generate_series(1, " + std::to_string(rows) + ") i on conflict do nothing;";
        if (!run(QStringLiteral("psql"),
                 {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                  QStringLiteral("-p"), port, QStringLiteral("-U"), user, QStringLiteral("-d"), QStringLiteral("dervanta")},
                 sql)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(table));
            return 2;
        }
    } else {
        const QString path = QDir::temp().filePath(QStringLiteral("dervanta_bench_layout_%1.db").arg(rows));
        if (!QFileInfo::exists(path)) {
            const std::string sql =
                "create table t (id integer primary key, i1 integer, i2 integer, r1 real, r2 real, s1 text, s2 text,"
                " s3 text, s4 text, ts timestamp);"
                "with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                + std::to_string(rows)
                + ") insert into t select i, abs(random()) % 1000000, random(), abs(random()) / 9223372036854775807.0,"
                  " (abs(random()) % 100000000) / 1000.0, 'name_' || i, lower(hex(randomblob(4))),"
                  " lower(hex(randomblob(6))), 'city ' || (i % 97), datetime(1700000000 + i * 7, 'unixepoch') from n;\n";
            if (!run(QStringLiteral("sqlite3"), {path}, sql)) {
                std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
                return 2;
            }
        }
        sid = QStringLiteral("sqlite:") + path;
        table = QStringLiteral("t");
    }
    BenchStoreLogin(sid, user, password);

    // Ten columns, the last three moved to the front, s4 hidden, widths set,
    // two kept in place, sorted by a text, about half the rows filtered out.
    TableLayout layout;
    int width = 60;
    for (const char* name : {"s2", "s3", "ts", "id", "i1", "i2", "r1", "r2", "s1", "s4"})
        layout.columns.append({QString::fromLatin1(name), width += 7, qstrcmp(name, "s4") == 0});
    layout.frozen = 2;
    layout.sortColumn = QStringLiteral("s1");
    layout.sortDescending = true;
    layout.filters.append({QStringLiteral("i1"), QStringLiteral("<500000")});
    layout.filterRowShown = true;
    LayoutStore store(GridLayout::filePath());
    const QString database = LayoutStore::DatabaseKey(sid);

    StartProgram();
    GetForm3(); // loaded before the clock starts: its first show is not the table's
    Times plain{INT64_MAX, INT64_MAX, INT64_MAX}, remembered{INT64_MAX, INT64_MAX, INT64_MAX};
    const auto best = [](Times& into, const Times& t) {
        into.painted = std::min(into.painted, t.painted);
        into.read = std::min(into.read, t.read);
        into.ready = std::min(into.ready, t.ready);
    };
    for (int round = 0; round < 3; ++round) {
        store.Forget(database, table);
        best(plain, openOnce(table, false));
        store.Forget(database, table); // what the open itself may have kept
        store.Save(database, table, layout);
        best(remembered, openOnce(table, true));
    }
    const auto line = [](const char* what, qint64 without, qint64 with, bool target) {
        std::printf("  %-22s %8.3f s  %8.3f s  ratio %.2f%s\n", what, without / 1e3, with / 1e3,
                    double(with) / double(std::max<qint64>(without, 1)),
                    target ? (with <= without * 1.1 ? "  (limit 1.1) ok" : "  (limit 1.1) OVER") : "");
    };
    std::printf("%s, %lld rows, 10 columns: without a layout / with one (best of 3)\n", pg ? "PostgreSQL" : "SQLite",
                rows);
    line("first rows painted", plain.painted, remembered.painted, true);
    line("all rows read", plain.read, remembered.read, true);
    line("view ready", plain.ready, remembered.ready, false);
    std::fflush(stdout);
    EndProgram(0);
    return 0;
}
