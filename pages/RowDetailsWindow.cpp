#include "pages/RowDetailsWindow.h"

#include "oracle/ExactText.h"
#include "oracle/KeyLookup.h"
#include "oracle/TableModel.h"
#include "oracle/ValueCheck.h"
#include "pages/CellEditors.h"
#include "pages/DataGrid.h"
#include "pages/DateEdit.h"
#include "pages/ExactTextEdit.h"
#include "pages/Messages.h"
#include "pages/ValueFiles.h"
#include "pages/ValueText.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QColor kTypedBackground(0xFF, 0xF4, 0xC0); // as the grid marks typed cells
// A box that cannot be typed into is still read by a caret the keys move.
constexpr Qt::TextInteractionFlags kReadByKeys = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;

bool textual(ColumnType type)
{
    return type == ColumnType::Text || type == ColumnType::LargeText || type == ColumnType::Other;
}

// A text box's height for this many lines. A box that holds them all has
// the text's margin below them too (or it would scroll); in one that
// scrolls anyway the next line starts right at its bottom edge instead of
// peeking out cut.
int heightForLines(const QPlainTextEdit& box, int lines, bool holdsAll)
{
    const int margin = static_cast<int>(box.document()->documentMargin());
    return lines * QFontMetrics(box.font()).lineSpacing() + 2 * box.frameWidth() + margin + (holdsAll ? margin + 4 : 2);
}

} // namespace

struct RowDetailsWindow::Field {
    int column = 0;
    ColumnInfo info;
    enum class Mode { Text, LargeText, Bytes } mode = Mode::Text;
    QWidget* box = nullptr;
    QLabel* name = nullptr;
    ExactTextEdit* editor = nullptr;
    QPlainTextEdit* hex = nullptr;
    QLabel* size = nullptr;
    QCheckBox* null = nullptr;
    // By the column's type: a boolean's check box; the calendar, or the
    // list of allowed values or referenced keys, that fills the text box.
    QCheckBox* truth = nullptr;
    QToolButton* pick = nullptr;
    QPushButton* save = nullptr;
    QPushButton* load = nullptr;
    // The value shown, to tell a change in the row from none, and the text
    // the box was filled with, to tell an edit from none.
    Value shown;
    QString filled;
    bool loaded = false;
};

RowDetailsWindow::RowDetailsWindow(DataGrid* grid, QWidget* page)
    : QDialog(page, Qt::Tool), grid_(grid)
{
    setObjectName(QStringLiteral("RowDetailsWindow"));
    setWindowTitle(QStringLiteral("Row Details"));
    setModal(false);
    setSizeGripEnabled(true);
    lookups_ = new CellEditors(this);

    auto* layout = new QVBoxLayout(this);
    heading_ = new QLabel(this);
    heading_->setObjectName(QStringLiteral("rowHeading"));
    heading_->setTextFormat(Qt::PlainText);
    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    layout->addWidget(heading_);

    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    form_ = new QWidget(scroll_);
    fields_ = new QVBoxLayout(form_);
    fields_->setContentsMargins(0, 0, 4, 0);
    fields_->addStretch(1);
    scroll_->setWidget(form_);
    layout->addWidget(scroll_, 1);

    auto* buttons = new QHBoxLayout;
    previous_ = new QPushButton(QStringLiteral("&Previous Row"), this);
    next_ = new QPushButton(QStringLiteral("&Next Row"), this);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    previous_->setAccessibleName(QStringLiteral("Previous Row"));
    next_->setAccessibleName(QStringLiteral("Next Row"));
    close_->setAccessibleName(QStringLiteral("Close"));
    buttons->addWidget(previous_);
    buttons->addWidget(next_);
    buttons->addStretch(1);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    connect(previous_, &QPushButton::clicked, this, [this] { step(-1); });
    connect(next_, &QPushButton::clicked, this, [this] { step(1); });
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);

    // Hidden with the page (Back), as a part of it.
    page->installEventFilter(this);
    connect(grid_, &DataGrid::dataSourceChanged, this, &RowDetailsWindow::bind);
    bind();
}

