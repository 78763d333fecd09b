// The table chooser driven through its real widgets: what is listed, the
// loads on arrival from the connection page, a fill that never overlaps
// another, and failures of the load.

#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Forms.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>

#include <algorithm>

using namespace PageSupport;

namespace {

QStringList listed()
{
    QStringList names;
    const TableList& list = *GetForm2().List1;
    for (int i = 0; i < list.ListCount(); ++i)
        names.append(list.List(i));
    return names;
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

// Types the login into the connection page and presses Next >.
void nextFromForm1(const QString& sid, const QString& user = {}, const QString& password = {})
{
    Form1& form1 = GetForm1();
    form1.show();
    form1.Text1->setText(sid);
    form1.Text2->setText(user);
    form1.Text3->setText(password);
    QTest::mouseClick(form1.Check3, Qt::LeftButton);
}

// Runs `action` once, at the first turn of the event loop inside a fill of
// the list (waits for the database before it let other events through).
void whenFilling(std::function<void()> action)
{
    auto* poll = new QTimer;
    poll->setInterval(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action)] {
        if (!Form2::FillRunning())
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}

} // namespace

class TestForm2 : public PageTest {
    Q_OBJECT

private slots:
    void aUserWithoutTablesGetsAnEmptyUsablePage()
    {
        TestSupport::ScratchSqlite db;
        nextFromForm1(db.dataSource());
        Form2& form2 = GetForm2();
        QVERIFY(form2.isVisible());
        QVERIFY(!GetForm1().isVisible());
        QCOMPARE(form2.windowTitle(), QStringLiteral("Dervanta"));
        QCOMPARE(form2.List1->ListCount(), 0);
        QCOMPARE(form2.List1->ListIndex(), -1);
        QVERIFY(form2.isEnabled());
        QCOMPARE(form2.MousePointer(), 0);

        BoxCatcher boxes;
        QTest::mouseClick(form2.Check3, Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Dervanta"));
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Please select a table"));
        QCOMPARE(boxes.seen[0].buttons, QStringList{QStringLiteral("OK")});
        QVERIFY(form2.isVisible());
        QVERIFY(!Form3Loaded());
        QCOMPARE(form2.MousePointer(), 0);
    }

    void namesAreListedExactly()
    {
        TestSupport::ScratchSqlite db(R"(create table "Mixed Case" (a); create table "with  blanks " (a);
                                         create table "say ""hi""" (a); create table "ünï 表" (a);
                                         create table plain (a); create view plain_view as select * from plain;)");
        nextFromForm1(db.dataSource());
        QCOMPARE(sorted(listed()), sorted({QStringLiteral("Mixed Case"), QStringLiteral("with  blanks "),
                                           QStringLiteral("say \"hi\""), QStringLiteral("ünï 表"),
                                           QStringLiteral("plain")}));
        QCOMPARE(GetForm2().List1->ListIndex(), 0);
        // The list itself neither sorts nor changes a name.
        QCOMPARE(GetForm2().List1->model()->data(GetForm2().List1->model()->index(2, 0)).toString(),
                 GetForm2().List1->List(2));
    }

    void postgresListsOnlyTheUsersOwnTables()
    {
        DERVANTA_REQUIRE_PG();
        using TestSupport::PgRole;
        const std::string own = TestSupport::uniqueName("Own Table ");
        const std::string others = TestSupport::uniqueName("others_");
        const std::string view = TestSupport::uniqueName("view_");
        auto cleanup = qScopeGuard([&] {
            TestSupport::pgExec("drop view if exists \"" + view + "\"");
            TestSupport::pgDropTables({own});
            TestSupport::pgDropTables({others}, PgRole::Other);
        });
        TestSupport::pgExec("create table \"" + own + "\" (a int)");
        TestSupport::pgExec("create view \"" + view + "\" as select * from \"" + own + "\"");
        TestSupport::pgExec("create table \"" + others + "\" (a int)", PgRole::Other);

        const auto login = TestSupport::pgLogin();
        nextFromForm1(TestSupport::pgDataSource(), login->user, login->password);
        const QStringList names = listed();
        QVERIFY2(names.contains(QString::fromStdString(own)), qPrintable(names.join(u',')));
        QVERIFY(!names.contains(QString::fromStdString(others)));
        QVERIFY(!names.contains(QString::fromStdString(view)));
        QVERIFY(!names.contains(QStringLiteral("pg_class")));
        QCOMPARE(names.count(QString::fromStdString(own)), 1);
    }

    void backAndNextAgainReadsTheListAnew()
    {
        TestSupport::ScratchSqlite db("create table t1(a); create table t2(a); create table t3(a)");
        nextFromForm1(db.dataSource());
        Form2& form2 = GetForm2();
        QCOMPARE(sorted(listed()), (QStringList{"t1", "t2", "t3"}));
        form2.List1->SetListIndex(2);

        QTest::mouseClick(form2.Check2, Qt::LeftButton);
        QVERIFY(GetForm1().isVisible());
        QVERIFY(!form2.isVisible());
        QCOMPARE(GetForm1().Text1->text(), db.dataSource());

        db.exec("create table t4(a); drop table t1");
        QSignalSpy loads(&form2, &Form2::listLoaded);
        QTest::mouseClick(GetForm1().Check3, Qt::LeftButton);
        QCOMPARE(loads.count(), 1);
        QVERIFY(form2.isVisible());
        QCOMPARE(sorted(listed()), (QStringList{"t2", "t3", "t4"}));
        QCOMPARE(form2.List1->ListIndex(), 0);
    }

    void theFirstNextLoadsTwiceAndNeverOverlaps()
    {
        std::string sql;
        for (int i = 0; i < 40; ++i)
            sql += "create table tab_" + std::to_string(i) + "(a);";
        TestSupport::ScratchSqlite db(sql);

        // Runs inside the first fill, at its first yield: the connection page
        // is still shown and enabled then, and the user presses its buttons.
        bool ranDuringFill = false;
        bool form1Usable = false;
        std::unique_ptr<QSignalSpy> loads;
        BoxCatcher boxes;
        whenFilling([&] {
            ranDuringFill = Form2::FillRunning();
            form1Usable = GetForm1().isVisible() && GetForm1().isEnabled();
            loads = std::make_unique<QSignalSpy>(&GetForm2(), &Form2::listLoaded);
            QTest::mouseClick(GetForm1().Check3, Qt::LeftButton);
            QTest::mouseClick(GetForm1().Check5, Qt::LeftButton);
        });
        nextFromForm1(db.dataSource());

        QVERIFY(ranDuringFill);
        QVERIFY(form1Usable);
        QVERIFY(loads);
        QCOMPARE(loads->count(), 2);
        QCOMPARE(boxes.count(), 0);
        const QStringList names = listed();
        QCOMPARE(names.size(), 40);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 40);
        QVERIFY(GetForm2().isVisible());
        QVERIFY(GetForm2().isEnabled());
        QVERIFY(!GetForm1().isVisible());
        QCOMPARE(GetForm2().List1->ListIndex(), 0);
        QCOMPARE(GetForm2().MousePointer(), 0);
    }

