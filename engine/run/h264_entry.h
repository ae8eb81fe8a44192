// SPDX-License-Identifier: GPL-3.0-or-later
// An H.264 stream entered at a key picture that is not an IDR (the recovery
// point of an open GOP) goes on with the frame numbers, picture order counts
// and memory commands of the pictures before it, which a copy leaves out: a
// decoder orders the new pictures behind the old ones, drops some, and
// complains of commands on pictures it never saw. Rewritten as an IDR, with
// the slice headers of every picture after it renumbered from it, the copy
// starts afresh in any decoder. Only slice headers change; the pictures'
// coded data is copied as it is.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "coded_units.h"
#include "h264_syntax.h"

struct AVCodecParameters;
struct AVPacket;


class H264EntryRewriter {
public:
    // Parameter sets from the stream's configuration record or start codes.
    explicit H264EntryRewriter(const AVCodecParameters* par);

    // `key` is the picture the copy is entered at: when it is a non-IDR
    // picture of I slices whose headers can be rewritten, it and every
    // picture after it are rewritten from now on. `idr_pic_id` tells this
    // IDR from one just before it.
    bool Begin(const AVPacket* key, int idr_pic_id);
    bool Active() const { return active_; }
    // A picture of the copy, the entry first: its slice headers rewritten
    // (the packet gets a buffer of its own). False when one cannot be read:
    // the packet is left as it was.
    bool Rewrite(AVPacket* pkt);
    // A picture after the entry that is left out (a leading picture): the
    // frame numbers after it close the gap it leaves.
    void Skip(const AVPacket* pkt);

    // The rewrite of one packet's data, for tests: its units with new
    // slice headers, each behind the same prefix as before.
    bool RewriteData(const uint8_t* data, size_t size, Bytes* out);

private:
    struct Reference {
        int orig_frame_num;
        int frame_num;
    };
    std::vector<CodedUnit> Units(const uint8_t* data, size_t size) const;
    void NoteParameterSet(const CodedUnit& u);
    bool ReadSliceHeader(const Bytes& rbsp, int nal_type, int ref_idc, h264::SliceHeader* h) const;
    bool RewriteSlice(const CodedUnit& u, Bytes* unit_out, h264::SliceHeader* h);
    // The commands of a slice, their differences counted on the new numbers;
    // memory commands on pictures that are not there are left out.
    std::vector<h264::RefCommand> NewModifications(const h264::SliceHeader& h, int list, int cur_new) const;
    std::vector<h264::RefCommand> NewMemoryCommands(const h264::SliceHeader& h, int cur_new) const;
    const Reference* Find(int orig_frame_num) const;
    void MarkReferences(const h264::SliceHeader& h);
    int NewFrameNum(int orig) const;
    // Start codes: the parameter sets the entry uses, when its packet lacks them.
    Bytes EntryParameterSets(const std::vector<CodedUnit>& units) const;

    int length_size_ = 0;  // 0: start codes
    std::map<int, h264::SpsFacts> sps_;
    std::map<int, h264::PpsFacts> pps_;
    bool active_ = false;
    bool entry_written_ = false;
    Bytes entry_sps_, entry_pps_;  // the parameter sets the entry uses
    int idr_pic_id_ = 0;
    int max_frame_num_ = 16;
    int frame_num_shift_ = 0;  // the entry's frame number, plus every reference left out since
    int poc_lsb_shift_ = 0;    // the entry's picture order count
    std::vector<Reference> references_;  // short-term, oldest first
    bool picture_marked_ = false;        // the current picture's references already updated
};
