#ifndef UNIXSIGNALS_H
#define UNIXSIGNALS_H

class QWidget;

// Makes SIGTERM, SIGINT and SIGHUP close the window, as Quit does, so that the program ends
// the usual way and closes its port; a signal left unanswered would leave the port locked. A
// second signal while the window waits for a save cancels it, as a second Quit does.
// Does nothing where there are no such signals.
void quitOnTerminationSignals(QWidget *window);

#endif // UNIXSIGNALS_H
