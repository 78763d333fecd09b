#include "shell/ProgramEnd.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

std::function<void(int)>& endHandler()
{
    static std::function<void(int)> handler;
    return handler;
}

} // namespace

void SetEndProgramHandler(std::function<void(int)> handler)
{
    endHandler() = std::move(handler);
}

void EndProgram(int code)
{
    if (const std::function<void(int)> handler = endHandler()) {
        handler(code);
        return;
    }
    // The end must be immediate even from deep inside a handler or a loop
    // that yields to the event loop, so there is no unwinding back to main:
    // the settings are already on disk (each save is synced), database
    // sessions end with the process, and running static destructors while
    // the QApplication on main's stack still lives (and its threads run)
    // is exactly what must not happen. Only the C streams need flushing.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(code);
}

void ReportFailure(long number, const QString& description, QWidget* parent)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        const QString text = QStringLiteral("Run-time error '%1':\n\n%2").arg(QString::number(number), description);
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Dervanta"), text, QMessageBox::Ok,
                        parent ? parent : QApplication::activeWindow());
        // Descriptions come from database servers: never interpret them as markup.
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        // A page may be busy behind the box; the box itself takes clicks.
        QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
        box.exec();
        QGuiApplication::restoreOverrideCursor();
    } else {
        std::fprintf(stderr, "Dervanta: run-time error %ld: %s\n", number, description.toLocal8Bit().constData());
    }
}

void ReportFailureAndEnd(long number, const QString& description)
{
    ReportFailure(number, description);
    EndProgram(1);
}
