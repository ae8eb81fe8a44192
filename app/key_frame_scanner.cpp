// SPDX-License-Identifier: GPL-3.0-or-later
#include "key_frame_scanner.h"

#include "key_frames.h"

#include <QMetaObject>

void KeyFrameScanner::Start(const std::string& path_utf8, Done done)
{
    Cancel();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_finished = std::make_shared<std::atomic<bool>>(false);
    const unsigned generation = ++m_generation;
    m_thread = std::thread([this, path_utf8, done = std::move(done), cancel = m_cancel, finished = m_finished,
                            generation] {
        std::vector<int64_t> times;
        const int rc = ScanKeyFrames(path_utf8.c_str(), *cancel, &times);
        finished->store(true);
        if (rc == kKeyFrameScanCancelled || *cancel)
            return;
        // Posted to the scanner: a scanner destroyed first joins this thread
        // before it goes, and takes the posted call with it.
        QMetaObject::invokeMethod(
            this,
            [this, done, generation, times = std::move(times)]() mutable {
                if (generation == m_generation && !*m_cancel)
                    done(std::move(times));
            },
            Qt::QueuedConnection);
    });
}

void KeyFrameScanner::Cancel()
{
    m_cancel->store(true);
    if (m_thread.joinable())
        m_thread.join();
}
