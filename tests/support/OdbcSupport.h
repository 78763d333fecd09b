#pragma once

// Helpers for the ODBC tests: the connection strings that reach the
// PostgreSQL test server and a SQLite file through Debian's ODBC drivers, a
// private unixODBC driver list, and comparing two read results.

#include "oracle/Engine.h"
#include "oracle/Snapshot.h"

#include <QString>
#include <QTemporaryDir>
#include <string>

namespace OdbcSupport {

// DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=...;DATABASE=dervanta
// (call after DERVANTA_REQUIRE_PG).
std::string pgConnect();
// The owner's login to the test database, data source empty.
LoginParts pgLogin();
// DRIVER=SQLite3;Database=<path>
std::string sqliteConnect(const QString& path);

// The first difference between two results (columns, kinds, values), or an
// empty text when they are the same.
QString difference(const Snapshot& a, const Snapshot& b);

// A unixODBC configuration of the test's own: ODBCSYSINI points at a
// temporary folder whose odbcinst.ini the test writes. unixODBC remembers the
// folder for the life of the process, so create one at the start of a test
// program, before any ODBC call, and only rewrite its driver list.
class DriverList {
public:
    DriverList();
    bool isValid() const { return dir_.isValid(); }
    QString dir() const { return dir_.path(); }
    // Replaces odbcinst.ini with these sections (name, library path).
    void write(const std::vector<std::pair<std::string, std::string>>& drivers) const;

private:
    QTemporaryDir dir_;
};

} // namespace OdbcSupport
