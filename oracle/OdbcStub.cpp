// Stand-ins until the ODBC engine is built; weak, so the real ones win.

#include "oracle/DbError.h"
#include "oracle/Engine.h"

__attribute__((weak)) std::unique_ptr<Session> OpenOdbcSession(const std::string&, const LoginParts&)
{
    throw DbError(DbError::kNoDriver, "ODBC data sources are not available in this build");
}

__attribute__((weak)) std::unique_ptr<Session> OpenOracleSession(const LoginParts&)
{
    throw DbError(DbError::kNoDriver, "no Oracle ODBC driver is installed");
}
