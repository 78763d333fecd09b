#pragma once

// The grid's current row as a form, in a tool window of the editor page: one
// field per column with its name and type. Texts of any length are edited in
// a multi-line box (JSON shown indented), binary and large-object values show
// their size and first bytes and go to and come from files, and any field
// can be set to NULL. Every edit is an edit of the grid's pending row, made
// when a text field loses the focus (or on Ctrl+Enter); the row is written
// when it is left, in the grid or by Previous Row / Next Row here, through
// the grid's own write and its conflict window. F4 goes back to the grid,
// Esc closes the window.

#include <QDialog>
#include <QPointer>

#include <memory>
#include <vector>

class DataGrid;
struct ColumnInfo;
struct Value;
class CellEditors;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class TableModel;

class RowDetailsWindow : public QDialog {
    Q_OBJECT
public:
    RowDetailsWindow(DataGrid* grid, QWidget* page);
    ~RowDetailsWindow() override;

    // Shows the window (or brings it up) on the grid's current row, the
    // focus on its first field.
    void Open();
    // The grid's row shown, -1 when none.
    int Row() const { return row_; }
    // Whether a field holds text typed and not yet put into the row.
    bool holdsTyping() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Field;
    void bind();
    void build();
    std::unique_ptr<Field> makeField(int column, const ColumnInfo& info);
    void addTypedControls(Field& field, QHBoxLayout* top);
    void putText(Field& field, const QString& text);
    void follow();
    void refresh();
    // Shows the row's value in a field, unless the field shows it already.
    void showValue(Field& field, bool force);
    void fill(Field& field, Value value);
    // Puts the field's typed text into the pending row; false when refused.
    bool commit(Field& field);
    bool commitAll();
    void step(int by);
    void setNull(Field& field, bool null);
    void saveToFile(Field& field);
    void loadFromFile(Field& field);
    void backToGrid();
    Field* fieldOf(const QObject* widget) const;

    DataGrid* grid_;
    QPointer<TableModel> model_;
    QList<QMetaObject::Connection> connections_;
    int row_ = -1;
    bool filling_ = false;
    bool placed_ = false;
    Field* committing_ = nullptr;
    CellEditors* lookups_ = nullptr; // the foreign keys' lookups
    QLabel* heading_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* form_ = nullptr;
    QVBoxLayout* fields_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* close_ = nullptr;
    std::vector<std::unique_ptr<Field>> fieldList_;
};
