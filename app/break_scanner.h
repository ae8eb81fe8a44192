// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scans a file for cut points (black, silence, scene changes, breaks) on a
// thread of its own, reporting its progress to the window as it goes. Only
// the latest scan reports; starting another or destroying the scanner stops
// the one running first.

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "break_detect.h"

class QTimer;

class BreakScanner : public QObject {
public:
    // Both are called on the window's thread. `rc` is kProbeOk or why not.
    using Progress = std::function<void(int percent)>;
    using Done = std::function<void(int rc, DetectedPoints points)>;

    explicit BreakScanner(QObject* parent = nullptr);
    ~BreakScanner() override { Cancel(); }

    void Start(const std::string& path_utf8, Progress progress, Done done);
    // Stops the scan running, if any; its result is dropped.
    void Cancel();
    bool Running() const { return m_thread.joinable() && !m_finished->load(); }

private:
    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_finished = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<int>> m_percent = std::make_shared<std::atomic<int>>(0);
    QTimer* m_progressTimer = nullptr;
    Progress m_progress;
    unsigned m_generation = 0;
};
