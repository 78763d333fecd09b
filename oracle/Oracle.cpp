#include "oracle/Oracle.h"

#include "oracle/Connection.h"
#include "oracle/ConnectionString.h"
#include "oracle/DbError.h"
#include "oracle/Globals.h"
#include "oracle/Recordset.h"

#include <QCoreApplication>

#include <cstdint>

ConnectionPtr OpenLoginConnection(int cursorLocation)
{
    ConnectionPtr connection = Connection::Create();
    if (cursorLocation)
        connection->CursorLocation = cursorLocation;
    const LoginFields fields = CurrentLoginFields();
    connection->Open(BuildConnectionString(fields.sid, fields.user, fields.password), QString(), QString(), -1);
    return connection;
}

bool TryConnect() { return TryConnect(nullptr); }

bool TryConnect(QString* reason)
{
    // The connection is dropped on every way out, so nothing stays open.
    try {
        const ConnectionPtr connection = OpenLoginConnection();
        return true;
    } catch (const DbError& e) {
        if (reason)
            *reason = QString::fromStdString(e.description());
    } catch (const std::exception& e) {
        if (reason)
            *reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        if (reason)
            *reason = QStringLiteral("unknown failure");
    }
    return false;
}

void FillTableList(TableListTarget& list)
{
    // Both are released on every way out; a failure reaches the caller as it is.
    const ConnectionPtr connection = OpenLoginConnection(adUseClient);
    const RecordsetPtr rowset = connection->OpenUserTables();

    // Only now: a failure above leaves the list as it was.
    list.Clear();
    const auto count = static_cast<std::int32_t>(rowset->RecordCount());
    for (std::int32_t i = 1; i <= count; ++i) {
        QCoreApplication::processEvents();
        list.AddItem(rowset->Fields(0).Value());
        rowset->MoveNext();
    }
    rowset->Close();
    connection->Close();
}
