// Opening a big table in the editor, through the real window (offscreen):
// from the press of Next > on the chooser to the first rows painted in the
// grid, the longest stall of the user-interface thread meanwhile (the worst
// lateness of a 10 ms timer), the time until every row is read, and the
// process's peak memory once it is, against the table's text as the
// engine's own client prints it and that client's time to print it.
//
//   bench_open [ROWS]          (default 1,000,000; 10,000,000 takes a while)
//
// SQLite reads $TMPDIR/dervanta_bench_fetch_ROWS.db (bench_fetch makes it);
// PostgreSQL (under scripts/with-test-postgres) reads bench_fetch_ROWS.
// One engine a run, so that the peak memory is the one table's:
// DERVANTA_BENCH_ENGINE=sqlite (default) or postgresql.
// The source compiles against builds before the table was read on a worker
// too, for figures side by side.

#include "bench/BenchPages.h"
#include "oracle/TableModel.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"
#include "shell/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace {

template <typename Model>
bool stillReading(Model* model)
{
    if constexpr (requires(Model& m) { m.reading(); })
        return model && model->reading();
    else if constexpr (requires(Model& m) { m.Reading(); })
        return model && model->Reading();
    else
        return false;
}

// Watches paints of the grid and the lateness of a 10 ms timer.
class Watch : public QObject {
public:
    QElapsedTimer clock;
    qint64 firstRowsPainted = -1;
    qint64 worstLateness = 0;
    qint64 lastTick = 0;
    QTimer tick;

    Watch()
    {
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, this, [this] {
            const qint64 now = clock.elapsed();
            worstLateness = std::max(worstLateness, now - lastTick - 10);
            lastTick = now;
        });
    }
    void start()
    {
        clock.start();
        lastTick = 0;
        tick.start();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && firstRowsPainted < 0 && Form3Loaded()) {
            const QAbstractItemModel* model = GetForm3().DataGrid1->model();
            if (model && model->rowCount() > 1 && watched == GetForm3().DataGrid1->viewport())
                firstRowsPainted = clock.elapsed();
        }
        return QObject::eventFilter(watched, event);
    }
};

