// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

struct ConversionJob;
struct InputFacts;
struct MediaInput;
struct SourceRate;

// What the probe keeps of the file once its facts are read: nothing, or the
// open file, for a job that is launched straight after and reads it first.
enum class ProbeKeeps { Nothing, FileOpen };

// Opens job->probe_path, writes its facts into the probe fields and
// job->probe_facts (for the launch to reuse) and closes it again unless
// asked to keep it (probe_facts.held). Returns 0, or -1 (not a media
// container), -2 (no stream information), -4 (video stream without
// decoder), -5 (video decoder fails).
int ProbeMedia(ConversionJob* job, ProbeKeeps keeps = ProbeKeeps::Nothing);
int ProbeMedia();  // on g_pJob

// The base frame rate of the file's picture into the record's source_fps,
// source_fps_num and source_fps_den.
void RecordSourceRate(ConversionJob* job, const SourceRate& rate);

// Opens `path` once and reads its facts; returns the probe code.
int ReadInputFacts(const std::string& path, InputFacts* facts);

// The facts of `in`, just opened from `path`. Unless `keep_position`, the
// last step reads the file's tail through `in`, so its read position is
// lost: for an input about to close.
void TakeInputFacts(MediaInput& in, const std::string& path, InputFacts* facts, bool keep_position);
