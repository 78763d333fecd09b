#pragma once

// The connection face the pages use, under the names they use. A Connection
// is created new by each action that needs the database and shared only with
// the rowsets opened on it; dropping the last reference closes it. It is used
// from the user-interface thread; every call that reaches the server runs
// through RunBlocking, so the window keeps painting meanwhile. Failures are
// DbError.

#include "oracle/Engine.h"

#include <QString>
#include <memory>

class Recordset;
class StopToken;

constexpr int adUseServer = 2;
constexpr int adUseClient = 3;
constexpr int adOpenDynamic = 2;
constexpr int adLockOptimistic = 3;

class Connection {
public:
    static std::shared_ptr<Connection> Create() { return std::shared_ptr<Connection>(new Connection); }
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // 3 = client-side: rowsets are read whole, with an exact RecordCount.
    int CursorLocation = adUseServer;

    // Opens the connection the provider string describes. userId and password
    // are used only when the string carries none.
    void Open(const QString& connectionString, const QString& userId = {}, const QString& password = {},
              long options = -1);
    // Runs a query and returns a rowset on its first row.
    std::shared_ptr<Recordset> Execute(const QString& commandText, long options = -1);
    // The logged-in user's own tables (one column, the name), as the engine's
    // catalogue lists them; a rowset on its first row, like Execute.
    std::shared_ptr<Recordset> OpenUserTables();
    void Close();
    bool IsOpen() const { return session_ != nullptr || lent_; }

    // Runs work(session, stop) on a worker thread through RunBlocking. When
    // the user stops waiting, the session stays with that worker and this
    // connection logs in again at its next use. A connection whose session
    // was given up, or broke, logs in again with the same login first.
    // One call at a time: a call made while one runs (from a timer that
    // fired during the wait, say) is refused with DbError::kBusy, so two
    // threads never use the session at once.
    template <typename Work>
    auto Run(Work work);
    // Whether a call is running now.
    bool Running() const { return running_; }

    // Logs in again with the login the connection was opened with, in place
    // of a session that broke or was given up.
    void Reconnect();

    // The session leaves the connection for a thread that reads with it;
    // Run refuses until GiveBack returns it (or, if the reader gave it up,
    // logs in again).
    std::shared_ptr<Session> Lend();
    void GiveBack(std::shared_ptr<Session> session);

    // A connection of its own with the same login, which logs in at its
    // first use: a second session beside the one lent to a reader.
    std::shared_ptr<Connection> Another() const;

private:
    Connection() = default;
    std::shared_ptr<Session> ready();
    void logInAgain();

    // Marks a call as running for as long as it lives.
    class RunningCall {
    public:
        explicit RunningCall(Connection& c);
        ~RunningCall() { connection_.running_ = false; }
        RunningCall(const RunningCall&) = delete;
        RunningCall& operator=(const RunningCall&) = delete;

    private:
        Connection& connection_;
    };

    std::shared_ptr<Session> session_;
    LoginParts login_;
    bool opened_ = false;
    bool lent_ = false;
    bool running_ = false;
};

using ConnectionPtr = std::shared_ptr<Connection>;

#include "oracle/Blocking.h"
#include "oracle/DbError.h"

template <typename Work>
auto Connection::Run(Work work)
{
    const RunningCall running(*this);
    std::shared_ptr<Session> session = ready();
    try {
        return RunBlocking([session, work = std::move(work)](const StopToken& stop) mutable { return work(*session, stop); },
                           [session] { session->interrupt(); });
    } catch (const DbError& e) {
        // Given up: it belongs to its worker now.
        if (e.number() == DbError::kStoppedWaiting)
            session_.reset();
        throw;
    }
}
