#pragma once

#include <QString>
#include <functional>

// Program-wide state shared by the pages and the data routines.

// The table opened in the editor, exactly as the catalogue listed it.
extern QString SelectedTable;

// The three login fields as the connection page shows them at this moment.
struct LoginFields {
    QString sid;
    QString user;
    QString password;
};

// The connection page installs the reader of its boxes; every data routine
// reads the fields afresh through it at the moment of use.
void SetLoginFieldsReader(std::function<LoginFields()> reader);
LoginFields CurrentLoginFields();
