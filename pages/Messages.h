#pragma once

// Modal message boxes as every page shows them: titled "Dervanta", OK only.

#include <QString>

#include <functional>

class QWidget;

// Shows text with an OK button. Details, when given, go into the box's
// expandable details pane and never into its main text.
void ShowMessage(QWidget* parent, const QString& text, const QString& details = {});

// Runs `step`; when it fails for want of memory, says so ("There is not
// enough memory to <what>. ...") instead of ending the program. False then.
bool RunShortOfMemory(QWidget* parent, const QString& what, const std::function<void()>& step);
// The same message, for a step that failed elsewhere (on a worker).
void ShowShortOfMemory(QWidget* parent, const QString& what);

// Asks a yes/no question (Yes and No buttons, No the default); true on Yes.
bool AskQuestion(QWidget* parent, const QString& text);