RowDetailsWindow::~RowDetailsWindow()
{
    // Widgets losing the focus as they go commit nothing.
    filling_ = true;
}

void RowDetailsWindow::bind()
{
    for (const QMetaObject::Connection& c : connections_)
        disconnect(c);
    connections_.clear();
    model_ = grid_->Model();
    build();
    if (model_) {
        const auto structural = [this] {
            row_ = -1;
            follow();
        };
        connections_ << connect(model_, &TableModel::dataChanged, this,
                                [this](const QModelIndex& from, const QModelIndex& to) {
                                    if (row_ >= from.row() && row_ <= to.row())
                                        refresh();
                                });
        connections_ << connect(model_, &TableModel::pendingRowChanged, this, [this] { refresh(); });
        connections_ << connect(model_, &TableModel::readEnded, this, [this] { refresh(); });
        connections_ << connect(model_, &TableModel::modelReset, this, structural);
        connections_ << connect(model_, &TableModel::rowsRemoved, this, structural);
        connections_ << connect(model_, &TableModel::rowsInserted, this, structural);
        connections_ << connect(model_, &TableModel::layoutChanged, this, structural);
        connections_ << connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                                [this] { follow(); });
    }
    row_ = -1;
    follow();
}

void RowDetailsWindow::build()
{
    filling_ = true;
    for (const std::unique_ptr<Field>& f : fieldList_)
        delete f->box;
    fieldList_.clear();
    filling_ = false;
    if (!model_)
        return;

    QWidget* last = nullptr;
    const auto chain = [&last, this](QWidget* w) {
        if (last)
            setTabOrder(last, w);
        last = w;
    };
    const std::vector<ColumnInfo>& columns = model_->columns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
        Field& f = *fieldList_.emplace_back(makeField(static_cast<int>(c), columns[c]));
        for (QWidget* w : {static_cast<QWidget*>(f.editor), static_cast<QWidget*>(f.hex), static_cast<QWidget*>(f.truth),
                           static_cast<QWidget*>(f.pick), static_cast<QWidget*>(f.null), static_cast<QWidget*>(f.save),
                           static_cast<QWidget*>(f.load)})
            if (w)
                chain(w);
        fields_->insertWidget(fields_->count() - 1, f.box);
    }
    chain(previous_);
    chain(next_);
    chain(close_);
}

