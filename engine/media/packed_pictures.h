// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG-4 Part 2 with B-pictures as DivX and Xvid store it in AVI ("packed"):
// a B-picture rides in the packet of the reference picture decoded before
// it, and a placeholder picture of a few bytes (not coded) holds its place.
// A cut that joins re-encoded pictures to copied ones needs one picture a
// packet: unpacked, every packet holds the picture decoded at its place,
// its bytes as they were, and the headers lose the mark of the packed form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "av_handles.h"

class PackedPictureUnpacker {
public:
    // False when the library lacks the filter or it does not open.
    bool Open(const AVStream* st);
    // Replaces the packet by the picture decoded at its place, a key picture
    // only where it is an I-picture. AVERROR(EAGAIN) when it gives
    // none (the packet is then empty), another error when the filter fails.
    int Unpack(AVPacket* pkt);
    // The stream's parameters as the unpacked pictures need them.
    const AVCodecParameters* Parameters() const { return bsf_ ? bsf_->par_out : nullptr; }

private:
    BitstreamFilterPtr bsf_;
};

// Where the DivX user data before the first picture ends in the packed
// form's mark ("DivX503b1393p"), or -1.
long PackedMarkAt(const uint8_t* data, size_t size);
// Whether the headers or packet say the pictures are packed.
bool IsPackedMpeg4(const uint8_t* data, size_t size);
// Whether this library can unpack such a stream.
bool CanUnpackPackedPictures();
// Whether `par` is MPEG-4 with its B-pictures packed.
bool HasPackedPictures(const AVCodecParameters* par);
// A placeholder: one picture of no more than a few bytes, coded as nothing,
// holding the place of the B-picture packed in a packet before it. Xvid
// marks the one after a key picture as a key picture too.
bool IsPlaceholderPicture(const AVPacket* pkt);
// A packet that carries a B-picture packed behind its own picture.
bool CarriesPackedPicture(const AVPacket* pkt);
