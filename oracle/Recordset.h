#pragma once

// A read-only rowset held on the client, from Connection::Execute or
// Connection::OpenUserTables: the whole result with an exact RecordCount,
// positioned on its first row. Used from the user-interface thread.

#include "oracle/Snapshot.h"

#include <QString>
#include <memory>

class Connection;

class Field {
public:
    Field(const Snapshot& s, std::int64_t row, int column) : s_(s), row_(row), column_(column) {}
    QString Value() const; // the value as text; an empty text for NULL
    bool IsNull() const;
    QString Name() const;

private:
    const Snapshot& s_;
    std::int64_t row_;
    int column_;
};

class Recordset {
public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // The whole result of a query.
    void Fill(Connection& connection, const std::string& sql);
    // The session's table catalogue.
    void FillUserTables(Connection& connection);

    long RecordCount() const;
    Field Fields(int ordinal) const;
    void MoveNext();
    bool EOF_() const;
    void Close();

private:
    Snapshot snapshot_;
    std::int64_t position_ = 0;
    bool open_ = false;
};

using RecordsetPtr = std::shared_ptr<Recordset>;
