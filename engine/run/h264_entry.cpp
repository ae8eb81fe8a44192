// SPDX-License-Identifier: GPL-3.0-or-later
#include "h264_entry.h"

#include <algorithm>
#include <cstring>

#include "av_handles.h"

using namespace h264;

H264EntryRewriter::H264EntryRewriter(const AVCodecParameters* par)
{
    if (!par || par->codec_id != AV_CODEC_ID_H264 || !par->extradata)
        return;
    const auto* data = par->extradata;
    const auto size = static_cast<size_t>(par->extradata_size);
    AvcConfig config;
    if (ParseAvcConfig(data, size, &config)) {
        length_size_ = config.length_size;
        for (const std::vector<Bytes>* list : {&config.sps, &config.pps})
            for (const Bytes& unit : *list)
                NoteParameterSet({unit.data(), unit.size()});
        return;
    }
    for (const CodedUnit& u : SplitStartCodeUnits(data, size))
        NoteParameterSet(u);
}

std::vector<CodedUnit> H264EntryRewriter::Units(const uint8_t* data, size_t size) const
{
    std::vector<CodedUnit> units;
    if (length_size_ == 0)
        return SplitStartCodeUnits(data, size);
    if (!SplitLengthUnits(data, size, length_size_, &units))
        units.clear();
    return units;
}

void H264EntryRewriter::NoteParameterSet(const CodedUnit& u)
{
    int id = 0;
    if (H264UnitType(u) == kH264Sps) {
        SpsFacts sps;
        sps.unit.assign(u.data, u.data + u.size);
        if (ParseSps(u.data, u.size, &id, &sps))
            sps_[id] = std::move(sps);
    } else if (H264UnitType(u) == kH264Pps) {
        PpsFacts pps;
        pps.unit.assign(u.data, u.data + u.size);
        if (ParsePps(u.data, u.size, &id, &pps))
            pps_[id] = std::move(pps);
        else
            pps_.erase(id);  // one that cannot be followed
    }
}

bool H264EntryRewriter::ReadSliceHeader(const Bytes& rbsp, int nal_type, int ref_idc, SliceHeader* h) const
{
    BitReader r(rbsp);
    h->nal_type = nal_type;
    h->ref_idc = ref_idc;
    r.Ue();  // first macroblock
    h->slice_type = r.Ue() % 5;
    const auto pps = pps_.find(r.Ue());
    if (pps == pps_.end())
        return false;
    const auto sps = sps_.find(pps->second.sps_id);
    if (sps == sps_.end())
        return false;
    h->pps = &pps->second;
    h->sps = &sps->second;
    const SpsFacts& s = *h->sps;
    const PpsFacts& p = *h->pps;
    if (s.separate_colour_plane)
        r.Bits(2);
    h->frame_num_at = r.pos();
    h->frame_num = static_cast<int>(r.Bits(s.log2_max_frame_num));
    h->after_frame_num = r.pos();
    if (!s.frame_mbs_only && r.Bit())
        return false;  // field pictures are not renumbered
    if (nal_type == kIdrSlice)
        r.Ue();
    h->idr_end = r.pos();
    if (s.poc_type == 0) {
        h->poc_lsb = static_cast<int>(r.Bits(s.log2_max_poc_lsb));
        h->poc_end = r.pos();
        if (p.bottom_field_pic_order)
            r.Se();
    } else if (s.poc_type == 1) {
        return false;  // counted from expected values: not renumbered
    }
    if (p.redundant_pic_cnt)
        r.Ue();
    const bool b = h->slice_type == kSliceB;
    const bool p_or_b = h->slice_type == kSliceP || h->slice_type == kSliceSp || b;
    if (b)
        r.Bit();  // direct prediction
    int active[2] = {p.num_ref_idx_default[0], p.num_ref_idx_default[1]};
    if (p_or_b && r.Bit()) {
        active[0] = r.Ue() + 1;
        if (b)
            active[1] = r.Ue() + 1;
    }
    h->lists_at = r.pos();
    for (int list = 0; list < (b ? 2 : p_or_b ? 1 : 0); ++list) {
        h->modify[list] = r.Bit();
        if (h->modify[list] && !ReadModifications(r, &h->modifications[list]))
            return false;
    }
    h->lists_end = r.pos();
    if ((p.weighted_pred && (h->slice_type == kSliceP || h->slice_type == kSliceSp)) ||
        (p.weighted_bipred_idc == 1 && b)) {
        r.Ue();
        if (s.chroma_array_type != 0)
            r.Ue();
        SkipWeights(r, active[0], s.chroma_array_type);
        if (b)
            SkipWeights(r, active[1], s.chroma_array_type);
    }
    h->marking_at = r.pos();
    return r.ok() && ReadMarkingAndRest(r, h);
}

