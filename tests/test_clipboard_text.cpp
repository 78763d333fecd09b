// The clipboard's text forms: tab-separated text as spreadsheets write and
// read it, the HTML table, and the program's own exact form; and the file
// forms of export and import (CSV, TSV).

#include "oracle/ClipboardText.h"
#include "oracle/RowExport.h"
#include "oracle/RowImport.h"

#include <QTest>

namespace {

Value text(std::string s) { return {ValueKind::Text, std::move(s)}; }

} // namespace

class TestClipboardText : public QObject {
    Q_OBJECT

private slots:
    // What the export writes, the import reads back the same: NULL apart from
    // the empty text, separators, quotes, line breaks of every kind, tabs,
    // backslashes and a text that looks like TSV's NULL.
    void filesComeBackAsTheyWereWritten_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("CSV") << 0;
        QTest::newRow("TSV") << 1;
    }
    void filesComeBackAsTheyWereWritten()
    {
        QFETCH(int, format);
        using Cell = std::optional<std::string>;
        const std::vector<std::vector<Cell>> rows{
            {"1", "plain", std::nullopt},
            {"2", "", "a,b"},
            {"3", "say \"hi\"", "two\nlines"},
            {"4", "cr\rhere", "crlf\r\nhere"},
            {"5", "tab\there", "back\\slash"},
            {"6", "\\N", "\""},
        };
        std::vector<ColumnInfo> columns(3);
        columns[0].name = "id";
        columns[1].name = "first, name";
        columns[2].name = "second";
        RowExport out(format == 0 ? RowExport::Format::Csv : RowExport::Format::Tsv, columns);
        std::string text;
        out.begin(text);
        for (const auto& row : rows)
            out.row(text, [&row](std::size_t c) {
                const Cell& v = row[c];
                return std::pair<ValueKind, std::string_view>(v ? ValueKind::Text : ValueKind::Null, v ? *v : "");
            });
        out.end(text);
        const ImportedRows read = ReadDelimited(text, format == 0 ? ImportFormat::Csv : ImportFormat::Tsv);
        QVERIFY(!read.problem);
        QCOMPARE(read.columns, (std::vector<std::string>{"id", "first, name", "second"}));
        QCOMPARE(read.rows, rows);
        // Each row starts on its own line; a quoted line break moves the next ones down.
        QCOMPARE(read.lines, format == 0 ? (std::vector<int>{2, 3, 4, 6, 9, 10}) : (std::vector<int>{2, 3, 4, 5, 6, 7}));
    }

    // Files from elsewhere: a byte-order mark, lines ended by LF or CR alone,
    // no line break at the end; a quote never closed is named with its line.
    void csvAsOthersWriteIt()
    {
        const ImportedRows lf = ReadDelimited("\xEF\xBB\xBF" "a,b\n1,x\r2,\"y\"", ImportFormat::Csv);
        QCOMPARE(lf.columns, (std::vector<std::string>{"a", "b"}));
        QCOMPARE(lf.rows.size(), std::size_t{2});
        QCOMPARE(lf.rows[1][1], std::optional<std::string>("y"));
        QCOMPARE(lf.lines, (std::vector<int>{2, 3}));
        const ImportedRows open = ReadDelimited("a,b\n1,x\n2,\"never\nends", ImportFormat::Csv);
        QVERIFY(open.problem);
        QCOMPARE(*open.problem, std::string("a value that begins with a quote on line 3 never ends"));
    }

    // Fields with tabs, line breaks and quotes come back as they went.
    void plainTextRoundTrip()
    {
        const TextRows rows{{"plain", "tab\there", "two\nlines"},
                            {"say \"hi\"", "", "\"quoted\""},
                            {"crlf\r\nend", "trailing\n", "5\" pipe"}};
        const std::string written = ToPlainText(rows);
        QCOMPARE(QByteArray::fromStdString(written).count('\n'), 2 + 3); // two between rows, three inside quotes
        QVERIFY(written.find("\"say \"\"hi\"\"\"") != std::string::npos);
        QVERIFY(written.rfind("plain\t", 0) == 0); // a field needing nothing stays bare
        QCOMPARE(ParsePlainText(written), rows);
    }

    // A last row that is one empty field is not taken for a final line break.
    void emptyLastRowsSurvive()
    {
        const TextRows one{{""}};
        QCOMPARE(ParsePlainText(ToPlainText(one)), one);
        const TextRows two{{"a"}, {""}};
        QCOMPARE(ParsePlainText(ToPlainText(two)), two);
        const TextRows wide{{"a", "b"}, {"", ""}};
        QCOMPARE(ParsePlainText(ToPlainText(wide)), wide);
        QVERIFY(ParsePlainText("").empty());
    }

    // As spreadsheets and editors hand it over.
    void parsesWhatOthersWrite()
    {
        // CRLF lines with a final line break: two rows, not three.
        QCOMPARE(ParsePlainText("a\tb\r\nc\td\r\n"), (TextRows{{"a", "b"}, {"c", "d"}}));
        // LF lines, a ragged row, an empty field at the end of a line.
        QCOMPARE(ParsePlainText("1\t2\t\n3\n"), (TextRows{{"1", "2", ""}, {"3"}}));
        // A quoted field spanning lines, with a tab and doubled quotes.
        QCOMPARE(ParsePlainText("\"x\ny\tz \"\"q\"\"\"\tnext\n"), (TextRows{{"x\ny\tz \"q\"", "next"}}));
        // A quote that never closes is an ordinary character.
        QCOMPARE(ParsePlainText("\"open\tfield\nrow"), (TextRows{{"\"open", "field"}, {"row"}}));
        // Lone carriage returns end lines as line feeds do, outside quotes only;
        // a two-column block stays two columns wide.
        QCOMPARE(ParsePlainText("x1\rx2\rx3\r"), (TextRows{{"x1"}, {"x2"}, {"x3"}}));
        QCOMPARE(ParsePlainText("a\tb\rc\td\r"), (TextRows{{"a", "b"}, {"c", "d"}}));
        QCOMPARE(ParsePlainText("\"in\rside\"\tz\r\nnext"), (TextRows{{"in\rside", "z"}, {"next"}}));
        // Mixed endings in one text, and an empty line between two ends.
        QCOMPARE(ParsePlainText("a\rb\nc\r\n\rd"), (TextRows{{"a"}, {"b"}, {"c"}, {""}, {"d"}}));
    }

    void htmlEscapesAndHeads()
    {
        const std::string html = ToHtml({{"id", "<name>"}, {"1", "Tom & \"Jerry\"\nline"}}, true);
        QVERIFY(html.find("<th>id</th><th>&lt;name&gt;</th>") != std::string::npos);
        QVERIFY(html.find("<td>Tom &amp; &quot;Jerry&quot;<br>line</td>") != std::string::npos);
        QVERIFY(ToHtml({{"1"}}, false).find("<th>") == std::string::npos);
    }

    // NULL apart from an empty text, bytes exactly, cells left out kept out.
    void ownFormIsExact()
    {
        CellBlock block;
        block.rows = 2;
        block.columns = 3;
        block.cells = {Value{}, text(""), Value{ValueKind::Blob, std::string("\0\xff\n", 3)},
                       Value{ValueKind::Integer, "12345678901234567890123456789012345678"}, std::nullopt,
                       Value{ValueKind::Real, "0.30000000000000004"}};
        const std::optional<CellBlock> back = DecodeCells(EncodeCells(block));
        QVERIFY(back);
        QCOMPARE(back->rows, 2);
        QCOMPARE(back->columns, 3);
        for (std::size_t i = 0; i < block.cells.size(); ++i) {
            QCOMPARE(back->cells[i].has_value(), block.cells[i].has_value());
            if (block.cells[i]) {
                QCOMPARE(back->cells[i]->kind, block.cells[i]->kind);
                QCOMPARE(back->cells[i]->bytes, block.cells[i]->bytes);
            }
        }
        // Anything else is no block: cut short, a byte too many, a bad kind, a size past the end.
        const std::string bytes = EncodeCells(block);
        QVERIFY(!DecodeCells(bytes.substr(0, bytes.size() - 1)));
        QVERIFY(!DecodeCells(bytes + "x"));
        QVERIFY(!DecodeCells("plain text"));
        std::string badKind = bytes;
        badKind[12] = 9;
        QVERIFY(!DecodeCells(badKind));
        std::string huge = EncodeCells(CellBlock{1, 1, {text("abc")}});
        huge[13 + 7] = '\x7f';
        QVERIFY(!DecodeCells(huge));
        std::string manyRows = EncodeCells(CellBlock{1, 1, {Value{}}});
        manyRows[4] = '\xff';
        manyRows[7] = '\x7f';
        QVERIFY(!DecodeCells(manyRows));
    }
};

QTEST_APPLESS_MAIN(TestClipboardText)
#include "test_clipboard_text.moc"
