#pragma once

// The single instance of each page. Each is created the first time anything
// refers to it, runs its load steps once at that moment, and then lives until
// the program ends; moving between pages only shows and hides them.

#include <functional>

class Form1;
class Form2;
class Form3;

Form1& GetForm1();
Form2& GetForm2();
Form3& GetForm3();

bool Form2Loaded();
bool Form3Loaded();

// Handlers that catch nothing run through this: a failure is shown with its
// number and description and the program ends. Returns false when it failed.
bool RunUnguarded(const std::function<void()>& action);

// Tests only: destroys the instances so the next reference creates them anew.
void DestroyFormsForTests();
