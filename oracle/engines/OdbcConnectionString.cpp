// The connection strings the ODBC engine hands to the driver manager, and
// the quoting that keeps every value inside its attribute.

#include "oracle/engines/OdbcEngine.h"

std::string OdbcBrace(std::string_view value)
{
    std::string out;
    out.reserve(value.size() + 2);
    out += '{';
    for (char c : value) {
        out += c;
        if (c == '}')
            out += '}';
    }
    out += '}';
    return out;
}

std::string OdbcQuote(const std::string& value)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    const bool needs = value.find_first_of(";{}=") != std::string::npos
                       || (!value.empty() && (blank(value.front()) || blank(value.back())));
    return needs ? OdbcBrace(value) : value;
}

std::string OdbcConnectionString(const std::string& odbcConnect, const LoginParts& login)
{
    std::string out = odbcConnect;
    // A bare name is a DSN.
    if (!out.empty() && out.find('=') == std::string::npos)
        out = "DSN=" + OdbcQuote(out);
    if (!out.empty() && out.back() != ';')
        out += ';';
    if (!login.user.empty())
        out += "UID=" + OdbcQuote(login.user) + ';';
    if (!login.password.empty())
        out += "PWD=" + OdbcQuote(login.password) + ';';
    // No empty database is ever made in place of a missing one: the SQLite
    // driver creates a missing file unless told not to (other drivers pass
    // the word by). First, so that it holds over one further on.
    return "NoCreat=1;" + out;
}
