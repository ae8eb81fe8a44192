// SPDX-License-Identifier: GPL-3.0-or-later
#include "key_frame_scanner.h"

#include "key_frames.h"

void KeyFrameScanner::Start(const std::string& path_utf8, Done done)
{
    Launch([path_utf8, done = std::move(done)](const std::atomic<bool>& cancel) -> Report {
        std::vector<int64_t> times;
        if (ScanKeyFrames(path_utf8.c_str(), cancel, &times) == kKeyFrameScanCancelled)
            return {};
        return [done, times = std::move(times)] { done(times); };
    });
}
