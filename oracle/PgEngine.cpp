#include "oracle/DbError.h"
#include "oracle/Engine.h"

__attribute__((weak)) std::unique_ptr<Session> OpenPgSession(const LoginParts&)
{
    throw DbError(DbError::kNoDriver, "PostgreSQL is not available yet in this build");
}
