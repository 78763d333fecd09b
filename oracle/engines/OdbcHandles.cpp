#include "oracle/engines/OdbcHandles.h"

#include "oracle/engines/OdbcText.h"

#include <algorithm>

namespace odbc {

std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> out;
    if (!handle)
        return out;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                     text.size() - 1);
        out.push_back({toUtf8(state, 5), static_cast<long>(native), toUtf8(text.data(), n)});
    }
    return out;
}

DbError makeError(SQLSMALLINT type, SQLHANDLE handle, std::string_view what, long fallbackNumber)
{
    const std::vector<Diagnostic> records = diagnostics(type, handle);
    long number = 0;
    std::string description;
    const std::string state = records.empty() ? std::string() : records.front().state;
    for (const Diagnostic& d : records) {
        if (!number && d.native)
            number = d.native;
        if (!description.empty())
            description += '\n';
        description += d.message + " (SQLSTATE " + d.state + ")";
    }
    if (description.empty())
        description = std::string(what) + " failed without a diagnostic from the driver";
    return DbError(number ? number : fallbackNumber, std::move(description), state);
}

Handle allocate(SQLSMALLINT type, const Handle* parent)
{
    SQLHANDLE h = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(type, parent ? parent->get() : SQL_NULL_HANDLE, &h);
    if (!SQL_SUCCEEDED(rc)) {
        if (parent)
            throw makeError(parent->type(), parent->get(), "SQLAllocHandle");
        throw DbError(DbError::kNoDriver, "the ODBC driver manager could not allocate an environment");
    }
    return Handle(type, h);
}

CNumericLocale::CNumericLocale()
{
    const locale_t current = uselocale(locale_t(nullptr));
    const locale_t copy = duplocale(current);
    if (!copy)
        return;
    locale_ = newlocale(LC_NUMERIC_MASK, "C", copy);
    if (!locale_) {
        freelocale(copy);
        return;
    }
    previous_ = uselocale(locale_);
}

CNumericLocale::~CNumericLocale()
{
    if (!locale_)
        return;
    uselocale(previous_);
    freelocale(locale_);
}

} // namespace odbc
