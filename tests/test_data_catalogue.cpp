// FillTableList over real engines: exactly the user's own tables, names as
// stored, one yield before each name, the list replaced only once the query
// has answered, and failures passed on with the list left as it was.

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/Oracle.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace TestSupport;

namespace {

// Counts the posted events it has received: a posted event is handled only
// when something yields to the event loop.
class YieldProbe : public QObject {
public:
    int handled = 0;
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }

protected:
    void customEvent(QEvent*) override { ++handled; }
};

// Records what the routine does to the list; with a probe, posts one event
// when the list is cleared and one after each name, which only the next
// pass's yield can deliver. (Waiting for the server before the clear lets
// other events through; the probe counts only from the clear on.)
class RecordingList : public TableListTarget {
public:
    explicit RecordingList(YieldProbe* probe = nullptr) : probe_(probe) {}

    QStringList names;
    int clears = 0;
    QList<int> handledBeforeEachName;

    void Clear() override
    {
        ++clears;
        names.clear();
        if (probe_)
            probe_->post();
    }
    void AddItem(const QString& name) override
    {
        names << name;
        if (probe_) {
            handledBeforeEachName << probe_->handled;
            probe_->post();
        }
    }

private:
    YieldProbe* probe_;
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Awkward names: blanks, mixed case, a double quote, unicode.
const QStringList kAwkward{QStringLiteral("Mixed Case"), QStringLiteral("with \"quote\""),
                           QStringLiteral("Grüße 日本"), QStringLiteral(" lead and trail "),
                           QStringLiteral("lower"), QStringLiteral("UPPER")};

std::string createTables(const QStringList& names)
{
    std::string sql;
    for (const QString& n : names)
        sql += "create table " + Dialect::quoteIdentifier(n.toStdString()) + " (x int);";
    return sql;
}

} // namespace

class TestDataCatalogue : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCoreApplication::sendPostedEvents();
        setLoginFields({}, {}, {});
    }

    void sqliteNoTables();
    void sqliteNamesExactlyAsStored();
    void oneYieldAtTheStartOfEachPass();
    void sqliteRefillReplaces();
    void failureKeepsTheListAndPassesTheError();
    void pgOnlyTheUsersOwnBaseTables();
    void pgNoTables();
    void pgRefillReplacesAndReleases();
    void pgFailureKeepsTheList();
};

void TestDataCatalogue::sqliteNoTables()
{
    ScratchSqlite db("create view v as select 1 as x");
    setLoginFields(db.dataSource(), {}, {});
    YieldProbe probe;
    RecordingList list(&probe);
    list.names << QStringLiteral("old");
    FillTableList(list);
    QCOMPARE(list.clears, 1);
    QVERIFY(list.names.isEmpty());
    // No pass, so no yield: the event posted before is still waiting.
    QCOMPARE(probe.handled, 0);
}

void TestDataCatalogue::sqliteNamesExactlyAsStored()
{
    // An AUTOINCREMENT table makes SQLite keep an internal table of its own.
    ScratchSqlite db(createTables(kAwkward)
                     + "create table counted (id integer primary key autoincrement);"
                       "insert into counted default values;"
                       "create index ix on lower (x);"
                       "create view a_view as select * from lower;");
    setLoginFields(db.dataSource(), {}, {});
    RecordingList list;
    FillTableList(list);
    QCOMPARE(sorted(list.names), sorted(kAwkward + QStringList{QStringLiteral("counted")}));
}

