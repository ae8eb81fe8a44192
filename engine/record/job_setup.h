// SPDX-License-Identifier: GPL-3.0-or-later
// What a launch needs to turn a user's choices into a ConversionJob: the
// time texts, the output formats, the codec and frame-rate names, the output
// naming. Plain functions shared by the window and the command-line tool.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cut_list.h"
#include "job_plan.h"
#include "input_facts.h"
#include "join_check.h"

struct ConversionJob;

// Milliseconds <-> "HH:MM:SS.mmm" (hours may have more digits). The parse
// never fails: it reads each field as a count, as the edits always did.
std::string FormatTimeText(int64_t ms);
int64_t ParseTimeText(const std::string& text);

// A time as a user types it, read strictly: [[hours:]minutes:]seconds with
// an optional fraction of up to three digits (".5" is 500 ms); minutes and
// seconds after a colon below 60. Signs, other characters, empty fields and
// times past 100 million hours are refused (false).
bool ReadTimeText(const std::string& text, int64_t* ms);

// Text after the last '.', or from it with the dot; the whole text without '.'.
std::string FileExtension(const std::string& path);
std::string FileExtensionWithDot(const std::string& path);
// The name after the last '/', the whole path without one.
std::string FileNameOf(const std::string& path);

// name.ext, name(0).ext, name(1).ext, ... : the first that does not exist.
std::string MakeUniqueOutputName(const std::string& name,
                                 const std::function<bool(const std::string&)>& exists);
std::string MakeUniqueOutputName(const std::string& name);
bool FileExists(const std::string& path);

struct FormatEntry {
    const char* text;
    const char* video_codec_name;
    const char* audio_codec_name;
};
constexpr int kFormatCount = 7;
extern const FormatEntry FormatTable[kFormatCount];

struct CodecName {
    const char* name;
    int id;  // AVCodecID
};
extern const std::vector<CodecName> kCutVideoCodecs;
extern const std::vector<CodecName> kCutAudioCodecs;
extern const std::vector<CodecName> kJoinVideoCodecs;
extern const std::vector<CodecName> kJoinAudioCodecs;
// First case-sensitive match; false leaves *id untouched.
bool LookUpCodec(const std::vector<CodecName>& table, const std::string& name, int* id);

// "25.0 fps" -> 25; false for any other text (keep the source's rate).
bool FpsNameToValue(const std::string& name, double* value);

int ParseRateText(const std::string& text);  // "128 kbps" -> 128000, "44100 Hz" -> 44100
bool ParseSizeText(const std::string& text, int* width, int* height);  // "1280*720"
std::string CleanFileTitle(const std::string& text);
std::string FormatExtension(const std::string& entry_text);  // ".mp4"

// The options a cut or join settings dialog records.
struct EncodingChoice {
    bool direct = false;
    std::string video_codec_name;
    std::string audio_codec_name;
    int video_bit_rate = 0;
    int width = 0;
    int height = 0;
    std::string fps_name;
    int audio_bit_rate = 0;
    int sample_rate = 0;
    int channels = 0;
    bool exact = false;  // direct cuts: exact start and end
    bool part_chapters = false;  // spans in one file: a chapter per span instead of the source's
};

// What the dialogs select when they open.
EncodingChoice DefaultCutChoice(const std::string& keep_rate_text);
EncodingChoice DefaultJoinChoice();
// Codec words of one FormatTable entry into `choice`.
void ApplyFormatEntry(int entry, EncodingChoice* choice);

struct OutputTarget {
    std::string folder;
    std::string file_title;
    std::string extension;  // of the chosen format, with its dot
};

// One file of the join list, as numbers; the window formats them.
struct JoinRow {
    std::string path;
    int64_t duration_us = 0;
    int width = 0, height = 0;
    double fps = 0;   // pictures a second; 0 unknown
    InputFacts facts;  // what the probe found; read again when stale
};
// The row for a file just probed into `job`.
JoinRow MakeJoinRow(const std::string& path, const ConversionJob& job);
// The list's texts of a row: "HH:MM:SS.mmm", "width*height", "%5.2ffps".
std::string JoinRowLengthText(const JoinRow& row);
std::string JoinRowSizeText(const JoinRow& row);
std::string JoinRowRateText(const JoinRow& row);