// One field: its name and type, the NULL box, the text box (or the hex view
// of a binary value), and the file buttons.
std::unique_ptr<RowDetailsWindow::Field> RowDetailsWindow::makeField(int column, const ColumnInfo& info)
{
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto field = std::make_unique<Field>();
    Field& f = *field;
    f.column = column;
    f.info = info;
    const QString name = QString::fromStdString(f.info.name);
    const QString type = QString::fromStdString(f.info.typeName);

    f.box = new QWidget(form_);
    auto* box = new QVBoxLayout(f.box);
    box->setContentsMargins(0, 4, 0, 4);
    box->setSpacing(2);
    auto* top = new QHBoxLayout;
    f.name = new QLabel(name, f.box);
    f.name->setTextFormat(Qt::PlainText);
    QFont bold = f.name->font();
    bold.setBold(true);
    f.name->setFont(bold);
    auto* typeLabel = new QLabel(type, f.box);
    typeLabel->setTextFormat(Qt::PlainText);
    typeLabel->setForegroundRole(QPalette::PlaceholderText);
    f.null = new QCheckBox(QStringLiteral("NULL"), f.box);
    f.null->setAccessibleName(name + QStringLiteral(" is NULL"));
    top->addWidget(f.name);
    top->addWidget(typeLabel);
    top->addStretch(1);
    addTypedControls(f, top);
    top->addWidget(f.null);
    box->addLayout(top);

    f.editor = new ExactTextEdit(f.box);
    f.editor->setAccessibleName(name);
    f.editor->setAccessibleDescription(type);
    // Tab moves on to the next control: the form works by keyboard alone.
    f.editor->setTabChangesFocus(true);
    f.editor->installEventFilter(this);
    f.name->setBuddy(f.editor);
    box->addWidget(f.editor);

    f.hex = new QPlainTextEdit(f.box);
    f.hex->setReadOnly(true);
    f.hex->setTextInteractionFlags(kReadByKeys);
    f.hex->setFont(fixed);
    f.hex->setLineWrapMode(QPlainTextEdit::NoWrap);
    f.hex->setTabChangesFocus(true);
    f.hex->setAccessibleName(name + QStringLiteral(", first bytes"));
    f.hex->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QString(44, u'0')) + 24);
    f.hex->setFixedHeight(heightForLines(*f.hex, 8, false));
    box->addWidget(f.hex);

    auto* bottom = new QHBoxLayout;
    f.size = new QLabel(f.box);
    f.size->setTextFormat(Qt::PlainText);
    f.save = new QPushButton(QStringLiteral("Save to File\u2026"), f.box);
    f.save->setAccessibleName(QStringLiteral("Save %1 to a file").arg(name));
    f.load = new QPushButton(QStringLiteral("Load from File\u2026"), f.box);
    f.load->setAccessibleName(QStringLiteral("Load %1 from a file").arg(name));
    bottom->addWidget(f.size);
    bottom->addStretch(1);
    bottom->addWidget(f.save);
    bottom->addWidget(f.load);
    box->addLayout(bottom);

    connect(f.null, &QCheckBox::clicked, this, [this, &f](bool checked) { setNull(f, checked); });
    connect(f.save, &QPushButton::clicked, this, [this, &f] { saveToFile(f); });
    connect(f.load, &QPushButton::clicked, this, [this, &f] { loadFromFile(f); });
    return field;
}

// The controls a column's type brings beside the text box (see CellEditors).
void RowDetailsWindow::addTypedControls(Field& f, QHBoxLayout* top)
{
    const QString name = QString::fromStdString(f.info.name);
    const ColumnDetails* details = model_->columnDetails(f.column);
    const ColumnType type = f.info.type;
    if (type == ColumnType::Boolean) {
        f.truth = new QCheckBox(QStringLiteral("True"), f.box);
        f.truth->setAccessibleName(name + QStringLiteral(" is true"));
        connect(f.truth, &QCheckBox::clicked, this, [this, &f](bool on) {
            if (!model_ || row_ < 0)
                return;
            if (const std::optional<RowRefusal> why = model_->store(model_->index(row_, f.column), model_->booleanText(on)))
                ShowMessage(this, QString::fromStdString(why->text));
            refresh();
        });
        top->addWidget(f.truth);
        return;
    }
    const bool references = details && details->references;
    const bool choices = details && !details->choices.empty();
    const bool dated = type == ColumnType::Date || type == ColumnType::Timestamp || type == ColumnType::TimestampTz;
    if (!references && !choices && !dated)
        return;
    f.pick = new QToolButton(f.box);
    f.pick->setFocusPolicy(Qt::StrongFocus);
    if (dated) {
        f.pick->setIcon(DateEdit::CalendarIcon());
        f.pick->setToolTip(QStringLiteral("Choose a date"));
        f.pick->setAccessibleName(QStringLiteral("Choose a date for %1").arg(name));
        connect(f.pick, &QToolButton::clicked, this, [this, &f] {
            const QDate shown = DateEdit::DateOf(f.editor->exactText());
            DateEdit::ShowCalendar(f.pick, shown.isValid() ? shown : QDate::currentDate(), [this, &f](QDate day) {
                putText(f, DateEdit::WithDate(f.editor->exactText(), day, f.info.type != ColumnType::Date));
            });
        });
        top->addWidget(f.pick);
        return;
    }
    f.pick->setText(QStringLiteral("Choose"));
    f.pick->setAccessibleName(QStringLiteral("Choose %1").arg(name));
    f.pick->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(f.pick);
    f.pick->setMenu(menu);
    connect(menu, &QMenu::triggered, this, [this, &f](QAction* a) {
        if (a->data().isValid())
            putText(f, a->data().toString());
    });
    if (choices) {
        for (const std::string& choice : details->choices) {
            const QString value = QString::fromStdString(choice);
            menu->addAction(value)->setData(value);
        }
    } else if (KeyLookup* lookup = lookups_->lookup(*model_, f.column)) {
        // The keys beginning with what the box holds, looked up as the list opens.
        menu->addAction(QStringLiteral("Looking up\u2026"))->setEnabled(false);
        connect(menu, &QMenu::aboutToShow, this, [menu, lookup, &f] {
            menu->clear();
            menu->addAction(QStringLiteral("Looking up\u2026"))->setEnabled(false);
            const QString prefix = f.editor->exactText();
            menu->setProperty("dervantaPrefix", prefix);
            lookup->find(prefix);
        });
        connect(lookup, &KeyLookup::found, menu, [menu](const QString& prefix, const KeyLookup::Matches& matches, bool) {
            if (menu->property("dervantaPrefix").toString() != prefix)
                return; // for a list asked for before
            menu->clear();
            for (const KeyLookup::Match& m : matches)
                menu->addAction(m.label.isEmpty() ? m.key : m.key + QStringLiteral(" \u2014 ") + m.label)->setData(m.key);
            if (matches.empty())
                menu->addAction(QStringLiteral("No key begins with this"))->setEnabled(false);
        });
        connect(lookup, &KeyLookup::failed, menu, [menu](const QString& prefix, const QString& reason) {
            if (menu->property("dervantaPrefix").toString() != prefix)
                return; // for a list asked for before
            menu->clear();
            menu->addAction(QStringLiteral("The keys could not be looked up: %1").arg(reason))->setEnabled(false);
        });
    }
    top->addWidget(f.pick);
}

