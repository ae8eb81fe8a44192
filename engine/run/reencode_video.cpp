// SPDX-License-Identifier: GPL-3.0-or-later
// The picture path of re-encoding: the video encoder, the thread that
// scales and encodes, and the placing of decoded pictures in output slots.
#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "container_rules.h"
#include "media_time.h"
#include "reencode_state.h"
#include "scaling.h"

namespace {

// A timestamp jump longer than this (a broken stream) is left as a gap
// instead of being filled with copies of one picture.
constexpr int kMaxRepeatSeconds = 10;
// MPEG-4 part 2 stores the time base denominator in 16 bits.
constexpr int kMpeg4MaxTimeBaseDen = 65535;
// MPEG-4 part 2 and H.263 store each term of the pixel aspect in 8 bits.
constexpr int kMaxAspectTerm = 255;

struct FpsTimeBase {
    double fps;
    AVRational time_base;
};
const FpsTimeBase kFpsTimeBases[] = {
    {8, {1001, 8008}},    {10, {1001, 10010}},   {12, {1001, 12012}}, {14.985, {1001, 15000}},
    {15, {1001, 15015}},  {18, {1, 18}},         {20, {1001, 20020}}, {23.975, {1001, 24000}},
    {24, {1001, 24024}},  {25, {1001, 25025}},   {29.97, {1001, 30000}}, {30, {1001, 30030}},
    {50, {1, 50}},        {60, {1, 60}},
};

bool IsVideoEncoderOffered(int id)
{
    return id == AV_CODEC_ID_MPEG4 || id == AV_CODEC_ID_FLV1 || id == AV_CODEC_ID_WMV2 ||
           id == AV_CODEC_ID_H264;
}

// One frame of the target rate: from the chosen rate's table entry, or the
// input's base rate when the source's rate is kept.
AVRational VideoTimeBase(double* target_fps, const AVStream* in_st, int codec_id)
{
    AVRational tb{in_st->r_frame_rate.den, in_st->r_frame_rate.num};
    if (tb.num <= 0 || tb.den <= 0) {
        const AVRational avg = in_st->avg_frame_rate;
        tb = (avg.num > 0 && avg.den > 0) ? AVRational{avg.den, avg.num} : AVRational{1, 25};
    }
    if (*target_fps == 0) {
        *target_fps = static_cast<double>(tb.den / tb.num);
        if (codec_id == AV_CODEC_ID_MPEG4) {
            if (tb.num == 32768 && tb.den == 982057)
                tb = {100, 2997};
            else if (tb.num == 32768 && tb.den == 785645)
                tb = {1001, 24000};
        }
    }
    for (const FpsTimeBase& entry : kFpsTimeBases) {
        if (*target_fps == entry.fps)
            tb = entry.time_base;
    }
    if (codec_id == AV_CODEC_ID_MPEG4 && tb.den > kMpeg4MaxTimeBaseDen)
        av_reduce(&tb.num, &tb.den, tb.num, tb.den, kMpeg4MaxTimeBaseDen);
    return tb;
}

void ApplyH264Settings(AVCodecContext* enc)
{
    enc->me_range = 16;
    enc->max_qdiff = 4;
    enc->qmin = 10;
    enc->qmax = 51;
    enc->qcompress = 0.6f;
    enc->keyint_min = 25;
}

// Clockwise quarter turns a player gives the stored picture (phone clips
// store it sideways with a display matrix).
int QuarterTurns(const AVStream* st)
{
    const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    const double clockwise = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(clockwise))
        return 0;
    const long turns = std::lround(clockwise / 90.0) % 4;
    return static_cast<int>(turns < 0 ? turns + 4 : turns);
}

// The pixel aspect that shows a picture stretched to out_w*out_h with the
// source's display aspect (after turning it upright).
AVRational OutputSampleAspect(AVFormatContext* fmt, AVStream* st, const AVCodecContext* dec, int turns,
                              int out_w, int out_h)
{
    AVRational sar = av_guess_sample_aspect_ratio(fmt, st, nullptr);
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    if (dec->width <= 0 || dec->height <= 0)
        return AVRational{1, 1};
    AVRational display = av_mul_q(AVRational{dec->width, dec->height}, sar);
    if (turns % 2)
        display = av_inv_q(display);
    AVRational out = av_mul_q(display, AVRational{out_h, out_w});
    av_reduce(&out.num, &out.den, out.num, out.den, kMaxAspectTerm);
    return out;
}

