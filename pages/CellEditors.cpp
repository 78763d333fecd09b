#include "pages/CellEditors.h"

#include "oracle/DbError.h"
#include "oracle/KeyLookup.h"
#include "oracle/TableModel.h"
#include "oracle/ValueCheck.h"
#include "pages/DateEdit.h"
#include "pages/KeyLookupEdit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionViewItem>

#include <algorithm>
#include <limits>

namespace {

QString columnName(const TableModel& model, int column)
{
    return QString::fromStdString(model.columns()[static_cast<std::size_t>(column)].name);
}

} // namespace

CellEditors::CellEditors(QObject* parent) : QObject(parent) {}

CellEditors::~CellEditors() = default;

KeyLookup* CellEditors::lookup(const TableModel& model, int column)
{
    // Lookups belong to the table they were made for, and end with it
    // (their sessions with them).
    if (model_ != &model) {
        if (model_)
            disconnect(model_.data(), nullptr, this, nullptr);
        dropLookups();
        model_ = &model;
        connect(&model, &QObject::destroyed, this, &CellEditors::dropLookups);
    }
    if (const auto it = lookups_.find(column); it != lookups_.end())
        return it->second;
    const ColumnDetails* details = model.columnDetails(column);
    if (!details || !details->references)
        return nullptr;
    try {
        auto* made = new KeyLookup(model.anotherConnection(), details->references->table, details->references->column, this);
        lookups_[column] = made;
        return made;
    } catch (const DbError&) {
        return nullptr; // the connection is closed: the plain box serves
    }
}

void CellEditors::dropLookups()
{
    for (auto& [column, l] : lookups_)
        delete l;
    lookups_.clear();
}

QWidget* CellEditors::create(QWidget* parent, const TableModel& model, const QModelIndex& index)
{
    const int column = index.column();
    const ColumnInfo& info = model.columns()[static_cast<std::size_t>(column)];
    const ColumnDetails* details = model.columnDetails(column);
    QWidget* editor = nullptr;
    if (details && details->references) {
        if (KeyLookup* l = lookup(model, column))
            editor = new KeyLookupEdit(parent, l);
    } else if (details && !details->choices.empty()) {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        // Typed text stays as typed: no completion, nothing added to the list.
        combo->setCompleter(nullptr);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
        for (const std::string& choice : details->choices)
            combo->addItem(QString::fromStdString(choice));
        // The list as wide as its values, though the cell may be narrow.
        combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0) + 2 * combo->view()->frameWidth() + 24);
        editor = combo;
    } else if (info.type == ColumnType::Date || info.type == ColumnType::Timestamp
               || info.type == ColumnType::TimestampTz) {
        editor = new DateEdit(parent, true, info.type != ColumnType::Date);
    }
    if (editor)
        editor->setAccessibleName(columnName(model, column));
    return editor;
}

void CellEditors::filled(QWidget* editor)
{
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->lineEdit()->selectAll();
}

void CellEditors::watch(QWidget* editor, const TableModel& model, const QModelIndex& index)
{
    auto* box = qobject_cast<QLineEdit*>(editor);
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        box = combo->lineEdit();
    if (!box)
        return;
    const int column = index.column();
    const ColumnInfo info = model.columns()[static_cast<std::size_t>(column)];
    std::optional<ColumnDetails> details;
    if (const ColumnDetails* d = model.columnDetails(column))
        details = *d;
    const QPalette usual = box->palette();
    const auto check = [box, info, details, usual](const QString& text) {
        // Empty is NULL (or the empty text): nothing to mark.
        const std::optional<std::string> why =
            text.isEmpty() ? std::nullopt
                           : ValueWarning(info, details ? &*details : nullptr, text.toStdString());
        QPalette palette = usual;
        if (why)
            palette.setColor(QPalette::Base, QColor(0xFF, 0xE0, 0xE0));
        box->setPalette(palette);
        const QString reason = why ? QString::fromStdString(*why) : QString();
        box->setToolTip(reason);
        box->setAccessibleDescription(reason);
    };
    QObject::connect(box, &QLineEdit::textChanged, box, check);
}

bool CellEditors::isBoolean(const QModelIndex& index)
{
    const auto* model = qobject_cast<const TableModel*>(index.model());
    return model && index.isValid()
           && model->columns()[static_cast<std::size_t>(index.column())].type == ColumnType::Boolean;
}

bool CellEditors::nullable(const TableModel& model, int column)
{
    const ColumnDetails* details = model.columnDetails(column);
    return !details || !details->notNull;
}

std::optional<Qt::CheckState> CellEditors::checkState(const QModelIndex& index)
{
    if (!isBoolean(index))
        return std::nullopt;
    if (index.data(TableModel::PlaceholderRole).toBool() || index.data(TableModel::NullRole).toBool())
        return Qt::PartiallyChecked;
    const std::optional<bool> value = ReadBoolean(index.data(Qt::EditRole).toString().toStdString());
    if (!value)
        return std::nullopt;
    return *value ? Qt::Checked : Qt::Unchecked;
}

std::optional<RowRefusal> CellEditors::toggle(TableModel& model, const QModelIndex& index)
{
    const std::optional<Qt::CheckState> now = checkState(index);
    if (!now)
        return std::nullopt;
    // true → false → NULL (where allowed) → true
    if (*now == Qt::Checked)
        return model.store(index, model.booleanText(false));
    if (*now == Qt::Unchecked && nullable(model, index.column()))
        return model.setNull(index);
    return model.store(index, model.booleanText(true));
}

void CellEditors::styleCheck(QStyleOptionViewItem* option, const QModelIndex& index)
{
    const std::optional<Qt::CheckState> state = checkState(index);
    if (!state)
        return;
    option->features |= QStyleOptionViewItem::HasCheckIndicator;
    option->checkState = *state;
    // NULL keeps its word beside the box; true and false are the box alone.
    if (*state != Qt::PartiallyChecked)
        option->text.clear();
}

void CellEditors::paintWarning(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (index.data(TableModel::WarningRole).toString().isEmpty())
        return;
    const QRect r = option.rect.adjusted(2, 0, -2, -2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(0xD0, 0x00, 0x00));
    pen.setWidthF(1.2);
    painter->setPen(pen);
    QPainterPath wave;
    const int y = r.bottom() - 1;
    wave.moveTo(r.left(), y);
    for (int x = r.left(), up = 1; x < r.right(); x += 3, up = -up)
        wave.lineTo(std::min(x + 3, r.right()), y - 2 * (up > 0 ? 1 : 0));
    painter->drawPath(wave);
    // A corner mark reads also where the line is hard to see.
    QPainterPath corner;
    const QRect c = option.rect;
    corner.moveTo(c.right() - 6, c.top());
    corner.lineTo(c.right(), c.top());
    corner.lineTo(c.right(), c.top() + 6);
    corner.closeSubpath();
    painter->fillPath(corner, QColor(0xD0, 0x00, 0x00));
    painter->restore();
}
