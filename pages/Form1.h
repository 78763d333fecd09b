#pragma once

// The connection page: the start-up window, holding the three login fields
// of the whole program. Every change of a field is written to the settings
// store at once; the data routines read the fields through the reader this
// page installs.

#include "shell/Page.h"

class CheckButton;
class QFrame;
class QLabel;
class QLineEdit;

class Form1 : public Page {
    Q_OBJECT
public:
    Form1();
    ~Form1() override;

    // The load steps: centre, the chance home page visit, the hand pointer,
    // the stored login into the boxes, and on a working login the move to
    // the chooser page. Run once, when the page is first referred to.
    void Form_Load();

    // Controls, named as the page's design names them.
    QLabel* Label5;
    QLabel* Label2;
    QLineEdit* Text1; // SID
    QLabel* Label1;
    QLineEdit* Text2; // user name
    QLabel* Label4;
    QLineEdit* Text3; // password
    CheckButton* Check5; // "Test Connection"
    CheckButton* Check2; // "Help"
    QFrame* Line1;
    CheckButton* Check4; // "< Back", disabled for good
    CheckButton* Check3; // "Next >"
    CheckButton* Check1; // "Quit"

    // The Help message, exactly as the page shows it.
    static QString HelpText();

protected:
    // Centred again by the outer size that now includes the frame.
    void FrameBecameKnown() override;

private:
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Check5_Click();
};
