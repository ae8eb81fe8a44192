// SPDX-License-Identifier: GPL-3.0-or-later
#include "break_scanner.h"

#include <QMetaObject>
#include <QTimer>

BreakScanner::BreakScanner(QObject* parent) : QObject(parent), m_progressTimer(new QTimer(this))
{
    // The scan's progress is read, not pushed: the thread never waits on the window.
    m_progressTimer->setInterval(250);
    connect(m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_progress)
            m_progress(m_percent->load());
    });
}

void BreakScanner::Start(const std::string& path_utf8, Progress progress, Done done)
{
    Cancel();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_finished = std::make_shared<std::atomic<bool>>(false);
    m_percent = std::make_shared<std::atomic<int>>(0);
    m_progress = std::move(progress);
    m_progressTimer->start();
    const unsigned generation = ++m_generation;
    m_thread = std::thread([this, path_utf8, done = std::move(done), cancel = m_cancel, finished = m_finished,
                            percent = m_percent, generation] {
        DetectedPoints points;
        const int rc = DetectCutPoints(path_utf8.c_str(), DetectSettings{}, *cancel, percent.get(), &points);
        finished->store(true);
        if (rc == kDetectCancelled || *cancel)
            return;
        // Posted to the scanner: a scanner destroyed first joins this thread
        // before it goes, and takes the posted call with it.
        QMetaObject::invokeMethod(
            this,
            [this, done, generation, rc, points = std::move(points)]() mutable {
                if (generation != m_generation || *m_cancel)
                    return;
                m_progressTimer->stop();
                done(rc, std::move(points));
            },
            Qt::QueuedConnection);
    });
}

void BreakScanner::Cancel()
{
    m_cancel->store(true);
    m_progressTimer->stop();
    if (m_thread.joinable())
        m_thread.join();
}
