#include "morvane_app.h"

#include "morvane_dlg.h"

CMorvaneApp::CMorvaneApp(int& argc, char** argv) : m_app(argc, argv)
{
    // No display name: the platform would append it to every window title,
    // and each window already carries the title its language file gives.
    QApplication::setApplicationName(QStringLiteral("morvane"));
    // Ties the window to its menu entry and icon on the desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.morvane.Morvane"));
}

int CMorvaneApp::InitInstance()
{
    CMorvaneDlg dialog;
    dialog.exec();
    return 0;
}

int CMorvaneApp::ExitInstance()
{
    return 0;
}
