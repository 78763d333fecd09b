// The snapshot's storage: values exact across block boundaries, cells large
// enough to be kept apart, rows replaced, appended and removed, blocks handed
// to another snapshot while the first goes on filling, blocks of every
// layout they close to, and the layout staying compact.

#include "oracle/Snapshot.h"

#include <QTest>

namespace {

ColumnInfo col(std::string name, ColumnType type)
{
    ColumnInfo c;
    c.name = std::move(name);
    c.type = type;
    return c;
}

std::string valueOf(int row, int column) { return std::to_string(row) + ":" + std::to_string(column); }

// Rows of three columns: a number, a text (NULL every 7th row, empty every
// 11th), and a blob.
void fill(Snapshot& s, int rows)
{
    s.begin({col("n", ColumnType::Integer), col("t", ColumnType::Text), col("b", ColumnType::Binary)});
    for (int r = 0; r < rows; ++r) {
        const std::string n = std::to_string(r);
        s.cell(ValueKind::Integer, n.data(), n.size());
        if (r % 7 == 0) {
            s.cell(ValueKind::Null, nullptr, 0);
        } else if (r % 11 == 0) {
            s.cell(ValueKind::Text, "", 0);
        } else {
            const std::string t = valueOf(r, 1);
            s.cell(ValueKind::Text, t.data(), t.size());
        }
        const std::string b = std::string(1, '\0') + valueOf(r, 2);
        s.cell(ValueKind::Blob, b.data(), b.size());
        s.endRow();
    }
    s.end();
}

void expectRow(const Snapshot& s, std::int64_t at, int original)
{
    QCOMPARE(s.value(at, 0), std::string_view(std::to_string(original)));
    if (original % 7 == 0) {
        QCOMPARE(s.kind(at, 1), ValueKind::Null);
    } else if (original % 11 == 0) {
        QCOMPARE(s.kind(at, 1), ValueKind::Text);
        QVERIFY(s.value(at, 1).empty());
    } else {
        QCOMPARE(s.value(at, 1), std::string_view(valueOf(original, 1)));
    }
    QCOMPARE(s.kind(at, 2), ValueKind::Blob);
    QCOMPARE(s.value(at, 2), std::string_view(std::string(1, '\0') + valueOf(original, 2)));
}

// Every row of a column as scanColumn walks it, against kind() and value(),
// and each run shown to mayHold being its rows' values back to back.
void expectScanAgrees(const Snapshot& s, int column)
{
    std::int64_t next = 0;
    s.scanColumn(
        column, 0, s.rowCount(),
        [&](std::int64_t r, ValueKind kind, std::string_view v) {
            if (r != next++ || kind != s.kind(r, column) || v != s.value(r, column))
                QTest::qFail(qPrintable(QStringLiteral("row %1 scanned wrong").arg(r)), __FILE__, __LINE__);
            return false;
        },
        [&](std::string_view run) {
            std::string joined;
            for (std::int64_t r = next; joined.size() < run.size() && r < s.rowCount(); ++r)
                joined += s.value(r, column);
            if (joined != run)
                QTest::qFail(qPrintable(QStringLiteral("run from row %1 differs").arg(next)), __FILE__, __LINE__);
            return true;
        });
    QCOMPARE(next, s.rowCount());
}

// A cell for row r of a column whose blocks take turns at what a block may
// hold: short texts; texts passing 65,535 bytes in the block's middle; bytes
// ending at exactly 65,535, then at 65,536; NULLs and empty texts among
// texts; NULLs and one cell kept apart; kinds mixed after a run of one; a
// cell kept apart among others of its kind; from row 8192, NULLs only.
Value variedCell(int r)
{
    if (r >= 8 * 1024)
        return {};
    const int slot = r % 1024;
    const std::string s = valueOf(r, 0);
    switch (r / 1024 % 8) {
    case 0:
        return {ValueKind::Text, s};
    case 1:
        return {ValueKind::Text, s + std::string(100, 'w')}; // 65,535 passed at cell 600 or so
    case 2: // 1023 cells of 64 bytes, the last taking the block to 65,535 (and to 65,536)
    case 3:
        return {ValueKind::Text, slot < 1023 ? std::string(64, char('a' + slot % 26))
                                             : std::string(65535 - 1023 * 64 + r / 1024 % 8 - 2, 'z')};
    case 4:
        return slot % 5 == 0 ? Value{} : slot % 5 == 1 ? Value{ValueKind::Text, ""} : Value{ValueKind::Text, s};
    case 5:
        return slot == 5 ? Value{ValueKind::Text, std::string((std::size_t{1} << 20) + 5, 't')} : Value{};
    case 6:
        return slot < 900 ? Value{ValueKind::Integer, std::to_string(r)}
                          : Value{static_cast<ValueKind>(slot % 5), slot % 5 ? s : std::string()};
    default:
        return slot == 3 ? Value{ValueKind::Blob, std::string((std::size_t{1} << 20) + 1, 'b')}
                         : Value{ValueKind::Blob, std::string(1, '\0') + s};
    }
}

void expectVaried(const Snapshot& s, std::int64_t at, int original)
{
    const Value v = variedCell(original);
    if (s.kind(at, 0) != v.kind || s.value(at, 0) != v.bytes)
        QTest::qFail(qPrintable(QStringLiteral("row %1 (was %2) differs").arg(at).arg(original)), __FILE__, __LINE__);
}

} // namespace

