// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

#include "conversion_job.h"
#include "media_input.h"
#include "media_time.h"
#include "scaling.h"

namespace {

constexpr int kSnapshotRowBytes = kSnapshotWidth * 3;

// ---- JPEG ----------------------------------------------------------------

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// The library's own handler ends the process; the preview must only fail.
[[noreturn]] void ReturnToCaller(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

// Only plain C objects live in this frame, so a longjmp out of the library
// skips no destructor.
bool CompressRgbRows(std::FILE* file, const uint8_t* rows, int stride)
{
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ReturnToCaller;
    err.pub.output_message = IgnoreMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = kSnapshotWidth;
    cinfo.image_height = kSnapshotHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kSnapshotQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows + static_cast<size_t>(cinfo.next_scanline) * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);  // flushes and checks the stream for write errors
    jpeg_destroy_compress(&cinfo);
    return true;
}

// ---- Decoding -------------------------------------------------------------

// Rows of exactly 960 bytes, 230400 in all.
FramePtr MakeSnapshotPicture() { return MakeRgbPicture(kSnapshotWidth, kSnapshotHeight); }

// The demuxer then drops every other stream's packets unread.
void ReadOnlyStream(AVFormatContext* format, int keep)
{
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != keep)
            format->streams[i]->discard = AVDISCARD_ALL;
}

// The first complete picture after the seek, or false at the end of the input.
// `skip_to_key`: a seek may land anywhere in a group of pictures; some
// decoders drop the pictures before the next key frame, others (MPEG-4 part 2)
// paint them over grey.
bool DecodeFirstPicture(MediaInput& in, bool skip_to_key, AVFrame* picture)
{
    AVFormatContext* format = in.format.get();
    AVCodecContext* dec = in.video_dec.get();
    // Reorder delay holds a picture back until later ones are decoded; a key
    // frame of a progressive stream is whole by itself, so draining right after
    // it releases it without decoding anything more. Field pictures may arrive
    // one field per packet and must take the slow path.
    const bool drain_after_key = in.VideoStream()->codecpar->field_order == AV_FIELD_PROGRESSIVE;
    PacketPtr packet = MakePacket();
    if (!packet)
        return false;

    while (av_read_frame(format, packet.get()) >= 0) {
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        // An edit list's hidden lead-in is decoded for its references only:
        // its pictures never come out, so draining after one would lose them.
        const bool shown = !(packet->flags & AV_PKT_FLAG_DISCARD);
        if (packet->stream_index != in.video_index || (skip_to_key && !key)) {
            av_packet_unref(packet.get());
            continue;
        }
        skip_to_key = false;
        const int sent = avcodec_send_packet(dec, packet.get());
        av_packet_unref(packet.get());
        if (sent < 0)
            continue;  // a damaged packet: the next one may decode
        if (avcodec_receive_frame(dec, picture) >= 0)
            return true;
        if (key && shown && drain_after_key) {
            avcodec_send_packet(dec, nullptr);
            if (avcodec_receive_frame(dec, picture) >= 0)
                return true;
            avcodec_flush_buffers(dec);  // it gave nothing; go on reading
        }
    }
    // The end of a short file: the decoder may still hold its only pictures.
    avcodec_send_packet(dec, nullptr);
    return avcodec_receive_frame(dec, picture) >= 0;
}

bool ScaleToSnapshot(const AVFrame* decoded, AVFrame* snapshot)
{
    const auto format = static_cast<AVPixelFormat>(decoded->format);
    if (decoded->width <= 0 || decoded->height <= 0 || format == AV_PIX_FMT_NONE)
        return false;
    ScalerPtr scaler(CachedScaler(nullptr, decoded->width, decoded->height, format, kSnapshotWidth,
                                  kSnapshotHeight, AV_PIX_FMT_RGB24, SWS_BICUBIC));
    if (!scaler)
        return false;
    return sws_scale(scaler.get(), decoded->data, decoded->linesize, 0, decoded->height, snapshot->data,
                     snapshot->linesize) == kSnapshotHeight;
}

// A new file beside `target` under a name nobody uses: an existing file,
// whatever its name, is never opened for writing.
std::FILE* CreateFileBeside(const std::string& target, std::string* name)
{
    constexpr int kMaxTries = 1000;
    for (int i = 0; i < kMaxTries; ++i) {
        *name = target + ".part" + std::to_string(i);
        const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return nullptr;
        std::FILE* file = fdopen(fd, "wb");
        if (!file) {
            close(fd);
            std::remove(name->c_str());
        }
        return file;
    }
    return nullptr;
}

}  // namespace

