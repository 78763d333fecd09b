#pragma once

// Opens the table selected on the chooser page in the editor page's grid and
// moves from the chooser to the editor. Failures pass to the caller.
void OpenTableInEditor();
