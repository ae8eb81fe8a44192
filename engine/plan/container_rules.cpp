// SPDX-License-Identifier: GPL-3.0-or-later
#include "container_rules.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "media_input.h"

namespace {

using C = ChapterPlace;
// What an exact cut re-encodes into each container. Program streams take
// MPEG-2; MPEG-1 (VCD) is not re-encoded.
constexpr unsigned kNoExact = kExactNone;
constexpr unsigned kMp4Exact = kExactH264 | kExactHevc | kExactMpeg4;
constexpr unsigned kMkvExact = kMp4Exact | kExactMpeg2 | kExactVp9 | kExactAv1;
constexpr unsigned kTsExact = kExactH264 | kExactHevc | kExactMpeg2;

// muxer, family, MP4 family, global header, chapters, exact cut.
constexpr ContainerRules kContainers[] = {
    {"mp4", "mov", true, true, C::Reserved, kMp4Exact | kExactAv1},
    {"mov", "mov", true, true, C::Reserved, kMp4Exact},
    {"3gp", "mov", true, true, C::Reserved, kNoExact},
    {"3g2", "mov", true, true, C::Reserved, kNoExact},
    {"ipod", "mov", true, true, C::Reserved, kNoExact},
    {"ismv", "mov", true, true, C::Reserved, kNoExact},
    {"f4v", "mov", true, true, C::Reserved, kNoExact},
    {"psp", "mov", true, true, C::Reserved, kNoExact},
    {"matroska", "matroska", false, true, C::Trailer, kMkvExact},
    {"webm", "matroska", false, true, C::Trailer, kExactVp9 | kExactAv1},
    {"avi", "avi", false, false, C::None, kExactMpeg4},
    {"flv", "flv", false, true, C::None, kNoExact},
    {"asf", "asf", false, true, C::HeaderOnly, kNoExact},
    {"asf_stream", "asf", false, true, C::HeaderOnly, kNoExact},
    {"mpegts", "mpegts", false, false, C::None, kTsExact},
    {"mpeg", "mpeg", false, false, C::None, kExactMpeg2},
    {"vob", "mpeg", false, false, C::None, kExactMpeg2},
    {"dvd", "mpeg", false, false, C::None, kExactMpeg2},
    {"svcd", "mpeg", false, false, C::None, kExactMpeg2},
    {"vcd", "mpeg", false, false, C::None, kNoExact},
    {"ogg", "ogg", false, false, C::None, kNoExact},
    {"oga", "ogg", false, false, C::None, kNoExact},
    {"opus", "ogg", false, false, C::None, kNoExact},
    {"nut", "nut", false, true, C::None, kNoExact},
    {"mxf", "mxf", false, false, C::None, kNoExact},
    {"gxf", "gxf", false, false, C::None, kNoExact},
    {"dv", "dv", false, false, C::None, kNoExact},
    {"rm", "rm", false, false, C::None, kNoExact},
    {"wtv", "wtv", false, false, C::None, kNoExact},
    {"mp3", "mp3", false, false, C::None, kNoExact},
    {"wav", "wav", false, false, C::None, kNoExact},
    {"w64", "wav", false, false, C::None, kNoExact},
    {"flac", "flac", false, false, C::None, kNoExact},
    {"adts", "adts", false, false, C::None, kNoExact},
    {"ac3", "ac3", false, false, C::None, kNoExact},
    {"eac3", "eac3", false, false, C::None, kNoExact},
    {"caf", "caf", false, false, C::None, kNoExact},
    {"aiff", "aiff", false, false, C::None, kNoExact},
};

const ContainerRules* RulesOfName(const std::string& name)
{
    for (const ContainerRules& r : kContainers)
        if (name == r.muxer)
            return &r;
    return nullptr;
}

const AVOutputFormat* MuxerOf(const ContainerRules* rules)
{
    return rules ? av_guess_format(rules->muxer, nullptr, nullptr) : nullptr;
}

// The row of the demuxer that read `input`: the first of its comma-separated
// names that the table has, with the file's brand where one demuxer reads
// several (QuickTime, MP4, 3GP) and the picture codec of a program stream.
const ContainerRules* RulesOfInput(const AVFormatContext* input)
{
    const std::string names = input->iformat->name;
    if (names.rfind("mov,", 0) == 0) {
        const AVDictionaryEntry* brand = av_dict_get(input->metadata, "major_brand", nullptr, 0);
        const std::string b = brand ? brand->value : "";
        return RulesOfName(b.rfind("qt", 0) == 0    ? "mov"
                           : b.rfind("3g2", 0) == 0 ? "3g2"
                           : b.rfind("3g", 0) == 0  ? "3gp"
                           : b.empty()              ? "mov"
                                                    : "mp4");
    }
    if (names == "mpeg") {
        // A program stream of MPEG-2 pictures (camcorders, DVD) or MPEG-1 (VCD).
        int v = -1, a = -1;
        SelectStreams(input, &v, &a);
        const bool mpeg1 = v >= 0 && input->streams[v]->codecpar->codec_id == AV_CODEC_ID_MPEG1VIDEO;
        return RulesOfName(mpeg1 ? "mpeg" : "vob");
    }
    size_t from = 0;
    while (from < names.size()) {
        const size_t comma = names.find(',', from);
        if (const ContainerRules* r = RulesOfName(names.substr(from, comma == std::string::npos ? comma : comma - from)))
            return r;
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    return nullptr;
}

}  // namespace

bool MuxerWritesCodec(const AVOutputFormat* format, AVCodecID id)
{
    // The RealMedia muxer writes every sound header as AC-3's (cook comes
    // out with no sub-packet size) and wraps the demuxer's RealVideo slices
    // once more: no copied stream reads back. Such files are re-encoded.
    if (std::strcmp(format->name, "rm") == 0)
        return false;
    return avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL) != 0;  // negative: the muxer does not say
}

