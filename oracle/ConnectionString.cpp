#include "oracle/ConnectionString.h"

namespace {

bool isBlank(QChar c) { return c.isSpace(); }

// A value that could end the piece, open a quote, or lose its outer blanks
// when read back is enclosed in double quotes; any other goes in as typed.
QString quoted(const QString& value)
{
    const bool needs = value.contains(u';') || value.contains(u'"') || value.contains(u'\'')
                       || (!value.isEmpty() && (isBlank(value.front()) || isBlank(value.back())));
    if (!needs)
        return value;
    QString out;
    out.reserve(value.size() + 2);
    out += u'"';
    for (const QChar c : value) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
    return out;
}

} // namespace

QString BuildConnectionString(const QString& sid, const QString& user, const QString& password)
{
    return QStringLiteral("Provider=OraOLEDB.Oracle;Data Source=") + quoted(sid) + QStringLiteral(";User Id=")
           + quoted(user) + QStringLiteral(";Password=") + quoted(password) + QStringLiteral(";");
}

std::optional<std::map<QString, QString>> ParseConnectionString(const QString& text)
{
    std::map<QString, QString> pieces;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype equals = text.indexOf(u'=', i);
        const qsizetype semicolon = text.indexOf(u';', i);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
            // A piece without '=' is tolerated only when it is empty or blank.
            const qsizetype stop = semicolon < 0 ? n : semicolon;
            if (!text.mid(i, stop - i).trimmed().isEmpty())
                return std::nullopt;
            i = stop + 1;
            continue;
        }
        const QString key = text.mid(i, equals - i).trimmed().toLower();
        if (key.isEmpty())
            return std::nullopt;
        i = equals + 1;

        QString value;
        if (i < n && text[i] == u'"') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        value += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                return std::nullopt;
            // Only blanks may stand between the closing quote and the next piece.
            while (i < n && text[i] != u';') {
                if (!isBlank(text[i]))
                    return std::nullopt;
                ++i;
            }
            ++i;
        } else {
            const qsizetype stop = semicolon < 0 ? n : semicolon;
            value = text.mid(i, stop - i);
            i = stop + 1;
        }
        pieces[key] = value;
    }
    return pieces;
}
