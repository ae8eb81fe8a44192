// SPDX-License-Identifier: GPL-3.0-or-later
#include "track_enabling.h"

#include <cstdint>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "container_rules.h"
#include "output_file.h"

namespace {

constexpr uint32_t kTrackEnabled = 0x000001;  // the track header's flag

constexpr uint32_t FourCc(const char (&s)[5])
{
    return static_cast<uint32_t>(s[0]) << 24 | static_cast<uint32_t>(s[1]) << 16 | static_cast<uint32_t>(s[2]) << 8 |
           static_cast<uint32_t>(s[3]);
}

uint64_t BigEndian(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

struct Box {
    uint32_t type = 0;
    int64_t body = 0;  // where its contents start
    int64_t end = 0;
};

// The boxes from `at` to `end`, one level.
std::vector<Box> BoxesIn(const OutputFile& file, int64_t at, int64_t end)
{
    std::vector<Box> boxes;
    uint8_t head[16];
    while (at + 8 <= end && file.ReadAt(at, head, 8)) {
        Box b;
        uint64_t size = BigEndian(head, 4);
        b.type = static_cast<uint32_t>(BigEndian(head + 4, 4));
        b.body = at + 8;
        if (size == 1) {
            if (!file.ReadAt(at + 8, head + 8, 8))
                break;
            size = BigEndian(head + 8, 8);
            b.body = at + 16;
        } else if (size == 0) {
            size = static_cast<uint64_t>(end - at);
        }
        if (size < static_cast<uint64_t>(b.body - at) || size > static_cast<uint64_t>(end - at))
            break;  // not a box: stop rather than read garbage
        b.end = at + static_cast<int64_t>(size);
        boxes.push_back(b);
        at = b.end;
    }
    return boxes;
}

const Box* Find(const std::vector<Box>& boxes, uint32_t type)
{
    for (const Box& b : boxes)
        if (b.type == type)
            return &b;
    return nullptr;
}

bool StaysOff(const AVStream* st)
{
    return st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && !(st->disposition & AV_DISPOSITION_DEFAULT);
}

}  // namespace

bool KeepUnmarkedSubtitlesOff(const AVFormatContext* ctx, OutputFile* file)
{
    if (!IsMp4Family(ctx->oformat) || ctx->nb_streams == 0 || !file)
        return true;
    bool any = false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        any = any || StaysOff(ctx->streams[i]);
    if (!any)
        return true;
    if (!file->Flush())
        return false;
    const Box* moov = nullptr;
    const std::vector<Box> top = BoxesIn(*file, 0, file->Size());
    if (!(moov = Find(top, FourCc("moov"))))
        return false;
    // The muxer writes one track per stream, in the streams' order (its own
    // chapter track after them).
    unsigned stream = 0;
    for (const Box& trak : BoxesIn(*file, moov->body, moov->end)) {
        if (trak.type != FourCc("trak"))
            continue;
        if (stream >= ctx->nb_streams)
            break;
        if (StaysOff(ctx->streams[stream++])) {
            const std::vector<Box> parts = BoxesIn(*file, trak.body, trak.end);
            const Box* tkhd = Find(parts, FourCc("tkhd"));
            uint8_t flags[4];  // version, then three bytes of flags
            if (!tkhd || !file->ReadAt(tkhd->body, flags, 4))
                return false;
            if ((flags[3] & kTrackEnabled) && !file->WriteByteAt(tkhd->body + 3, flags[3] & ~kTrackEnabled))
                return false;
        }
    }
    return true;
}
