#pragma once

// The common start of the benchmarks that drive the pages: settings of their
// own, no display, the login the pages find stored, the PostgreSQL test
// server's login, and the process's peak memory.

#include "shell/SettingsStore.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// Before the QApplication: the settings go into `config`, and without a
// platform asked for, none is shown.
inline void BenchPrepareEnvironment(const QTemporaryDir& config)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The login the connection page finds stored, as the program stores it.
inline void BenchStoreLogin(const QString& sid, const QString& user, const QString& password)
{
    const QString app = QStringLiteral("Marrowick"), section = QStringLiteral("Dervanta");
    SettingsSave(app, section, QStringLiteral("OracleSID"), sid);
    SettingsSave(app, section, QStringLiteral("OracleUser"), user);
    SettingsSave(app, section, QStringLiteral("OraclePassword"), password);
}

// The test server's login (scripts/with-test-postgres sets it); PGPASSWORD
// is set for its client too.
struct BenchPgLogin {
    QString port, user, password, sid;
};
inline BenchPgLogin BenchPgLoginFromEnvironment()
{
    BenchPgLogin login;
    login.port = qEnvironmentVariable("DERVANTA_TEST_PG_PORT");
    login.user = qEnvironmentVariable("DERVANTA_TEST_PG_USER");
    login.password = qEnvironmentVariable("DERVANTA_TEST_PG_PASSWORD");
    login.sid = QStringLiteral("postgresql://127.0.0.1:%1/dervanta").arg(login.port);
    qputenv("PGPASSWORD", login.password.toUtf8());
    return login;
}

// The peak resident memory of this process so far, in bytes.
inline long long BenchPeakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}
