#pragma once

// A value of a field saved to, or loaded from, a file the user picks: the
// bytes exactly as they are, whatever they hold. A file that cannot be
// written or read is told in a message.

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

class QWidget;

namespace ValueFiles {

// `column` names the dialog and the file offered; `binary` picks its ending.
void SaveToFile(QWidget* parent, const QString& column, std::string_view bytes, bool binary);
// Nothing when the user cancelled or the file could not be read.
std::optional<QByteArray> LoadFromFile(QWidget* parent, const QString& column);

} // namespace ValueFiles
