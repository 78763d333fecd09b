#pragma once

// The table chooser page: lists the tables the logged-in user owns and opens
// the chosen one in the editor page.

#include "shell/Page.h"

class CheckButton;
class QFrame;
class QLabel;
class TableList;

class Form2 : public Page {
    Q_OBJECT
public:
    Form2();

    // The load sequence: centre, hand pointer, caption, then the table list
    // read anew with the page busy and disabled. Runs when the page is first
    // referred to and again on every arrival from the connection page.
    // Database failures pass to the caller.
    void Form_Load();

    // Reads the list anew with the page busy and disabled, then selects the
    // first entry. A failure passes to the caller and leaves the page enabled
    // with the default pointer. Does nothing while a fill runs.
    void ReadList();

    // True while a load fills the list. A fill never starts while another
    // runs: the list yields to the event loop once per name, so input to
    // another page could otherwise start a second fill inside the first.
    static bool FillRunning();

    QLabel* Label1;
    TableList* List1;
    QFrame* Line1;
    CheckButton* Check2; // "< Back"
    CheckButton* Check3; // "Next >"
    CheckButton* Check1; // "Quit"

signals:
    // Emitted whenever the list has been read anew.
    void listLoaded();

protected:
    // Centred again by the outer size that now includes the frame.
    void FrameBecameKnown() override;

private:
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
};
