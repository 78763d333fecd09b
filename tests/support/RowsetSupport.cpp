#include "support/RowsetSupport.h"

#include "oracle/ConnectionString.h"
#include "oracle/DbError.h"

#include <QSignalSpy>

namespace RowsetSupport {

std::unique_ptr<TestDb> TestDb::make(Engine engine, QString* skip)
{
    auto db = std::make_unique<TestDb>();
    db->engine = engine;
    if (engine == Engine::Sqlite) {
        db->sqlite_ = std::make_unique<TestSupport::ScratchSqlite>();
        db->login.dataSource = db->sqlite_->dataSource().toStdString();
        return db;
    }
    const std::optional<TestSupport::PgLogin> pg = TestSupport::pgLogin();
    if (!pg) {
        *skip = QStringLiteral("DERVANTA_TEST_PG_* not set: no PostgreSQL test server");
        return nullptr;
    }
    db->login = {engine == Engine::Postgres ? TestSupport::pgDataSource().toStdString()
                                            : "odbc:DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT="
                                                  + std::to_string(pg->port) + ";DATABASE=dervanta",
                 pg->user.toStdString(), pg->password.toStdString()};
    try {
        OpenSession(db->login);
    } catch (const DbError& e) {
        if (e.number() != DbError::kNoDriver)
            throw;
        *skip = QString::fromStdString(e.description()); // a driver this machine lacks
        return nullptr;
    }
    return db;
}

TestDb::~TestDb() { TestSupport::pgDropTables(created_); }

std::string TestDb::tableName(const std::string& base)
{
    if (engine == Engine::Sqlite)
        return base;
    created_.push_back(base + "_" + TestSupport::uniqueName("r"));
    return created_.back();
}

std::string TestDb::type(Type t) const
{
    const bool lite = engine == Engine::Sqlite;
    switch (t) {
    case Type::Int: return lite ? "INTEGER" : "integer";
    case Type::Real: return lite ? "REAL" : "double precision";
    // PostgreSQL's unbounded text, which its ODBC driver reports as a long column.
    case Type::Text: return lite ? "TEXT" : "text";
    case Type::Decimal38: return lite ? "NUMERIC" : "numeric(38,0)";
    case Type::Timestamp: return lite ? "TIMESTAMP" : "timestamp(6)";
    case Type::Blob: return lite ? "BLOB" : "bytea";
    }
    return {};
}

void TestDb::exec(const std::string& sql) const { sqlite_ ? sqlite_->exec(sql) : TestSupport::pgExec(sql); }

TestSupport::Rows TestDb::query(const std::string& sql) const
{
    return sqlite_ ? sqlite_->query(sql) : TestSupport::pgQuery(sql);
}

long long TestDb::count(const std::string& tableAndWhere) const
{
    return std::stoll(query("select count(*) from " + tableAndWhere).at(0).at(0).value());
}

std::string TestDb::value(const std::string& sql) const
{
    const TestSupport::Rows rows = query(sql);
    return rows.empty() ? "<no row>" : rows[0][0].value_or("<NULL>");
}

OpenTable::OpenTable(const TestDb& db, const std::string& table) : connection(Connection::Create())
{
    connection->CursorLocation = adUseClient;
    connection->Open(BuildConnectionString(QString::fromStdString(db.login.dataSource),
                                           QString::fromStdString(db.login.user),
                                           QString::fromStdString(db.login.password)));
    model = std::make_unique<TableModel>(EditableRowset::Open(connection, table), nullptr);
    // The tests edit the whole table.
    if (model->reading()) {
        QSignalSpy ended(model.get(), &TableModel::readEnded);
        ended.wait(10000);
    }
}

bool OpenTable::edit(int row, int column, const QString& value)
{
    const std::optional<RowRefusal> why = model->store(model->index(row, column), value);
    refusal = why ? QString::fromStdString(why->text) : QString();
    return !why;
}

bool OpenTable::setNull(int row, int column)
{
    const std::optional<RowRefusal> why = model->setNull(model->index(row, column));
    refusal = why ? QString::fromStdString(why->text) : QString();
    return !why;
}

bool OpenTable::submit(int row, QString* error)
{
    lastRowRefusal = model->submitRow(row);
    if (error)
        *error = lastRowRefusal ? QString::fromStdString(lastRowRefusal->text) : QString();
    return !lastRowRefusal;
}

bool OpenTable::deleteRows(const QList<int>& rows, QString* error)
{
    const std::vector<TableModel::RowRefused> failures = model->deleteRows(rows);
    if (error) {
        QStringList lines;
        for (const TableModel::RowRefused& failure : failures)
            lines << QStringLiteral("Row %1: %2").arg(failure.row + 1).arg(QString::fromStdString(failure.refusal.text));
        *error = lines.join(QLatin1Char('\n'));
    }
    return failures.empty();
}

void addEngineRows()
{
    QTest::addColumn<Engine>("engine");
    QTest::newRow("sqlite") << Engine::Sqlite;
    QTest::newRow("postgresql") << Engine::Postgres;
    QTest::newRow("odbc") << Engine::Odbc;
}

} // namespace RowsetSupport