// Where a picture of src_w*src_h pixels of aspect `sar`, turned by `turns`,
// goes in the output so that it keeps its shape: the largest rectangle of
// that shape inside out_w*out_h pixels of aspect `out_sar`, centred, on even
// positions and sizes (4:2:0 chroma). A rectangle within two pixels of the
// whole picture is the whole picture.
struct Placement {
    int x = 0, y = 0, w = 0, h = 0;
};

Placement FitInside(int src_w, int src_h, AVRational sar, int turns, int out_w, int out_h, AVRational out_sar)
{
    Placement whole{0, 0, out_w, out_h};
    if (src_w <= 0 || src_h <= 0 || sar.num <= 0 || sar.den <= 0 || out_sar.num <= 0 || out_sar.den <= 0)
        return whole;
    double shape = src_w * av_q2d(sar) / src_h;  // shown width over height
    if (turns % 2)
        shape = 1.0 / shape;
    const double out_shape = out_w * av_q2d(out_sar) / out_h;
    Placement p = whole;
    if (shape > out_shape)
        p.h = static_cast<int>(std::lround(out_w * av_q2d(out_sar) / shape / 2.0)) * 2;
    else
        p.w = static_cast<int>(std::lround(out_h * shape / av_q2d(out_sar) / 2.0)) * 2;
    if (p.w < 2 || p.h < 2 || (out_w - p.w <= 2 && out_h - p.h <= 2))
        return whole;
    p.x = (out_w - p.w) / 4 * 2;
    p.y = (out_h - p.h) / 4 * 2;
    return p;
}

bool FillBlack(AVFrame* f)
{
    ptrdiff_t lines[4] = {};
    for (int i = 0; i < 4; ++i)
        lines[i] = f->linesize[i];
    return av_image_fill_black(f->data, lines, AVPixelFormat(f->format), AVCOL_RANGE_MPEG, f->width, f->height) >= 0;
}

// Copies the planes of `src` into `dst` at (x, y); 8-bit planar formats,
// even positions.
void PlacePlanes(const AVFrame* src, AVFrame* dst, int x, int y)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(src->format));
    for (int p = 0; p < desc->nb_components && p < 3; ++p) {
        const int cw = p ? desc->log2_chroma_w : 0, ch = p ? desc->log2_chroma_h : 0;
        const int w = AV_CEIL_RSHIFT(src->width, cw), h = AV_CEIL_RSHIFT(src->height, ch);
        uint8_t* to = dst->data[p] + (y >> ch) * dst->linesize[p] + (x >> cw);
        for (int row = 0; row < h; ++row)
            std::memcpy(to + row * dst->linesize[p], src->data[p] + row * src->linesize[p], w);
    }
}

// Copies the planes of `src` into `dst` turned clockwise; 8-bit planar
// formats, `dst` sized for the turned picture.
void TurnPlanes(const AVFrame* src, AVFrame* dst, int turns)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(src->format));
    for (int p = 0; p < desc->nb_components && p < 3; ++p) {
        const int w = p ? AV_CEIL_RSHIFT(src->width, desc->log2_chroma_w) : src->width;
        const int h = p ? AV_CEIL_RSHIFT(src->height, desc->log2_chroma_h) : src->height;
        const uint8_t* from = src->data[p];
        uint8_t* to = dst->data[p];
        const int from_step = src->linesize[p], to_step = dst->linesize[p];
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int tx = x, ty = y;
                switch (turns) {
                case 1: tx = h - 1 - y; ty = x; break;
                case 2: tx = w - 1 - x; ty = h - 1 - y; break;
                case 3: tx = y; ty = w - 1 - x; break;
                default: break;
                }
                to[ty * to_step + tx] = from[y * from_step + x];
            }
        }
    }
}

}  // namespace

// ---------------------------------------------------------------- encoder thread

PictureEncoder::~PictureEncoder()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        tasks_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool PictureEncoder::Start(AVCodecContext* enc)
{
    enc_ = enc;
    try {
        thread_ = std::thread(&PictureEncoder::Run, this);
    } catch (...) {
        return false;
    }
    return true;
}

