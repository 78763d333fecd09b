// Editing a table through the rowset and the grid's model, the same cases on
// SQLite, PostgreSQL and PostgreSQL through Debian's ODBC driver.

#include "support/RowsetSupport.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/EditableRowset.h"
#include "oracle/TableModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace RowsetSupport;

class RowsetEditing : public QObject {
    Q_OBJECT

private slots:
    void conflictKeepsTheOtherUsersValue_data() { addEngineRows(); }
    void conflictKeepsTheOtherUsersValue()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("conflict");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + " primary key, v " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'a')");
        db->exec("insert into " + t + " values (2, 'b')");
        OpenTable open(*db, name);
        QCOMPARE(open.model->rowCount(), 3);

        QSignalSpy pending(open.model.get(), &TableModel::pendingRowChanged);
        QVERIFY(open.edit(0, 1, "mine"));
        QCOMPARE(open.model->pendingRow(), 0);
        QCOMPARE(pending.count(), 1);
        QVERIFY(open.model->data(open.model->index(0, 1), TableModel::PendingRole).toBool());
        QVERIFY(open.model->headerData(0, Qt::Vertical, TableModel::PendingRole).toBool());
        QCOMPARE(db->value("select v from " + t + " where k = 1"), "a"); // typing writes nothing

        // Another user changes the row after the open.
        db->exec("update " + t + " set v = 'theirs' where k = 1");
        QString error;
        QVERIFY(!open.submit(0, &error));
        QCOMPARE(error, QString::fromLatin1(RowRefusal::kChangedByOtherUser));
        QCOMPARE(db->value("select v from " + t + " where k = 1"), "theirs");
        QCOMPARE(open.text(0, 1), QStringLiteral("mine"));
        QVERIFY(open.model->isRowPending(0));

        // One pending row at a time: another row refuses typing meanwhile.
        QVERIFY(!open.edit(1, 1, "x"));
        QVERIFY(open.refusal.contains(QStringLiteral("row 1")));
        QCOMPARE(open.text(1, 1), QStringLiteral("b"));

        open.model->revertRow(0);
        QCOMPARE(open.model->pendingRow(), -1);
        QCOMPARE(open.text(0, 1), QStringLiteral("a"));

        // Deleting the row the other user changed is refused the same way.
        QVERIFY(!open.deleteRows({0}, &error));
        QVERIFY(error.contains(QString::fromLatin1(RowRefusal::kChangedByOtherUser)));
        QCOMPARE(db->count(t), 2);
        QCOMPARE(open.model->rowCount(), 3);

        // The row nobody touched writes, and shows what was stored.
        QVERIFY(open.edit(1, 1, "b2"));
        QVERIFY2(open.submit(1, &error), qPrintable(error));
        QCOMPARE(db->value("select v from " + t + " where k = 2"), "b2");
        QCOMPARE(open.text(1, 1), QStringLiteral("b2"));
        QCOMPARE(open.model->pendingRow(), -1);
        QCOMPARE(db->value("select v from " + t + " where k = 1"), "theirs");
    }

    void keylessDuplicatesAreNeverWritten_data() { addEngineRows(); }
    void keylessDuplicatesAreNeverWritten()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("dups");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (a " + db->type(Type::Int) + ", b " + db->type(Type::Text) + ")");
        db->exec("insert into " + t + " values (1, 'x')");
        db->exec("insert into " + t + " values (1, 'x')");
        db->exec("insert into " + t + " values (2, 'y')");
        OpenTable open(*db, name);
        const int dup = open.text(0, 0) == QLatin1String("1") ? 0 : 1;
        const int single = open.text(2, 0) == QLatin1String("2") ? 2 : (open.text(1, 0) == QLatin1String("2") ? 1 : 0);

        QVERIFY(open.edit(dup, 1, "z"));
        QString error;
        QVERIFY(!open.submit(dup, &error));
        QCOMPARE(error, QString::fromLatin1(RowRefusal::kNotTellApart));
        QCOMPARE(db->count(t + " where a = 1 and b = 'x'"), 2);
        QCOMPARE(db->count(t + " where b = 'z'"), 0);
        QCOMPARE(open.text(dup, 1), QStringLiteral("z"));
        QVERIFY(open.model->isRowPending(dup));
        open.model->revertRow(dup);

        QVERIFY(!open.deleteRows({dup}, &error));
        QVERIFY(error.contains(QString::fromLatin1(RowRefusal::kNotTellApart)));
        QCOMPARE(db->count(t), 3);

        // A row that differs from every other one is found by all its values.
        QVERIFY(open.edit(single, 1, "w"));
        QVERIFY2(open.submit(single, &error), qPrintable(error));
        QCOMPARE(db->count(t + " where a = 2 and b = 'w'"), 1);
        QVERIFY2(open.deleteRows({single}, &error), qPrintable(error));
        QCOMPARE(db->count(t), 2);
        QCOMPARE(open.model->rowCount(), 3);
    }

    // A keyless table, so the row is found by every value it holds: each must
    // compare equal to itself exactly, and none may change.
    void exactValuesSurviveAnotherColumnsEdit_data() { addEngineRows(); }
    void exactValuesSurviveAnotherColumnsEdit()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("exact");
        const std::string t = quoted(name);
        const std::string big = "12345678901234567890123456789012345678";
        const std::string stamp = "2024-02-29 13:14:15.123456";
        db->exec("create table " + t + " (id " + db->type(Type::Int) + ", n " + db->type(Type::Text) + ", e "
                 + db->type(Type::Text) + ", big " + db->type(Type::Decimal38) + ", r " + db->type(Type::Real)
                 + ", ts " + db->type(Type::Timestamp) + ", note " + db->type(Type::Text) + ", b "
                 + db->type(Type::Blob) + ")");
        db->exec("insert into " + t + " values (1, NULL, '', " + big + ", " + db->realSum() + ", '" + stamp
                 + "', 'old', " + db->blobLiteral() + ")");
        const std::string unchanged = t + " where id = 1 and n is null and e = '' and big = " + big + " and r = "
                                      + db->realSum() + " and ts = '" + stamp + "' and b = " + db->blobLiteral();

        OpenTable open(*db, name);
        QCOMPARE(open.text(0, 1), QStringLiteral("(NULL)"));
        QVERIFY(open.model->data(open.model->index(0, 1), TableModel::NullRole).toBool());
        QCOMPARE(open.text(0, 2), QString());
        QVERIFY(!open.model->data(open.model->index(0, 2), TableModel::NullRole).toBool());
        if (db->engine != Engine::Sqlite) { // SQLite keeps such a number as a double
            QCOMPARE(open.text(0, 3), QString::fromStdString(big));
            QCOMPARE(open.text(0, 5), QString::fromStdString(stamp));
        }
        // Binary shows its size, cannot be typed into, and stays out of the WHERE.
        QCOMPARE(open.text(0, 7), QStringLiteral("(binary, 3 bytes)"));
        QVERIFY(!(open.model->flags(open.model->index(0, 7)) & Qt::ItemIsEditable));
        QVERIFY(!open.edit(0, 7, "x"));

        QString error;
        QVERIFY(open.edit(0, 6, "new"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->count(unchanged + " and note = 'new'"), 1);
        QCOMPARE(db->count(t), 1);

        // The row as re-read matches itself again on the next write.
        QVERIFY(open.edit(0, 6, "newer"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->count(unchanged + " and note = 'newer'"), 1);
        QCOMPARE(open.text(0, 1), QStringLiteral("(NULL)"));
    }

    void awkwardTableNamesOpenAndEdit_data() { addEngineRows(); }
    void awkwardTableNamesOpenAndEdit()
    {
        ROWSET_TEST_DB(db);
        for (const std::string base : {"my table", "MixedCase", "quote\"name"}) {
            const std::string name = db->tableName(base);
            const std::string t = quoted(name);
            db->exec("create table " + t + " (\"Key Col\" " + db->type(Type::Int) + " primary key, \"Value\" "
                     + db->type(Type::Text) + ")");
            {
                OpenTable empty(*db, name); // an empty table shows its headings
                QCOMPARE(empty.model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Key Col"));
                QCOMPARE(empty.model->rowCount(), 1);
                QVERIFY(empty.model->isNewRowPlaceholder(0));
            }
            db->exec("insert into " + t + " values (1, 'one')");
            OpenTable open(*db, name);
            QCOMPARE(open.text(0, 1), QStringLiteral("one"));

            QString error;
            QVERIFY(open.edit(0, 1, "uno"));
            QVERIFY2(open.submit(0, &error), qPrintable(error));
            QVERIFY(open.edit(1, 0, "2"));
            QVERIFY(open.edit(1, 1, "two"));
            QVERIFY2(open.submit(1, &error), qPrintable(error));
            QCOMPARE(db->value("select \"Value\" from " + t + " where \"Key Col\" = 1"), "uno");
            QCOMPARE(db->value("select \"Value\" from " + t + " where \"Key Col\" = 2"), "two");
            QVERIFY2(open.deleteRows({0}, &error), qPrintable(error));
            QCOMPARE(db->count(t), 1);
        }
    }

    void insertShowsWhatWasStored_data() { addEngineRows(); }
    void insertShowsWhatWasStored()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("ins");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + " primary key, v " + db->type(Type::Text)
                 + ", d " + db->type(Type::Text) + " default 'dflt')");
        OpenTable open(*db, name);

        // Confirming an empty editor on the placeholder starts nothing.
        QVERIFY(open.edit(0, 1, ""));
        QCOMPARE(open.model->rowCount(), 1);

        QSignalSpy inserted(open.model.get(), &QAbstractItemModel::rowsInserted);
        QVERIFY(open.edit(0, 0, "7"));
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(open.model->rowCount(), 2);
        QCOMPARE(open.model->pendingRow(), 0);
        QVERIFY(open.model->isNewRowPlaceholder(1));
        QVERIFY(!open.edit(1, 0, "8")); // the new row is still pending
        QVERIFY(open.edit(0, 1, "seven"));

        QString error;
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(open.model->pendingRow(), -1);
        QCOMPARE(open.text(0, 2), QStringLiteral("dflt")); // the default, as re-read
        QCOMPARE(db->count(t + " where k = 7 and v = 'seven' and d = 'dflt'"), 1);

        // A duplicate key: refused by the database, the typed row stays.
        QVERIFY(open.edit(1, 0, "7"));
        QVERIFY(!open.submit(1, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(open.model->isRowPending(1));
        QCOMPARE(open.text(1, 0), QStringLiteral("7"));
        QCOMPARE(db->count(t), 1);

        // Reverting the new row turns it back into the placeholder.
        open.model->revertRow(1);
        QCOMPARE(open.model->rowCount(), 2);
        QCOMPARE(open.model->pendingRow(), -1);
        QVERIFY(open.model->isNewRowPlaceholder(1));

        // Deleting a typed new row only drops it.
        QVERIFY(open.edit(1, 0, "9"));
        QVERIFY(open.deleteRows({1}, &error));
        QCOMPARE(open.model->rowCount(), 2);
        QCOMPARE(db->count(t), 1);
    }

    // A key the database chooses comes back with the insert (RETURNING,
    // where the engine's library has it), so rows alike in everything else
    // are each shown with their own key.
    void aKeyTheDatabaseChoosesComesBack_data() { addEngineRows(); }
    void aKeyTheDatabaseChoosesComesBack()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("chosen");
        const std::string t = quoted(name);
        const std::string key = db->engine == Engine::Sqlite ? "integer primary key" : "serial primary key";
        db->exec("create table " + t + " (k " + key + ", v " + db->type(Type::Text) + ")");
        OpenTable open(*db, name);
        for (int row : {0, 1}) {
            QVERIFY(open.edit(row, 1, "same"));
            QString error;
            QVERIFY2(open.submit(row, &error), qPrintable(error));
            QCOMPARE(open.text(row, 0).toStdString(), db->value("select max(k) from " + t));
        }
        QCOMPARE(db->count(t), 2);
        QVERIFY(open.text(0, 0) != open.text(1, 0));
    }

    void nullIsDistinctAndSettable_data() { addEngineRows(); }
    void nullIsDistinctAndSettable()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("nulls");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (k " + db->type(Type::Int) + " primary key, s " + db->type(Type::Text)
                 + ", i " + db->type(Type::Int) + ")");
        db->exec("insert into " + t + " values (1, 'x', 5)");
        OpenTable open(*db, name);
        QString error;

        QVERIFY(open.setNull(0, 1));
        QVERIFY(open.edit(0, 2, "")); // an empty entry in a number column means NULL
        QCOMPARE(open.text(0, 1), QStringLiteral("(NULL)"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->count(t + " where s is null and i is null"), 1);
        QVERIFY(open.model->data(open.model->index(0, 2), TableModel::NullRole).toBool());

        // An editor confirmed empty over a NULL leaves it NULL.
        QVERIFY(open.edit(0, 1, ""));
        QCOMPARE(open.model->pendingRow(), -1);

        // An empty text is a value of its own.
        QVERIFY(open.edit(0, 1, "a"));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QVERIFY(open.edit(0, 1, ""));
        QVERIFY2(open.submit(0, &error), qPrintable(error));
        QCOMPARE(db->count(t + " where s = ''"), 1);
        QCOMPARE(open.text(0, 1), QString());
        QVERIFY(!open.model->data(open.model->index(0, 1), TableModel::NullRole).toBool());

        // Typing the value read back undoes the change.
        QVERIFY(open.edit(0, 1, "b"));
        QVERIFY(open.edit(0, 1, ""));
        QCOMPARE(open.model->pendingRow(), -1);
    }

    // An unbounded text longer than any bound buffer, in a keyless table: it
    // is editable, and the row is found by its whole value, with and without
    // a conflict.
    void longTextIsOrdinaryText_data() { addEngineRows(); }
    void longTextIsOrdinaryText()
    {
        ROWSET_TEST_DB(db);
        const std::string name = db->tableName("longtext");
        const std::string t = quoted(name);
        db->exec("create table " + t + " (a " + db->type(Type::Int) + ", body " + db->type(Type::Text) + ")");
        const std::string body(9000, 'q');
        db->exec("insert into " + t + " values (1, '" + body + "é')");
        db->exec("insert into " + t + " values (2, '" + body + "')");
        OpenTable open(*db, name);
        QCOMPARE(open.model->rowCount(), 3);
        const int first = open.text(0, 0) == QLatin1String("1") ? 0 : 1;
        QCOMPARE(open.text(first, 1), QString::fromStdString(body) + QStringLiteral("é"));
        QVERIFY(open.model->flags(open.model->index(first, 1)) & Qt::ItemIsEditable);

        QString error;
        QVERIFY(open.edit(first, 0, "10"));
        QVERIFY2(open.submit(first, &error), qPrintable(error));
        QCOMPARE(db->count(t + " where a = 10 and body = '" + body + "é'"), 1);

        QVERIFY(open.edit(first, 1, "short"));
        QVERIFY2(open.submit(first, &error), qPrintable(error));
        QCOMPARE(db->value("select body from " + t + " where a = 10"), "short");

        // Another user lengthens the other row by one character: found no more.
        const int second = 1 - first;
        db->exec("update " + t + " set body = body || 'x' where a = 2");
        QVERIFY(open.edit(second, 0, "20"));
        QVERIFY(!open.submit(second, &error));
        QCOMPARE(error, QString::fromLatin1(RowRefusal::kChangedByOtherUser));
        QCOMPARE(db->count(t + " where a = 2"), 1);
    }
};

QTEST_GUILESS_MAIN(RowsetEditing)
#include "test_rowset_editing.moc"
