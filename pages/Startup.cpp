#include "pages/Startup.h"

#include "pages/Form1.h"
#include "pages/Form2.h"
#include "pages/Forms.h"
#include "pages/WaitWindow.h"

void StartProgram()
{
    InstallWaitWindow();
    RunUnguarded([] {
        Form1& form1 = GetForm1();
        // The load steps show the chooser when the stored login works;
        // otherwise the connection page is the window on the screen.
        if (!(Form2Loaded() && GetForm2().isVisible()))
            form1.show();
    });
}
