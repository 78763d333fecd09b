#pragma once

// A one-line box for a date, a date and time, or a time, as the database
// writes them. What is typed is kept exactly (the database judges it), so
// microseconds and time zones survive: nothing here goes through QDateTime,
// which holds milliseconds only. A date box has a calendar (the button at
// its right, or Alt+Down) whose day replaces the date part of the text and
// leaves the rest as it was.

#include <QDate>
#include <QLineEdit>

#include <functional>

class DateEdit : public QLineEdit {
    Q_OBJECT
public:
    // `withDate`: offers the calendar; `withTime`: a day chosen for an
    // empty box gets midnight after it.
    DateEdit(QWidget* parent, bool withDate, bool withTime);

    void openCalendar();

    // The text with its date part (YYYY-MM-DD at its start) set to `day`.
    static QString WithDate(const QString& text, QDate day, bool withTime);
    // The date at the start of a text; invalid when there is none.
    static QDate DateOf(const QString& text);
    // A calendar popped up under `anchor` (its child, deleted when closed);
    // `chosen` gets the day picked with a click or Enter. Esc closes it.
    static void ShowCalendar(QWidget* anchor, QDate day, std::function<void(QDate)> chosen);
    static QIcon CalendarIcon();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool withDate_;
    bool withTime_;
};