namespace {

bool IsSlice(const CodedUnit& u) { return H264UnitType(u) == kNonIdrSlice || H264UnitType(u) == kIdrSlice; }
int RefIdc(const CodedUnit& u) { return (u.data[0] >> 5) & 3; }

}  // namespace

const H264EntryRewriter::Reference* H264EntryRewriter::Find(int orig_frame_num) const
{
    for (const Reference& r : references_)
        if (r.orig_frame_num == orig_frame_num)
            return &r;
    return nullptr;
}

int H264EntryRewriter::NewFrameNum(int orig) const { return Mod(orig - frame_num_shift_, max_frame_num_); }

std::vector<RefCommand> H264EntryRewriter::NewModifications(const SliceHeader& h, int list, int cur_new) const
{
    const int m = max_frame_num_;
    int pred_orig = h.frame_num, pred_new = cur_new;
    std::vector<RefCommand> out;
    for (const RefCommand& c : h.modifications[list]) {
        if (c.op > 1) {  // long-term or view references keep their numbers
            out.push_back(c);
            continue;
        }
        const int step = c.op == 0 ? -(c.a + 1) : c.a + 1;
        pred_orig = Mod(pred_orig + step, m);
        const Reference* ref = Find(pred_orig);
        const int target = ref ? ref->frame_num : Mod(pred_new + step, m);
        const int diff = c.op == 0 ? Mod(pred_new - target, m) : Mod(target - pred_new, m);
        out.push_back({c.op, (diff == 0 ? m : diff) - 1, 0});
        pred_new = target;
    }
    return out;
}

std::vector<RefCommand> H264EntryRewriter::NewMemoryCommands(const SliceHeader& h, int cur_new) const
{
    std::vector<RefCommand> out;
    for (const RefCommand& c : h.commands) {
        if (c.op != 1 && c.op != 3) {
            out.push_back(c);
            continue;
        }
        const Reference* ref = Find(Mod(h.frame_num - (c.a + 1), max_frame_num_));
        if (ref)
            out.push_back({c.op, Mod(cur_new - ref->frame_num, max_frame_num_) - 1, c.b});
    }
    return out;
}

