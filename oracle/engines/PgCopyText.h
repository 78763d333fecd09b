#pragma once

// The text that PostgreSQL's COPY ... TO STDOUT sends, decoded: its backslash
// escapes and bytea's hex form.

#include <string>
#include <string_view>

namespace pg {

// The value of one hexadecimal digit; -1 for any other character.
int hexValue(char c);

// bytea's hex output form "\x0a1b..." to its bytes; false when the text is not in that form.
bool decodeByteaHex(std::string_view text, std::string& out);

// Undoes COPY's text-format escapes (backslash sequences) into out.
void unescapeCopyField(std::string_view field, std::string& out);

} // namespace pg
