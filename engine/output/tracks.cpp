// SPDX-License-Identifier: GPL-3.0-or-later
// Which tracks of an input an output keeps: the look at what a muxer takes,
// the output streams of the first input and the tracks later inputs go on in.
#include "tracks.h"

#include <algorithm>
#include <cstring>

#include "container_rules.h"
#include "extra_sound.h"
#include "media_input.h"
#include "stream_copy.h"

namespace {

bool IsMain(const MediaInput& in, int i) { return i == in.video_index || i == in.audio_index; }

// QuickTime and MP4 files carry their chapter names in a text track, which
// the demuxer exposes as a data stream: it travels as chapters.
bool IsChapterTextTrack(const AVFormatContext* in, const AVStream* st)
{
    return in->nb_chapters > 0 && std::strncmp(in->iformat->name, "mov,", 4) == 0 &&
           st->codecpar->codec_type == AVMEDIA_TYPE_DATA && st->codecpar->codec_tag == MKTAG('t', 'e', 'x', 't');
}

// QuickTime's timecode track, as its demuxer gives it.
bool IsTimecodeTrack(const AVStream* st)
{
    return st->codecpar->codec_type == AVMEDIA_TYPE_DATA && st->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd');
}

std::string Tag(const AVDictionary* dict, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(dict, key, nullptr, 0);
    return e ? e->value : "";
}

void Report(std::vector<DroppedTrack>* dropped, int input, const AVStream* st, DropReason why)
{
    DroppedTrack d;
    d.input = input;
    d.stream = st->index;
    d.kind = st->codecpar->codec_type;
    d.codec = avcodec_get_name(st->codecpar->codec_id);
    if (st->codecpar->codec_id == AV_CODEC_ID_NONE && st->codecpar->codec_tag != 0) {
        char tag[AV_FOURCC_MAX_STRING_SIZE] = "";
        d.codec = av_fourcc_make_string(tag, st->codecpar->codec_tag);
    }
    d.language = Tag(st->metadata, "language");
    d.reason = why;
    if (dropped)
        dropped->push_back(d);
}

// A seekable sink that keeps nothing: a muxer writes its header into it to
// show whether it takes a set of streams.
struct NullSink {
    int64_t pos = 0;
    int64_t size = 0;
    static int Write(void* opaque, uint8_t*, int n)
    {
        auto* s = static_cast<NullSink*>(opaque);
        s->pos += n;
        s->size = std::max(s->size, s->pos);
        return n;
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence)
    {
        auto* s = static_cast<NullSink*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return s->size;
        case SEEK_SET: s->pos = offset; break;
        case SEEK_CUR: s->pos += offset; break;
        case SEEK_END: s->pos = s->size + offset; break;
        default: return -1;
        }
        return s->pos;
    }
};

// Whether `format` writes a header for the main streams of `src` with the
// extra streams `extras`, in the file's order.
bool HeaderAccepts(const AVOutputFormat* format, const AVFormatContext* src, int video, int audio,
                   const std::vector<int>& extras)
{
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, nullptr) < 0 || !raw)
        return false;
    OutputContextPtr ctx(raw);
    for (unsigned i = 0; i < src->nb_streams; ++i) {
        const int index = static_cast<int>(i);
        const bool extra = std::find(extras.begin(), extras.end(), index) != extras.end();
        if (index == video || index == audio ? !AddCopiedStream(raw, src->streams[i])
                                             : extra && !AddExtraStream(raw, src->streams[i]))
            return false;
    }
    if (format->flags & AVFMT_NOFILE)
        return avformat_init_output(raw, nullptr) >= 0;
    // A refusal here is an answer, not a fault to show the user.
    struct QuietLog {
        int level = av_log_get_level();
        QuietLog() { av_log_set_level(AV_LOG_QUIET); }
        ~QuietLog() { av_log_set_level(level); }
    } quiet;
    NullSink sink;
    constexpr int kBufferSize = 4096;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    AVIOContext* pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, &sink, nullptr, NullSink::Write,
                                                  NullSink::Seek)
                             : nullptr;
    if (!pb) {
        av_free(buffer);
        return false;
    }
    raw->pb = pb;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    const bool ok = avformat_write_header(raw, nullptr) >= 0;
    ctx.reset();
    av_freep(&pb->buffer);
    avio_context_free(&pb);
    return ok;
}

int SoundTracksOf(const JobOutput& out)
{
    return (out.audio ? 1 : 0) + static_cast<int>(std::count_if(out.extras.begin(), out.extras.end(), [](const ExtraTrack& t) {
               return t.kind == AVMEDIA_TYPE_AUDIO;
           }));
}

bool IsTextSubtitle(AVCodecID id)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && d->type == AVMEDIA_TYPE_SUBTITLE && (d->props & AV_CODEC_PROP_TEXT_SUB);
}

