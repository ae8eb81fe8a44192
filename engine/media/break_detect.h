// SPDX-License-Identifier: GPL-3.0-or-later
// Finding cut points for the user: black pictures, silence and scene
// changes, found by FFmpeg's own filters on a cheap decode (small pictures,
// no loop filter, threads), and the places where black and silence meet,
// the usual edge of an advertising break.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

struct DetectSettings {
    double black_min_s = 0.1;         // shorter black is a dark picture, not a break
    double black_picture_ratio = 0.98;  // share of a picture's pixels that must be black
    double black_pixel_level = 0.10;    // darkest tenth of the range counts as black
    double silence_db = -50;
    double silence_min_s = 0.1;
    bool scenes = true;
    double scene_threshold = 10;  // 0-100, the scene filter's score
    // Black-and-silent places this close together frame one break (the
    // spots between them); a lone one is only a found point.
    double break_gap_s = 120;
    int picture_height = 144;  // the pictures are looked at this small
};

// Times in microseconds from the file's start, as a user position is.
struct TimeInterval {
    int64_t start_us = 0;
    int64_t end_us = 0;
};

struct DetectedPoints {
    std::vector<TimeInterval> black;
    std::vector<TimeInterval> silence;
    std::vector<int64_t> scene_changes_us;
    std::vector<TimeInterval> meetings;  // black intervals with silence under them
    std::vector<TimeInterval> breaks;    // first meeting's start to last meeting's end
    bool has_video = false;
    bool has_audio = false;

    // What the jump keys stop at: every meeting's edges and every scene
    // change, ascending, without repeats.
    std::vector<int64_t> FoundPoints() const;
};

// Meetings and breaks from `points`' black and silence (already filled).
void FindBreaks(const DetectSettings& settings, DetectedPoints* points);

// Scans `path` from start to end. `percent` (when given) follows the scan;
// `cancel` stops it within a packet. Returns kProbeOk, a probe error code,
// or kDetectCancelled; `points` is filled only on success.
constexpr int kDetectCancelled = -101;
constexpr int kDetectFilterFailed = -102;
int DetectCutPoints(const char* path, const DetectSettings& settings, const std::atomic<bool>& cancel,
                    std::atomic<int>* percent, DetectedPoints* points);
