#include "pages/Form3.h"

#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Forms.h"
#include "pages/GridAccessibility.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"

#include <QLabel>
#include <QResizeEvent>

namespace {

CheckButton* makeButton(Page* page, const QString& caption, int left, bool withPicture = true)
{
    auto* button = new CheckButton(caption, page, withPicture);
    page->PlaceTwips(button, left, 2280, 1815, 400);
    return button;
}

} // namespace

Form3::Form3()
{
    // Before anything here asks for the page's or the bars' accessibility.
    InstallGridAccessibility();
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Form3"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    SetClientSizeTwips(5940, 2820);

    Label2 = new QLabel(QStringLiteral(" Table: "), this);
    PlaceTwips(Label2, 240, 120, 4695, 255);
    DataGrid1 = new DataGrid(this);
    PlaceTwips(DataGrid1, 120, 480, 5655, 1360);
    DataGrid1->setAccessibleName(QStringLiteral("Table rows"));

    Label1 = new QLabel(QStringLiteral(" Changes you make are automatically saved as you make them."), this);
    PlaceTwips(Label1, 120, 1920, 5535, 255);
    QPalette notePalette = Label1->palette();
    notePalette.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
    Label1->setPalette(notePalette);

    Check1 = makeButton(this, QStringLiteral("< Back"), 120);
    Check2 = makeButton(this, QStringLiteral("Next >"), 2040, false);
    Check2->setEnabled(false);
    Check3 = makeButton(this, QStringLiteral("Quit"), 3960);

    // Focus order: the grid, "Quit", "< Back"; the disabled "Next >" is skipped.
    setTabOrder(DataGrid1, Check3);
    setTabOrder(Check3, Check1);
    setTabOrder(Check1, Check2);

    AddPointerRule(this, PointerDefault);
    AddPointerRule(Label1, PointerDefault);
    AddPointerRule(Label2, PointerDefault);
    AddPointerRule(DataGrid1, PointerDefault);
    for (QWidget* w : {Check1, Check2, Check3})
        AddPointerRule(w, PointerHand);

    Check1->OnClick([this] { RunUnguarded([this] { Check1_Click(); }); });
    Check3->OnClick([this] { Check3_Click(); });
}

void Form3::Form_Load()
{
    CenterForm(*this);
    LoadHandPointer(*this);
    setWindowTitle(QStringLiteral("Dervanta"));
    // The outer height grows by 2000 twips; the frame stays as it is, so the
    // client area grows by the same amount and the top edge does not move.
    const QPoint topLeft = pos();
    resize(width(), height() + TwipsToPixels(2000, this));
    move(topLeft);
}

void Form3::FrameBecameKnown()
{
    // Centred as a window of the design height, then grown downwards, as
    // the load steps place it; the formulas then see the whole outer size.
    const QSize designOuter = OuterGeometry(*this).size() - QSize(0, TwipsToPixels(2000, this));
    MoveOuterTo(*this, CentredTopLeft(*this, designOuter));
    Form_Resize();
}

void Form3::resizeEvent(QResizeEvent* event)
{
    Page::resizeEvent(event);
    Form_Resize();
}

void Form3::Form_Resize()
{
    // On the outer size in twips, in single precision. A negative width or
    // height is refused, and only that assignment is skipped.
    const QRect outer = OuterGeometry(*this);
    const float W = static_cast<float>(PixelsToTwips(outer.width(), this));
    const float H = static_cast<float>(PixelsToTwips(outer.height(), this));
    const auto px = [this](float twips) { return TwipsToPixels(static_cast<double>(twips), this); };

    const float gridWidth = W - 500.0f;
    if (gridWidth >= 0.0f)
        DataGrid1->resize(px(gridWidth), DataGrid1->height());
    const float gridHeight = H - 1970.0f;
    if (gridHeight >= 0.0f)
        DataGrid1->resize(DataGrid1->width(), px(gridHeight));
    Label1->move(Label1->x(), px(H - 1420.0f));
    Check1->move(Check1->x(), px(H - 1070.0f));
    Check2->move(Check2->x(), px(H - 1070.0f));
    Check3->move(Check3->x(), px(H - 1070.0f));
}

bool Form3::WritePendingRow() { return DataGrid1->finishEditing(); }

bool Form3::QueryUnload() { return WritePendingRow(); }

void Form3::Check1_Click()
{
    if (!WritePendingRow())
        return;
    // The grid stays bound: the rowset and its connection live on.
    GetForm2().show();
    hide();
}

void Form3::Check3_Click()
{
    if (!WritePendingRow())
        return;
    EndProgram(0);
}
