// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scans a file for cut points (black, silence, scene changes, breaks) in the
// background, reporting its progress to the window as it goes.

#include <string>

#include "background_scan.h"
#include "break_detect.h"

class QTimer;

class BreakScanner : public BackgroundScan {
public:
    // Both are called on the window's thread. `rc` is kProbeOk or why not.
    using Progress = std::function<void(int percent)>;
    using Done = std::function<void(int rc, DetectedPoints points)>;

    explicit BreakScanner(QObject* parent = nullptr);
    ~BreakScanner() override { Cancel(); }

    void Start(const std::string& path_utf8, Progress progress, Done done);
    // Stops the scan running, if any; its result is dropped.
    void Cancel();

private:
    std::shared_ptr<std::atomic<int>> m_percent = std::make_shared<std::atomic<int>>(0);
    QTimer* m_progressTimer = nullptr;
    Progress m_progress;
};
