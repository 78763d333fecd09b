#include "pages/ImportWindow.h"

#include "pages/GridStatusLine.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kPreviewRows = 10;

int matchingColumn(const std::vector<std::string>& names, const std::string& column)
{
    const auto exact = std::find(names.begin(), names.end(), column);
    if (exact != names.end())
        return static_cast<int>(exact - names.begin());
    const QString wanted = QString::fromStdString(column);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (QString::fromStdString(names[i]).compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

} // namespace

ImportWindow::ImportWindow(QWidget* parent, const QString& fileName, const std::vector<ColumnInfo>& columns,
                           const ImportedRows& file)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Import Rows"));
    auto* layout = new QVBoxLayout(this);
    auto* about = new QLabel(QStringLiteral("%1 rows in %2. Each is written to the table as a new row.")
                                 .arg(GridStatusLine::number(static_cast<qint64>(file.rows.size())), fileName),
                             this);
    about->setWordWrap(true);
    layout->addWidget(about);

    auto* preview = new QTableWidget(std::min<int>(kPreviewRows, static_cast<int>(file.rows.size())),
                                     static_cast<int>(file.columns.size()), this);
    QStringList names;
    for (const std::string& name : file.columns)
        names << QString::fromStdString(name);
    preview->setHorizontalHeaderLabels(names);
    preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    preview->setAccessibleName(QStringLiteral("The file's first rows"));
    for (int r = 0; r < preview->rowCount(); ++r) {
        const auto& row = file.rows[static_cast<std::size_t>(r)];
        for (int c = 0; c < preview->columnCount() && c < static_cast<int>(row.size()); ++c) {
            const auto& v = row[static_cast<std::size_t>(c)];
            preview->setItem(r, c, new QTableWidgetItem(v ? QString::fromStdString(*v) : QStringLiteral("(NULL)")));
        }
    }
    preview->resizeColumnsToContents();
    layout->addWidget(new QLabel(QStringLiteral("The file's first rows:"), this));
    layout->addWidget(preview);

    layout->addWidget(new QLabel(QStringLiteral("Where each column of the table takes its values from:"), this));
    auto* form = new QFormLayout;
    for (const ColumnInfo& column : columns) {
        auto* box = new QComboBox(this);
        box->addItem(QStringLiteral("(not imported)"));
        box->addItems(names);
        box->setCurrentIndex(matchingColumn(file.columns, column.name) + 1);
        form->addRow(QString::fromStdString(column.name) + QLatin1Char(':'), box);
        sources_.push_back(box);
    }
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Import"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::vector<int> ImportWindow::mapping() const
{
    std::vector<int> out;
    for (const QComboBox* box : sources_)
        out.push_back(box->currentIndex() - 1);
    return out;
}
