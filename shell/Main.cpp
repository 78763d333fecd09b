#include "shell/Main.h"

#include "shell/Page.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QScreen>
#include <QTime>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

const char* const kHomePageAddress = "https://www.marrowick.com/";

// ---- twips ------------------------------------------------------------------

double TwipsPerPixel(const QWidget* w)
{
    double dpi = 0;
    if (w) {
        dpi = w->logicalDpiX();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        dpi = screen->logicalDotsPerInchX();
    }
    if (!(dpi > 0))
        dpi = 96;
    return 1440.0 / dpi;
}

int TwipsToPixels(double twips, const QWidget* w)
{
    return qRound(twips / TwipsPerPixel(w));
}

double PixelsToTwips(int pixels, const QWidget* w)
{
    return pixels * TwipsPerPixel(w);
}

// ---- centring ---------------------------------------------------------------

QPoint CentredTopLeft(const QWidget& page, const QSize& outer)
{
    const QScreen* screen = page.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return page.pos();
    // The arithmetic is on twips in single precision, as the pages' own
    // layout code does it; only the final placement is in whole pixels.
    const float tpp = static_cast<float>(TwipsPerPixel(&page));
    const QRect area = screen->geometry();
    const float left = (area.width() * tpp - outer.width() * tpp) / 2.0f;
    const float top = (area.height() * tpp - outer.height() * tpp) / 2.0f;
    return QPoint(area.x() + qRound(left / tpp), area.y() + qRound(top / tpp));
}

QRect OuterGeometry(const QWidget& page)
{
    const QWindow* window = page.isWindow() ? page.windowHandle() : nullptr;
    if (!window || !window->handle())
        return page.frameGeometry();
    return page.geometry().marginsAdded(window->frameMargins());
}

void MoveOuterTo(QWidget& page, const QPoint& topLeft)
{
    // move() places the frame by the widget's own idea of it; where that
    // lags behind the platform's, the difference is made up.
    const QPoint known = page.geometry().topLeft() - page.pos();
    const QPoint actual = page.geometry().topLeft() - OuterGeometry(page).topLeft();
    page.move(topLeft + actual - known);
}

void CenterForm(QWidget& page)
{
    if (!page.screen() && !QGuiApplication::primaryScreen())
        return;
    // Pages are centred by their load steps, before they are first shown;
    // a native window reports its frame as early as the platform knows it.
    if (page.isWindow() && !page.testAttribute(Qt::WA_WState_Created))
        page.winId();
    // The outer rectangle is what is centred.
    MoveOuterTo(page, CentredTopLeft(page, OuterGeometry(page).size()));
}

// ---- files ------------------------------------------------------------------

bool FileExists(const QString& path)
{
    // A NUL would cut the name short at the system call and ask about
    // another file.
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    try {
        std::error_code error;
        const std::filesystem::path native(QFile::encodeName(path).toStdString());
        [[maybe_unused]] const auto changed = std::filesystem::last_write_time(native, error);
        return !error;
    } catch (...) {
        // Allocation failure while converting the path: still just "no file".
        return false;
    }
}

// ---- the .cur format ----------------------------------------------------------
//
// A cursor file is an icon directory (6 bytes: reserved 0, type 2, count)
// followed by one 16-byte entry per image (width, height, colour count,
// reserved, hotspot x, hotspot y, byte size, offset). Each image is either a
// PNG stream or a DIB: a BITMAPINFOHEADER whose height counts both masks, an
// optional palette, the colour (XOR) rows and the 1-bit transparency (AND)
// rows, all rows bottom-up and padded to 4 bytes.

