// The edit history's bookkeeping: rows followed through deletions and
// insertions, steps split where an undo or redo stopped, typing taken back
// and given again. Writing through a real table is tested in test_grid_clipboard.

#include "oracle/EditHistory.h"

#include <QTest>

namespace {

Value text(const char* s) { return {ValueKind::Text, s}; }

} // namespace

class TestEditHistory : public QObject {
    Q_OBJECT

private slots:
    // Rows after a deleted one move up; a row deleted and inserted again is
    // found under its new number by the steps before the deletion.
    void rowsAreFollowed()
    {
        EditHistory h;
        h.recordUpdate(5, {1}, {text("a")}, {text("b")});
        h.recordUpdate(2, {1}, {text("c")}, {text("d")});
        const EditHistory::RowId five = h.idOf(5);
        QCOMPARE(h.rowOf(five), 5);
        h.recordDeletes({{2, {text("1"), text("d")}}, {0, {text("0"), text("z")}}});
        QCOMPARE(h.rowOf(five), 3);
        const EditHistory::Step* deletion = h.nextUndo();
        QCOMPARE(deletion->action, EditHistory::Action::Deletion);
        QCOMPARE(deletion->changes.size(), std::size_t(2));
        const EditHistory::RowId two = deletion->changes[0].row;
        QCOMPARE(h.rowOf(two), -1);
        // Taken back last first: the row that was 0 comes back at the end, then the row that was 2.
        h.placeRow(deletion->changes[1].row, 4);
        h.placeRow(two, 5);
        h.undone(2);
        QCOMPARE(h.rowOf(two), 5);
        QCOMPARE(h.nextUndo()->changes[0].row, two); // the older change to row 2 finds it
        QCOMPARE(h.idOf(5), two);
        // Another removal before it moves it, not the row now at its old place.
        h.rowRemoved(1);
        QCOMPARE(h.rowOf(five), 2);
        QCOMPARE(h.rowOf(two), 4);
    }

    // An undo that stopped leaves the rest to undo; done again, a step
    // returns without losing the part still to redo.
    void stepsSplitWhereTheyStopped()
    {
        EditHistory h;
        h.beginGroup(EditHistory::Action::Paste);
        for (int r = 0; r < 5; ++r)
            h.recordUpdate(r, {0}, {text("old")}, {text("new")});
        QVERIFY(!h.canUndo()); // not a step until the group ends
        h.endGroup();
        QCOMPARE(h.nextUndo()->changes.size(), std::size_t(5));

        h.undone(2); // rows 4 and 3
        QCOMPARE(h.nextUndo()->changes.size(), std::size_t(3));
        QCOMPARE(h.nextRedo()->changes.size(), std::size_t(2));
        QCOMPARE(h.rowOf(h.nextRedo()->changes.front().row), 3);
        h.undone(3);
        QVERIFY(!h.canUndo());
        h.redone(1); // row 0 of the second part
        QCOMPARE(h.rowOf(h.nextUndo()->changes.front().row), 0);
        QCOMPARE(h.nextRedo()->changes.size(), std::size_t(2));
        h.redone(2);
        QCOMPARE(h.nextRedo()->changes.size(), std::size_t(2));
        QCOMPARE(h.rowOf(h.nextRedo()->changes.front().row), 3);

        // Anything new ends what could be done again; an empty group is no step.
        h.beginGroup(EditHistory::Action::ReplaceAll);
        h.endGroup();
        QVERIFY(h.canRedo());
        h.recordInsert(9, {text("x")});
        QVERIFY(!h.canRedo());
        h.undone(1);
        h.recordTyping(2, {std::nullopt});
        QVERIFY(!h.canRedo());
    }

    void typingIsTakenBackCellByCell()
    {
        EditHistory h;
        const EditHistory::Typed none(2), first{text("a"), std::nullopt}, both{text("a"), text("b")};
        h.recordTyping(7, none);
        h.recordTyping(7, first);
        QCOMPARE(h.typingRow(), 7);
        QVERIFY(h.undoTyping(both)[0].has_value()); // back to "a" alone
        QVERIFY(!h.undoTyping(first)[0].has_value());
        QVERIFY(!h.canUndoTyping());
        QCOMPARE(h.redoTyping(none)[0]->bytes, std::string("a"));
        QCOMPARE(h.redoTyping(first)[1]->bytes, std::string("b"));
        // Another row starts afresh; writing the row ends its typing.
        h.recordTyping(8, none);
        h.undoTyping(first);
        QCOMPARE(h.typingRow(), 8);
        QVERIFY(!h.canUndoTyping());
        h.recordTyping(8, none);
        h.recordUpdate(8, {0}, {text("x")}, {text("a")});
        QVERIFY(!h.canUndoTyping() && !h.canRedoTyping());
        // A deleted row before the typed one moves it up with the others.
        h.recordTyping(4, none);
        h.rowRemoved(1);
        QCOMPARE(h.typingRow(), 3);
        h.rowRemoved(3);
        QVERIFY(!h.canUndoTyping());
    }
};

QTEST_APPLESS_MAIN(TestEditHistory)
#include "test_edit_history.moc"
