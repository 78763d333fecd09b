#pragma once

// ODBC handles that free themselves, the driver's diagnostics as a DbError,
// and the "C" numeric conventions that every driver call runs under.

#include "oracle/DbError.h"

#include <sql.h>
#include <sqlext.h>

#include <locale.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace odbc {

struct Diagnostic {
    std::string state;
    long native = 0;
    std::string message;
};

// Every diagnostic record of the handle, in order.
std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle);

// Every diagnostic record, one per line, and the first native error number.
DbError makeError(SQLSMALLINT type, SQLHANDLE handle, std::string_view what, long fallbackNumber = DbError::kGeneric);

class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
    Handle(Handle&& other) noexcept : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            type_ = other.type_;
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    void reset()
    {
        if (handle_)
            SQLFreeHandle(type_, handle_);
        handle_ = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }

    // Throws the handle's diagnostics unless rc is a success (or SQL_NO_DATA).
    void check(SQLRETURN rc, std::string_view what) const
    {
        if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
            return;
        if (rc == SQL_INVALID_HANDLE)
            throw DbError(DbError::kGeneric, std::string(what) + ": invalid ODBC handle");
        throw makeError(type_, handle_, what);
    }

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// A new handle of the type under parent (none for an environment).
Handle allocate(SQLSMALLINT type, const Handle* parent);

// Drivers write and read numbers by the C library's locale (psqlodbc gives
// "1234,5" under a German one), so every driver call of a session runs with
// the "C" numeric conventions on this thread; the rest of the user's locale
// stays as it is.
class CNumericLocale {
public:
    CNumericLocale();
    ~CNumericLocale();
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t locale_ = nullptr;
    locale_t previous_ = nullptr;
};

} // namespace odbc
