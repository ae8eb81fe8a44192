// SPDX-License-Identifier: GPL-3.0-or-later
// The 00 00 01 start codes that open the headers and pictures of MPEG-1/2
// and MPEG-4 Part 2 streams (and H.264/HEVC units in Annex B).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kMpeg2PictureStart = 0x00;
constexpr uint8_t kMpeg4VopStart = 0xb6;

// Offset of the next 00 00 01 at or after `from`, `size` when none.
inline size_t FindStartCode(const uint8_t* p, size_t size, size_t from)
{
    for (size_t i = from; i + 2 < size; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)
            return i;
    return size;
}

// Offset of the byte after the first 00 00 01 `code`, `size` when none.
inline size_t AfterStartCode(const uint8_t* p, size_t size, uint8_t code)
{
    for (size_t at = FindStartCode(p, size, 0); at + 3 < size; at = FindStartCode(p, size, at + 3))
        if (p[at + 3] == code)
            return at + 4;
    return size;
}

// How many 00 00 01 `code` the data holds.
inline int CountStartCodes(const uint8_t* p, size_t size, uint8_t code)
{
    int n = 0;
    for (size_t at = FindStartCode(p, size, 0); at + 3 < size; at = FindStartCode(p, size, at + 3))
        n += p[at + 3] == code;
    return n;
}
