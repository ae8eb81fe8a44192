// SPDX-License-Identifier: GPL-3.0-or-later
// Owners for the FFmpeg handles: each deleter adapts the library's T** free
// function, so every path out of a function releases what it opened.
#pragma once

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/dict.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct InputContextDeleter {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* pkt) const { av_packet_free(&pkt); }
};
struct ScalerDeleter {
    void operator()(SwsContext* sws) const { sws_freeContext(sws); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* swr) const { swr_free(&swr); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};
struct BitstreamFilterDeleter {
    void operator()(AVBSFContext* bsf) const { av_bsf_free(&bsf); }
};
struct AvMemoryDeleter {
    void operator()(void* p) const { av_free(p); }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;
using AvBufferPtr = std::unique_ptr<uint8_t, AvMemoryDeleter>;
using BitstreamFilterPtr = std::unique_ptr<AVBSFContext, BitstreamFilterDeleter>;

inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }

// Gives `par` a copy of `size` bytes as its codec headers, padded as the
// decoders need; false (and no headers) when memory runs out.
inline bool ReplaceExtradata(AVCodecParameters* par, const uint8_t* data, size_t size)
{
    av_freep(&par->extradata);
    par->extradata_size = 0;
    par->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    if (size > 0)
        std::memcpy(par->extradata, data, size);
    par->extradata_size = static_cast<int>(size);
    return true;
}

// Output muxer: closes the file it opened (if any) and frees the context.
// Writing the trailer is the worker's decision, not the destructor's. A
// writer the caller supplied stays the caller's.
struct OutputContextDeleter {
    void operator()(AVFormatContext* ctx) const
    {
        if (!ctx)
            return;
        if (ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE) && !(ctx->flags & AVFMT_FLAG_CUSTOM_IO))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
