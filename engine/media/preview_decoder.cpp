// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview_decoder.h"

#include "media_input.h"
#include "preview.h"
#include "scaling.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Recent pictures kept for stepping back: as many as fit this budget (a
// 320x240 picture takes 230 KB, a full-screen one several MB), within limits.
constexpr size_t kCacheBytes = size_t{48} << 20;
constexpr size_t kMostCachedPictures = 96;
constexpr size_t kFewestCachedPictures = 8;
// After a seek, only this many pictures before the one asked for are scaled
// and kept: the others are decoded only as far as later pictures need them.
constexpr size_t kKeptBeforeJump = 16;
// In a file without an index, a request this far ahead of the decoder's
// picture decodes on from there; further on, a seek to the key picture
// before it is likely quicker.
constexpr int64_t kDecodeOnSeconds = 3;
// Key pictures a drag has shown, kept so a drag back over them decodes none.
constexpr size_t kKeysShownBytes = size_t{24} << 20;
constexpr size_t kMostKeysShown = 64;
constexpr size_t kFewestKeysShown = 4;
// Seeks retried this many times, each further back, when a file's index
// lands after the time asked for.
constexpr int kSeekTries = 4;
// A step forward decodes the next picture, and a little more where pictures
// come out of order: up to this many pictures on counts as quick.
constexpr int64_t kQuickPictures = 3;

// Clockwise degrees a display matrix asks for, in quarter turns.
int RotationOf(const AVStream* st)
{
    const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    const double counterclockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(counterclockwise))
        return 0;
    const long quarter = std::lround(-counterclockwise / 90.0);
    return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

// Where source pixel rows land once turned: the pixel of `src` (w x h RGB)
// shown at (x, y) of the turned picture.
const uint8_t* TurnedPixel(const uint8_t* src, int stride, int w, int h, int rotation, int x, int y)
{
    int sx = x, sy = y;
    switch (rotation) {
    case 90: sx = y; sy = h - 1 - x; break;
    case 180: sx = w - 1 - x; sy = h - 1 - y; break;
    case 270: sx = w - 1 - y; sy = x; break;
    default: break;
    }
    return src + static_cast<size_t>(sy) * stride + static_cast<size_t>(sx) * 3;
}

}  // namespace

namespace {

// The picture inside `picture`'s bars, fitted at its shape into a snapshot
// of its own with bars of its own.
bool FitIntoSnapshot(const PreviewPicture& picture, PreviewPicture* out)
{
    int sx = picture.shown_x, sy = picture.shown_y, sw = picture.shown_width, sh = picture.shown_height;
    if (sw < 1 || sh < 1 || sx < 0 || sy < 0 || sx + sw > picture.width || sy + sh > picture.height) {
        sx = sy = 0;
        sw = picture.width;
        sh = picture.height;
    }
    const double scale = std::min(static_cast<double>(kSnapshotWidth) / sw, static_cast<double>(kSnapshotHeight) / sh);
    const int fit_w = std::clamp(static_cast<int>(std::lround(sw * scale)), 1, kSnapshotWidth);
    const int fit_h = std::clamp(static_cast<int>(std::lround(sh * scale)), 1, kSnapshotHeight);
    ScalerPtr scaler(sws_getContext(sw, sh, AV_PIX_FMT_RGB24, fit_w, fit_h, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr,
                                    nullptr, nullptr));
    FramePtr fitted = MakeRgbPicture(fit_w, fit_h);
    if (!scaler || !fitted)
        return false;
    const uint8_t* src[4] = {picture.rgb.data() + (static_cast<size_t>(sy) * picture.width + sx) * 3, nullptr, nullptr,
                             nullptr};
    const int src_stride[4] = {picture.width * 3, 0, 0, 0};
    if (sws_scale(scaler.get(), src, src_stride, 0, sh, fitted->data, fitted->linesize) != fit_h)
        return false;
    *out = PreviewPicture{};
    out->width = kSnapshotWidth;
    out->height = kSnapshotHeight;
    out->rgb.assign(static_cast<size_t>(kSnapshotWidth) * kSnapshotHeight * 3, 0);
    out->start_us = picture.start_us;
    out->shown_x = (kSnapshotWidth - fit_w) / 2;
    out->shown_y = (kSnapshotHeight - fit_h) / 2;
    out->shown_width = fit_w;
    out->shown_height = fit_h;
    for (int y = 0; y < fit_h; ++y)
        std::memcpy(out->rgb.data() + (static_cast<size_t>(out->shown_y + y) * kSnapshotWidth + out->shown_x) * 3,
                    fitted->data[0] + static_cast<size_t>(y) * fitted->linesize[0], static_cast<size_t>(fit_w) * 3);
    return true;
}

}  // namespace

