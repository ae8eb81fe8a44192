// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut's worker, shared by the files that make it up: the source's
// classification and scan (exact_source.cpp), the re-encoded ends
// (exact_reencoded_ends.cpp), the copy between them into the output
// (exact_copy.cpp) and a series of spans in one file (exact_series.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "av_handles.h"
#include "coded_units.h"
#include "exact_cut_plan.h"
#include "job_outcome.h"
#include "job_output.h"
#include "job_plan.h"
#include "lead_cues.h"
#include "media_input.h"
#include "output_file.h"
#include "stream_copy.h"

namespace exact_cutting {

// A seek target: the file's first byte, not a time.
constexpr int64_t kFromFirstByte = INT64_MIN;

// Codec and container: true when an exact cut can be made, else `why` says
// why not.
bool ClassifySource(const AVFormatContext* input, const AVStream* st, const char* output_path, CutCodec* codec,
                    std::string* why);
// What the source spends on the scanned pictures, in bits a second; 0 when
// they span no time.
int64_t MeasuredBitRate(const std::vector<PacketFacts>& scan, AVRational time_base);
// MPEG-4 with B-pictures packed as DivX and Xvid store them: read unpacked.
bool ReadsUnpacked(const AVStream* st);
// Whether a packet brings parameter sets of its own before its picture.
bool CarriesParameterSets(CutCodec codec, const AVPacket* pkt, int length_size);
// Ends the HEVC coded sequence with this packet (once).
bool AppendEndOfSequence(AVPacket* pkt, int length_size);

// One re-encoded end of the cut: a decoder fed from a key picture, the
// pictures of [from, to) passed to an encoder of the source's kind.
struct ReencodedPart {
    CodecContextPtr dec;
    CodecContextPtr enc;
    int64_t from = 0, to = 0;
    // The first picture's time: the encoder counts from it, as its clock may
    // be coarser than the source's (MPEG-2: the picture rate) and a source's
    // pictures need not lie on that clock's ticks (a clock starting at 0.54 s).
    int64_t origin = AV_NOPTS_VALUE;
    int encoded = 0;
    bool flushed = false;
};

class ExactCutter {
public:
    ExactCutter(std::vector<InputPlan> inputs, int input, JobReports reports, MediaInput in,
                std::unique_ptr<OutputFile> file)
        : inputs_(std::move(inputs)), reports_(std::move(reports)), input_(input), file_(std::move(file)),
          in_(std::move(in))
    {
    }
    bool Run();
    bool ReencodesWholeSpan(bool* keys_lack_headers = nullptr);
    FailureReason reason() const { return reason_; }
    MediaInput TakeInput() { return std::move(in_); }
    // A chapter per span, named by its source times, instead of the source's.
    void ChapterPerPart(bool on) { part_chapters_ = on; }

    // A series: every span of the job, one after the other, in one file.
    bool StartSeries();
    bool CutSpan(int input, FailureReason* why);
    FailureReason FinishSeries(bool any_span_done);

private:
    // What a span of a series keeps from its scan to its turn.
    struct PlannedSpan {
        bool planned = false;
        FailureReason reason = FailureReason::NothingInSpan;
        int64_t seek_target = 0;
        std::vector<PacketFacts> scan;
        bool reached_eof = false;
        CutPlan plan;
        int64_t written_offset = INT64_MIN;  // where it went in the output
    };

