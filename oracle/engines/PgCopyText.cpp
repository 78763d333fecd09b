#include "oracle/engines/PgCopyText.h"

namespace pg {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool decodeByteaHex(std::string_view text, std::string& out)
{
    out.clear();
    if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2)
        return false;
    out.resize((text.size() - 2) / 2);
    for (std::size_t i = 2, o = 0; i < text.size(); i += 2, ++o) {
        const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[o] = static_cast<char>(hi << 4 | lo);
    }
    return true;
}

void unescapeCopyField(std::string_view field, std::string& out)
{
    out.clear();
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\' || i + 1 == field.size()) {
            out += c;
            continue;
        }
        const char e = field[++i];
        switch (e) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'v': out += '\v'; break;
        case 'x': {
            int v = 0, digits = 0;
            while (digits < 2 && i + 1 < field.size() && hexValue(field[i + 1]) >= 0)
                v = v * 16 + hexValue(field[++i]), ++digits;
            if (digits)
                out += static_cast<char>(v);
            else
                out += 'x';
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int v = e - '0', digits = 1;
                while (digits < 3 && i + 1 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '7')
                    v = v * 8 + (field[++i] - '0'), ++digits;
                out += static_cast<char>(v);
            } else {
                out += e; // "\\" and any other escaped character stand for themselves
            }
        }
    }
}

} // namespace pg