std::string WideToUtf8(const wchar_t* text)
{
    std::string out;
    if (!text)
        return out;
    for (const wchar_t* p = text; *p; ++p) {
        uint32_t c = static_cast<uint32_t>(*p);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00) {
            const uint32_t low = static_cast<uint32_t>(p[1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++p;
            }
        }
        if (sizeof(wchar_t) == 4 && c >= 0xDC80 && c < 0xDD00) {
            out += static_cast<char>(c - 0xDC00);  // a byte BytesToWide kept as it was
            continue;
        }
        if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring BytesToWide(const std::string& bytes)
{
    std::wstring out;
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])); };
    for (size_t i = 0; i < bytes.size();) {
        const uint32_t b = byte(i);
        const int extra = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
        uint32_t c = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : b & 0x1F;
        bool valid = b >= 0x80 && extra > 0;
        for (int k = 1; valid && k <= extra; ++k) {
            valid = i + k < bytes.size() && (byte(i + k) & 0xC0) == 0x80;
            c = (c << 6) | (valid ? byte(i + k) & 0x3F : 0);
        }
        // Overlong forms and surrogates are not UTF-8 either.
        valid = valid && !(extra == 2 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) &&
                !(extra == 3 && (c < 0x10000 || c > 0x10FFFF));
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
        } else if (valid && sizeof(wchar_t) == 4) {
            out += static_cast<wchar_t>(c);
            i += extra + 1;
        } else {
            out += static_cast<wchar_t>(0xDC00 + b);
            ++i;
        }
    }
    return out;
}

bool WriteSnapshotJpeg(const wchar_t* path, const AVFrame* picture)
{
    if (!picture || !picture->data[0] || picture->linesize[0] < kSnapshotRowBytes)
        return false;
    const std::string target = WideToUtf8(path);
    if (target.empty())
        return false;
    std::string partial;
    std::FILE* file = CreateFileBeside(target, &partial);
    if (!file)
        return false;
    bool ok = CompressRgbRows(file, picture->data[0], picture->linesize[0]);
    ok = std::fclose(file) == 0 && ok;
    ok = ok && std::rename(partial.c_str(), target.c_str()) == 0;
    if (!ok)
        std::remove(partial.c_str());
    return ok;
}

namespace {

// Seeks to the previewed point, job->start_s[input] from the file's start,
// and moves that point onto the file's clock (job->input_start_s added).
// Sets job->seek_by_bytes when only a byte seek could position the file.
// Nothing happens for a start of 0.
void SeekToStartPoint(ConversionJob* job, AVFormatContext* format, int input)
{
    if (!(job->start_s[input] > 0))
        return;
    const int64_t start_us = MicrosecondsOfSeconds(job->start_s[input]);
    job->start_s[input] += job->input_start_s;
    job->seek_by_bytes = SeekToCutStart(format, start_us) == SeekMethod::Bytes ? 1 : 0;
}

}  // namespace

bool DecodePreviewFrame(ConversionJob* job)
{
    job->input_start_s = 0;
    job->video_stream_index = -1;
    job->seek_by_bytes = 0;
    const int input = job->current_input.load();
    if (!job->probe_path || !job->snapshot_path || input < 0 || input >= kMaxJobInputs)
        return false;

    MediaInput in;
    if (OpenPreviewInput(job->probe_path, in) != kProbeOk)
        return false;
    job->video_stream_index = in.video_index;
    if (!in.video_dec)
        return false;  // nothing to show; reading the audio to its end shows nothing either

    FramePtr decoded = MakeFrame();
    FramePtr snapshot = MakeSnapshotPicture();
    if (!decoded || !snapshot)
        return false;

    job->input_start_s = ContainerStartSeconds(in.format.get());
    ReadOnlyStream(in.format.get(), in.video_index);
    SeekToStartPoint(job, in.format.get(), input);
    if (!DecodeFirstPicture(in, job->start_s[input] > 0, decoded.get()))
        return false;
    if (!ScaleToSnapshot(decoded.get(), snapshot.get()))
        return false;
    return WriteSnapshotJpeg(job->snapshot_path, snapshot.get());
}

bool DecodePreviewFrame() { return DecodePreviewFrame(g_pJob); }
