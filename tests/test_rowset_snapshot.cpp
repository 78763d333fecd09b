// The snapshot's storage: values exact across block boundaries, cells large
// enough to be kept apart, rows replaced, appended and removed, blocks handed
// to another snapshot while the first goes on filling, and the layout
// staying compact.

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

    // Five bytes a cell beyond the values themselves, and little spare room.
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
        QVERIFY2(perCell < value.size() * 1.1 + 5.5, qPrintable(QString::number(perCell)));
    }
};

QTEST_GUILESS_MAIN(RowsetSnapshot)
#include "test_rowset_snapshot.moc"
