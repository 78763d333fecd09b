#include "pages/ValueText.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cctype>

namespace ValueText {

namespace {

// The start of a binary value shown as hex.
constexpr std::size_t kHexBytes = 256;
// Eight bytes a line: narrow enough for the window to stand beside the page.
constexpr std::size_t kHexLine = 8;
// A text is tried as JSON only up to this size.
constexpr std::size_t kJsonBytes = 16 * 1024 * 1024;

} // namespace

bool MayBeJson(std::string_view bytes)
{
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](char c) { return !std::isspace(static_cast<unsigned char>(c)); });
    return first != bytes.end() && (*first == '{' || *first == '[') && bytes.size() <= kJsonBytes;
}

QString IndentedJson(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(u'{') && !trimmed.startsWith(u'['))
        return {};
    QJsonParseError error;
    if (QJsonDocument::fromJson(trimmed.toUtf8(), &error).isNull() || error.error != QJsonParseError::NoError)
        return {};
    // Laid out as QJsonDocument::Indented lays it out, but from the text
    // itself: the keys keep their order and the numbers their spelling.
    QString out;
    out.reserve(trimmed.size() * 2);
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    const auto newLine = [&] {
        out += u'\n';
        out += QString(depth * 4, u' ');
    };
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar ch = trimmed[i];
        if (inString) {
            out += ch;
            if (escaped)
                escaped = false;
            else if (ch == u'\\')
                escaped = true;
            else if (ch == u'"')
                inString = false;
            continue;
        }
        switch (ch.unicode()) {
        case u'"':
            inString = true;
            out += ch;
            break;
        case u'{':
        case u'[': {
            qsizetype j = i + 1;
            while (j < trimmed.size() && trimmed[j].isSpace())
                ++j;
            const QChar close = ch == u'{' ? u'}' : u']';
            out += ch;
            if (j < trimmed.size() && trimmed[j] == close) {
                out += close;
                i = j;
                break;
            }
            ++depth;
            newLine();
            break;
        }
        case u'}':
        case u']':
            --depth;
            newLine();
            out += ch;
            break;
        case u',':
            out += ch;
            newLine();
            break;
        case u':':
            out += QStringLiteral(": ");
            break;
        case u' ':
        case u'\t':
        case u'\n':
        case u'\r':
            break;
        default:
            out += ch;
        }
    }
    return out;
}

QString HexStart(std::string_view bytes)
{
    QString out;
    const std::size_t shown = std::min(bytes.size(), kHexBytes);
    for (std::size_t line = 0; line < shown; line += kHexLine) {
        QString hex;
        QString chars;
        for (std::size_t i = line; i < line + kHexLine; ++i) {
            if (i < shown) {
                const auto b = static_cast<unsigned char>(bytes[i]);
                hex += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
                chars += b >= 0x20 && b < 0x7F ? QChar(b) : QChar(u'.');
            } else {
                hex += QStringLiteral("   ");
            }
        }
        if (!out.isEmpty())
            out += u'\n';
        out += QStringLiteral("%1  %2 %3").arg(line, 8, 16, QLatin1Char('0')).arg(hex, chars);
    }
    if (bytes.size() > shown)
        out += QStringLiteral("\n\u2026");
    return out;
}

} // namespace ValueText