// Puts a text chosen from a list or the calendar into the field, as if typed.
void RowDetailsWindow::putText(Field& f, const QString& text)
{
    if (f.editor->isReadOnly())
        return;
    f.editor->setExactText(text);
    f.editor->document()->setModified(true);
    commit(f);
    f.editor->setFocus();
}

void RowDetailsWindow::follow()
{
    const int now = model_ ? grid_->currentIndex().row() : -1;
    if (now == row_) {
        refresh();
        return;
    }
    // Text typed here and not yet put into the row belongs to the row it
    // was typed into, which the grid has just left: it is written too.
    const int was = row_;
    bool typedHere = false;
    if (model_ && was >= 0 && was < model_->rowCount())
        for (const std::unique_ptr<Field>& f : fieldList_)
            if (f->editor->document()->isModified() && commit(*f))
                typedHere = true;
    row_ = now;
    for (const std::unique_ptr<Field>& f : fieldList_)
        f->loaded = false;
    refresh();
    if (typedHere && model_->isRowPending(was) && was != now)
        grid_->whenIdle([grid = grid_] { grid->commitPendingRow(); });
}

bool RowDetailsWindow::holdsTyping() const
{
    return std::any_of(fieldList_.begin(), fieldList_.end(),
                       [](const std::unique_ptr<Field>& f) { return f->editor->document()->isModified(); });
}

void RowDetailsWindow::refresh()
{
    if (!model_ || row_ >= model_->rowCount())
        row_ = -1;
    QString heading;
    if (!model_)
        heading = QStringLiteral("No table is open.");
    else if (row_ < 0)
        heading = QStringLiteral("No row is chosen.");
    else if (model_->isNewRowPlaceholder(row_))
        heading = QStringLiteral("New row: type into a field to add it.");
    else if (model_->pendingIsNew() && model_->isRowPending(row_))
        heading = QStringLiteral("New row, not saved yet");
    else
        heading = QStringLiteral("Row %1 of %2").arg(model_->rowNumber(row_)).arg(model_->shownRows())
                  + (model_->isRowPending(row_) ? QStringLiteral(", not saved yet") : QString());
    heading_->setText(heading);
    previous_->setEnabled(row_ > 0);
    next_->setEnabled(model_ && row_ >= 0 && row_ + 1 < model_->rowCount());
    for (const std::unique_ptr<Field>& f : fieldList_)
        showValue(*f, false);
}

