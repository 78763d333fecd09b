#include "oracle/Globals.h"

QString SelectedTable;

namespace {

std::function<LoginFields()>& loginFieldsReader()
{
    static std::function<LoginFields()> reader;
    return reader;
}

} // namespace

void SetLoginFieldsReader(std::function<LoginFields()> reader) { loginFieldsReader() = std::move(reader); }

LoginFields CurrentLoginFields()
{
    // Before the connection page installs its reader the fields are empty.
    const auto& reader = loginFieldsReader();
    return reader ? reader() : LoginFields{};
}
