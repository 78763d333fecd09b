#include "oracle/TableModel.h"


#include <algorithm>
#include <climits>

namespace {

bool isNumeric(ColumnType t)
{
    return t == ColumnType::Integer || t == ColumnType::Decimal || t == ColumnType::Real;
}

bool showsSize(const ColumnInfo& c, ValueKind kind)
{
    return kind == ValueKind::Blob || c.type == ColumnType::Binary || c.type == ColumnType::LargeText;
}

} // namespace

TableModel::TableModel(std::unique_ptr<EditableRowset> rowset, QObject* parent)
    : QAbstractTableModel(parent), rowset_(std::move(rowset))
{
    if (TableReader* reader = rowset_->readerSignals())
        connect(reader, &TableReader::arrived, this, &TableModel::takeArrivedRows);
}

void TableModel::takeArrivedRows()
{
    if (!rowset_->reading())
        return;
    const int before = rowCount();
    const std::int64_t added = rowset_->pump();
    const bool ended = !rowset_->reading();
    // The new-row placeholder appears with the last of the rows.
    const int after = before + static_cast<int>(added) + (ended ? 1 : 0);
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        endInsertRows();
    }
    emit ReadProgress(rowset_->rowCount());
    if (ended) {
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
        emit ReadEnded();
    }
}

void TableModel::StopReading()
{
    rowset_->stopReading();
    rowset_->waitForReadEnd();
    takeArrivedRows();
}

TableModel::~TableModel() = default;

int TableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<std::int64_t>(rowset_->rowCount() + (rowset_->reading() ? 0 : 1), INT_MAX));
}

int TableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowset_->columnCount();
}

bool TableModel::IsNewRowPlaceholder(int row) const
{
    return !rowset_->reading() && row == rowset_->placeholderRow();
}

