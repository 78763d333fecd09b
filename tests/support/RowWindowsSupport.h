#pragma once

#include <optional>

// Helpers for the tests of the grid's own windows: the conflict window
// caught and answered while its modal loop runs (as BoxCatcher answers
// message boxes), and file dialogs answered by typing a path into them.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class ConflictWindow;
class DataGrid;
class QFileDialog;

namespace TestSupport {
class ScratchSqlite;
class ScratchPgRole;
}

namespace RowWindowsSupport {

// A table on SQLite or PostgreSQL (the engine a test row names), set up and
// read as another user would, through the engines' own clients.
class EngineTable {
public:
    EngineTable(const QString& engine, const std::string& base);
    ~EngineTable();
    bool pg() const { return pg_ != nullptr; }
    void exec(const std::string& sql) const;
    // The first cell of a query, "<NULL>" for NULL, "<no row>" without one.
    std::string value(const std::string& sql) const;
    const std::string& name() const { return name_; }
    // The editor page opened on the table through the real window.
    DataGrid& open() const;

private:
    std::unique_ptr<TestSupport::ScratchSqlite> lite_;
    std::unique_ptr<TestSupport::ScratchPgRole> pg_;
    std::string name_;
};

// The test rows "sqlite" and "postgresql" of an engine column.
void addEngines();

// One line of a conflict window as it showed it.
struct ConflictLine {
    QString column;
    QString read;
    QString typed;
    QString now; // empty when the row was deleted (the part is hidden)
    QString changed;
    bool typedBold = false;
    bool nowBold = false;
};

struct SeenConflict {
    QString title;
    QString text;
    QList<ConflictLine> lines;
    QStringList buttons; // as read aloud: without the & of a mnemonic
    QString defaultButton;
    bool nowShown = false;

    const ConflictLine* line(const QString& column) const;
};

// Watches for conflict windows while alive. Each new one is recorded,
// handed to `answer` (which runs while the window is up and returns the
// name of the button to click), then answered: that button is clicked, or
// Esc is pressed when the answer is empty.
class ConflictCatcher : public QObject {
public:
    using Answer = std::function<QString(ConflictWindow*)>;
    explicit ConflictCatcher(Answer answer = {});

    QList<SeenConflict> seen;
    int count() const { return static_cast<int>(seen.size()); }

private:
    void poll();

    Answer answer_;
    QTimer timer_;
    QList<QPointer<ConflictWindow>> handled_;
};

// Answers the next file dialog by typing `path` into its file name box and
// pressing Enter; an empty path cancels it with Esc. `title` gets its title.
// With `nullText`, that goes into the export's "NULL in CSV as" box first.
class FileDialogAnswer : public QObject {
public:
    explicit FileDialogAnswer(QString path, std::optional<QString> nullText = std::nullopt);
    bool answered() const { return answered_; }
    QString title;

private:
    void poll();

    QString path_;
    std::optional<QString> nullText_;
    bool answered_ = false;
    QTimer timer_;
};

} // namespace RowWindowsSupport