void RowDetailsWindow::showValue(Field& f, bool force)
{
    Value value;
    bool edited = false;
    const bool placeholder = !model_ || row_ < 0 || model_->isNewRowPlaceholder(row_);
    if (!placeholder) {
        const EditableRowset::CellView cell = model_->cell(row_, f.column);
        value = Value{cell.kind, std::string(cell.data)};
        edited = cell.edited;
    }
    bool same = f.loaded && value.kind == f.shown.kind && SameValue(value, f.shown);
    if (&f == committing_) {
        // The box already holds what was typed into it.
        f.shown = std::move(value);
        f.loaded = !f.shown.isNull();
        return;
    }

    // Whether the row can take an edit at all.
    bool changeable = model_ && row_ >= 0 && !model_->editsWaitForRead();
    if (changeable && !placeholder) {
        const std::optional<RowRefusal> why = model_->refusal(model_->index(row_, f.column));
        changeable = !why || why->why != RowRefusal::Why::CannotFind;
    }
    const bool byType = f.info.type == ColumnType::Binary || f.info.type == ColumnType::LargeText;
    changeable = changeable && (!f.info.readOnly || byType);

    if (!same || force)
        fill(f, std::move(value));
    f.null->setChecked(f.shown.isNull() && !placeholder);
    f.null->setEnabled(changeable);
    if (f.truth) {
        const std::optional<bool> truth =
            f.shown.isNull() ? std::optional<bool>(false) : ReadBoolean(f.shown.bytes);
        f.truth->setChecked(truth.value_or(false));
        f.truth->setEnabled(changeable && truth.has_value());
    }
    if (f.pick)
        f.pick->setEnabled(changeable);
    f.editor->setReadOnly(!changeable);
    if (!changeable)
        f.editor->setTextInteractionFlags(kReadByKeys);
    f.load->setEnabled(changeable);
    f.save->setEnabled(!f.shown.isNull());
    // Typed and not saved: marked as the grid marks it, and said.
    QPalette palette = f.editor->palette();
    palette.setColor(QPalette::Base, edited ? kTypedBackground : QApplication::palette(f.editor).color(QPalette::Base));
    f.editor->setPalette(palette);
    f.hex->setPalette(palette);
    const QString type = QString::fromStdString(f.info.typeName);
    f.editor->setAccessibleDescription(edited ? type + QStringLiteral(", typed, not saved yet") : type);
}

// Puts a value into a field: the text (JSON laid out indented), or the
// first bytes in hex, its size, and the field as high as its lines.
void RowDetailsWindow::fill(Field& f, Value value)
{
    filling_ = true;
    f.mode = f.info.type == ColumnType::Binary || value.kind == ValueKind::Blob ? Field::Mode::Bytes
             : f.info.type == ColumnType::LargeText                          ? Field::Mode::LargeText
                                                                             : Field::Mode::Text;
    const bool bytes = f.mode == Field::Mode::Bytes;
    f.editor->setVisible(!bytes);
    f.hex->setVisible(bytes);
    f.size->setVisible(f.mode != Field::Mode::Text);
    f.save->setVisible(f.mode != Field::Mode::Text);
    f.load->setVisible(f.mode != Field::Mode::Text);
    if (bytes) {
        f.hex->setPlainText(ValueText::HexStart(value.bytes));
        f.hex->setPlaceholderText(value.isNull() ? QStringLiteral("(NULL)") : QString());
        f.editor->clear();
        f.filled.clear();
    } else {
        QString text = TextFromBytes(value.bytes);
        // A json or jsonb column, or a text holding a JSON object or array
        // (laid out anew only when every byte is text, so none is lost).
        if (ValueText::MayBeJson(value.bytes) && IsValidUtf8(value.bytes)) {
            const QString indented = ValueText::IndentedJson(text);
            if (!indented.isEmpty())
                text = indented;
        }
        f.editor->setExactText(text);
        f.filled = text;
        f.editor->setPlaceholderText(value.isNull() ? QStringLiteral("(NULL)") : QString());
        // A box as high as its lines, within bounds: a number or a date
        // one line, a text at least two, a large text six.
        const int fewest = f.mode == Field::Mode::LargeText ? 6 : textual(f.info.type) ? 2 : 1;
        const int lines = std::clamp(f.editor->document()->blockCount(), fewest, 12);
        f.editor->setFixedHeight(heightForLines(*f.editor, lines, lines >= f.editor->document()->blockCount()));
    }
    f.editor->document()->setModified(false);
    f.size->setText(value.isNull()              ? QString()
                    : value.bytes.size() == 1 ? QStringLiteral("1 byte")
                                              : QStringLiteral("%1 bytes").arg(static_cast<qint64>(value.bytes.size())));
    f.shown = std::move(value);
    f.loaded = true;
    filling_ = false;
}