QVariant TableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= rowset_->columnCount())
        return {};
    const int row = index.row();
    const bool placeholder = IsNewRowPlaceholder(row);
    const ColumnInfo& column = rowset_->columns()[static_cast<std::size_t>(index.column())];

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        if (placeholder)
            return QString();
        const EditableRowset::CellView cell = rowset_->cell(row, index.column());
        if (cell.kind == ValueKind::Null)
            return role == Qt::DisplayRole ? QStringLiteral("(NULL)") : QString();
        if (showsSize(column, cell.kind)) {
            if (role == Qt::EditRole)
                return {};
            const auto size = static_cast<qint64>(cell.data.size());
            return cell.kind == ValueKind::Blob || column.type == ColumnType::Binary
                       ? QStringLiteral("(binary, %1 bytes)").arg(size)
                       : QStringLiteral("(text, %1 bytes)").arg(size);
        }
        return QString::fromUtf8(cell.data.data(), static_cast<qsizetype>(cell.data.size()));
    }
    case NullRole:
        return !placeholder && rowset_->cell(row, index.column()).kind == ValueKind::Null;
    case PendingRole:
        return !placeholder && rowset_->cell(row, index.column()).edited;
    case PlaceholderRole:
        return placeholder;
    case Qt::ToolTipRole:
        // A cell that cannot be edited says why.
        if (!rowset_->isEditable(row, index.column()))
            if (const auto why = rowset_->refusal(row, index.column()))
                return QString::fromStdString(*why);
        return {};
    case Qt::TextAlignmentRole:
        if (isNumeric(column.type))
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    default:
        return {};
    }
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= rowset_->columnCount())
            return {};
        const ColumnInfo& c = rowset_->columns()[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole)
            return QString::fromStdString(c.name);
        if (role == Qt::ToolTipRole)
            return QString::fromStdString(c.typeName);
        return {};
    }
    if (section < 0 || section >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return IsNewRowPlaceholder(section) ? QStringLiteral("*") : QString::number(section + 1);
    case PendingRole:
        return rowset_->isPending(section);
    case PlaceholderRole:
        return IsNewRowPlaceholder(section);
    case Qt::ToolTipRole:
        if (rowset_->isPending(section))
            return QStringLiteral("Not saved yet");
        if (IsNewRowPlaceholder(section))
            return QStringLiteral("Type here to add a row");
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (rowset_->isEditable(index.row(), index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    return role == Qt::EditRole && index.isValid() && !store(index, false, value.toString());
}

std::optional<QString> TableModel::Store(const QModelIndex& index, const QString& text)
{
    if (!index.isValid())
        return QStringLiteral("there is no such cell");
    return store(index, false, text);
}

std::optional<QString> TableModel::SetNull(const QModelIndex& index)
{
    if (!index.isValid())
        return QStringLiteral("there is no such cell");
    return store(index, true, {});
}

std::optional<QString> TableModel::store(const QModelIndex& index, bool setNull, const QString& text)
{
    const int row = index.row();
    const int before = PendingRow();
    const QByteArray utf8 = text.toUtf8();
    const std::optional<std::string_view> value =
        setNull ? std::nullopt : std::optional<std::string_view>(std::string_view(utf8.constData(), utf8.size()));

    if (IsNewRowPlaceholder(row)) {
        if (!setNull && text.isEmpty())
            return std::nullopt; // an empty new row stays the placeholder
        if (auto why = rowset_->refusal(row, index.column()))
            return QString::fromStdString(*why);
        // The placeholder becomes the new row; a fresh placeholder goes below.
        beginInsertRows({}, row + 1, row + 1);
        rowset_->setValue(row, index.column(), value);
        endInsertRows();
        emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, row, row + 1);
        pendingChanged(before);
        return std::nullopt;
    }

    const EditableRowset::EditResult result = rowset_->setValue(row, index.column(), value);
    switch (result.outcome) {
    case EditableRowset::EditOutcome::Refused:
        return QString::fromStdString(result.reason);
    case EditableRowset::EditOutcome::Unchanged:
        return std::nullopt;
    case EditableRowset::EditOutcome::Changed:
    case EditableRowset::EditOutcome::StartedNewRow:
        break;
    }
    emit dataChanged(index, index);
    if (before != PendingRow()) {
        emit headerDataChanged(Qt::Vertical, row, row);
        pendingChanged(before);
    }
    return std::nullopt;
}

void TableModel::pendingChanged(int before)
{
    const int now = PendingRow();
    if (now != before)
        emit PendingRowChanged(now);
}

bool TableModel::IsRowPending(int row) const { return rowset_->isPending(row); }

int TableModel::PendingRow() const { return static_cast<int>(rowset_->pendingRow()); }

std::optional<RowRefusal> TableModel::SubmitRow(int row)
{
    if (!rowset_->isPending(row))
        return std::nullopt;
    if (std::optional<RowRefusal> refusal = rowset_->writeRow(row))
        return refusal;
    // What the database stored may differ from what was typed anywhere in the row.
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, row, row);
    emit PendingRowChanged(-1);
    return std::nullopt;
}

std::optional<RowRefusal> TableModel::SubmitPending()
{
    const int row = PendingRow();
    return row < 0 ? std::nullopt : SubmitRow(row);
}

void TableModel::RevertRow(int row)
{
    if (!rowset_->isPending(row))
        return;
    if (rowset_->pendingIsNew()) {
        // The new row turns back into the placeholder; the one below goes.
        beginRemoveRows({}, row + 1, row + 1);
        rowset_->revertRow(row);
        endRemoveRows();
    } else {
        rowset_->revertRow(row);
    }
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, row, row);
    emit PendingRowChanged(-1);
}

std::optional<QString> TableModel::DeleteRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int before = PendingRow();
    QStringList failures;
    for (int row : rows) {
        if (row < 0 || IsNewRowPlaceholder(row))
            continue;
        if (rowset_->pendingIsNew() && row == PendingRow()) {
            RevertRow(row);
            continue;
        }
        if (const std::optional<RowRefusal> refusal = rowset_->deleteFromDatabase(row)) {
            failures.prepend(QStringLiteral("Row %1: %2").arg(row + 1).arg(QString::fromStdString(refusal->message)));
            continue;
        }
        beginRemoveRows({}, row, row);
        rowset_->forgetRow(row);
        endRemoveRows();
    }
    pendingChanged(before);
    if (failures.isEmpty())
        return std::nullopt;
    return failures.join(QLatin1Char('\n'));
}