bool WritePreviewJpeg(const wchar_t* path, const PreviewPicture& given)
{
    if (given.width <= 0 || given.height <= 0 ||
        given.rgb.size() != static_cast<size_t>(given.width) * given.height * 3)
        return false;
    PreviewPicture fitted;
    const bool snapshot_size = given.width == kSnapshotWidth && given.height == kSnapshotHeight;
    if (!snapshot_size && !FitIntoSnapshot(given, &fitted))
        return false;
    const PreviewPicture& picture = snapshot_size ? given : fitted;
    FramePtr frame = MakeFrame();
    if (!frame)
        return false;
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.width;
    frame->height = picture.height;
    frame->data[0] = const_cast<uint8_t*>(picture.rgb.data());
    frame->linesize[0] = picture.width * 3;
    return WriteSnapshotJpeg(path, frame.get());  // the frame only borrows the rows
}

int64_t PreviewDecoder::OriginUs() const { return av_rescale_q(origin_pts_, time_base_, {1, 1000000}); }

PreviewDecoder::PreviewDecoder(int box_width, int box_height) : packet_(MakePacket()), frame_(MakeFrame())
{
    SetBox(box_width, box_height);
}

void PreviewDecoder::SetBox(int box_width, int box_height)
{
    box_width = std::max(box_width, 1);
    box_height = std::max(box_height, 1);
    if (box_width == box_width_ && box_height == box_height_)
        return;
    box_width_ = box_width;
    box_height_ = box_height;
    cache_.clear();  // pictures of the old size
    keys_shown_.clear();
    const size_t picture_bytes = static_cast<size_t>(box_width_) * box_height_ * 3;
    cache_limit_ = std::clamp(kCacheBytes / picture_bytes, kFewestCachedPictures, kMostCachedPictures);
}

PreviewDecoder::~PreviewDecoder() = default;

int PreviewDecoder::Open(const char* path)
{
    dec_.reset();
    format_.reset();
    cache_.clear();
    keys_shown_.clear();
    positioned_ = false;
    decoded_ = 0;
    if (!packet_ || !frame_)
        return kProbeOpenFailed;
    MediaInput in;
    // Frame threads: a jump decodes many pictures in a row, and a step
    // forward finds the next one decoded already.
    const int opened = OpenPreviewInput(path, in, FF_THREAD_FRAME);
    if (opened != kProbeOk)
        return opened;
    if (!in.video_dec)
        return kProbeNoVideoDecoder;
    stream_ = in.video_index;
    const AVStream* st = in.VideoStream();
    time_base_ = st->time_base;
    origin_pts_ = av_rescale_q(std::llround(ContainerStartSeconds(in.format.get()) * 1e6), AV_TIME_BASE_Q, time_base_);
    const AVRational rate = PlausibleFrameRate(st);
    frame_step_ = std::max<int64_t>(
        1, rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), time_base_) : av_rescale_q(40, {1, 1000}, time_base_));
    rotation_ = RotationOf(st);
    sample_aspect_ = av_guess_sample_aspect_ratio(in.format.get(), const_cast<AVStream*>(st), nullptr);
    for (unsigned i = 0; i < in.format->nb_streams; ++i)
        if (static_cast<int>(i) != stream_)
            in.format->streams[i]->discard = AVDISCARD_ALL;
    // Where timestamps may jump, the demuxer's seek files every packet it
    // meets in the index as a key picture: that index tells nothing.
    trust_index_ = !(in.format->iformat->flags & AVFMT_TS_DISCONT);
    dec_ = std::move(in.video_dec);
    format_ = std::move(in.format);
    return kProbeOk;
}

