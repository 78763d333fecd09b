#include "pages/ConflictWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Part { ColumnPart, ReadPart, TypedPart, CurrentPart, ChangedPart, Parts };

// What a line of the table shows of a value: one line, not too long.
constexpr int kShownChars = 80;

const QColor kTypedBackground(0xFF, 0xF4, 0xC0); // as the grid marks typed cells
const QColor kTheirsBackground(0xFF, 0xDD, 0xD5);

QString shortText(const ColumnInfo& column, const Value& value)
{
    if (value.isNull())
        return QStringLiteral("(NULL)");
    const auto size = static_cast<qint64>(value.bytes.size());
    if (value.kind == ValueKind::Blob || column.type == ColumnType::Binary)
        return QStringLiteral("(binary, %1 bytes)").arg(size);
    // Enough bytes for the characters shown, never the whole of a large text.
    const std::size_t take = std::min<std::size_t>(value.bytes.size(), kShownChars * 4);
    QString text = QString::fromUtf8(value.bytes.data(), static_cast<qsizetype>(take));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\u21B5")).replace(u'\n', u'\u21B5').replace(u'\r', u'\u21B5');
    text.replace(u'\t', u' ');
    const bool cut = text.size() > kShownChars || take < value.bytes.size();
    if (cut)
        text = text.left(kShownChars) + QStringLiteral("\u2026");
    if (column.type == ColumnType::LargeText && cut)
        text += QStringLiteral(" (%1 bytes)").arg(size);
    return text;
}

QTableWidgetItem* item(const QString& text, const QString& spoken)
{
    auto* it = new QTableWidgetItem(text);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    it->setData(Qt::AccessibleTextRole, spoken);
    return it;
}

void markNull(QTableWidgetItem* it, const Value& value)
{
    if (!value.isNull())
        return;
    QFont font = it->font();
    font.setItalic(true);
    it->setFont(font);
    it->setForeground(QColor(0x80, 0x80, 0x80));
}

void markDifferent(QTableWidgetItem* it, const QColor& background)
{
    QFont font = it->font();
    font.setBold(true);
    it->setFont(font);
    it->setBackground(background);
}

} // namespace

