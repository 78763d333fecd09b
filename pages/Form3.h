#pragma once

// The table editor page: the chosen table in an editable grid, laid out anew
// whenever the window's size changes.

#include "shell/Page.h"

class CheckButton;
class DataGrid;
class QLabel;

class Form3 : public Page {
    Q_OBJECT
public:
    Form3();

    // The load steps: centre, hand pointer, caption, then 2000 twips taller
    // with the top edge kept where centring put it.
    void Form_Load();

    // Writes the grid's pending row before the page is left. False when the
    // user chose to go back to the row (the page must stay).
    bool WritePendingRow();

    QLabel* Label2;
    DataGrid* DataGrid1;
    QLabel* Label1;
    CheckButton* Check1; // "< Back"
    CheckButton* Check2; // "Next >", disabled for good
    CheckButton* Check3; // "Quit"

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool QueryUnload() override;
    // The load steps' placement and the layout again, with the frame counted.
    void FrameBecameKnown() override;

private:
    void Form_Resize();
    void Check1_Click();
    void Check3_Click();
};
