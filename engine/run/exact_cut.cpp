// SPDX-License-Identifier: GPL-3.0-or-later
#include "exact_cut.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "coded_units.h"
#include "container_rules.h"
#include "exact_cut_plan.h"
#include "job_file.h"
#include "lead_cues.h"
#include "conversion_job.h"
#include "matching_encoder.h"
#include "media_time.h"
#include "media_input.h"
#include "output_file.h"
#include "stream_copy.h"
#include "tracks.h"

namespace {

// Re-encoding one picture costs about this many copied packets: the weight of
// the re-encoded parts in the progress.
constexpr int kEncodeWeight = 12;
// Pictures read past the first key picture beyond the end point, so the
// leading pictures decoded after it are seen too.
constexpr int kPacketsPastEnd = 16;

bool ContainerHandled(CutCodec codec, const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    const ExactCodecs exact = rules ? rules->exact : ExactCodecs::None;
    return exact == ExactCodecs::H264HevcMpeg4 || (exact == ExactCodecs::Mpeg4 && codec == CutCodec::Mpeg4);
}

// Codec and container: true when an exact cut can be made, else `why` says
// why not.
bool ClassifySource(const AVFormatContext* input, const AVStream* st, const char* output_path, CutCodec* codec,
                    std::string* why)
{
    const AVCodecParameters* par = st->codecpar;
    switch (par->codec_id) {
    case AV_CODEC_ID_H264: *codec = CutCodec::H264; break;
    case AV_CODEC_ID_HEVC: *codec = CutCodec::Hevc; break;
    case AV_CODEC_ID_MPEG4: *codec = CutCodec::Mpeg4; break;
    default:
        *why = std::string("the codec ") + avcodec_get_name(par->codec_id) + " is not re-encoded";
        return false;
    }
    if (!MatchingEncoderAvailable(par, why))
        return false;
    const AVOutputFormat* format = DirectOutputFormat(input, output_path);
    if (!format || !ContainerHandled(*codec, format)) {
        *why = "the container is not handled";
        return false;
    }
    // Parameter sets must come in a configuration record, so both parts' can be stored.
    const bool record = par->extradata_size > 6 && par->extradata[0] == 1;
    if (*codec != CutCodec::Mpeg4 && !record) {
        *why = "the stream has no configuration record";
        return false;
    }
    if (*codec == CutCodec::Mpeg4 && par->video_delay > 0) {
        *why = "MPEG-4 with B-pictures is not handled";
        return false;
    }
    return true;
}

// What the source spends on the scanned pictures, in bits a second; 0 when
// they span no time.
int64_t MeasuredBitRate(const std::vector<PacketFacts>& scan, AVRational time_base)
{
    int64_t bytes = 0, first = INT64_MAX, end = INT64_MIN;
    for (const PacketFacts& s : scan) {
        bytes += s.size;
        first = std::min(first, s.pts);
        end = std::max(end, s.pts + std::max<int64_t>(s.duration, 0));
    }
    const double seconds = end > first ? (end - first) * av_q2d(time_base) : 0.0;
    return seconds > 0 ? static_cast<int64_t>(bytes * 8 / seconds) : 0;
}

bool IsCleanStart(CutCodec codec, int length_size, const AVPacket* pkt)
{
    if (!(pkt->flags & AV_PKT_FLAG_KEY))
        return false;
    if (codec == CutCodec::Mpeg4)
        return HasMpeg4VolHeader(pkt->data, static_cast<size_t>(pkt->size));
    std::vector<CodedUnit> units;
    if (!SplitLengthUnits(pkt->data, static_cast<size_t>(pkt->size), length_size, &units))
        return false;
    for (const CodedUnit& u : units) {
        if (codec == CutCodec::H264 && H264UnitType(u) == kH264Idr)
            return true;
        if (codec == CutCodec::Hevc && HevcUnitType(u) >= kHevcIrapFirst && HevcUnitType(u) <= kHevcIrapLast)
            return true;
    }
    return false;
}

// Two ids for the re-encoded parts' SPS/PPS that the source does not use.
void FreeParameterSetIds(const AvcConfig& config, int ids[2])
{
    bool used[32] = {};
    for (const Bytes& s : config.sps)
        if (int id = H264SpsId(s); id >= 0 && id < 32)
            used[id] = true;
    for (const Bytes& p : config.pps)
        if (int id = H264PpsId(p); id >= 0 && id < 32)
            used[id] = true;
    int found = 0;
    for (int id = 1; id < 32 && found < 2; ++id)
        if (!used[id])
            ids[found++] = id;
}

// One re-encoded end of the cut: a decoder fed from a key picture, the
// pictures of [from, to) passed to an encoder of the source's kind.
struct ReencodedPart {
    CodecContextPtr dec;
    CodecContextPtr enc;
    int64_t from = 0, to = 0;
    int encoded = 0;
    bool flushed = false;
};

class ExactCutter {
public:
    ExactCutter(ConversionJob* job, int input, MediaInput in, std::unique_ptr<OutputFile> file)
        : job_(job), input_(input), file_(std::move(file)), in_(std::move(in))
    {
    }
    bool Run();
    bool ReencodesWholeSpan();
    FailureReason reason() const { return reason_; }
    MediaInput TakeInput() { return std::move(in_); }

    // A series: every span of the job, one after the other, in one file.
    bool StartSeries();
    bool CutSpan(int input, FailureReason* why);
    FailureReason FinishSeries();

private:
    // What a span of a series keeps from its scan to its turn.
    struct PlannedSpan {
        bool planned = false;
        FailureReason reason = FailureReason::NothingInSpan;
        int64_t seek_target = 0;
        std::vector<PacketFacts> scan;
        bool reached_eof = false;
        CutPlan plan;
        int64_t written_offset = INT64_MIN;  // where it went in the output
    };

