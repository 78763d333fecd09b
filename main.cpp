#include "pages/Forms.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dervanta"));
    GetForm1();
    return QApplication::exec();
}
