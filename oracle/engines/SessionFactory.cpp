#include "oracle/Engine.h"

#include "oracle/Dialect.h"
#include "oracle/engines/SqliteEngine.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace {

// True when text begins with prefix, ignoring the case of ASCII letters.
bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
           && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
                  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
              });
}

} // namespace

std::unique_ptr<Session> OpenPgSession(const LoginParts& login);
std::unique_ptr<Session> OpenOdbcSession(const std::string& odbcConnect, const LoginParts& login);
std::unique_ptr<Session> OpenOracleSession(const LoginParts& login);

// The Data Source alone decides the engine; it is taken exactly as typed.
std::unique_ptr<Session> OpenSession(const LoginParts& login)
{
    const std::string_view source = login.dataSource;
    if (startsWithNoCase(source, "sqlite:"))
        return OpenSqliteSession(login);
    if (startsWithNoCase(source, "postgresql://") || startsWithNoCase(source, "postgres://"))
        return OpenPgSession(login);
    if (startsWithNoCase(source, "odbc:"))
        return OpenOdbcSession(std::string(source.substr(5)), login);
    return OpenOracleSession(login);
}

void Session::tables(RowSink& sink)
{
    query(dialect().catalogueQuery(), {}, sink);
}

void Session::readTable(std::string_view table, RowSink& sink) { query(dialect().selectAll(table), {}, sink); }

namespace {

std::atomic<int> loginTimeout{30};

} // namespace

int LoginTimeoutSeconds() { return loginTimeout.load(); }

void SetLoginTimeoutSeconds(int seconds) { loginTimeout = seconds; }
