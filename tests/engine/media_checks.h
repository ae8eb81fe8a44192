// SPDX-License-Identifier: GPL-3.0-or-later
// What a user checks of an output: it opens, it decodes, it lasts as long as
// asked, and its sound and picture end together.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "av_handles.h"

// A file the fixture scripts made; an absolute path stays as it is.
std::string FixturePath(const std::string& name);
// A fresh, empty folder for one test's outputs.
std::string MakeScratchFolder(const std::string& test_name);

struct MediaFacts {
    bool opened = false;
    int video_codec = 0;  // AVCodecID, 0 without video
    int audio_codec = 0;
    int width = 0;
    int height = 0;
    int video_frames = 0;   // pictures decoded
    int decode_errors = 0;  // packets or frames the decoders refused
    double video_start_s = 0;
    double video_end_s = 0;  // last picture's time + its duration, from the file's start
    double max_picture_gap_s = 0;  // longest time one picture stays on screen
    double min_picture_gap_s = 0;  // shortest, 0 with fewer than two pictures
    int pictures_out_of_order = 0;  // decoded with a time not after the one before
    double audio_start_s = 0;
    double audio_end_s = 0;
    double display_aspect = 0;  // width / height as shown, after the pixel aspect
    double audio_played_s = 0;  // all decoded samples played straight through
    double VideoSeconds() const { return video_end_s - video_start_s; }
};

// Decodes the selected streams of `path` completely.
MediaFacts AnalyzeMedia(const std::string& path);

// The luma of the first picture shown at or after `seconds`, scaled to
// width x height; empty when there is none.
std::vector<uint8_t> LumaAt(const std::string& path, double seconds, int width, int height);
double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Decodes the best video stream of `path` from its start and hands each
// picture, in presentation order, to `visit` with its time in seconds of the
// stream (whose time base goes to `*time_base` when given). False when the
// file, its video or its decoder does not open.
bool ForEachDecodedPicture(const std::string& path, const std::function<void(FramePtr picture, double t)>& visit,
                           AVRational* time_base = nullptr);

struct DecodedPicture {
    int64_t pts;  // best effort, in the stream's time base
    FramePtr frame;
};
// The pictures shown from `from_s` up to `to_s` (seconds of the stream), in
// presentation order, decoded from the file's start: the accurate reference
// for any start point.
std::vector<DecodedPicture> DecodedPictures(const std::string& path, AVRational* time_base = nullptr,
                                            double from_s = -1, double to_s = 1e9);

// What the command-line decoder says about a file: nothing, for a clean one.
std::string IndependentDecoderComplaints(const std::string& path);

// The sound mixed to mono, its frequency counted by zero crossings in each
// half second that is not silent.
struct ToneFacts {
    double seconds = 0;  // decoded length
    std::vector<double> window_hz;
    int WindowsNear(double hz, double tolerance) const;
};
ToneFacts AnalyzeTone(const std::string& path);

struct ConversionJob;
struct EncodingChoice;

// A job record as the window keeps it, filled and run the way a launch does.
class JobTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Cut(const std::string& name, const std::string& start, const std::string& end,
             const EncodingChoice& choice, const std::string& title = "cut",
             const std::string& extension = ".mp4");  // of the chosen format
    // `any_kind` lets a direct join take files the launch would refuse, to
    // see what the worker does with them.
    void Join(const std::vector<std::string>& names, const EncodingChoice& choice, bool any_kind = false);
    void Run(bool join);
    // A direct cut or join that every input must come through as done.
    void CutDirect(const std::string& name, const std::string& start, const std::string& end);
    void JoinDirect(const std::vector<std::string>& names);
    void ReplaceInput(int i, const std::string& path);
    uint8_t Status(int i) const;

    ConversionJob* job = nullptr;
    std::string folder;
    std::string output;
};

// A tmpfs of `kib` KiB on a fresh folder while the object lives, to see what
// a full disk does. Mounting needs root: otherwise path() is empty.
class SmallDisk {
public:
    SmallDisk(const std::string& name, int kib);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct CliResult {
    int exit_code = -1;
    std::string output;  // stdout and stderr together
};
CliResult RunCli(const std::string& arguments);
// A shell command's output, standard output and error together.
CliResult RunShell(const std::string& command);
std::string CommandOutput(const std::string& command);  // with its errors
std::string Quoted(const std::string& s);                // for the shell
