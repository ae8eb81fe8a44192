// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a file's key pictures on a thread of its own, so that a long file
// never holds up the window. Only the latest scan reports; starting another
// or destroying the scanner stops the one running first.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class KeyFrameScanner : public QObject {
public:
    // Called on the window's thread with the key times (microseconds on the
    // file's own clock), empty when the file could not be scanned.
    using Done = std::function<void(std::vector<int64_t> times_us)>;

    explicit KeyFrameScanner(QObject* parent = nullptr) : QObject(parent) {}
    ~KeyFrameScanner() override { Cancel(); }

    void Start(const std::string& path_utf8, Done done);
    // Stops the scan running, if any; its result is dropped.
    void Cancel();
    bool Running() const { return m_thread.joinable() && !m_finished->load(); }

private:
    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_finished = std::make_shared<std::atomic<bool>>(true);
    unsigned m_generation = 0;
};
