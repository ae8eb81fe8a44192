// SPDX-License-Identifier: GPL-3.0-or-later
// Picture scalers, set up the same way wherever a picture changes size.
#pragma once

#include "av_handles.h"

// sws_getCachedContext with no source or destination filter: reuses `old`
// when it already converts as asked, else frees it and returns a new one.
SwsContext* CachedScaler(SwsContext* old, int src_w, int src_h, AVPixelFormat src_format, int dst_w, int dst_h,
                         AVPixelFormat dst_format, int flags);

// A picture of `width` x `height` in `format` with its buffers allocated
// (rows aligned to `align` bytes, 0 for the CPU's best); null when it cannot be.
FramePtr MakePicture(int width, int height, AVPixelFormat format, int align = 0);
// An RGB24 picture of `width` x `height` with rows of exactly width * 3
// bytes (alignment 1), as the snapshot and the preview hand them on; null
// when it cannot be allocated.
FramePtr MakeRgbPicture(int width, int height);
