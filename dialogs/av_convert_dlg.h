// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The progress window of a running cut or join: two lines of text, two bars
// and a stop button. The main window writes the lines and bars on its poll
// timer and closes it when the job is over; stopping is the dialog's own.

#include <QDialog>

#include <functional>

class CLabel;
class QLabel;
class QProgressBar;
class QPushButton;

class CAVConvertDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAVConvertDlg(QWidget* parent = nullptr);

    // The window whose poll timer StopJob stops, and how to stop it.
    void SetMainWindow(QWidget* mainWindow, std::function<void()> killPollTimer);

    // Captions from the current language file; texts and bars back to the
    // template's. Runs at every opening.
    void OnInitDialog();
    // Opens the dialog modally and returns when the poll or StopJob ends it.
    int DoModal();

    // Raises the job's cancel flag, waits 100 ms, stops the main window's
    // poll and closes. The worker notices the flag on its own.
    void StopJob();

    // Spans of one file rather than files: the captions say so.
    void CountSpans(bool spans) { m_countsSpans = spans; }

    void SetCurrentText(const QString& text);  // 1018
    // 1018 as one line: `path` + `tail` ("   40% done"). A path too long for
    // the line loses the middle of its folder, so its file name and the
    // tail always show.
    void SetCurrentLine(const QString& path, const QString& tail);
    void SetTotalText(const QString& text);    // 1019
    void SetCurrentPos(int percent);           // 1011
    void SetTotalPos(int percent);             // 1012

    void accept() override {}
    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool m_countsSpans = false;
    QLabel* m_captionCurrent;   // 1158
    CLabel* m_lineCurrent;      // 1018
    QProgressBar* m_barCurrent; // 1011
    QLabel* m_captionTotal;     // 1159
    CLabel* m_lineTotal;        // 1019
    QProgressBar* m_barTotal;   // 1012
    QPushButton* m_btnStop;     // 1000
    std::function<void()> m_killPollTimer;
    bool m_ending = false;
};