class RowsetSnapshot : public QObject {
    Q_OBJECT

private slots:
    void valuesAcrossBlocks()
    {
        Snapshot s;
        fill(s, 3000);
        QCOMPARE(s.rowCount(), 3000);
        for (int r : {0, 1, 1022, 1023, 1024, 1025, 2047, 2048, 2999})
            expectRow(s, r, r);
    }

    void largeCellsAreKeptWhole()
    {
        Snapshot s;
        s.begin({col("big", ColumnType::LargeText)});
        std::vector<std::string> values;
        for (int r = 0; r < 1030; ++r) {
            // Every 100th cell is larger than a block may hold of them.
            values.push_back(r % 100 == 0 ? std::string((std::size_t{3} << 20) + r, char('a' + r % 26))
                                          : valueOf(r, 0));
            s.cell(ValueKind::Text, values.back().data(), values.back().size());
            s.endRow();
        }
        s.end();
        for (int r = 0; r < 1030; ++r)
            QVERIFY2(s.value(r, 0) == values[static_cast<std::size_t>(r)], qPrintable(QString::number(r)));
    }

    void replaceAppendRemove()
    {
        Snapshot s;
        fill(s, 2100);
        s.replaceRow(1500, {{ValueKind::Integer, "-1"}, {ValueKind::Null, {}}, {ValueKind::Text, "new"}});
        QCOMPARE(s.value(1500, 0), std::string_view("-1"));
        QCOMPARE(s.kind(1500, 1), ValueKind::Null);
        QCOMPARE(s.value(1500, 2), std::string_view("new"));
        expectRow(s, 1499, 1499);

        s.appendRow({{ValueKind::Integer, "9999"}, {ValueKind::Text, "appended"}});
        QCOMPARE(s.rowCount(), 2101);
        QCOMPARE(s.value(2100, 1), std::string_view("appended"));
        QCOMPARE(s.kind(2100, 2), ValueKind::Null);

        s.removeRow(1500);
        s.removeRow(0);
        QCOMPARE(s.rowCount(), 2099);
        expectRow(s, 0, 1);
        expectRow(s, 1498, 1499);
        expectRow(s, 1499, 1501); // the replaced row went with its removal
        QCOMPARE(s.value(2098, 1), std::string_view("appended"));
        // Rows still arrive after a removal.
        s.appendRow({{ValueKind::Text, "last"}});
        QCOMPARE(s.value(2099, 0), std::string_view("last"));
        expectRow(s, 2097, 2099);
    }

