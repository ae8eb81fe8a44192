// SPDX-License-Identifier: GPL-3.0-or-later
// The key pictures of a file, for the timeline: read from the container's
// index where it lists every picture, else from the packet headers. Nothing
// is decoded, and the file is opened by a demuxer of its own, so a scan can
// run on its own thread beside the preview and the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// Fills `times_us` with the presentation times of the selected video
// stream's key pictures, in microseconds on the file's own clock (as a
// seek compares them), ascending and without repeats. Returns kProbeOk, a
// probe error code when the file cannot be read or has no picture, or
// kKeyFrameScanCancelled once `cancel` is set; `times_us` is then empty.
constexpr int kKeyFrameScanCancelled = -100;
int ScanKeyFrames(const char* path, const std::atomic<bool>& cancel, std::vector<int64_t>* times_us);
