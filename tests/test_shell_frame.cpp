// The application frame: the page look and twips, centring, the page pointer
// and the pointer rule, the push-button pattern, closing, program end, the
// failure report and the chance visit of the home page.

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
#include <QPushButton>
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
        label = new QLabel(QStringLiteral("SID:"), this);
        PlaceTwips(label, 120, 525, 1095, 255);
        text = new QLineEdit(this);
        PlaceTwips(text, 1200, 480, 4455, 330);
        list = new QListWidget(this);
        list->addItems({QStringLiteral("EMP"), QStringLiteral("DEPT")});
        PlaceTwips(list, 120, 960, 5655, 1410);
        back = new CheckButton(QStringLiteral("< Back"), this, false);
        back->setEnabled(false);
        PlaceTwips(back, 120, 2640, 1815, 400);
        next = new CheckButton(QStringLiteral("Next >"), this);
        PlaceTwips(next, 2040, 2640, 1815, 400);
        SetFixedSingleBorder();

        AddPointerRule(this, 0);
        AddPointerRule(text, 0);
        AddPointerRule(list, 0);
        AddPointerRule(next, 99);
        AddPointerRule(back, 99); // disabled: never in effect
    }

    bool mayClose = true;
    QLabel* label;
    QLineEdit* text;
    QListWidget* list;
    CheckButton* back;
    CheckButton* next;

protected:
    bool QueryUnload() override { return mayClose; }
};

const QCursor& handForTests()
{
    static const QCursor hand = [] {
        QPixmap picture(32, 32);
        picture.fill(Qt::black);
        return QCursor(picture, 6, 1);
    }();
    return hand;
}

bool isHand(const QWidget* w)
{
    const QCursor c = w->cursor();
    return c.shape() == Qt::BitmapCursor && c.hotSpot() == handForTests().hotSpot();
}

QMessageBox* visibleMessageBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