bool PictureEncoder::Submit(const AVFrame* frame, int64_t first, int64_t last, int quarter_turns)
{
    if (!thread_.joinable())
        return false;
    Task task;
    task.first = first;
    task.last = last;
    task.quarter_turns = quarter_turns;
    if (frame) {
        // A reference, not a copy: a decoded picture's buffers are counted,
        // and neither the decoder's pool nor a decoder that edits its last
        // picture in place writes to a buffer someone else still holds (the
        // pool hands out only buffers nobody references, in-place decoders
        // copy a shared one first), and freeing the decoder leaves them to
        // their last holder. The copy cost a full-size memcpy per picture.
        task.frame = MakeFrame();
        if (!task.frame || av_frame_ref(task.frame.get(), frame) < 0)
            return false;
        has_picture_ = true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || tasks_.size() < kMaxQueued; });
    if (failed_)
        return false;
    tasks_.push_back(std::move(task));
    changed_.notify_all();
    return true;
}

bool PictureEncoder::Flush(bool drain)
{
    if (!thread_.joinable())
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (drain) {
        changed_.wait(lock, [&] { return failed_ || tasks_.size() < kMaxQueued; });
        Task task;
        task.drain = true;
        tasks_.push_back(std::move(task));
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return failed_ || (tasks_.empty() && !busy_); });
    return !failed_;
}

void PictureEncoder::TakePackets(std::deque<PacketPtr>* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    while (!packets_.empty()) {
        out->push_back(std::move(packets_.front()));
        packets_.pop_front();
    }
}

void PictureEncoder::Run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
            if (stop_)
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
        }
        changed_.notify_all();
        const bool ok = Encode(task);
        task.frame.reset();  // the decoder's picture goes back before the worker hears
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            failed_ = failed_ || !ok;
        }
        changed_.notify_all();
    }
}

bool PictureEncoder::Encode(Task& task)
{
    if (task.drain)
        return Send(nullptr);
    if (task.frame && !Scale(task.frame.get(), task.quarter_turns))
        return false;
    if (!last_)
        return task.last < task.first;
    for (int64_t slot = task.first; slot <= task.last; ++slot) {
        last_->pts = slot;
        if (!Send(last_.get()))
            return false;
    }
    return true;
}

// Into a new picture each time: the encoder may still hold the last one.
// A sideways picture is scaled to the turned size, then turned, which
// gives the same picture as turning first at a fraction of the work.
bool PictureEncoder::Scale(const AVFrame* src, int quarter_turns)
{
    // A join's input of another shape than the output keeps it, between
    // black bars.
    const Placement place = FitInside(src->width, src->height, src->sample_aspect_ratio, quarter_turns,
                                      enc_->width, enc_->height, enc_->sample_aspect_ratio);
    const bool sideways = quarter_turns % 2 != 0;
    const int w = sideways ? place.h : place.w;
    const int h = sideways ? place.w : place.h;
    // Rebuilt whenever the decoded size or pixel format changes mid-stream.
    scaler_.reset(CachedScaler(scaler_.release(), src->width, src->height, AVPixelFormat(src->format), w, h,
                               enc_->pix_fmt, SWS_BICUBIC));
    FramePtr scaled = MakePicture(w, h, enc_->pix_fmt);
    if (!scaler_ || !scaled)
        return false;
    sws_scale(scaler_.get(), src->data, src->linesize, 0, src->height, scaled->data, scaled->linesize);
    if (quarter_turns != 0) {
        FramePtr upright = MakePicture(place.w, place.h, enc_->pix_fmt);
        if (!upright)
            return false;
        TurnPlanes(scaled.get(), upright.get(), quarter_turns);
        scaled = std::move(upright);
    }
    if (place.w != enc_->width || place.h != enc_->height) {
        FramePtr framed = MakePicture(enc_->width, enc_->height, enc_->pix_fmt);
        if (!framed || !FillBlack(framed.get()))
            return false;
        PlacePlanes(scaled.get(), framed.get(), place.x, place.y);
        scaled = std::move(framed);
    }
    scaled->sample_aspect_ratio = enc_->sample_aspect_ratio;
    last_ = std::move(scaled);
    return true;
}

