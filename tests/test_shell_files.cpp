// The file routines: FileExists, the .cur reader (our own HAND-M.CUR, every
// colour depth and PNG, damaged files) and the hand pointer of a page.

#include "shell/Main.h"
#include "shell/Page.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <unistd.h>

namespace {

QString handFile()
{
    const QString source = qEnvironmentVariable("DERVANTA_SOURCE_DIR");
    return source.isEmpty() ? QFINDTESTDATA("../resources/HAND-M.CUR") : source + QStringLiteral("/resources/HAND-M.CUR");
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

void put16(QByteArray& b, quint16 v)
{
    char le[2];
    qToLittleEndian(v, le);
    b.append(le, 2);
}
void put32(QByteArray& b, quint32 v)
{
    char le[4];
    qToLittleEndian(v, le);
    b.append(le, 4);
}

struct Entry {
    QByteArray image;
    int width;
    int height;
    QPoint hotSpot;
};

// A cursor file around the given images, laid out as the format asks.
QByteArray curFile(const QList<Entry>& entries)
{
    QByteArray out;
    put16(out, 0);
    put16(out, 2);
    put16(out, static_cast<quint16>(entries.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(entries.size());
    for (const Entry& e : entries) {
        out.append(static_cast<char>(e.width & 0xFF));
        out.append(static_cast<char>(e.height & 0xFF));
        out.append('\0');
        out.append('\0');
        put16(out, static_cast<quint16>(e.hotSpot.x()));
        put16(out, static_cast<quint16>(e.hotSpot.y()));
        put32(out, static_cast<quint32>(e.image.size()));
        put32(out, offset);
        offset += static_cast<quint32>(e.image.size());
    }
    for (const Entry& e : entries)
        out.append(e.image);
    return out;
}

// What a DIB's pixel is made of: a palette index (1 to 8 bits) or a colour
// with alpha (24 and 32 bits), and whether its AND bit is set.
struct DibPixel {
    quint32 value;
    bool andBit;
};

QByteArray dib(int width, int height, int bits, const QList<QRgb>& palette,
               const std::function<DibPixel(int, int)>& pixel, bool withAndMask = true, bool topDown = false)
{
    QByteArray out;
    put32(out, 40);
    put32(out, static_cast<quint32>(width));
    put32(out, static_cast<quint32>(topDown ? -2 * height : 2 * height));
    put16(out, 1);
    put16(out, static_cast<quint16>(bits));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, static_cast<quint32>(palette.size()));
    put32(out, 0);
    for (QRgb c : palette) {
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    const int xorStride = (width * bits + 31) / 32 * 4;
    const int andStride = (width + 31) / 32 * 4;
    const auto rowOrder = [&](int i) { return topDown ? i : height - 1 - i; };
    for (int i = 0; i < height; ++i) {
        const int y = rowOrder(i);
        QByteArray row(xorStride, '\0');
        for (int x = 0; x < width; ++x) {
            const quint32 v = pixel(x, y).value;
            if (bits <= 8) {
                const int bit = x * bits;
                row[bit / 8] = static_cast<char>(row[bit / 8] | (v << (8 - bits - bit % 8)));
            } else {
                row[x * (bits / 8) + 0] = static_cast<char>(qBlue(v));
                row[x * (bits / 8) + 1] = static_cast<char>(qGreen(v));
                row[x * (bits / 8) + 2] = static_cast<char>(qRed(v));
                if (bits == 32)
                    row[x * 4 + 3] = static_cast<char>(qAlpha(v));
            }
        }
        out.append(row);
    }
    if (withAndMask) {
        for (int i = 0; i < height; ++i) {
            const int y = rowOrder(i);
            QByteArray row(andStride, '\0');
            for (int x = 0; x < width; ++x)
                if (pixel(x, y).andBit)
                    row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            out.append(row);
        }
    }
    return out;
}

// Translucent pixels pass through a premultiplied pixmap: allow rounding.
bool near(QRgb a, QRgb b)
{
    return qAlpha(a) == qAlpha(b) && std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2
           && std::abs(qBlue(a) - qBlue(b)) <= 2;
}

QImage imageOf(const QCursor& cursor)
{
    return cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
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
        QVERIFY(FileExists(dir.path())); // a folder has a time of last change too

        QVERIFY(!FileExists(dir.filePath(QStringLiteral("absent.cur"))));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("no/such/folder/HAND-M.CUR"))));
        QVERIFY(!FileExists(file + QStringLiteral("/below-a-file")));
        QVERIFY(!FileExists(QString()));
        // A NUL must not turn the question into one about the folder before it.
        QVERIFY(!FileExists(dir.path() + QChar(0) + QStringLiteral("HAND-M.CUR")));

        const QString dangling = dir.filePath(QStringLiteral("dangling"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), dangling));
        QVERIFY(!FileExists(dangling));

