#include "oracle/BlockMemory.h"
#include "pages/Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    ShareHeapsBetweenThreads();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dervanta"));
    // The pages end the program themselves (Quit, closing a window).
    QApplication::setQuitOnLastWindowClosed(false);
    StartProgram();
    return QApplication::exec();
}
