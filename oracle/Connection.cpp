#include "oracle/Connection.h"

#include "oracle/ConnectionString.h"
#include "oracle/DbError.h"
#include "oracle/Recordset.h"

namespace {

// The only provider a connection string may name.
const QString kProvider = QStringLiteral("OraOLEDB.Oracle");

} // namespace

Connection::~Connection() { Close(); }

void Connection::Open(const QString& connectionString, const QString& userId, const QString& password, long)
{
    if (session_)
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
    session_ = OpenSession(login);
}

std::shared_ptr<Recordset> Connection::Execute(const QString& commandText, long)
{
    Session& s = session();
    auto rowset = std::make_shared<Recordset>();
    rowset->Fill(s, commandText.toStdString());
    return rowset;
}

std::shared_ptr<Recordset> Connection::OpenUserTables()
{
    Session& s = session();
    auto rowset = std::make_shared<Recordset>();
    rowset->FillUserTables(s);
    return rowset;
}

void Connection::Close() { session_.reset(); }

Session& Connection::session()
{
    if (!session_)
        throw DbError(DbError::kGeneric, "the connection is closed");
    return *session_;
}
