#pragma once

// The per-user settings store: string values by application name, section
// and key (Qt's per-user settings; application "Marrowick" is the file
// Marrowick.conf in the user's config folder). A missing key reads as empty.
// Values are kept exactly as given. The file holds a password, so it is
// created readable by its owner only and kept so. A store that cannot be
// written is ignored silently. Called from the user-interface thread only.

#include <QString>

QString SettingsGet(const QString& application, const QString& section, const QString& key);
void SettingsSave(const QString& application, const QString& section, const QString& key, const QString& value);

// The file that holds the application's values.
QString SettingsFilePath(const QString& application);
