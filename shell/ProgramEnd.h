#pragma once

// How the program ends: at once on Quit or when any page is closed, and after
// an unhandled failure has been reported.

#include <QString>
#include <functional>

// Ends the program with the given exit code. Tests replace the ending with
// a handler of their own (which then returns).
void EndProgram(int code = 0);
void SetEndProgramHandler(std::function<void(int)> handler);

class QWidget;

// Shows the failure's number and description in a message box titled
// "Dervanta" (OK only), over `parent` or else the active window.
void ReportFailure(long number, const QString& description, QWidget* parent = nullptr);

// Reports the failure as ReportFailure does, then ends the program.
void ReportFailureAndEnd(long number, const QString& description);