bool PreviewDecoder::PictureAt(int64_t time_us, PreviewPicture* out, const std::function<bool()>& stopped)
{
    if (!dec_)
        return false;
    const int64_t target = origin_pts_ + av_rescale_q(time_us, {1, 1000000}, time_base_);
    if (FindCached(target, out))
        return true;
    if (!DecodesOn(target)) {
        if (!SeekToKeyBefore(target, target))
            return false;
        if (last_pts_ > target)
            return FillPicture(frame_.get(), out);  // nothing is shown before it
    }
    // On to the first picture after the time: the one before it is the
    // answer; at the file's end, its last picture.
    while (NextFrame(target)) {
        if (stopped && stopped())
            return false;
        if (last_pts_ > target)
            break;
    }
    return FindCached(target, out);
}

bool PreviewDecoder::KeyPictureAt(int64_t time_us, PreviewPicture* out)
{
    if (!dec_)
        return false;
    const int64_t target = origin_pts_ + av_rescale_q(time_us, {1, 1000000}, time_base_);
    const AVIndexEntry* key = trust_index_ ? IndexedKeyAtOrBefore(target) : nullptr;
    for (const KeyShown& k : keys_shown_) {
        // (The index's time is the key picture's decoding time: the time
        // asked for may come before the key picture is shown.)
        if (key && k.index_ts == key->timestamp && k.picture.start_us <= time_us) {
            *out = k.picture;
            return true;
        }
    }
    if (!SeekToKeyBefore(target, INT64_MIN) || !FillPicture(frame_.get(), out))
        return false;
    if (key && IsIndexedKey(key, last_pts_))
        RememberKey(key->timestamp, *out);
    at_key_for_ = target;
    at_key_pts_ = last_pts_;
    return true;
}

// Seeks to the key picture at or before `target` and decodes it (NextFrame's
// `decode_target`). A seek may land on a later key picture, or past the last
// one: then it goes further back, up to a few times. Still after the target
// at the last try, that picture is the first there is.
bool PreviewDecoder::SeekToKeyBefore(int64_t target, int64_t decode_target)
{
    int64_t seek_to = target;
    int64_t back = av_rescale_q(1, {1, 1}, time_base_);
    for (int tries = 0;; ++tries) {
        if (!Seek(seek_to))
            return false;
        const bool decoded = NextFrame(decode_target);
        const bool last_try = seek_to < origin_pts_ || tries == kSeekTries;
        if (!decoded && last_try)
            return false;
        if (decoded && (last_pts_ <= target || last_try))
            return true;
        seek_to = FurtherBack(seek_to, back);
        back *= 2;
    }
}

bool PreviewDecoder::IsJump(int64_t time_us) const
{
    if (!dec_)
        return false;
    const int64_t target = origin_pts_ + av_rescale_q(time_us, {1, 1000000}, time_base_);
    return !CachedAt(target) && !DecodesOn(target);
}

bool PreviewDecoder::IsQuick(int64_t time_us) const
{
    if (!dec_)
        return true;
    const int64_t target = origin_pts_ + av_rescale_q(time_us, {1, 1000000}, time_base_);
    return CachedAt(target) || (DecodesOn(target) && target - last_pts_ <= kQuickPictures * frame_step_);
}

// Whether the picture at `target` is reached by decoding on from the
// decoder's last picture rather than by a seek.
bool PreviewDecoder::DecodesOn(int64_t target) const
{
    return positioned_ && last_pts_ != INT64_MIN && target >= last_pts_ && !KeyPictureBetween(last_pts_, target);
}

const AVIndexEntry* PreviewDecoder::IndexedKeyAtOrBefore(int64_t pts) const
{
    return avformat_index_get_entry_from_timestamp(format_->streams[stream_], pts, AVSEEK_FLAG_BACKWARD);
}

// Whether the picture at `pts` is the one `key` indexes: the index gives the
// key picture's decoding time, which comes before or at its showing time,
// and the next key picture is after it.
bool PreviewDecoder::IsIndexedKey(const AVIndexEntry* key, int64_t pts) const
{
    if (pts < key->timestamp)
        return false;
    const AVIndexEntry* next = avformat_index_get_entry_from_timestamp(format_->streams[stream_], key->timestamp + 1, 0);
    return !next || pts < next->timestamp;
}