        if (::geteuid() != 0) {
            const QString closed = dir.filePath(QStringLiteral("closed"));
            QVERIFY(QDir().mkpath(closed));
            writeFile(closed + QStringLiteral("/inside"), "x");
            QVERIFY(QFile::setPermissions(closed, QFile::Permissions()));
            QVERIFY(!FileExists(closed + QStringLiteral("/inside")));
            QFile::setPermissions(closed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    void ourHandPointerReadsWithItsHotspotAtTheFingertip()
    {
        const std::optional<QCursor> hand = LoadCursorFile(handFile());
        QVERIFY2(hand, qPrintable(handFile()));
        QCOMPARE(hand->pixmap().size(), QSize(32, 32));
        QCOMPARE(hand->hotSpot(), QPoint(6, 0));

        const QImage image = imageOf(*hand);
        // The fingertip is black outline, the finger below it white fill, and
        // the corners are see-through.
        QCOMPARE(image.pixel(6, 0), qRgba(0, 0, 0, 255));
        QCOMPARE(image.pixel(6, 3), qRgba(255, 255, 255, 255));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(31, 31)), 0);
        int opaque = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                opaque += qAlpha(image.pixel(x, y)) == 255;
        QVERIFY(opaque > 150 && opaque < 700);
    }

    void readsEveryColourDepth_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("topDown");
        // Odd widths make every row need padding.
        QTest::newRow("1 bit") << 1 << 37 << 5 << false;
        QTest::newRow("4 bits") << 4 << 7 << 3 << false;
        QTest::newRow("8 bits") << 8 << 5 << 4 << false;
        QTest::newRow("24 bits") << 24 << 3 << 3 << false;
        QTest::newRow("32 bits, no alpha") << 32 << 3 << 2 << false;
        QTest::newRow("8 bits, top down") << 8 << 5 << 4 << true;
    }

    void readsEveryColourDepth()
    {
        QFETCH(int, bits);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, topDown);

        QList<QRgb> palette;
        if (bits <= 8) {
            const int colours = 1 << bits;
            for (int i = 0; i < colours; ++i)
                palette.append(i == 0 ? qRgb(0, 0, 0) : qRgb((i * 37) & 0xFF, (i * 91) & 0xFF, (i * 53 + 1) & 0xFF));
        }
        // Some pixels see-through (AND set over black), one inverting (AND
        // set over a colour, shown black), the rest opaque colours.
        const auto pixel = [&](int x, int y) -> DibPixel {
            if ((x + y) % 4 == 0)
                return {0, true};
            const bool invert = x == width - 1 && y == 0;
            const quint32 index = (x * 3 + y * 5) % (bits <= 8 ? (1u << bits) - 1 : 200u) + 1;
            const quint32 colour = bits <= 8 ? index : (qRgb(index, 255 - index, index * 7 & 0xFF) & 0xFFFFFF);
            return {colour, invert};
        };
        const auto expected = [&](int x, int y) -> QRgb {
            const DibPixel p = pixel(x, y);
            const QRgb colour = bits <= 8 ? palette[int(p.value)] : QRgb(p.value);
            if (!p.andBit)
                return colour | 0xFF000000;
            return (colour & 0xFFFFFF) == 0 ? qRgba(0, 0, 0, 0) : qRgba(0, 0, 0, 255);
        };

        const QPoint hot(width - 1, height - 1);
        const QByteArray file = curFile({{dib(width, height, bits, palette, pixel, true, topDown), width, height, hot}});
        const std::optional<QCursor> cursor = CursorFromCurData(file);
        QVERIFY(cursor);
        QCOMPARE(cursor->hotSpot(), hot);
        const QImage image = imageOf(*cursor);
        QCOMPARE(image.size(), QSize(width, height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QVERIFY2(image.pixel(x, y) == expected(x, y), qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
    }

    void readsAlphaAndPngImages()
    {
        // 32 bits with a real alpha channel: the alpha decides, and the AND
        // mask may be left out.
        const auto translucent = [](int x, int y) -> DibPixel {
            return {qRgba(200, 100, 50, x == y ? 255 : 0x40), false};
        };
        std::optional<QCursor> cursor = CursorFromCurData(curFile({{dib(2, 2, 32, {}, translucent, false), 2, 2, {1, 0}}}));
        QVERIFY(cursor);
        QImage image = imageOf(*cursor);
        QCOMPARE(image.pixel(0, 0), qRgba(200, 100, 50, 255));
        QVERIFY(near(image.pixel(1, 0), qRgba(200, 100, 50, 0x40)));

        // A PNG entry beside a smaller DIB one: the 32x32 image is taken,
        // with its own hotspot.
        QImage png(32, 32, QImage::Format_ARGB32);
        png.fill(qRgba(0, 0, 255, 128));
        QByteArray pngBytes;
        QBuffer buffer(&pngBytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(png.save(&buffer, "PNG"));
        const auto black = [](int, int) -> DibPixel { return {0, false}; };
        cursor = CursorFromCurData(curFile({{dib(16, 16, 1, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, black), 16, 16, {1, 1}},
                                            {pngBytes, 32, 32, {20, 10}}}));
        QVERIFY(cursor);
        QCOMPARE(cursor->hotSpot(), QPoint(20, 10));
        image = imageOf(*cursor);
        QCOMPARE(image.size(), QSize(32, 32));
        QVERIFY(near(image.pixel(5, 5), qRgba(0, 0, 255, 128)));
    }

    void damagedFilesReadAsNothing()
    {
        QTemporaryDir dir;
        QVERIFY(!LoadCursorFile(dir.filePath(QStringLiteral("missing.cur"))));
        QVERIFY(!LoadCursorFile(dir.path())); // a folder of that name

        const QString garbage = dir.filePath(QStringLiteral("garbage.cur"));
        writeFile(garbage, QByteArray("this is not a pointer image at all, just some text"));
        QVERIFY(!LoadCursorFile(garbage));
        writeFile(garbage, QByteArray());
        QVERIFY(!LoadCursorFile(garbage));

        // Oversized files are not read at all.
        QFile huge(dir.filePath(QStringLiteral("huge.cur")));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.write(readAll(handFile())) > 0);
        QVERIFY(huge.resize(64 * 1024 * 1024));
        huge.close();
        QVERIFY(!LoadCursorFile(huge.fileName()));

        const QByteArray good = readAll(handFile());
        QVERIFY(CursorFromCurData(good));

        // Any cut-off copy is rejected: the transparency rows come last.
        for (qsizetype n = 0; n < good.size(); ++n)
            QVERIFY2(!CursorFromCurData(good.left(n)), qPrintable(QString::number(n)));

        // Header fields out of range.
        const auto patched = [&good](int at, QByteArray bytes) {
            QByteArray copy = good;
            copy.replace(at, bytes.size(), bytes);
            return copy;
        };
        QVERIFY(!CursorFromCurData(patched(2, QByteArray("\x01\x00", 2))));                // an icon, not a cursor
        QVERIFY(!CursorFromCurData(patched(4, QByteArray("\x00\x00", 2))));                // no images
        QVERIFY(!CursorFromCurData(patched(4, QByteArray("\xff\xff", 2))));                // more entries than bytes
        QVERIFY(!CursorFromCurData(patched(10, QByteArray("\x40\x00", 2))));               // hotspot right of the image
        QVERIFY(!CursorFromCurData(patched(14, QByteArray("\xff\xff\xff\x7f", 4))));       // image longer than the file
        QVERIFY(!CursorFromCurData(patched(18, QByteArray("\xf0\xff\xff\xff", 4))));       // offset past the end
        QVERIFY(!CursorFromCurData(patched(22, QByteArray("\x00\x00\x00\x00", 4))));       // header size 0
        QVERIFY(!CursorFromCurData(patched(26, QByteArray("\x00\x00\x01\x00", 4))));       // 65536 wide
        QVERIFY(!CursorFromCurData(patched(26, QByteArray("\x00\x00\x00\x00", 4))));       // no width
        QVERIFY(!CursorFromCurData(patched(36, QByteArray("\x10\x00", 2))));               // 16 bits a pixel
        QVERIFY(!CursorFromCurData(patched(38, QByteArray("\x01\x00\x00\x00", 4))));       // compressed
        QVERIFY(!CursorFromCurData(patched(54, QByteArray("\x00\x01\x00\x00", 4))));       // 256 colours in 1 bit

        // No single damaged byte may crash the reader, whatever it answers.
        for (qsizetype at = 0; at < good.size(); ++at) {
            for (const char value : {'\x00', '\x7f', '\xff'}) {
                QByteArray copy = good;
                copy[at] = value;
                Q_UNUSED(CursorFromCurData(copy));
            }
        }
    }

    void pageTakesTheHandOnlyFromAReadableFile()
    {
        QTemporaryDir dir;
        SetHandPointerFolder(dir.path());
        QCOMPARE(HandPointerPath(), dir.filePath(QStringLiteral("HAND-M.CUR")));

        Page absent;
        LoadHandPointer(absent);
        QVERIFY(!absent.MouseIcon());

        writeFile(HandPointerPath(), "MZ not a cursor");
        Page unreadable;
        LoadHandPointer(unreadable);
        QVERIFY(!unreadable.MouseIcon());

        QVERIFY(QFile::remove(HandPointerPath()));
        QVERIFY(QFile::copy(handFile(), HandPointerPath()));
        Page present;
        LoadHandPointer(present);
        QVERIFY(present.MouseIcon());
        QCOMPARE(present.MouseIcon()->hotSpot(), QPoint(6, 0));

        SetHandPointerFolder(QString());
        QCOMPARE(HandPointerPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/HAND-M.CUR"));
    }
};

QTEST_MAIN(FilesTest)
#include "test_shell_files.moc"