    bool OpenSource();
    bool SetSpanLimits();
    bool PlanSpan();
    bool PicturesMissingFromSpan() const;
    void StoreSpan(PlannedSpan& span);
    void LoadSpan(PlannedSpan& span);
    void ResetSpanState();
    int64_t SeamOffset() const;
    int64_t Shift() const { return plan_.origin_pts - offset_; }
    std::vector<ChapterCopy> SeriesChapters() const;
    // A sound track of the file, the main one or another, as the span takes it.
    struct SpanSound {
        const AVStream* in = nullptr;
        AVStream* out = nullptr;
        AVRational clock{1, 1};    // of the times below and of the packets while they are placed
        int64_t from = 0, to = 0;  // the span, on the sound's clock
        int64_t fix = 0;           // the sound's own move at the span's seam
        bool placed = false;
        int64_t end = INT64_MIN;  // end of the sound written, output clock
        bool done = false;        // read up to the span's end
    };
    bool SoundInSpan(const AVPacket* pkt, const SpanSound& sound) const;
    bool MeetSoundBefore(AVPacket* pkt, SpanSound& sound);
    SpanSound* SoundOf(int stream_index);
    void StartSpanSounds();
    bool SpanSoundsRead(int past_main_sound) const;
    bool WritePendingVideo(bool end_sequence);
    CodecContextPtr OpenPartEncoder(int part);
    bool RecordPartSets(int part, const AVCodecContext* enc);
    bool PutParameterSetRecord();
    bool SeekVideo(int64_t target);
    int64_t FirstKeyPicture();
    bool SeekBeforeStart();
    bool Scan();
    void KeepSoundBeforeFirstPicture();
    void StartWithFirstDecoded();
    int64_t DerivedDts(int64_t pts) const;
    bool OpenOutput();
    bool UseUnpackedHeaders();
    bool FinishFile(bool keep);
    bool OpenEncoders();
    bool Process();
    bool VideoPacket(AVPacket* pkt, int index);
    bool AudioPacket(AVPacket* pkt, SpanSound& sound);
    void ExtraPacket(AVPacket* pkt, size_t k);
    LeadCues WriteLeadCues();
    bool FeedPart(ReencodedPart& part, const AVPacket* pkt);
    bool EncodeFrame(ReencodedPart& part, AVFrame* frame);
    bool DrainEncoder(ReencodedPart& part);
    bool WriteEncoded(ReencodedPart& part, AVPacket* pkt);
    bool MatchSourceDelay(AVPacket* pkt) const;
    int64_t ReencodedDtsLead() const;
    bool FinishHead();
    bool WriteHeld(bool last_of_head);
    bool WriteCopied(AVPacket* pkt);
    bool NeedsSourceSets(const AVPacket* pkt) const;
    bool PrependSourceParameterSets(AVPacket* pkt);
    bool WriteVideo(AVPacket* pkt);
    void Progress();
    bool Cancelled() const { return reports_.Cancelled(); }
    // H.264 from a configuration record: the re-encoded parts' SPS/PPS join
    // the source's there. Elsewhere every part carries its own in band.
    bool SetsInRecord() const { return codec_ == CutCodec::H264 && length_size_ != kStartCodes; }

    std::vector<InputPlan> inputs_;  // the job's; each span of a series is one
    JobReports reports_;
    int input_;
    std::unique_ptr<OutputFile> file_;  // created by the launch, written here
    MediaInput in_;  // opened once by the caller
    CutCodec codec_ = CutCodec::H264;
    AVStream* vst_ = nullptr;
    AVStream* ast_ = nullptr;
    bool unpack_ = false;              // packed B-pictures read one a packet
    int length_size_ = 4;              // kStartCodes: units behind start codes, sets in band
    std::vector<Bytes> source_units_;  // the source's parameter sets, brought back after a re-encoded part
    int64_t seek_target_ = 0;
    std::vector<PacketFacts> scan_;
    bool reached_eof_ = false;
    CutPlan plan_;

    OutputContextPtr out_;
    bool header_written_ = false;
    AVStream* out_video_ = nullptr;
    AVStream* out_audio_ = nullptr;
    ReencodedPart head_, tail_;
    PacketPtr held_;  // the head's latest packet, written once the next is known
    std::deque<PacketPtr> waiting_copies_;  // copied packets read while the head still decodes
    bool head_done_ = false;
    int64_t last_video_dts_ = INT64_MIN;
    int copied_ = 0;
    std::vector<SpanSound> sounds_;  // the main sound first, then the others kept
    bool trims_sound_ = false;
    bool sound_by_place_ = false;
    std::vector<int> extra_in_;  // tracks besides the main ones, copied as they are
    std::vector<AVStream*> extra_out_;
    FailureReason reason_ = FailureReason::NotMedia;  // of the step that failed

    int64_t bit_rate_ = 0;       // the re-encoded parts', one for every span
    int ids_[2] = {1, 2};        // their H.264 parameter set ids, head and tail
    AvcConfig config_;           // the output's record: the source's sets and theirs
    std::vector<Bytes> part_sets_[2];
    bool source_sets_replaced_ = false;  // HEVC: re-encoded sets are the active ones

    bool series_ = false;
    bool part_chapters_ = false;
    std::vector<PlannedSpan> spans_;
    int loaded_ = -1;              // the span in plan_, scan_
    int spans_written_ = 0;
    bool broken_ = false;          // a span failed half written: the file is no result
    int64_t offset_ = 0;           // where the span starts in the output, video clock
    int64_t span_end_out_ = 0;     // where the last span written ends
    int64_t series_dts_shift_ = 0; // the largest head's decoding lead of the spans
    int video_written_ = 0;
    PacketPtr pending_video_;      // HEVC series: held to end its sequence at a seam
};

}  // namespace exact_cutting