    bool OpenSource();
    bool SetSpanLimits();
    bool PlanSpan();
    void StoreSpan(PlannedSpan& span);
    void LoadSpan(PlannedSpan& span);
    void ResetSpanState();
    int64_t SeamOffset() const;
    int64_t Shift() const { return plan_.origin_pts - offset_; }
    std::vector<ChapterCopy> SeriesChapters() const;
    // A sound track of the file, the main one or another, as the span takes it.
    struct SpanSound {
        const AVStream* in = nullptr;
        AVStream* out = nullptr;
        int64_t from = 0, to = 0;  // the span, on the sound's clock
        int64_t fix = 0;           // the sound's own move at the span's seam
        bool placed = false;
        int64_t end = INT64_MIN;  // end of the sound written, output clock
        bool done = false;        // read up to the span's end
    };
    bool SoundInSpan(const AVPacket* pkt, const SpanSound& sound) const;
    bool MeetSoundBefore(AVPacket* pkt, SpanSound& sound);
    SpanSound* SoundOf(int stream_index);
    void StartSpanSounds();
    bool SpanSoundsRead(int past_main_sound) const;
    bool WritePendingVideo(bool end_sequence);
    CodecContextPtr OpenPartEncoder(int part);
    bool RecordPartSets(int part, const AVCodecContext* enc);
    bool PutParameterSetRecord();
    bool SeekBeforeStart();
    bool Scan();
    void KeepSoundBeforeFirstPicture();
    int64_t DerivedDts(int64_t pts) const;
    bool OpenOutput();
    bool FinishFile(bool keep);
    bool OpenEncoders();
    bool Process();
    bool VideoPacket(AVPacket* pkt, int index);
    bool AudioPacket(AVPacket* pkt, SpanSound& sound);
    void ExtraPacket(AVPacket* pkt, size_t k);
    LeadCues WriteLeadCues();
    bool FeedPart(ReencodedPart& part, const AVPacket* pkt);
    bool EncodeFrame(ReencodedPart& part, AVFrame* frame);
    bool DrainEncoder(ReencodedPart& part);
    bool WriteEncoded(ReencodedPart& part, AVPacket* pkt);
    bool FinishHead();
    bool WriteHeld(bool last_of_head);
    bool WriteCopied(AVPacket* pkt);
    bool PrependSourceParameterSets(AVPacket* pkt);
    bool WriteVideo(AVPacket* pkt);
    void Progress();
    bool Cancelled() const { return job_->cancel_requested.load() != 0; }

    ConversionJob* job_;
    int input_;
    std::unique_ptr<OutputFile> file_;  // created by the launch, written here
    MediaInput in_;  // opened once by the caller
    CutCodec codec_ = CutCodec::H264;
    AVStream* vst_ = nullptr;
    AVStream* ast_ = nullptr;
    int length_size_ = 4;
    std::vector<Bytes> source_units_;  // HEVC parameter sets of the source, for the join
    int64_t seek_target_ = 0;
    std::vector<PacketFacts> scan_;
    bool reached_eof_ = false;
    CutPlan plan_;

    OutputContextPtr out_;
    bool header_written_ = false;
    AVStream* out_video_ = nullptr;
    AVStream* out_audio_ = nullptr;
    ReencodedPart head_, tail_;
    PacketPtr held_;  // the head's latest packet, written once the next is known
    std::deque<PacketPtr> waiting_copies_;  // copied packets read while the head still decodes
    bool head_done_ = false;
    int64_t last_video_dts_ = INT64_MIN;
    int copied_ = 0;
    std::vector<SpanSound> sounds_;  // the main sound first, then the others kept
    bool trims_sound_ = false;
    std::vector<int> extra_in_;  // tracks besides the main ones, copied as they are
    std::vector<AVStream*> extra_out_;
    FailureReason reason_ = FailureReason::NotMedia;  // of the step that failed

    int64_t bit_rate_ = 0;       // the re-encoded parts', one for every span
    int ids_[2] = {1, 2};        // their H.264 parameter set ids, head and tail
    AvcConfig config_;           // the output's record: the source's sets and theirs
    std::vector<Bytes> part_sets_[2];
    bool source_sets_replaced_ = false;  // HEVC: re-encoded sets are the active ones

