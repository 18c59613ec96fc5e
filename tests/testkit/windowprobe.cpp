#include "windowprobe.h"

#include "app/mainwindow.h"
#include "console/console.h"
#include "serial/captureflags.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"

#include <QAction>
#include <QLabel>
#include <QSerialPort>

namespace testkit {

void resetFlags()
{
    captureState = 0;
    portOpened = 0;
}

WindowProbe::WindowProbe() = default;
WindowProbe::~WindowProbe() = default;

void WindowProbe::openWindow()
{
    window.reset();
    resetFlags();
    window = std::make_unique<MainWindow>();
}

void WindowProbe::closeWindow()
{
    window.reset();
}

QAction *WindowProbe::action(const char *name) const
{
    return testkit::action(window.get(), name);
}

QSerialPort *WindowProbe::port() const
{
    return window->findChild<QSerialPort *>();
}

Console *WindowProbe::console() const
{
    return qobject_cast<Console *>(window->centralWidget());
}

CaptureStore *WindowProbe::store() const
{
    return window->findChild<CaptureStore *>();
}

CaptureSaver *WindowProbe::saver() const
{
    return window->findChild<CaptureSaver *>();
}

QWidget *WindowProbe::widget(const char *name) const
{
    return window->findChild<QWidget *>(QLatin1String(name));
}

QString WindowProbe::label(const char *name) const
{
    return window->findChild<QLabel *>(QLatin1String(name))->text();
}

QByteArray WindowProbe::capturedBytes() const
{
    return store()->snapshot().readAll();
}

bool WindowProbe::connectTo(const QString &path, LineChoice line)
{
    line.port = path;
    applySettings(line);
    action("actionConnect")->trigger();
    return port()->isOpen();
}

void WindowProbe::startStop()
{
    action("actionStart_Stop_2")->trigger();
}

} // namespace testkit
