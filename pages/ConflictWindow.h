#pragma once

// The window shown when a row could not be written because another user
// changed or deleted it since it was read: one line per column with the
// value as read, the value typed and the value now in the database, the
// differences marked in words as well as by look, and the user's choice of
// what to do with the row. It only asks; the grid carries the choice out.

#include "oracle/Engine.h"

#include <QDialog>

#include <optional>
#include <vector>

class QPushButton;
class QTableWidget;

class ConflictWindow : public QDialog {
    Q_OBJECT
public:
    enum class Choice {
        KeepEditing,    // the row stays pending, checked from now on against the database's values
        UseTheirs,      // the typed values go, the row shows the database's values
        Overwrite,      // the typed values are written over the database's values
        InsertAsNewRow, // the row is gone: write it again as a new row
        Discard,        // the row is gone: drop it and the typed values
    };

    // `current` is the row as the database holds it now; none when the row
    // was deleted. `typed` has a value where the user typed one.
    ConflictWindow(const std::vector<ColumnInfo>& columns, const std::vector<Value>& read,
                   const std::vector<std::optional<Value>>& typed, const std::optional<std::vector<Value>>& current,
                   QWidget* parent);

    // Shows the window until the user chooses; Esc and closing it keep editing.
    Choice Ask();

    // The headings of the table's parts (also the columns' accessible names).
    static QString ReadHeading() { return QStringLiteral("As Read"); }
    static QString TypedHeading() { return QStringLiteral("Typed by You"); }
    static QString CurrentHeading() { return QStringLiteral("Now in the Database"); }
    static QString ChangedHeading() { return QStringLiteral("Changed By"); }

private:
    QPushButton* addChoice(const QString& text, const QString& tip, Choice choice);
    QPushButton* addChoices(bool deleted);
    void addLine(int line, const ColumnInfo& info, const Value& was, const std::optional<Value>& typed, const Value* now);
    void fitToContents();

    QTableWidget* table_ = nullptr;
    QWidget* buttons_ = nullptr;
    Choice choice_ = Choice::KeepEditing;
};
