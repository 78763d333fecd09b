#pragma once

// Writes the first `rows` rows of a model's view, in their order and as the
// grid shows them, to a device in one of RowExport's formats. progress(row)
// is asked every 4,096 rows; when it says no the writing ends there. The
// columns go in the order given (the order on the screen), or all of them in
// the table's order when none is given.

#include "oracle/RowExport.h"

#include <QIODevice>

#include <functional>
#include <vector>

class TableModel;

enum class ExportEnd { Written, Stopped, WriteFailed };

ExportEnd ExportRows(const TableModel& model, int rows, RowExport::Format format, QIODevice& to,
                    const std::function<bool(int)>& progress, const std::vector<int>& columns = {});
