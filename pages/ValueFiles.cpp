#include "pages/ValueFiles.h"

#include "pages/Messages.h"

#include <QFile>
#include <QFileDialog>
#include <QSaveFile>

namespace ValueFiles {

void SaveToFile(QWidget* parent, const QString& column, std::string_view bytes, bool binary)
{
    QFileDialog dialog(parent, QStringLiteral("Save %1 to a File").arg(column));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(column + (binary ? QStringLiteral(".bin") : QStringLiteral(".txt")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // Written aside and moved over the file at the end: a failed write
    // leaves an existing file as it was.
    QSaveFile file(dialog.selectedFiles().constFirst());
    const auto size = static_cast<qint64>(bytes.size());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), size) != size || !file.commit())
        ShowMessage(parent, QStringLiteral("The file could not be written: %1").arg(file.errorString()));
}

std::optional<QByteArray> LoadFromFile(QWidget* parent, const QString& column)
{
    QFileDialog dialog(parent, QStringLiteral("Load %1 from a File").arg(column));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QFile file(dialog.selectedFiles().constFirst());
    if (!file.open(QIODevice::ReadOnly)) {
        ShowMessage(parent, QStringLiteral("The file could not be read: %1").arg(file.errorString()));
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        ShowMessage(parent, QStringLiteral("The file could not be read: %1").arg(file.errorString()));
        return std::nullopt;
    }
    return bytes;
}

} // namespace ValueFiles
