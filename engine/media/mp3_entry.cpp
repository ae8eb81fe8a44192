// SPDX-License-Identifier: GPL-3.0-or-later
#include "mp3_entry.h"

#include <cstring>

#include "lead_cues.h"
#include "media_time.h"
#include "seek.h"

namespace {

constexpr int kHeaderBytes = 4;
constexpr int kCrcBytes = 2;

// The fields of a Layer III frame header that size and lay out the frame.
struct FrameLayout {
    uint32_t header = 0;
    bool mpeg1 = false;  // else MPEG-2 or 2.5: one granule, 8 bits of reach
    bool crc = false;
    int sample_rate = 0;
    int channels = 0;
    int bitrate_index = 0;
    int bytes = 0;      // the whole frame
    int side_info = 0;  // bytes after the header and its checksum

    int DataStart() const { return kHeaderBytes + (crc ? kCrcBytes : 0) + side_info; }
};

// A frame reaches back at most 511 bytes; the frames of a second before
// hold them at any bitrate.
constexpr int kMaxReach = 511;
constexpr int64_t kLookBackUs = 1000000;

// Kilobits a second by bitrate index, Layer III.
constexpr int kMpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

int FrameBytes(bool mpeg1, int bitrate_index, int sample_rate, int padding)
{
    const int kbps = (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrate_index];
    return (mpeg1 ? 144000 : 72000) * kbps / sample_rate + padding;
}

// False for anything but a Layer III frame with a bitrate (free format is
// not sized by its header).
bool ReadLayout(const uint8_t* data, int size, FrameLayout* f)
{
    if (size < kHeaderBytes)
        return false;
    const uint32_t h = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
    const int version = (h >> 19) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = (h >> 17) & 3;    // 1: Layer III
    const int bitrate_index = (h >> 12) & 15;
    const int rate_index = (h >> 10) & 3;
    if ((h & 0xffe00000u) != 0xffe00000u || version == 1 || layer != 1 || bitrate_index == 0 ||
        bitrate_index == 15 || rate_index == 3)
        return false;
    static constexpr int kRates[3] = {44100, 48000, 32000};
    f->header = h;
    f->mpeg1 = version == 3;
    f->crc = ((h >> 16) & 1) == 0;
    f->sample_rate = kRates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    f->channels = ((h >> 6) & 3) == 3 ? 1 : 2;
    f->bitrate_index = bitrate_index;
    f->bytes = FrameBytes(f->mpeg1, bitrate_index, f->sample_rate, (h >> 9) & 1);
    f->side_info = f->mpeg1 ? (f->channels == 1 ? 17 : 32) : (f->channels == 1 ? 9 : 17);
    return f->bytes >= f->DataStart() && f->bytes <= size;
}

uint32_t Bits(const uint8_t* data, int at, int count)
{
    uint32_t v = 0;
    for (int i = 0; i < count; ++i)
        v = (v << 1) | ((data[(at + i) / 8] >> (7 - (at + i) % 8)) & 1);
    return v;
}

int ReachBack(const uint8_t* side_info, const FrameLayout& f)
{
    return static_cast<int>(Bits(side_info, 0, f.mpeg1 ? 9 : 8));
}

// Bytes of main data the frame's own granules hold: the sum of their
// part2_3_length fields, which lie at fixed places of the side information
// (every granule and channel takes 59 bits in MPEG-1, 63 in MPEG-2).
int OwnDataBytes(const uint8_t* side_info, const FrameLayout& f)
{
    const int granules = f.mpeg1 ? 2 : 1;
    const int private_bits = f.mpeg1 ? (f.channels == 1 ? 5 : 3) : (f.channels == 1 ? 1 : 2);
    const int first = (f.mpeg1 ? 9 + 4 * f.channels : 8) + private_bits;
    const int step = f.mpeg1 ? 59 : 63;
    int bits = 0;
    for (int g = 0; g < granules * f.channels; ++g)
        bits += static_cast<int>(Bits(side_info, first + g * step, 12));
    return (bits + 7) / 8;
}

// The shortest bitrate of the frame's kind that holds `needed` bytes.
bool PickLength(const FrameLayout& f, int needed, int* bitrate_index, int* padding)
{
    for (int b = 1; b < 15; ++b)
        for (int pad = 0; pad <= 1; ++pad)
            if (FrameBytes(f.mpeg1, b, f.sample_rate, pad) >= needed) {
                *bitrate_index = b;
                *padding = pad;
                return true;
            }
    return false;
}

}  // namespace

