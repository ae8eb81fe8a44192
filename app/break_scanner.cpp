// SPDX-License-Identifier: GPL-3.0-or-later
#include "break_scanner.h"

#include <QTimer>

BreakScanner::BreakScanner(QObject* parent) : BackgroundScan(parent), m_progressTimer(new QTimer(this))
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
    m_percent = std::make_shared<std::atomic<int>>(0);
    m_progress = std::move(progress);
    m_progressTimer->start();
    Launch([this, path_utf8, done = std::move(done), percent = m_percent](const std::atomic<bool>& cancel) -> Report {
        DetectedPoints points;
        const int rc = DetectCutPoints(path_utf8.c_str(), DetectSettings{}, cancel, percent.get(), &points);
        if (rc == kDetectCancelled)
            return {};
        return [this, done, rc, points = std::move(points)] {
            m_progressTimer->stop();
            done(rc, points);
        };
    });
}

void BreakScanner::Cancel()
{
    m_progressTimer->stop();
    StopScan();
}
