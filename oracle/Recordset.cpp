#include "oracle/Recordset.h"

#include "oracle/Connection.h"
#include "oracle/DbError.h"

namespace {

[[noreturn]] void noCurrentRow()
{
    throw DbError(DbError::kGeneric, "there is no current row: the rowset is at its end or closed");
}

} // namespace

QString Field::Value() const
{
    if (row_ < 0 || row_ >= s_.rowCount())
        noCurrentRow();
    if (s_.isNull(row_, column_))
        return {};
    const std::string_view v = s_.value(row_, column_);
    return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
}

bool Field::IsNull() const
{
    if (row_ < 0 || row_ >= s_.rowCount())
        noCurrentRow();
    return s_.isNull(row_, column_);
}

QString Field::Name() const
{
    return QString::fromStdString(s_.columns()[static_cast<std::size_t>(column_)].name);
}

void Recordset::Fill(Connection& connection, const std::string& sql)
{
    Close();
    snapshot_ = connection.Run([sql](Session& session, const StopToken&) {
        Snapshot result;
        session.query(sql, {}, result);
        return result;
    });
    open_ = true;
}

void Recordset::FillUserTables(Connection& connection)
{
    Close();
    snapshot_ = connection.Run([](Session& session, const StopToken&) {
        Snapshot result;
        session.tables(result);
        return result;
    });
    open_ = true;
}

long Recordset::RecordCount() const
{
    if (!open_)
        noCurrentRow();
    return static_cast<long>(snapshot_.rowCount());
}

Field Recordset::Fields(int ordinal) const
{
    if (!open_)
        noCurrentRow();
    if (ordinal < 0 || ordinal >= snapshot_.columnCount())
        throw DbError(DbError::kGeneric, "no field at position " + std::to_string(ordinal));
    return Field(snapshot_, position_, ordinal);
}

void Recordset::MoveNext()
{
    if (EOF_())
        noCurrentRow();
    ++position_;
}

bool Recordset::EOF_() const { return !open_ || position_ >= snapshot_.rowCount(); }

void Recordset::Close()
{
    snapshot_ = Snapshot();
    position_ = 0;
    open_ = false;
}
