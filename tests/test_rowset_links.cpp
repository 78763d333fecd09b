// When the link to the server breaks or stops answering: a write finds the
// link gone and logs in again once; a commit cut off is checked by reading
// the row again; a call that does not return can be stopped without losing
// the typed values; a login to an address that never answers gives up.

#include "support/RowsetSupport.h"

#include "oracle/Blocking.h"
#include "oracle/ConnectionString.h"
#include "oracle/DbError.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>


using namespace RowsetSupport;

namespace {

void addServerEngineRows()
{
    QTest::addColumn<Engine>("engine");
    QTest::newRow("postgresql") << Engine::Postgres;
    QTest::newRow("odbc") << Engine::Odbc;
}

std::string backendOf(OpenTable& open)
{
    return open.connection->Run([](Session& s, const StopToken&) {
        Snapshot pid;
        s.query("select pg_backend_pid()", {}, pid);
        return std::string(pid.value(0, 0));
    });
}

} // namespace

class RowsetLinks : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        SetLongWaitHandler({});
        SetWaitPatience(std::chrono::milliseconds(3000));
        SetLoginTimeoutSeconds(30);
    }

    // The server ends the session (as a restart does): the next write logs
    // in again with the same login and goes through.
    void aWriteLogsInAgainAfterTheLinkBroke_data() { addServerEngineRows(); }
    void aWriteLogsInAgainAfterTheLinkBroke()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("relink");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k integer primary key, v text)");
        db->exec("insert into " + t + " values (1, 'a'), (2, 'b')");
        OpenTable open(*db, name);
        TestSupport::pgExec("select pg_terminate_backend(" + backendOf(open) + ")", TestSupport::PgRole::Superuser);

        QString error;
        QVERIFY(open.edit(0, 1, "after restart"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + t + " where k = 1"), "after restart");
        // And the new link serves the next write as well.
        QVERIFY(open.edit(1, 1, "b2"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + t + " where k = 2"), "b2");
    }

    // The link breaks during the COMMIT itself (the server ends the session
    // while committing): the row read again says the change is not there;
    // the typed value stays, and leaving the row again writes it.
    void aCommitCutOffIsCheckedNotGuessed_data() { addServerEngineRows(); }
    void aCommitCutOffIsCheckedNotGuessed()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("cutoff");
        const std::string t = quoted(name);
        const std::string once = quoted(name + "_once");
        const std::string fn = quoted(name + "_fn");
        db->exec("create table " + t + " (k integer primary key, v text)");
        db->exec("insert into " + t + " values (1, 'a')");
        db->exec("create sequence " + once);
        db->exec("create function " + fn + "() returns trigger language plpgsql as $$ begin if nextval('" + once
                 + "') = 1 then perform pg_terminate_backend(pg_backend_pid()); perform pg_sleep(5); end if; return null; end $$");
        db->exec("create constraint trigger cut after update on " + t + " deferrable initially deferred"
                 " for each row execute function " + fn + "()");
        OpenTable open(*db, name);

        QString error;
        QVERIFY(open.edit(0, 1, "mine"));
        QVERIFY(!open.submit(0, &error));
        QCOMPARE(error, QString::fromLatin1(RowRefusal::kCommitLost));
        QCOMPARE(db->value("select v from " + t), "a");
        QVERIFY(open.model->isRowPending(0));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + t), "mine");
    }

    // Another session holds the row: the write waits, the user stops
    // waiting, and the write counts as refused with the typed value kept;
    // when the lock goes the abandoned write commits nothing, and the next
    // write goes through on a new link.
    void stoppingAWaitKeepsTheTypedValues()
    {
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(Engine::Postgres, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string name = db->tableName("locked");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k integer primary key, v text)");
        db->exec("insert into " + t + " values (1, 'a')");
        OpenTable open(*db, name);
        const std::unique_ptr<Session> holder = OpenSession(db->login);
        holder->begin();
        holder->execute("select * from " + t + " for update");

        SetWaitPatience(std::chrono::milliseconds(300));
        int asked = 0;
        SetLongWaitHandler([&asked](WaitControl& control) {
            ++asked;
            QVERIFY(!control.finished());
            control.stopWaiting();
        });
        QString error;
        QVERIFY(open.edit(0, 1, "mine"));
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!open.submit(0, &error));
        QVERIFY(waited.elapsed() < 5000);
        QCOMPARE(asked, 1);
        QVERIFY2(error.contains(QStringLiteral("stopped waiting")), qPrintable(error));
        QVERIFY(open.model->isRowPending(0));
        QCOMPARE(open.text(0, 1), QStringLiteral("mine"));

        holder->rollback();
        // The abandoned write is over, cancelled or not, once no session is
        // left in a statement or a transaction on the table.
        QTRY_COMPARE(db->value("select count(*) from pg_stat_activity where pid <> pg_backend_pid() and state <> 'idle'"
                               " and query like '%" + name + "%'"),
                     std::string("0"));
        QCOMPARE(db->value("select v from " + t), "a");
        SetLongWaitHandler({});
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + t), "mine");
    }

    // The user stops waiting while the commit is slow, and the commit then
    // lands: leaving the row again finds the row already holding what was
    // typed. That is a write done (and said so), not another user's change;
    // a new row is not inserted twice.
    void aCommitThatLandedAfterStopIsDoneNotAConflict_data()
    {
        QTest::addColumn<bool>("newRow");
        QTest::newRow("update") << false;
        QTest::newRow("insert") << true;
    }
    void aCommitThatLandedAfterStopIsDoneNotAConflict()
    {
        QFETCH(bool, newRow);
        QString skip;
        const std::unique_ptr<TestDb> db = TestDb::make(Engine::Postgres, &skip);
        if (!db)
            QSKIP(qPrintable(skip));
        const std::string name = db->tableName("slowcommit");
        const std::string t = quoted(name);
        const std::string once = quoted(name + "_once");
        const std::string fn = quoted(name + "_fn");
        db->exec("create table " + t + " (k serial primary key, v text)");
        db->exec("insert into " + t + " (v) values ('a')");
        db->exec("create sequence " + once);
        // Slow once (three seconds), and deaf to cancels — the one stopping
        // sends, and any other, however many — so the commit lands.
        db->exec("create function " + fn + "() returns trigger language plpgsql as $$ declare until timestamptz ="
                 " clock_timestamp() + interval '3 seconds'; begin if nextval('" + once + "') = 1 then"
                 " while clock_timestamp() < until loop begin perform pg_sleep(0.05); exception when query_canceled"
                 " then null; end; end loop; end if; return null; end $$");
        db->exec("create constraint trigger slow after insert or update on " + t + " deferrable initially deferred"
                 " for each row execute function " + fn + "()");
        OpenTable open(*db, name);
        QSignalSpy notes(open.model.get(), &TableModel::writeNoted);

        // The user stops waiting once the commit is in the trigger's sleep:
        // a cancel that came earlier would end the commit itself.
        SetWaitPatience(std::chrono::milliseconds(300));
        SetLongWaitHandler([&db](WaitControl& control) {
            QElapsedTimer polled;
            polled.start();
            while (db->value("select count(*) from pg_stat_activity where pid <> pg_backend_pid()"
                             " and wait_event = 'PgSleep' and upper(query) like 'COMMIT%'")
                       == "0"
                   && polled.elapsed() < 20000)
                QThread::msleep(20);
            control.stopWaiting();
        });
        const int row = newRow ? 1 : 0;
        QVERIFY(open.edit(row, 1, "mine"));
        QString error;
        QVERIFY(!open.submit(row, &error));
        QVERIFY2(error.contains(QStringLiteral("stopped waiting while the database was committing")), qPrintable(error));
        QVERIFY(open.model->isRowPending(row));
        SetLongWaitHandler({});
        // The abandoned commit goes through on its own.
        QTRY_COMPARE_WITH_TIMEOUT(db->count(t + " where v = 'mine'"), 1LL, 10000);

        QVERIFY2(open.submit(row, &error), qPrintable(error));
        QVERIFY(!open.model->isRowPending(row));
        QCOMPARE(db->count(t + " where v = 'mine'"), 1LL);
        QCOMPARE(db->count(t), newRow ? 2LL : 1LL);
        QCOMPARE(open.text(row, 1), QStringLiteral("mine"));
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes.at(0).at(0).toString(), QString::fromLatin1(WriteResult::kAlreadyStored));
    }

    // A login to an address that takes the connection and never answers
    // gives up after the login timeout, saying so, and the calling thread
    // keeps turning meanwhile.
    void aLoginThatGetsNoAnswerTimesOut_data() { addServerEngineRows(); }
    void aLoginThatGetsNoAnswerTimesOut()
    {
        QFETCH(Engine, engine);
        TestSupport::SilentServer silent;
        SetLoginTimeoutSeconds(2);
        const QString port = QString::number(silent.port());
        const QString source = engine == Engine::Postgres
                                   ? QStringLiteral("postgresql://127.0.0.1:%1/nobody").arg(port)
                                   : QStringLiteral("odbc:DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=%1;"
                                                    "DATABASE=nobody").arg(port);
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(10);
        QElapsedTimer waited;
        waited.start();
        ConnectionPtr connection = Connection::Create();
        try {
            connection->Open(BuildConnectionString(source, QStringLiteral("u"), QStringLiteral("p")));
            QFAIL("a server that never answered let the login in");
        } catch (const DbError& e) {
            if (e.number() == DbError::kNoDriver)
                QSKIP("no PostgreSQL ODBC driver here");
            QVERIFY2(QString::fromStdString(e.description()).contains(QStringLiteral("timeout"), Qt::CaseInsensitive)
                         || QString::fromStdString(e.description()).contains(QStringLiteral("timed out"),
                                                                             Qt::CaseInsensitive),
                     e.what());
        }
        QVERIFY2(waited.elapsed() >= 1500 && waited.elapsed() < 15000, qPrintable(QString::number(waited.elapsed())));
        // About a hundred ticks a second while the login waited.
        QVERIFY2(ticks > waited.elapsed() / 10 / 3, qPrintable(QString::number(ticks)));
    }
};

QTEST_GUILESS_MAIN(RowsetLinks)
#include "test_rowset_links.moc"
