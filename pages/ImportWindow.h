#pragma once

// The window that shows a file's first rows before they are imported, and
// which of the file's columns goes into each column of the table: by the
// header's name at first (exactly, else ignoring case), changeable, or
// "(not imported)" (the table's default then).

#include "oracle/Engine.h"
#include "oracle/RowImport.h"

#include <QDialog>

#include <vector>

class QComboBox;

class ImportWindow : public QDialog {
    Q_OBJECT
public:
    ImportWindow(QWidget* parent, const QString& fileName, const std::vector<ColumnInfo>& columns,
                 const ImportedRows& file);

    // For each column of the table, the file's column that fills it, or -1.
    std::vector<int> mapping() const;
    QComboBox* source(int column) const { return sources_[static_cast<std::size_t>(column)]; }

private:
    std::vector<QComboBox*> sources_;
};
