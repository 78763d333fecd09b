// The grid's export: the rows shown (or the selected cells), in their order,
// to a CSV, TSV, JSON or SQL file, with a progress window and Stop.

#include "pages/DataGrid.h"

#include "oracle/DbError.h"
#include "oracle/TableExport.h"
#include "oracle/TableModel.h"
#include "pages/GridStatusLine.h"
#include "pages/Messages.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QFileInfo>
#include <QHeaderView>
#include <QProgressDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSaveFile>

#include <algorithm>
#include <set>

void DataGrid::exportRows() { exportPart({}, {}); }

void DataGrid::exportSelection()
{
    if (!model_ || !selectionModel())
        return;
    // The selected rows' selected columns, as a rectangle: rows in the order
    // shown, columns in their order on the screen.
    std::set<int> rows;
    std::set<int> columns;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            if (!model_->isNewRowPlaceholder(r))
                rows.insert(r);
        for (int c = range.left(); c <= range.right(); ++c)
            if (!isColumnHidden(c))
                columns.insert(c);
    }
    if (rows.empty() || columns.empty()) {
        statusLine_->showNote(QStringLiteral("Select the cells to export first."));
        return;
    }
    std::vector<int> byScreen(columns.begin(), columns.end());
    std::sort(byScreen.begin(), byScreen.end(), [this](int a, int b) {
        return horizontalHeader()->visualIndex(a) < horizontalHeader()->visualIndex(b);
    });
    exportPart(std::vector<int>(rows.begin(), rows.end()), std::move(byScreen));
}

void DataGrid::exportPart(std::vector<int> rowList, std::vector<int> columnList)
{
    if (!model_)
        return;
    if (model_->reading()) {
        statusLine_->showNote(QStringLiteral("Rows can be exported once they are all read (or after Stop)."));
        return;
    }
    // Rows kept in the database are written from it: every row in the order
    // and filter shown once counted, or the rows selected, each block as the
    // grid shows it (read where it is not here), so no row is left out.
    const bool fromDatabase = model_->rowsInDatabase();
    const bool part = !rowList.empty() || !columnList.empty();
    if (fromDatabase && !part && model_->countingRows()) {
        statusLine_->showNote(QStringLiteral("Rows can be exported once the database has counted them."));
        return;
    }
    // What is typed is written first: the file holds what the table holds.
    if (!readyForViewChange())
        return;
    const QString csv = QStringLiteral("CSV, comma-separated values (*.csv)");
    const QString tsv = QStringLiteral("TSV, tab-separated values (*.tsv)");
    const QString json = QStringLiteral("JSON (*.json)");
    const QString sql = QStringLiteral("SQL INSERT statements (*.sql)");
    QFileDialog dialog(window(), QStringLiteral("Export Rows"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({csv, tsv, json, sql});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QString::fromStdString(model_->table()) + QStringLiteral(".csv"));
    // What NULL is written as in a CSV file: a line of the dialog's own, so
    // the dialog is Qt's (a desktop's dialog takes no line of ours).
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* nullText = new QLineEdit(&dialog);
    nullText->setObjectName(QStringLiteral("nullTextEdit"));
    nullText->setPlaceholderText(QStringLiteral("(an empty field)"));
    nullText->setToolTip(QStringLiteral("In a CSV file, what a NULL is written as; left empty, an empty field. An "
                                        "empty text is written as \"\" either way."));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* label = new QLabel(QStringLiteral("&NULL in CSV as:"), &dialog);
        label->setBuddy(nullText);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(nullText, row, 1);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !model_)
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const QString suffix = QFileInfo(path).suffix().toLower();
    const RowExport::Format format = suffix == QLatin1String("tsv")    ? RowExport::Format::Tsv
                                     : suffix == QLatin1String("json") ? RowExport::Format::Json
                                     : suffix == QLatin1String("sql")  ? RowExport::Format::Sql
                                     : suffix == QLatin1String("csv")  ? RowExport::Format::Csv
                                     : dialog.selectedNameFilter() == tsv  ? RowExport::Format::Tsv
                                     : dialog.selectedNameFilter() == json ? RowExport::Format::Json
                                     : dialog.selectedNameFilter() == sql  ? RowExport::Format::Sql
                                                                           : RowExport::Format::Csv;

    // Written aside and moved over the file at the end: an export that fails
    // or is stopped leaves nothing under the file's name.
    QSaveFile file(path);
    const auto fail = [this, &file] {
        file.cancelWriting();
        ShowMessage(window(), QStringLiteral("The rows could not be exported: %1").arg(file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    // The rows were listed before the row being typed was written: a new
    // row written since stays where it was, above the placeholder.
    int rows = fromDatabase && !part ? static_cast<int>(model_->totalRows()) : model_->rowCount();
    if (rows > 0 && model_->isNewRowPlaceholder(rows - 1))
        --rows;
    if (!rowList.empty()) {
        std::erase_if(rowList, [this, rows](int r) { return r >= rows || model_->isNewRowPlaceholder(r); });
        rows = static_cast<int>(rowList.size());
    }
    QProgressDialog progress(QStringLiteral("Exporting rows\u2026"), QStringLiteral("Stop"), 0, rows, window());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    const auto goOn = [&progress](int row) {
        progress.setValue(row);
        return !progress.wasCanceled();
    };
    // In their order on the screen; hidden ones too, so that the file holds every value of the rows.
    std::vector<int> columns;
    for (int visual = 0; visual < horizontalHeader()->count(); ++visual)
        columns.push_back(horizontalHeader()->logicalIndex(visual));
    ExportEnd end = ExportEnd::Written;
    if (fromDatabase) {
        try {
            if (part) {
                std::vector<std::int64_t> positions;
                positions.reserve(rowList.size());
                for (int r : rowList)
                    positions.push_back(model_->rowsetRow(r));
                end = ExportCellsFromDatabase(*model_, positions, columnList, format, file, goOn,
                                              nullText->text().toStdString());
            } else {
                end = ExportRowsFromDatabase(
                    *model_, format, file,
                    [&](std::int64_t written) {
                        rows = static_cast<int>(written);
                        return goOn(rows);
                    },
                    columns, nullText->text().toStdString());
            }
        } catch (const DbError& e) {
            file.cancelWriting();
            ShowMessage(window(), QStringLiteral("The rows could not be exported: %1").arg(QString::fromStdString(e.what())));
            return;
        }
    } else {
        end = rowList.empty() && columnList.empty()
                  ? ExportRows(*model_, rows, format, file, goOn, columns, nullText->text().toStdString())
                  : ExportCells(*model_, rowList, columnList, format, file, goOn, nullText->text().toStdString());
    }
    if (end == ExportEnd::Stopped) {
        file.cancelWriting();
        statusLine_->showNote(QStringLiteral("The export was stopped; no file was written."));
        return;
    }
    if (end == ExportEnd::WriteFailed || !file.commit())
        return fail();
    progress.setValue(rows);
    statusLine_->showNote(QStringLiteral("%1 rows exported to %2.")
                              .arg(GridStatusLine::number(rows), QDir::toNativeSeparators(QFileInfo(path).fileName())));
}