namespace {

constexpr qsizetype kMaxCursorFileBytes = 4 * 1024 * 1024;
constexpr int kMaxCursorSide = 256;

quint32 le16(const uchar* p) { return quint32(p[0]) | (quint32(p[1]) << 8); }
quint32 le32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

struct Bytes {
    const uchar* data;
    qint64 size;
};

std::optional<QImage> decodePng(Bytes b)
{
    QImage image;
    if (!image.loadFromData(b.data, static_cast<int>(b.size), "PNG") || image.isNull())
        return std::nullopt;
    if (image.width() > kMaxCursorSide || image.height() > kMaxCursorSide)
        return std::nullopt;
    return image.convertToFormat(QImage::Format_ARGB32);
}

std::optional<QImage> decodeDib(Bytes b)
{
    if (b.size < 40)
        return std::nullopt;
    const uchar* p = b.data;
    const qint64 headerSize = le32(p);
    const auto width = static_cast<qint32>(le32(p + 4));
    const auto doubledHeight = static_cast<qint32>(le32(p + 8));
    const quint32 bitCount = le16(p + 14);
    const quint32 compression = le32(p + 16);
    const quint32 colorsUsed = le32(p + 32);
    if (headerSize < 40 || headerSize > b.size)
        return std::nullopt;
    if (compression != 0) // only uncompressed RGB images occur in cursors
        return std::nullopt;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return std::nullopt;
    const bool bottomUp = doubledHeight > 0;
    const qint64 height = std::llabs(static_cast<long long>(doubledHeight)) / 2;
    if (width < 1 || width > kMaxCursorSide || height < 1 || height > kMaxCursorSide)
        return std::nullopt;

    qint64 paletteCount = 0;
    if (bitCount <= 8) {
        paletteCount = colorsUsed ? colorsUsed : (1u << bitCount);
        if (paletteCount > (1 << bitCount))
            return std::nullopt;
    }
    const qint64 paletteOffset = headerSize;
    const qint64 xorOffset = paletteOffset + paletteCount * 4;
    const qint64 xorStride = ((width * qint64(bitCount) + 31) / 32) * 4;
    const qint64 andOffset = xorOffset + xorStride * height;
    const qint64 andStride = ((qint64(width) + 31) / 32) * 4;
    const qint64 end = andOffset + andStride * height;
    // A 32-bit image carries its transparency in the alpha channel; some
    // writers leave its AND mask out.
    const bool hasAndMask = end <= b.size;
    if (andOffset > b.size || (!hasAndMask && bitCount != 32))
        return std::nullopt;

    std::vector<QRgb> palette(static_cast<size_t>(paletteCount));
    for (qint64 i = 0; i < paletteCount; ++i) {
        const uchar* c = p + paletteOffset + i * 4;
        palette[static_cast<size_t>(i)] = qRgb(c[2], c[1], c[0]);
    }

    bool anyAlpha = false;
    if (bitCount == 32) {
        for (qint64 y = 0; y < height && !anyAlpha; ++y)
            for (qint64 x = 0; x < width; ++x)
                if (p[xorOffset + y * xorStride + x * 4 + 3] != 0) {
                    anyAlpha = true;
                    break;
                }
    }
    if (bitCount == 32 && !anyAlpha && !hasAndMask)
        return std::nullopt;

    QImage image(width, static_cast<int>(height), QImage::Format_ARGB32);
    if (image.isNull())
        return std::nullopt;
    for (qint64 y = 0; y < height; ++y) {
        const qint64 row = bottomUp ? height - 1 - y : y;
        const uchar* xorRow = p + xorOffset + row * xorStride;
        const uchar* andRow = hasAndMask ? p + andOffset + row * andStride : nullptr;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (qint64 x = 0; x < width; ++x) {
            QRgb colour = 0;
            int alpha = 255;
            switch (bitCount) {
            case 1:
            case 4:
            case 8: {
                const qint64 bit = x * bitCount;
                const quint32 byte = xorRow[bit / 8];
                const quint32 shift = 8 - bitCount - quint32(bit % 8);
                const quint32 index = (byte >> shift) & ((1u << bitCount) - 1);
                colour = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
                break;
            }
            case 24: {
                const uchar* c = xorRow + x * 3;
                colour = qRgb(c[2], c[1], c[0]);
                break;
            }
            case 32: {
                const uchar* c = xorRow + x * 4;
                colour = qRgb(c[2], c[1], c[0]);
                if (anyAlpha)
                    alpha = c[3];
                break;
            }
            }
            if (!anyAlpha && andRow) {
                const bool transparent = (andRow[x / 8] >> (7 - x % 8)) & 1;
                if (transparent) {
                    // A set AND bit over a black pixel is see-through. Over any
                    // other colour the screen would be inverted there, which an
                    // image cannot express; black is the usual stand-in.
                    const bool invert = (colour & 0xFFFFFF) != 0;
                    colour = qRgb(0, 0, 0);
                    alpha = invert ? 255 : 0;
                }
            }
            out[x] = (colour & 0xFFFFFF) | (QRgb(alpha) << 24);
        }
    }
    return image;
}

struct CursorImage {
    QImage image;
    QPoint hotSpot;
};

std::optional<CursorImage> decodeCur(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < 6 || size > kMaxCursorFileBytes || le16(data) != 0 || le16(data + 2) != 2)
        return std::nullopt;
    const qint64 count = le16(data + 4);
    if (count < 1 || 6 + count * 16 > size)
        return std::nullopt;

