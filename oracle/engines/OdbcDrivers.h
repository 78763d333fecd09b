#pragma once

// Finding Oracle's ODBC driver among the drivers unixODBC lists, and the
// connection string that reaches a database through it.

#include "oracle/Engine.h"
#include "oracle/engines/OdbcEngine.h"

#include <optional>
#include <string>
#include <vector>

// The driver names unixODBC lists (odbcinst.ini sections), in its order.
// Throws DbError when the driver manager cannot be asked.
std::vector<std::string> InstalledOdbcDrivers();

// The Oracle driver to use among these names: those whose name contains
// "Oracle" (any case), the newest version first (the first number in the
// name, with its dotted or underscored parts, compared part by part; a name
// without a number comes last), then by name. Nothing when none qualifies.
std::optional<std::string> ChooseOracleDriver(const std::vector<std::string>& driverNames);

// DRIVER={driver};DBQ=<sid>;UID=<user>;PWD=<password>, values brace-quoted
// only when they need it (some driver versions refuse braces around plain
// UID and PWD values).
std::string OracleConnectionString(const std::string& driver, const LoginParts& login);

// The description of the failure when no Oracle driver is installed.
std::string NoOracleDriverMessage();

// OpenOracleSession with the engine's options (for tests and benchmarks).
std::unique_ptr<OdbcSession> OpenOracleSession(const LoginParts& login, const OdbcOptions& options);
