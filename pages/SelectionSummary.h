#pragma once

// What the status line says of the cells selected, when there are more than
// one: how many hold a value and, where some are numbers, their exact sum,
// the least and the greatest ("Count: 3   Sum: 6.5   Min: 1   Max: 3.5").
// Past a quarter of a million cells only how many are selected.

#include <QItemSelection>
#include <QString>

class TableModel;

QString SelectionSummary(const TableModel& model, const QItemSelection& selection);
