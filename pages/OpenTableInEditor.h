#pragma once

// Opens the table selected on the chooser page in the editor page's grid and
// moves from the chooser to the editor. A failure is reported and the chooser
// stays, usable; when the table no longer exists, its list is read again.
void OpenTableInEditor();
