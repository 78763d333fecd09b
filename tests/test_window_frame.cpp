// The pages under a window manager that frames them (run through
// tests/run-with-window-manager on X): the frame becomes known only after a
// page is first shown, and from then on the centring and the editor's layout
// count it, without the user resizing anything.

#include "pages/DataGrid.h"
#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QImage>
#include <QScreen>
#include <QWindow>

using namespace PageSupport;

namespace {

// The window's outer rectangle as the X server and the window manager have
// it now (QWidget::frameGeometry() takes a new frame over only when the
// window next moves).
QRect outer(const QWidget& w) { return w.windowHandle()->frameGeometry(); }

bool frameKnown(const QWidget& w) { return w.windowHandle() && outer(w) != w.geometry(); }

// The outer rectangle's middle at the screen's middle, to the pixel.
bool centred(const QWidget& w)
{
    const QPoint off = outer(w).center() - w.screen()->geometry().center();
    return std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1;
}

// The page's own white shows on the screen at its client area's top right
// corner (an unmapped window leaves Xvfb's black there).
bool onScreen(const QWidget& w)
{
    const QPoint corner = w.mapToGlobal(QPoint(w.width() - 3, 2));
    const QImage screen = w.screen()->grabWindow(0).toImage();
    return screen.valid(corner) && screen.pixelColor(corner) == QColor(Qt::white);
}

QString describe(const QRect& r) { return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()); }

} // namespace

class TestWindowFrame : public PageTest {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // The window manager may still be starting: wait until it frames a window.
        QWidget probe;
        probe.resize(200, 100);
        probe.show();
        QTRY_VERIFY2_WITH_TIMEOUT(frameKnown(probe), "no window manager frames the windows", 20000);
        // A title bar: what the editor's formulas must not miss.
        const QMargins frame = probe.windowHandle()->frameMargins();
        QVERIFY2(frame.top() > frame.bottom(), qPrintable(describe(outer(probe))));
    }

    void pagesAreCentredByTheirOuterSize()
    {
        Form1& form = GetForm1();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(frameKnown(form));
        QTRY_VERIFY2(centred(form), qPrintable(describe(outer(form))));
        // Still the design's client size.
        QCOMPARE(form.size(), QSize(TwipsToPixels(5895, &form), TwipsToPixels(3165, &form)));

        TestSupport::ScratchSqlite db("create table t (a)");
        form.Text1->setText(db.dataSource());
        QTest::mouseClick(form.Check3, Qt::LeftButton);
        Form2& chooser = GetForm2();
        QVERIFY(chooser.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QTRY_VERIFY(frameKnown(chooser));
        QTRY_VERIFY2(centred(chooser), qPrintable(describe(outer(chooser))));
    }

    void theEditorCountsTheFrameRightAfterOpening()
    {
        TestSupport::ScratchSqlite db("create table people (id integer primary key, name text);"
                                      "insert into people values (1, 'Ann');");
        storeLogin(db.dataSource());
        StartProgram();
        Form2& chooser = GetForm2();
        QVERIFY(chooser.isVisible());
        QCOMPARE(chooser.List1->ListIndex(), 0);
        QTest::mouseClick(chooser.Check3, Qt::LeftButton);
        Form3& editor = GetForm3();
        QVERIFY(editor.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QTRY_VERIFY(frameKnown(editor));

        const auto gridShort = [&editor] {
            const double outerTwips = PixelsToTwips(outer(editor).height(), &editor);
            return editor.DataGrid1->height() - TwipsToPixels(outerTwips - 1970, &editor);
        };
        QTRY_VERIFY2(std::abs(gridShort()) <= 1, qPrintable(QString::number(gridShort())));
        const double outerTwips = PixelsToTwips(outer(editor).height(), &editor);
        QVERIFY(std::abs(editor.Check3->y() - TwipsToPixels(outerTwips - 1070, &editor)) <= 1);
        // The top edge where a centred window of the design height has it.
        const int designOuter = outer(editor).height() - TwipsToPixels(2000, &editor);
        const int screenHeight = editor.screen()->geometry().height();
        QVERIFY2(std::abs(outer(editor).top() - (screenHeight - designOuter) / 2) <= 1, qPrintable(describe(outer(editor))));
        QVERIFY(programEnds().isEmpty());
    }

    void theEditorCountsTheFrameAfterAFailedOpening()
    {
        TestSupport::ScratchSqlite db("create table gone (a); create table people (id integer primary key);");
        storeLogin(db.dataSource());
        StartProgram();
        Form2& chooser = GetForm2();
        db.exec("drop table gone");
        BoxCatcher boxes;
        // The editor is shown and hidden at once: no time for a frame.
        chooser.List1->SetListIndex(0);
        QCOMPARE(chooser.List1->List(0), QStringLiteral("gone"));
        QTest::mouseClick(chooser.Check3, Qt::LeftButton);
        QCOMPARE(boxes.count(), 1);
        QVERIFY(!GetForm3().isVisible());

        QCOMPARE(chooser.List1->List(0), QStringLiteral("people"));
        QTest::mouseClick(chooser.Check3, Qt::LeftButton);
        Form3& editor = GetForm3();
        QVERIFY(editor.isVisible());
        // Shown and hidden at once before, it must still come on the screen now.
        QTRY_VERIFY(onScreen(editor));
        QTRY_VERIFY(frameKnown(editor));
        const auto gridShort = [&editor] {
            const double outerTwips = PixelsToTwips(outer(editor).height(), &editor);
            return editor.DataGrid1->height() - TwipsToPixels(outerTwips - 1970, &editor);
        };
        QTRY_VERIFY2(std::abs(gridShort()) <= 1, qPrintable(QString::number(gridShort())));
        QVERIFY(programEnds().isEmpty());
    }

    void aPageTheUserHasMovedStaysWhereItIs()
    {
        Form1& form = GetForm1();
        form.show();
        // Moved at once, before the window manager has framed it.
        const QPoint corner(37, 41);
        form.move(corner);
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(frameKnown(form));
        // Once the page has seen its frame, it has done all it would about it.
        QTRY_VERIFY(form.FrameSettled());
        QVERIFY(!centred(form));
        QVERIFY2(outer(form).topLeft() == corner || form.geometry().topLeft() == corner, qPrintable(describe(outer(form))));
    }
};

DERVANTA_PAGE_TEST_MAIN(TestWindowFrame)
#include "test_window_frame.moc"
