// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A main window in a private program folder (its own setting.ini, language
// files and snapshot), with the file dialog, message box and shell-open
// answered by the test.

#include "morvane_dlg.h"
#include "seams.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void WriteSettings(const QString& languageFile);
    // Opens the window (again) on the current settings.
    void OpenWindow();
    // Runs Add with the file dialog answering `paths`.
    void Add(const QStringList& paths);
    // The language text of the current language file.
    QString LanguageText(const char* section, const char* key) const;

    static QString Media(const char* name);
    QString Text(int id) const;
    QWidget* Control(int id) const;
    // Moves the timeline as a drag that stops at `thousandths` of the file does.
    void DragTo(int thousandths);
    // The snapshot of the picture shown once the one decoding in the background has come.
    QImage ShownSnapshot() const;

    platform::ScopedSeams m_seams;
    QTemporaryDir m_folder;
    QStringList m_answer;
    QStringList m_filters;
    QStringList m_messages;
    // Called as each message is shown, while the window is as the user sees it then.
    std::function<void()> m_onMessage;
    QStringList m_opened;
    std::unique_ptr<CMorvaneDlg> m_dlg;
};
