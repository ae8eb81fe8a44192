// SPDX-License-Identifier: GPL-3.0-or-later
// The H.264 syntax the entry rewrite reads and writes: bits and Exp-Golomb
// codes, parameter sets, and the parts of a slice header that number its
// picture and its references.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "coded_units.h"

namespace h264 {

constexpr int kNonIdrSlice = 1;
constexpr int kAccessUnitDelimiter = 9;
constexpr int kIdrSlice = 5;
constexpr int kSliceP = 0, kSliceB = 1, kSliceI = 2, kSliceSp = 3, kSliceSi = 4;

class BitReader {
public:
    explicit BitReader(const Bytes& bits) : bits_(bits) {}
    size_t pos() const { return pos_; }
    bool ok() const { return ok_; }
    uint32_t Bits(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | Bit();
        return v;
    }
    uint32_t Bit()
    {
        if (pos_ >= bits_.size() * 8) {
            ok_ = false;
            return 0;
        }
        const uint32_t b = (bits_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    int Ue()
    {
        int zeros = 0;
        while (ok_ && Bit() == 0) {
            if (++zeros > 31) {
                ok_ = false;
                return 0;
            }
        }
        const int64_t v = (int64_t{1} << zeros) - 1 + Bits(zeros);
        if (v > INT32_MAX)
            ok_ = false;
        return ok_ ? static_cast<int>(v) : 0;
    }
    int Se()
    {
        const int k = Ue();
        return k % 2 ? (k + 1) / 2 : -(k / 2);
    }

private:
    const Bytes& bits_;
    size_t pos_ = 0;
    bool ok_ = true;
};

class BitWriter {
public:
    void Put(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            PutBit((value >> i) & 1);
    }
    void PutUe(int value)
    {
        const uint32_t v = static_cast<uint32_t>(value) + 1;
        int bits = 0;
        while ((v >> bits) > 1)
            ++bits;
        Put(0, bits);
        Put(v, bits + 1);
    }
    // Bits [from, to) of `src`, a byte at a time.
    void Copy(const Bytes& src, size_t from, size_t to)
    {
        size_t at = from;
        for (; at < to && at % 8; ++at)
            PutBit((src[at / 8] >> (7 - at % 8)) & 1);
        const int shift = static_cast<int>(used_);
        for (; at + 8 <= to; at += 8) {
            const uint8_t byte = src[at / 8];
            if (shift == 0) {
                out_.push_back(byte);
            } else {
                out_.back() |= static_cast<uint8_t>(byte >> shift);
                out_.push_back(static_cast<uint8_t>(byte << (8 - shift)));
            }
        }
        for (; at < to; ++at)
            PutBit((src[at / 8] >> (7 - at % 8)) & 1);
    }
    void AlignWith(int bit)
    {
        while (used_ != 0)
            PutBit(bit);
    }
    void Append(const uint8_t* data, size_t size) { out_.insert(out_.end(), data, data + size); }
    Bytes Take() { return std::move(out_); }

private:
    void PutBit(uint32_t b)
    {
        if (used_ == 0)
            out_.push_back(0);
        out_.back() |= static_cast<uint8_t>(b << (7 - used_));
        used_ = (used_ + 1) % 8;
    }
    Bytes out_;
    size_t used_ = 0;  // bits of the last byte in use
};

inline int Mod(int value, int m) { return ((value % m) + m) % m; }

struct SpsFacts {
    int log2_max_frame_num = 4;
    int poc_type = 0;
    int log2_max_poc_lsb = 4;
    bool delta_pic_order_always_zero = false;
    bool frame_mbs_only = true;
    bool separate_colour_plane = false;
    int chroma_array_type = 1;
    int max_num_ref_frames = 1;
    Bytes unit;  // as the stream carries it
};

struct PpsFacts {
    int sps_id = 0;
    bool cabac = false;
    bool bottom_field_pic_order = false;
    int num_slice_groups = 1;
    int num_ref_idx_default[2] = {1, 1};
    bool weighted_pred = false;
    int weighted_bipred_idc = 0;
    bool redundant_pic_cnt = false;
    bool deblocking_control = false;
    Bytes unit;
};

// Payload of a unit without its emulation prevention bytes, and back.
Bytes UnitToRbsp(const uint8_t* data, size_t size);
Bytes RbspToUnit(const Bytes& rbsp);

// The facts of a parameter set unit (header byte included); false when it
// cannot be read.
bool ParseSps(const uint8_t* unit, size_t size, int* id, SpsFacts* sps);
bool ParsePps(const uint8_t* unit, size_t size, int* id, PpsFacts* pps);

// One list modification or memory command: `a` the difference or
// long-term number, `b` the long-term index.
struct RefCommand {
    int op, a, b;
};

// What a slice header says, with the bit positions (in its payload, after
// the unit's header byte) where the parts that may change begin and end.
struct SliceHeader {
    using Command = RefCommand;
    int nal_type = 0, ref_idc = 0, slice_type = 0;
    int frame_num = 0, poc_lsb = 0;
    const SpsFacts* sps = nullptr;
    const PpsFacts* pps = nullptr;
    size_t frame_num_at = 0, after_frame_num = 0, idr_end = 0, poc_end = 0;
    size_t lists_at = 0, lists_end = 0, marking_at = 0, marking_end = 0, header_end = 0;
    std::vector<Command> modifications[2];
    bool modify[2] = {false, false};
    bool adaptive = false;
    std::vector<Command> commands;  // memory management, the ending 0 left out
};

// A slice's reference list modifications, up to their end; false when they
// cannot be read.
bool ReadModifications(BitReader& r, std::vector<SliceHeader::Command>* list);
// Past a slice's prediction weight table.
void SkipWeights(BitReader& r, int count, int chroma_array_type);
// The slice header from its reference marking on; false when it cannot be read.
bool ReadMarkingAndRest(BitReader& r, SliceHeader* h);

void WriteModificationList(BitWriter& w, bool modify, const std::vector<RefCommand>& list);
void WriteMemoryCommands(BitWriter& w, const std::vector<RefCommand>& commands);
// Bit position of the payload's stop bit; 0 when there is none.
size_t StopBitAt(const Bytes& rbsp);

}  // namespace h264
