// A table past the memory budget, through the real window (offscreen): its
// rows stay in the database. Measures Next > to the first rows painted, the
// count in the database (against the engine's client reading the same key
// column in order), Ctrl+End and a jump to the middle by the scroll bar once
// counted, a sort by a column without an index and filters (=, >, contains)
// to the first rows shown (against the client running the same query), a
// Replace All and its undo, the longest stall
// of the user-interface thread (a 10 ms timer's worst lateness) and the peak
// memory against the budget.
//
//   bench_window [ROWS]     (default 10,000,000)
//
// The budget is 256 MB up to 10,000,000 rows, the program's default above
// (DERVANTA_MEMORY_BUDGET sets another). bench/make-big-tables makes the
// 100,000,000-row tables.
// SQLite reads $TMPDIR/dervanta_bench_fetch_ROWS.db (bench_fetch makes it);
// DERVANTA_BENCH_ENGINE=postgresql (under scripts/with-test-postgres) reads
// the table bench_fetch_ROWS.

#include "bench/BenchPages.h"
#include "oracle/MemoryBudget.h"
#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/GridFindBar.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"
#include "shell/SettingsStore.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// The worst lateness of a 10 ms timer while it runs.
struct Stalls : QObject {
    QElapsedTimer clock;
    QTimer tick;
    qint64 last = 0;
    qint64 worst = 0;
    Stalls()
    {
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, this, [this] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last - 10);
            last = now;
        });
        clock.start();
        tick.start();
    }
};

// Turns the event loop until `done` holds; the seconds it took.
double until(const std::function<bool()>& done, int timeoutMs = 600000)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || t.elapsed() > timeoutMs)
            loop.quit();
    });
    check.start(1);
    if (!done())
        loop.exec();
    return t.nsecsElapsed() / 1e9;
}

