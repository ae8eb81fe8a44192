// SPDX-License-Identifier: GPL-3.0-or-later
#include "morvane_app.h"

#include "app_directory.h"
#include "library_log.h"
#include "morvane_dlg.h"

#include <QTimer>

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
    // `morvane FILE...`, as a file manager's "Open with" starts it: the files
    // open once the window is up, so a refusal has a window to appear over.
    QStringList files;
    bool optionsEnded = false;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (!optionsEnded && argument == QLatin1String("--"))
            optionsEnded = true;
        else
            files << argument;
    }
    if (!files.isEmpty())
        QTimer::singleShot(0, &dialog, [&dialog, files] { dialog.OpenStartFiles(files); });
    dialog.exec();
    return 0;
}

int CMorvaneApp::ExitInstance()
{
    return 0;
}