bool H264EntryRewriter::RewriteSlice(const CodedUnit& u, Bytes* unit_out, SliceHeader* h)
{
    if (u.size < 2)
        return false;
    const Bytes rbsp = UnitToRbsp(u.data + 1, u.size - 1);
    if (!ReadSliceHeader(rbsp, H264UnitType(u), RefIdc(u), h))
        return false;
    const SpsFacts& s = *h->sps;
    if ((1 << s.log2_max_frame_num) != max_frame_num_)
        return false;  // a new sequence: not followed
    const bool entry = !entry_written_;
    const int cur_new = entry ? 0 : NewFrameNum(h->frame_num);
    BitWriter w;
    w.Copy(rbsp, 0, h->frame_num_at);
    w.Put(static_cast<uint32_t>(cur_new), s.log2_max_frame_num);
    w.Copy(rbsp, h->after_frame_num, h->idr_end);
    if (entry)
        w.PutUe(idr_pic_id_);
    if (s.poc_type == 0) {
        w.Put(static_cast<uint32_t>(Mod(h->poc_lsb - poc_lsb_shift_, 1 << s.log2_max_poc_lsb)), s.log2_max_poc_lsb);
        w.Copy(rbsp, h->poc_end, h->lists_at);
    } else {
        w.Copy(rbsp, h->idr_end, h->lists_at);
    }
    const int lists = h->slice_type == kSliceB ? 2 : h->slice_type == kSliceI || h->slice_type == kSliceSi ? 0 : 1;
    for (int list = 0; list < lists; ++list)
        WriteModificationList(w, h->modify[list], NewModifications(*h, list, cur_new));
    w.Copy(rbsp, h->lists_end, h->marking_at);
    if (h->ref_idc != 0 && entry) {
        w.Put(0, 2);  // earlier pictures are still shown; this one is short-term
    } else if (h->ref_idc != 0) {
        w.Put(h->adaptive, 1);
        if (h->adaptive)
            WriteMemoryCommands(w, NewMemoryCommands(*h, cur_new));
    }
    if (h->pps->cabac) {
        // The coded data starts on a byte of its own: copied as it is.
        w.Copy(rbsp, h->marking_end, h->header_end);
        w.AlignWith(1);
        const size_t data_at = (h->header_end + 7) / 8;
        if (data_at > rbsp.size())
            return false;
        w.Append(rbsp.data() + data_at, rbsp.size() - data_at);
    } else {
        const size_t stop = StopBitAt(rbsp);
        if (stop < h->marking_end)
            return false;
        w.Copy(rbsp, h->marking_end, stop);
        w.Put(1, 1);
        w.AlignWith(0);
    }
    const uint8_t header = entry ? static_cast<uint8_t>((u.data[0] & 0xe0) | kIdrSlice) : u.data[0];
    *unit_out = {header};
    const Bytes unit = RbspToUnit(w.Take());
    unit_out->insert(unit_out->end(), unit.begin(), unit.end());
    return true;
}

void H264EntryRewriter::MarkReferences(const SliceHeader& h)
{
    if (h.ref_idc == 0)
        return;
    bool long_term = false;
    if (h.adaptive && entry_written_) {
        for (const RefCommand& c : h.commands) {
            if (c.op == 1 || c.op == 3) {
                const int orig = Mod(h.frame_num - (c.a + 1), max_frame_num_);
                references_.erase(std::remove_if(references_.begin(), references_.end(),
                                                 [orig](const Reference& r) { return r.orig_frame_num == orig; }),
                                  references_.end());
            }
            // After a reset the source numbers its pictures afresh by itself.
            active_ = active_ && c.op != 5;
            long_term = long_term || c.op == 6;
        }
    } else {
        const auto room = static_cast<size_t>(std::max(1, h.sps->max_num_ref_frames));
        while (references_.size() >= room)
            references_.erase(references_.begin());
    }
    if (!long_term)
        references_.push_back({h.frame_num, entry_written_ ? NewFrameNum(h.frame_num) : 0});
}

bool H264EntryRewriter::Begin(const AVPacket* key, int idr_pic_id)
{
    active_ = false;
    bool any_slice = false;
    for (const CodedUnit& u : Units(key->data, static_cast<size_t>(key->size))) {
        NoteParameterSet(u);
        if (!IsSlice(u))
            continue;
        SliceHeader h;
        const Bytes rbsp = UnitToRbsp(u.data + 1, u.size - 1);
        if (H264UnitType(u) == kIdrSlice || RefIdc(u) == 0 || !ReadSliceHeader(rbsp, kNonIdrSlice, RefIdc(u), &h))
            return false;
        if (h.slice_type != kSliceI && h.slice_type != kSliceSi)
            return false;  // not a picture a decoder can start at
        if (!any_slice) {
            max_frame_num_ = 1 << h.sps->log2_max_frame_num;
            frame_num_shift_ = h.frame_num;
            poc_lsb_shift_ = h.sps->poc_type == 0 ? h.poc_lsb : 0;
            entry_sps_ = h.sps->unit;
            entry_pps_ = h.pps->unit;
        }
        any_slice = true;
    }
    active_ = any_slice;
    entry_written_ = false;
    idr_pic_id_ = idr_pic_id;
    references_.clear();
    return active_;
}

