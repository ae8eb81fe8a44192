// SPDX-License-Identifier: GPL-3.0-or-later
// The filter library, loaded the first time a scan needs it. Only the break
// scan filters; linked to the program, the library and the dozens it links
// cost every start of the tool about 20 ms, more than a short direct cut.
#pragma once

#include <cstdint>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

struct FilterLibrary {
    decltype(&avfilter_graph_alloc) graph_alloc;
    decltype(&avfilter_graph_free) graph_free;
    decltype(&avfilter_graph_create_filter) graph_create_filter;
    decltype(&avfilter_graph_parse_ptr) graph_parse_ptr;
    decltype(&avfilter_graph_config) graph_config;
    decltype(&avfilter_get_by_name) get_by_name;
    decltype(&avfilter_inout_alloc) inout_alloc;
    decltype(&avfilter_inout_free) inout_free;
    decltype(&av_buffersrc_add_frame_flags) buffersrc_add_frame_flags;
    decltype(&av_buffersink_get_frame) buffersink_get_frame;
};

// Null when the library cannot be loaded or lacks a function: the scan
// then fails as when its filters cannot be set up.
const FilterLibrary* Filters();