namespace {

bool TakesInputCodecs(const AVOutputFormat* format, const AVFormatContext* input)
{
    if (!format)
        return false;
    int v = -1, a = -1;
    SelectStreams(input, &v, &a);
    for (const int i : {v, a}) {
        if (i >= 0 && !MuxerWritesCodec(format, input->streams[i]->codecpar->codec_id))
            return false;
    }
    return v >= 0 || a >= 0;
}

}  // namespace

const ContainerRules* RulesOfMuxer(const char* muxer_name) { return muxer_name ? RulesOfName(muxer_name) : nullptr; }

const ContainerRules* RulesOf(const AVOutputFormat* format) { return format ? RulesOfName(format->name) : nullptr; }

const ContainerRules* RulesOfFileName(const char* name) { return RulesOf(av_guess_format(nullptr, name, nullptr)); }

const AVOutputFormat* DirectOutputFormat(const AVFormatContext* input, const char* output_path)
{
    const ContainerRules* own = RulesOfInput(input);
    if (!own)
        return nullptr;
    // The extension may pick another member of the input's own family (an
    // MP4 named .mov is written as QuickTime); a name outside it picks nothing.
    const ContainerRules* named = RulesOfFileName(output_path);
    if (named && std::strcmp(named->family, own->family) == 0) {
        const AVOutputFormat* format = MuxerOf(named);
        if (TakesInputCodecs(format, input))
            return format;
    }
    const AVOutputFormat* format = MuxerOf(own);
    return TakesInputCodecs(format, input) ? format : nullptr;
}

const AVOutputFormat* ReencodeOutputFormat(const char* output_path)
{
    return MuxerOf(RulesOfFileName(output_path));
}

bool NeedsGlobalHeader(const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    return rules ? rules->global_header : (format->flags & AVFMT_GLOBALHEADER) != 0;
}

bool IsMp4Family(const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    return rules && rules->mp4_family;
}

bool ChaptersBeforeHeader(const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    return rules && (rules->chapters == ChapterPlace::Reserved || rules->chapters == ChapterPlace::HeaderOnly);
}

bool ChaptersAtTrailer(const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    return !rules || rules->chapters != ChapterPlace::HeaderOnly;
}

std::string ContainerLanguage(const AVOutputFormat* format, const std::string& language)
{
    // QuickTime's own language list as its muxer spells it: a code it does
    // not spell so is written as no language. Each other ISO 639-2 code of
    // a language on that list, to the list's spelling (which mixes
    // bibliographic, terminology and two-letter codes).
    static const char* const kQuickTimeSpelling[][2] = {
        {"deu", "ger"}, {"nld", "dut"}, {"swe", "sve"}, {"ell", "gre"}, {"isl", "ice"}, {"hrv", "hr "},
        {"scr", "hr "}, {"zho", "chi"}, {"fao", "fo "}, {"gle", "iri"}, {"sqi", "alb"}, {"fre", "fra"},
        {"rum", "ron"}, {"cze", "ces"}, {"slo", "slk"}, {"srp", "sr "}, {"scc", "sr "}, {"mkd", "mac"},
        {"hye", "arm"}, {"kat", "geo"}, {"bod", "tib"}, {"pan", "pa "}, {"mya", "bur"},
        {"msa", "may"}, {"cym", "wel"}, {"eus", "baq"}};
    if (!format || std::strcmp(format->name, "mov") != 0)
        return language;
    for (const auto& pair : kQuickTimeSpelling)
        if (language == pair[0])
            return pair[1];
    return language;
}

bool CoverPicturesAsAttachments(const AVOutputFormat* format)
{
    const ContainerRules* rules = RulesOf(format);
    return rules && std::strcmp(rules->family, "matroska") == 0;
}

int MaxSoundTracks(const AVOutputFormat* format)
{
    return format && std::strcmp(format->name, "flv") == 0 ? 1 : INT_MAX;
}

namespace {

bool IsAviFamily(const ContainerRules* rules) { return rules && std::strcmp(rules->family, "avi") == 0; }

}  // namespace

bool TimesByPlace(const AVOutputFormat* format) { return IsAviFamily(RulesOf(format)); }

bool TimesByPlace(const AVFormatContext* input) { return IsAviFamily(RulesOfInput(input)); }

int64_t PlayedPriming(const AVOutputFormat* format, const AVCodecContext* encoder)
{
    return TimesByPlace(format) ? std::max(encoder->initial_padding, 0) : 0;
}

int64_t PrimingShiftMicroseconds(const AVOutputFormat* format, const AVCodecContext* encoder)
{
    if (IsMp4Family(format) || TimesByPlace(format) || encoder->initial_padding <= 0 ||
        encoder->sample_rate <= 0)
        return 0;
    return av_rescale(encoder->initial_padding, AV_TIME_BASE, encoder->sample_rate);
}
