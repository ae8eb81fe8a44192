// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object: owns the toolkit, runs the main window modally and
// ends the process when it closes.

#include <QApplication>

class CMorvaneApp {
public:
    CMorvaneApp(int& argc, char** argv);

    // Runs the main window; its result is the process's exit code.
    int InitInstance();
    int ExitInstance();

private:
    QApplication m_app;
};