    void pagePointerIsBusyWhileTheListFills()
    {
        TestSupport::ScratchSqlite db("create table a(x); create table b(x)");
        int pointer = -1;
        bool enabled = true;
        whenFilling([&] {
            pointer = GetForm2().MousePointer();
            enabled = GetForm2().isEnabled();
            // Moving over a button leaves the busy pointer in place.
            QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            QApplication::sendEvent(GetForm2().Check1, &move);
        });
        nextFromForm1(db.dataSource());
        QCOMPARE(pointer, 11);
        QVERIFY(!enabled);
        QCOMPARE(GetForm2().MousePointer(), 0);
    }

    // Reported over the connection page, which stays with the login as typed:
    // the user can correct it and go on.
    void aFailingLoadIsReportedAndLeavesTheUserOnTheConnectionPage()
    {
        TestSupport::ScratchSqlite db("create table a(x); create table b(x)");
        const QString moved = db.path() + QStringLiteral(".moved");
        // The login works when it is checked; the database goes away while
        // the first of the two loads fills the list, so the second fails.
        whenFilling([&] { QFile::rename(db.path(), moved); });
        BoxCatcher boxes;
        nextFromForm1(db.dataSource());
        QVERIFY(programEnds().isEmpty());
        QVERIFY(GetForm1().isVisible());
        QVERIFY(!GetForm2().isVisible());
        QCOMPARE(GetForm1().Text1->text(), db.dataSource());
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Dervanta"));
        // SQLite's "cannot open" code and its description.
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("14")), qPrintable(boxes.seen[0].text));
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("unable to open database file")),
                 qPrintable(boxes.seen[0].text));
        QFile::rename(moved, db.path());
    }

    void theSelectionCannotBeCleared()
    {
        TestSupport::ScratchSqlite db("create table a(x); create table b(x); create table c(x)");
        nextFromForm1(db.dataSource());
        TableList& list = *GetForm2().List1;
        const QRect second = list.visualRect(list.model()->index(1, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
        QCOMPARE(list.ListIndex(), 1);

        const QRect last = list.visualRect(list.model()->index(2, 0));
        const QPoint below(last.center().x(), last.bottom() + 10);
        QVERIFY(below.y() < list.viewport()->height());
        QVERIFY(!list.indexAt(below).isValid());
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QCOMPARE(list.ListIndex(), 1);

        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
        QCOMPARE(list.ListIndex(), 1);
        // Ctrl+click on another entry moves the selection as a plain click does.
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, last.center());
        QCOMPARE(list.ListIndex(), 2);
        QCOMPARE(list.selectionModel()->selectedIndexes().size(), 1);

        BoxCatcher boxes;
        QTest::mouseClick(GetForm2().Check3, Qt::LeftButton);
        QCOMPARE(boxes.count(), 0);
        QVERIFY(Form3Loaded());
    }

    void quitClosingAndDoubleClick()
    {
        TestSupport::ScratchSqlite db("create table a(x); create table b(x)");
        nextFromForm1(db.dataSource());
        Form2& form2 = GetForm2();
        TableList& list = *form2.List1;
        const QRect second = list.visualRect(list.model()->index(1, 0));
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
        QCOMPARE(list.ListIndex(), 1);
        QVERIFY(!Form3Loaded());
        QVERIFY(form2.isVisible());
        QVERIFY(programEnds().isEmpty());

        QTest::mouseClick(form2.Check1, Qt::LeftButton);
        QCOMPARE(programEnds(), QList<int>{0});
        form2.close();
        QCOMPARE(programEnds(), (QList<int>{0, 0}));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestForm2)
#include "test_form2.moc"
