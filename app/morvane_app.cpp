#include "morvane_app.h"

#include "app_directory.h"
#include "library_log.h"
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
    // The libraries' messages go to a log beside the preview picture, not
    // to the terminal the window was started from.
    KeepLibraryMessages((platform::GetAppDirectory(platform::AppFiles::Cache) + "/library.log").toStdString());
    CMorvaneDlg dialog;
    dialog.exec();
    return 0;
}

int CMorvaneApp::ExitInstance()
{
    return 0;
}