int Mp3BytesReachedBack(const uint8_t* data, int size)
{
    FrameLayout f;
    if (!data || !ReadLayout(data, size, &f))
        return -1;
    return ReachBack(data + kHeaderBytes + (f.crc ? kCrcBytes : 0), f);
}

std::vector<uint8_t> Mp3MainData(const uint8_t* data, int size)
{
    std::vector<uint8_t> main;
    FrameLayout f;
    for (int at = 0; data && ReadLayout(data + at, size - at, &f); at += f.bytes)
        main.insert(main.end(), data + at + f.DataStart(), data + at + f.bytes);
    return main;
}

bool MakeMp3FrameSelfContained(AVPacket* pkt, const std::vector<uint8_t>& before)
{
    FrameLayout f;
    if (!pkt || !pkt->data || !ReadLayout(pkt->data, pkt->size, &f))
        return false;
    const uint8_t* side_info = pkt->data + kHeaderBytes + (f.crc ? kCrcBytes : 0);
    const int reach = ReachBack(side_info, f);
    if (reach == 0)
        return true;
    if (static_cast<size_t>(reach) > before.size())
        return false;
    // Its main data, then what frames after it reach back for.
    std::vector<uint8_t> data(before.end() - reach, before.end());
    data.insert(data.end(), pkt->data + f.DataStart(), pkt->data + f.bytes);
    const int own = OwnDataBytes(side_info, f);
    const int needed = kHeaderBytes + f.side_info + static_cast<int>(data.size());
    int bitrate_index = 0, padding = 0;
    if (own > static_cast<int>(data.size()) || !PickLength(f, needed, &bitrate_index, &padding))
        return false;
    const int length = FrameBytes(f.mpeg1, bitrate_index, f.sample_rate, padding);
    // The filler goes between its own data and the next frames' reach, so
    // that both stay where they are read from.
    data.insert(data.begin() + own, static_cast<size_t>(length - needed), 0);

    PacketPtr rebuilt = MakePacket();
    const int rest = pkt->size - f.bytes;  // further frames of the packet
    if (!rebuilt || av_new_packet(rebuilt.get(), length + rest) < 0 || av_packet_copy_props(rebuilt.get(), pkt) < 0)
        return false;
    uint8_t* out = rebuilt->data;
    // No checksum (it covered the old header), the new length, no reach.
    const uint32_t header = (f.header & ~((0xfu << 12) | (1u << 9))) | (1u << 16) |
                            (static_cast<uint32_t>(bitrate_index) << 12) | (static_cast<uint32_t>(padding) << 9);
    for (int i = 0; i < kHeaderBytes; ++i)
        out[i] = static_cast<uint8_t>(header >> (24 - 8 * i));
    std::memcpy(out + kHeaderBytes, side_info, static_cast<size_t>(f.side_info));
    out[kHeaderBytes] = 0;  // the reach: 9 bits in MPEG-1, 8 in MPEG-2
    if (f.mpeg1)
        out[kHeaderBytes + 1] &= 0x7f;
    std::memcpy(out + kHeaderBytes + f.side_info, data.data(), data.size());
    if (rest > 0)
        std::memcpy(out + length, pkt->data + f.bytes, static_cast<size_t>(rest));
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, rebuilt.get());
    return true;
}

std::vector<uint8_t> ReadMp3MainDataBefore(const AVFormatContext* opened, int stream, int64_t pts)
{
    std::vector<uint8_t> main;
    if (!opened || stream < 0 || static_cast<unsigned>(stream) >= opened->nb_streams || pts == AV_NOPTS_VALUE)
        return main;
    InputContextPtr again = OpenAgain(opened);
    if (!again)
        return main;
    AVFormatContext* format = again.get();
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const AVRational tb = format->streams[stream]->time_base;
    SeekAtOrBefore(format, stream, ToMicroseconds(pts, tb) - kLookBackUs);
    PacketPtr pkt = MakePacket();
    while (pkt && av_read_frame(format, pkt.get()) >= 0) {
        const bool before = pkt->stream_index == stream && pkt->pts != AV_NOPTS_VALUE && pkt->pts < pts;
        const bool past = pkt->stream_index == stream && pkt->pts != AV_NOPTS_VALUE && pkt->pts >= pts;
        if (before) {
            const std::vector<uint8_t> data = Mp3MainData(pkt->data, pkt->size);
            main.insert(main.end(), data.begin(), data.end());
            if (main.size() > 4 * kMaxReach)
                main.erase(main.begin(), main.end() - kMaxReach);
        }
        av_packet_unref(pkt.get());
        if (past)
            break;
    }
    return main;
}
