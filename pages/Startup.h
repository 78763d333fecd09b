#pragma once

// Starts the wizard: the connection page loads (and moves on to the chooser
// when the stored login connects); otherwise it is the window shown.
// A failure during start-up is reported and ends the program.
void StartProgram();
