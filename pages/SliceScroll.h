#pragma once

// Rows kept in the database reach the grid's view a slice at a time (see
// TableModel::base). This keeps the slice around the rows on the screen,
// and lays a scroll bar over the view's own that scrolls over every row:
// its thumb stands for the whole table, and a jump anywhere moves the
// slice there first.

#include <QObject>
#include <QPointer>

class QScrollBar;
class QTableView;
class QTimer;
class TableModel;

class SliceScroll final : public QObject {
    Q_OBJECT
public:
    explicit SliceScroll(QTableView* grid);

    void attach(TableModel* model);
    // Moves the slice to the first or the last rows (Ctrl+Home, Ctrl+End);
    // false when it cannot move now (a row is typed into).
    bool toEdge(bool last);
    // The bar over every row, shown while the slice holds fewer rows.
    QScrollBar* bar() const { return bar_; }
    // Puts the bar over the view's own and gives it the range and place of
    // the rows shown.
    void place();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void viewScrolled();
    void barMoved(int value);
    // The slice is moved before the rows on the screen reach its edge.
    void keepAround();

    QTableView* grid_;
    QPointer<TableModel> model_;
    QScrollBar* bar_;
    QTimer* around_;
    bool syncing_ = false;
};
