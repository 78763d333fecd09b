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
const QString kKey = QStringLiteral("OraclePassword");

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

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
        // Before any settings object exists, so that Qt takes its folder from here.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path()));
    }
    void cleanup() { useConfigFolder(home_.path()); }

    void roundTripsHostileValuesExactly_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks around") << QStringLiteral("  pass word  ");
        QTest::newRow("quotes, semicolons, equals") << QStringLiteral("a\"b';Data Source=x;Password=y");
        QTest::newRow("ini syntax") << QStringLiteral("#x ;y, z\n[Dervanta]\nOracleSID=evil");
        QTest::newRow("backslashes and markers") << QStringLiteral("C:\\ora\\ @Variant(\\0) %41");
        QTest::newRow("control characters and nul") << QString(QStringLiteral("\t\r\n\x01") + QChar(0) + u'b');
        QTest::newRow("unicode") << QStringLiteral("пароль 密码 ü 😀");
        QTest::newRow("long") << QString(20000, u'x');
    }

    void roundTripsHostileValuesExactly()
    {
        QFETCH(QString, value);
        SettingsSave(kApp, kSection, kKey, value);
        SettingsSave(kApp, kSection, QStringLiteral("OracleSID"), QStringLiteral("orcl"));
        QCOMPARE(SettingsGet(kApp, kSection, kKey), value);
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("OracleSID")), QStringLiteral("orcl"));
        QCOMPARE(SettingsFilePath(kApp), home_.filePath(QStringLiteral("Marrowick.conf")));
        QCOMPARE(SettingsGet(kApp, kSection, QStringLiteral("NeverWritten")), QString());
        QCOMPARE(SettingsGet(QStringLiteral("NoSuchMaker"), kSection, kKey), QString());
    }

    // A value written by hand with bare commas is one that QSettings reads as
    // a list; it must come back as the file has it.
    void handEditedCommaValuesReadAsWritten_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare") << QByteArray("a,b") << QStringLiteral("a,b");
        QTest::newRow("blank after") << QByteArray("host, x") << QStringLiteral("host, x");
        QTest::newRow("blank before") << QByteArray("a ,b") << QStringLiteral("a ,b");
        QTest::newRow("blanks around the value") << QByteArray(" \t a,,b  ") << QStringLiteral("a,,b");
        QTest::newRow("quoted part") << QByteArray("\"x, y\" ,z") << QStringLiteral("x, y,z");
        QTest::newRow("semicolon in quotes") << QByteArray("u,\"v;w\" ; comment") << QStringLiteral("u,v;w");
        QTest::newRow("escapes") << QByteArray("C:\\\\ora,\\x41\\102\\tz") << QStringLiteral("C:\\ora,AB\tz");
        QTest::newRow("utf-8") << QByteArray("p\xc3\xa4ss,w\xc3\xb6rd") << QStringLiteral("p\u00e4ss,w\u00f6rd");
        QTest::newRow("continued line") << QByteArray("a,\\\r\n  b") << QStringLiteral("a,  b");
        QTest::newRow("escaped at sign") << QByteArray("@@x,y") << QStringLiteral("@x,y");
    }

    void handEditedCommaValuesReadAsWritten()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        // A file of its own for each case: QSettings would take a file of the
        // same size rewritten within the same moment as unchanged.
        const QString app = QStringLiteral("HandEdited-") + QString::fromLatin1(QTest::currentDataTag());
        QDir().mkpath(home_.path());
        QFile file(SettingsFilePath(app));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // The same key elsewhere, or a longer key, is not the value.
        file.write("[Other]\nOraclePassword=1,2\n[Dervanta]\nOraclePasswordX=3,4\nOraclePassword = " + line
                   + "\nOracleSID=s, t\n");
        file.close();
        QCOMPARE(SettingsGet(app, kSection, kKey), expected);
        QCOMPARE(SettingsGet(app, kSection, QStringLiteral("OracleSID")), QStringLiteral("s, t"));
        // Written back, it reads the same.
        SettingsSave(app, kSection, kKey, SettingsGet(app, kSection, kKey));
        QCOMPARE(SettingsGet(app, kSection, kKey), expected);
    }

    void fileIsOwnerOnlyOnCreateAndAfterRewrites()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("new/config"));
        useConfigFolder(folder);
        const QString file = folder + QStringLiteral("/Marrowick.conf");
        const mode_t previous = ::umask(022); // a usual umask, which would give 0644
        SettingsSave(kApp, kSection, kKey, QStringLiteral("first"));
        QCOMPARE(modeOf(file), mode_t(0600));
        QCOMPARE(modeOf(folder) & 077, mode_t(0));
        SettingsSave(kApp, kSection, kKey, QStringLiteral("second"));
        QCOMPARE(modeOf(file), mode_t(0600));
        QCOMPARE(::umask(previous), mode_t(022)); // the process's own umask is back

        // A store left readable by others is made private by the next save.
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0644) == 0);
        SettingsSave(kApp, kSection, kKey, QStringLiteral("secret"));
        QCOMPARE(modeOf(file), mode_t(0600));
        QCOMPARE(SettingsGet(kApp, kSection, kKey), QStringLiteral("secret"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Marrowick.conf")});
    }

    void unwritableStoreIsIgnoredSilently()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QTemporaryDir dir;
        // Places that stop root too: a config "folder" that is a plain file,
        // and a folder where the store's file should be.
        const QString plainFile = dir.filePath(QStringLiteral("plain-file"));
        QVERIFY(QFile(plainFile).open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("taken/Marrowick.conf"))));
        QStringList folders{plainFile, dir.filePath(QStringLiteral("taken"))};
        if (::geteuid() != 0) {
            QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("locked"))));
            QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner));
            folders << dir.filePath(QStringLiteral("locked"));
        }
        for (const QString& folder : folders) {
            useConfigFolder(folder);
            SettingsSave(kApp, kSection, kKey, QStringLiteral("lost"));
            QCOMPARE(SettingsGet(kApp, kSection, kKey), QString());
        }
    }

private:
    QTemporaryDir home_;
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "test_shell_settings.moc"