bool RowDetailsWindow::commit(Field& f)
{
    if (filling_ || !model_ || row_ < 0 || f.mode == Field::Mode::Bytes || !f.editor->document()->isModified())
        return true;
    f.editor->document()->setModified(false);
    const QString text = f.editor->exactText();
    // Typed back to what the box showed: no edit (a value shown indented
    // is never written that way by itself).
    if (text == f.filled)
        return true;
    const QModelIndex index = model_->index(row_, f.column);
    std::optional<RowRefusal> why;
    committing_ = &f;
    if (f.mode == Field::Mode::Text && (model_->flags(index) & Qt::ItemIsEditable)) {
        why = model_->store(index, text);
    } else {
        why = model_->storeValue(index, Value{ValueKind::Text, BytesFromText(text)});
    }
    committing_ = nullptr;
    if (why) {
        // The box shows the row again; the reason comes once the focus has settled.
        showValue(f, true);
        QTimer::singleShot(0, this, [this, reason = QString::fromStdString(why->text)] { ShowMessage(this, reason); });
        return false;
    }
    f.filled = text;
    refresh();
    return true;
}

bool RowDetailsWindow::commitAll()
{
    bool all = true;
    for (const std::unique_ptr<Field>& f : fieldList_)
        all = commit(*f) && all;
    return all;
}

void RowDetailsWindow::step(int by)
{
    if (!model_ || row_ < 0 || !commitAll())
        return;
    const int column = std::max(0, grid_->currentIndex().column());
    const QPersistentModelIndex target = model_->index(row_ + by, column);
    if (!target.isValid())
        return;
    // Leaving the row from here writes it as leaving it in the grid does.
    if (model_->pendingRow() >= 0 && !grid_->commitPendingRow())
        return;
    if (target.isValid())
        grid_->setCurrentIndex(target);
}

void RowDetailsWindow::setNull(Field& f, bool null)
{
    if (!model_ || row_ < 0)
        return;
    const QModelIndex index = model_->index(row_, f.column);
    std::optional<RowRefusal> why;
    if (null)
        why = model_->setNull(index);
    else if (f.mode == Field::Mode::Bytes)
        why = model_->storeValue(index, Value{ValueKind::Blob, {}});
    else if (f.mode == Field::Mode::LargeText || textual(f.info.type))
        why = model_->storeValue(index, Value{ValueKind::Text, {}});
    // A column that is not text stays NULL until something is typed into it.
    if (why)
        ShowMessage(this, QString::fromStdString(why->text));
    refresh();
    if (!null && !why && f.editor->isVisible())
        f.editor->setFocus();
}

void RowDetailsWindow::saveToFile(Field& f)
{
    if (f.shown.isNull())
        return;
    // A copy: the row may change while the dialog is up.
    const Value value = f.shown;
    ValueFiles::SaveToFile(this, QString::fromStdString(f.info.name), value.bytes, f.mode == Field::Mode::Bytes);
}