bool PictureEncoder::Send(const AVFrame* frame)
{
    if (avcodec_send_frame(enc_, frame) < 0 && frame)
        return false;
    for (;;) {
        PacketPtr pkt = MakePacket();
        if (!pkt)
            return false;
        const int rc = avcodec_receive_packet(enc_, pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(std::move(pkt));
    }
}

// ---------------------------------------------------------------- set-up

bool Reencoder::State::OpenVideoEncoder(InputRun& run, AVStream* out_st)
{
    const int id = targets.video_codec_id;
    const AVCodec* codec = IsVideoEncoderOffered(id) ? avcodec_find_encoder(AVCodecID(id)) : nullptr;
    if (!codec || targets.width <= 0 || targets.height <= 0)
        return false;
    venc.reset(avcodec_alloc_context3(codec));
    if (!venc)
        return false;
    AVCodecContext* enc = venc.get();
    const AVCodecContext* dec = run.in.video_dec.get();
    AVStream* in_st = run.in.VideoStream();
    enc->bit_rate = targets.video_bit_rate > 0 ? targets.video_bit_rate : 3000000;
    enc->width = targets.width;
    enc->height = targets.height;
    enc->time_base = VideoTimeBase(&targets.fps, in_st, id);
    enc->framerate = av_inv_q(enc->time_base);
    enc->gop_size = dec->gop_size;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    // The chosen size stretches the picture; the pixel aspect makes it play
    // with the source's shape.
    enc->sample_aspect_ratio = OutputSampleAspect(run.in.format.get(), in_st, dec, QuarterTurns(in_st),
                                                  enc->width, enc->height);
    if (NeedsGlobalHeader(out->ctx->oformat))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (id == AV_CODEC_ID_H264) {
        ApplyH264Settings(enc);
        av_opt_set(enc->priv_data, "preset", "superfast", 0);
    }
    AVDictionary* raw = nullptr;
    av_dict_set(&raw, "threads", "2", 0);
    DictionaryPtr options(raw);
    const int rc = avcodec_open2(enc, codec, &raw);
    options.release();
    options.reset(raw);  // open may have replaced the dictionary
    if (rc < 0 || avcodec_parameters_from_context(out_st->codecpar, enc) < 0)
        return false;
    out_st->time_base = enc->time_base;
    out_st->avg_frame_rate = enc->framerate;
    out_st->r_frame_rate = enc->framerate;
    out_st->sample_aspect_ratio = enc->sample_aspect_ratio;
    video_tb = enc->time_base;
    output_sar = enc->sample_aspect_ratio;

    black = MakePicture(enc->width, enc->height, enc->pix_fmt);
    if (!black || !FillBlack(black.get()) || !pictures.Start(enc))
        return false;
    return true;
}

// ---------------------------------------------------------------- placing pictures

void Reencoder::State::BeginVideo(InputRun& run)
{
    const AVStream* st = run.in.VideoStream();
    quarter_turns = st ? QuarterTurns(st) : 0;
    input_sar = st ? av_guess_sample_aspect_ratio(run.in.format.get(), const_cast<AVStream*>(st), nullptr)
                   : AVRational{1, 1};
    if (input_sar.num <= 0 || input_sar.den <= 0)
        input_sar = AVRational{1, 1};
    input_has_picture = false;
    picture_end_slot = -1;
    before_start = MakeFrame();
}

bool Reencoder::State::WriteVideoPackets()
{
    std::deque<PacketPtr> ready;
    pictures.TakePackets(&ready);
    for (PacketPtr& pkt : ready) {
        av_packet_rescale_ts(pkt.get(), video_tb, out->video->time_base);
        if (WriteOutputPacket(*out, pkt.get(), out->video, out->video_clock) < 0)
            return false;
    }
    return true;
}

// Long runs of one picture go as tasks of a second each, so that a cancel
// is heard between them; later tasks repeat the first one's picture.
bool Reencoder::State::SubmitSlots(const AVFrame* frame, int64_t first, int64_t last)
{
    const int64_t per_task = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, video_tb));
    for (int64_t from = first; from <= last; from += per_task) {
        if (from > first && reports.Cancelled())
            return true;
        if (!pictures.Submit(from == first ? frame : nullptr, from, std::min(last, from + per_task - 1),
                             frame == black.get() ? 0 : quarter_turns))
            return false;
    }
    return true;
}

