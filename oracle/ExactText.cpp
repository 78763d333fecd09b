#include "oracle/ExactText.h"

namespace {

// The length of the well-formed sequence at `at`, or 0 when there is none.
std::size_t sequenceAt(std::string_view s, std::size_t at)
{
    const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b = byte(at);
    if (b < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0; // no overlong forms
        else if (b == 0xED)
            high = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > s.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(at + k) & 0xC0) != 0x80)
            return 0;
    return length;
}

constexpr char16_t kEscapeBase = 0xDC00;

// Valid UTF-8 as text. Qt's decoder drops a byte order mark at the start;
// a value's first character is kept whatever it is.
QString decodeValid(const char* data, std::size_t size)
{
    if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB
        && static_cast<unsigned char>(data[2]) == 0xBF)
        return QChar(0xFEFF) + QString::fromUtf8(data + 3, static_cast<qsizetype>(size - 3));
    return QString::fromUtf8(data, static_cast<qsizetype>(size));
}

bool isEscapedByte(char16_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

} // namespace

bool IsValidUtf8(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Plain ASCII eight bytes at a time.
        while (i + 8 <= bytes.size()) {
            unsigned long long word = 0;
            for (int k = 0; k < 8; ++k)
                word |= static_cast<unsigned long long>(static_cast<unsigned char>(bytes[i + k])) << (8 * k);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= bytes.size())
            break;
        const std::size_t n = sequenceAt(bytes, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

QString TextFromBytes(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return decodeValid(bytes.data(), bytes.size());
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t runStart = 0;
    std::size_t i = 0;
    const auto flush = [&](std::size_t end) {
        if (end > runStart)
            out += decodeValid(bytes.data() + runStart, end - runStart);
    };
    while (i < bytes.size()) {
        const std::size_t n = sequenceAt(bytes, i);
        if (n > 0) {
            i += n;
            continue;
        }
        flush(i);
        out += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
        runStart = ++i;
    }
    flush(i);
    return out;
}

std::string BytesFromText(const QString& text)
{
    const char16_t* chars = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype size = text.size();
    // A low surrogate stands for a byte only where no high one comes before it.
    const auto escapedAt = [&](qsizetype i) {
        return isEscapedByte(chars[i]) && (i == 0 || !QChar::isHighSurrogate(chars[i - 1]));
    };
    qsizetype first = 0;
    while (first < size && !escapedAt(first))
        ++first;
    if (first == size) {
        const QByteArray utf8 = text.toUtf8();
        return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(size) * 2);
    qsizetype runStart = 0;
    for (qsizetype i = first; i < size; ++i) {
        if (!escapedAt(i))
            continue;
        const QByteArray run = QStringView(chars + runStart, i - runStart).toUtf8();
        out.append(run.constData(), static_cast<std::size_t>(run.size()));
        out += static_cast<char>(chars[i] - kEscapeBase);
        runStart = i + 1;
    }
    const QByteArray run = QStringView(chars + runStart, size - runStart).toUtf8();
    out.append(run.constData(), static_cast<std::size_t>(run.size()));
    return out;
}
