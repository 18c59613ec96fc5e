#include "app/consolecontrol.h"

#include <QWidget>

#ifdef Q_OS_WIN

#include <QWinEventNotifier>

#include <qt_windows.h>

namespace {

// The handler runs on a thread of the system's: it only sets this event, and the event loop
// closes the window.
HANDLE closeRequested = nullptr;
// Set once the last answering window is gone, and with it the port.
HANDLE windowsGone = nullptr;
int windowsAnswering = 0;

BOOL WINAPI onConsoleControl(DWORD type)
{
    SetEvent(closeRequested);
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        // Closing the console, logoff and shutdown end the process as soon as this returns, and
        // after 5 s anyway: give the window that long to close the port.
        WaitForSingleObject(windowsGone, 4500);
    }
    return TRUE;
}

} // namespace

void quitOnConsoleControl(QWidget *window)
{
    if (!closeRequested) {
        closeRequested = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        windowsGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    if (!closeRequested || !windowsGone)
        return;
    if (windowsAnswering++ == 0) {
        ResetEvent(windowsGone);
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    auto *notifier = new QWinEventNotifier(closeRequested, window);
    QObject::connect(notifier, &QWinEventNotifier::activated, window,
                     [window] { window->close(); });
    // Once the window is gone nothing would answer: the console's events do what they did before.
    QObject::connect(notifier, &QObject::destroyed, [] {
        if (--windowsAnswering > 0)
            return;
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        SetEvent(windowsGone);
    });
}

#else

void quitOnConsoleControl(QWidget *window)
{
    Q_UNUSED(window)
}

#endif
