// SPDX-License-Identifier: GPL-3.0-or-later
#include "media_time.h"

#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

int64_t MicrosecondsOfSeconds(double seconds) { return std::llround(seconds * kMicrosecondsPerSecond); }

double SecondsOfMicroseconds(int64_t us) { return static_cast<double>(us) / kMicrosecondsPerSecond; }

int64_t ToStreamTicks(int64_t us, AVRational time_base) { return av_rescale_q(us, AV_TIME_BASE_Q, time_base); }

int64_t ToMicroseconds(int64_t ticks, AVRational time_base) { return av_rescale_q(ticks, time_base, AV_TIME_BASE_Q); }

int64_t ContainerStartMicroseconds(const AVFormatContext* format)
{
    return format && format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
}

int64_t OnFileClock(int64_t us, const AVFormatContext* format) { return us + ContainerStartMicroseconds(format); }

MediaSpan MediaSpanOfSeconds(double start_s, double end_s)
{
    return MediaSpan{MicrosecondsOfSeconds(start_s), MicrosecondsOfSeconds(end_s)};
}