ConflictWindow::ConflictWindow(const std::vector<ColumnInfo>& columns, const std::vector<Value>& read,
                               const std::vector<std::optional<Value>>& typed,
                               const std::optional<std::vector<Value>>& current, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Dervanta"));
    setObjectName(QStringLiteral("ConflictWindow"));
    const bool deleted = !current;

    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(
        deleted ? QStringLiteral("Another user deleted this row after you read it, so your changes to it were not "
                                 "saved.\n\nInsert it again as a new row with the values below, or discard it.")
                : QStringLiteral("Another user changed this row after you read it, so your changes to it were not "
                                 "saved. Each line compares a column's value as you read it, as you typed it, and "
                                 "as it is now in the database."),
        this);
    text->setObjectName(QStringLiteral("conflictText"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);

    table_ = new QTableWidget(static_cast<int>(columns.size()), Parts, this);
    table_->setObjectName(QStringLiteral("conflictValues"));
    table_->setAccessibleName(QStringLiteral("Values of the row"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Column"), ReadHeading(), TypedHeading(), CurrentHeading(), ChangedHeading()});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->setColumnHidden(CurrentPart, deleted);
    table_->setColumnHidden(ChangedPart, deleted);

    for (std::size_t c = 0; c < columns.size(); ++c) {
        const Value none;
        const std::optional<Value> notTyped;
        addLine(static_cast<int>(c), columns[c], c < read.size() ? read[c] : none, c < typed.size() ? typed[c] : notTyped,
                deleted ? nullptr : c < current->size() ? &(*current)[c] : &none);
    }
    layout->addWidget(table_, 1);

    QPushButton* keep = addChoices(deleted);
    layout->addWidget(buttons_);
    keep->setDefault(true);
    keep->setFocus();
    setTabOrder(table_, keep);
    fitToContents();
}

// One column's line: its name, the value as read, as typed (marked when
// typed) and as now in the database (none for a deleted row), and who
// changed it, in words.
void ConflictWindow::addLine(int line, const ColumnInfo& info, const Value& was, const std::optional<Value>& typed,
                             const Value* now)
{
    const QString name = QString::fromStdString(info.name);
    auto* nameItem = item(name, name);
    nameItem->setToolTip(QString::fromStdString(info.typeName));
    table_->setItem(line, ColumnPart, nameItem);

    const QString wasText = shortText(info, was);
    auto* readItem = item(wasText, ReadHeading() + QStringLiteral(": ") + wasText);
    markNull(readItem, was);
    table_->setItem(line, ReadPart, readItem);

    const bool mine = typed.has_value();
    if (mine) {
        const QString typedText = shortText(info, *typed);
        auto* typedItem =
            item(typedText, TypedHeading() + QStringLiteral(": ") + typedText + QStringLiteral(", changed by you"));
        markNull(typedItem, *typed);
        markDifferent(typedItem, kTypedBackground);
        table_->setItem(line, TypedPart, typedItem);
    } else {
        table_->setItem(line, TypedPart, item(QString(), TypedHeading() + QStringLiteral(": not typed")));
    }

    if (!now)
        return;
    const bool theirs = !SameValue(*now, was);
    const QString nowText = shortText(info, *now);
    auto* nowItem = item(nowText, CurrentHeading() + QStringLiteral(": ") + nowText
                                      + (theirs ? QStringLiteral(", changed by another user") : QString()));
    markNull(nowItem, *now);
    if (theirs)
        markDifferent(nowItem, kTheirsBackground);
    table_->setItem(line, CurrentPart, nowItem);

    // The difference in words, so that it does not rest on colour alone.
    QString changed;
    if (mine && theirs)
        changed = SameValue(*typed, *now) ? QStringLiteral("you and them, alike") : QStringLiteral("you and them");
    else if (mine)
        changed = QStringLiteral("you");
    else if (theirs)
        changed = QStringLiteral("them");
    auto* changedItem =
        item(changed, ChangedHeading() + QStringLiteral(": ") + (changed.isEmpty() ? QStringLiteral("nobody") : changed));
    if (mine && theirs)
        markDifferent(changedItem, table_->palette().color(QPalette::Base));
    table_->setItem(line, ChangedPart, changedItem);
}

// The choices for a changed row, or for a deleted one; Keep Editing first.
QPushButton* ConflictWindow::addChoices(bool deleted)
{
    buttons_ = new QWidget(this);
    auto* row = new QHBoxLayout(buttons_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    QPushButton* keep = addChoice(QStringLiteral("&Keep Editing"),
                                  deleted ? QStringLiteral("Go back to the row with your typed values")
                                          : QStringLiteral("Go back to the row with your typed values; leaving it "
                                                           "again writes them over the values now in the database"),
                                  Choice::KeepEditing);
    if (deleted) {
        addChoice(QStringLiteral("&Insert as New Row"),
                  QStringLiteral("Write the row again as a new row, with your typed values"), Choice::InsertAsNewRow);
        addChoice(QStringLiteral("&Discard"), QStringLiteral("Take the row out of the grid and drop your typed values"),
                  Choice::Discard);
    } else {
        addChoice(QStringLiteral("Use &Theirs"),
                  QStringLiteral("Drop your typed values and show the row as it is now in the database"),
                  Choice::UseTheirs);
        addChoice(QStringLiteral("&Overwrite"),
                  QStringLiteral("Write your typed values over the values now in the database"), Choice::Overwrite);
    }
    return keep;
}

QPushButton* ConflictWindow::addChoice(const QString& text, const QString& tip, Choice choice)
{
    auto* button = new QPushButton(text, buttons_);
    button->setAccessibleName(QString(text).remove(u'&'));
    button->setAccessibleDescription(tip);
    button->setToolTip(tip);
    buttons_->layout()->addWidget(button);
    connect(button, &QPushButton::clicked, this, [this, choice] {
        choice_ = choice;
        accept();
    });
    return button;
}

void ConflictWindow::fitToContents()
{
    // Wide enough for the values shown, within the screen.
    const QRect screen = (parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())->availableGeometry();
    table_->resizeColumnsToContents();
    const int widest = std::max(160, screen.width() / 4);
    int width = table_->frameWidth() * 2;
    for (int part = 0; part < Parts; ++part) {
        if (table_->isColumnHidden(part))
            continue;
        table_->setColumnWidth(part, std::min(table_->columnWidth(part) + 8, widest));
        width += table_->columnWidth(part);
    }
    table_->horizontalHeader()->setStretchLastSection(true);
    const int widthShown = std::min(width, screen.width() * 9 / 10 - 40);
    // As tall as all its lines, up to half the screen (more scroll), and
    // never taller: below the last line there is nothing to show.
    table_->resizeRowsToContents();
    int height = table_->horizontalHeader()->sizeHint().height() + table_->frameWidth() * 2;
    for (int line = 0; line < table_->rowCount(); ++line)
        height += table_->rowHeight(line);
    if (widthShown < width)
        height += table_->horizontalScrollBar()->sizeHint().height();
    table_->setMinimumSize(widthShown, std::min(height, screen.height() / 2));
    table_->setMaximumHeight(height);
    adjustSize();
}

ConflictWindow::Choice ConflictWindow::Ask()
{
    choice_ = Choice::KeepEditing;
    if (exec() != QDialog::Accepted)
        return Choice::KeepEditing;
    return choice_;
}