    bool series_ = false;
    std::vector<PlannedSpan> spans_;
    int loaded_ = -1;              // the span in plan_, scan_
    int spans_written_ = 0;
    bool broken_ = false;          // a span failed half written: the file is no result
    int64_t offset_ = 0;           // where the span starts in the output, video clock
    int64_t span_end_out_ = 0;     // where the last span written ends
    int video_written_ = 0;
    PacketPtr pending_video_;      // HEVC series: held to end its sequence at a seam
};

// The input comes open from the caller; what it holds is checked again here,
// as the file may have changed since the launch looked at it.
bool ExactCutter::OpenSource()
{
    if (!in_.format)
        return false;
    vst_ = in_.VideoStream();
    ast_ = in_.AudioStream();
    std::string why;
    if (!vst_ || !ClassifySource(in_.format.get(), vst_, job_->output_paths[input_], &codec_, &why))
        return false;
    const AVCodecParameters* par = vst_->codecpar;
    if (codec_ == CutCodec::H264) {
        if (!ParseAvcConfig(par->extradata, static_cast<size_t>(par->extradata_size), &config_))
            return false;
        length_size_ = config_.length_size;
        FreeParameterSetIds(config_, ids_);
    } else if (codec_ == CutCodec::Hevc) {
        if (!ParseHevcConfig(par->extradata, static_cast<size_t>(par->extradata_size), &length_size_,
                             &source_units_))
            return false;
    }
    return SetSpanLimits();
}

// The span of input_ on the video stream's clock.
bool ExactCutter::SetSpanLimits()
{
    const auto to_ts = [&](double s) {
        return ToStreamTicks(OnFileClock(MicrosecondsOfSeconds(s), in_.format.get()), vst_->time_base);
    };
    plan_.start = to_ts(job_->start_s[input_]);
    plan_.end = to_ts(job_->end_s[input_]);
    return plan_.end > plan_.start;
}

// Reading must begin at a key picture at or before the start point; a seek
// that lands after it is repeated from further back.
bool ExactCutter::SeekBeforeStart()
{
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, vst_->time_base);
    const int64_t origin = vst_->start_time != AV_NOPTS_VALUE ? vst_->start_time : 0;
    const int64_t backs[] = {0, 3, 10, 30, 120};
    AVFormatContext* fmt = in_.format.get();
    PacketPtr pkt = MakePacket();
    for (int64_t back : backs) {
        seek_target_ = std::max(plan_.start - back * second, origin);
        if (av_seek_frame(fmt, vst_->index, seek_target_, AVSEEK_FLAG_BACKWARD) < 0)
            continue;
        while (av_read_frame(fmt, pkt.get()) >= 0) {
            const bool video_key = pkt->stream_index == vst_->index && (pkt->flags & AV_PKT_FLAG_KEY);
            const int64_t pts = pkt->pts;
            av_packet_unref(pkt.get());
            if (!video_key)
                continue;
            if (pts != AV_NOPTS_VALUE && (pts <= plan_.start || seek_target_ == origin))
                return true;
            break;
        }
    }
    return false;
}

// A decoding time the container left out (Matroska's first packet): one
// picture after the previous one, or the reorder delay before the first.
int64_t ExactCutter::DerivedDts(int64_t pts) const
{
    const AVRational rate = vst_->avg_frame_rate.num > 0 ? vst_->avg_frame_rate : vst_->r_frame_rate;
    const int64_t step = rate.num > 0 ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), vst_->time_base)) : 1;
    if (!scan_.empty())
        return scan_.back().dts + std::max(step, scan_.back().duration);
    const int delay = std::max(vst_->codecpar->video_delay, in_.video_dec ? in_.video_dec->has_b_frames : 0);
    return pts - delay * step;
}