void PreviewDecoder::RememberKey(int64_t index_ts, const PreviewPicture& picture)
{
    keys_shown_.push_back({index_ts, picture});
    const size_t picture_bytes = picture.rgb.size() + 1;
    const size_t limit = std::clamp(kKeysShownBytes / picture_bytes, kFewestKeysShown, kMostKeysShown);
    while (keys_shown_.size() > limit)
        keys_shown_.pop_front();
}

// A key picture between the decoder's picture at `from` and `target`: then a
// seek to it is quicker than decoding on. The file's index tells where its
// key pictures are; where it has none, or ends before the target, a target
// far ahead counts as having one between. (Index searches without
// AVSEEK_FLAG_ANY meet key pictures only.)
bool PreviewDecoder::KeyPictureBetween(int64_t from, int64_t target) const
{
    if (target == at_key_for_ && from == at_key_pts_)
        return false;  // the key picture shown for this very time
    AVStream* st = format_->streams[stream_];
    const AVIndexEntry* key = trust_index_ ? IndexedKeyAtOrBefore(target) : nullptr;
    const bool indexed_beyond = avformat_index_get_entry_from_timestamp(st, target, AVSEEK_FLAG_ANY) != nullptr;
    if (key && indexed_beyond)
        return key->timestamp > from;
    return target - from > av_rescale_q(kDecodeOnSeconds, {1, 1}, time_base_);
}

const PreviewDecoder::Cached* PreviewDecoder::CachedAt(int64_t pts) const
{
    for (const Cached& c : cache_)
        if (c.pts <= pts && pts < c.next_pts)
            return &c;
    return nullptr;
}

bool PreviewDecoder::FindCached(int64_t pts, PreviewPicture* out) const
{
    const Cached* c = CachedAt(pts);
    if (c)
        *out = c->picture;
    return c != nullptr;
}

// `back` before `seek_to`, at most a second before the origin: a demuxer that
// seeks by searching the file for a time (MPEG-TS) finds the start only from
// before the first picture's time, since the first packets are decoded earlier.
int64_t PreviewDecoder::FurtherBack(int64_t seek_to, int64_t back) const
{
    return std::max(origin_pts_ - av_rescale_q(1, {1, 1}, time_base_), seek_to - back);
}

bool PreviewDecoder::Seek(int64_t pts)
{
    const auto seek = [this](int64_t to) {
        return av_seek_frame(format_.get(), stream_, to, AVSEEK_FLAG_BACKWARD) >= 0 ||
               av_seek_frame(format_.get(), stream_, to, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0;
    };
    // Before the origin some demuxers find nothing: the start is meant.
    if (!seek(pts) && !(pts < origin_pts_ && seek(origin_pts_)))
        return false;
    avcodec_flush_buffers(dec_.get());
    positioned_ = true;
    draining_ = false;
    skip_to_key_ = true;
    last_pts_ = INT64_MIN;
    last_skipped_pts_ = INT64_MIN;
    at_key_for_ = INT64_MIN;
    return true;
}

bool PreviewDecoder::NextFrame(int64_t target)
{
    const int64_t window = frame_step_ * static_cast<int64_t>(std::min(cache_limit_, kKeptBeforeJump));
    for (;;) {
        const int received = avcodec_receive_frame(dec_.get(), frame_.get());
        if (received >= 0) {
            ++decoded_;
            const int64_t previous = last_pts_;
            last_pts_ = PtsOf(frame_.get());
            if (target == INT64_MIN || last_pts_ >= target - window)
                Remember(previous, frame_.get());
            return true;
        }
        if (received != AVERROR(EAGAIN) || draining_) {
            // The file's end: its last picture stays the answer after it.
            if (!cache_.empty() && cache_.back().pts == last_pts_)
                cache_.back().next_pts = INT64_MAX;
            positioned_ = false;
            return false;
        }
        bool sent = false;
        while (!sent && av_read_frame(format_.get(), packet_.get()) >= 0) {
            const bool key = packet_->flags & AV_PKT_FLAG_KEY;
            if (packet_->stream_index != stream_ || (skip_to_key_ && !key)) {
                av_packet_unref(packet_.get());
                continue;
            }
            skip_to_key_ = false;
            // A picture long before the time that nothing refers to need not be decoded.
            const bool unseen = target != INT64_MIN && packet_->pts != AV_NOPTS_VALUE && !key &&
                                packet_->pts < target - window;
            dec_->skip_frame = unseen ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            if (unseen)
                last_skipped_pts_ = std::max(last_skipped_pts_, packet_->pts);
            // A damaged packet is left out; the next one may decode.
            avcodec_send_packet(dec_.get(), packet_.get());
            av_packet_unref(packet_.get());
            sent = true;
        }
        if (!sent) {
            avcodec_send_packet(dec_.get(), nullptr);
            draining_ = true;
        }
    }
}

int64_t PreviewDecoder::PtsOf(const AVFrame* frame)
{
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
        return frame->best_effort_timestamp;
    return last_pts_ == INT64_MIN ? origin_pts_ : last_pts_ + frame_step_;
}

// The picture decoded after `previous` (INT64_MIN after a seek) follows it.
void PreviewDecoder::Remember(int64_t previous, const AVFrame* frame)
{
    Cached entry{last_pts_, INT64_MAX, {}};
    if (!FillPicture(frame, &entry.picture))
        return;
    entry.next_pts = INT64_MAX;
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->pts == entry.pts)
            it = cache_.erase(it);
        else
            ++it;
    }
    // Only a picture decoded right before it learns where it ends; until then
    // it answers its own start only. A picture left undecoded after it may
    // lie between the two.
    const bool follows = previous != INT64_MIN && last_skipped_pts_ <= previous;
    for (Cached& c : cache_)
        if (follows && c.pts == previous)
            c.next_pts = entry.pts;
    entry.next_pts = entry.pts + 1;  // its own start, until the next picture is known
    cache_.push_back(std::move(entry));
    while (cache_.size() > cache_limit_)
        cache_.pop_front();
}

