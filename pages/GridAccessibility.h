#pragma once

// The grid's bars (the filter row, the find bar and the status line) are
// drawn inside the grid's area, but a table view tells a screen reader of its
// cells and headings only. Here the editor page lists them as its own
// children, right after the grid and in reading order, and each bar names
// the page as its parent; the widgets themselves stay where they are, so
// nothing moves on the screen and keys work as before.

class QLabel;
class QString;

// Makes the page and the bars known to Qt's accessibility. Call before the
// editor page is made; more calls change nothing.
void InstallGridAccessibility();

// Shows `text` in the label and tells a screen reader so, also when it is
// what the label said before (a second search that finds nothing): a label
// tells of a new text by itself, never of the same one again.
void SetTextAndAnnounce(QLabel* label, const QString& text);