void TestDataCatalogue::oneYieldAtTheStartOfEachPass()
{
    ScratchSqlite db(createTables({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    setLoginFields(db.dataSource(), {}, {});
    YieldProbe probe;
    RecordingList list(&probe);
    FillTableList(list);
    QCOMPARE(list.names.size(), 3);
    // Before each name, exactly the events posted so far were handled; the
    // event posted after the last name is not (no yield after the last pass).
    QCOMPARE(list.handledBeforeEachName, (QList<int>{1, 2, 3}));
    QCOMPARE(probe.handled, 3);
}

void TestDataCatalogue::sqliteRefillReplaces()
{
    ScratchSqlite db(createTables({QStringLiteral("keep"), QStringLiteral("drop me")}));
    setLoginFields(db.dataSource(), {}, {});
    RecordingList list;
    FillTableList(list);
    FillTableList(list);
    QCOMPARE(sorted(list.names), (QStringList{QStringLiteral("drop me"), QStringLiteral("keep")}));
    db.exec("drop table \"drop me\"; create table \"New One\" (y)");
    FillTableList(list);
    QCOMPARE(sorted(list.names), (QStringList{QStringLiteral("New One"), QStringLiteral("keep")}));
    QCOMPARE(list.clears, 3);
}

void TestDataCatalogue::failureKeepsTheListAndPassesTheError()
{
    QTemporaryDir dir;
    RecordingList list;
    list.names << QStringLiteral("earlier") << QStringLiteral("entries");
    const QString missing = dir.filePath(QStringLiteral("gone.db"));
    setLoginFields(QStringLiteral("sqlite:") + missing, {}, {});
    try {
        FillTableList(list);
        QFAIL("no failure");
    } catch (const DbError& e) {
        QCOMPARE(e.number() & 0xff, 14L); // SQLITE_CANTOPEN
        QVERIFY(!e.description().empty());
    }
    QCOMPARE(list.clears, 0);
    QCOMPARE(list.names, (QStringList{QStringLiteral("earlier"), QStringLiteral("entries")}));
    QVERIFY(!QFile::exists(missing));
}

void TestDataCatalogue::pgOnlyTheUsersOwnBaseTables()
{
    DERVANTA_REQUIRE_PG();
    ScratchPgRole role;
    const std::string schema = uniqueName("elsewhere");
    const std::string othersTable = uniqueName("others");
    const PgDropAtEnd cleanup({othersTable}, PgRole::Other, {schema});

    role.exec(createTables(kAwkward)
              + "create table parted (k int) partition by range (k);"
                "create table parted_1 partition of parted for values from (0) to (10);"
                "create view \"A View\" as select 1 as x;"
                "create materialized view mat as select 1 as x;"
                "create sequence seq;"
                "create temporary table temp_one (x int);");
    pgExec("create table " + othersTable + " (x int)", PgRole::Other);
    pgExec("create schema " + schema + " authorization " + role.name(), PgRole::Superuser);
    role.exec("create table " + schema + ".hidden (x int)");

    role.useAsLogin();
    RecordingList list;
    FillTableList(list);
    QCOMPARE(sorted(list.names),
             sorted(kAwkward + QStringList{QStringLiteral("parted"), QStringLiteral("parted_1")}));
    QVERIFY(!list.names.contains(QStringLiteral("pg_class")));
}

void TestDataCatalogue::pgNoTables()
{
    DERVANTA_REQUIRE_PG();
    ScratchPgRole role;
    role.useAsLogin();
    YieldProbe probe;
    RecordingList list(&probe);
    list.names << QStringLiteral("old");
    FillTableList(list);
    QCOMPARE(list.clears, 1);
    QVERIFY(list.names.isEmpty());
    QCOMPARE(probe.handled, 0);
}

void TestDataCatalogue::pgRefillReplacesAndReleases()
{
    DERVANTA_REQUIRE_PG();
    ScratchPgRole role;
    role.exec("create table first (x int); create table \"Second\" (x int)");
    role.useAsLogin();
    RecordingList list;
    FillTableList(list);
    FillTableList(list);
    QCOMPARE(sorted(list.names), (QStringList{QStringLiteral("Second"), QStringLiteral("first")}));
    role.exec("drop table first; create table third (x int)");
    FillTableList(list);
    QCOMPARE(sorted(list.names), (QStringList{QStringLiteral("Second"), QStringLiteral("third")}));
    // Its own connection is gone once it returns.
    QTRY_COMPARE(role.backends(), 0);
}

void TestDataCatalogue::pgFailureKeepsTheList()
{
    DERVANTA_REQUIRE_PG();
    ScratchPgRole role;
    role.exec("create table t (x int)");
    setLoginFields(pgDataSource(), QString::fromStdString(role.name()), QStringLiteral("changed since"));
    RecordingList list;
    list.names << QStringLiteral("earlier");
    try {
        FillTableList(list);
        QFAIL("no failure");
    } catch (const DbError& e) {
        QVERIFY(e.number() != 0);
        QVERIFY2(QString::fromStdString(e.description()).contains(QStringLiteral("password")),
                 e.description().c_str());
    }
    QCOMPARE(list.clears, 0);
    QCOMPARE(list.names, QStringList{QStringLiteral("earlier")});
    QTRY_COMPARE(role.backends(), 0);
}

QTEST_GUILESS_MAIN(TestDataCatalogue)
#include "test_data_catalogue.moc"
