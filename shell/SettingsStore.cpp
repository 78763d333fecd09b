#include "shell/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The application name is the settings "organization" with no application
// of its own, which Qt keeps in <config folder>/<application>.conf. Values
// from a system-wide file are not mixed in: only the user's own are read.
class Store {
public:
    explicit Store(const QString& application)
        : settings_(QSettings::NativeFormat, QSettings::UserScope, application, QString())
    {
        settings_.setFallbacksEnabled(false);
    }
    QSettings& operator*() { return settings_; }
    QSettings* operator->() { return &settings_; }

private:
    QSettings settings_;
};

// Files created while the guard lives are readable by their owner only: the
// folder, the lock file, the temporary file of the atomic save and the
// store itself are never visible to anyone else, not even for a moment.
class PrivateFileMask {
public:
    PrivateFileMask() : previous_(::umask(077)) {}
    ~PrivateFileMask() { ::umask(previous_); }
    PrivateFileMask(const PrivateFileMask&) = delete;
    PrivateFileMask& operator=(const PrivateFileMask&) = delete;

private:
    mode_t previous_;
};

// Creates the store empty with mode 0600 if it does not exist yet, and takes
// group and other access away from an existing one. The atomic save keeps
// the mode of the file it replaces. Failures are left to the save, which
// ignores them.
void MakePrivate(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        return;
    }
    if (S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(native.constData(), st.st_mode & 07700);
}

// The value text after '=' unescaped as QSettings' ini format unescapes a
// single string (quotes, backslash escapes, blanks around the value dropped
// unless quoted), except that a comma is an ordinary character.
QString iniUnescaped(QByteArrayView raw)
{
    static const char simpleEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'},  {'n', '\n'},
                                            {'r', '\r'}, {'t', '\t'},  {'v', '\v'},  {'"', '"'},
                                            {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    const auto digitValue = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    QString result;
    bool inQuotes = false;
    bool quoted = false;
    // Blanks before this length came from an escape or a quote: never dropped.
    qsizetype kept = 0;
    qsizetype i = 0;
    const qsizetype n = raw.size();
    while (i < n && isBlank(raw[i]))
        ++i;
    while (i < n) {
        const char c = raw[i];
        if (c == '\\') {
            if (++i >= n)
                break;
            const char e = raw[i++];
            bool simple = false;
            for (const auto& escape : simpleEscapes)
                if (e == escape[0]) {
                    result += QLatin1Char(escape[1]);
                    simple = true;
                    break;
                }
            if (!simple && (e == 'x' || (e >= '0' && e <= '7'))) {
                const int base = e == 'x' ? 16 : 8;
                char32_t code = e == 'x' ? 0 : char32_t(e - '0');
                bool any = e != 'x';
                for (; i < n; ++i) {
                    const int digit = digitValue(raw[i]);
                    if (digit < 0 || digit >= base)
                        break;
                    code = code * base + char32_t(digit);
                    any = true;
                }
                if (any)
                    result += code <= 0xFFFF ? QString(QChar(char16_t(code))) : QString::fromUcs4(&code, 1);
            } else if (!simple && (e == '\n' || e == '\r')) {
                // A line continuation; \r\n and \n\r count as one line end.
                if (i < n && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != e)
                    ++i;
            }
            kept = result.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                while (i < n && isBlank(raw[i]))
                    ++i;
            kept = result.size();
        } else {
            qsizetype j = i + 1;
            while (j < n && raw[j] != '\\' && raw[j] != '"')
                ++j;
            result += QString::fromUtf8(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted)
        while (result.size() > kept && isBlank(result.back().toLatin1()))
            result.chop(1);
    // A leading '@' is written doubled, so that it is not read as a type marker.
    if (result.startsWith(QStringLiteral("@@")))
        result.remove(0, 1);
    return result;
}

// The unescaped text of `key` in `section` of an ini file, read line by line
// as QSettings reads it: a ';' outside quotes starts a comment, quotes and a
// backslash before the line end carry a value over to the next line, the
// last of several lines with the key counts. Nothing when there is no such key.
std::optional<QString> rawIniValue(const QString& path, const QString& section, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    const QByteArray wantedSection = section.toUtf8();
    const QByteArray wantedKey = key.toUtf8();
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };

    std::optional<QString> found;
    bool inSection = false;
    qsizetype pos = 0;
    const qsizetype n = data.size();
    while (pos < n) {
        while (pos < n && isSpace(data[pos]))
            ++pos;
        if (pos >= n)
            break;
        if (data[pos] == ';') { // a comment line
            while (pos < n && data[pos] != '\n' && data[pos] != '\r')
                ++pos;
            continue;
        }
        const qsizetype start = pos;
        qsizetype equals = -1;
        bool inQuotes = false;
        while (pos < n) {
            const char c = data[pos];
            if ((c == '\n' || c == '\r' || c == ';') && !inQuotes)
                break;
            ++pos;
            if (c == '=' && !inQuotes && equals < 0)
                equals = pos - 1;
            else if (c == '"')
                inQuotes = !inQuotes;
            else if (c == '\\' && pos < n) {
                const char escaped = data[pos++];
                // An escaped line end: \r\n and \n\r count as one.
                if (pos < n && (escaped == '\n' || escaped == '\r')
                    && (data[pos] == '\n' || data[pos] == '\r') && data[pos] != escaped)
                    ++pos;
            }
        }
        const QByteArrayView line(data.constData() + start, pos - start);
        // A comment after the value runs to the end of the line.
        if (pos < n && data[pos] == ';')
            while (pos < n && data[pos] != '\n' && data[pos] != '\r')
                ++pos;

        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            inSection = line.sliced(1, (close < 0 ? line.size() : close) - 1).trimmed() == wantedSection;
            continue;
        }
        if (!inSection || equals < 0)
            continue;
        if (line.first(equals - start).trimmed() == wantedKey)
            found = iniUnescaped(line.sliced(equals - start + 1));
    }
    return found;
}

} // namespace

QString SettingsFilePath(const QString& application)
{
    Store store(application);
    return store->fileName();
}

QString SettingsGet(const QString& application, const QString& section, const QString& key)
{
    Store store(application);
    store->beginGroup(section);
    const QVariant value = store->value(key);
    // A value edited by hand with bare commas reads back as a list, which
    // cannot tell how the commas stood: the file's own text is taken instead.
    if (value.typeId() == QMetaType::QStringList) {
        if (const std::optional<QString> raw = rawIniValue(store->fileName(), section, key))
            return *raw;
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

void SettingsSave(const QString& application, const QString& section, const QString& key, const QString& value)
{
    const PrivateFileMask mask;
    Store store(application);
    MakePrivate(store->fileName());
    store->beginGroup(section);
    store->setValue(key, value);
    store->endGroup();
    // Written at once: the program may end at any moment without unwinding.
    store->sync();
}
