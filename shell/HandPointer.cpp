#include "shell/HandPointer.h"

#include "shell/Page.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

#include <cstdlib>
#include <filesystem>
#include <system_error>

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

// A cursor file is an icon directory (6 bytes: reserved 0, type 2, count)
// followed by one 16-byte entry per image (width, height, colour count,
// reserved, hotspot x, hotspot y, byte size, offset). Qt's icon reader
// decodes the images; the hotspot, which it does not report, comes from the
// entry, and every entry is checked to lie within the file first.

namespace {

constexpr qsizetype kMaxCursorFileBytes = 4 * 1024 * 1024;
constexpr int kMaxCursorSide = 256;

quint32 le16(const uchar* p) { return quint32(p[0]) | (quint32(p[1]) << 8); }
quint32 le32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

} // namespace

std::optional<QCursor> CursorFromCurData(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const qint64 size = data.size();
    if (size < 6 || size > kMaxCursorFileBytes || le16(bytes) != 0 || le16(bytes + 2) != 2)
        return std::nullopt;
    const qint64 count = le16(bytes + 4);
    if (count < 1 || 6 + count * 16 > size)
        return std::nullopt;
    for (qint64 i = 0; i < count; ++i) {
        const uchar* entry = bytes + 6 + i * 16;
        const qint64 length = le32(entry + 8);
        const qint64 offset = le32(entry + 12);
        if (length < 8 || offset < 6 + count * 16 || offset + length > size)
            return std::nullopt;
    }

    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "cur");
    if (reader.imageCount() != count)
        return std::nullopt;
    // Several sizes may be stored; the system's pointer size is 32x32, so the
    // nearest to it wins, and of equal sizes the one listed first.
    std::optional<QImage> best;
    QPoint bestHotSpot;
    int bestDistance = 0;
    for (int i = 0; i < count; ++i) {
        if (!reader.jumpToImage(i))
            continue;
        const QImage image = reader.read();
        if (image.isNull() || image.width() > kMaxCursorSide || image.height() > kMaxCursorSide)
            continue;
        const uchar* entry = bytes + 6 + i * 16;
        const QPoint hotSpot(static_cast<int>(le16(entry + 4)), static_cast<int>(le16(entry + 6)));
        if (hotSpot.x() >= image.width() || hotSpot.y() >= image.height())
            continue;
        const int distance = std::abs(image.width() - 32) + std::abs(image.height() - 32);
        if (!best || distance < bestDistance) {
            best = image.convertToFormat(QImage::Format_ARGB32);
            bestHotSpot = hotSpot;
            bestDistance = distance;
        }
    }
    if (!best)
        return std::nullopt;
    const QPixmap pixmap = QPixmap::fromImage(*best);
    if (pixmap.isNull())
        return std::nullopt;
    return QCursor(pixmap, bestHotSpot.x(), bestHotSpot.y());
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

void SetHandPointerFolder(const QString& folder) { handPointerFolder() = folder; }

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
