#pragma once

// Writes the first `rows` rows of a model's view, in their order and as the
// grid shows them, to a device in one of RowExport's formats. progress(row)
// is asked every 4,096 rows; when it says no the writing ends there. The
// columns go in the order given (the order on the screen), or all of them in
// the table's order when none is given.

#include "oracle/RowExport.h"

#include <QIODevice>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TableModel;

enum class ExportEnd { Written, Stopped, WriteFailed };

ExportEnd ExportRows(const TableModel& model, int rows, RowExport::Format format, QIODevice& to,
                    const std::function<bool(int)>& progress, const std::vector<int>& columns = {},
                    const std::string& nullText = {});

// The same for the rows of a table kept in the database, once counted, read
// from it block by block in the order and with the filters shown; progress
// is asked after each block with the rows written so far. A failed read
// throws DbError.
ExportEnd ExportRowsFromDatabase(const TableModel& model, RowExport::Format format, QIODevice& to,
                                 const std::function<bool(std::int64_t)>& progress, const std::vector<int>& columns,
                                 const std::string& nullText = {});

// The same for some rows of a table kept in the database, by their
// positions in the order shown (see TableModel::eachRowInDatabase), and
// the columns listed. A failed read throws DbError.
ExportEnd ExportCellsFromDatabase(const TableModel& model, const std::vector<std::int64_t>& positions,
                                  const std::vector<int>& columns, RowExport::Format format, QIODevice& to,
                                  const std::function<bool(int)>& progress, const std::string& nullText = {});

// The same for some rows and columns of the view: `rows` and `columns` are
// the model's, written in the order listed (a selection's, in the order shown).
ExportEnd ExportCells(const TableModel& model, const std::vector<int>& rows, const std::vector<int>& columns,
                      RowExport::Format format, QIODevice& to, const std::function<bool(int)>& progress,
                      const std::string& nullText = {});
