// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a file's key pictures in the background.

#include <cstdint>
#include <string>
#include <vector>

#include "background_scan.h"

class KeyFrameScanner : public BackgroundScan {
public:
    // Called on the window's thread with the key times (microseconds on the
    // file's own clock), empty when the file could not be scanned.
    using Done = std::function<void(std::vector<int64_t> times_us)>;

    explicit KeyFrameScanner(QObject* parent = nullptr) : BackgroundScan(parent) {}

    void Start(const std::string& path_utf8, Done done);
    // Stops the scan running, if any; its result is dropped.
    void Cancel() { StopScan(); }
};
