// The ODBC engine's UTF-8 <-> UTF-16 conversion keeps every value as it is:
// bytes that begin no UTF-8 character and lone surrogates become U+FFFD, one
// each, a leading byte order mark stays, and nothing is carried from one
// fetched cell to the next. Dates and times read as the driver's structs are
// written as the database would print them, whatever their range.

#include "oracle/engines/OdbcText.h"

#include <QtTest>

class TestOdbcText : public QObject {
    Q_OBJECT

private slots:
    void utf8ToWide();
    void wideToUtf8();
    void datesAndTimes();
};

void TestOdbcText::utf8ToWide()
{
    // A cut sequence, an overlong one, a surrogate's, and a byte no sequence begins with.
    const odbc::WideText w = odbc::toWide("\xEF\xBB\xBF" "a\xC3(\xE0\x80\x80\xED\xA0\x80\xFF\xF0\x9F\x9A\x80");
    QCOMPARE(w, QStringView(u"\uFEFFa\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\U0001F680").toString());
    QCOMPARE(odbc::wideData(w)[odbc::wideLength(w)], SQLWCHAR(0));
    const odbc::WideText empty = odbc::toWide("");
    QCOMPARE(odbc::wideLength(empty), std::size_t(0));
    QCOMPARE(odbc::wideData(empty)[0], SQLWCHAR(0));
}

void TestOdbcText::wideToUtf8()
{
    // A lone low surrogate, a pair, and a high surrogate that ends the cell.
    const SQLWCHAR cell[] = {'a', 0xDC00, 'b', 0xD83D, 0xDE80, 0xD800};
    const std::string expected = "a\xEF\xBF\xBD" "b\xF0\x9F\x9A\x80\xEF\xBF\xBD";
    QCOMPARE(odbc::toUtf8(cell, 6), expected);
    odbc::Utf8Cells cells;
    QCOMPARE(std::string(cells.convert(cell, 6)), expected);
    const SQLWCHAR next[] = {'x'};
    QCOMPARE(std::string(cells.convert(next, 1)), std::string("x"));
}

void TestOdbcText::datesAndTimes()
{
    // Against the plain formatted form: years outside four digits, every
    // place of the fraction, its trailing zeros dropped.
    const SQL_TIMESTAMP_STRUCT cases[] = {
        {2020, 1, 2, 3, 4, 5, 0},         {2020, 12, 31, 23, 59, 59, 1},    {1, 1, 1, 0, 0, 0, 999999999},
        {9999, 9, 9, 9, 9, 9, 120000000}, {10000, 1, 1, 0, 0, 0, 100000000}, {-44, 3, 15, 12, 0, 0, 1000},
        {0, 10, 10, 10, 10, 10, 123456789}, {1999, 5, 6, 7, 8, 9, 50},
    };
    for (const SQL_TIMESTAMP_STRUCT& t : cases) {
        char expected[80];
        int n = std::snprintf(expected, sizeof expected, "%s%04d-%02d-%02d %02d:%02d:%02d", t.year < 0 ? "-" : "",
                              std::abs(t.year), t.month, t.day, t.hour, t.minute, t.second);
        if (t.fraction) {
            n += std::snprintf(expected + n, sizeof expected - n, ".%09u", static_cast<unsigned>(t.fraction));
            while (expected[n - 1] == '0')
                --n;
        }
        char text[64];
        QCOMPARE(std::string(text, odbc::formatTimestamp(t, text)), std::string(expected, static_cast<std::size_t>(n)));
        QCOMPARE(std::string(text, odbc::formatDate(SQL_DATE_STRUCT{t.year, t.month, t.day}, text)),
                 std::string(expected, 10 + (t.year < 0) + (t.year > 9999)));
    }
}

QTEST_GUILESS_MAIN(TestOdbcText)
#include "test_odbc_text.moc"
