// The editable face of Recordset: Open over a whole table, and the model the
// grid binds to. The rest of Recordset lives in Recordset.cpp.

#include "oracle/EditableRowset.h"
#include "oracle/Recordset.h"
#include "oracle/TableModel.h"

// The rowset reads every row at once (a client-side static snapshot, whatever
// cursor is asked for) and writes rows one at a time when the grid commits
// them, so cursorType, lockType and options change nothing. It learns the
// table to write to from the source itself, SELECT * FROM "name"; a source of
// any other form opens read-only.
void Recordset::Open(const QString& source, const ConnectionPtr& activeConnection, int /*cursorType*/,
                     int /*lockType*/, long /*options*/)
{
    Close();
    Session& session = activeConnection->session();
    const QByteArray sql = source.toUtf8();
    const std::string_view text(sql.constData(), static_cast<std::size_t>(sql.size()));
    session.query(text, {}, snapshot_);

    editable_ = std::make_unique<EditableRowset>(session, snapshot_, TableOfSource(text).value_or(std::string()));
    connection_ = activeConnection;
    open_ = true;
}

QAbstractItemModel* Recordset::DataSource()
{
    return editable_ ? editable_->model() : nullptr;
}
