// The ODBC engine's UTF-8 <-> UTF-16 conversion keeps every value as it is:
// bytes that begin no UTF-8 character and lone surrogates become U+FFFD, one
// each, a leading byte order mark stays, and nothing is carried from one
// fetched cell to the next.

#include "oracle/engines/OdbcText.h"

#include <QtTest>

class TestOdbcText : public QObject {
    Q_OBJECT

private slots:
    void utf8ToWide();
    void wideToUtf8();
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

QTEST_GUILESS_MAIN(TestOdbcText)
#include "test_odbc_text.moc"
