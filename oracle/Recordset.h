#pragma once

// A rowset held on the client. Execute() gives a read-only one positioned on
// its first row; Open() gives the editable one the grid binds to, whose
// DataSource() is the grid's item model. All calls from the UI thread only.

#include "oracle/Connection.h"
#include "oracle/Snapshot.h"

#include <QString>
#include <memory>

class QAbstractItemModel;
class EditableRowset;

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
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Read-only, from Connection::Execute: the whole result, exact count.
    void Fill(Session& session, const std::string& sql);
    // Read-only, from Connection::OpenUserTables: the session's table catalogue.
    void FillUserTables(Session& session);

    // The editable snapshot over a whole table: source is the query text,
    // activeConnection stays referenced for as long as this rowset lives.
    void Open(const QString& source, const ConnectionPtr& activeConnection, int cursorType = adOpenDynamic,
              int lockType = adLockOptimistic, long options = -1);

    long RecordCount() const;
    Field Fields(int ordinal) const;
    void MoveNext();
    bool EOF_() const;
    void Close();

    // The object a grid binds to; valid while this rowset lives (Open only).
    QAbstractItemModel* DataSource();
    EditableRowset* Editable() { return editable_.get(); }

private:
    Snapshot snapshot_;
    std::int64_t position_ = 0;
    bool open_ = false;
    ConnectionPtr connection_;
    std::unique_ptr<EditableRowset> editable_;
};

using RecordsetPtr = std::shared_ptr<Recordset>;
