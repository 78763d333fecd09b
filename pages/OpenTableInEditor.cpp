#include "pages/OpenTableInEditor.h"

#include "oracle/EditableRowset.h"
#include "oracle/Globals.h"
#include "oracle/Oracle.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/TableList.h"
#include "shell/ProgramEnd.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QWindow>

#include <memory>

namespace {

void openSelectedTable(Form2& chooser)
{
    chooser.SetMousePointer(PointerBusy);

    ConnectionPtr connection = OpenLoginConnection(adUseClient);

    SelectedTable = chooser.List1->List(chooser.List1->ListIndex());

    Form3& editor = GetForm3();
    editor.show();
    editor.Label2->setText(QStringLiteral(" Now Editing: ") + SelectedTable);

    // Unbinding releases the previous rowset and with it its connection.
    editor.DataGrid1->SetDataSource(nullptr);

    // The rowset reads SELECT * FROM "name" on the connection, which it
    // holds from here on.
    std::unique_ptr<EditableRowset> rowset =
        EditableRowset::Open(std::move(connection), SelectedTable.toStdString(), editor.DataGrid1->rowLimit());

    editor.DataGrid1->SetDataSource(std::move(rowset));
    editor.DataGrid1->setFocus();
    chooser.hide();
    chooser.SetMousePointer(PointerDefault);
}

} // namespace

void OpenTableInEditor()
{
    Form2& chooser = GetForm2();
    const std::optional<Failure> failure = RunCaught([&chooser] { openSelectedTable(chooser); });
    if (!failure)
        return;
    // The chooser stays, usable; the editor may already have been shown.
    if (Form3Loaded()) {
        Form3& editor = GetForm3();
        // A window hidden before the window system has finished showing it
        // can fail to show again (X11 with a window manager), so the showing
        // is let to finish first.
        const QWindow* window = editor.windowHandle();
        const QDeadlineTimer deadline(500);
        while (editor.isVisible() && window && !window->isExposed() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents, 20);
        editor.hide();
    }
    chooser.show();
    chooser.setEnabled(true);
    chooser.SetMousePointer(PointerDefault);
    chooser.activateWindow();
    chooser.List1->setFocus();
    ReportFailure(failure->number, failure->description, &chooser);
    // A table dropped since it was listed: the list is read again, so that
    // it is no longer offered.
    if (failure->missingTable) {
        if (const std::optional<Failure> again = RunCaught([&chooser] { chooser.ReadList(); }))
            ReportFailure(again->number, again->description, &chooser);
    }
}
