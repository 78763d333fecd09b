#pragma once

// The window shown when the database has not answered for a few seconds:
// it says so and offers Stop Waiting (also Esc) and Quit. It closes by
// itself when the answer comes. Installed once, as the data layer's
// long-wait handler.
void InstallWaitWindow();
