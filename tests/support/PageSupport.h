#pragma once

// Helpers for the tests that drive the wizard pages: a private settings
// store, program ends recorded instead of carried out, message boxes caught
// and answered while their modal loop runs, and the pages reset between
// test functions.

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QtTest/QtTest>

#include <functional>

class DataGrid;
class Form3;
class QAbstractItemView;

namespace PageSupport {

// Call before the QApplication exists: the settings store goes into a
// temporary folder of its own (XDG_CONFIG_HOME).
void prepareEnvironment();
// Call once the QApplication exists: EndProgram only records, the home page
// is never opened, and the hand pointer comes from the build.
void installHooks();

// The exit codes EndProgram was called with since the last reset.
QList<int>& programEnds();

// Destroys the pages, empties the stored login, forgets the grid's layouts and program ends.
void resetPages();

// The stored login fields.
void storeLogin(const QString& sid, const QString& user = {}, const QString& password = {});
QString storedValue(const QString& key);

// What a caught message box showed.
struct SeenBox {
    QString title;
    QString text;
    QString details;
    QStringList buttons;
};

// Watches for modal message boxes while alive. Each new one is recorded,
// handed to `inspect` (which runs while the box is up and may return the
// text of the button to press), and then answered: the named button, or the
// box's escape/default button.
class BoxCatcher : public QObject {
public:
    using Inspect = std::function<QString(QMessageBox*)>;
    explicit BoxCatcher(Inspect inspect = {});

    QList<SeenBox> seen;
    int count() const { return static_cast<int>(seen.size()); }
    QString lastText() const { return seen.isEmpty() ? QString() : seen.last().text; }

private:
    void poll();

    Inspect inspect_;
    QTimer timer_;
    QList<QPointer<QMessageBox>> handled_;
};

// The base of a test of the pages: each test function starts, and the run
// ends, with the pages destroyed and nothing stored (resetPages).
class PageTest : public QObject {
    Q_OBJECT

private slots:
    void init() { resetPages(); }
    void cleanupTestCase() { resetPages(); }
};

// Makes a page the active window, as a window manager does for a window
// that is shown again (the offscreen platform does not), and waits for it.
void activate(QWidget& window);

// Chooses `table` on the chooser page and presses Next >.
void chooseAndOpen(const QString& table);
// Starts with a stored login that works (so on the chooser) and opens `table`.
Form3& startAndOpen(const QString& sid, const QString& table, const QString& user = {},
                    const QString& password = {});
// A cell's text as the grid shows it.
QString cellText(const QAbstractItemView& grid, int row, int column);
// Types `text` into a cell as a user does: F2 opens the editor, the text
// replaces what was there, Enter puts it into the row (which stays pending).
void typeIntoCell(DataGrid& grid, int row, int column, const QString& text);

// Types `text` into the filter box of a column (the filter row shown) and
// waits until the grid shows what the whole text asks for.
void typeFilter(DataGrid& grid, int column, const QString& text);

// Under xvfb with DERVANTA_SCREENSHOT_DIR set, saves the whole screen there
// as NAME.png (for looking at the pages); does nothing otherwise.
void maybeScreenshot(const QString& name);

} // namespace PageSupport

#define DERVANTA_PAGE_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        PageSupport::prepareEnvironment();                                                                   \
        QApplication app(argc, argv);                                                                        \
        PageSupport::installHooks();                                                                         \
        TestClass test;                                                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
