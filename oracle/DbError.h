#pragma once

#include <stdexcept>
#include <string>

// The one failure type of the data layer. `number` is the engine's own code
// where it has one (SQLite result code, PostgreSQL SQLSTATE as a number when
// it is numeric, ODBC native error), otherwise one of the codes below;
// `description` is the engine's message, UTF-8. `sqlState` is the five-
// character SQLSTATE where the engine gives one (PostgreSQL's, the first ODBC
// diagnostic's; SQLite's "no such table" counts as 42S02 and its "no such
// column" as 42S22), otherwise empty.
class DbError : public std::runtime_error {
public:
    DbError(long number, std::string description, std::string sqlState = {})
        : std::runtime_error(description), number_(number), description_(std::move(description)),
          sqlState_(std::move(sqlState)) {}

    long number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const std::string& sqlState() const noexcept { return sqlState_; }

    // The table or view named by a statement does not exist (PostgreSQL 42P01, ODBC 42S02).
    bool isMissingTable() const noexcept { return sqlState_ == "42P01" || sqlState_ == "42S02"; }
    // A column named by a statement does not exist (PostgreSQL 42703, ODBC 42S22).
    bool isMissingColumn() const noexcept { return sqlState_ == "42703" || sqlState_ == "42S22"; }

    // Codes for failures that have no engine code of their own.
    static constexpr long kBadConnectionString = -2147217843; // login or data source refused before reaching an engine
    static constexpr long kNoDriver = -2147467259;            // no suitable driver installed
    static constexpr long kGeneric = -2147217900;             // statement failed without an engine code
    static constexpr long kRowConflict = -2147217864;         // a row write did not affect exactly one row
    static constexpr long kStoppedWaiting = -2147217842;      // the user stopped waiting for the database
    static constexpr long kBusyReading = -2147217887;         // the table is still being read on its connection
    static constexpr long kBusy = -2147217885;                // a call on the connection is still running

private:
    long number_;
    std::string description_;
    std::string sqlState_;
};
