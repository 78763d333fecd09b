#pragma once

// A cell's bytes as Qt text and back, byte for byte. A value read need not
// be valid UTF-8 (SQLite keeps whatever bytes it was given): each byte that
// is not part of a valid sequence becomes the character U+DC00 + byte (a lone
// low surrogate, which no valid UTF-8 decodes to) and turns back into that
// byte, so that an edit of such a value changes only what the user changed.

#include <QString>

#include <string>
#include <string_view>

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
QString TextFromBytes(std::string_view bytes);
std::string BytesFromText(const QString& text);
