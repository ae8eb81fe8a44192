// SPDX-License-Identifier: GPL-3.0-or-later
// Media time in the engine: whole microseconds (AV_TIME_BASE units) in an
// int64_t, from the window's milliseconds and the tool's text down to each
// stream's time base. Every cut point, span, chapter and subtitle time goes
// through these conversions and no other, so two paths never disagree by a
// tick about where a cut starts.
//
// The rule, with a worked example (a cut at 1.300 s of a file whose clock
// starts at 1.4 s, written into a stream of time base 1/90000):
//   - The record keeps a point as seconds: 1300 ms / 1000.0 is the double
//     1.29999999999999982236431605997495353221893310546875. It becomes
//     microseconds ROUNDED TO THE NEAREST: 1,300,000 us (truncation gave
//     1,299,999). Any whole number of milliseconds comes out as ms * 1000.
//   - On the file's own clock the container's start time (already whole
//     microseconds) is ADDED AS AN INTEGER: 1,400,000 + 1,300,000 =
//     2,700,000 us. Added as seconds it would be 2.6999999999999997.
//   - Into a stream's time base: the NEAREST TICK, halves away from zero
//     (av_rescale_q): 2,700,000 us is 243,000 ticks of 1/90000, 2,700 of
//     1/1000, 81 of 1/30 (81.0 exactly), 35 of 1/13 (35.1 -> 35).
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

struct AVFormatContext;

constexpr int64_t kMicrosecondsPerSecond = 1000000;

constexpr int64_t MicrosecondsOfMilliseconds(int64_t ms) { return ms * 1000; }
// Seconds as the record keeps them, to the nearest microsecond.
int64_t MicrosecondsOfSeconds(double seconds);
double SecondsOfMicroseconds(int64_t us);

// Microseconds into ticks of `time_base`, to the nearest tick; and back.
int64_t ToStreamTicks(int64_t us, AVRational time_base);
int64_t ToMicroseconds(int64_t ticks, AVRational time_base);

// Where the clock of `format` starts (its start_time; 0 when it has none).
int64_t ContainerStartMicroseconds(const AVFormatContext* format);
// A point given from the file's start, on the file's own clock.
int64_t OnFileClock(int64_t us, const AVFormatContext* format);

// The part of a file a cut or span takes, from its start (not on its clock).
struct MediaSpan {
    int64_t start_us = 0;
    int64_t end_us = 0;
    int64_t LengthMicroseconds() const { return end_us - start_us; }
    double LengthSeconds() const { return SecondsOfMicroseconds(LengthMicroseconds()); }
};
// The span the record gives as seconds, each end rounded as above.
MediaSpan MediaSpanOfSeconds(double start_s, double end_s);
