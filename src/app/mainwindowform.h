#ifndef MAINWINDOWFORM_H
#define MAINWINDOWFORM_H

#include <QCoreApplication>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QStatusBar;
class QToolBar;
class QVBoxLayout;
class QWidget;

// The actions, menus, toolbar and status bar of the main window; the window owns them.
class MainWindowForm
{
    Q_DECLARE_TR_FUNCTIONS(MainWindowForm)

public:
    static constexpr int NumberedMarkers = 9;

    QAction *actionAbout = nullptr;
    QAction *actionAboutQt = nullptr;
    QAction *actionConnect = nullptr;
    QAction *actionDisconnect = nullptr;
    QAction *actionConfigure = nullptr;
    QAction *actionClear = nullptr;
    QAction *actionQuit = nullptr;
    QAction *actionSave = nullptr;
    QAction *actionExport = nullptr;
    // Placed in no menu and given no shortcut: the user cannot load a capture.
    QAction *actionOpen = nullptr;
    QAction *actionStart_Stop_2 = nullptr;
    // Tools: a marker whose label may be typed afterwards (Ctrl+M), and the numbered ones
    // (Ctrl+1 to Ctrl+9) in a menu of their own.
    QAction *actionMarker = nullptr;
    QAction *actionMarkerNumber[NumberedMarkers] = {};
    QMenu *menuMarkers = nullptr;
    // Between the tools for the port and the markers.
    QAction *markerSeparator = nullptr;
    QWidget *centralWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QMenuBar *menuBar = nullptr;
    QMenu *menuCalls = nullptr;
    QMenu *menuTools = nullptr;
    QMenu *menuHelp = nullptr;
    QMenu *menufile = nullptr;
    QToolBar *mainToolBar = nullptr;
    QStatusBar *statusBar = nullptr;

    void setupForm(QMainWindow *window);
    void retranslateForm(QMainWindow *window);
};

#endif // MAINWINDOWFORM_H
