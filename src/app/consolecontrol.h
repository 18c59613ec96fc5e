#ifndef CONSOLECONTROL_H
#define CONSOLECONTROL_H

class QWidget;

// Makes Ctrl+C, Ctrl+Break and closing the console (and logoff and shutdown, for a program
// that has a console) close the window, as Quit does, on Windows. The program is a GUI program
// there and has no console when started from one; this answers wherever it does have one.
// Does nothing where there are no consoles.
void quitOnConsoleControl(QWidget *window);

#endif // CONSOLECONTROL_H
