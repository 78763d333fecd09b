#pragma once

// The single instance of each page. Each is created the first time anything
// refers to it, runs its load steps once at that moment, and then lives until
// the program ends; moving between pages only shows and hides them.

#include <QString>

#include <functional>
#include <optional>

class Form1;
class Form2;
class Form3;

Form1& GetForm1();
Form2& GetForm2();
Form3& GetForm3();

bool Form2Loaded();
bool Form3Loaded();

// A failure as it is reported: its number and description, and whether the
// table a statement named does not exist.
struct Failure {
    long number = 0;
    QString description;
    bool missingTable = false;
};

// Runs the action and catches whatever it throws; nothing when it succeeded.
std::optional<Failure> RunCaught(const std::function<void()>& action);

// Handlers that catch nothing run through this: a failure is shown with its
// number and description and the program ends. Returns false when it failed.
bool RunUnguarded(const std::function<void()>& action);

// Tests only: destroys the instances so the next reference creates them anew.
void DestroyFormsForTests();