bool PreviewDecoder::FillPicture(const AVFrame* frame, PreviewPicture* out)
{
    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (frame->width <= 0 || frame->height <= 0 || format == AV_PIX_FMT_NONE)
        return false;
    const AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio
                           : sample_aspect_.num > 0         ? sample_aspect_
                                                             : AVRational{1, 1};
    double shown_w = frame->width * av_q2d(sar), shown_h = frame->height;
    const bool turned = rotation_ == 90 || rotation_ == 270;
    if (turned)
        std::swap(shown_w, shown_h);
    const double scale = std::min(box_width_ / shown_w, box_height_ / shown_h);
    const int fit_w = std::clamp(static_cast<int>(std::lround(shown_w * scale)), 1, box_width_);
    const int fit_h = std::clamp(static_cast<int>(std::lround(shown_h * scale)), 1, box_height_);
    const int src_w = turned ? fit_h : fit_w, src_h = turned ? fit_w : fit_h;

    if (!scaled_ || scaled_->width != src_w || scaled_->height != src_h) {
        scaled_ = MakeRgbPicture(src_w, src_h);
        if (!scaled_)
            return false;
    }
    scaler_.reset(CachedScaler(scaler_.release(), frame->width, frame->height, format, src_w, src_h,
                               AV_PIX_FMT_RGB24, SWS_BICUBIC));
    if (!scaler_ || sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, scaled_->data,
                              scaled_->linesize) != src_h)
        return false;

    out->width = box_width_;
    out->height = box_height_;
    out->rgb.assign(static_cast<size_t>(box_width_) * box_height_ * 3, 0);
    out->start_us = av_rescale_q(PtsOf(frame) - origin_pts_, time_base_, {1, 1000000});
    const int left = (box_width_ - fit_w) / 2, top = (box_height_ - fit_h) / 2;
    out->shown_x = left;
    out->shown_y = top;
    out->shown_width = fit_w;
    out->shown_height = fit_h;
    for (int y = 0; y < fit_h; ++y) {
        uint8_t* row = out->rgb.data() + (static_cast<size_t>(top + y) * box_width_ + left) * 3;
        if (rotation_ == 0) {
            std::memcpy(row, scaled_->data[0] + static_cast<size_t>(y) * scaled_->linesize[0], fit_w * 3);
            continue;
        }
        for (int x = 0; x < fit_w; ++x)
            std::memcpy(row + x * 3, TurnedPixel(scaled_->data[0], scaled_->linesize[0], src_w, src_h, rotation_, x, y),
                        3);
    }
    return true;
}
