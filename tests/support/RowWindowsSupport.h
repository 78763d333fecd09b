#pragma once

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

class ConflictWindow;
class QFileDialog;

namespace RowWindowsSupport {

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
class FileDialogAnswer : public QObject {
public:
    explicit FileDialogAnswer(QString path);
    bool answered() const { return answered_; }
    QString title;

private:
    void poll();

    QString path_;
    bool answered_ = false;
    QTimer timer_;
};

} // namespace RowWindowsSupport
