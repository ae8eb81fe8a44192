// SPDX-License-Identifier: GPL-3.0-or-later
// The coded units inside H.264, HEVC and MPEG-4 video packets, and the
// configuration records (avcC / hvcC) that carry their parameter sets. Just
// enough parsing for an exact cut to join re-encoded and copied pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct CodedUnit {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Units behind 00 00 01 / 00 00 00 01 start codes (encoder output).
std::vector<CodedUnit> SplitStartCodeUnits(const uint8_t* data, size_t size);
// The length size of units behind start codes (transport streams, Annex B):
// the functions below then read and write start codes instead of lengths.
constexpr int kStartCodes = 0;
// Units behind big-endian lengths of `length_size` bytes (MP4 / Matroska).
// False when a length runs past the end.
bool SplitLengthUnits(const uint8_t* data, size_t size, int length_size, std::vector<CodedUnit>* units);
void AppendLengthUnit(Bytes& out, const uint8_t* data, size_t size, int length_size);
// Start-code units rewritten with length prefixes.
Bytes StartCodesToLengths(const uint8_t* data, size_t size, int length_size);

inline int H264UnitType(const CodedUnit& u) { return u.size ? u.data[0] & 0x1f : -1; }
inline int HevcUnitType(const CodedUnit& u) { return u.size ? (u.data[0] >> 1) & 0x3f : -1; }

constexpr int kH264Idr = 5;
constexpr int kH264Sps = 7;
constexpr int kH264Pps = 8;
constexpr int kH264Aud = 9;
constexpr int kHevcRaslN = 8;
constexpr int kHevcRaslR = 9;
constexpr int kHevcIrapFirst = 16;  // BLA_W_LP .. CRA_NUT
constexpr int kHevcIrapLast = 21;
constexpr int kHevcVps = 32;
constexpr int kHevcAud = 35;
constexpr int kHevcEndOfSequence = 36;

// The first unsigned Exp-Golomb value after `skip_bytes` of a unit's payload
// (emulation prevention removed); -1 when the unit is too short.
int ReadLeadingUe(const uint8_t* data, size_t size, size_t skip_bytes);
inline int H264SpsId(const Bytes& sps) { return ReadLeadingUe(sps.data(), sps.size(), 4); }
inline int H264PpsId(const Bytes& pps) { return ReadLeadingUe(pps.data(), pps.size(), 1); }

struct AvcConfig {
    uint8_t profile = 0, compatibility = 0, level = 0;
    int length_size = 4;
    std::vector<Bytes> sps, pps;
    Bytes rest;  // the chroma / bit-depth fields of the high profiles
};
bool ParseAvcConfig(const uint8_t* data, size_t size, AvcConfig* config);
Bytes WriteAvcConfig(const AvcConfig& config);

// hvcC: the NAL length size and every stored unit (VPS, SPS, PPS, SEI), in order.
bool ParseHevcConfig(const uint8_t* data, size_t size, int* length_size, std::vector<Bytes>* units);

// MPEG-2 video: the start codes an exact cut looks at, and what the
// sequence header (with its extension) says about rate and scanning.
constexpr int kMpeg2Picture = 0x00;
constexpr int kMpeg2SequenceHeader = 0xb3;
constexpr int kMpeg2Extension = 0xb5;
constexpr int kMpeg2Gop = 0xb8;
struct Mpeg2Sequence {
    int64_t bit_rate = 0;  // bits a second, as the header gives it
    int64_t vbv_bits = 0;  // the decoder's buffer
    bool progressive = true;
};
// False when `data` holds no sequence header.
bool ParseMpeg2Sequence(const uint8_t* data, size_t size, Mpeg2Sequence* seq);
// A sequence header comes before the first picture of the packet.
bool HasMpeg2SequenceHeader(const uint8_t* data, size_t size);

// MPEG-4 Part 2: a packet that carries its own video object layer header.
bool HasMpeg4VolHeader(const uint8_t* data, size_t size);
// Sets the low_delay flag of the packet's video object layer header: clear,
// a decoder shows each reference picture once the next one is decoded, as
// in a stream with B-pictures. False when the header does not carry the flag.
bool SetMpeg4LowDelay(uint8_t* data, size_t size, bool low_delay);

// AV1's open bitstream units, each with its size field as MP4 and Matroska
// store them (the header included in each unit). False when one runs past
// the end or has no size field.
bool SplitAv1Units(const uint8_t* data, size_t size, std::vector<CodedUnit>* units);
inline int Av1UnitType(const CodedUnit& u) { return u.size ? (u.data[0] >> 3) & 0x0f : -1; }
constexpr int kAv1SequenceHeader = 1;
constexpr int kAv1TemporalDelimiter = 2;
// The sequence headers of an av1C record's configuration units.
std::vector<Bytes> Av1ConfigSequenceHeaders(const uint8_t* data, size_t size);
// The packet's frame is a key frame decoded there (not one shown again).
bool Av1StartsKeyFrame(const uint8_t* data, size_t size);
