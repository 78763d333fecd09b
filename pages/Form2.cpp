#include "pages/Form2.h"

#include "oracle/Oracle.h"
#include "pages/Form1.h"
#include "pages/Forms.h"
#include "pages/Messages.h"
#include "pages/OpenTableInEditor.h"
#include "pages/TableList.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"

#include <QFrame>
#include <QLabel>
#include <QScopeGuard>

namespace {

bool fillRunning = false;

// Marks a fill as running for as long as it lives, whichever way it ends.
class FillGuard {
public:
    FillGuard() { fillRunning = true; }
    ~FillGuard() { fillRunning = false; }
    FillGuard(const FillGuard&) = delete;
    FillGuard& operator=(const FillGuard&) = delete;
};

CheckButton* makeButton(Page* page, const QString& caption, int left)
{
    auto* button = new CheckButton(caption, page);
    page->PlaceTwips(button, left, 2160, 1815, 400);
    return button;
}

} // namespace

Form2::Form2()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Form2"));
    SetFixedSingleBorder();
    SetClientSizeTwips(5895, 2685);

    Label1 = new QLabel(QStringLiteral(" Which table do you want edit?"), this);
    PlaceTwips(Label1, 240, 120, 2775, 255);
    List1 = new TableList(this);
    PlaceTwips(List1, 120, 480, 5655, 1410);
    List1->setAccessibleName(Label1->text().trimmed());
    Label1->setBuddy(List1);

    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);
    PlaceTwips(Line1, 120, 2040, 5640, 15);

    Check2 = makeButton(this, QStringLiteral("< Back"), 120);
    Check3 = makeButton(this, QStringLiteral("Next >"), 2040);
    Check1 = makeButton(this, QStringLiteral("Quit"), 3960);

    // Tab order: the list, "Quit", "< Back", "Next >".
    setTabOrder(List1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, Check3);
    List1->setFocus();

    AddPointerRule(this, PointerDefault);
    AddPointerRule(Label1, PointerDefault);
    AddPointerRule(List1, PointerDefault);
    for (QWidget* w : {Check1, Check2, Check3})
        AddPointerRule(w, PointerHand);

    Check1->OnClick([this] { Check1_Click(); });
    Check2->OnClick([this] { RunUnguarded([this] { Check2_Click(); }); });
    Check3->OnClick([this] { RunUnguarded([this] { Check3_Click(); }); });
}

bool Form2::FillRunning() { return fillRunning; }

void Form2::Form_Load()
{
    if (fillRunning)
        return;

    CenterForm(*this);
    LoadHandPointer(*this);
    setWindowTitle(QStringLiteral("Dervanta"));

    // The login is checked before the list is touched. Nothing reads from
    // this connection, so it is closed before the fill opens its own: a
    // server that allows a user few sessions must not be asked for two.
    OpenLoginConnection(adUseClient)->Close();

    ReadList();
}

void Form2::ReadList()
{
    if (fillRunning)
        return;
    SetMousePointer(PointerBusy);
    setEnabled(false);
    {
        // A failed fill leaves the page usable.
        auto usable = qScopeGuard([this] {
            setEnabled(true);
            SetMousePointer(PointerDefault);
        });
        FillGuard guard;
        FillTableList(*List1);
        usable.dismiss();
    }
    List1->SetListIndex(0);
    setEnabled(true);
    List1->setFocus();
    SetMousePointer(PointerDefault);
    emit listLoaded();
}

void Form2::FrameBecameKnown() { CenterForm(*this); }

void Form2::Check1_Click() { EndProgram(0); }

void Form2::Check2_Click()
{
    GetForm1().show();
    hide();
}

void Form2::Check3_Click()
{
    if (List1->ListIndex() == -1) {
        ShowMessage(this, QStringLiteral("Please select a table"));
        return;
    }
    OpenTableInEditor();
}
