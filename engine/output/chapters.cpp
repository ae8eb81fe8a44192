// SPDX-License-Identifier: GPL-3.0-or-later
// The chapters of a cut or join: clipped to the span and moved to where it
// lands, reserved before the header where the muxer writes them there.
#include "tracks.h"

#include <algorithm>


#include "container_rules.h"
#include "input_facts.h"
#include "job_setup.h"
#include "media_input.h"
#include "media_time.h"
#include "seek.h"

namespace {

void ClearChapters(AVFormatContext* out)
{
    for (unsigned i = 0; i < out->nb_chapters; ++i) {
        av_dict_free(&out->chapters[i]->metadata);
        av_freep(&out->chapters[i]);
    }
    av_freep(&out->chapters);
    out->nb_chapters = 0;
}

bool AddChapter(AVFormatContext* out, int64_t id, AVRational tb, int64_t start, int64_t end, const AVDictionary* meta)
{
    auto* ch = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (!ch)
        return false;
    ch->id = id;
    ch->time_base = tb;
    ch->start = start;
    ch->end = end;
    av_dict_copy(&ch->metadata, meta, 0);
    int n = static_cast<int>(out->nb_chapters);
    if (av_dynarray_add_nofree(&out->chapters, &n, ch) < 0) {
        av_dict_free(&ch->metadata);
        av_free(ch);
        return false;
    }
    out->nb_chapters = static_cast<unsigned>(n);
    return true;
}

// Where the output of `path` starts and how long it is: a copy starts at
// its first key picture at or after a seek to the span's start, read ahead
// in a reading of its own; a re-encoded cut at the start itself. An empty
// span is the whole file. `source_chapters`: it is asked for the chapters of
// the source, which a cut of a file without them does not need.
bool PredictSpan(const char* path, bool copy, const MediaSpan& span, bool source_chapters, InputContextPtr* opened,
                 int64_t* from_us, int64_t* to_us)
{
    const bool cut = span.LengthMicroseconds() > 0;
    AVFormatContext* raw = nullptr;
    if (CheckInputKind(path) != kProbeOk || OpenLocalFormat(&raw, path) != 0)
        return false;
    opened->reset(raw);
    int video = -1, audio = -1;
    SelectStreams(raw, &video, &audio);
    if (video < 0 || (source_chapters && raw->nb_chapters == 0 && cut))
        return false;  // a cut of a file without chapters has none to place
    const AVStream* vs = raw->streams[video];
    if (!copy) {
        *from_us = OnFileClock(span.start_us, raw);
        *to_us = *from_us + (cut ? span.LengthMicroseconds() : std::max<int64_t>(raw->duration, 0));
        return true;
    }
    if (span.start_us > 0)
        SeekAtOrBefore(raw, video, OnFileClock(span.start_us, raw));
    PacketPtr pkt = MakePacket();
    *from_us = AV_NOPTS_VALUE;
    while (pkt && *from_us == AV_NOPTS_VALUE && av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == video && (pkt->flags & AV_PKT_FLAG_KEY) && pkt->pts != AV_NOPTS_VALUE) {
            int64_t first = pkt->pts;
            if ((pkt->flags & AV_PKT_FLAG_DISCARD) && vs->start_time != AV_NOPTS_VALUE && vs->start_time > first)
                first = vs->start_time;
            *from_us = ToMicroseconds(first, vs->time_base);
        }
        av_packet_unref(pkt.get());
    }
    if (*from_us == AV_NOPTS_VALUE)
        return false;
    if (cut) {
        *to_us = *from_us + span.LengthMicroseconds();
    } else {
        const int64_t length = vs->duration != AV_NOPTS_VALUE ? ToMicroseconds(vs->duration, vs->time_base)
                                                               : raw->duration;
        *to_us = *from_us + std::max<int64_t>(length, 0);
    }
    return true;
}

}  // namespace

bool TrailerMakesChapterTrack(const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    if (!rules || rules->chapters != ChapterPlace::Reserved)
        return false;
    const std::string name = format->name;
    return name == "mp4" || name == "mov" || name == "ipod";
}

bool ChaptersWaitForTrailer(const AVOutputFormat* format)
{
    return ChaptersAtTrailer(format) && (!ChaptersBeforeHeader(format) || TrailerMakesChapterTrack(format));
}

