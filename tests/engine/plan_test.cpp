// SPDX-License-Identifier: GPL-3.0-or-later
// What a job will do, decided before it runs: its times and its container.
#include <gtest/gtest.h>

#include "media_time.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// Every whole millisecond the window or the tool can give comes out as
// exactly ms * 1000, on its own and on a clock that starts at 1.4 s (where
// adding seconds as doubles went wrong for one value in seventeen).
TEST(MediaTimeTest, EveryMillisecondIsExactOnEveryClock)
{
    AVFormatContext* format = avformat_alloc_context();
    ASSERT_NE(format, nullptr);
    for (const int64_t start_us : {int64_t{0}, int64_t{1400000}, AV_NOPTS_VALUE}) {
        format->start_time = start_us;
        const int64_t origin = start_us == AV_NOPTS_VALUE ? 0 : start_us;
        for (int64_t ms = 0; ms <= 4 * 3600 * 1000; ms += ms < 200000 ? 1 : 997) {
            const double seconds = static_cast<double>(ms) / 1000.0;  // as the record keeps it
            ASSERT_EQ(MicrosecondsOfSeconds(seconds), MicrosecondsOfMilliseconds(ms)) << ms;
            ASSERT_EQ(OnFileClock(MicrosecondsOfSeconds(seconds), format), origin + ms * 1000) << ms;
        }
    }
    avformat_free_context(format);
    const MediaSpan span = MediaSpanOfSeconds(1.3, 4.7);
    EXPECT_EQ(span.start_us, 1300000);
    EXPECT_EQ(span.LengthMicroseconds(), 3400000);  // 4.7 - 1.3 in doubles is 3.4000000000000004
}

TEST(MediaTimeTest, StreamTicksAreTheNearestTick)
{
    struct Case {
        int64_t us;
        AVRational time_base;
        int64_t ticks;
    };
    const Case cases[] = {
        {2700000, {1, 90000}, 243000}, {2700000, {1, 1000}, 2700}, {2700000, {1, 30}, 81},
        {2700000, {1, 13}, 35},        {500, {1, 1000}, 1},         {-500, {1, 1000}, -1},
        {499, {1, 1000}, 0},           {33366, {1001, 30000}, 1},   {0, {1, 48000}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToStreamTicks(c.us, c.time_base), c.ticks) << c.us << " in " << c.time_base.den;
        // Back from a tick: within half a tick of where it came from.
        const double tick_us = 1e6 * c.time_base.num / c.time_base.den;
        EXPECT_LE(std::abs(ToMicroseconds(c.ticks, c.time_base) - c.us), tick_us / 2 + 1) << c.us;
    }
}

}  // namespace
