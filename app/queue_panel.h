// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The queue tab: the queued, running, done and failed jobs with their files,
// mode, output and why, and the buttons that start and stop the queue and
// move and remove its jobs. The queue is saved at every change and read
// again when the window opens; it runs only when the user starts it.

#include <QString>
#include <QWidget>

#include <cstdint>

class JobSequence;
class QPushButton;
class QToolButton;
class QTreeWidget;
struct JobReading;

class QueuePanel : public QWidget {
    Q_OBJECT

public:
    // Reads the queue from `file`; the panel covers its parent below the tab row.
    QueuePanel(QWidget* parent, const QString& file);

    JobSequence* Queue() const { return m_queue; }
    QTreeWidget* List() const { return m_list; }
    // Captions and every row's texts in the current language.
    void ApplyLanguage();
    // False when the file could not be written.
    bool Save();
    // Stops a running job and saves: the window is closing.
    void Close();

    void StartQueue();
    void StopQueue();
    void MoveSelected(int by);
    void RemoveSelected();

signals:
    // The number of jobs waiting changed (the tab shows it).
    void waitingChanged(int waiting);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitToParent();
    void ShowJobs();
    void ShowProgress(quint64 id, const JobReading& reading);
    void EnableButtons();
    uint64_t SelectedId() const;

    QString m_file;
    JobSequence* m_queue;
    QTreeWidget* m_list;
    QPushButton* m_btnStart;
    QPushButton* m_btnStop;
    QToolButton* m_btnUp;
    QToolButton* m_btnDown;
    QToolButton* m_btnRemove;
};
