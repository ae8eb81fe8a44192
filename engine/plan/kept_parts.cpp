// SPDX-License-Identifier: GPL-3.0-or-later
// What removing spans from a file leaves, and where a direct copy of each
// part really starts.
#include "cut_list.h"

#include <algorithm>

int FindOverlappingSpan(const std::vector<CutSpan>& spans, const CutSpan& span, int skip)
{
    for (size_t i = 0; i < spans.size(); ++i)
        if (static_cast<int>(i) != skip && spans[i].start_ms < span.end_ms && span.start_ms < spans[i].end_ms)
            return static_cast<int>(i);
    return -1;
}

bool KeptPartsAfterRemoving(const std::vector<CutSpan>& removed, int64_t length_ms, int64_t min_part_ms,
                            std::vector<CutSpan>* kept, std::string* why)
{
    kept->clear();
    if (length_ms <= 0) {
        *why = "the file's length is unknown";
        return false;
    }
    std::vector<CutSpan> cuts;
    for (size_t i = 0; i < removed.size(); ++i) {
        if (removed[i].end_ms <= removed[i].start_ms) {
            *why = "span " + std::to_string(i + 1) + " ends at or before its start";
            return false;
        }
        const CutSpan clipped{std::max<int64_t>(removed[i].start_ms, 0), std::min(removed[i].end_ms, length_ms)};
        if (clipped.end_ms > clipped.start_ms)
            cuts.push_back(clipped);
    }
    std::sort(cuts.begin(), cuts.end(), [](const CutSpan& a, const CutSpan& b) { return a.start_ms < b.start_ms; });
    int64_t from = 0;
    for (const CutSpan& cut : cuts) {
        if (cut.start_ms - from >= std::max<int64_t>(min_part_ms, 1))
            kept->push_back({from, cut.start_ms});
        from = std::max(from, cut.end_ms);
    }
    if (length_ms - from >= std::max<int64_t>(min_part_ms, 1))
        kept->push_back({from, length_ms});
    if (kept->empty()) {
        *why = "the spans remove the whole file";
        return false;
    }
    return true;
}

CutSpan PartAtKeyPictures(const CutSpan& part, const std::vector<int64_t>& key_ms)
{
    if (key_ms.empty())
        return part;
    auto after = std::upper_bound(key_ms.begin(), key_ms.end(), part.start_ms);
    const int64_t start = after == key_ms.begin() ? key_ms.front() : *(after - 1);
    return {start, start + (part.end_ms - part.start_ms)};
}