// A stream with start codes may carry its parameter sets only before its
// IDRs, and a file has no other place for them: a decoder starting at the
// new IDR finds them in front of it.
Bytes H264EntryRewriter::EntryParameterSets(const std::vector<CodedUnit>& units) const
{
    if (length_size_ != 0 || entry_written_)
        return {};
    for (const CodedUnit& u : units)
        if (H264UnitType(u) == kH264Sps || H264UnitType(u) == kH264Pps)
            return {};
    Bytes sets;
    for (const Bytes* unit : {&entry_sps_, &entry_pps_}) {
        sets.insert(sets.end(), unit->begin(), unit->end());
        sets.insert(sets.end(), {0, 0, 0, 1});
    }
    return sets;
}

bool H264EntryRewriter::RewriteData(const uint8_t* data, size_t size, Bytes* out)
{
    const std::vector<CodedUnit> units = Units(data, size);
    Bytes sets = EntryParameterSets(units);
    Bytes result;
    result.reserve(size + sets.size() + 16);
    size_t prev_end = 0;
    SliceHeader first;
    bool any_slice = false;
    for (const CodedUnit& u : units) {
        if (H264UnitType(u) == kIdrSlice) {
            active_ = false;  // the source starts afresh by itself
            return false;
        }
        NoteParameterSet(u);
        Bytes rewritten;
        SliceHeader h;
        const bool slice = H264UnitType(u) == kNonIdrSlice;
        if (slice && !RewriteSlice(u, &rewritten, &h)) {
            active_ = false;
            return false;
        }
        if (slice && !any_slice)
            first = h;
        any_slice = any_slice || slice;
        const uint8_t* unit = slice ? rewritten.data() : u.data;
        const size_t unit_size = slice ? rewritten.size() : u.size;
        const auto at = static_cast<size_t>(u.data - data);
        if (length_size_ == 0) {
            result.insert(result.end(), data + prev_end, data + at);
            if (!sets.empty() && H264UnitType(u) != kAccessUnitDelimiter) {
                result.insert(result.end(), sets.begin(), sets.end());  // right after the delimiter
                sets.clear();
            }
        } else if (length_size_ < 4 && unit_size >= (size_t{1} << (8 * length_size_))) {
            active_ = false;
            return false;
        }
        if (length_size_ == 0)
            result.insert(result.end(), unit, unit + unit_size);
        else
            AppendLengthUnit(result, unit, unit_size, length_size_);
        prev_end = at + u.size;
    }
    if (!any_slice)
        return false;
    if (length_size_ == 0)
        result.insert(result.end(), data + prev_end, data + size);
    MarkReferences(first);
    entry_written_ = true;
    *out = std::move(result);
    return true;
}

bool H264EntryRewriter::Rewrite(AVPacket* pkt)
{
    Bytes data;
    if (!active_ || !RewriteData(pkt->data, static_cast<size_t>(pkt->size), &data))
        return false;
    PacketPtr copy = MakePacket();
    if (!copy || av_new_packet(copy.get(), static_cast<int>(data.size())) < 0 ||
        av_packet_copy_props(copy.get(), pkt) < 0) {
        active_ = false;
        return false;
    }
    std::memcpy(copy->data, data.data(), data.size());
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, copy.get());
    return true;
}

void H264EntryRewriter::Skip(const AVPacket* pkt)
{
    if (!active_ || !entry_written_)
        return;
    for (const CodedUnit& u : Units(pkt->data, static_cast<size_t>(pkt->size)))
        if (H264UnitType(u) == kNonIdrSlice && RefIdc(u) != 0) {
            ++frame_num_shift_;  // the pictures after it are numbered one less
            return;
        }
}
