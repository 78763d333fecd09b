#pragma once

#include <QString>
#include <map>
#include <optional>

// The provider connection string: "Provider=OraOLEDB.Oracle;Data Source=" SID
// ";User Id=" user ";Password=" password ";". A value that contains ';', '"',
// '\'' or has a leading or trailing blank is enclosed in double quotes with
// inner double quotes doubled, so no value can break the string or add a key;
// every other value goes in exactly as typed.
QString BuildConnectionString(const QString& sid, const QString& user, const QString& password);

// Reads a connection string back by the same rules. Keys are matched
// case-insensitively and returned in lower case. Returns nothing when the
// string is malformed (an unterminated quote, a piece without '=').
std::optional<std::map<QString, QString>> ParseConnectionString(const QString& text);
