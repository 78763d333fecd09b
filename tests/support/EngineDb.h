#pragma once

// A table's database for a test run on each engine: a scratch SQLite file,
// or a role of its own on the PostgreSQL test server; and the data rows
// that run a test once on each.

#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

struct EngineDb {
    EngineDb(bool postgres, const std::string& sql)
    {
        if (postgres) {
            pg = std::make_unique<TestSupport::ScratchPgRole>();
            pg->exec(sql);
        } else {
            lite = std::make_unique<TestSupport::ScratchSqlite>(sql);
        }
    }
    // Starts the program with this database's login and opens the table.
    DataGrid& open(const QString& table) const
    {
        if (lite)
            return *PageSupport::startAndOpen(lite->dataSource(), table).DataGrid1;
        return *PageSupport::startAndOpen(TestSupport::pgDataSource(), table, QString::fromStdString(pg->name()),
                                          QString::fromStdString(pg->password()))
                    .DataGrid1;
    }
    void exec(const std::string& sql) const { lite ? lite->exec(sql) : pg->exec(sql); }
    TestSupport::Rows query(const std::string& sql) const
    {
        return lite ? lite->query(sql) : TestSupport::pgQuery(sql, TestSupport::PgRole::Superuser);
    }
    QString value(const std::string& sql) const
    {
        return QString::fromStdString(query(sql).at(0).at(0).value_or("<NULL>"));
    }

    std::unique_ptr<TestSupport::ScratchSqlite> lite;
    std::unique_ptr<TestSupport::ScratchPgRole> pg;
};

inline void addEngines()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

#define FETCH_ENGINE()                                                                             \
    QFETCH(bool, postgres);                                                                        \
    if (postgres && !TestSupport::pgLogin())                                                       \
        QSKIP("DERVANTA_TEST_PG_* not set: no PostgreSQL test server")
