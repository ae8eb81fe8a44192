// SPDX-License-Identifier: GPL-3.0-or-later
// What a media file holds, as the ffmpeg and ffprobe programs decode it:
// nothing of the engine judges its own output. The matrix's sources carry
// each picture's number in its pixels and beep at every whole second, so
// the pictures, their order and the sound's sync are read, not guessed.
#pragma once

#include <string>
#include <vector>

namespace oracle {

constexpr double kFps = 25;  // of every source

struct Track {
    std::string kind;  // video, audio, subtitle, attachment, data
    std::string codec, language, title;
    bool is_default = false, forced = false;
    int sample_rate = 0;
};

struct Picture {
    double t = 0;     // presentation time, seconds
    int number = -1;  // the source picture it shows, -1 unreadable
    bool key = false;
};

// One sound track as a player plays it: sample after sample from its first.
struct Sound {
    double start_s = 0;
    double played_s = 0;
    std::vector<double> beeps;  // onsets, seconds on the file's clock
};

struct Chapter {
    double start_s = 0, end_s = 0;
    std::string title;
};

struct Cue {
    int track = 0;  // among the file's subtitle tracks
    double start_s = 0, end_s = 0;
};

// A run of pictures numbered one after the other: what one input or span
// gave. sync_ms is the worst gap between a beep and the picture of its
// second within the run (sound late is positive), per sound track.
struct Segment {
    int first = 0, last = 0;
    double start_s = 0;
    std::vector<double> worst_sync_ms;
    std::vector<int> beeps_missing;  // whole seconds shown without their beep
};

// A whole second's picture and how far its beep is from it (sound late is
// positive), in the run it belongs to.
struct BeepSync {
    int number = 0;
    size_t segment = 0;
    double ms = 0;
};

struct Facts {
    bool opened = false;
    double start_s = 0;  // the container's clock at its start
    std::vector<Track> tracks;
    std::vector<Picture> pictures;
    std::vector<Sound> sounds;
    std::vector<Chapter> chapters;
    std::vector<Cue> cues;
    std::string complaints;  // the decoders' error output, empty when clean
    std::vector<Segment> segments;
    std::vector<std::vector<BeepSync>> beep_syncs;  // per sound track
    int unreadable = 0;  // pictures whose number does not read back
    int Count(const std::string& kind) const;
    // The pictures' numbers as runs: "38-106", "0-149 0-149", "x" for unreadable.
    std::string Runs() const;
    // a:deu a:eng* s:fra! t v: each track's kind, language, default (*) and
    // forced (!), in order of the words; data tracks (an MP4's chapter
    // text) are left out
    std::string TrackSignature() const;
    double WorstSyncMs() const;
    // Sound `k`'s beep at picture `number`, NAN where none is heard.
    double SyncAtPicture(size_t k, int number) const;
    double VideoEndS() const;
};

// Decodes every stream of `path`; `scratch` is a folder for the raw decodes.
Facts Examine(const std::string& path, const std::string& scratch);

// The presentation times of a file's key pictures, in the order read.
std::vector<double> KeyPictureTimes(const std::string& path);

// A command's standard output; its error output goes to `errors` when given.
std::string Run(const std::string& command, int* exit_code = nullptr, std::string* errors = nullptr);
std::string Quoted(const std::string& s);

}  // namespace oracle
