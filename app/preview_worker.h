// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cut file's picture decoder. A picture that takes long to reach (a jump
// into a group of pictures) is decoded on a thread of its own, so the window
// never waits for it; any newer request stops that decode first and the
// newest one wins.

#include "background_scan.h"
#include "preview_decoder.h"

#include <cstdint>
#include <functional>
#include <memory>

class PreviewWorker : public BackgroundScan {
public:
    // Called on the window's thread with a picture decoded in the background.
    using Shown = std::function<void(const PreviewPicture&)>;

    explicit PreviewWorker(QObject* parent = nullptr) : BackgroundScan(parent) {}
    // The thread stops before the decoder it uses goes.
    ~PreviewWorker() override { Stop(); }

    // Opens `path`'s picture, fitted into a box of the size given; a probe code.
    int Open(const char* path, int box_width, int box_height);
    int64_t OriginUs() const { return m_decoder ? m_decoder->OriginUs() : 0; }
    // Whether the pictures are fitted into this box already.
    bool HasBox(int box_width, int box_height) const;
    void SetBox(int box_width, int box_height);

    // The key picture at or before `time_us`, decoded here and now.
    bool KeyPictureAt(int64_t time_us, PreviewPicture* out);
    // Whether PictureAt has to seek to a key picture first.
    bool IsJump(int64_t time_us);

    enum class Result { Shown, Later, Failed };
    // The picture at `time_us`: into `out` at once when it is kept or a few
    // pictures on (Shown), else decoded on the thread and handed to `later`
    // unless a newer request came first (Later).
    Result PictureAt(int64_t time_us, PreviewPicture* out, Shown later);
    // A picture is being decoded, or decoded and not yet handed over.
    bool Pending() const { return m_pending; }
    // Stops a decode in flight and drops its picture: the decoder is the window's alone.
    void Stop();

private:
    std::unique_ptr<PreviewDecoder> m_decoder;
    bool m_pending = false;
};
