#pragma once

// The line at the bottom of the grid's area that tells how the reading of
// the table goes ("Reading rows… 3,400,000 of about 10,000,000", with a Stop
// button), how it ended when it did not end by itself, and short notes (why
// a cell cannot be typed into yet). Hidden when there is nothing to say.
// How a read ended, the filter's count and the notes are told to a screen
// reader as they come (the line's label changes its name), also when the
// text is the one shown already.

#include <QTimer>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;

class GridStatusLine : public QWidget {
    Q_OBJECT
public:
    explicit GridStatusLine(QWidget* parent);

    void showReading(qint64 rows, std::optional<qint64> estimate);
    // The read ended by itself: a line that was counting it says so for a
    // while, then goes.
    void showDone(qint64 rows);
    // The read ended early: these stay until the table is opened again.
    // With `budget`: the rows passed the memory budget (that many bytes).
    // mostRows: the read stopped at the rows the grid holds (rather than at the budget).
    void showStopped(qint64 rows, bool outOfMemory = false, std::optional<std::size_t> budget = std::nullopt,
                     std::optional<qint64> mostRows = std::nullopt);
    void showFailed(qint64 rows);
    // The table passed the memory budget and its rows stay in the database
    // (read as they are shown); `counting` while the database counts them,
    // `filtered` when they are the rows a filter lets through.
    // The grid holds at most `mostRows`: overRows, the read passed them
    // (rather than the budget); pastThem, the rows counted do.
    void showInDatabase(qint64 rows, bool counting, std::size_t budget, bool filtered, qint64 mostRows = 0,
                        bool overRows = false);
    // While a filter is in force: "12 of 1,000,000 rows"; nothing otherwise.
    void showFiltered(std::optional<std::pair<qint64, qint64>> shownOfTotal);
    // Long work on the rows ("Sorting…"), with Stop: said instead of the
    // state until endBusy.
    void showBusy(const QString& what);
    void endBusy();
    // What the cells selected hold (see SelectionSummary); empty: nothing.
    void showSelection(const QString& summary);
    // A note for a few seconds after what the line says now.
    void showNote(const QString& note);
    // Nothing to say: the line goes.
    void clear();

    QString text() const;
    QPushButton* stopButton() const { return stop_; }

    // Numbers as the user's locale groups them (in English without one).
    static QString number(qint64 n);

signals:
    void stopRequested();
    // Shown or hidden: the grid lays itself out again.
    void shownChanged();

private:
    void setShown(bool shown);
    void refresh(bool announce = false);

    QLabel* text_ = nullptr;
    QPushButton* stop_ = nullptr;
    QString state_;
    QString busy_;
    QString filtered_;
    QString selection_;
    QString note_;
    QTimer noteTimer_;
    bool reading_ = false; // the line counts the rows of a read
};
