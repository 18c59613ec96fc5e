#include "app/mainwindow.h"
#include "app/unixsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tarvex.TarvexTerminal"));
    MainWindow window;
    quitOnTerminationSignals(&window);
    window.show();
    return QApplication::exec();
}
