#pragma once

// The row of filter boxes under the grid's headings, one box per column,
// each lined up with its column as columns are resized, moved or scrolled.
// A box whose text the column's type cannot read turns red and says why in
// its tool tip (the grid sets that). Esc in a box clears every box.

#include <QWidget>

#include <vector>

class QHeaderView;
class QLineEdit;

class GridFilterRow : public QWidget {
    Q_OBJECT
public:
    explicit GridFilterRow(QWidget* parent);

    // One box per column of the header's model, named after the columns.
    void setColumns(QHeaderView* header, const QStringList& names);
    // Lines the boxes up with the header's sections.
    void followHeader();
    // The columns kept in place at the left (their header, and the room they
    // take), or none: their boxes stay with them, and no other box slips under.
    void setFrozen(QHeaderView* frozen, int width);

    QString text(int column) const;
    // Every box's text, by column.
    QStringList texts() const;
    void setTexts(const QStringList& texts);
    void clear();
    // Marks a box as one the column cannot read (with the reason), or not.
    void setProblem(int column, const QString& problem);
    QLineEdit* box(int column) const;
    void focusColumn(int column);

    // A row as high as one box.
    QSize sizeHint() const override;

signals:
    // Some box's text changed (typed, or cleared).
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QHeaderView* header_ = nullptr;
    QHeaderView* frozen_ = nullptr;
    int frozenWidth_ = 0;
    std::vector<QLineEdit*> boxes_;
};
