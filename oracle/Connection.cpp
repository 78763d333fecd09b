#include "oracle/Connection.h"

#include "oracle/ConnectionString.h"
#include "oracle/Recordset.h"

namespace {

// The only provider a connection string may name.
const QString kProvider = QStringLiteral("OraOLEDB.Oracle");

std::shared_ptr<Session> logIn(const LoginParts& login)
{
    return RunBlocking([login](const StopToken&) { return std::shared_ptr<Session>(OpenSession(login)); });
}

} // namespace

Connection::~Connection() = default;

Connection::RunningCall::RunningCall(Connection& c) : connection_(c)
{
    if (c.running_)
        throw DbError(DbError::kBusy, "the database is still busy with the previous request on this connection");
    c.running_ = true;
}

void Connection::Open(const QString& connectionString, const QString& userId, const QString& password, long)
{
    if (IsOpen())
        throw DbError(DbError::kGeneric, "the connection is already open");
    const auto pieces = ParseConnectionString(connectionString);
    if (!pieces)
        throw DbError(DbError::kBadConnectionString, "the connection string is malformed");
    const auto piece = [&pieces](const char* key) -> const QString* {
        const auto it = pieces->find(QString::fromLatin1(key));
        return it == pieces->end() ? nullptr : &it->second;
    };
    if (const QString* provider = piece("provider"); provider && provider->compare(kProvider, Qt::CaseInsensitive) != 0)
        throw DbError(DbError::kNoDriver, "the provider \"" + provider->toStdString() + "\" is not available");

    LoginParts login;
    if (const QString* source = piece("data source"))
        login.dataSource = source->toStdString();
    const QString* user = piece("user id");
    login.user = (user ? *user : userId).toStdString();
    const QString* pw = piece("password");
    login.password = (pw ? *pw : password).toStdString();
    session_ = logIn(login);
    login_ = std::move(login);
    opened_ = true;
}

std::shared_ptr<Session> Connection::ready()
{
    if (lent_)
        throw DbError(DbError::kBusyReading, "the table is still being read");
    if (!opened_)
        throw DbError(DbError::kGeneric, "the connection is closed");
    if (!session_)
        logInAgain();
    return session_;
}

void Connection::Reconnect()
{
    const RunningCall running(*this);
    logInAgain();
}

void Connection::logInAgain()
{
    if (!opened_)
        throw DbError(DbError::kGeneric, "the connection is closed");
    if (lent_)
        throw DbError(DbError::kBusyReading, "the table is still being read");
    session_.reset();
    session_ = logIn(login_);
}

std::shared_ptr<Session> Connection::Lend()
{
    if (running_)
        throw DbError(DbError::kBusy, "the database is still busy with the previous request on this connection");
    std::shared_ptr<Session> session = ready();
    session_.reset();
    lent_ = true;
    return session;
}

void Connection::GiveBack(std::shared_ptr<Session> session)
{
    lent_ = false;
    session_ = std::move(session);
}

std::shared_ptr<Connection> Connection::Another() const
{
    if (!opened_)
        throw DbError(DbError::kGeneric, "the connection is closed");
    std::shared_ptr<Connection> other = Create();
    other->login_ = login_;
    other->opened_ = true;
    return other;
}

std::shared_ptr<Recordset> Connection::Execute(const QString& commandText, long)
{
    auto rowset = std::make_shared<Recordset>();
    rowset->Fill(*this, commandText.toStdString());
    return rowset;
}

std::shared_ptr<Recordset> Connection::OpenUserTables()
{
    auto rowset = std::make_shared<Recordset>();
    rowset->FillUserTables(*this);
    return rowset;
}

void Connection::Close()
{
    session_.reset();
    opened_ = false;
    lent_ = false;
}
