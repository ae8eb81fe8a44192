// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut's source: whether its codec and container can be cut
// exactly, where reading must begin, the scan of the span's pictures and the
// bit rate the re-encoded ends aim at.
#include "exact_cutter.h"

#include <algorithm>

#include "container_rules.h"
#include "matching_encoder.h"
#include "media_time.h"
#include "packed_pictures.h"
#include "picture_times.h"

namespace exact_cutting {

namespace {

// Pictures read past the first key picture beyond the end point, so the
// leading pictures decoded after it are seen too.
constexpr int kPacketsPastEnd = 16;

unsigned ExactBitOf(CutCodec codec)
{
    switch (codec) {
    case CutCodec::H264: return kExactH264;
    case CutCodec::Hevc: return kExactHevc;
    case CutCodec::Mpeg4: return kExactMpeg4;
    case CutCodec::Mpeg2: return kExactMpeg2;
    case CutCodec::Vp9: return kExactVp9;
    case CutCodec::Av1: return kExactAv1;
    }
    return kExactNone;
}
bool ContainerHandled(CutCodec codec, const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    return rules && (rules->exact & ExactBitOf(codec)) != 0;
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

}  // namespace

// Whether a packet brings parameter sets of its own before its picture.
bool CarriesParameterSets(CutCodec codec, const AVPacket* pkt, int length_size)
{
    if (codec == CutCodec::Mpeg2)
        return HasMpeg2SequenceHeader(pkt->data, static_cast<size_t>(pkt->size));
    std::vector<CodedUnit> units;
    if (codec == CutCodec::Av1)
        return SplitAv1Units(pkt->data, static_cast<size_t>(pkt->size), &units) &&
               std::any_of(units.begin(), units.end(),
                           [](const CodedUnit& u) { return Av1UnitType(u) == kAv1SequenceHeader; });
    if (!SplitLengthUnits(pkt->data, static_cast<size_t>(pkt->size), length_size, &units))
        return false;
    const int sps = codec == CutCodec::H264 ? kH264Sps : kHevcVps + 1;
    return std::any_of(units.begin(), units.end(), [&](const CodedUnit& u) {
        return (codec == CutCodec::H264 ? H264UnitType(u) : HevcUnitType(u)) == sps;
    });
}

bool CutCodecOf(AVCodecID id, CutCodec* codec)
{
    switch (id) {
    case AV_CODEC_ID_H264: *codec = CutCodec::H264; return true;
    case AV_CODEC_ID_HEVC: *codec = CutCodec::Hevc; return true;
    case AV_CODEC_ID_MPEG4: *codec = CutCodec::Mpeg4; return true;
    case AV_CODEC_ID_MPEG2VIDEO: *codec = CutCodec::Mpeg2; return true;
    case AV_CODEC_ID_VP9: *codec = CutCodec::Vp9; return true;
    case AV_CODEC_ID_AV1: *codec = CutCodec::Av1; return true;
    default: return false;
    }
}
bool HasConfigurationRecord(const AVCodecParameters* par)
{
    return par->extradata_size > 6 && par->extradata[0] == 1;
}
// Codec and container: true when an exact cut can be made, else `why` says
// why not.
bool ClassifySource(const AVFormatContext* input, const AVStream* st, const char* output_path, CutCodec* codec,
                    std::string* why)
{
    const AVCodecParameters* par = st->codecpar;
    if (!CutCodecOf(par->codec_id, codec)) {
        *why = std::string("the codec ") + avcodec_get_name(par->codec_id) + " is not re-encoded";
        return false;
    }
    if (!MatchingEncoderAvailable(par, why))
        return false;
    const AVOutputFormat* format = DirectOutputFormat(input, output_path);
    if (!format || !ContainerHandled(*codec, format)) {
        *why = std::string("the container ") + (format ? format->name : "?") + " is not handled for " +
               avcodec_get_name(par->codec_id);
        return false;
    }
    // Parameter sets come either in a configuration record, where both
    // parts' can be stored, or in band before the pictures (transport streams).
    const bool h26x = *codec == CutCodec::H264 || *codec == CutCodec::Hevc;
    if (h26x && !HasConfigurationRecord(par) && NeedsGlobalHeader(format)) {
        *why = "the stream has no configuration record";
        return false;
    }
    if (ReadsUnpacked(st) && !CanUnpackPackedPictures()) {
        *why = "MPEG-4 with B-pictures packed as DivX and Xvid write them cannot be unpacked here";
        return false;
    }
    return true;
}

// Packed B-pictures have no picture a packet: the cut reads them unpacked,
// so that the copy and the re-encoded ends keep one order.
bool ReadsUnpacked(const AVStream* st)
{
    return HasPackedPictures(st->codecpar);
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
    switch (codec) {
    case CutCodec::Mpeg4: return HasMpeg4VolHeader(pkt->data, static_cast<size_t>(pkt->size));
    case CutCodec::Mpeg2: return KindOfPicture(AV_CODEC_ID_MPEG2VIDEO, pkt->data, pkt->size) == PictureKind::Reference;
    case CutCodec::Vp9: return true;  // a key frame resets every reference
    case CutCodec::Av1: return Av1StartsKeyFrame(pkt->data, static_cast<size_t>(pkt->size));
    default: break;
    }
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

// The source's parameter sets (H.264 SPS/PPS, HEVC VPS/SPS/PPS, the MPEG-2
// sequence header and its extensions), as its extradata gives them.
std::vector<Bytes> SourceParameterSets(CutCodec codec, const uint8_t* data, size_t size, int length_size)
{
    std::vector<Bytes> sets;
    std::vector<CodedUnit> units;
    if (codec == CutCodec::Mpeg2 || length_size == kStartCodes)
        units = SplitStartCodeUnits(data, size);
    for (const CodedUnit& u : units) {
        const bool wanted = codec == CutCodec::H264   ? H264UnitType(u) == kH264Sps || H264UnitType(u) == kH264Pps
                            : codec == CutCodec::Hevc ? HevcUnitType(u) >= kHevcVps && HevcUnitType(u) <= kHevcVps + 2
                                                      : u.data[0] == kMpeg2SequenceHeader || u.data[0] == kMpeg2Extension;
        if (wanted)
            sets.emplace_back(u.data, u.data + u.size);
    }
    return sets;
}

// The input comes open from the caller; what it holds is checked again here,
// as the file may have changed since the launch looked at it.
bool ExactCutter::OpenSource()
{
    if (!in_.format)
        return false;
    vst_ = in_.VideoStream();
    ast_ = in_.AudioStream();
    std::string why;
    if (!vst_ || !ClassifySource(in_.format.get(), vst_, inputs_[input_].output_path.c_str(), &codec_, &why))
        return false;
    unpack_ = ReadsUnpacked(vst_);
    const AVCodecParameters* par = vst_->codecpar;
    const uint8_t* extradata = par->extradata;
    const size_t extradata_size = static_cast<size_t>(std::max(par->extradata_size, 0));
    if (codec_ == CutCodec::Av1) {
        // The re-encoded parts bring sequence headers of their own: the
        // copied part's first picture takes the source's again.
        source_units_ = Av1ConfigSequenceHeaders(extradata, extradata_size);
    } else if (!HasConfigurationRecord(par)) {
        length_size_ = kStartCodes;
        source_units_ = SourceParameterSets(codec_, extradata, extradata_size, length_size_);
        for (const Bytes& u : source_units_) {  // their ids, for the re-encoded parts' to differ from
            if (codec_ == CutCodec::H264)
                (H264UnitType(CodedUnit{u.data(), u.size()}) == kH264Sps ? config_.sps : config_.pps).push_back(u);
        }
        if (codec_ == CutCodec::H264)
            FreeParameterSetIds(config_, ids_);
    } else if (codec_ == CutCodec::H264) {
        if (!ParseAvcConfig(extradata, extradata_size, &config_))
            return false;
        length_size_ = config_.length_size;
        FreeParameterSetIds(config_, ids_);
    } else if (codec_ == CutCodec::Hevc) {
        if (!ParseHevcConfig(extradata, extradata_size, &length_size_, &source_units_))
            return false;
    }
    return SetSpanLimits();
}

// The span of input_ on the video stream's clock.
bool ExactCutter::SetSpanLimits()
{
    const auto to_ts = [&](int64_t us) { return ToStreamTicks(OnFileClock(us, in_.format.get()), vst_->time_base); };
    const MediaSpan& span = inputs_[static_cast<size_t>(input_)].span;
    plan_.start = to_ts(span.start_us);
    plan_.end = to_ts(span.end_us);
    return plan_.end > plan_.start;
}

// Positions the input at `target` on the video clock, or at the file's first
// byte for kFromFirstByte.
bool ExactCutter::SeekVideo(int64_t target)
{
    AVFormatContext* fmt = in_.format.get();
    if (target == kFromFirstByte)
        return av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
    return av_seek_frame(fmt, vst_->index, target, AVSEEK_FLAG_BACKWARD) >= 0;
}

// The first key picture's time from where the input stands; AV_NOPTS_VALUE
// when none comes.
int64_t ExactCutter::FirstKeyPicture()
{
    PacketPtr pkt = MakePacket();
    PictureTimeReader reader(in_.format.get(), vst_->index, unpack_);
    while (pkt && reader.Read(pkt.get()) >= 0) {
        const bool video_key = pkt->stream_index == vst_->index && (pkt->flags & AV_PKT_FLAG_KEY);
        const int64_t pts = pkt->pts;
        av_packet_unref(pkt.get());
        if (video_key)
            return pts;
    }
    return AV_NOPTS_VALUE;
}

// Reading must begin at a key picture at or before the start point; a seek
// that lands after it is repeated from further back. A transport or program
// stream's search by time may land past the file's first key picture: the
// file's first byte is its place.
bool ExactCutter::SeekBeforeStart()
{
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, vst_->time_base);
    const int64_t origin = vst_->start_time != AV_NOPTS_VALUE ? vst_->start_time : 0;
    const int64_t backs[] = {0, 3, 10, 30, 120};
    for (int64_t back : backs) {
        seek_target_ = std::max(plan_.start - back * second, origin);
        if (!SeekVideo(seek_target_))
            continue;
        const int64_t pts = FirstKeyPicture();
        if (pts != AV_NOPTS_VALUE && pts <= plan_.start)
            return true;
        if (seek_target_ == origin)
            break;
    }
    if (in_.format->iformat->flags & AVFMT_TS_DISCONT) {
        seek_target_ = kFromFirstByte;
        if (SeekVideo(seek_target_) && FirstKeyPicture() != AV_NOPTS_VALUE)
            return true;
    }
    // The file's first key picture, after the start point.
    seek_target_ = origin;
    return SeekVideo(seek_target_) && FirstKeyPicture() != AV_NOPTS_VALUE;
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
    if (!SeekVideo(seek_target_))
        return false;
    PacketPtr pkt = MakePacket();
    int past_end = -1;
    int rc;
    PictureTimeReader reader(fmt, vst_->index, unpack_);
    while ((rc = reader.Read(pkt.get())) >= 0) {
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

// Where pictures are timed by their place (AVI), the first one written is
// decoded at the output's start and shown the decoder's delay later, as in
// the source: the output's zero is its decoding time, or the sound, which
// starts there too, would play early.
void ExactCutter::StartWithFirstDecoded()
{
    const AVOutputFormat* format = DirectOutputFormat(in_.format.get(), inputs_[input_].output_path.c_str());
    if (!format || !TimesByPlace(format))
        return;
    const int64_t first_dts = plan_.head_count > 0 ? plan_.first_pts - ReencodedDtsLead() : plan_.copy_first_dts;
    plan_.origin_pts = std::min(plan_.origin_pts, first_dts);
}

// Reads the span's pictures up to the first key picture at its end, or
// until one inside it can start a copy.
bool ExactCutter::ReencodesWholeSpan(bool* keys_lack_headers)
{
    bool headerless_key = false;
    if (!OpenSource() || !SeekBeforeStart())
        return false;  // the cut itself reports what is wrong
    AVFormatContext* fmt = in_.format.get();
    PacketPtr pkt = MakePacket();
    if (!pkt || !SeekVideo(seek_target_))
        return false;
    PictureTimeReader reader(fmt, vst_->index, unpack_);
    while (reader.Read(pkt.get()) >= 0) {
        const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        const bool key = pkt->stream_index == vst_->index && (pkt->flags & AV_PKT_FLAG_KEY) && pts != AV_NOPTS_VALUE;
        const bool inside = key && pts >= plan_.start && pts < plan_.end;
        const bool copy_starts = inside && IsCleanStart(codec_, length_size_, pkt.get());
        headerless_key = headerless_key || (inside && !copy_starts && codec_ == CutCodec::Mpeg4);
        av_packet_unref(pkt.get());
        if (copy_starts)
            return false;
        if (key && pts >= plan_.end)
            break;
    }
    if (keys_lack_headers)
        *keys_lack_headers = headerless_key;
    return true;
}

// Pictures cover the span by their own durations (a variable rate's long
// ones too). A span the file has lost most of, though it goes on past it,
// is damaged, not cut down to the few pictures left. The span is counted
// from the file's first picture, which may begin after its sound.
bool ExactCutter::PicturesMissingFromSpan() const
{
    constexpr double kMinShortfallS = 0.5;
    constexpr double kMinPictureShare = 0.5;
    if (reached_eof_)
        return false;  // the file's own end: cut short, as the job says
    const int64_t from = vst_->start_time != AV_NOPTS_VALUE ? std::max(plan_.start, vst_->start_time) : plan_.start;
    int64_t covered = 0;
    for (const PacketFacts& p : scan_) {
        const int64_t end = p.pts + (p.duration > 0 ? p.duration : plan_.frame_duration);
        if (p.pts != AV_NOPTS_VALUE && p.pts < plan_.end && end > from)
            covered += std::min(end, plan_.end) - std::max(p.pts, from);
    }
    const double tb = av_q2d(vst_->time_base);
    const double asked_s = (plan_.end - from) * tb;
    return asked_s > kMinShortfallS && covered * tb < asked_s * kMinPictureShare;
}

// Scans and plans the span of input_ into plan_ and scan_.
bool ExactCutter::PlanSpan()
{
    reason_ = FailureReason::NothingInSpan;
    if (!SeekBeforeStart() || !Scan() || !MakeCutPlan(scan_, reached_eof_, codec_, &plan_))
        return false;
    if (PicturesMissingFromSpan()) {
        reason_ = FailureReason::DamagedWithin;
        return false;
    }
    KeepSoundBeforeFirstPicture();
    return true;
}

}  // namespace exact_cutting