double clientSeconds(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setStandardOutputFile(QStringLiteral("/dev/null"));
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    p.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir config;
    BenchPrepareEnvironment(config);
    const long long rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10000000;
    if (qEnvironmentVariableIsEmpty("DERVANTA_MEMORY_BUDGET") && rows <= 10000000)
        qputenv("DERVANTA_MEMORY_BUDGET", "256M");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SetHomePageHooks([] { return 0.5; }, [](const QUrl&) {});
    const bool pg = qEnvironmentVariable("DERVANTA_BENCH_ENGINE") == QLatin1String("postgresql");

    QString sid, user, password, table;
    std::function<double(const QString&)> client;
    if (pg) {
        const BenchPgLogin login = BenchPgLoginFromEnvironment();
        const QString port = login.port;
        user = login.user;
        password = login.password;
        sid = login.sid;
        table = QStringLiteral("bench_fetch_%1").arg(rows);
        client = [=](const QString& sql) {
            return clientSeconds(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                                          QStringLiteral("-p"), port, QStringLiteral("-U"), user,
                                                          QStringLiteral("-d"), QStringLiteral("dervanta"),
                                                          QStringLiteral("-c"), QStringLiteral("copy (%1) to stdout").arg(sql)});
        };
    } else {
        const QString path = QDir::temp().filePath(QStringLiteral("dervanta_bench_fetch_%1.db").arg(rows));
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "%s is missing: run bench_fetch %lld first\n", qPrintable(path), rows);
            return 2;
        }
        sid = QStringLiteral("sqlite:") + path;
        table = QStringLiteral("t");
        client = [=](const QString& sql) { return clientSeconds(QStringLiteral("sqlite3"), {path, sql}); };
    }
    const QString t = pg ? table : QStringLiteral("t");
    BenchStoreLogin(sid, user, password);

    StartProgram();
    Form2& chooser = GetForm2();
    for (int i = 0; i < chooser.List1->ListCount(); ++i)
        if (chooser.List1->List(i) == table)
            chooser.List1->SetListIndex(i);
    GetForm3();
    QApplication::processEvents();
    Stalls stalls;
    QElapsedTimer clock;
    clock.start();
    chooser.Check3->SetValue(1); // Next >
    DataGrid& grid = *GetForm3().DataGrid1;
    TableModel* model = grid.Model();
    const auto shows = [&](int row) {
        return row < model->rowCount() && !model->data(model->index(row, 0)).toString().isEmpty();
    };
    until([&] { return shows(0); });
    const double firstRows = clock.nsecsElapsed() / 1e9;
    until([&] { return model->rowsInDatabase(); });
    const double inDatabase = clock.nsecsElapsed() / 1e9;
    const double counted = until([&] { return !model->countingRows(); });
    const qint64 openStall = std::exchange(stalls.worst, 0);
    std::printf("%s, %lld rows, budget %.0f MB: first rows %.3f s after Next >; rows went to the database after "
                "%.3f s; counted %.3f s later (%lld rows; the view holds %lld of them at a time)\n",
                pg ? "PostgreSQL" : "SQLite", rows, MemoryBudget() / 1048576.0, firstRows, inDatabase, counted,
                static_cast<long long>(model->totalRows()), static_cast<long long>(model->sliceCap()));
    const double clientKeys = client(QStringLiteral("select id from %1 order by id").arg(t));
    std::printf("  the count's pass against the client's select id ... order by id: %.3f s vs %.3f s, ratio %.2f\n",
                counted, clientKeys, counted / clientKeys);
    std::printf("  longest stall while opening: %lld ms\n", static_cast<long long>(openStall));
    // The client ran in this thread: its time is no stall of ours.
    const auto settle = [&] {
        QElapsedTimer t;
        t.start();
        until([&] { return t.elapsed() > 50; });
        stalls.worst = 0;
    };
    settle();

    grid.setFocus();
    QElapsedTimer step;
    step.start();
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QApplication::sendEvent(&grid, &end);
    const int last = model->rowCount() - (model->isNewRowPlaceholder(model->rowCount() - 1) ? 2 : 1);
    until([&] { return shows(last); });
    std::printf("  Ctrl+End to the last rows shown (row %lld): %.3f s\n",
                static_cast<long long>(model->rowNumber(last)), step.nsecsElapsed() / 1e9);
    step.restart();
    // The bar over every row, where the view holds a slice of them.
    QScrollBar* bar = grid.findChild<QScrollBar*>(QStringLiteral("rowsBar"));
    if (!bar || !bar->isVisible())
        bar = grid.verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const int middle = grid.rowAt(0);
    until([&] { return shows(middle); });
    std::printf("  scroll bar to 50%% (row %lld): rows shown after %.3f s\n",
                static_cast<long long>(model->rowNumber(middle)), step.nsecsElapsed() / 1e9);
    const qint64 scrollStall = std::exchange(stalls.worst, 0);

    // i1 has no index.
    step.restart();
    grid.sortBy(1, false);
    const double sortCall = step.nsecsElapsed() / 1e9;
    const qint64 scrollAndCallStall = stalls.worst;
    until([&] { return shows(0); });
    const double sortFirst = step.nsecsElapsed() / 1e9;
    until([&] { return !model->countingRows(); });
    const double sorted = step.nsecsElapsed() / 1e9;
    const double clientSort = client(QStringLiteral("select i1, id from %1 order by i1, id").arg(t));
    std::printf("  sort by i1 (no index): first rows %.3f s, counted %.3f s; the client's select i1, id ... order by "
                "i1, id %.3f s: ratio %.2f\n",
                sortFirst, sorted, clientSort, sorted / clientSort);
    std::printf("  longest stall scrolling %lld ms, asking for the sort %lld ms (the call took %.3f s), while sorting "
                "%lld ms\n",
                static_cast<long long>(scrollStall), static_cast<long long>(scrollAndCallStall),
                sortCall, static_cast<long long>(stalls.worst));
    grid.sortBy(-1, false);
    until([&] { return !model->countingRows(); });
    settle();

    // s2 holds 8 random hexadecimal digits: "abcd" is in about one row in 13,000.
    const struct {
        int column;
        const char* typed;
        const char* where;
    } filters[] = {{1, "=12345", "i1 = 12345"},
                   {1, ">999000", "i1 > 999000"},
                   {6, "abcd", "lower(s2) like '%abcd%'"}};
    for (const auto& f : filters) {
        step.restart();
        model->applyView({-1, false}, {{f.column, ColumnFilter(model->columns()[f.column], f.typed)}});
        until([&] { return model->shownRows() == 0 ? !model->countingRows() : shows(0); });
        const double first = step.nsecsElapsed() / 1e9;
        const double clientFilter = client(QStringLiteral("select * from %1 where %2 limit 50").arg(t, f.where));
        std::printf("  filter %s %s: first rows %.3f s; the client's select ... where %s limit 50 %.3f s: ratio %.2f\n",
                    model->columns()[f.column].name.c_str(), f.typed, first, f.where, clientFilter,
                    first / clientFilter);
        until([&] { return !model->countingRows(); });
        settle();
    }

    // Replace All of "abcde" in s3 (every match turned to capitals), then
    // its undo, which puts the values back as they were. s3 holds 12 random
    // hexadecimal digits: "abcde" is in about one row in 130,000; no other
    // step reads s3 (PostgreSQL keeps rows written at the table's end).
    model->applyView({-1, false}, {});
    until([&] { return !model->countingRows(); });
    settle();
    GridFindBar& find = *grid.findBar();
    grid.openFind(true);
    find.textBox()->setText(QStringLiteral("abcde"));
    find.replaceBox()->setText(QStringLiteral("ABCDE"));
    for (QCheckBox* box : find.findChildren<QCheckBox*>())
        if (box->text().contains(QStringLiteral("Column")))
            box->setChecked(true);
    grid.setCurrentIndex(model->index(0, 7));
    TableModel::FindOptions options;
    options.text = QStringLiteral("abcde");
    step.restart();
    const std::size_t matches = model->matchesInDatabase(options, {7}, MemoryBudget() / 4).value().size();
    const double found = step.nsecsElapsed() / 1e9;
    stalls.worst = 0;
    step.restart();
    find.replaceAllButton()->click();
    const double replaced = step.nsecsElapsed() / 1e9;
    const QString result = find.resultLabel()->text();
    const qint64 replaceStall = std::exchange(stalls.worst, 0);
    step.restart();
    for (QAction* a : grid.actions())
        if (a->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Z))
            a->trigger();
    const double undone = step.nsecsElapsed() / 1e9;
    const double clientFind = client(QStringLiteral("select * from %1 where lower(s3) like '%abcde%'").arg(t));
    std::printf("  Replace All abcde in s3: %zu rows found in %.3f s (the client's select ... where lower(s3) like "
                "'%%abcde%%' %.3f s); %s in %.3f s, found and written; undone in %.3f s; longest stall %lld ms\n",
                matches, found, clientFind, qPrintable(result), replaced, undone, static_cast<long long>(replaceStall));
    std::printf("  peak memory %.1f MB against a budget of %.1f MB\n", BenchPeakMemory() / 1e6, MemoryBudget() / 1e6);
    std::fflush(stdout);
    EndProgram(0);
    return 0;
}