// The text format a container keeps subtitles in, NONE where it has none.
AVCodecID TextSubtitleCodec(const AVOutputFormat* format, AVCodecID source)
{
    if (IsMp4Family(format))
        return AV_CODEC_ID_MOV_TEXT;
    for (AVCodecID id : {source, AV_CODEC_ID_SUBRIP})
        if (avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL) == 1)
            return id;
    return AV_CODEC_ID_NONE;
}

// An output stream for `in_st`'s subtitles converted to `target`.
AVStream* AddConvertedSubtitles(AVFormatContext* ctx, const AVStream* in_st, AVCodecID target, CodecContextPtr* encoder)
{
    CodecContextPtr dec = OpenStreamDecoder(in_st);
    const AVCodec* codec = avcodec_find_encoder(target);
    CodecContextPtr enc(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!dec || !enc || !dec->subtitle_header)
        return nullptr;
    enc->time_base = AVRational{1, 1000};
    // The styles the text refers to travel with the encoder.
    enc->subtitle_header = static_cast<uint8_t*>(av_mallocz(dec->subtitle_header_size + 1));
    if (!enc->subtitle_header)
        return nullptr;
    std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
    enc->subtitle_header_size = dec->subtitle_header_size;
    if (NeedsGlobalHeader(ctx->oformat))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return nullptr;
    AVStream* st = avformat_new_stream(ctx, nullptr);
    if (!st || avcodec_parameters_from_context(st->codecpar, enc.get()) < 0)
        return nullptr;
    st->id = static_cast<int>(ctx->nb_streams) - 1;
    st->time_base = enc->time_base;
    st->disposition = in_st->disposition;
    for (const char* key : {"language", "title"})
        if (const AVDictionaryEntry* e = av_dict_get(in_st->metadata, key, nullptr, 0))
            av_dict_set(&st->metadata, key, e->value, 0);
    *encoder = std::move(enc);
    return st;
}

}  // namespace

bool IsAttachedPicture(const AVStream* st) { return (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0; }

bool ListTracks(const char* path, std::vector<TrackFacts>* tracks)
{
    tracks->clear();
    AVFormatContext* raw = nullptr;
    if (CheckInputKind(path) != kProbeOk || OpenLocalFormat(&raw, path) != 0)
        return false;
    InputContextPtr in(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        return false;
    int video = -1, audio = -1;
    SelectStreams(raw, &video, &audio);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* st = raw->streams[i];
        TrackFacts t;
        t.index = static_cast<int>(i);
        t.kind = st->codecpar->codec_type;
        t.codec = avcodec_get_name(st->codecpar->codec_id);
        t.language = Tag(st->metadata, "language");
        t.title = Tag(st->metadata, "title");
        t.is_default = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
        t.main = t.index == video || t.index == audio;
        tracks->push_back(t);
    }
    return true;
}

std::vector<int> CopiableExtraTracks(std::vector<DroppedTrack>* dropped, int input_index, const AVFormatContext* input,
                                     const AVOutputFormat* format)
{
    int video = -1, audio = -1;
    SelectStreams(input, &video, &audio);
    std::vector<int> candidates;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int index = static_cast<int>(i);
        if (index != video && index != audio && !IsChapterTextTrack(input, input->streams[i]))
            candidates.push_back(index);
    }
    // Sound and pictures by the rules the main ones follow.
    const auto written = [&](int i) {
        const AVStream* st = input->streams[i];
        const AVMediaType kind = st->codecpar->codec_type;
        return IsAttachedPicture(st) || (kind != AVMEDIA_TYPE_AUDIO && kind != AVMEDIA_TYPE_VIDEO) ||
               MuxerWritesCodec(format, st->codecpar->codec_id);
    };
    const bool all_written = std::all_of(candidates.begin(), candidates.end(), written);
    if (candidates.empty() || (all_written && HeaderAccepts(format, input, video, audio, candidates)))
        return candidates;
    // Track by track: the ones the muxer refuses are left out.
    std::vector<int> kept;
    for (int i : candidates) {
        if (written(i) && HeaderAccepts(format, input, video, audio, {i}))
            kept.push_back(i);
        else
            Report(dropped, input_index, input->streams[i],
                   IsMp4Family(format) && IsTimecodeTrack(input->streams[i]) ? DropReason::TimecodeNotCopied
                                                                             : DropReason::ContainerRefuses);
    }
    return kept;
}

