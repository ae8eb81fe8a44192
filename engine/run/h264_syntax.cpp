// SPDX-License-Identifier: GPL-3.0-or-later
#include "h264_syntax.h"

namespace h264 {
namespace {

bool HasChromaFormat(int profile)
{
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
        return true;
    default:
        return false;
    }
}

void SkipScalingLists(BitReader& r, int count)
{
    for (int i = 0; i < count && r.ok(); ++i) {
        if (!r.Bit())
            continue;
        const int size = i < 6 ? 16 : 64;
        int last = 8, next = 8;
        for (int j = 0; j < size && next != 0 && r.ok(); ++j) {
            next = (last + r.Se() + 256) % 256;
            last = next == 0 ? last : next;
        }
    }
}

}  // namespace

Bytes UnitToRbsp(const uint8_t* data, size_t size)
{
    Bytes rbsp;
    rbsp.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(data[i]);
    }
    return rbsp;
}

Bytes RbspToUnit(const Bytes& rbsp)
{
    Bytes unit;
    unit.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            unit.push_back(3);
            zeros = 0;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        unit.push_back(b);
    }
    if (!unit.empty() && unit.back() == 0)
        unit.push_back(3);
    return unit;
}

bool ParseSps(const uint8_t* unit, size_t size, int* id, SpsFacts* sps)
{
    if (size < 4)
        return false;
    const Bytes rbsp = UnitToRbsp(unit + 1, size - 1);
    BitReader r(rbsp);
    const int profile = static_cast<int>(r.Bits(8));
    r.Bits(16);  // constraint flags, level
    *id = r.Ue();
    int chroma_format = 1;
    if (HasChromaFormat(profile)) {
        chroma_format = r.Ue();
        if (chroma_format == 3)
            sps->separate_colour_plane = r.Bit();
        r.Ue();  // bit depths
        r.Ue();
        r.Bit();
        if (r.Bit())
            SkipScalingLists(r, chroma_format == 3 ? 12 : 8);
    }
    sps->chroma_array_type = sps->separate_colour_plane ? 0 : chroma_format;
    sps->log2_max_frame_num = r.Ue() + 4;
    sps->poc_type = r.Ue();
    if (sps->poc_type == 0) {
        sps->log2_max_poc_lsb = r.Ue() + 4;
    } else if (sps->poc_type == 1) {
        sps->delta_pic_order_always_zero = r.Bit();
        r.Se();
        r.Se();
        const int cycle = r.Ue();
        for (int i = 0; i < cycle && r.ok(); ++i)
            r.Se();
    }
    sps->max_num_ref_frames = r.Ue();
    r.Bit();  // gaps in frame numbers allowed
    r.Ue();   // size in macroblocks
    r.Ue();
    sps->frame_mbs_only = r.Bit();
    return r.ok() && *id < 32 && sps->log2_max_frame_num <= 16 && sps->log2_max_poc_lsb <= 16;
}

bool ParsePps(const uint8_t* unit, size_t size, int* id, PpsFacts* pps)
{
    if (size < 2)
        return false;
    const Bytes rbsp = UnitToRbsp(unit + 1, size - 1);
    BitReader r(rbsp);
    *id = r.Ue();
    pps->sps_id = r.Ue();
    pps->cabac = r.Bit();
    pps->bottom_field_pic_order = r.Bit();
    pps->num_slice_groups = r.Ue() + 1;
    if (pps->num_slice_groups > 1)
        return false;  // slice group maps are not read
    pps->num_ref_idx_default[0] = r.Ue() + 1;
    pps->num_ref_idx_default[1] = r.Ue() + 1;
    pps->weighted_pred = r.Bit();
    pps->weighted_bipred_idc = static_cast<int>(r.Bits(2));
    r.Se();  // initial quantisers, chroma offset
    r.Se();
    r.Se();
    pps->deblocking_control = r.Bit();
    r.Bit();  // constrained intra prediction
    pps->redundant_pic_cnt = r.Bit();
    return r.ok() && *id < 256;
}

bool ReadModifications(BitReader& r, std::vector<SliceHeader::Command>* list)
{
    for (int n = 0; n < 64 && r.ok(); ++n) {
        const int idc = r.Ue();
        if (idc == 3)
            return true;
        if (idc > 5)
            return false;
        list->push_back({idc, r.Ue(), 0});
    }
    return false;
}

void SkipWeights(BitReader& r, int count, int chroma_array_type)
{
    for (int i = 0; i < count && r.ok(); ++i) {
        if (r.Bit()) {
            r.Se();
            r.Se();
        }
        if (chroma_array_type != 0 && r.Bit())
            for (int c = 0; c < 4; ++c)
                r.Se();
    }
}

// The reference marking and what follows it up to the slice's data.
bool ReadMarkingAndRest(BitReader& r, SliceHeader* h)
{
    if (h->ref_idc != 0) {
        if (h->nal_type == kIdrSlice) {
            r.Bits(2);
        } else if ((h->adaptive = r.Bit())) {
            for (int n = 0;; ++n) {
                const int op = r.Ue();
                if (op == 0)
                    break;
                if (op > 6 || n >= 64 || !r.ok())
                    return false;
                SliceHeader::Command c{op, 0, 0};
                if (op == 1 || op == 2 || op == 3 || op == 4)
                    c.a = r.Ue();
                if (op == 3 || op == 6)
                    c.b = r.Ue();
                h->commands.push_back(c);
            }
        }
    }
    h->marking_end = r.pos();
    if (h->pps->cabac && h->slice_type != kSliceI && h->slice_type != kSliceSi)
        r.Ue();
    r.Se();  // quantiser
    if (h->slice_type == kSliceSp || h->slice_type == kSliceSi) {
        if (h->slice_type == kSliceSp)
            r.Bit();
        r.Se();
    }
    if (h->pps->deblocking_control && r.Ue() != 1) {
        r.Se();
        r.Se();
    }
    h->header_end = r.pos();
    return r.ok();
}

void WriteModificationList(BitWriter& w, bool modify, const std::vector<RefCommand>& list)
{
    w.Put(modify, 1);
    if (!modify)
        return;
    for (const RefCommand& c : list) {
        w.PutUe(c.op);
        w.PutUe(c.a);
    }
    w.PutUe(3);
}

void WriteMemoryCommands(BitWriter& w, const std::vector<RefCommand>& commands)
{
    for (const RefCommand& c : commands) {
        w.PutUe(c.op);
        if (c.op >= 1 && c.op <= 4)
            w.PutUe(c.a);
        if (c.op == 3 || c.op == 6)
            w.PutUe(c.b);
    }
    w.PutUe(0);
}

size_t StopBitAt(const Bytes& rbsp)
{
    for (size_t i = rbsp.size(); i-- > 0;) {
        if (rbsp[i] == 0)
            continue;
        int low = 0;
        while (!((rbsp[i] >> low) & 1))
            ++low;
        return i * 8 + static_cast<size_t>(7 - low);
    }
    return 0;
}

}  // namespace h264
