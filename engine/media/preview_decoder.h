// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline's picture: exactly the picture shown at a time, decoded from
// the key picture before it. The decoder and its place in the file are kept
// between requests, so a step forward decodes one picture, and the pictures
// decoded last are kept, so a step back within them decodes none.
#pragma once

#include "av_handles.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// A picture fitted into the preview box at its display shape (sample aspect
// and rotation), with black bars: RGB24 rows of box_width * 3 bytes.
struct PreviewPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    int64_t start_us = 0;  // when it is first shown, from the file's origin
    // Where the picture lies inside the bars, for drawing it into another box.
    int shown_x = 0, shown_y = 0, shown_width = 0, shown_height = 0;
};

// Writes `picture` as the snapshot JPEG at `path` (see WriteSnapshotJpeg):
// a picture of another size is fitted into the snapshot's box at its shape.
bool WritePreviewJpeg(const wchar_t* path, const PreviewPicture& picture);

class PreviewDecoder {
public:
    PreviewDecoder(int box_width, int box_height);
    ~PreviewDecoder();
    PreviewDecoder(const PreviewDecoder&) = delete;
    PreviewDecoder& operator=(const PreviewDecoder&) = delete;

    // Opens the picture of `path`; a probe code (kProbeOk when it can show it).
    int Open(const char* path);
    bool IsOpen() const { return dec_ != nullptr; }
    // The box pictures are fitted into from now on; the pictures kept for
    // stepping back are dropped when it changes.
    void SetBox(int box_width, int box_height);
    int BoxWidth() const { return box_width_; }
    int BoxHeight() const { return box_height_; }

    // The picture shown at `time_us` from the file's origin (its container
    // start): the last picture that starts at or before it. A decode that
    // `stopped` ends (asked between pictures) returns false and leaves the
    // decoder where it got to, so a later request decodes on from there.
    bool PictureAt(int64_t time_us, PreviewPicture* out, const std::function<bool()>& stopped = nullptr);
    // The key picture at or before `time_us`: one picture decoded, for a drag.
    // A PictureAt of the same time next decodes on from it.
    bool KeyPictureAt(int64_t time_us, PreviewPicture* out);
    // Whether PictureAt(time_us) has to seek and decode from a key picture,
    // the picture being neither kept nor reached by decoding on.
    bool IsJump(int64_t time_us) const;
    // Whether PictureAt(time_us) is kept or a few pictures of decoding on:
    // quick enough to wait for.
    bool IsQuick(int64_t time_us) const;

    // Pictures decoded since Open, those skipped unseen included.
    long long DecodedCount() const { return decoded_; }
    // Clockwise degrees the file asks its picture to be turned (0, 90, 180, 270).
    int Rotation() const { return rotation_; }
    // The file's origin (its container start), microseconds.
    int64_t OriginUs() const;

private:
    struct Cached {
        int64_t pts;
        int64_t next_pts;  // the picture after it; INT64_MAX while unknown or at the end
        PreviewPicture picture;
    };

    struct KeyShown {
        int64_t index_ts;  // the key picture's entry in the file's index
        PreviewPicture picture;
    };

    bool FindCached(int64_t pts, PreviewPicture* out) const;
    const Cached* CachedAt(int64_t pts) const;
    const AVIndexEntry* IndexedKeyAtOrBefore(int64_t pts) const;
    bool IsIndexedKey(const AVIndexEntry* key, int64_t pts) const;
    bool KeyPictureBetween(int64_t from, int64_t target) const;
    bool DecodesOn(int64_t target) const;
    void RememberKey(int64_t index_ts, const PreviewPicture& picture);
    bool Seek(int64_t pts);
    bool SeekToKeyBefore(int64_t target, int64_t decode_target);
    int64_t FurtherBack(int64_t seek_to, int64_t back) const;
    // The next picture in display order; false at the end of the stream.
    bool NextFrame(int64_t target);
    bool FillPicture(const AVFrame* frame, PreviewPicture* out);
    void Remember(int64_t pts, const AVFrame* frame);
    int64_t PtsOf(const AVFrame* frame);

    int box_width_ = 0, box_height_ = 0;
    size_t cache_limit_ = 0;  // pictures kept for stepping back
    InputContextPtr format_;
    CodecContextPtr dec_;
    int stream_ = -1;
    AVRational time_base_{1, 1};
    int64_t origin_pts_ = 0;   // the file's origin in the stream's time base
    int64_t frame_step_ = 1;   // one picture, in the stream's time base
    int rotation_ = 0;
    AVRational sample_aspect_{1, 1};
    bool trust_index_ = false;  // the file's index lists its key pictures

    PacketPtr packet_;
    FramePtr frame_;
    FramePtr scaled_;
    ScalerPtr scaler_;
    bool positioned_ = false;  // the decoder continues from its last picture
    bool draining_ = false;    // the file's end was read; the decoder empties
    bool skip_to_key_ = false; // after a seek, reading starts at a key picture
    int64_t last_pts_ = INT64_MIN;
    int64_t last_skipped_pts_ = INT64_MIN;  // latest picture sent since the seek that may be left undecoded
    // The decoder sits at the key picture KeyPictureAt showed for this time.
    int64_t at_key_for_ = INT64_MIN, at_key_pts_ = INT64_MIN;
    long long decoded_ = 0;
    std::deque<Cached> cache_;  // in display order, consecutive pictures
    std::deque<KeyShown> keys_shown_;  // oldest first
};
