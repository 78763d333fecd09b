#pragma once

// The SQLite engine (libsqlite3), reached through the session factory.

#include "oracle/Engine.h"

#include <memory>

// Opens an existing SQLite file (the data source "sqlite:PATH"), read-write.
std::unique_ptr<Session> OpenSqliteSession(const LoginParts& login);

// Whether the SQLite library this process runs on takes INSERT ... RETURNING
// (SQLite 3.35 and later).
bool SqliteHasReturning();
