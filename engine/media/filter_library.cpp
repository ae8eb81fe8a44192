// SPDX-License-Identifier: GPL-3.0-or-later
#include "filter_library.h"

#include <dlfcn.h>

#include <mutex>

namespace {

#define MORVANE_STR2(x) #x
#define MORVANE_STR(x) MORVANE_STR2(x)
// The library of the headers compiled against, as the linker would have named it.
constexpr const char* kLibraryName = "libavfilter.so." MORVANE_STR(LIBAVFILTER_VERSION_MAJOR);

template <typename F>
bool Resolve(void* library, const char* name, F* f)
{
    *f = reinterpret_cast<F>(dlsym(library, name));
    return *f != nullptr;
}

bool Load(FilterLibrary* f)
{
    // Never closed: the library's filters stay registered for the process.
    void* lib = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    return lib && Resolve(lib, "avfilter_graph_alloc", &f->graph_alloc) &&
           Resolve(lib, "avfilter_graph_free", &f->graph_free) &&
           Resolve(lib, "avfilter_graph_create_filter", &f->graph_create_filter) &&
           Resolve(lib, "avfilter_graph_parse_ptr", &f->graph_parse_ptr) &&
           Resolve(lib, "avfilter_graph_config", &f->graph_config) &&
           Resolve(lib, "avfilter_get_by_name", &f->get_by_name) &&
           Resolve(lib, "avfilter_inout_alloc", &f->inout_alloc) &&
           Resolve(lib, "avfilter_inout_free", &f->inout_free) &&
           Resolve(lib, "av_buffersrc_add_frame_flags", &f->buffersrc_add_frame_flags) &&
           Resolve(lib, "av_buffersink_get_frame", &f->buffersink_get_frame);
}

}  // namespace

const FilterLibrary* Filters()
{
    static FilterLibrary library{};
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] { loaded = Load(&library); });
    return loaded ? &library : nullptr;
}