double clientSeconds(const QString& program, const QStringList& args, qint64* bytes)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    QProcess p;
    p.setStandardOutputFile(out);
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    p.waitForFinished(-1);
    const double s = timer.nsecsElapsed() / 1e9;
    *bytes = QFileInfo(out).size();
    return s;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir config;
    BenchPrepareEnvironment(config);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SetHomePageHooks([] { return 0.5; }, [](const QUrl&) {});
    const long long rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const bool pg = qEnvironmentVariable("DERVANTA_BENCH_ENGINE") == QLatin1String("postgresql");

    QString sid, user, password, table;
    QString client;
    QStringList clientArgs;
    if (pg) {
        const BenchPgLogin login = BenchPgLoginFromEnvironment();
        const QString port = login.port;
        user = login.user;
        password = login.password;
        sid = login.sid;
        table = QStringLiteral("bench_fetch_%1").arg(rows);
        client = QStringLiteral("psql");
        clientArgs = {QStringLiteral("-X"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), port,
                      QStringLiteral("-U"), user, QStringLiteral("-d"), QStringLiteral("dervanta"), QStringLiteral("-c"),
                      QStringLiteral("copy %1 to stdout").arg(table)};
    } else {
        const QString path = QDir::temp().filePath(QStringLiteral("dervanta_bench_fetch_%1.db").arg(rows));
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "%s is missing: run bench_fetch %lld first\n", qPrintable(path), rows);
            return 2;
        }
        sid = QStringLiteral("sqlite:") + path;
        table = QStringLiteral("t");
        client = QStringLiteral("sqlite3");
        clientArgs = {path, QStringLiteral("select * from t")};
    }
    BenchStoreLogin(sid, user, password);

    qint64 textBytes = 0;
    const double clientTime = clientSeconds(client, clientArgs, &textBytes);
    const long long memoryBefore = BenchPeakMemory();

    StartProgram();
    Form2& chooser = GetForm2();
    for (int i = 0; i < chooser.List1->ListCount(); ++i)
        if (chooser.List1->List(i) == table)
            chooser.List1->SetListIndex(i);
    Watch watch;
    GetForm3(); // loaded before the clock starts: its first show is not the table's
    GetForm3().DataGrid1->viewport()->installEventFilter(&watch);
    QApplication::processEvents();

    watch.start();
    chooser.Check3->SetValue(1); // Next >
    qint64 clickReturned = watch.clock.elapsed();
    TableModel* model = GetForm3().DataGrid1->Model();
    DataGrid& grid = *GetForm3().DataGrid1;
    // Once the first rows show: how soon a cell takes typing, and how long
    // leaving the row takes to write it while the read goes on.
    constexpr int kTextColumn = 6;
    QString typedOver;
    qint64 editorOpened = -1, writeTook = -1, stallBeforeEdit = 0;
    const auto tryEdit = [&] {
        const QModelIndex cell = model->index(0, kTextColumn);
        grid.setFocus();
        grid.setCurrentIndex(cell);
        QKeyEvent f2(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
        QApplication::sendEvent(&grid, &f2);
        auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(cell));
        if (!editor)
            return false;
        editorOpened = watch.clock.elapsed() - watch.firstRowsPainted;
        typedOver = model->data(cell).toString();
        editor->setText(typedOver + QStringLiteral(" (edited)"));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(editor, &enter);
        QApplication::processEvents();
        stallBeforeEdit = std::exchange(watch.worstLateness, 0);
        QElapsedTimer write;
        write.start();
        grid.setCurrentIndex(model->index(1, kTextColumn)); // leaves the row: written now
        writeTook = model->pendingRow() < 0 ? write.elapsed() : -1;
        return true;
    };
    {
        // Waits as the program does, asleep between events.
        QEventLoop loop;
        QTimer check;
        bool editTried = false;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (!editTried && watch.firstRowsPainted >= 0 && stillReading(model)) {
                editTried = true;
                if (!tryEdit())
                    std::printf("  a cell does not take typing while rows are read\n");
            }
            if ((!stillReading(model) && watch.firstRowsPainted >= 0) || watch.clock.elapsed() > 600000)
                loop.quit();
        });
        check.start(1);
        loop.exec();
    }
    const qint64 allRead = watch.clock.elapsed();
    watch.tick.stop();
    const long long peak = BenchPeakMemory();
    if (editorOpened >= 0) {
        std::printf("  during the read: a cell took typing %lld ms after the first rows showed; leaving the row "
                    "wrote it in %lld ms; longest stall before the edit %lld ms, from it to the read's end %lld ms\n",
                    static_cast<long long>(editorOpened), static_cast<long long>(writeTook),
                    static_cast<long long>(stallBeforeEdit), static_cast<long long>(watch.worstLateness));
        // The value as it was, so the next run reads the same table.
        grid.setCurrentIndex(model->index(0, kTextColumn));
        model->setData(model->index(0, kTextColumn), typedOver, Qt::EditRole);
        grid.setCurrentIndex(model->index(1, kTextColumn));
    }

    std::printf("%s, %lld rows: first rows painted %.3f s after Next > (the press returned after %.3f s)\n",
                pg ? "PostgreSQL" : "SQLite", rows, watch.firstRowsPainted / 1e3, clickReturned / 1e3);
    std::printf("  longest stall of the user-interface thread while reading: %lld ms\n",
                static_cast<long long>(watch.worstLateness));
    std::printf("  all %d rows read after %.3f s; %s prints them in %.3f s: ratio %.2f\n",
                model ? model->rowCount() - 1 : 0, allRead / 1e3, qPrintable(client), clientTime,
                allRead / 1e3 / clientTime);
    std::printf("  peak memory %.1f MB (%.1f MB before opening) against %.1f MB of text: ratio %.2f\n", peak / 1e6,
                memoryBefore / 1e6, textBytes / 1e6, double(peak) / double(textBytes));
    std::fflush(stdout);
    EndProgram(0);
    return 0;
}