// Puts a picture at its output slot. The previous picture of the input stays
// on screen until then; the first one of an input also covers the slots
// before it (a join's seam). A lower target rate drops pictures.
bool Reencoder::State::PlacePicture(const AVFrame* frame, int64_t slot)
{
    const int64_t max_repeat = kMaxRepeatSeconds * static_cast<int64_t>(video_tb.den) / std::max(video_tb.num, 1);
    if (slot - next_video_pts > max_repeat)
        next_video_pts = slot;
    if (slot < next_video_pts)
        return true;
    const int64_t last = std::min(slot, SpanEndSlot() - 1);
    int64_t first = next_video_pts;
    if (input_has_picture && first < slot) {
        if (!SubmitSlots(nullptr, first, std::min(slot, last + 1) - 1))
            return false;
        first = slot;
    }
    if (first <= last) {
        if (!SubmitSlots(frame, first, last))
            return false;
        input_has_picture = true;
    }
    next_video_pts = std::max(next_video_pts, last + 1);
    return WriteVideoPackets();
}

// The held picture is shown from the output's first slot and the first one
// from the start point on in its own slot, whole slots later: the input's
// clock starts that many slots before it, at most one slot before the start
// point. Sound and the other tracks follow that clock, so they start with the
// picture shown (at 25 fps a start 19 ms after the held picture's time puts
// everything 19 ms earlier, instead of the sound 19 ms before the pictures).
int64_t Reencoder::State::HeldPictureOrigin(int64_t first_us) const
{
    const int64_t slots = av_rescale_q_rnd(first_us - start_us, AV_TIME_BASE_Q, video_tb, AV_ROUND_UP);
    return first_us - av_rescale_q(slots, video_tb, AV_TIME_BASE_Q);
}

// A decoded picture goes to its output slot, relative to the input's origin.
// A cut decodes from the key frame before its start: pictures before the
// start are held back, the last one of them being the picture on screen at
// the start point.
bool Reencoder::State::EmitPicture(InputRun& run, AVFrame* frame)
{
    const AVStream* st = run.in.VideoStream();
    frame->sample_aspect_ratio = input_sar;  // the shape it keeps in the output
    const int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        return true;
    const int64_t us = ToMicroseconds(ts, st->time_base);
    if (origin_us == AV_NOPTS_VALUE) {
        if (start_us != AV_NOPTS_VALUE && us < start_us) {
            av_frame_unref(before_start.get());
            av_frame_ref(before_start.get(), frame);  // without it the next picture starts the cut
            return true;
        }
        const bool held = before_start->buf[0] != nullptr;
        SetOrigin(held ? HeldPictureOrigin(us) : us);
        if (!AlignQueuedSound())
            return false;
        if (held && ToStreamTicks(us - origin_us, video_tb) > 0 &&
            !PlacePicture(before_start.get(), input_video_start))
            return false;
        av_frame_unref(before_start.get());
    }
    const int64_t relative = ToStreamTicks(us - origin_us, video_tb);
    if (relative < 0)
        return true;  // before the input's first picture (reordered leftovers)
    if (span_pictures >= 0 && relative >= span_pictures) {
        video_reached_end = true;
        return true;
    }
    if (!PlacePicture(frame, input_video_start + relative))
        return false;
    // The picture stays until its own end when nothing follows it.
    int64_t duration = frame->pkt_duration;
    if (duration <= 0) {
        const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        duration = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), st->time_base) : 0;
    }
    const int64_t end_us = us + ToMicroseconds(duration, st->time_base);
    picture_end_slot = std::max(picture_end_slot,
                                input_video_start + ToStreamTicks(end_us - origin_us, video_tb));
    return true;
}

bool Reencoder::State::ReceivePictures(InputRun& run)
{
    AVCodecContext* dec = run.in.video_dec.get();
    for (;;) {
        const int rc = avcodec_receive_frame(dec, decoded.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return true;  // a picture that does not decode is skipped
        ++pictures_decoded;
        const bool ok = EmitPicture(run, decoded.get());
        av_frame_unref(decoded.get());
        if (!ok)
            return false;
    }
}

// Fills the slots up to `end_slot` with the last picture, or with black
// when this input has none.
bool Reencoder::State::ExtendPictures(int64_t end_slot)
{
    end_slot = std::min(end_slot, SpanEndSlot());
    if (!venc || end_slot <= next_video_pts)
        return true;
    const AVFrame* picture = input_has_picture ? nullptr : black.get();
    if (!picture && !pictures.HasPicture())
        return true;
    if (!SubmitSlots(picture, next_video_pts, end_slot - 1))
        return false;
    next_video_pts = end_slot;
    return WriteVideoPackets();
}

bool Reencoder::State::FinishVideo()
{
    const bool ok = pictures.Flush(true);
    return WriteVideoPackets() && ok;
}
