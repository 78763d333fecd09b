#include "support/RowWindowsSupport.h"

#include "pages/ConflictWindow.h"
#include "pages/DataGrid.h"
#include "pages/Form3.h"
#include "support/PageSupport.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest/QtTest>

namespace RowWindowsSupport {

EngineTable::EngineTable(const QString& engine, const std::string& base)
{
    if (engine == QLatin1String("sqlite")) {
        lite_ = std::make_unique<TestSupport::ScratchSqlite>();
        name_ = base;
    } else {
        pg_ = std::make_unique<TestSupport::ScratchPgRole>();
        name_ = TestSupport::uniqueName(base);
    }
}

EngineTable::~EngineTable() = default;

void EngineTable::exec(const std::string& sql) const { lite_ ? lite_->exec(sql) : pg_->exec(sql); }

std::string EngineTable::value(const std::string& sql) const
{
    const TestSupport::Rows rows = lite_ ? lite_->query(sql) : TestSupport::pgQuery(sql, TestSupport::PgRole::Superuser);
    return rows.empty() ? "<no row>" : rows[0][0].value_or("<NULL>");
}

DataGrid& EngineTable::open() const
{
    using PageSupport::startAndOpen;
    if (lite_)
        return *startAndOpen(lite_->dataSource(), QString::fromStdString(name_)).DataGrid1;
    return *startAndOpen(TestSupport::pgDataSource(), QString::fromStdString(name_), QString::fromStdString(pg_->name()),
                         QString::fromStdString(pg_->password()))
                .DataGrid1;
}

void addEngines()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

const ConflictLine* SeenConflict::line(const QString& column) const
{
    for (const ConflictLine& l : lines)
        if (l.column == column)
            return &l;
    return nullptr;
}

ConflictCatcher::ConflictCatcher(Answer answer) : answer_(std::move(answer))
{
    connect(&timer_, &QTimer::timeout, this, &ConflictCatcher::poll);
    timer_.start(10);
}

void ConflictCatcher::poll()
{
    // Followed by a guard: an answer (or the wait for the focus) may end it.
    const QPointer<ConflictWindow> window = qobject_cast<ConflictWindow*>(QApplication::activeModalWidget());
    if (!window || !window->isVisible() || handled_.contains(window))
        return;
    handled_.append(window);
    // As a user meets it: the window has the focus (a window manager gives
    // it a moment after it shows).
    PageSupport::activate(*window);
    if (!window)
        return;

    SeenConflict s;
    s.title = window->windowTitle();
    if (auto* text = window->findChild<QLabel*>(QStringLiteral("conflictText")))
        s.text = text->text();
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("conflictValues"));
    if (table) {
        // The parts by their headings, wherever they stand.
        const auto part = [table](const QString& heading) {
            for (int c = 0; c < table->columnCount(); ++c)
                if (table->horizontalHeaderItem(c)->text() == heading)
                    return c;
            return -1;
        };
        const int read = part(ConflictWindow::ReadHeading());
        const int typed = part(ConflictWindow::TypedHeading());
        const int now = part(ConflictWindow::CurrentHeading());
        const int changed = part(ConflictWindow::ChangedHeading());
        s.nowShown = !table->isColumnHidden(now);
        for (int r = 0; r < table->rowCount(); ++r) {
            ConflictLine l;
            l.column = table->item(r, 0)->text();
            l.read = table->item(r, read)->text();
            l.typed = table->item(r, typed)->text();
            l.typedBold = table->item(r, typed)->font().bold();
            if (s.nowShown) {
                l.now = table->item(r, now)->text();
                l.nowBold = table->item(r, now)->font().bold();
                l.changed = table->item(r, changed)->text();
            }
            s.lines.append(l);
        }
    }
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        s.buttons.append(b->accessibleName());
        if (b->isDefault())
            s.defaultButton = b->accessibleName();
    }
    seen.append(s);

    const QString answer = answer_ ? answer_(window) : QString();
    // Answered already, by the keys the answer pressed.
    if (!window || !window->isVisible())
        return;
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (!answer.isEmpty() && b->accessibleName() == answer) {
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    if (!answer.isEmpty())
        qWarning("ConflictCatcher: no button named %s", qPrintable(answer));
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus && window->isAncestorOf(focus) ? focus : window, Qt::Key_Escape);
}

FileDialogAnswer::FileDialogAnswer(QString path, std::optional<QString> nullText)
    : path_(std::move(path)), nullText_(std::move(nullText))
{
    connect(&timer_, &QTimer::timeout, this, &FileDialogAnswer::poll);
    timer_.start(10);
}

void FileDialogAnswer::poll()
{
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (answered_ || !dialog || !dialog->isVisible())
        return;
    answered_ = true;
    title = dialog->windowTitle();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (path_.isEmpty() || !name) {
        if (!name)
            qWarning("FileDialogAnswer: the dialog has no file name box");
        QTest::keyClick(dialog, Qt::Key_Escape);
        return;
    }
    // The folder as a user would pick it; the file's name typed and Enter.
    // (Typing a slash makes the dialog change folders while it takes the keys.)
    if (nullText_) {
        PageSupport::maybeScreenshot(QStringLiteral("export-dialog"));
        auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("nullTextEdit"));
        if (!box)
            qWarning("FileDialogAnswer: the dialog has no NULL box");
        else
            box->setText(*nullText_);
    }
    const QFileInfo file(path_);
    dialog->setDirectory(file.absolutePath());
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, file.fileName());
    // The completion list the typing opened would take the Enter.
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    QTest::keyClick(name, Qt::Key_Return);
    // A dialog that stayed up would hold the test until its time runs out.
    QPointer<QFileDialog> up(dialog);
    QTimer::singleShot(3000, dialog, [up] {
        if (up && up->isVisible()) {
            qWarning("FileDialogAnswer: the dialog did not take the path");
            up->reject();
        }
    });
}

} // namespace RowWindowsSupport
