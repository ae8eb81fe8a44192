// SPDX-License-Identifier: GPL-3.0-or-later
#include "exact_cut_plan.h"

#include <algorithm>

namespace {

// Pictures decoded after key picture `k`, before the next one, but shown
// before it.
std::vector<int> LeadingPictures(const std::vector<PacketFacts>& scan, int k)
{
    std::vector<int> leading;
    for (int i = k + 1; i < static_cast<int>(scan.size()) && !scan[i].key; ++i) {
        if (scan[i].pts < scan[k].pts)
            leading.push_back(i);
    }
    return leading;
}

int CountPictures(const std::vector<PacketFacts>& scan, int64_t from, int64_t to)  // [from, to)
{
    return static_cast<int>(std::count_if(scan.begin(), scan.end(),
                                          [&](const PacketFacts& s) { return s.pts >= from && s.pts < to; }));
}

// The copied run that begins at clean key picture `k`: up to the last key
// picture whose preceding pictures all lie before the end point.
bool TryCopyFrom(const std::vector<PacketFacts>& scan, int k, bool reached_eof, CutCodec codec, CutPlan* plan)
{
    const int n = static_cast<int>(scan.size());
    std::vector<bool> dropped(scan.size(), false);
    const std::vector<int> leading = LeadingPictures(scan, k);
    if (!leading.empty() && codec == CutCodec::H264)
        return false;  // leading pictures would need the previous group
    for (int i : leading)
        dropped[i] = true;
    int64_t max_pts = INT64_MIN, best_max = INT64_MIN;
    int best_end = -1;
    for (int j = k + 1; j <= n; ++j) {
        if (!dropped[j - 1])
            max_pts = std::max(max_pts, scan[j - 1].pts);
        if (max_pts >= plan->end)
            break;
        if (j == n ? reached_eof : scan[j].key) {
            best_end = j;
            best_max = max_pts;
        }
    }
    if (best_end < 0)
        return false;
    int64_t min_pts = INT64_MAX;
    int copied = 0;
    for (int i = k; i < best_end; ++i) {
        if (!dropped[i]) {
            min_pts = std::min(min_pts, scan[i].pts);
            ++copied;
        }
    }
    // No picture of the source may be missing between the first and last copied.
    if (min_pts < plan->start || CountPictures(scan, min_pts, best_max + 1) != copied)
        return false;
    plan->copy_begin = k;
    plan->copy_end = best_end;
    plan->copy_min = min_pts;
    plan->copy_max = best_max;
    plan->copy_count = copied;
    plan->dropped = std::move(dropped);
    plan->head_feed_end = leading.empty() ? k - 1 : leading.back();
    // MPEG-1/2 and MPEG-4 Part 2 show a reference picture when the next one
    // is decoded, and program streams leave most pictures' times for the
    // reader to infer from that: the key picture takes the decoding time of
    // its last leading picture left out, so the re-encoded picture before it
    // is decoded one picture before it is shown, as such a reader assumes.
    const bool shown_at_next = codec == CutCodec::Mpeg2 || codec == CutCodec::Mpeg4;
    plan->copy_first_dts = shown_at_next && !leading.empty() ? scan[leading.back()].dts : scan[k].dts;
    return true;
}

int64_t TypicalDuration(const std::vector<PacketFacts>& scan)
{
    std::vector<int64_t> pts;
    for (const PacketFacts& s : scan)
        pts.push_back(s.pts);
    std::sort(pts.begin(), pts.end());
    std::vector<int64_t> steps;
    for (size_t i = 1; i < pts.size(); ++i) {
        if (pts[i] > pts[i - 1])
            steps.push_back(pts[i] - pts[i - 1]);
    }
    if (steps.empty())
        return scan.empty() || scan[0].duration <= 0 ? 1 : scan[0].duration;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

}  // namespace

bool MakeCutPlan(const std::vector<PacketFacts>& scan, bool reached_eof, CutCodec codec, CutPlan* plan)
{
    const int n = static_cast<int>(scan.size());
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const PacketFacts& s : scan) {
        if (s.pts >= plan->start && s.pts < plan->end) {
            first = std::min(first, s.pts);
            last = std::max(last, s.pts);
        }
    }
    if (first == INT64_MAX)
        return false;  // no picture in the span
    plan->first_pts = first;
    plan->origin_pts = first;
    plan->frame_duration = std::max<int64_t>(1, TypicalDuration(scan));
    plan->end_pts = last + plan->frame_duration;
    for (int k = 0; k < n && !plan->HasCopy(); ++k) {
        if (scan[k].clean && scan[k].pts >= plan->start)
            TryCopyFrom(scan, k, reached_eof, codec, plan);
    }
    if (!plan->HasCopy()) {
        plan->head_count = CountPictures(scan, plan->start, plan->end);
        plan->head_feed_end = n - 1;
        return plan->head_count > 0;
    }
    plan->head_count = CountPictures(scan, plan->start, plan->copy_min);
    plan->tail_count = CountPictures(scan, plan->copy_max + 1, plan->end);
    if (plan->tail_count > 0) {
        // The tail's own leading pictures need the group before it decoded.
        int from = plan->copy_end;
        if (from < n && !LeadingPictures(scan, from).empty()) {
            for (int k = from - 1; k >= plan->copy_begin; --k) {
                if (scan[k].key) {
                    from = k;
                    break;
                }
            }
        }
        plan->tail_from = from;
    }
    if (plan->head_count > 0) {
        // Re-encoded pictures are not reordered (decoding time = presentation
        // time); their decoding times move back so they precede the copy's.
        int64_t last_head = INT64_MIN;
        for (const PacketFacts& s : scan) {
            if (s.pts >= plan->start && s.pts < plan->copy_min)
                last_head = std::max(last_head, s.pts);
        }
        const int64_t overlap = last_head - plan->copy_first_dts + 1;
        if (overlap > 0)
            plan->head_dts_shift = (overlap + plan->frame_duration - 1) / plan->frame_duration * plan->frame_duration;
    }
    return true;
}
