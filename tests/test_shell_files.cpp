// FileExists, the .cur reader (our HAND-M.CUR, PNG and alpha images, damaged
// files) and the hand pointer of a page.

#include "shell/Main.h"
#include "shell/Page.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray ourHand()
{
    QFile f(qEnvironmentVariable("DERVANTA_SOURCE_DIR") + QStringLiteral("/resources/HAND-M.CUR"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

// A cursor file with one entry per image, each as (bytes, hotspot).
QByteArray curFile(const QList<std::pair<QByteArray, QPoint>>& images)
{
    QByteArray dir(6 + 16 * images.size(), '\0'), data;
    qToLittleEndian<quint16>(2, dir.data() + 2);
    qToLittleEndian<quint16>(quint16(images.size()), dir.data() + 4);
    for (qsizetype i = 0; i < images.size(); ++i) {
        char* e = dir.data() + 6 + 16 * i;
        qToLittleEndian<quint16>(quint16(images[i].second.x()), e + 4);
        qToLittleEndian<quint16>(quint16(images[i].second.y()), e + 6);
        qToLittleEndian<quint32>(quint32(images[i].first.size()), e + 8);
        qToLittleEndian<quint32>(quint32(dir.size() + data.size()), e + 12);
        data += images[i].first;
    }
    return dir + data;
}

} // namespace

class FilesTest : public QObject {
    Q_OBJECT

private slots:
    void fileExistsOnlyWhenItsTimeCanBeRead()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("präsent ;\"x\".cur"));
        writeFile(file, "x");
        QVERIFY(FileExists(file));
        QVERIFY(FileExists(dir.path()));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("no/such/folder/HAND-M.CUR"))));
        QVERIFY(!FileExists(file + QStringLiteral("/below-a-file")));
        QVERIFY(!FileExists(QString()));
        // A NUL must not turn the question into one about the folder before it.
        QVERIFY(!FileExists(dir.path() + QChar(0) + QStringLiteral("HAND-M.CUR")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), dir.filePath(QStringLiteral("dangling"))));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("dangling"))));
    }

    void ourHandPointerHasItsHotspotAtTheFingertip()
    {
        const std::optional<QCursor> hand = CursorFromCurData(ourHand());
        QVERIFY(hand);
        QCOMPARE(hand->hotSpot(), QPoint(6, 0));
        const QImage image = hand->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(32, 32));
        QCOMPARE(image.pixel(6, 0), qRgba(0, 0, 0, 255));       // outline at the tip
        QCOMPARE(image.pixel(6, 3), qRgba(255, 255, 255, 255)); // fill inside the finger
        QCOMPARE(qAlpha(image.pixel(31, 31)), 0);               // see-through background
    }

    void readsPngAndAlphaImagesNearestTo32()
    {
        // A 16x16 32-bit image with alpha and no AND mask, and a 32x32 PNG.
        QByteArray dib(40 + 16 * 16 * 4, '\x80');
        dib.replace(0, 40, QByteArray(40, '\0'));
        qToLittleEndian<quint32>(40, dib.data());
        qToLittleEndian<quint32>(16, dib.data() + 4);
        qToLittleEndian<quint32>(32, dib.data() + 8);
        qToLittleEndian<quint16>(32, dib.data() + 14);
        QImage png(32, 32, QImage::Format_ARGB32);
        png.fill(qRgba(0, 0, 255, 255));
        QByteArray pngBytes;
        QBuffer buffer(&pngBytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && png.save(&buffer, "PNG"));

        const std::optional<QCursor> small = CursorFromCurData(curFile({{dib, {1, 2}}}));
        QVERIFY(small);
        QCOMPARE(small->pixmap().size(), QSize(16, 16));
        QCOMPARE(qAlpha(small->pixmap().toImage().pixel(3, 3)), 0x80);

        const std::optional<QCursor> both = CursorFromCurData(curFile({{dib, {1, 2}}, {pngBytes, {20, 10}}}));
        QVERIFY(both);
        QCOMPARE(both->hotSpot(), QPoint(20, 10));
        QCOMPARE(both->pixmap().toImage().pixel(5, 5), qRgba(0, 0, 255, 255));
    }

    void damagedOrMissingFilesReadAsNothing()
    {
        QTemporaryDir dir;
        QVERIFY(!LoadCursorFile(dir.filePath(QStringLiteral("missing.cur"))));
        QVERIFY(!LoadCursorFile(dir.path()));
        writeFile(dir.filePath(QStringLiteral("garbage.cur")), "this is not a pointer image at all");
        QVERIFY(!LoadCursorFile(dir.filePath(QStringLiteral("garbage.cur"))));

        const QByteArray good = ourHand();
        for (qsizetype n = 0; n < good.size(); ++n) // the transparency rows come last
            QVERIFY2(!CursorFromCurData(good.left(n)), qPrintable(QString::number(n)));
        QByteArray hotspotOutside = good;
        hotspotOutside[10] = 32;
        QVERIFY(!CursorFromCurData(hotspotOutside));
        // No damaged byte may crash the reader, whatever it answers.
        for (qsizetype at = 0; at < good.size(); ++at)
            for (const char value : {'\x00', '\x7f', '\xff'}) {
                QByteArray copy = good;
                copy[at] = value;
                Q_UNUSED(CursorFromCurData(copy));
            }
    }

    void pageTakesTheHandOnlyFromAReadableFile()
    {
        QTemporaryDir dir;
        SetHandPointerFolder(dir.path());
        Page absent, unreadable, present;
        LoadHandPointer(absent);
        QVERIFY(!absent.MouseIcon());
        writeFile(HandPointerPath(), "MZ not a cursor");
        LoadHandPointer(unreadable);
        QVERIFY(!unreadable.MouseIcon());
        QVERIFY(QFile::remove(HandPointerPath()));
        writeFile(HandPointerPath(), ourHand());
        LoadHandPointer(present);
        QVERIFY(present.MouseIcon());
        QCOMPARE(present.MouseIcon()->hotSpot(), QPoint(6, 0));
        SetHandPointerFolder(QString());
        QCOMPARE(HandPointerPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/HAND-M.CUR"));
    }
};

QTEST_MAIN(FilesTest)
#include "test_shell_files.moc"
