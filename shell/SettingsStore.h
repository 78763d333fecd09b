#pragma once

// The per-user settings store: string values by application name, section
// and key (Qt's per-user settings; application "Marrowick" is the file
// Marrowick.conf in the user's config folder). A missing key reads as empty.
// The file holds a password, so it is kept readable by its owner only.
// A store that cannot be written is ignored silently.

#include <QString>

QString SettingsGet(const QString& application, const QString& section, const QString& key);
void SettingsSave(const QString& application, const QString& section, const QString& key, const QString& value);
