#pragma once

// The connection and rowset faces the pages use, under the names they use.
// A Connection is created new by each action that needs the database and
// shared only with the rowsets opened on it; dropping the last reference
// closes it. All calls come from the UI thread only; failures are DbError.

#include "oracle/Engine.h"

#include <QString>
#include <memory>

class Recordset;

constexpr int adUseServer = 2;
constexpr int adUseClient = 3;
constexpr int adOpenDynamic = 2;
constexpr int adLockOptimistic = 3;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    static std::shared_ptr<Connection> Create() { return std::shared_ptr<Connection>(new Connection); }
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // 3 = client-side: rowsets are read whole, with an exact RecordCount.
    int CursorLocation = adUseServer;

    // Opens the connection the provider string describes. userId and password
    // are used only when the string carries none. Synchronous.
    void Open(const QString& connectionString, const QString& userId = {}, const QString& password = {},
              long options = -1);
    // Runs a query and returns a rowset on its first row.
    std::shared_ptr<Recordset> Execute(const QString& commandText, long options = -1);
    // The logged-in user's own tables (one column, the name), as the engine's
    // catalogue lists them; a rowset on its first row, like Execute.
    std::shared_ptr<Recordset> OpenUserTables();
    void Close();
    bool IsOpen() const { return session_ != nullptr; }

    // The engine session; the connection must be open.
    Session& session();

private:
    Connection() = default;
    std::unique_ptr<Session> session_;
};

using ConnectionPtr = std::shared_ptr<Connection>;
