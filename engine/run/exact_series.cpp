// SPDX-License-Identifier: GPL-3.0-or-later
// A series of exact spans in one file: every span planned before the
// header, each cut in turn where the one before ended, the file finished once.
#include "exact_cutter.h"

#include <algorithm>

#include "media_time.h"
#include "tracks.h"

namespace exact_cutting {

void ExactCutter::StoreSpan(PlannedSpan& span)
{
    span.seek_target = seek_target_;
    span.scan = std::move(scan_);
    span.reached_eof = reached_eof_;
    span.plan = std::move(plan_);
}

void ExactCutter::LoadSpan(PlannedSpan& span)
{
    seek_target_ = span.seek_target;
    scan_ = std::move(span.scan);
    reached_eof_ = span.reached_eof;
    plan_ = std::move(span.plan);
}

// What one span's pass leaves behind that the next must not see.
void ExactCutter::ResetSpanState()
{
    head_ = ReencodedPart{};
    tail_ = ReencodedPart{};
    held_.reset();
    waiting_copies_.clear();
    head_done_ = false;
    copied_ = 0;
    for (SpanSound& sound : sounds_) {
        sound.fix = 0;
        sound.placed = false;
    }
}

// A span starts where the one before ended; should its first decoding time
// (the head's, moved back, or the copy's reordered one) not follow the last
// one written, the span starts that much later.
int64_t ExactCutter::SeamOffset() const
{
    if (spans_written_ == 0)
        return 0;
    int64_t first_dts = INT64_MAX;
    if (plan_.head_count > 0)
        first_dts = plan_.first_pts - ReencodedDtsLead();
    if (plan_.HasCopy())
        first_dts = std::min(first_dts, plan_.copy_first_dts);
    const int64_t needed = last_video_dts_ + 1 - (first_dts - plan_.origin_pts);
    return std::max(span_end_out_, needed);
}

// Every span's chapters, each span after the one before.
std::vector<ChapterCopy> ExactCutter::SeriesChapters() const
{
    std::vector<ChapterCopy> chapters;
    const auto us = [&](int64_t ts) { return ToMicroseconds(ts, vst_->time_base); };
    const auto collect = [&](const CutPlan& plan, int64_t offset) {
        if (!part_chapters_) {
            CollectChapters(&chapters, in_.format.get(), us(plan.first_pts), us(plan.end_pts), us(offset));
            return;
        }
        // The span's first picture lands after the sound that leads it.
        const int64_t start = us(offset + plan.first_pts - plan.origin_pts);
        const int64_t clock = ContainerStartMicroseconds(in_.format.get());
        AddPartChapter(&chapters, start, start + us(plan.end_pts - plan.first_pts), us(plan.first_pts) - clock,
                       us(plan.end_pts) - clock);
    };
    if (!series_) {
        collect(plan_, 0);
        return chapters;
    }
    // Before the header the spans' places are foreseen; at the end they are
    // where they were written, which a chapter per span waits for wherever
    // the container takes chapters then.
    const bool written = spans_written_ > 0;
    if (part_chapters_ && !written && out_ && ChaptersWaitForTrailer(out_->oformat))
        return chapters;
    int64_t offset = 0;
    for (size_t k = 0; k < spans_.size(); ++k) {
        const CutPlan& plan = static_cast<int>(k) == loaded_ ? plan_ : spans_[k].plan;
        if (!spans_[k].planned || (written && spans_[k].written_offset == INT64_MIN))
            continue;
        collect(plan, written ? spans_[k].written_offset : offset);
        offset += plan.end_pts - plan.origin_pts;
    }
    if (part_chapters_ && written)
        EndPartChapters(&chapters, us(span_end_out_));
    return chapters;
}

// Opens the file, scans and plans every span, and opens the output with the
// first span that holds pictures. A span that holds none fails alone.
bool ExactCutter::StartSeries()
{
    series_ = true;
    const int n = std::min(static_cast<int>(inputs_.size()), kMaxJobInputs);
    spans_.resize(static_cast<size_t>(n));
    if (!OpenSource()) {
        for (PlannedSpan& span : spans_)
            span.reason = reason_;
        return false;
    }
    std::vector<PacketFacts> all;
    for (int k = 0; k < n && !Cancelled(); ++k) {
        input_ = k;
        plan_ = CutPlan{};
        scan_.clear();
        reached_eof_ = false;
        spans_[k].planned = SetSpanLimits() && PlanSpan();
        spans_[k].reason = reason_;
        all.insert(all.end(), scan_.begin(), scan_.end());
        StoreSpan(spans_[k]);
    }
    bit_rate_ = MeasuredBitRate(all, vst_->time_base);
    if (bit_rate_ <= 0)
        bit_rate_ = vst_->codecpar->bit_rate;
    for (const PlannedSpan& span : spans_)
        series_dts_shift_ = std::max(series_dts_shift_, span.planned ? span.plan.head_dts_shift : 0);
    for (int k = 0; k < n; ++k) {
        if (!spans_[k].planned)
            continue;
        LoadSpan(spans_[k]);
        loaded_ = k;
        input_ = k;
        reason_ = FailureReason::NotAccepted;
        if (OpenOutput())
            return true;
        for (PlannedSpan& span : spans_)
            span.reason = reason_;
        return false;
    }
    return false;
}

bool ExactCutter::CutSpan(int input, FailureReason* why)
{
    reports_.Progress(0, false);
    PlannedSpan& span = spans_[static_cast<size_t>(input)];
    *why = span.reason;
    if (!span.planned || !header_written_ || broken_)
        return false;
    if (loaded_ != input) {
        if (loaded_ >= 0)
            StoreSpan(spans_[static_cast<size_t>(loaded_)]);
        ResetSpanState();
        LoadSpan(span);
        loaded_ = input;
        input_ = input;
        reason_ = FailureReason::NotAccepted;
        if (!OpenEncoders()) {
            *why = reason_;
            return false;  // nothing of it written yet: the next span may go on
        }
    }
    if (spans_written_ == 0)
        StartWithFirstDecoded();
    offset_ = SeamOffset();
    reason_ = FailureReason::NotAccepted;
    const bool ok = Process() && WritePendingVideo(true);
    span.written_offset = offset_;
    ++spans_written_;
    span_end_out_ = std::max(offset_ + plan_.end_pts - plan_.origin_pts, last_video_dts_ + 1);
    if (!ok && !Cancelled()) {
        broken_ = true;  // half a span: no file is better than one that breaks there
        *why = reason_;
        return false;
    }
    if (!Cancelled())
        reports_.Progress(100, false);
    return true;  // a stop keeps what was written: the worker tells it apart
}

// Keeps the file when a span is done (or the job was stopped with something
// written); says why it is no result otherwise, None when every span has its
// own reason already.
FailureReason ExactCutter::FinishSeries(bool any_span_done)
{
    const bool wanted = any_span_done || Cancelled();
    bool keep = header_written_ && !broken_ && video_written_ > 0 && wanted;
    if (keep && (!WritePendingVideo(false) || !PutChapters(out_.get(), SeriesChapters()) ||
                 av_write_trailer(out_.get()) < 0))
        keep = false;
    out_.reset();
    const bool kept = FinishFile(keep) && keep;
    if (kept || (!wanted && !broken_))
        return FailureReason::None;
    return reason_ != FailureReason::None ? reason_ : FailureReason::NotAccepted;
}

}  // namespace exact_cutting
