#include "pages/OpenTableInEditor.h"

#include "oracle/EditableRowset.h"
#include "oracle/Globals.h"
#include "oracle/Oracle.h"
#include "pages/DataGrid.h"
#include "pages/Form2.h"
#include "pages/Form3.h"
#include "pages/Forms.h"
#include "pages/TableList.h"

#include <QLabel>

#include <memory>

void OpenTableInEditor()
{
    Form2& chooser = GetForm2();
    chooser.SetMousePointer(11);

    ConnectionPtr connection = OpenLoginConnection(adUseClient);

    SelectedTable = chooser.List1->List(chooser.List1->ListIndex());

    Form3& editor = GetForm3();
    editor.show();
    editor.Label2->setText(QStringLiteral(" Now Editing: ") + SelectedTable);

    // Unbinding releases the previous rowset and with it its connection.
    editor.DataGrid1->SetDataSource(nullptr);

    // The rowset reads SELECT * FROM "name" on the connection, which it
    // holds from here on.
    std::unique_ptr<EditableRowset> rowset = EditableRowset::Open(std::move(connection), SelectedTable.toStdString());

    editor.DataGrid1->SetDataSource(std::move(rowset));
    editor.DataGrid1->setFocus();
    chooser.hide();
    chooser.SetMousePointer(0);
}
