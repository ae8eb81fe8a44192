// SPDX-License-Identifier: GPL-3.0-or-later
// The containers the engine writes, and what each can take and needs: one
// table every path reads (copy, re-encode, exact cut, tracks, chapters).
// Only single-file muxers are in it: a segmenting, playlist or
// image-sequence muxer (HLS, DASH, segment, image2) would write files beside
// the output, so no file name can choose one.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/codec_id.h>
#include <libavformat/avformat.h>
}

// Where a container's chapters must be known.
enum class ChapterPlace {
    None,        // it holds none
    Reserved,    // a place made with the header, the list set by the trailer (MP4's chapter track)
    HeaderOnly,  // with the header alone: ASF rewrites its header at the end in the same size
    Trailer,     // whenever, up to the trailer (Matroska)
};

// Which pictures an exact cut can re-encode into it: a set of these.
enum ExactCodec : unsigned {
    kExactNone = 0,
    kExactH264 = 1,
    kExactHevc = 2,
    kExactMpeg4 = 4,
    kExactMpeg2 = 8,
    kExactVp9 = 16,
    kExactAv1 = 32,
};

struct ContainerRules {
    const char* muxer;   // the muxer's own name
    const char* family;  // muxers that write the same kind of file as one demuxer reads
    // QuickTime/MP4 boxes: the track timing can hide a sound lead-in, text
    // subtitles are only mov_text, chapters go in a text track.
    bool mp4_family;
    // Encoders must give their codec headers out of band (extradata).
    bool global_header;
    ChapterPlace chapters;
    unsigned exact;  // ExactCodec bits
};

// The rules of `format`; null when the engine does not write that container.
const ContainerRules* RulesOf(const AVOutputFormat* format);
const ContainerRules* RulesOfMuxer(const char* muxer_name);
// The rules of the container a file name's extension names: the one place
// a container is told from a name. Null for a name the table does not hold.
const ContainerRules* RulesOfFileName(const char* name);

// The muxer a direct copy of `input` writes: the one its own demuxer's
// family writes (the brand picks QuickTime, MP4 or 3GP; a program stream of
// MPEG-1 pictures stays MPEG-1), or the family member `output_path`'s
// extension names when that takes the input's codecs. Never a muxer outside
// the table, whatever the names say. Null when none can store the input's
// codecs: such a file can only be re-encoded.
const AVOutputFormat* DirectOutputFormat(const AVFormatContext* input, const char* output_path);
// Whether `format`'s muxer writes `id` so that it reads back. Some muxers
// list codecs in their tag tables that they cannot write.
bool MuxerWritesCodec(const AVOutputFormat* format, AVCodecID id);
// The muxer a re-encode writes: the chosen format's, named by the output's
// extension (which the launch took from the format). Null when not in the table.
const AVOutputFormat* ReencodeOutputFormat(const char* output_path);

// Encoders writing into `format` put their headers in extradata.
bool NeedsGlobalHeader(const AVOutputFormat* format);
bool IsMp4Family(const AVOutputFormat* format);
// The chapters must be given before the header is written.
bool ChaptersBeforeHeader(const AVOutputFormat* format);
// The chapters may still be set at the trailer.
bool ChaptersAtTrailer(const AVOutputFormat* format);

// The language code `format` keeps `language` (ISO 639-2) under: QuickTime
// knows only the codes of its own list, spelt as its muxer spells them
// ("ger" for "deu", but "fra" for "fre"), and writes any other as no
// language at all.
std::string ContainerLanguage(const AVOutputFormat* format, const std::string& language);

// Matroska keeps a cover picture as an attachment: given as a picture
// stream, its muxer would write a track of one still picture.
bool CoverPicturesAsAttachments(const AVOutputFormat* format);

// How many sound tracks `format` holds (FLV one).
int MaxSoundTracks(const AVOutputFormat* format);

// The container keeps no times: the n-th packet of a stream is decoded
// after the n-1 before it (AVI). Sound cannot start before the picture
// there, and every stream starts at the file's start.
bool TimesByPlace(const AVOutputFormat* format);
// The same of the file `input` reads: its packets carry the times of their
// places only, and a byte seek starts them again at zero.
bool TimesByPlace(const AVFormatContext* input);

// A sound encoder puts samples of its own before the sound it is given (its
// priming), which decoders play unless the container hides them. What each
// container does with them, so that what is heard stays with the picture:
// - the MP4 family hides them with an edit list: nothing to do;
// - AVI times its sound by packets (`TimesByPlace`): the priming is
//   played and the sound starts that much later (`PlayedPriming`, in samples);
// - every other container moves all its streams and chapters by the priming
//   (`PrimingShiftMicroseconds`), as its clock is finer than a picture.
int64_t PlayedPriming(const AVOutputFormat* format, const AVCodecContext* encoder);
int64_t PrimingShiftMicroseconds(const AVOutputFormat* format, const AVCodecContext* encoder);