void CollectChapters(std::vector<ChapterCopy>* list, const AVFormatContext* in, int64_t from_us, int64_t to_us,
                     int64_t offset_us)
{
    for (unsigned i = 0; i < in->nb_chapters; ++i) {
        const AVChapter* ch = in->chapters[i];
        const int64_t start = std::max(ToMicroseconds(ch->start, ch->time_base), from_us);
        const int64_t end = std::min(ToMicroseconds(ch->end, ch->time_base), to_us);
        if (end <= start)
            continue;
        ChapterCopy c;
        c.start_us = start - from_us + offset_us;
        c.end_us = end - from_us + offset_us;
        AVDictionary* meta = nullptr;
        av_dict_copy(&meta, ch->metadata, 0);
        c.metadata.reset(meta);
        list->push_back(std::move(c));
    }
}

std::string PartChapterTitle(int64_t source_from_us, int64_t source_to_us)
{
    const auto ms = [](int64_t us) { return std::max<int64_t>(0, (us + 500) / 1000); };
    return FormatTimeText(ms(source_from_us)) + " \xE2\x80\x93 " + FormatTimeText(ms(source_to_us));
}

bool AddPartChapter(std::vector<ChapterCopy>* list, int64_t start_us, int64_t end_us, int64_t source_from_us,
                    int64_t source_to_us)
{
    if (!list->empty() && list->back().start_us < start_us)
        list->back().end_us = start_us;
    ChapterCopy c;
    c.start_us = start_us;
    c.end_us = std::max(end_us, start_us + 1);
    AVDictionary* meta = nullptr;
    if (av_dict_set(&meta, "title", PartChapterTitle(source_from_us, source_to_us).c_str(), 0) < 0)
        return false;
    c.metadata.reset(meta);
    list->push_back(std::move(c));
    return true;
}

void EndPartChapters(std::vector<ChapterCopy>* list, int64_t file_end_us, int64_t muxer_shift_us)
{
    if (!list->empty())
        list->back().end_us = std::max(list->back().end_us, file_end_us);
    for (ChapterCopy& c : *list) {
        c.start_us += muxer_shift_us;
        c.end_us += muxer_shift_us;
    }
}

void ReserveChapters(AVFormatContext* out, const JobPlan& plan, int current_input)
{
    if (!ChaptersBeforeHeader(out->oformat) || out->nb_chapters > 0)
        return;
    // Where the parts really start is known once they are written.
    if (plan.part_chapters && ChaptersWaitForTrailer(out->oformat))
        return;
    std::vector<ChapterCopy> list;
    int64_t offset = 0;
    // A separate span's file holds that span alone.
    const int count = static_cast<int>(plan.inputs.size());
    const int first = plan.separate_outputs ? std::max(0, current_input) : 0;
    const int inputs = plan.join || plan.spans_in_one_file ? count : std::min(first + 1, count);
    // The launch found no chapters in any of them: nothing to open again.
    bool none = !plan.part_chapters;
    for (int l = first; l < inputs && none; ++l) {
        const InputFacts* facts = UnchangedLaunchFacts(plan.inputs[l]);
        none = facts && facts->Readable() && facts->chapter_count == 0;
    }
    if (none)
        return;
    for (int l = first; l < inputs; ++l) {
        InputContextPtr in;
        int64_t from = 0, to = 0;
        const InputPlan& input = plan.inputs[l];
        if (!PredictSpan(input.path.c_str(), plan.mode != JobMode::Reencode, input.span, !plan.part_chapters, &in,
                         &from, &to)) {
            break;  // its length is unknown: later chapters would be misplaced
        }
        const int64_t clock = ContainerStartMicroseconds(in.get());
        if (plan.part_chapters)
            AddPartChapter(&list, offset, offset + to - from, from - clock, to - clock);
        else
            CollectChapters(&list, in.get(), from, to, offset);
        offset += to - from;
    }
    PutChapters(out, list);
}

bool PutChapters(AVFormatContext* out, const std::vector<ChapterCopy>& list)
{
    if (list.empty() && out->nb_chapters == 0)
        return true;
    ClearChapters(out);
    const int64_t moved = out->output_ts_offset;
    for (size_t i = 0; i < list.size(); ++i) {
        if (!AddChapter(out, static_cast<int64_t>(i) + 1, AV_TIME_BASE_Q, list[i].start_us + moved,
                        list[i].end_us + moved, list[i].metadata.get()))
            return false;
    }
    return true;
}

void MoveOutputLater(AVFormatContext* out, int64_t us)
{
    if (us <= out->output_ts_offset)
        return;
    const int64_t more = us - out->output_ts_offset;
    for (unsigned i = 0; i < out->nb_chapters; ++i) {
        AVChapter* ch = out->chapters[i];
        const int64_t ticks = av_rescale_q(more, AV_TIME_BASE_Q, ch->time_base);
        ch->start += ticks;
        ch->end += ticks;
    }
    out->output_ts_offset = us;
}
