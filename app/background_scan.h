// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scan of a file on a thread of its own, so that a long file never holds
// up the window. Only the latest scan reports; starting another or
// destroying the scanner stops the one running first.

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class BackgroundScan : public QObject {
public:
    explicit BackgroundScan(QObject* parent = nullptr) : QObject(parent) {}
    ~BackgroundScan() override { StopScan(); }

    bool Running() const { return m_thread.joinable() && !m_finished->load(); }

protected:
    // What a finished scan hands to the window's thread; empty when it was
    // stopped and has nothing to say.
    using Report = std::function<void()>;
    using Scan = std::function<Report(const std::atomic<bool>& cancel)>;

    // Stops the scan running, then runs `scan` on the thread; its report is
    // called on the window's thread unless a newer scan started meanwhile or
    // this one was stopped.
    void Launch(Scan scan);
    // Stops the scan running, if any; its report is dropped.
    void StopScan();

private:
    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_finished = std::make_shared<std::atomic<bool>>(true);
    unsigned m_generation = 0;
};
