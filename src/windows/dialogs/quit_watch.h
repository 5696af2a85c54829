#pragma once
// The small dialogs close themselves when the program is asked to quit.
class QDialog;

// Rejects the dialog (ending its modal loop) once QuitRequested or ShuttingDown is set.
void CloseOnQuit(QDialog* dialog);
// True once the program is asked to quit or shuts down.
bool ProgramQuitting();
