// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The few places where the program meets the desktop: message boxes, opening
// a file, folder or address with its program, starting a program, and the
// file and folder pickers. Each is a replaceable function so that tests can
// record what would have been shown, or answer a picker, without blocking.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace platform {

enum class MessageIcon { None, Information, Warning, Error };

struct MessageBoxRequest {
    QWidget* owner = nullptr;  // null: application-modal
    QString text;
    QString caption;           // empty: the title of the owner's window
    MessageIcon icon = MessageIcon::None;
};

// Return values of ShellOpen follow the platform convention the program checks:
// above 32 is success, anything else an error code.
constexpr int kShellFileNotFound = 2;
constexpr int kShellPathNotFound = 3;
constexpr int kShellNoAssociation = 31;
constexpr int kShellSuccess = 42;

struct Seams {
    std::function<void(const MessageBoxRequest&)> messageBox;
    std::function<int(const QString& target)> shellOpen;
    // Starts a program detached; false when it could not be started.
    std::function<bool(const QString& program, const QStringList& arguments)> startProgram;
    // Multi-select open-file dialog; empty list on cancel.
    std::function<QStringList(QWidget* owner, const QString& windowsFilter)> getOpenFileNames;
    // Folder picker; empty string on cancel.
    std::function<QString(QWidget* owner, const QString& title)> browseForFolder;
    // Empty: the executable's own folder.
    std::function<QString()> appDirectory;
    // A question with Yes and No buttons; true for Yes.
    std::function<bool(const MessageBoxRequest&)> askYesNo;
};

// The seams in use. The defaults talk to the real desktop.
Seams& CurrentSeams();
Seams DefaultSeams();

// Restores the seams it found when it goes out of scope.
class ScopedSeams {
public:
    ScopedSeams() : saved_(CurrentSeams()) {}
    ~ScopedSeams() { CurrentSeams() = saved_; }
    ScopedSeams(const ScopedSeams&) = delete;
    ScopedSeams& operator=(const ScopedSeams&) = delete;

private:
    Seams saved_;
};

// Convenience calls through the current seams.
void ShowMessageBox(const MessageBoxRequest& request);
// No seam to ask through counts as No: nothing is given up unasked.
bool AskYesNo(const MessageBoxRequest& request);
int ShellOpen(const QString& target);
bool StartProgram(const QString& program, const QStringList& arguments);
QStringList GetOpenFileNames(QWidget* owner, const QString& windowsFilter);
// Where the next open-file dialog starts; empty or missing: the dialog's own choice.
void SetOpenFolder(const QString& folder);
QString OpenFolder();
QString BrowseForFolder(QWidget* owner, const QString& title);
// Where the next folder picker starts; empty or missing: the picker's own choice.
void SetBrowseFolder(const QString& folder);
QString BrowseFolder();

// The caption a message box shows for `request`.
QString MessageCaption(const MessageBoxRequest& request);

// "Name|*.a;*.b|All|*.*|" -> "Name (*.a *.b);;All (*)".
QString ToQtFileFilter(const QString& windowsFilter);

}  // namespace platform