namespace {

// A cover picture as an attachment: its bytes, name and type.
AVStream* AddCoverAttachment(AVFormatContext* ctx, const AVStream* in_st)
{
    const AVPacket& pic = in_st->attached_pic;
    if (pic.size <= 0)
        return nullptr;
    AVStream* st = avformat_new_stream(ctx, nullptr);
    if (!st)
        return nullptr;
    st->id = static_cast<int>(ctx->nb_streams) - 1;
    st->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    st->codecpar->codec_id = in_st->codecpar->codec_id;
    if (!ReplaceExtradata(st->codecpar, pic.data, static_cast<size_t>(pic.size)))
        return nullptr;
    av_dict_copy(&st->metadata, in_st->metadata, 0);
    // An attachment must have a name; the type follows from the codec.
    if (!av_dict_get(st->metadata, "filename", nullptr, 0))
        av_dict_set(&st->metadata, "filename",
                    in_st->codecpar->codec_id == AV_CODEC_ID_PNG ? "cover.png" : "cover.jpg", 0);
    return st;
}

}  // namespace

AVStream* AddExtraStream(AVFormatContext* ctx, const AVStream* in_st)
{
    if (IsAttachedPicture(in_st) && CoverPicturesAsAttachments(ctx->oformat))
        return AddCoverAttachment(ctx, in_st);
    AVStream* st = AddCopiedStream(ctx, in_st);
    if (!st)
        return nullptr;
    st->disposition = in_st->disposition;
    // An attachment is its name and type as much as its bytes.
    if (in_st->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT)
        av_dict_copy(&st->metadata, in_st->metadata, 0);
    return st;
}

void WriteAttachedPictures(AVFormatContext* ctx, const AVFormatContext* in, const std::vector<int>& in_streams,
                           const std::vector<AVStream*>& out_streams)
{
    for (size_t k = 0; k < in_streams.size() && k < out_streams.size(); ++k) {
        const AVStream* st = in->streams[in_streams[k]];
        if (!IsAttachedPicture(st) || st->attached_pic.size <= 0 || !IsAttachedPicture(out_streams[k]))
            continue;
        PacketPtr pic = MakePacket();
        if (!pic || av_packet_ref(pic.get(), &st->attached_pic) < 0)
            continue;
        pic->stream_index = out_streams[k]->index;
        pic->pts = pic->dts = 0;
        pic->pos = -1;
        av_interleaved_write_frame(ctx, pic.get());
    }
}

bool PlanTracks(std::vector<DroppedTrack>* dropped, JobOutput& out, InputRun& run, bool (*add_main)(JobOutput&, InputRun&, bool video))
{
    const AVFormatContext* in = run.in.format.get();
    run.extra_slot.assign(in->nb_streams, -1);
    if (!out.header_written) {
        const std::vector<int> kept = CopiableExtraTracks(dropped, run.index, in, out.ctx->oformat);
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            const int index = static_cast<int>(i);
            if (index == run.in.video_index || index == run.in.audio_index) {
                if (!add_main(out, run, index == run.in.video_index))
                    return false;
            } else if (std::find(kept.begin(), kept.end(), index) != kept.end()) {
                AVStream* st = AddExtraStream(out.ctx.get(), in->streams[i]);
                if (!st)
                    return false;
                run.extra_slot[i] = static_cast<int>(out.extras.size());
                ExtraTrack track;
                track.stream = st;
                track.kind = st->codecpar->codec_type;
                out.extras.push_back(std::move(track));
            }
        }
        run.held_extra.resize(out.extras.size());
        return true;
    }
    for (const bool video : {true, false}) {
        if ((video ? run.in.video_index : run.in.audio_index) >= 0 && !add_main(out, run, video))
            return false;
    }
    // A later input continues the output's tracks: each of its tracks goes
    // on in the first one not yet taken of the same kind and codec, so that
    // a track the output left out shifts no other.
    std::vector<bool> taken(out.extras.size(), false);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* st = in->streams[i];
        if (IsMain(run.in, static_cast<int>(i)) || IsChapterTextTrack(in, st))
            continue;
        // A cover picture the output keeps as an attachment counts among the attachments.
        const bool cover_attached = IsAttachedPicture(st) && CoverPicturesAsAttachments(out.ctx->oformat);
        const int kind = cover_attached ? AVMEDIA_TYPE_ATTACHMENT : st->codecpar->codec_type;
        int match = -1;
        for (size_t k = 0; k < out.extras.size() && match < 0; ++k) {
            const AVStream* o = out.extras[k].stream;
            if (!taken[k] && out.extras[k].kind == kind &&
                IsAttachedPicture(o) == (IsAttachedPicture(st) && !cover_attached) &&
                (cover_attached ? o->codecpar->codec_id == st->codecpar->codec_id
                                : CanContinueStream(o->codecpar, st->codecpar)))
                match = static_cast<int>(k);
        }
        if (match >= 0)
            taken[match] = true;
        // Attachments and cover pictures went out with the first input.
        if (match >= 0 && (IsAttachedPicture(st) || kind == AVMEDIA_TYPE_ATTACHMENT))
            continue;
        if (match < 0)
            Report(dropped, run.index, st, DropReason::NoMatchingTrack);
        else
            run.extra_slot[i] = match;
    }
    run.held_extra.resize(out.extras.size());
    return true;
}

