// What a user checks of an output: it opens, it decodes, it lasts as long as
// asked, and its sound and picture end together.
#pragma once

#include <string>

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
    double audio_start_s = 0;
    double audio_end_s = 0;
    double VideoSeconds() const { return video_end_s - video_start_s; }
};

// Decodes the selected streams of `path` completely.
MediaFacts AnalyzeMedia(const std::string& path);

struct CliResult {
    int exit_code = -1;
    std::string output;  // stdout and stderr together
};
CliResult RunCli(const std::string& arguments);
