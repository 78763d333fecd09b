#include "support/PageSupport.h"

#include "oracle/BlockMemory.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/GridFilterRow.h"
#include "pages/GridLayout.h"
#include "pages/Startup.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "pages/WaitWindow.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"
#include "shell/SettingsStore.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace PageSupport {

namespace {

const QString kApplication = QStringLiteral("Marrowick");
const QString kSection = QStringLiteral("Dervanta");

} // namespace

void prepareEnvironment()
{
    // As the program does.
    ShareHeapsBetweenThreads();
    // Lives until the process ends; the tests never see the user's own store.
    static QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
}

QList<int>& programEnds()
{
    static QList<int> ends;
    return ends;
}

void installHooks()
{
    SetEndProgramHandler([](int code) { programEnds().append(code); });
    SetHomePageHooks([] { return 0.5; }, [](const QUrl&) {});
    InstallWaitWindow();
    const QString source = qEnvironmentVariable("DERVANTA_SOURCE_DIR");
    if (!source.isEmpty())
        SetHandPointerFolder(source + QStringLiteral("/resources"));
}

void storeLogin(const QString& sid, const QString& user, const QString& password)
{
    SettingsSave(kApplication, kSection, QStringLiteral("OracleSID"), sid);
    SettingsSave(kApplication, kSection, QStringLiteral("OracleUser"), user);
    SettingsSave(kApplication, kSection, QStringLiteral("OraclePassword"), password);
}

QString storedValue(const QString& key) { return SettingsGet(kApplication, kSection, key); }

void resetPages()
{
    DestroyFormsForTests();
    // A table of the same name in the next test starts with no layout.
    QFile::remove(GridLayout::filePath());
    storeLogin({}, {}, {});
    programEnds().clear();
    QCoreApplication::processEvents();
}

BoxCatcher::BoxCatcher(Inspect inspect)
    : inspect_(std::move(inspect))
{
    connect(&timer_, &QTimer::timeout, this, &BoxCatcher::poll);
    timer_.start(10);
}

void BoxCatcher::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    for (const QPointer<QMessageBox>& known : handled_)
        if (known == box)
            return;
    handled_.append(box);

    SeenBox s{box->windowTitle(), box->text(), box->detailedText(), {}};
    for (QAbstractButton* b : box->buttons())
        s.buttons.append(box->standardButton(b) == QMessageBox::Ok ? QStringLiteral("OK") : b->text());
    seen.append(s);

    const QString answer = inspect_ ? inspect_(box) : QString();
    if (!box)
        return;
    QAbstractButton* press = nullptr;
    for (QAbstractButton* b : box->buttons())
        if (!answer.isEmpty() && b->text() == answer)
            press = b;
    if (!press && !answer.isEmpty())
        qWarning("BoxCatcher: no button named %s", qPrintable(answer));
    if (!press)
        press = box->escapeButton() ? box->escapeButton() : static_cast<QAbstractButton*>(box->defaultButton());
    if (!press && !box->buttons().isEmpty())
        press = box->buttons().first();
    if (press)
        press->click();
}

void activate(QWidget& window)
{
    QApplication::setActiveWindow(&window);
    if (!QTest::qWaitForWindowActive(&window))
        qWarning("%s did not become active", qPrintable(window.objectName()));
}

void chooseAndOpen(const QString& table)
{
    Form2& form2 = GetForm2();
    TableList& list = *form2.List1;
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i) == table) {
            QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                              list.visualRect(list.model()->index(i, 0)).center());
            break;
        }
    QCOMPARE(list.List(list.ListIndex()), table);
    QTest::mouseClick(form2.Check3, Qt::LeftButton);
    if (!programEnds().isEmpty() || !GetForm3().isVisible())
        return;
    activate(GetForm3());
}

Form3& startAndOpen(const QString& sid, const QString& table, const QString& user, const QString& password)
{
    storeLogin(sid, user, password);
    StartProgram();
    chooseAndOpen(table);
    return GetForm3();
}

QString cellText(const QAbstractItemView& grid, int row, int column)
{
    return grid.model()->index(row, column).data().toString();
}

void typeIntoCell(DataGrid& grid, int row, int column, const QString& text)
{
    grid.setFocus();
    grid.setCurrentIndex(grid.model()->index(row, column));
    QTest::keyClick(&grid, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY2(editor, "no cell editor opened");
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits and closes its editor from the event loop.
    QTRY_VERIFY(!grid.indexWidget(grid.currentIndex()));
}

void typeFilter(DataGrid& grid, int column, const QString& text)
{
    QLineEdit* box = grid.filterRow()->box(column);
    QVERIFY(box && box->isVisible());
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    // The filter applies a moment after the typing stops: every key put it
    // off again, so the view for the whole text comes after the last key
    // (one for part of it may have come before).
    QSignalSpy applied(grid.model(), &QAbstractItemModel::modelReset);
    QTRY_VERIFY(!applied.isEmpty());
}

void maybeScreenshot(const QString& name)
{
    const QString dir = qEnvironmentVariable("DERVANTA_SCREENSHOT_DIR");
    if (dir.isEmpty() || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    QTest::qWait(300);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        screen->grabWindow(0).save(QDir(dir).filePath(name + ".png"));
}

} // namespace PageSupport
