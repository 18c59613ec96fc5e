#ifndef WINDOWPROBE_H
#define WINDOWPROBE_H

#include "windowdriver.h"

#include <QByteArray>
#include <QString>

#include <memory>

class CaptureSaver;
class CaptureStore;
class Console;
class MainWindow;
class QAction;
class QSerialPort;
class QWidget;

namespace testkit {

// Back to how the program starts: no port opened yet, the device believed idle.
void resetFlags();

// A main window of the program's own, and the parts of it that the tests and the benchmarks
// look at and press, found as the window owns them.
class WindowProbe
{
public:
    WindowProbe();
    ~WindowProbe();
    WindowProbe(const WindowProbe &) = delete;
    WindowProbe &operator=(const WindowProbe &) = delete;

    // A new window, as a fresh start of the program makes it.
    void openWindow();
    void closeWindow();

    QAction *action(const char *name) const;
    QSerialPort *port() const;
    Console *console() const;
    CaptureStore *store() const;
    CaptureSaver *saver() const;
    // A child widget by its object name.
    QWidget *widget(const char *name) const;
    // The text of a label by its object name; status() and indicator() are the status bar's two.
    QString label(const char *name) const;
    QString status() const { return label("statusLabel"); }
    QString indicator() const { return label("captureLabel"); }
    // Everything the capture holds now.
    QByteArray capturedBytes() const;

    // Chooses the line in the settings dialog, Applies and Connects; true if the port opened.
    bool connectTo(const QString &path, LineChoice line = {});
    void startStop();

    std::unique_ptr<MainWindow> window;
};

} // namespace testkit

#endif // WINDOWPROBE_H