bool ExactCutter::Scan()
{
    AVFormatContext* fmt = in_.format.get();
    if (av_seek_frame(fmt, vst_->index, seek_target_, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    PacketPtr pkt = MakePacket();
    int past_end = -1;
    int rc;
    while ((rc = av_read_frame(fmt, pkt.get())) >= 0) {
        if (Cancelled())
            return false;
        if (pkt->stream_index == vst_->index && (!scan_.empty() || (pkt->flags & AV_PKT_FLAG_KEY))) {
            PacketFacts s;
            s.pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            s.dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : DerivedDts(s.pts);
            s.duration = pkt->duration;
            s.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            s.clean = IsCleanStart(codec_, length_size_, pkt.get());
            s.size = pkt->size;
            if (s.pts == AV_NOPTS_VALUE)
                return false;
            scan_.push_back(s);
            if (past_end < 0 && s.key && s.pts >= plan_.end)
                past_end = 0;
            else if (past_end >= 0)
                ++past_end;
        }
        av_packet_unref(pkt.get());
        if (past_end >= kPacketsPastEnd)
            break;
    }
    reached_eof_ = rc == AVERROR_EOF;
    return (rc >= 0 || rc == AVERROR_EOF) && !scan_.empty();
}

bool ExactCutter::OpenOutput()
{
    const char* path = job_->output_paths[input_];
    const AVOutputFormat* format = DirectOutputFormat(in_.format.get(), path);
    AVFormatContext* ctx = format ? NewJobMuxer(job_, format, path) : nullptr;
    if (!ctx)
        return false;
    out_.reset(ctx);
    ctx->max_interleave_delta = 0;  // the re-encoded head is written late: wait for it
    trims_sound_ = IsMp4Family(ctx->oformat);  // its track timing can hide a sound lead-in
    // The streams and the container's facts travel as in any direct copy.
    out_video_ = AddCopiedStream(ctx, vst_);
    if (!out_video_ || (ast_ && !(out_audio_ = AddCopiedStream(ctx, ast_))))
        return false;
    CopyContainerFacts(ctx, in_.format.get());
    if (ast_)
        sounds_.push_back({ast_, out_audio_});
    extra_in_ = CopiableExtraTracks(job_, input_, in_.format.get(), ctx->oformat);
    for (const int i : extra_in_) {
        extra_out_.push_back(AddExtraStream(ctx, in_.format->streams[i]));
        if (!extra_out_.back())
            return false;
        if (in_.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            sounds_.push_back({in_.format->streams[i], extra_out_.back()});
    }
    // The spans are known exactly, so the chapters can go with the header.
    if (!PutChapters(ctx, SeriesChapters()) || !OpenEncoders())
        return false;
    if (series_) {
        // Later spans may re-encode a part the first does not: its sets go
        // into the record now, and every span's encoder must match them.
        for (const PlannedSpan& span : spans_) {
            const int counts[2] = {span.plan.head_count, span.plan.tail_count};
            for (int p = 0; p < 2; ++p)
                if (span.planned && counts[p] > 0 && part_sets_[p].empty() && !OpenPartEncoder(p))
                    return false;
        }
    }
    if (!PutParameterSetRecord())
        return false;
    if (!WriteHeaderInto(ctx, file_.get()))  // the job's own file
        return false;
    header_written_ = true;
    WriteAttachedPictures(ctx, in_.format.get(), extra_in_, extra_out_);
    return true;
}

// An encoder for the head (0) or the tail (1) of a span, of the source's
// kind. In H.264 its SPS/PPS go under ids of their own into the output's one
// record: every decoder has them from the start, the packets stay as they were.
CodecContextPtr ExactCutter::OpenPartEncoder(int part)
{
    FramePtr shape = MakeFrame();
    shape->format = vst_->codecpar->format;
    shape->interlaced_frame = 0;
    MatchingEncoderSetup setup;
    setup.source = vst_;
    setup.first_frame = shape.get();
    setup.source_bit_rate = bit_rate_;
    setup.global_header = codec_ == CutCodec::H264;
    setup.parameter_set_id = ids_[part];
    CodecContextPtr enc = OpenMatchingEncoder(setup);
    if (enc && codec_ == CutCodec::H264 && !RecordPartSets(part, enc.get()))
        return nullptr;
    return enc;
}

// The first encoder of a part names its sets in the record; every later one
// (the spans of a series) must write the same, or its pictures would decode
// against another's.
bool ExactCutter::RecordPartSets(int part, const AVCodecContext* enc)
{
    std::vector<Bytes> sets;
    for (const CodedUnit& u : SplitStartCodeUnits(enc->extradata, static_cast<size_t>(enc->extradata_size)))
        if (H264UnitType(u) == kH264Sps || H264UnitType(u) == kH264Pps)
            sets.emplace_back(u.data, u.data + u.size);
    if (part_sets_[part].empty()) {
        part_sets_[part] = std::move(sets);
        return !part_sets_[part].empty();
    }
    return sets == part_sets_[part];
}

bool ExactCutter::PutParameterSetRecord()
{
    if (codec_ != CutCodec::H264)
        return true;
    AvcConfig config = config_;
    for (const std::vector<Bytes>& sets : part_sets_)
        for (const Bytes& u : sets)
            (H264UnitType(CodedUnit{u.data(), u.size()}) == kH264Sps ? config.sps : config.pps).push_back(u);
    const Bytes record = WriteAvcConfig(config);
    AVCodecParameters* par = out_video_->codecpar;
    av_freep(&par->extradata);
    par->extradata = static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    std::memcpy(par->extradata, record.data(), record.size());
    par->extradata_size = static_cast<int>(record.size());
    return true;
}

bool ExactCutter::OpenEncoders()
{
    ReencodedPart* parts[2] = {&head_, &tail_};
    const int counts[2] = {plan_.head_count, plan_.tail_count};
    for (int p = 0; p < 2; ++p) {
        if (counts[p] > 0 && !(parts[p]->enc = OpenPartEncoder(p)))
            return false;
    }
    head_.from = plan_.start;
    head_.to = plan_.HasCopy() ? plan_.copy_min : plan_.end;
    tail_.from = plan_.copy_max + 1;
    tail_.to = plan_.end;
    return true;
}

void ExactCutter::Progress()
{
    const int total = (plan_.head_count + plan_.tail_count) * kEncodeWeight + plan_.copy_count;
    const int done = (head_.encoded + tail_.encoded) * kEncodeWeight + copied_;
    job_->progress_percent = total > 0 ? std::min(100, done * 100 / total) : 100;
    NotifyProgressObserver(job_);
}

bool AppendToPacket(AVPacket* pkt, const Bytes& extra)
{
    const int old_size = pkt->size;
    if (av_grow_packet(pkt, static_cast<int>(extra.size())) < 0)
        return false;
    std::memcpy(pkt->data + old_size, extra.data(), extra.size());
    return true;
}

// The re-encoded head carried its own HEVC parameter sets under the same ids
// as the source's: the first copied packet brings the source's back, in
// front of its own units, which stay as they were.
bool ExactCutter::PrependSourceParameterSets(AVPacket* pkt)
{
    Bytes data;
    for (const Bytes& u : source_units_) {
        const int type = u.empty() ? -1 : (u[0] >> 1) & 0x3f;
        if (type >= kHevcVps && type <= kHevcVps + 2)
            AppendLengthUnit(data, u.data(), u.size(), length_size_);
    }
    data.insert(data.end(), pkt->data, pkt->data + pkt->size);
    PacketPtr joined = MakePacket();
    if (!joined || av_new_packet(joined.get(), static_cast<int>(data.size())) < 0 ||
        av_packet_copy_props(joined.get(), pkt) < 0)
        return false;
    std::memcpy(joined->data, data.data(), data.size());
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, joined.get());
    return true;
}

bool ExactCutter::WriteVideo(AVPacket* pkt)
{
    if (pkt->dts <= last_video_dts_)
        return false;  // a fault of the plan: decoding order would break
    last_video_dts_ = pkt->dts;
    pkt->stream_index = out_video_->index;
    pkt->pos = -1;
    av_packet_rescale_ts(pkt, vst_->time_base, out_video_->time_base);
    ++video_written_;
    if (!series_ || codec_ != CutCodec::Hevc)
        return av_interleaved_write_frame(out_.get(), pkt) >= 0;
    PacketPtr previous = std::move(pending_video_);
    pending_video_ = MakePacket();
    if (!pending_video_)
        return false;
    av_packet_move_ref(pending_video_.get(), pkt);
    return !previous || av_interleaved_write_frame(out_.get(), previous.get()) >= 0;
}

// Ends the HEVC coded sequence with this packet (once).
bool AppendEndOfSequence(AVPacket* pkt, int length_size)
{
    const uint8_t end_of_sequence[] = {kHevcEndOfSequence << 1, 1};
    Bytes extra;
    AppendLengthUnit(extra, end_of_sequence, sizeof end_of_sequence, length_size);
    const size_t n = extra.size();
    if (static_cast<size_t>(pkt->size) >= n && std::memcmp(pkt->data + pkt->size - n, extra.data(), n) == 0)
        return true;
    return AppendToPacket(pkt, extra);
}

// The last picture of a span ends its coded sequence, so that the next
// span's first key picture starts afresh in every decoder.
bool ExactCutter::WritePendingVideo(bool end_sequence)
{
    if (!pending_video_)
        return true;
    PacketPtr pkt = std::move(pending_video_);
    if (end_sequence && !AppendEndOfSequence(pkt.get(), length_size_))
        return false;
    return av_interleaved_write_frame(out_.get(), pkt.get()) >= 0;
}

bool ExactCutter::WriteCopied(AVPacket* pkt)
{
    if (copied_ == 0 && codec_ == CutCodec::Hevc && source_sets_replaced_ && !PrependSourceParameterSets(pkt))
        return false;
    source_sets_replaced_ = false;
    pkt->pts -= Shift();
    pkt->dts -= Shift();
    if (pkt->duration <= 0)
        pkt->duration = plan_.frame_duration;
    ++copied_;
    return WriteVideo(pkt);
}

// The head's last packet also ends its coded sequence (HEVC), so the copied
// key picture after it starts afresh in every decoder.
bool ExactCutter::WriteHeld(bool last_of_head)
{
    if (!held_)
        return true;
    PacketPtr pkt = std::move(held_);
    if (last_of_head && codec_ == CutCodec::Hevc && !AppendEndOfSequence(pkt.get(), length_size_))
        return false;
    return WriteVideo(pkt.get());
}

bool ExactCutter::WriteEncoded(ReencodedPart& part, AVPacket* pkt)
{
    av_packet_rescale_ts(pkt, part.enc->time_base, vst_->time_base);
    if (pkt->duration <= 0)
        pkt->duration = plan_.frame_duration;
    if (codec_ != CutCodec::Mpeg4) {
        const Bytes data = StartCodesToLengths(pkt->data, static_cast<size_t>(pkt->size), length_size_);
        PacketPtr rewritten = MakePacket();
        if (!rewritten || av_new_packet(rewritten.get(), static_cast<int>(data.size())) < 0 ||
            av_packet_copy_props(rewritten.get(), pkt) < 0)
            return false;
        std::memcpy(rewritten->data, data.data(), data.size());
        av_packet_unref(pkt);
        av_packet_move_ref(pkt, rewritten.get());
    }
    pkt->pts -= Shift();
    pkt->dts -= Shift();
    source_sets_replaced_ = true;
    if (&part == &head_) {
        pkt->dts -= plan_.head_dts_shift;
        if (!WriteHeld(false))
            return false;
        held_ = MakePacket();
        if (!held_)
            return false;
        av_packet_move_ref(held_.get(), pkt);
        return true;
    }
    return WriteVideo(pkt);
}

bool ExactCutter::DrainEncoder(ReencodedPart& part)
{
    PacketPtr pkt = MakePacket();
    int rc;
    while ((rc = avcodec_receive_packet(part.enc.get(), pkt.get())) >= 0) {
        if (!WriteEncoded(part, pkt.get()))
            return false;
        av_packet_unref(pkt.get());
    }
    return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF;
}

bool ExactCutter::EncodeFrame(ReencodedPart& part, AVFrame* frame)
{
    frame->pts = av_rescale_q(frame->pts, vst_->time_base, part.enc->time_base);
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(part.enc.get(), frame) < 0)
        return false;
    ++part.encoded;
    Progress();
    return DrainEncoder(part);
}

// Feeds one packet (null: the end) to a part's decoder and encodes the
// pictures that fall inside the part.
bool ExactCutter::FeedPart(ReencodedPart& part, const AVPacket* pkt)
{
    if (!part.dec) {
        part.dec = OpenStreamDecoder(vst_, 2);
        if (!part.dec)
            return false;
    }
    // A picture before the part that no other refers to is never encoded:
    // it need not be decoded either.
    part.dec->skip_frame = pkt && pkt->pts != AV_NOPTS_VALUE && pkt->pts < part.from ? AVDISCARD_NONREF
                                                                                    : AVDISCARD_DEFAULT;
    if (avcodec_send_packet(part.dec.get(), pkt) < 0 && pkt)
        return true;  // a damaged packet: the picture counts below tell
    FramePtr frame = MakeFrame();
    int rc;
    while ((rc = avcodec_receive_frame(part.dec.get(), frame.get())) >= 0) {
        frame->pts = frame->best_effort_timestamp;
        if (frame->pts >= part.from && frame->pts < part.to && !EncodeFrame(part, frame.get()))
            return false;
        av_frame_unref(frame.get());
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
        return false;
    if (!pkt) {
        if (avcodec_send_frame(part.enc.get(), nullptr) < 0 || !DrainEncoder(part))
            return false;
        part.flushed = true;
    }
    return true;
}

bool ExactCutter::FinishHead()
{
    head_done_ = true;
    if (plan_.head_count > 0) {
        if (!FeedPart(head_, nullptr) || !WriteHeld(true))
            return false;
        if (head_.encoded != plan_.head_count)
            return false;  // the source did not decode as its index promised
    }
    while (!waiting_copies_.empty()) {
        PacketPtr pkt = std::move(waiting_copies_.front());
        waiting_copies_.pop_front();
        if (!WriteCopied(pkt.get()))
            return false;
    }
    return true;
}

bool ExactCutter::VideoPacket(AVPacket* pkt, int index)
{
    const PacketFacts& s = scan_[index];
    const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (pts != s.pts)
        return false;  // the file reads differently the second time
    if (pkt->dts == AV_NOPTS_VALUE)
        pkt->dts = s.dts;
    if (!head_done_ && plan_.head_count > 0 && index <= plan_.head_feed_end && !FeedPart(head_, pkt))
        return false;
    if (plan_.tail_count > 0 && index >= plan_.tail_from && !FeedPart(tail_, pkt))
        return false;
    if (plan_.HasCopy() && index >= plan_.copy_begin && index < plan_.copy_end && !plan_.dropped[index]) {
        PacketPtr copy = MakePacket();
        if (!copy || av_packet_ref(copy.get(), pkt) < 0)
            return false;
        if (head_done_) {
            if (!WriteCopied(copy.get()))
                return false;
        } else {
            waiting_copies_.push_back(std::move(copy));
        }
    }
    if (!head_done_ && index >= plan_.head_feed_end && !FinishHead())
        return false;
    Progress();
    return true;
}

bool ExactCutter::AudioPacket(AVPacket* pkt, SpanSound& sound)
{
    if (pkt->pts == AV_NOPTS_VALUE)
        return true;
    const AVStream* st = sound.in;
    sound.done = pkt->pts >= sound.to;
    if (pkt->duration <= 0 && st->codecpar->frame_size > 0 && st->codecpar->sample_rate > 0)
        pkt->duration = av_rescale_q(st->codecpar->frame_size, AVRational{1, st->codecpar->sample_rate},
                                     st->time_base);
    if (!SoundInSpan(pkt, sound))
        return true;
    const int64_t shift = av_rescale_q(Shift(), vst_->time_base, st->time_base);
    pkt->pts -= shift;
    pkt->dts = (pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts + shift) - shift;
    if (series_ && !MeetSoundBefore(pkt, sound))
        return true;
    sound.end = pkt->pts + pkt->duration;
    pkt->stream_index = sound.out->index;
    pkt->pos = -1;
    av_packet_rescale_ts(pkt, st->time_base, sound.out->time_base);
    av_interleaved_write_frame(out_.get(), pkt);  // a lost sound packet does not fail the cut
    return true;
}

ExactCutter::SpanSound* ExactCutter::SoundOf(int stream_index)
{
    for (SpanSound& sound : sounds_)
        if (sound.in->index == stream_index)
            return &sound;
    return nullptr;
}

// Every sound track takes the span of the picture, on its own clock.
void ExactCutter::StartSpanSounds()
{
    for (SpanSound& sound : sounds_) {
        sound.from = av_rescale_q(plan_.origin_pts, vst_->time_base, sound.in->time_base);
        sound.to = av_rescale_q(plan_.end_pts, vst_->time_base, sound.in->time_base);
        sound.done = false;
    }
}

// Every sound track has reached the span's end; another one than the main
// sound may end early in the file: a while past the main one's end it is let be.
bool ExactCutter::SpanSoundsRead(int past_main_sound) const
{
    constexpr int kMaxPacketsPastMainSound = 256;
    return std::all_of(sounds_.begin(), sounds_.end(), [&](const SpanSound& s) {
        return s.done || (s.in != ast_ && past_main_sound > kMaxPacketsPastMainSound);
    });
}

// Where the container can hide its start, the packet that covers the first
// picture leads in; elsewhere the sound starts at the first packet inside the
// picture, within one packet of it. Inside a series the spans meet as a
// join's inputs do: a packet more than half outside its span stays out.
bool ExactCutter::SoundInSpan(const AVPacket* pkt, const SpanSound& sound) const
{
    const bool first = spans_written_ == 0;
    const bool last = !series_ || loaded_ == static_cast<int>(spans_.size()) - 1;
    const int64_t half = pkt->duration / 2;
    const bool starts_in_time = first ? (trims_sound_ ? pkt->pts + pkt->duration > sound.from : pkt->pts >= sound.from)
                                      : pkt->pts + half >= sound.from;
    const bool ends_in_time = last ? pkt->pts < sound.to : pkt->pts + half < sound.to;
    return starts_in_time && ends_in_time;
}

// The span's first sound packet follows the sound already written: less
// than half a packet apart, it is moved to touch it, and the rest of the
// span's sound with it; the picture's seam stays within half a packet.
bool ExactCutter::MeetSoundBefore(AVPacket* pkt, SpanSound& sound)
{
    if (!sound.placed) {
        if (sound.end != INT64_MIN) {
            const int64_t apart = sound.end - pkt->pts;
            if (2 * apart > pkt->duration)
                return false;  // more than half of it is written already
            sound.fix = 2 * -apart <= pkt->duration ? apart : 0;  // a wider gap is the source's
        }
        sound.placed = true;
    }
    pkt->pts += sound.fix;
    pkt->dts += sound.fix;
    return sound.end == INT64_MIN || pkt->dts > sound.end - pkt->duration;
}

// Moved with the picture: what lies in the span, from its first picture on.
void ExactCutter::ExtraPacket(AVPacket* pkt, size_t k)
{
    const AVStream* st = in_.format->streams[extra_in_[k]];
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return;
    const int64_t from = ToMicroseconds(plan_.first_pts, vst_->time_base);
    const int64_t to = ToMicroseconds(plan_.end_pts, vst_->time_base);
    const int64_t offset = ToMicroseconds(offset_, vst_->time_base);
    if (!PlaceExtraPacket(pkt, st, extra_out_[k]->time_base, from, to, offset))
        return;
    pkt->stream_index = extra_out_[k]->index;
    pkt->pos = -1;
    av_interleaved_write_frame(out_.get(), pkt);  // a lost packet of an extra track does not fail the cut
}

// The cues on screen at the span's first picture began before the reading
// of the span does.
LeadCues ExactCutter::WriteLeadCues()
{
    std::vector<int> cues;
    for (const int i : extra_in_)
        if (in_.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
            cues.push_back(i);
    LeadCues lead = ReadLeadCues(in_.format.get(), cues, ToMicroseconds(plan_.first_pts, vst_->time_base));
    for (PacketPtr& p : lead.packets) {
        const auto k = std::find(extra_in_.begin(), extra_in_.end(), p->stream_index);
        ExtraPacket(p.get(), static_cast<size_t>(k - extra_in_.begin()));
    }
    lead.packets.clear();
    return lead;
}

bool ExactCutter::Process()
{
    AVFormatContext* fmt = in_.format.get();
    // From the sound before the first picture where the span keeps it.
    const bool sound_first = ast_ && plan_.origin_pts < seek_target_;
    const int seek_stream = sound_first ? ast_->index : vst_->index;
    const int64_t seek_to = sound_first ? av_rescale_q(plan_.origin_pts, vst_->time_base, ast_->time_base) : seek_target_;
    if (av_seek_frame(fmt, seek_stream, seek_to, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    StartSpanSounds();
    const LeadCues lead = WriteLeadCues();
    const int n = static_cast<int>(scan_.size());
    PacketPtr pkt = MakePacket();
    int index = 0;
    int rc = 0;
    int past_main_sound = 0;  // packets read since the main sound reached the span's end
    while ((index < n || !SpanSoundsRead(past_main_sound)) && (rc = av_read_frame(fmt, pkt.get())) >= 0) {
        if (Cancelled())
            break;
        past_main_sound += !sounds_.empty() && sounds_[0].done;
        bool ok = true;
        SpanSound* sound = SoundOf(pkt->stream_index);
        if (pkt->stream_index == vst_->index) {
            if (index < n && (index > 0 || (pkt->flags & AV_PKT_FLAG_KEY)))
                ok = VideoPacket(pkt.get(), index++);
        } else if (sound) {
            ok = AudioPacket(pkt.get(), *sound);
        } else {
            const auto k = std::find(extra_in_.begin(), extra_in_.end(), pkt->stream_index);
            if (k != extra_in_.end() && !lead.Repeats(pkt.get()))
                ExtraPacket(pkt.get(), static_cast<size_t>(k - extra_in_.begin()));
        }
        av_packet_unref(pkt.get());
        if (!ok)
            return false;
    }
    if (Cancelled())
        return true;
    if (index < n)
        return false;
    if (!head_done_ && !FinishHead())
        return false;
    if (plan_.tail_count > 0 && (!FeedPart(tail_, nullptr) || tail_.encoded != plan_.tail_count))
        return false;
    return true;
}

// Closes the job's file, or deletes it when it holds nothing playable.
bool ExactCutter::FinishFile(bool keep)
{
    FailureReason why = FailureReason::None;
    if (!file_)
        return false;
    if (FinishJobFile(job_, file_.get(), keep, &why))
        return true;
    if (why != FailureReason::None)
        reason_ = why;
    return false;
}

// A span that starts before the file's first picture keeps the sound
// before it: the output's zero is then the span's start or the sound's,
// whichever is later, and the picture begins late as it does in the file.
void ExactCutter::KeepSoundBeforeFirstPicture()
{
    if (!ast_ || ast_->start_time == AV_NOPTS_VALUE || vst_->start_time == AV_NOPTS_VALUE)
        return;
    if (plan_.first_pts > vst_->start_time + plan_.frame_duration)
        return;  // the span's first picture is not the file's first
    const int64_t sound = av_rescale_q(ast_->start_time, ast_->time_base, vst_->time_base);
    plan_.origin_pts = std::min(plan_.first_pts, std::max(plan_.start, sound));
}

// Reads the span's pictures up to the first key picture at its end, or
// until one inside it can start a copy.
bool ExactCutter::ReencodesWholeSpan()
{
    if (!OpenSource() || !SeekBeforeStart())
        return false;  // the cut itself reports what is wrong
    AVFormatContext* fmt = in_.format.get();
    PacketPtr pkt = MakePacket();
    if (!pkt || av_seek_frame(fmt, vst_->index, seek_target_, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    while (av_read_frame(fmt, pkt.get()) >= 0) {
        const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        const bool key = pkt->stream_index == vst_->index && (pkt->flags & AV_PKT_FLAG_KEY) && pts != AV_NOPTS_VALUE;
        const bool copy_starts = key && pts >= plan_.start && pts < plan_.end &&
                                 IsCleanStart(codec_, length_size_, pkt.get());
        av_packet_unref(pkt.get());
        if (copy_starts)
            return false;
        if (key && pts >= plan_.end)
            break;
    }
    return true;
}

// Scans and plans the span of input_ into plan_ and scan_.
bool ExactCutter::PlanSpan()
{
    reason_ = FailureReason::NothingInSpan;
    if (!SeekBeforeStart() || !Scan() || !MakeCutPlan(scan_, reached_eof_, codec_, &plan_))
        return false;
    KeepSoundBeforeFirstPicture();
    return true;
}

bool ExactCutter::Run()
{
    job_->progress_percent = 0;
    if (!OpenSource())
        return FinishFile(false);
    if (!PlanSpan())
        return FinishFile(false);
    bit_rate_ = MeasuredBitRate(scan_, vst_->time_base);
    if (bit_rate_ <= 0)
        bit_rate_ = vst_->codecpar->bit_rate;
    reason_ = FailureReason::NotAccepted;
    bool ok = OpenOutput() && Process();
    // A stopped cut keeps what it wrote, as a stopped direct cut does.
    const bool wrote = copied_ + head_.encoded + tail_.encoded > 0;
    bool keep = header_written_ && wrote && (ok || Cancelled());
    if (keep && av_write_trailer(out_.get()) < 0)
        ok = keep = false;
    out_.reset();  // the writer is the file's
    ok = FinishFile(keep) && ok;
    if (ok)
        job_->progress_percent = 100;
    return ok || (Cancelled() && keep);
}


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
        first_dts = plan_.first_pts - plan_.head_dts_shift;
    if (plan_.HasCopy())
        first_dts = std::min(first_dts, scan_[plan_.copy_begin].dts);
    const int64_t needed = last_video_dts_ + 1 - (first_dts - plan_.origin_pts);
    return std::max(span_end_out_, needed);
}

// Every span's chapters, each span after the one before.
std::vector<ChapterCopy> ExactCutter::SeriesChapters() const
{
    std::vector<ChapterCopy> chapters;
    const auto collect = [&](const CutPlan& plan, int64_t offset) {
        const auto us = [&](int64_t ts) { return ToMicroseconds(ts, vst_->time_base); };
        CollectChapters(&chapters, in_.format.get(), us(plan.first_pts), us(plan.end_pts), us(offset));
    };
    if (!series_) {
        collect(plan_, 0);
        return chapters;
    }
    // Before the header the spans' places are foreseen; at the end they are
    // where they were written.
    const bool written = spans_written_ > 0;
    int64_t offset = 0;
    for (size_t k = 0; k < spans_.size(); ++k) {
        const CutPlan& plan = static_cast<int>(k) == loaded_ ? plan_ : spans_[k].plan;
        if (!spans_[k].planned || (written && spans_[k].written_offset == INT64_MIN))
            continue;
        collect(plan, written ? spans_[k].written_offset : offset);
        offset += plan.end_pts - plan.origin_pts;
    }
    return chapters;
}

// Opens the file, scans and plans every span, and opens the output with the
// first span that holds pictures. A span that holds none fails alone.
bool ExactCutter::StartSeries()
{
    series_ = true;
    const int n = std::min(job_->input_count, kMaxJobInputs);
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
    job_->progress_percent = 0;
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
        job_->progress_percent = 100;
    return true;  // a stop keeps what was written: the worker tells it apart
}

// Keeps the file when a span is done (or the job was stopped with something
// written); says why it is no result otherwise, None when every span has its
// own reason already.
FailureReason ExactCutter::FinishSeries()
{
    bool any_done = false;
    for (int i = 0; i < static_cast<int>(spans_.size()); ++i)
        any_done = any_done || job_->input_status[i] == kInputDone;
    const bool wanted = any_done || Cancelled();
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

}  // namespace

bool ExactCutPossible(const MediaInput& in, const char* path, std::string* why)
{
    if (!in.format || !in.VideoStream()) {
        *why = "the file has no picture to cut";
        return false;
    }
    CutCodec codec;
    return ClassifySource(in.format.get(), in.VideoStream(), path, &codec, why);
}

bool ExactCutPossible(const char* path, std::string* why)
{
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;  // the check looks at the picture alone
    OpenMediaInput(path, in, options);
    return ExactCutPossible(in, path, why);
}

bool ExactCutApplies(const ConversionJob* job, int input)
{
    if (!job->exact_cut || job->join_mode || job->reencode)
        return false;
    // The launch looked at the file; only a file changed since is looked at again.
    if (const InputFacts* facts = LaunchFactsOf(job, input))
        return facts->exact_cut_possible;
    std::string why;
    return ExactCutPossible(job->input_paths[input], &why);
}

bool ExactCutReencodesWholeSpan(ConversionJob* job, int input)
{
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;
    options.interrupt = CancelCallback(job);
    if (OpenJobInput(job, input, options, in) != kProbeOk)
        return false;  // the cut itself reports what is wrong
    ExactCutter cutter(job, input, std::move(in), nullptr);
    const bool whole = cutter.ReencodesWholeSpan();
    // The cut seeks to its span before reading: it goes on with this file.
    HoldJobInput(job, input, cutter.TakeInput());
    return whole;
}

bool RunExactCut(ConversionJob* job, int input, MediaInput in, std::unique_ptr<OutputFile> file,
                 FailureReason* why)
{
    ExactCutter cutter(job, input, std::move(in), std::move(file));
    const bool ok = cutter.Run();
    *why = cutter.reason();
    return ok;
}

struct ExactSeries {
    ExactSeries(ConversionJob* job, MediaInput in, std::unique_ptr<OutputFile> file)
        : cutter(job, 0, std::move(in), std::move(file))
    {
    }
    ExactCutter cutter;
};

void ExactSeriesDeleter::operator()(ExactSeries* series) const { delete series; }

ExactSeriesPtr StartExactSeries(ConversionJob* job, MediaInput in, std::unique_ptr<OutputFile> file)
{
    ExactSeriesPtr series(new ExactSeries(job, std::move(in), std::move(file)));
    series->cutter.StartSeries();  // what failed, each span's cut says
    return series;
}

bool CutExactSpan(ExactSeries* series, int input, FailureReason* why)
{
    return series->cutter.CutSpan(input, why);
}

FailureReason FinishExactSeries(ExactSeries* series) { return series->cutter.FinishSeries(); }