enum class LaunchRefusal {
    None,
    TooFewInputs,     // a join needs two checked files
    TooManyInputs,    // more than the record holds
    NotSameKind,      // direct join of files of different kinds
    NoFileExtension,  // a direct job cannot name its container
    NeedsReencoding,  // no container can take a direct copy of the file's codecs
    EmptySpan,        // a cut that ends at or before its start
    BadTime,          // a start or end that is not a time
    DiffersFromFirst, // direct join: a file's streams cannot follow the first's
    OutputNotCreated, // the output file cannot be made (job->output_error says why)
    TrackLayoutDiffers,  // direct join of files whose tracks differ (JoinMismatch::tracks says how)
    SpansOverlap,        // two spans of one cut share time
};

// The file a separate span is written to: title-1, title-2, ... (a taken
// name then gets (0), (1)... as every output does); one span keeps the title.
std::string SpanFileTitle(const std::string& title, int span, int span_count);

// A cut from start to end can hold something: it ends after it starts, and
// it starts before the file's end (a duration of 0 or less is unknown).
bool CutSpanIsPossible(int64_t start_ms, int64_t end_ms, int64_t duration_us);

// How a launch turned the user's choices into a job: its mode, its output
// container, and what the user should know before it runs.
struct LaunchDecision {
    JobMode mode = JobMode::Copy;
    std::string container;  // the output's extension, with its dot
    bool exact_fell_back = false;  // exact asked for, but cut at key pictures
    std::string exact_why;         // why, in a few words
    bool exact_reencodes_whole = false;  // a span has no picture a copy can start at
    bool exact_keys_lack_headers = false;  // because its key pictures lack the stream's headers
    bool part_chapters_unkept = false;  // a chapter per span asked for, but the container holds none
};

// Closes and deletes the output file a launch created for a job that then
// never ran. Nothing happens when the worker has taken it over.
void ReleaseReservedOutput(ConversionJob* job);

// Fill the job for a cut / join exactly as the window's launches do, short of
// starting the worker. On success `output_path` is the file the job writes:
// it has just been created, empty, under the first free name, and the job
// holds it open for the worker. The input's facts (job->input_facts) are
// `facts` or the job's last probe while the file is unchanged, else the
// launch opens the file once to read them.
// The mode is decided here for the window and the tool alike (`decision`,
// when given, says what was decided): exact where ExactCutApplies, else a
// copy at key pictures; the exact spans are checked for a picture a copy
// can start at (the launch's one further look into the file).
LaunchRefusal FillCutJob(ConversionJob* job, const std::string& input_path,
                         const std::string& start_text, const std::string& end_text,
                         const OutputTarget& target, const EncodingChoice& choice,
                         std::string* output_path, const InputFacts* facts = nullptr,
                         LaunchDecision* decision = nullptr);
// Whether a file of `extension` (".mkv") holds chapters.
bool ContainerKeepsChapters(const std::string& extension);

// Several spans of one file in one job, in the order given: each span is an
// input of the same path. `separate` writes each into a file of its own, else
// all go into one file, with a chapter per span when the choice asks for it
// and the container holds chapters. On success `output_paths` holds the files created.
LaunchRefusal FillSpansJob(ConversionJob* job, const std::string& input_path, const std::vector<CutSpan>& spans,
                           const OutputTarget& target, const EncodingChoice& choice, bool separate,
                           std::vector<std::string>* output_paths, const InputFacts* facts = nullptr,
                           LaunchDecision* decision = nullptr);
// Checked rows only, in row order. Sizes are checked before anything is filled.
LaunchRefusal CheckJoinRows(const std::vector<JoinRow>& rows, bool direct);
// A direct join whose files differ in what a copy needs is refused with
// DiffersFromFirst, one whose other tracks differ with TrackLayoutDiffers;
// `mismatch` (when given) says which file and how, from the one look at the
// files the launch made.
LaunchRefusal FillJoinJob(ConversionJob* job, const std::vector<JoinRow>& rows,
                          const OutputTarget& target, const EncodingChoice& choice,
                          std::string* output_path, JoinMismatch* mismatch = nullptr);

// The last writes before the worker starts.
void MarkJobStarting(ConversionJob* job, bool join);