// Runs `inspect` on the first message box that appears, then presses its OK
// button, from the event loop that the box itself runs.
void whenMessageBoxShows(QObject* context, std::function<void(QMessageBox*)> inspect)
{
    auto* timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, inspect = std::move(inspect)] {
        QMessageBox* box = visibleMessageBox();
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        inspect(box);
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    timer->start(10);
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

    void pageLookAndTwips()
    {
        SamplePage page;
        QCOMPARE(page.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(page.autoFillBackground());
        QCOMPARE(page.label->font().family(), QStringLiteral("Arial"));
        QCOMPARE(page.label->font().pointSize(), 9);
        QCOMPARE(page.label->font().weight(), QFont::Bold);
        QCOMPARE(page.text->font().weight(), QFont::Bold);
        QCOMPARE(page.next->palette().color(QPalette::Button), QColor(Qt::white));
        // Text boxes and lists keep the system's colours.
        QCOMPARE(page.text->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));

        const QImage icon = page.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(icon.size(), QSize(32, 32));
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                QCOMPARE(qAlpha(icon.pixel(x, y)), 0);

        if (page.logicalDpiX() != 96)
            QSKIP("the twips figures below are for 96 dpi");
        QCOMPARE(TwipsPerPixel(&page), 15.0);
        QCOMPARE(page.size(), QSize(393, 211));
        QCOMPARE(page.next->geometry(), QRect(136, 176, 121, 27));
        // Fixed border: the size cannot be changed by the user.
        QCOMPARE(page.minimumSize(), page.maximumSize());
        QVERIFY(!(page.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(page.windowFlags() & Qt::WindowMinimizeButtonHint);
        page.SetOuterHeightTwips(page.OuterHeightTwips() + 2000);
        QCOMPARE(page.height(), 211 + 133);
    }

    void centresByOuterSizeEvenWhenLargerThanTheScreen()
    {
        // Centred while still hidden, as the load steps do it.
        SamplePage page;
        CenterForm(page);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QRect screen = page.screen()->geometry();
        QTRY_VERIFY(std::abs(page.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(std::abs(page.frameGeometry().center().y() - screen.center().y()) <= 1);
        QVERIFY(page.frameGeometry().left() > 0);

        Page large;
        large.SetClientSizeTwips(qRound(PixelsToTwips(screen.width() + 301, &large)),
                                 qRound(PixelsToTwips(screen.height() + 121, &large)));
        large.show();
        QVERIFY(QTest::qWaitForWindowExposed(&large));
        CenterForm(large);
        QTRY_VERIFY(large.frameGeometry().left() < 0);
        QVERIFY(large.frameGeometry().top() < 0);
        QVERIFY(std::abs(large.frameGeometry().left() + (large.frameGeometry().width() - screen.width()) / 2) <= 1);
        QVERIFY(std::abs(large.frameGeometry().top() + (large.frameGeometry().height() - screen.height()) / 2) <= 1);
    }

    void pointerRuleFollowsTheMouse()
    {
        SamplePage page;
        page.SetMouseIcon(handForTests());
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const Qt::CursorShape textOwn = page.text->cursor().shape();
        QCOMPARE(textOwn, Qt::IBeamCursor);

        // Over an enabled button: the hand over the whole page, text box included.
        QTest::mouseMove(page.next);
        QTRY_COMPARE(page.MousePointer(), 99);
        QVERIFY(isHand(&page));
        QVERIFY(isHand(page.text));
        QVERIFY(isHand(page.list->viewport()));

        // A label has no rule: nothing changes.
        QTest::mouseMove(page.label);
        QTest::qWait(20);
        QCOMPARE(page.MousePointer(), 99);

        // Over a text box: the default, and every control its own pointer again.
        QTest::mouseMove(page.text);
        QTRY_COMPARE(page.MousePointer(), 0);
        QCOMPARE(page.text->cursor().shape(), Qt::IBeamCursor);
        QCOMPARE(page.next->cursor().shape(), Qt::ArrowCursor);

        // The list's inner area counts as the list; the page's own background too.
        QTest::mouseMove(page.next);
        QTRY_COMPARE(page.MousePointer(), 99);
        QTest::mouseMove(page.list->viewport());
        QTRY_COMPARE(page.MousePointer(), 0);
        QTest::mouseMove(page.next);
        QTRY_COMPARE(page.MousePointer(), 99);
        QTest::mouseMove(&page, QPoint(page.width() - 2, page.height() - 2));
        QTRY_COMPARE(page.MousePointer(), 0);

        // A disabled button never reports the mouse.
        QTest::mouseMove(page.back);
        QTest::qWait(20);
        QCOMPARE(page.MousePointer(), 0);
    }

    void busyPointerStaysAndCoversEverything()
    {
        SamplePage page;
        page.SetMouseIcon(handForTests());
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));

        page.SetMousePointer(11);
        QCOMPARE(page.text->cursor().shape(), Qt::WaitCursor);
        QCOMPARE(page.next->cursor().shape(), Qt::WaitCursor);
        QCOMPARE(page.list->viewport()->cursor().shape(), Qt::WaitCursor);
        QTest::mouseMove(page.next);
        QTest::mouseMove(page.text);
        QTest::mouseMove(&page, QPoint(2, page.height() - 2));
        QTest::qWait(20);
        QCOMPARE(page.MousePointer(), 11);
        QCOMPARE(page.next->cursor().shape(), Qt::WaitCursor);

        // From busy straight to the hand and back to the default: each
        // control gets back the pointer it had before the first change.
        page.SetMousePointer(99);
        QVERIFY(isHand(page.text));
        page.SetMousePointer(0);
        QCOMPARE(page.text->cursor().shape(), Qt::IBeamCursor);
        QCOMPARE(page.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!page.next->testAttribute(Qt::WA_SetCursor));
    }

    void busyAndDisabledPageStillShowsTheHourglass()
    {
        SamplePage page;
        page.SetMousePointer(11);
        page.setEnabled(false);
        QVERIFY(!QGuiApplication::overrideCursor()); // not on the screen yet

        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);

        page.setEnabled(true);
        QVERIFY(!QGuiApplication::overrideCursor());
        page.setEnabled(false);
        QVERIFY(QGuiApplication::overrideCursor());
        page.SetMousePointer(0);
        QVERIFY(!QGuiApplication::overrideCursor());
        page.SetMousePointer(11);
        QVERIFY(QGuiApplication::overrideCursor());
        page.hide();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void handValueWithoutIconShowsTheArrow()
    {
        SamplePage page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTest::mouseMove(page.next);
        QTRY_COMPARE(page.MousePointer(), 99);
        QCOMPARE(page.next->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(page.text->cursor().shape(), Qt::ArrowCursor);
        // An icon arriving while the value is 99 shows at once.
        page.SetMouseIcon(handForTests());
        QVERIFY(isHand(page.text));
    }

    void buttonActsOncePerMouseClickAndLooksReleased()
    {
        SamplePage page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        CheckButton* button = page.next;
        QSignalSpy clicks(button, &CheckButton::Click);
        int actions = 0;
        bool releasedDuringAction = false;
        button->OnClick([&] {
            ++actions;
            releasedDuringAction = button->Value() == 0 && !button->isDown();
        });

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(actions, 1);
        QVERIFY(releasedDuringAction);
        QCOMPARE(button->Value(), 0);
        QCOMPARE(clicks.count(), 2); // the press, and the reset that finds 0

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(actions, 2);
        QCOMPARE(button->Value(), 0);

        // Setting the value from code is a click as well.
        button->SetValue(1);
        QCOMPARE(actions, 3);
        QCOMPARE(button->Value(), 0);

        // A disabled button does nothing.
        button->setEnabled(false);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(actions, 3);
    }

    void buttonKeyboardTabAndSpaceOnly()
    {
        QWidget window;
        auto* box = new QLineEdit(&window);
        auto* button = new CheckButton(QStringLiteral("Test Connection"), &window);
        button->move(0, 40);
        int actions = 0;
        button->OnClick([&] { ++actions; });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(button->accessibleName(), QStringLiteral("Test Connection"));

        // A click does not take the focus; Tab reaches the button.
        box->setFocus();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), box);
        QTest::keyClick(box, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button);
        actions = 0;

        for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(button, Qt::Key(key));
            QCOMPARE(actions, 0);
            QCOMPARE(button->Value(), 0);
        }

        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(actions, 1);
        QCOMPARE(button->Value(), 0);
        // Holding the bar down repeats the key, not the action.
        const auto send = [button](QEvent::Type type, bool repeated) {
            QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), repeated);
            QApplication::sendEvent(button, &event);
        };
        send(QEvent::KeyPress, false);
        for (int i = 0; i < 3; ++i) {
            send(QEvent::KeyRelease, true);
            send(QEvent::KeyPress, true);
        }
        send(QEvent::KeyRelease, false);
        QCOMPARE(actions, 2);
        QCOMPARE(button->Value(), 0);
    }

    void buttonCaptionSitsInTheLowerPart()
    {
        QWidget window;
        QPalette white;
        white.setColor(QPalette::Window, Qt::white);
        window.setPalette(white);
        auto* button = new CheckButton(QStringLiteral("Quit"), &window);
        button->setGeometry(0, 0, TwipsToPixels(1815, button), TwipsToPixels(400, button));
        auto* plain = new CheckButton(QStringLiteral("Quit"), &window, false);
        plain->setGeometry(0, 40, button->width(), button->height());
        QVERIFY(button->HasPicture());
        QVERIFY(!plain->HasPicture());

        // The middle row of the caption's dark pixels, away from the bevel.
        const auto captionMiddle = [](CheckButton* b) {
            const QImage face = b->grab().toImage();
            int top = face.height(), bottom = -1;
            for (int y = 3; y < face.height() - 3; ++y)
                for (int x = 4; x < face.width() - 4; ++x)
                    if (qGray(face.pixel(x, y)) < 100) {
                        top = std::min(top, y);
                        bottom = std::max(bottom, y);
                    }
            return bottom < 0 ? -1.0 : (top + bottom) / 2.0;
        };
        const double withPicture = captionMiddle(button);
        const double withoutPicture = captionMiddle(plain);
        QVERIFY(withPicture >= 0 && withoutPicture >= 0);
        QVERIFY2(std::abs(withoutPicture - plain->height() / 2.0) <= 2, qPrintable(QString::number(withoutPicture)));
        QVERIFY2(withPicture > button->height() / 2.0 + 1, qPrintable(QString::number(withPicture)));
    }

    void closingAPageEndsTheProgramUnlessItRefuses()
    {
        SamplePage page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.mayClose = false;
        QVERIFY(!page.close());
        QVERIFY(ends_.isEmpty());
        QVERIFY(page.isVisible());

        page.mayClose = true;
        QVERIFY(page.close());
        QCOMPARE(ends_, QList<int>{0});
    }

    void endingStopsEverythingAtOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("code");
        QTest::newRow("EndProgram from a timer") << QStringLiteral("end") << 3;
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
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAllStandardOutput();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), code);
        QVERIFY2(out.contains("started"), out.constData());
        QVERIFY2(!out.contains("after end"), out.constData());
        QVERIFY2(!out.contains("loop finished"), out.constData());
    }

    void failureReportShowsNumberAndDescriptionThenEnds()
    {
        QString title, text;
        QList<QAbstractButton*> buttons;
        Qt::TextFormat format = Qt::AutoText;
        whenMessageBoxShows(this, [&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            buttons = box->buttons();
            format = box->textFormat();
        });
        const QString description = QStringLiteral("ORA-00942: table or view <b>EMP</b> does not exist");
        ReportFailureAndEnd(-2147217865, description);

        QCOMPARE(title, QStringLiteral("Dervanta"));
        QVERIFY2(text.contains(QStringLiteral("-2147217865")), qPrintable(text));
        QVERIFY2(text.contains(description), qPrintable(text));
        QCOMPARE(format, Qt::PlainText); // a server's message is never markup
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(ends_, QList<int>{1});
    }

    void homePageOpensOnlyOnSeven_data()
    {
        QTest::addColumn<double>("draw");
        QTest::addColumn<bool>("opens");
        QTest::newRow("n = 1") << 0.0 << false;
        QTest::newRow("n = 6") << 0.0599 << false;
        QTest::newRow("n = 7, low edge") << 0.06 << true;
        QTest::newRow("n = 7, high edge") << 0.069999 << true;
        QTest::newRow("n = 8") << 0.07 << false;
        QTest::newRow("n = 100") << 0.999999 << false;
        QTest::newRow("out of range") << 1.0 << false;
    }

    void homePageOpensOnlyOnSeven()
    {
        QFETCH(double, draw);
        QFETCH(bool, opens);
        QList<QUrl> opened;
        SetHomePageHooks([draw] { return draw; }, [&opened](const QUrl& url) { opened.append(url); });
        MaybeShowHomePage();
        QCOMPARE(opened.size(), opens ? 1 : 0);
        if (opens) {
            QCOMPARE(opened.first(), QUrl(QString::fromLatin1(kHomePageAddress)));
            QVERIFY(opened.first().isValid());
            QCOMPARE(opened.first().scheme(), QStringLiteral("https"));
        }
    }

    void homePageFailuresAreIgnored()
    {
        SetHomePageHooks([] { return 0.065; }, [](const QUrl&) { throw std::runtime_error("no browser"); });
        MaybeShowHomePage();
        SetHomePageHooks([]() -> double { throw std::runtime_error("no clock"); }, nullptr);
        MaybeShowHomePage();
    }

    void homePageDrawIsOneInAHundredOverTheDay()
    {
        int sevens = 0;
        for (int second = 0; second < 24 * 60 * 60; ++second) {
            const double r = HomePageDraw(second);
            QVERIFY(r >= 0.0 && r < 1.0);
            sevens += static_cast<int>(r * 100) + 1 == 7;
        }
        // 864 expected; the bounds are five standard deviations away.
        QVERIFY2(sevens > 715 && sevens < 1013, qPrintable(QString::number(sevens)));
        QCOMPARE(HomePageDraw(12345), HomePageDraw(12345));
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
        if (how == "close")
            page.close();
        else
            EndProgram(3);
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
    const QByteArray child = qgetenv("DERVANTA_SHELL_END_CHILD");
    if (!child.isEmpty())
        return runEndingChild(argc, argv, child);
    QApplication app(argc, argv);
    FrameTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_shell_frame.moc"
