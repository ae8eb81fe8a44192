// SPDX-License-Identifier: GPL-3.0-or-later
// Loaded into the installed window program with LD_PRELOAD, so that a script
// can drive the real executable: once the main window shows, it prints the
// language list and the window's labels, picks the language entry named by
// MORVANE_DRIVE_LANGUAGE as a user would, prints the labels again and closes
// the window.

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QTimer>

#include <cstdio>

namespace {

// Event-loop turns to wait for the window, not a time.
int g_turnsLeft = 1000;

QDialog* MainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

void PrintLabels(QDialog* window, const char* phase)
{
    for (const QLabel* label : window->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            std::printf("%s label: %s\n", phase, qPrintable(label->text()));
}

void Drive()
{
    QDialog* window = MainWindow();
    QComboBox* languages = window ? window->findChild<QComboBox*>() : nullptr;
    if (!languages) {
        if (--g_turnsLeft > 0) {
            QTimer::singleShot(0, Drive);
            return;
        }
        std::printf("driver: no main window\n");
        std::fflush(stdout);
        QApplication::exit(3);
        return;
    }
    for (int i = 0; i < languages->count(); ++i)
        std::printf("entry %d: %s\n", i, qPrintable(languages->itemText(i)));
    PrintLabels(window, "start");
    const int entry = qEnvironmentVariableIntValue("MORVANE_DRIVE_LANGUAGE");
    languages->setCurrentIndex(entry);
    emit languages->activated(entry);
    PrintLabels(window, "chosen");
    std::fflush(stdout);
    window->close();
}

void StartDriving()
{
    QTimer::singleShot(0, Drive);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriving)
