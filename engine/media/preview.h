// SPDX-License-Identifier: GPL-3.0-or-later
// The still picture behind the timeline: one decoded frame, written as the
// snapshot JPEG that the main window draws.
#pragma once

#include <string>

struct AVFrame;
struct ConversionJob;

constexpr int kSnapshotWidth = 320;
constexpr int kSnapshotHeight = 240;
constexpr int kSnapshotQuality = 80;

// Decodes the picture at start_s[current_input] of probe_path (the key frame
// at or before it) and writes it to snapshot_path. A time seek adds the
// container start time to start_s[current_input]. Returns true when a
// snapshot was written; otherwise the snapshot file keeps its old content.
bool DecodePreviewFrame(ConversionJob* job);
bool DecodePreviewFrame();  // on g_pJob

// Writes the first 320x240 RGB24 rows of `picture` as a baseline JPEG. The
// file is written under a new name beside `path` and renamed over it only
// once complete, so a failure never leaves a half-written snapshot and never
// touches `path`.
bool WriteSnapshotJpeg(const wchar_t* path, const AVFrame* picture);

// UTF-8 form of a wide path (UTF-16 or UTF-32, as wchar_t is); unpaired
// surrogates become U+FFFD, except the byte escapes of BytesToWide, which
// become their bytes again.
std::string WideToUtf8(const wchar_t* text);

// A path of any bytes as a wide string that WideToUtf8 turns back into the
// very same bytes, whatever the locale: UTF-8 sequences are decoded, every
// other byte b is kept as U+DC00 + b.
std::wstring BytesToWide(const std::string& bytes);
