#include "shell/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

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
    // A value edited by hand with bare commas reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
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
