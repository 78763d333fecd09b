#pragma once

// The "Columns" window: every column of the grid in its order on the screen,
// each with a check box (checked: shown). Space ticks the current one, the
// arrows move through them; OK takes the choice, Cancel (Esc) leaves the
// columns as they were. At least one column must stay shown: OK is off while
// none is ticked, and a line says why.

#include <QDialog>
#include <QList>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

class ColumnsWindow : public QDialog {
    Q_OBJECT
public:
    ColumnsWindow(QWidget* parent, const QStringList& names, const QList<bool>& shown);

    // Whether each column is to be shown, in the order given.
    QList<bool> shown() const;
    QListWidget* list() const { return list_; }
    QPushButton* okButton() const { return ok_; }

private:
    void ticked();

    QListWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
    QLabel* note_ = nullptr;
};