bool PlanReencodedTracks(const EncodeTargets& targets, std::vector<DroppedTrack>* dropped, JobOutput& out, InputRun& run)
{
    const AVFormatContext* in = run.in.format.get();
    run.extra_slot.assign(in->nb_streams, -1);
    std::vector<int> nth(AVMEDIA_TYPE_NB, 0);  // tracks of each kind of this input so far
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* st = in->streams[i];
        const AVMediaType kind = st->codecpar->codec_type;
        if (IsMain(run.in, static_cast<int>(i)) || IsChapterTextTrack(in, st))
            continue;
        if (kind != AVMEDIA_TYPE_SUBTITLE && kind != AVMEDIA_TYPE_AUDIO) {
            Report(dropped, run.index, st, DropReason::NotReencoded);
            continue;
        }
        int slot = -1;
        if (out.header_written) {
            // A later input goes on in the output's track of its kind and order.
            for (size_t k = 0, seen = 0; k < out.extras.size() && slot < 0; ++k)
                if (out.extras[k].kind == kind && seen++ == static_cast<size_t>(nth[kind]))
                    slot = static_cast<int>(k);
            ++nth[kind];
            // Sound is decoded anyway; subtitles are converted from text, else copied.
            bool fits = slot >= 0;
            if (fits && kind == AVMEDIA_TYPE_SUBTITLE)
                fits = out.extras[slot].encoder ? IsTextSubtitle(st->codecpar->codec_id)
                                                : CanContinueStream(out.extras[slot].stream->codecpar, st->codecpar);
            if (!fits) {
                Report(dropped, run.index, st, DropReason::NoMatchingTrack);
                continue;
            }
        } else if (kind == AVMEDIA_TYPE_AUDIO) {
            ExtraTrack track;
            if (SoundTracksOf(out) >= MaxSoundTracks(out.ctx->oformat) ||
                !AddReencodedSound(targets, out.ctx.get(), st, &track)) {
                Report(dropped, run.index, st, DropReason::ContainerRefuses);
                continue;
            }
            slot = static_cast<int>(out.extras.size());
            out.extras.push_back(std::move(track));
        } else {
            const AVOutputFormat* format = out.ctx->oformat;
            const AVCodecID source = st->codecpar->codec_id;
            const bool as_is = avformat_query_codec(format, source, FF_COMPLIANCE_NORMAL) == 1 &&
                               !(IsMp4Family(format) && source != AV_CODEC_ID_MOV_TEXT);
            const AVCodecID target = IsTextSubtitle(source) ? TextSubtitleCodec(format, source) : AV_CODEC_ID_NONE;
            ExtraTrack track;
            track.kind = AVMEDIA_TYPE_SUBTITLE;
            track.stream = as_is ? AddExtraStream(out.ctx.get(), st)
                           : target != AV_CODEC_ID_NONE ? AddConvertedSubtitles(out.ctx.get(), st, target, &track.encoder)
                                                        : nullptr;
            if (!track.stream) {
                Report(dropped, run.index, st, DropReason::ContainerRefuses);
                continue;
            }
            slot = static_cast<int>(out.extras.size());
            out.extras.push_back(std::move(track));
        }
        run.extra_slot[i] = slot;
    }
    run.extra_decoders.clear();
    run.extra_decoders.resize(out.extras.size());
    run.extra_resamplers.clear();
    run.extra_resamplers.resize(out.extras.size());
    for (size_t i = 0; i < run.extra_slot.size(); ++i) {
        const int slot = run.extra_slot[i];
        if (slot >= 0 && out.extras[slot].encoder) {
            run.extra_decoders[slot] = OpenStreamDecoder(in->streams[i]);
            if (!run.extra_decoders[slot])
                run.extra_slot[i] = -1;
        }
    }
    run.held_extra.resize(out.extras.size());
    return true;
}

std::vector<std::vector<int>> ExtraTrackLayout(const AVFormatContext* in)
{
    std::vector<std::vector<int>> layout(AVMEDIA_TYPE_NB);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* st = in->streams[i];
        const AVMediaType kind = st->codecpar->codec_type;
        if ((kind == AVMEDIA_TYPE_AUDIO || kind == AVMEDIA_TYPE_SUBTITLE || kind == AVMEDIA_TYPE_DATA) &&
            !IsChapterTextTrack(in, st))
            layout[kind].push_back(st->codecpar->codec_id);
    }
    return layout;
}