void RowDetailsWindow::loadFromFile(Field& f)
{
    if (!model_ || row_ < 0)
        return;
    const int row = row_;
    const int column = f.column;
    // Exact bytes: a binary value as bytes, a large text as the text it holds.
    const ValueKind kind = f.mode == Field::Mode::Bytes ? ValueKind::Blob : ValueKind::Text;
    const std::optional<QByteArray> bytes = ValueFiles::LoadFromFile(this, QString::fromStdString(f.info.name));
    // The field may have gone with its row while the dialog was up.
    if (!bytes || !model_ || row_ != row)
        return;
    if (const std::optional<RowRefusal> why = model_->storeValue(
            model_->index(row, column), Value{kind, std::string(bytes->constData(), static_cast<std::size_t>(bytes->size()))}))
        ShowMessage(this, QString::fromStdString(why->text));
    refresh();
}

RowDetailsWindow::Field* RowDetailsWindow::fieldOf(const QObject* widget) const
{
    for (const std::unique_ptr<Field>& f : fieldList_)
        if (f->editor == widget)
            return f.get();
    return nullptr;
}

bool RowDetailsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && watched == parent()) {
        hide();
        return false;
    }
    Field* f = filling_ ? nullptr : fieldOf(watched);
    if (!f)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut) {
        commit(*f);
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & Qt::ControlModifier)) {
            commit(*f);
            return true;
        }
        // The first Esc takes back what was typed into the box, as in the grid.
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier
            && f->editor->document()->isModified()) {
            showValue(*f, true);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void RowDetailsWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F4 && event->modifiers() == Qt::NoModifier) {
        backToGrid();
        return;
    }
    QDialog::keyPressEvent(event);
}

void RowDetailsWindow::backToGrid()
{
    commitAll();
    QWidget* page = grid_->window();
    page->activateWindow();
    page->raise();
    grid_->setFocus();
}

void RowDetailsWindow::done(int result)
{
    commitAll();
    QDialog::done(result);
    if (grid_->isVisible())
        backToGrid();
}

void RowDetailsWindow::Open()
{
    row_ = -1;
    follow();
    if (!placed_) {
        placed_ = true;
        QWidget* page = grid_->window();
        const QRect screen = page->screen()->availableGeometry();
        // Beside the page, on the side with room (narrower down to a point),
        // over the page at the screen's right edge when neither side has it.
        const QRect frame = page->frameGeometry();
        constexpr int wanted = 460;
        constexpr int narrowest = 360;
        constexpr int gap = 8;
        constexpr int border = 16; // the window manager's frame, about
        const int right = screen.right() - frame.right() - gap - border;
        const int left = frame.left() - screen.left() - gap - border;
        const int room = std::max(left, right);
        const int width = room >= narrowest ? std::min(wanted, room) : std::min(wanted, screen.width());
        int x = screen.right() - width - border;
        if (room >= narrowest)
            x = right >= left ? frame.right() + gap : frame.left() - gap - width - border;
        // As tall as the fields want (the window manager's title bar above),
        // within the screen; moved up from the page's top when needed.
        constexpr int titleBar = 24;
        const int tallest = screen.height() - 2 * border - titleBar;
        const int wantedHeight = sizeHint().height() - scroll_->sizeHint().height() + form_->sizeHint().height();
        resize(width, std::clamp(wantedHeight, std::min(320, tallest), tallest));
        move(x, std::clamp(frame.top(), screen.top() + titleBar,
                           std::max(screen.top() + titleBar, screen.bottom() - height() - border)));
    }
    QDialog::show();
    raise();
    activateWindow();
    for (const std::unique_ptr<Field>& f : fieldList_) {
        QWidget* first = f->editor->isVisibleTo(this) ? static_cast<QWidget*>(f->editor) : f->hex;
        first->setFocus();
        break;
    }
}
