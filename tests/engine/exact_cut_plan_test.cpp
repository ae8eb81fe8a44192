// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut's planner on lists of packet facts, no media file: one
// picture per clock tick, decoding times two ticks behind the decoding order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "exact_cut_plan.h"

namespace {

struct Case {
    const char* name;
    std::vector<int64_t> pts;  // decoding order
    std::vector<int> keys;     // indices of key packets
    std::vector<int> unclean;  // key packets that cannot start a copy (recovery points)
    CutCodec codec;
    int64_t start, end;
    bool eof;
    // Expected: copied run [copy_begin, copy_end), pictures re-encoded before
    // and after it, where the tail's decoder starts and the head's dts shift.
    int copy_begin, copy_end, head, copied, tail, tail_from;
    int64_t dts_shift;
};

std::vector<int64_t> Run(int first, int count)
{
    std::vector<int64_t> pts(count);
    for (int i = 0; i < count; ++i)
        pts[i] = first + i;
    return pts;
}

// Groups of eight in a B-pyramid's decoding order.
std::vector<int64_t> Pyramid(int groups)
{
    std::vector<int64_t> pts;
    for (int g = 0; g < groups; ++g)
        for (int p : {0, 7, 3, 1, 2, 5, 4, 6})
            pts.push_back(g * 8 + p);
    return pts;
}

// Open groups: each key picture after the first is followed in decoding
// order by two pictures shown before it.
const std::vector<int64_t> kOpenGroups = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11, 15, 13, 14};

std::vector<PacketFacts> Facts(const Case& c)
{
    std::vector<PacketFacts> scan;
    for (size_t i = 0; i < c.pts.size(); ++i) {
        PacketFacts f;
        f.pts = c.pts[i];
        f.dts = static_cast<int64_t>(i) - 2;
        f.duration = 1;
        f.size = 100;
        const int index = static_cast<int>(i);
        f.key = std::count(c.keys.begin(), c.keys.end(), index) > 0;
        f.clean = f.key && std::count(c.unclean.begin(), c.unclean.end(), index) == 0;
        scan.push_back(f);
    }
    return scan;
}

const Case kCases[] = {
    {"starts on a key picture", Run(0, 12), {0, 4, 8}, {}, CutCodec::H264, 4, 12, true, 4, 12, 0, 8, 0, -1, 0},
    {"inside one group", Run(0, 16), {0, 8}, {}, CutCodec::H264, 2, 6, false, -1, -1, 4, 0, 0, -1, 0},
    {"head, copy and tail", Run(0, 16), {0, 4, 8, 12}, {}, CutCodec::H264, 2, 10, false, 4, 8, 2, 4, 2, 8, 2},
    {"B-pyramid", Pyramid(4), {0, 8, 16, 24}, {}, CutCodec::H264, 3, 21, false, 8, 16, 5, 8, 5, 16, 2},
    {"recovery points start no copy", Run(0, 32), {0, 8, 16, 24}, {8, 16}, CutCodec::H264, 4, 40, true,
     24, 32, 20, 8, 0, -1, 2},
    {"open GOP, leading pictures dropped", kOpenGroups, {0, 4, 10}, {}, CutCodec::Hevc, 6, 16, true,
     4, 16, 0, 10, 0, -1, 0},
    {"open GOP the codec cannot drop", kOpenGroups, {0, 4, 10}, {}, CutCodec::H264, 6, 16, true,
     -1, -1, 10, 0, 0, -1, 0},
    {"open GOP, tail decoded from the group before", kOpenGroups, {0, 4, 10}, {}, CutCodec::Hevc, 6, 11, false,
     4, 10, 0, 4, 1, 4, 0},
    // The head's picture before the key picture is decoded before the key
    // picture's own decoding time (2) ...
    {"open GOP, a head before the copy", kOpenGroups, {0, 4, 10}, {}, CutCodec::Hevc, 5, 16, true,
     4, 16, 1, 10, 0, -1, 4},
    // ... except where a reference picture is shown when the next is decoded:
    // there the key picture takes its last leading picture's (4), as a reader
    // that infers the times left out assumes.
    {"open MPEG-2 GOP, a head before the copy", kOpenGroups, {0, 4, 10}, {}, CutCodec::Mpeg2, 5, 16, true,
     4, 16, 1, 10, 0, -1, 2},
};

TEST(ExactCutPlan, PlansFromPacketFacts)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        CutPlan plan;
        plan.start = c.start;
        plan.end = c.end;
        ASSERT_TRUE(MakeCutPlan(Facts(c), c.eof, c.codec, &plan));
        EXPECT_EQ(plan.copy_begin, c.copy_begin);
        EXPECT_EQ(plan.copy_end, c.copy_end);
        EXPECT_EQ(plan.head_count, c.head);
        EXPECT_EQ(plan.copy_count, c.copied);
        EXPECT_EQ(plan.tail_count, c.tail);
        EXPECT_EQ(plan.tail_from, c.tail_from);
        EXPECT_EQ(plan.head_dts_shift, c.dts_shift);
        EXPECT_EQ(plan.first_pts, c.start);
        // Every picture of the span is either copied or re-encoded, once.
        const auto in_span = std::count_if(c.pts.begin(), c.pts.end(), [&](int64_t p) { return p >= c.start && p < c.end; });
        EXPECT_EQ(plan.head_count + plan.copy_count + plan.tail_count, in_span);
    }
}

TEST(ExactCutPlan, DropsOnlyTheLeadingPicturesOfTheFirstCopiedKey)
{
    const Case& c = kCases[5];
    CutPlan plan;
    plan.start = c.start;
    plan.end = c.end;
    ASSERT_TRUE(MakeCutPlan(Facts(c), c.eof, c.codec, &plan));
    const std::vector<bool> dropped(plan.dropped.begin(), plan.dropped.end());
    for (size_t i = 0; i < dropped.size(); ++i)
        EXPECT_EQ(dropped[i], i == 5 || i == 6) << i;
    EXPECT_EQ(plan.head_feed_end, 6);  // nothing before the copy is decoded for it
}

TEST(ExactCutPlan, ASpanWithoutPicturesHasNoPlan)
{
    CutPlan plan;
    plan.start = 50;
    plan.end = 60;
    EXPECT_FALSE(MakeCutPlan(Facts(kCases[0]), true, CutCodec::H264, &plan));
}

}  // namespace