    // A reader hands whole blocks over while it goes on filling (large cells
    // included); rows are then added to the last block it handed over.
    void handedOverInBlocks()
    {
        const auto big = [](int r) { return std::string((std::size_t{1} << 20) + r, char('a' + r % 26)); };
        const auto valueAt = [&](int r) { return r % 700 == 0 ? big(r) : valueOf(r, 0); };
        Snapshot reader;
        reader.begin({col("v", ColumnType::Text)});
        Snapshot shown;
        for (int r = 0; r < 3000; ++r) {
            const std::string v = valueAt(r);
            reader.cell(ValueKind::Text, v.data(), v.size());
            reader.endRow();
            if (r == 1500 || r == 2100)
                shown.adopt(reader.takeWholeBlocks(false));
        }
        QCOMPARE(shown.rowCount(), 2048);
        QCOMPARE(reader.rowCount(), 3000 - 2048);
        reader.end();
        shown.adopt(reader.takeWholeBlocks(true));
        QCOMPARE(reader.rowCount(), 0);
        for (int r = 3000; r < 3100; ++r)
            shown.appendRow({{ValueKind::Text, valueAt(r)}});
        QCOMPARE(shown.rowCount(), 3100);
        for (int r = 0; r < 3100; ++r)
            QVERIFY2(shown.value(r, 0) == valueAt(r), qPrintable(QString::number(r)));
    }

    // Blocks closed small (16-bit ends, one kind, NULLs as bits) or not, in
    // one column handed over from a reader in parts at odd moments: every
    // value back exactly, by value() and by scanColumn; then rows added to
    // its last block (taking it past 65,535 bytes) and one removed.
    void blocksOfEveryLayout()
    {
        Snapshot reader;
        reader.begin({col("v", ColumnType::Text)});
        Snapshot shown;
        const int rows = 8 * 1024 + 300;
        for (int r = 0; r < rows; ++r) {
            const Value v = variedCell(r);
            reader.cell(v.kind, v.bytes.data(), v.bytes.size());
            reader.endRow();
            if (r % 2500 == 0)
                shown.adopt(reader.takeWholeBlocks(false));
        }
        reader.end();
        shown.adopt(reader.takeWholeBlocks(true));
        QCOMPARE(shown.rowCount(), rows);
        for (int r = 0; r < rows; ++r)
            expectVaried(shown, r, r);
        expectScanAgrees(shown, 0);
        // Its last block holds NULLs only; the rows added go past 65,535 bytes.
        const std::string wide(300, 'x');
        for (int r = 0; r < 400; ++r)
            shown.appendRow({r % 3 ? Value{ValueKind::Text, wide} : Value{}});
        QCOMPARE(shown.kind(rows + 399, 0), ValueKind::Null);
        QCOMPARE(shown.value(rows + 398, 0), std::string_view(wide));
        expectVaried(shown, rows - 1, rows - 1);
        shown.removeRow(4 * 1024);
        expectVaried(shown, 5 * 1024 + 4, 5 * 1024 + 5); // kept apart
        expectScanAgrees(shown, 0);
    }

    // Two bytes a cell beyond short values themselves, and little spare room.
    void layoutIsCompact()
    {
        Snapshot s;
        s.begin(std::vector<ColumnInfo>(10, col("c", ColumnType::Text)));
        const std::string value = "abcdefgh";
        const int rows = 100000;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < 10; ++c)
                s.cell(ValueKind::Text, value.data(), value.size());
            s.endRow();
        }
        s.end();
        const double cells = 10.0 * rows;
        const double perCell = static_cast<double>(s.memoryBytes()) / cells;
        QVERIFY2(perCell < value.size() + 2.3, qPrintable(QString::number(perCell)));
    }
};

QTEST_GUILESS_MAIN(RowsetSnapshot)
#include "test_rowset_snapshot.moc"
