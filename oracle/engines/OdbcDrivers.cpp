// The default data source: Oracle through the ODBC driver of Oracle's
// Instant Client, found among the drivers registered with unixODBC.

#include "oracle/engines/OdbcDrivers.h"

#include "oracle/engines/OdbcText.h"

#include "oracle/DbError.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>

namespace {

struct EnvFree {
    void operator()(SQLHENV env) const { SQLFreeHandle(SQL_HANDLE_ENV, env); }
};
using EnvPtr = std::unique_ptr<std::remove_pointer_t<SQLHENV>, EnvFree>;

// The first number in a driver name with the parts that follow it after a
// '.' or '_': "Oracle 21 ODBC driver" gives 21, "Oracle in
// instantclient_19_8" gives 19.8, "Oracle 12.2 ODBC Driver" 12.2.
std::vector<long> versionOf(std::string_view name)
{
    std::vector<long> parts;
    std::size_t i = 0;
    while (i < name.size() && !std::isdigit(static_cast<unsigned char>(name[i])))
        ++i;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) {
        long v = 0;
        const auto r = std::from_chars(name.data() + i, name.data() + name.size(), v);
        parts.push_back(v);
        i = static_cast<std::size_t>(r.ptr - name.data());
        if (i + 1 < name.size() && (name[i] == '.' || name[i] == '_')
            && std::isdigit(static_cast<unsigned char>(name[i + 1])))
            ++i;
        else
            break;
    }
    return parts;
}

} // namespace

std::vector<std::string> InstalledOdbcDrivers()
{
    SQLHENV raw = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw)))
        throw DbError(DbError::kNoDriver, "the ODBC driver manager could not allocate an environment");
    const EnvPtr env(raw);
    SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

    std::vector<std::string> names;
    std::vector<SQLCHAR> description(256);
    std::vector<SQLCHAR> attributes(4096);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT descriptionLength = 0, attributesLength = 0;
        SQLRETURN rc = SQLDrivers(env.get(), direction, description.data(),
                                   static_cast<SQLSMALLINT>(description.size()), &descriptionLength,
                                   attributes.data(), static_cast<SQLSMALLINT>(attributes.size()), &attributesLength);
        if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc))
            break;
        if (static_cast<std::size_t>(descriptionLength) >= description.size()) {
            // A longer name than the buffer: ask for this one again, whole.
            description.resize(static_cast<std::size_t>(descriptionLength) + 1);
            direction = SQL_FETCH_FIRST;
            names.clear();
            continue;
        }
        names.emplace_back(reinterpret_cast<const char*>(description.data()),
                           static_cast<std::size_t>(descriptionLength));
        direction = SQL_FETCH_NEXT;
    }
    return names;
}

std::optional<std::string> ChooseOracleDriver(const std::vector<std::string>& driverNames)
{
    std::vector<std::pair<std::vector<long>, std::string>> candidates;
    for (const std::string& name : driverNames)
        if (odbc::lower(name).find("oracle") != std::string::npos)
            candidates.emplace_back(versionOf(name), name);
    if (candidates.empty())
        return std::nullopt;
    // Newest first; an unversioned name sorts below every versioned one.
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first > b.first;
        return a.second < b.second;
    });
    return candidates.front().second;
}

std::string OracleConnectionString(const std::string& driver, const LoginParts& login)
{
    return "DRIVER=" + OdbcBrace(driver) + ";DBQ=" + OdbcQuote(login.dataSource) + ";UID=" + OdbcQuote(login.user)
           + ";PWD=" + OdbcQuote(login.password) + ";";
}

std::string NoOracleDriverMessage()
{
    return "No Oracle ODBC driver is installed: unixODBC lists no driver whose name contains \"Oracle\" "
           "(see odbcinst -q -d). Install Oracle Instant Client with its Basic and ODBC packages and register "
           "its driver with unixODBC (odbc_update_ini.sh, or odbcinst -i -d -f with a template).";
}

std::unique_ptr<OdbcSession> OpenOracleSession(const LoginParts& login, const OdbcOptions& options)
{
    const std::optional<std::string> driver = ChooseOracleDriver(InstalledOdbcDrivers());
    if (!driver)
        throw DbError(DbError::kNoDriver, NoOracleDriverMessage());
    return ConnectOdbc(OracleConnectionString(*driver, login), options);
}

std::unique_ptr<Session> OpenOracleSession(const LoginParts& login) { return OpenOracleSession(login, OdbcOptions{}); }
