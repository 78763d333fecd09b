// The per-user settings store: exact round trips, the file's place and its
// private mode, and silence when the store cannot be written.

#include "shell/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kApp = QStringLiteral("Marrowick");
const QString kSection = QStringLiteral("Dervanta");

mode_t modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Points the user's settings folder somewhere else for the rest of the test.
void useConfigFolder(const QString& folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(home_.isValid());
        // Before any settings object exists, so that Qt takes its folder from here.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path()));
    }

    void storesInMarrowickConfInTheUsersConfigFolder()
    {
        QCOMPARE(SettingsFilePath(kApp), home_.filePath(QStringLiteral("Marrowick.conf")));
        SettingsSave(kApp, kSection, QStringLiteral("OracleUser"), QStringLiteral("scott"));
        QVERIFY(QFile::exists(home_.filePath(QStringLiteral("Marrowick.conf"))));

        // Readable by the platform's own settings under the same names.
        QSettings plain(home_.filePath(QStringLiteral("Marrowick.conf")), QSettings::IniFormat);
        QCOMPARE(plain.value(QStringLiteral("Dervanta/OracleUser")).toString(), QStringLiteral("scott"));
    }

    void roundTripsHostileValuesExactly_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks around") << QStringLiteral("  pass word  ");
        QTest::newRow("only blanks") << QStringLiteral("   ");
        QTest::newRow("quotes") << QStringLiteral("he said \"hi\" and 'bye'");
        QTest::newRow("semicolons and equals") << QStringLiteral("a;Data Source=x;Password=y");
        QTest::newRow("ini comment marks") << QStringLiteral("#not a comment ;nor this");
        QTest::newRow("commas") << QStringLiteral("a, b,c");
        QTest::newRow("brackets") << QStringLiteral("[Dervanta]\nOracleSID=evil");
        QTest::newRow("backslashes") << QStringLiteral("C:\\ora\\network\\admin\\");
        QTest::newRow("qt type markers") << QStringLiteral("@Variant(\\0\\0\\0\\x7f)");
        QTest::newRow("at sign") << QStringLiteral("@");
        QTest::newRow("control characters") << QStringLiteral("tab\there\r\nline\x01");
        QTest::newRow("nul inside") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
        QTest::newRow("unicode") << QStringLiteral("пароль 密码 ü ß 😀");
        QTest::newRow("percent escapes") << QStringLiteral("%41%2F%%");
        QTest::newRow("long") << QString(20000, QLatin1Char('x')) + QStringLiteral(";=\"");
    }

    void roundTripsHostileValuesExactly()
    {
        QFETCH(QString, value);
        SettingsSave(kApp, kSection, QStringLiteral("OraclePassword"), value);
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OraclePassword")), value);
        // The neighbours are untouched by whatever the value contains.
        SettingsSave(kApp, kSection, QStringLiteral("OracleSID"), QStringLiteral("orcl"));
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OraclePassword")), value);
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OracleSID")), QStringLiteral("orcl"));
    }

    void missingEntriesReadAsEmpty()
    {
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("NeverWritten")), QString());
        QCOMPARE(SettingsGet(kApp, QStringLiteral("NoSuchSection"), QStringLiteral("OracleSID")), QString());
        QCOMPARE(SettingsGet(QStringLiteral("NoSuchMaker"), kSection, QStringLiteral("OracleSID")), QString());
        QVERIFY(!QFile::exists(home_.filePath(QStringLiteral("NoSuchMaker.conf"))));
    }

    void fileIsOwnerOnlyOnCreateAndAfterRewrites()
    {
        QTemporaryDir dir;
        useConfigFolder(dir.path());
        const QString file = dir.filePath(QStringLiteral("Marrowick.conf"));
        const mode_t previous = ::umask(022); // a usual umask that would give 0644
        SettingsSave(kApp, kSection, QStringLiteral("OraclePassword"), QStringLiteral("first"));
        QCOMPARE(modeOf(file), mode_t(0600));
        for (int i = 0; i < 3; ++i)
            SettingsSave(kApp, kSection, QStringLiteral("OraclePassword"), QStringLiteral("again %1").arg(i));
        QCOMPARE(modeOf(file), mode_t(0600));
        // The process's own umask is as it was.
        QCOMPARE(::umask(previous), mode_t(022));

        // A store left readable by others (an older copy, a careless edit)
        // is made private by the next save.
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0644) == 0);
        SettingsSave(kApp, kSection, QStringLiteral("OraclePassword"), QStringLiteral("secret"));
        QCOMPARE(modeOf(file), mode_t(0600));
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OraclePassword")), QStringLiteral("secret"));

        // Nothing else is left beside it (no lock or temporary file).
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Marrowick.conf")});
    }

    void missingConfigFolderIsCreatedPrivate()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("new/config"));
        useConfigFolder(folder);
        SettingsSave(kApp, kSection, QStringLiteral("OracleSID"), QStringLiteral("x"));
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OracleSID")), QStringLiteral("x"));
        QCOMPARE(modeOf(folder + QStringLiteral("/Marrowick.conf")), mode_t(0600));
        QCOMPARE(modeOf(folder) & 077, mode_t(0));
    }

    void unwritableStoreIsIgnoredSilently()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QTemporaryDir dir;

        // The config "folder" is a plain file: nothing can be created in it,
        // even by root, for whom permission bits do not stop a write.
        const QString notAFolder = dir.filePath(QStringLiteral("plain-file"));
        QVERIFY(QFile(notAFolder).open(QIODevice::WriteOnly));
        useConfigFolder(notAFolder);
        SettingsSave(kApp, kSection, QStringLiteral("OracleSID"), QStringLiteral("lost"));
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OracleSID")), QString());

        // The store's own name is taken by a folder.
        const QString blocked = dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/Marrowick.conf")));
        useConfigFolder(blocked);
        SettingsSave(kApp, kSection, QStringLiteral("OracleSID"), QStringLiteral("lost"));
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OracleSID")), QString());

        // Permission bits, where they apply (not as root).
        if (::geteuid() != 0) {
            const QString locked = dir.filePath(QStringLiteral("locked"));
            QVERIFY(QDir().mkpath(locked));
            QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0500) == 0);
            useConfigFolder(locked);
            SettingsSave(kApp, kSection, QStringLiteral("OracleSID"), QStringLiteral("lost"));
            QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OracleSID")), QString());
            ::chmod(QFile::encodeName(locked).constData(), 0700);
        }
    }

    void cleanup() { useConfigFolder(home_.path()); }

private:
    QTemporaryDir home_;
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "test_shell_settings.moc"
