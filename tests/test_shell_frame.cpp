// The application frame: centring, the page pointer and the pointer rule, the
// push-button pattern, closing and program end, the failure report and the
// chance visit of the home page.

#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/Page.h"
#include "shell/ProgramEnd.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <stdexcept>

namespace {

// A page laid out like the connection page, with the rules it attaches.
class SamplePage : public Page {
public:
    SamplePage()
    {
        SetClientSizeTwips(5895, 3165);
        PlaceTwips(label, 120, 525, 1095, 255);
        PlaceTwips(text, 1200, 480, 4455, 330);
        PlaceTwips(list, 120, 960, 5655, 1410);
        PlaceTwips(back, 120, 2640, 1815, 400);
        PlaceTwips(next, 2040, 2640, 1815, 400);
        back->setEnabled(false);
        SetFixedSingleBorder();
        AddPointerRule(this, 0);
        AddPointerRule(text, 0);
        AddPointerRule(list, 0);
        AddPointerRule(next, 99);
        AddPointerRule(back, 99); // disabled: never in effect
    }

    bool mayClose = true;
    QLabel* label = new QLabel(QStringLiteral("SID:"), this);
    QLineEdit* text = new QLineEdit(this);
    QListWidget* list = new QListWidget(this);
    CheckButton* back = new CheckButton(QStringLiteral("< Back"), this, false);
    CheckButton* next = new CheckButton(QStringLiteral("Next >"), this);

protected:
    bool QueryUnload() override { return mayClose; }
};

QCursor testHand()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::black);
    return QCursor(picture, 6, 1);
}

bool isHand(const QWidget* w)
{
    return w->cursor().shape() == Qt::BitmapCursor && w->cursor().hotSpot() == QPoint(6, 1);
}

} // namespace

class FrameTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        ends_.clear();
        SetEndProgramHandler([this](int code) { ends_.append(code); });
    }
    void cleanup()
    {
        SetEndProgramHandler(nullptr);
        SetHomePageHooks(nullptr, nullptr);
    }

    void centresByOuterSizeEvenWhenLargerThanTheScreen()
    {
        SamplePage page;
        CenterForm(page); // still hidden, as the load steps do it
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QRect screen = page.screen()->geometry();
        QTRY_VERIFY(std::abs(page.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(std::abs(page.frameGeometry().center().y() - screen.center().y()) <= 1);

        Page large;
        large.SetClientSizeTwips(qRound(PixelsToTwips(screen.width() + 301, &large)),
                                 qRound(PixelsToTwips(screen.height() + 121, &large)));
        large.show();
        QVERIFY(QTest::qWaitForWindowExposed(&large));
        CenterForm(large);
        QTRY_VERIFY(large.frameGeometry().left() < 0);
        QVERIFY(large.frameGeometry().top() < 0);
        QVERIFY(std::abs(large.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(std::abs(large.frameGeometry().center().y() - screen.center().y()) <= 1);
    }

    void pointerRuleFollowsTheMouse()
    {
        SamplePage page;
        page.SetMouseIcon(testHand());
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));

        QTest::mouseMove(page.next); // the hand over the whole page, text box included
        QTRY_COMPARE(page.MousePointer(), 99);
        QVERIFY(isHand(&page) && isHand(page.text) && isHand(page.list->viewport()));
        QTest::mouseMove(page.label); // no rule: unchanged
        QTRY_VERIFY(page.label->underMouse());
        QCOMPARE(page.MousePointer(), 99);
        QTest::mouseMove(page.text); // each control its usual pointer again
        QTRY_COMPARE(page.MousePointer(), 0);
        QTest::mouseMove(page.back); // disabled: its hand is not in effect
        QTRY_VERIFY(page.back->underMouse());
        QCOMPARE(page.MousePointer(), 0);
        QTest::mouseMove(page.text);
        QCOMPARE(page.text->cursor().shape(), Qt::IBeamCursor);
        QCOMPARE(page.next->cursor().shape(), Qt::ArrowCursor);
        for (QWidget* zero : {page.list->viewport(), static_cast<QWidget*>(&page)}) {
            QTest::mouseMove(page.next);
            QTRY_COMPARE(page.MousePointer(), 99);
            QTest::mouseMove(zero, zero == &page ? QPoint(page.width() - 2, page.height() - 2) : QPoint(5, 5));
            QTRY_COMPARE(page.MousePointer(), 0);
        }

        page.SetMousePointer(11); // busy: everywhere, and the rule leaves it alone
        QCOMPARE(page.text->cursor().shape(), Qt::WaitCursor);
        QTest::mouseMove(page.next);
        QTest::mouseMove(page.text);
        QTRY_VERIFY(page.text->underMouse());
        QCOMPARE(page.MousePointer(), 11);
        QCOMPARE(page.next->cursor().shape(), Qt::WaitCursor);
        page.SetMousePointer(0);
        QCOMPARE(page.text->cursor().shape(), Qt::IBeamCursor);

        page.SetMouseIcon(std::nullopt); // 99 without an icon is the arrow
        QTest::mouseMove(page.next);
        QTRY_COMPARE(page.MousePointer(), 99);
        QCOMPARE(page.text->cursor().shape(), Qt::ArrowCursor);
    }

    void busyAndDisabledPageStillShowsTheHourglass()
    {
        SamplePage page;
        page.SetMousePointer(11);
        page.setEnabled(false);
        QVERIFY(!QGuiApplication::overrideCursor()); // not on the screen yet
        page.show();
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        page.setEnabled(true);
        QVERIFY(!QGuiApplication::overrideCursor());
        page.setEnabled(false);
        page.SetMousePointer(0);
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void buttonActsOncePerPressByMouseOrSpace()
    {
        QWidget window;
        auto* box = new QLineEdit(&window);
        auto* button = new CheckButton(QStringLiteral("Test Connection"), &window);
        button->move(0, 40);
        int actions = 0;
        bool releasedDuringAction = false;
        button->OnClick([&] {
            ++actions;
            releasedDuringAction = button->Value() == 0 && !button->isDown();
        });
        QSignalSpy clicks(button, &CheckButton::Click);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        box->setFocus();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(actions, 1);
        QVERIFY(releasedDuringAction);
        QCOMPARE(clicks.count(), 2); // the press, and the reset that finds 0
        QCOMPARE(QApplication::focusWidget(), box); // a click takes no focus

        QTest::keyClick(box, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button);
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(button, key);
        QCOMPARE(actions, 1);
        // The space bar, held down so that the key repeats: one action.
        const auto send = [button](QEvent::Type type, bool repeated) {
            QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), repeated);
            QApplication::sendEvent(button, &event);
        };
        send(QEvent::KeyPress, false);
        send(QEvent::KeyRelease, true);
        send(QEvent::KeyPress, true);
        send(QEvent::KeyRelease, false);
        QCOMPARE(actions, 2);
        QCOMPARE(button->Value(), 0);
        QCOMPARE(button->accessibleName(), QStringLiteral("Test Connection"));
    }

    void closingAPageEndsTheProgramUnlessItRefuses()
    {
        SamplePage page;
        page.show();
        page.mayClose = false;
        QVERIFY(!page.close());
        QVERIFY(ends_.isEmpty());
        page.mayClose = true;
        QVERIFY(page.close());
        QCOMPARE(ends_, QList<int>{0});
    }

    void endingStopsEverythingAtOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("code");
        QTest::newRow("EndProgram") << QStringLiteral("end") << 3;
        QTest::newRow("closing the page") << QStringLiteral("close") << 0;
    }

    // The real ending, in a child process: a loop that yields to the event
    // loop is cut off where it stands, and what was printed before survives.
    void endingStopsEverythingAtOnce()
    {
        QFETCH(QString, how);
        QFETCH(int, code);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DERVANTA_SHELL_END_CHILD"), how);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAllStandardOutput();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), code);
        QCOMPARE(out, QByteArray("started\n"));
    }

    void failureReportShowsNumberAndDescriptionThenEnds()
    {
        QString title, text;
        qsizetype buttons = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    poll.stop();
                    title = box->windowTitle();
                    text = box->text();
                    buttons = box->buttons().size();
                    box->button(QMessageBox::Ok)->click();
                }
        });
        poll.start(10);
        // A server's message is shown as it is, never read as markup.
        const QString description = QStringLiteral("ORA-00942: table or view <b>EMP</b> does not exist");
        ReportFailureAndEnd(-2147217865, description);
        QCOMPARE(title, QStringLiteral("Dervanta"));
        QVERIFY2(text.contains(QStringLiteral("-2147217865")) && text.contains(description), qPrintable(text));
        QCOMPARE(buttons, 1);
        QCOMPARE(ends_, QList<int>{1});
    }

    void homePageOpensOnlyOnSeven()
    {
        QList<QUrl> opened;
        for (const double r : {0.0, 0.0599, 0.06, 0.069999, 0.07, 0.999999, 1.0}) {
            SetHomePageHooks([r] { return r; }, [&opened, r](const QUrl& url) {
                QVERIFY2(r >= 0.06 && r < 0.07, qPrintable(QString::number(r)));
                opened.append(url);
            });
            MaybeShowHomePage();
        }
        QCOMPARE(opened, QList<QUrl>(2, QUrl(QString::fromLatin1(kHomePageAddress))));

        SetHomePageHooks([] { return 0.065; }, [](const QUrl&) { throw std::runtime_error("no browser"); });
        MaybeShowHomePage(); // ignored

        // Over the seconds of a day, about one start in a hundred draws 7
        // (864 expected; the bounds are five standard deviations away).
        int sevens = 0;
        for (int second = 0; second < 24 * 60 * 60; ++second)
            sevens += static_cast<int>(HomePageDraw(second) * 100) + 1 == 7;
        QVERIFY2(sevens > 715 && sevens < 1013, qPrintable(QString::number(sevens)));
    }

private:
    QList<int> ends_;
};

namespace {

// The child process of endingStopsEverythingAtOnce.
int runEndingChild(int argc, char** argv, const QByteArray& how)
{
    QApplication app(argc, argv);
    Page page;
    page.show();
    std::printf("started\n"); // stays in the stream's buffer while stdout is a pipe
    QTimer::singleShot(50, &page, [&page, how] {
        how == "close" ? static_cast<void>(page.close()) : EndProgram(3);
        std::printf("after end\n");
    });
    for (int i = 0; i < 30000; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    std::printf("loop finished\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (const QByteArray child = qgetenv("DERVANTA_SHELL_END_CHILD"); !child.isEmpty())
        return runEndingChild(argc, argv, child);
    QApplication app(argc, argv);
    FrameTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_shell_frame.moc"
