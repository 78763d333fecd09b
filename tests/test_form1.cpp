// The connection page driven through its real widgets: the stored login,
// selection on entering a box, one action per press, Test Connection,
// Next > and the start-up move to the chooser.

#include "oracle/DbError.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "oracle/Blocking.h"
#include "oracle/Engine.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/SettingsStore.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleFactory>

using namespace PageSupport;

namespace {

// Counts the paint events a window receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& w) { w.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestForm1 : public PageTest {
    Q_OBJECT

private:
    Form1& showForm1()
    {
        Form1& form = GetForm1();
        form.show();
        if (!QTest::qWaitForWindowActive(&form))
            qWarning("Form1 did not become active");
        return form;
    }

    static QString storeFileText()
    {
        QFile file(SettingsFilePath(QStringLiteral("Marrowick")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void layoutTabOrderAndNames()
    {
        Form1& form = showForm1();
        QCOMPARE(form.windowTitle(), QStringLiteral("Setup Connections"));
        QCOMPARE(form.size(), QSize(TwipsToPixels(5895, &form), TwipsToPixels(3165, &form)));
        QCOMPARE(form.Text3->geometry(), QRect(TwipsToPixels(1200, &form), TwipsToPixels(1440, &form),
                                               TwipsToPixels(4455, &form), TwipsToPixels(330, &form)));
        QCOMPARE(form.Check1->geometry().topLeft(), QPoint(TwipsToPixels(3960, &form), TwipsToPixels(2640, &form)));
        QCOMPARE(form.Text1->accessibleName(), QStringLiteral("SID:"));
        QCOMPARE(form.Text2->accessibleName(), QStringLiteral("Username:"));
        QCOMPARE(form.Text3->accessibleName(), QStringLiteral("Password:"));
        QVERIFY(!form.Check4->isEnabled());

        // Tab walks the boxes and the enabled buttons in the design's order.
        form.Text1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.Text1);
        const QList<QWidget*> order = {form.Text2, form.Text3, form.Check5, form.Check2, form.Check3, form.Check1,
                                       form.Text1};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }

    void thePageIsRegularItsControlsBold()
    {
        Form1& form = showForm1();
        const auto isArial9 = [](const QFont& f) { return f.family() == QStringLiteral("Arial") && f.pointSize() == 9; };
        QVERIFY(isArial9(form.font()));
        QCOMPARE(form.font().weight(), QFont::Normal);
        const QList<QWidget*> controls = {form.Label5, form.Label2, form.Label1, form.Label4, form.Text1,
                                          form.Text2,  form.Text3,  form.Check5, form.Check2, form.Check4,
                                          form.Check3, form.Check1};
        for (QWidget* w : controls) {
            QVERIFY2(isArial9(w->font()), qPrintable(w->font().toString()));
            QCOMPARE(w->font().weight(), QFont::Bold);
        }
        // The other pages are bold throughout.
        TestSupport::ScratchSqlite db("create table t(a)");
        form.Text1->setText(db.dataSource());
        QTest::mouseClick(form.Check3, Qt::LeftButton);
        QVERIFY(GetForm2().isVisible());
        QCOMPARE(GetForm2().font().weight(), QFont::Bold);
        QCOMPARE(GetForm2().List1->font().weight(), QFont::Bold);
    }

    void everyChangeIsStoredAtOnce()
    {
        Form1& form = showForm1();
        form.Text1->setFocus();
        for (const QString& expected : {QStringLiteral("o"), QStringLiteral("or"), QStringLiteral("orc")}) {
            QTest::keyClick(form.Text1, expected.back().toLatin1());
            QCOMPARE(storedValue(QStringLiteral("OracleSID")), expected);
            QVERIFY2(storeFileText().contains(QStringLiteral("OracleSID=") + expected), qPrintable(storeFileText()));
        }
        QTest::keyClick(form.Text1, Qt::Key_Backspace);
        QCOMPARE(storedValue(QStringLiteral("OracleSID")), QStringLiteral("or"));

        form.Text3->setFocus();
        QTest::keyClicks(form.Text3, QStringLiteral("p; \"w'"));
        QCOMPARE(storedValue(QStringLiteral("OraclePassword")), QStringLiteral("p; \"w'"));
        QCOMPARE(form.Text3->displayText(), QStringLiteral("******"));

        // Emptying a box stores the empty text.
        form.Text1->selectAll();
        QTest::keyClick(form.Text1, Qt::Key_Delete);
        QCOMPARE(storedValue(QStringLiteral("OracleSID")), QString());
    }

    void enteringABoxSelectsAllOfIt()
    {
        storeLogin(QStringLiteral("some sid"), QStringLiteral("scott"), QStringLiteral("tiger"));
        Form1& form = showForm1();
        QCOMPARE(form.Text2->text(), QStringLiteral("scott"));

        form.Text1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.Text1);
        QTest::keyClick(form.Text1, Qt::Key_Tab);
        QCOMPARE(form.Text2->selectedText(), QStringLiteral("scott"));
        QTest::keyClick(form.Text2, Qt::Key_Backtab);
        QCOMPARE(form.Text1->selectedText(), QStringLiteral("some sid"));

        // A click gives the focus and then places the cursor; the whole text
        // must still be selected afterwards.
        const QPoint middle = form.Text3->rect().center();
        QTest::mouseClick(form.Text3, Qt::LeftButton, Qt::NoModifier, middle);
        QCOMPARE(QApplication::focusWidget(), form.Text3);
        QCOMPARE(form.Text3->selectedText(), QStringLiteral("tiger"));
        QTest::mouseClick(form.Text2, Qt::LeftButton, Qt::NoModifier, form.Text2->rect().center());
        QCOMPARE(form.Text2->selectedText(), QStringLiteral("scott"));
        // Once in the box, a click places the cursor as usual.
        QTest::mouseClick(form.Text2, Qt::LeftButton, Qt::NoModifier, form.Text2->rect().center());
        QVERIFY(form.Text2->selectedText().isEmpty());
    }

    void aButtonActsOncePerPress()
    {
        Form1& form = showForm1();
        BoxCatcher boxes([](QMessageBox*) {
            maybeScreenshot(QStringLiteral("form1-help"));
            return QString();
        });
        QTest::mouseClick(form.Check2, Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(form.Check2->Value(), 0);

        form.Check2->setFocus();
        QTest::keyClick(form.Check2, Qt::Key_Space);
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(form.Check2->Value(), 0);
        // Enter is no way to press a button.
        QTest::keyClick(form.Check2, Qt::Key_Return);
        QCOMPARE(boxes.count(), 2);

        const SeenBox& help = boxes.seen.first();
        QCOMPARE(help.title, QStringLiteral("Dervanta"));
        QCOMPARE(help.buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(help.text, Form1::HelpText());
        // Three paragraphs separated by bare carriage returns; the download
        // address follows the colon directly.
        QCOMPARE(help.text.split(QStringLiteral("\r\r")).size(), 3);
        QVERIFY(!help.text.contains(QLatin1Char('\n')));
        QVERIFY(help.text.contains(QStringLiteral("looks like:http")));
    }

    void helpShowsThreeParagraphsUnderEveryStyle_data()
    {
        QTest::addColumn<QString>("style");
        QTest::newRow("Fusion") << QStringLiteral("Fusion");
        // Its message boxes draw their text without a text document.
        QTest::newRow("Windows") << QStringLiteral("Windows");
    }

    void helpShowsThreeParagraphsUnderEveryStyle()
    {
        QFETCH(QString, style);
        const QString previous = QApplication::style()->name();
        QApplication::setStyle(QStyleFactory::create(style));
        auto restore = qScopeGuard([&] { QApplication::setStyle(QStyleFactory::create(previous)); });
        QCOMPARE(QApplication::style()->name().toLower(), style.toLower());

        Form1& form = showForm1();
        int emptyLines = -1;
        QString shownText;
        BoxCatcher boxes([&](QMessageBox* box) {
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            if (!label)
                return QString();
            shownText = box->text();
            // Rows of the label's picture with ink on them; a run of blank
            // rows at least a line high is an empty line between paragraphs.
            const QImage picture = label->grab().toImage();
            const int lineSpacing = label->fontMetrics().lineSpacing();
            emptyLines = 0;
            int lastInk = -1;
            for (int y = 0; y < picture.height(); ++y) {
                bool ink = false;
                for (int x = 0; x < picture.width() && !ink; ++x)
                    ink = qGray(picture.pixel(x, y)) < 128;
                if (!ink)
                    continue;
                if (lastInk >= 0 && y - lastInk - 1 >= lineSpacing)
                    ++emptyLines;
                lastInk = y;
            }
            return QString();
        });
        QTest::mouseClick(form.Check2, Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(shownText, Form1::HelpText());
        QCOMPARE(emptyLines, 2);
    }

    void testConnectionTellsTheOutcome()
    {
        TestSupport::ScratchSqlite db("create table t(a)");
        Form1& form = showForm1();
        form.Text1->setText(db.dataSource());

        int pointerWhileShown = -1;
        int pointerAfterMovingOverAButton = -1;
        BoxCatcher boxes([&](QMessageBox*) {
            pointerWhileShown = form.MousePointer();
            // The pointer rule must leave the busy pointer alone.
            QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), form.Check1->mapToGlobal(QPointF(5, 5)),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(form.Check1, &move);
            pointerAfterMovingOverAButton = form.MousePointer();
            return QString();
        });
        QTest::mouseClick(form.Check5, Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Dervanta"));
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Connection successful."));
        QCOMPARE(boxes.seen[0].details, QString());
        QCOMPARE(boxes.seen[0].buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(pointerWhileShown, 11);
        QCOMPARE(pointerAfterMovingOverAButton, 11);
        QCOMPARE(form.MousePointer(), 0);
        QVERIFY(form.isVisible());
        QVERIFY(!Form2Loaded());

        const QString missing = db.dir() + QStringLiteral("/missing.db");
        form.Text1->setText(QStringLiteral("sqlite:") + missing);
        QTest::mouseClick(form.Check5, Qt::LeftButton);
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(boxes.seen[1].text, QStringLiteral("Could not connect."));
        // The driver's reason is in the details only.
        QVERIFY2(boxes.seen[1].details.contains(QStringLiteral("missing.db")), qPrintable(boxes.seen[1].details));
        QCOMPARE(form.MousePointer(), 0);
        QVERIFY(!QFile::exists(missing));
    }

    // A login to an address that never answers: the page keeps painting
    // while it waits, and gives up after the login timeout; after a few
    // seconds a window offers to stop waiting, which ends the attempt at once.
    void aLoginThatGetsNoAnswerKeepsThePagePainting()
    {
        TestSupport::SilentServer silent;
        SetLoginTimeoutSeconds(2);
        const auto restore = qScopeGuard([] {
            SetLoginTimeoutSeconds(30);
            SetWaitPatience(std::chrono::milliseconds(3000));
        });
        Form1& form = showForm1();
        form.Text1->setText(QStringLiteral("postgresql://127.0.0.1:%1/nobody").arg(silent.port()));

        PaintCounter paints(form);
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, &form, qOverload<>(&QWidget::update));
        repaint.start(20);
        {
            BoxCatcher boxes;
            QElapsedTimer waited;
            waited.start();
            QTest::mouseClick(form.Check5, Qt::LeftButton);
            QCOMPARE(boxes.count(), 1);
            QCOMPARE(boxes.lastText(), QStringLiteral("Could not connect."));
            QVERIFY2(boxes.seen[0].details.contains(QStringLiteral("timeout"), Qt::CaseInsensitive),
                     qPrintable(boxes.seen[0].details));
            QVERIFY(waited.elapsed() >= 1500);
            QVERIFY2(paints.count > waited.elapsed() / 20 / 3, qPrintable(QString::number(paints.count)));
        }

        SetLoginTimeoutSeconds(20);
        SetWaitPatience(std::chrono::milliseconds(300));
        QStringList offered;
        QString windowName;
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, [&] {
            auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!window || qobject_cast<QMessageBox*>(window))
                return;
            stopper.stop();
            windowName = window->accessibleName();
            QPushButton* stop = nullptr;
            for (QPushButton* b : window->findChildren<QPushButton*>()) {
                offered << b->text();
                if (b->text() == QLatin1String("Stop Waiting"))
                    stop = b;
            }
            if (stop)
                QTest::mouseClick(stop, Qt::LeftButton);
        });
        stopper.start(20);
        BoxCatcher boxes;
        QElapsedTimer waited;
        waited.start();
        QTest::mouseClick(form.Check5, Qt::LeftButton);
        QCOMPARE(offered, (QStringList{QStringLiteral("Stop Waiting"), QStringLiteral("Quit")}));
        QCOMPARE(windowName, QStringLiteral("Waiting for the database"));
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.lastText(), QStringLiteral("Could not connect."));
        QVERIFY2(waited.elapsed() < 5000, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(form.MousePointer(), 0);
    }

    void nextWithFieldsThatDoNotConnectDoesNothing()
    {
        TestSupport::ScratchSqlite db;
        Form1& form = showForm1();
        form.Text1->setText(QStringLiteral("sqlite:") + db.dir() + QStringLiteral("/nothing-here.db"));
        BoxCatcher boxes;
        QTest::mouseClick(form.Check3, Qt::LeftButton);
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(form.Check3->Value(), 0);
        QCOMPARE(form.MousePointer(), 0);
        QVERIFY(form.isVisible());
        QVERIFY(!Form2Loaded());
        QVERIFY(programEnds().isEmpty());
    }

    void startUpWithAWorkingStoredLoginMovesOn()
    {
        TestSupport::ScratchSqlite db("create table first_table(a); create table second_table(b)");
        storeLogin(db.dataSource(), QStringLiteral("any user"), QStringLiteral("any password"));
        StartProgram();
        QVERIFY(Form2Loaded());
        QVERIFY(GetForm2().isVisible());
        QVERIFY(!GetForm1().isVisible());
        QCOMPARE(GetForm1().Text1->text(), db.dataSource());
        QCOMPARE(GetForm1().Text3->text(), QStringLiteral("any password"));
        QCOMPARE(GetForm2().List1->ListCount(), 2);
        QVERIFY(programEnds().isEmpty());
    }

    void startUpWithALoginThatFailsStaysOnThePage()
    {
        storeLogin(QStringLiteral("sqlite:/nonexistent/folder/x.db"), QStringLiteral("u"), QStringLiteral("p"));
        BoxCatcher boxes;
        StartProgram();
        QVERIFY(GetForm1().isVisible());
        QVERIFY(!Form2Loaded());
        QCOMPARE(GetForm1().Text1->text(), QStringLiteral("sqlite:/nonexistent/folder/x.db"));
        QCOMPARE(boxes.count(), 0);
        // The load wrote back what it read, unchanged.
        QCOMPARE(storedValue(QStringLiteral("OracleUser")), QStringLiteral("u"));
    }

    // A stored login that connects although the chooser then cannot read
    // its list: a role that may not read the catalogue.
    void startUpWhenTheListCannotBeReadStaysOnThePage_data()
    {
        QTest::addColumn<long>("number");
        QTest::addColumn<QString>("words");
        // SQLSTATE 42501 has a number of its own.
        QTest::newRow("no access to pg_class") << 42501L << QStringLiteral("permission denied");
    }

    void startUpWhenTheListCannotBeReadStaysOnThePage()
    {
        DERVANTA_REQUIRE_PG();
        using TestSupport::PgRole;
        QFETCH(long, number);
        QFETCH(QString, words);
        TestSupport::ScratchPgRole role;
        role.exec("create table mine (a int)");
        const auto login = TestSupport::pgLogin();
        const std::string others = login->user.toStdString() + ", " + login->otherUser.toStdString();
        const auto catalogueForAll = [&] {
            TestSupport::pgExec("grant select on pg_catalog.pg_class to public;"
                                " revoke select on pg_catalog.pg_class from " + others,
                                PgRole::Superuser);
        };
        auto restore = qScopeGuard(catalogueForAll);
        TestSupport::pgExec("revoke select on pg_catalog.pg_class from public;"
                            " grant select on pg_catalog.pg_class to " + others,
                            PgRole::Superuser);
        const QString sid = TestSupport::pgDataSource();
        const QString user = QString::fromStdString(role.name());
        const QString password = QString::fromStdString(role.password());
        storeLogin(sid, user, password);

        bool pageShownUnderTheBox = false;
        BoxCatcher boxes([&](QMessageBox*) {
            pageShownUnderTheBox = GetForm1().isVisible();
            return QString();
        });
        StartProgram();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Dervanta"));
        QCOMPARE(boxes.seen[0].buttons, QStringList{QStringLiteral("OK")});
        QVERIFY2(boxes.seen[0].text.contains(words), qPrintable(boxes.seen[0].text));
        QVERIFY2(boxes.seen[0].text.contains(QStringLiteral("'%1'").arg(number)), qPrintable(boxes.seen[0].text));
        QVERIFY(programEnds().isEmpty());
        QVERIFY(pageShownUnderTheBox);
        Form1& form = GetForm1();
        QVERIFY(form.isVisible());
        QVERIFY(!Form2Loaded() || !GetForm2().isVisible());
        QCOMPARE(form.Text1->text(), sid);
        QCOMPARE(form.Text2->text(), user);
        QCOMPARE(form.Text3->text(), password);
        QCOMPARE(storedValue(QStringLiteral("OraclePassword")), password);

        // Next > on this page reports the same failure, and the user stays
        // here with the login as typed, the chooser hidden.
        QTRY_COMPARE(role.backends(), 0);
        QTest::mouseClick(form.Check3, Qt::LeftButton);
        QCOMPARE(boxes.count(), 2);
        QVERIFY2(boxes.seen[1].text.contains(words), qPrintable(boxes.seen[1].text));
        QVERIFY2(boxes.seen[1].text.contains(QStringLiteral("'%1'").arg(number)), qPrintable(boxes.seen[1].text));
        QVERIFY(programEnds().isEmpty());
        QVERIFY(form.isVisible());
        QVERIFY(!GetForm2().isVisible());
        QCOMPARE(form.Text1->text(), sid);
        QCOMPARE(form.Text2->text(), user);
        QCOMPARE(form.Text3->text(), password);

        // Once the cause is gone, Next > reaches a usable chooser.
        programEnds().clear();
        catalogueForAll();
        QTRY_COMPARE(role.backends(), 0);
        form.show();
        QTest::mouseClick(form.Check3, Qt::LeftButton);
        QCOMPARE(boxes.count(), 2);
        QVERIFY(programEnds().isEmpty());
        QVERIFY(GetForm2().isVisible());
        QVERIFY(GetForm2().isEnabled());
        QCOMPARE(GetForm2().MousePointer(), 0);
        QCOMPARE(GetForm2().List1->ListCount(), 1);
        QCOMPARE(GetForm2().List1->List(0), QStringLiteral("mine"));
    }

    // A role that may hold two sessions, one of them the open table's:
    // going back to this page and on again loads the chooser with the other
    // one (its load holds no session it does not use), and nothing that
    // fails there ends the program.
    void nextWithATableOpenNeedsOneSessionMore()
    {
        DERVANTA_REQUIRE_PG();
        using TestSupport::PgRole;
        TestSupport::ScratchPgRole role;
        role.exec("create table mine (a int); insert into mine values (1)");
        TestSupport::pgExec("alter role " + role.name() + " connection limit 2", PgRole::Superuser);
        const QString user = QString::fromStdString(role.name());
        const QString password = QString::fromStdString(role.password());
        Form3& editor = startAndOpen(TestSupport::pgDataSource(), QStringLiteral("mine"), user, password);
        BoxCatcher boxes;
        QTest::mouseClick(editor.Check1, Qt::LeftButton);
        QVERIFY(GetForm2().isVisible());
        QTest::mouseClick(GetForm2().Check2, Qt::LeftButton);
        Form1& form = GetForm1();
        QVERIFY(form.isVisible());
        QTRY_COMPARE(role.backends(), 1); // the open table's
        QTest::mouseClick(form.Check3, Qt::LeftButton);
        QVERIFY(programEnds().isEmpty());
        QVERIFY2(boxes.count() == 0, qPrintable(boxes.lastText()));
        QVERIFY(GetForm2().isVisible());
        QCOMPARE(GetForm2().List1->ListCount(), 1);
        QCOMPARE(GetForm2().List1->List(0), QStringLiteral("mine"));
    }

    void longStoredValuesLoadWhole()
    {
        // Far beyond a text box's usual limit of 32,767 characters.
        const QString sid = QStringLiteral("sqlite:/nonexistent/") + QString(100000, u's');
        const QString password = QString(99999, u'p') + u'!';
        storeLogin(sid, QStringLiteral("u"), password);
        StartProgram();
        Form1& form = GetForm1();
        QVERIFY(form.isVisible());
        QCOMPARE(form.Text1->text().size(), sid.size());
        QCOMPARE(form.Text1->text(), sid);
        QCOMPARE(form.Text3->text(), password);
        QCOMPARE(storedValue(QStringLiteral("OracleSID")), sid);
        QCOMPARE(storedValue(QStringLiteral("OraclePassword")), password);
        // Typing at the end still works.
        form.Text2->setFocus();
        form.Text2->setText(QString(40000, u'n'));
        form.Text2->end(false);
        QTest::keyClick(form.Text2, Qt::Key_X);
        QCOMPARE(storedValue(QStringLiteral("OracleUser")), QString(40000, u'n') + u'x');
    }

    void handEditedCommaValuesLoadAsWritten_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a,b") << QByteArray("a,b") << QStringLiteral("a,b");
        QTest::newRow("a, b") << QByteArray("a, b") << QStringLiteral("a, b");
        QTest::newRow("a ,b") << QByteArray("a ,b") << QStringLiteral("a ,b");
        QTest::newRow("quoted") << QByteArray("\"host, x\",y") << QStringLiteral("host, x,y");
    }

    void handEditedCommaValuesLoadAsWritten()
    {
        QFETCH(QByteArray, written);
        QFETCH(QString, expected);
        QFile file(SettingsFilePath(QStringLiteral("Marrowick")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Dervanta]\nOracleSID=" + written + "\nOracleUser=u" + written + "\nOraclePassword=p" + written
                   + "\n");
        file.close();
        StartProgram();
        Form1& form = GetForm1();
        QVERIFY(form.isVisible());
        QCOMPARE(form.Text1->text(), expected);
        QCOMPARE(form.Text2->text(), u'u' + expected);
        QCOMPARE(form.Text3->text(), u'p' + expected);
        // What the load wrote back reads the same.
        QCOMPARE(storedValue(QStringLiteral("OracleSID")), expected);
        QCOMPARE(storedValue(QStringLiteral("OracleUser")), u'u' + expected);
        QCOMPARE(storedValue(QStringLiteral("OraclePassword")), u'p' + expected);
    }

    void quitAndClosingEndTheProgram()
    {
        Form1& form = showForm1();
        QTest::mouseClick(form.Check1, Qt::LeftButton);
        QCOMPARE(programEnds(), QList<int>{0});
        QCOMPARE(form.Check1->Value(), 0);
        form.close();
        QCOMPARE(programEnds(), (QList<int>{0, 0}));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestForm1)
#include "test_form1.moc"
