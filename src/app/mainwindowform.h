#ifndef MAINWINDOWFORM_H
#define MAINWINDOWFORM_H

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
public:
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
