#pragma once

// What a field of the row details window shows of a value: JSON laid out
// indented, and the first bytes of a binary value as hex.

#include <QString>

#include <cstddef>
#include <string_view>

namespace ValueText {

// The text laid out indented when it is a JSON object or array, every token
// kept as written (keys in their order, numbers as spelt); empty otherwise.
QString IndentedJson(const QString& text);
// Whether the bytes may hold a JSON object or array, before they are parsed.
bool MayBeJson(std::string_view bytes);

// The first bytes as lines of an offset, eight bytes in hex and those bytes
// as characters; an ellipsis line when more follow.
QString HexStart(std::string_view bytes);

} // namespace ValueText
