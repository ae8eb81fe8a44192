// SPDX-License-Identifier: GPL-3.0-or-later
#include "background_scan.h"

#include <QMetaObject>

void BackgroundScan::Launch(Scan scan)
{
    StopScan();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_finished = std::make_shared<std::atomic<bool>>(false);
    const unsigned generation = ++m_generation;
    m_thread = std::thread([this, scan = std::move(scan), cancel = m_cancel, finished = m_finished, generation] {
        Report report = scan(*cancel);
        finished->store(true);
        if (!report || *cancel)
            return;
        // Posted to the scanner: a scanner destroyed first joins this thread
        // before it goes, and takes the posted call with it.
        QMetaObject::invokeMethod(
            this,
            [this, generation, report = std::move(report)] {
                if (generation == m_generation && !*m_cancel)
                    report();
            },
            Qt::QueuedConnection);
    });
}

void BackgroundScan::StopScan()
{
    m_cancel->store(true);
    if (m_thread.joinable())
        m_thread.join();
}
