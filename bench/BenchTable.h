#pragma once

// The benchmarks' common start: a table opened as the editor opens it, with
// every row read before anything is measured.

#include "oracle/Connection.h"
#include "oracle/EditableRowset.h"
#include "oracle/TableModel.h"

#include <QEventLoop>

#include <memory>
#include <string>

inline std::unique_ptr<TableModel> OpenWholeTable(const ConnectionPtr& connection, const std::string& table)
{
    auto model = std::make_unique<TableModel>(EditableRowset::Open(connection, table), nullptr);
    if (model->reading()) {
        QEventLoop loop;
        QObject::connect(model.get(), &TableModel::readEnded, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return model;
}