    // Several sizes may be stored; the system's pointer size is 32x32, so the
    // nearest to it wins, and of equal sizes the one listed first.
    std::optional<CursorImage> best;
    int bestDistance = 0;
    for (qint64 i = 0; i < count; ++i) {
        const uchar* entry = data + 6 + i * 16;
        const QPoint hotSpot(static_cast<int>(le16(entry + 4)), static_cast<int>(le16(entry + 6)));
        const qint64 length = le32(entry + 8);
        const qint64 offset = le32(entry + 12);
        if (length < 8 || offset < 6 + count * 16 || offset + length > size)
            continue;
        const Bytes image{data + offset, length};
        static const uchar pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        const bool png = std::equal(pngSignature, pngSignature + 8, image.data);
        std::optional<QImage> decoded = png ? decodePng(image) : decodeDib(image);
        if (!decoded)
            continue;
        if (hotSpot.x() >= decoded->width() || hotSpot.y() >= decoded->height())
            continue;
        const int distance = std::abs(decoded->width() - 32) + std::abs(decoded->height() - 32);
        if (!best || distance < bestDistance) {
            best = CursorImage{std::move(*decoded), hotSpot};
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

std::optional<QCursor> CursorFromCurData(const QByteArray& data)
{
    std::optional<CursorImage> cursor = decodeCur(data);
    if (!cursor)
        return std::nullopt;
    const QPixmap pixmap = QPixmap::fromImage(cursor->image);
    if (pixmap.isNull())
        return std::nullopt;
    return QCursor(pixmap, cursor->hotSpot.x(), cursor->hotSpot.y());
}

std::optional<QCursor> LoadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    if (size <= 0 || size > kMaxCursorFileBytes)
        return std::nullopt;
    const QByteArray data = file.read(size);
    if (data.size() != size)
        return std::nullopt;
    return CursorFromCurData(data);
}

namespace {

QString& handPointerFolder()
{
    static QString folder;
    return folder;
}

} // namespace

void SetHandPointerFolder(const QString& folder)
{
    handPointerFolder() = folder;
}

QString HandPointerPath()
{
    const QString& folder = handPointerFolder();
    return (folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder) + QStringLiteral("/HAND-M.CUR");
}

void LoadHandPointer(Page& page)
{
    const QString path = HandPointerPath();
    if (!FileExists(path))
        return;
    if (std::optional<QCursor> hand = LoadCursorFile(path))
        page.SetMouseIcon(std::move(hand));
}

// ---- the home page ------------------------------------------------------------

namespace {

struct HomePageHooks {
    std::function<double()> draw;
    std::function<void(const QUrl&)> launch;
};

HomePageHooks& homePageHooks()
{
    static HomePageHooks hooks;
    return hooks;
}

} // namespace

double HomePageDraw(int secondsSinceMidnight)
{
    std::mt19937 generator(static_cast<std::uint32_t>(secondsSinceMidnight));
    // One 32-bit output over 2^32 lies in [0, 1) for certain, which the
    // standard's real distributions do not promise.
    return static_cast<double>(generator()) / 4294967296.0;
}

void SetHomePageHooks(std::function<double()> draw, std::function<void(const QUrl&)> launch)
{
    homePageHooks() = HomePageHooks{std::move(draw), std::move(launch)};
}

void MaybeShowHomePage()
{
    try {
        const HomePageHooks hooks = homePageHooks();
        const double r = hooks.draw ? hooks.draw()
                                    : HomePageDraw(QTime::currentTime().msecsSinceStartOfDay() / 1000);
        if (!(r >= 0.0 && r < 1.0))
            return;
        const int n = static_cast<int>(std::floor(r * 100.0)) + 1;
        if (n != 7)
            return;
        const QUrl address(QString::fromLatin1(kHomePageAddress));
        // The desktop's opener hands the address to the browser and returns
        // at once; whether it succeeded is of no interest here.
        if (hooks.launch)
            hooks.launch(address);
        else
            QDesktopServices::openUrl(address);
    } catch (...) {
        // A visit that cannot happen is simply skipped.
    }
}

// ---- the look -------------------------------------------------------------------

QPixmap BlankPicture()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    return picture;
}

void ApplyPageLook(QWidget& page)
{
    // Only the window colour: text boxes, lists and the grid keep the
    // system's colours, and buttons whiten their own face.
    QPalette palette = page.palette();
    palette.setColor(QPalette::Window, Qt::white);
    page.setPalette(palette);
    page.setAutoFillBackground(true);

    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    font.setWeight(QFont::Bold);
    page.setFont(font);

    page.setWindowIcon(QIcon(BlankPicture()));
}
