#pragma once

// Helpers shared by the tests: scratch SQLite files, the throwaway PostgreSQL
// server's login (DERVANTA_TEST_PG_*), unique names and login fields.
//
// The database helpers talk to the engines' client libraries directly, not
// through the data layer under test, so that a fault there cannot hide itself.

#include "oracle/Globals.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

// ---- PostgreSQL test server -------------------------------------------------

struct PgLogin {
    QString url;           // postgresql://127.0.0.1:PORT/dervanta
    QString user;          // owns the database dervanta
    QString password;
    QString otherUser;     // a second role with CREATE on schema public
    QString otherPassword;
    int port = 0;
};

// The login from DERVANTA_TEST_PG_*; nothing when the variables are absent.
std::optional<PgLogin> pgLogin();

// Inside a test function: QSKIP unless the PostgreSQL test server is configured.
#define DERVANTA_REQUIRE_PG()                                                                      \
    do {                                                                                           \
        if (!TestSupport::pgLogin())                                                               \
            QSKIP("DERVANTA_TEST_PG_* not set: no PostgreSQL test server");                        \
    } while (false)

// The Data Source text that reaches the test database ("postgresql://127.0.0.1:PORT/dervanta").
QString pgDataSource();

enum class PgRole { Owner, Other, Superuser };

// A failed statement in a helper: the test cannot go on meaningfully.
struct SetupError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs one or more statements (semicolon separated) on the test database as
// the given role. Throws SetupError with the server's message on failure.
void pgExec(const std::string& sql, PgRole role = PgRole::Owner);

// Runs a query; every cell as text, NULL as nothing. Throws SetupError.
using Rows = std::vector<std::vector<std::optional<std::string>>>;
Rows pgQuery(const std::string& sql, PgRole role = PgRole::Owner);

// Drops the named tables (as owner, "if exists"), ignoring failures. For cleanup.
void pgDropTables(const std::vector<std::string>& names, PgRole role = PgRole::Owner);

// A test's clean-up on the server, run however the test ends: when it goes,
// drops the tables (as `role`), then the schemas with all they hold (as the
// superuser), ignoring failures.
class PgDropAtEnd {
public:
    explicit PgDropAtEnd(std::vector<std::string> tables, PgRole role = PgRole::Owner,
                         std::vector<std::string> schemas = {});
    ~PgDropAtEnd();
    PgDropAtEnd(const PgDropAtEnd&) = delete;
    PgDropAtEnd& operator=(const PgDropAtEnd&) = delete;

private:
    std::vector<std::string> tables_;
    PgRole role_;
    std::vector<std::string> schemas_;
};

// A login role of its own for one test, so that the user's own tables are
// exactly the ones the test made. Created with CREATE on schema public;
// dropped, with everything it owns, with the object. Throws SetupError.
class ScratchPgRole {
public:
    ScratchPgRole();
    ~ScratchPgRole();
    ScratchPgRole(const ScratchPgRole&) = delete;
    ScratchPgRole& operator=(const ScratchPgRole&) = delete;

    const std::string& name() const { return name_; }
    const std::string& password() const { return password_; }
    // Runs statements as this role: what they create, it owns.
    void exec(const std::string& sql) const;
    // How many sessions of this role the server has open now.
    int backends() const;
    // Makes CurrentLoginFields() answer with this role's login.
    void useAsLogin() const;

private:
    std::string name_;
    std::string password_;
};

// ---- SQLite scratch files ---------------------------------------------------

// A SQLite database file in a temporary folder, removed with the object.
class ScratchSqlite {
public:
    // Creates the file and runs the statements in it (may be empty: an empty
    // database). Throws SetupError when the SQL fails.
    explicit ScratchSqlite(const std::string& sql = {});

    QString path() const { return path_; }
    QString dataSource() const { return QStringLiteral("sqlite:") + path_; }
    QString dir() const { return dir_.path(); }

    // Runs more statements in the file. Throws SetupError.
    void exec(const std::string& sql) const;
    // Runs a query; every cell as SQLite's text, NULL as nothing. Throws SetupError.
    Rows query(const std::string& sql) const;

private:
    QTemporaryDir dir_;
    QString path_;
};

// ---- a server that never answers ----------------------------------------------

// A loopback port that takes connections and never says a word, for logins
// that must give up.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Holds an exclusive lock on a SQLite file while it lives (BEGIN EXCLUSIVE on
// a connection of its own): no other connection can read or write the file
// until it is released. Throws SetupError.
class SqliteExclusiveLock {
public:
    explicit SqliteExclusiveLock(const QString& path);
    ~SqliteExclusiveLock();
    SqliteExclusiveLock(const SqliteExclusiveLock&) = delete;
    SqliteExclusiveLock& operator=(const SqliteExclusiveLock&) = delete;

private:
    std::shared_ptr<void> db_;
};

// ---- names and logins -------------------------------------------------------

// A name no other test (or helper sharing the server) uses: prefix, the
// process id, a counter and a random tail, lower case.
std::string uniqueName(const std::string& prefix = "t");

// Makes CurrentLoginFields() answer with these values until changed.
void setLoginFields(const QString& sid, const QString& user, const QString& password);
// The owner's login to the PostgreSQL test database (call after DERVANTA_REQUIRE_PG).
void setPgLoginFields(PgRole role = PgRole::Owner);

} // namespace TestSupport
