// SPDX-License-Identifier: GPL-3.0-or-later
#include "input_route.h"

std::unique_ptr<InputRoute> MakeInputRoute(const JobPlan& plan, const JobReports& reports)
{
    return plan.mode == JobMode::Reencode ? MakeReencodeRoute(plan, reports) : MakeCopyRoute(plan, reports);
}

namespace {

DropReason ReportedReason(const std::vector<DroppedTrack>& dropped, int input, int stream)
{
    for (const DroppedTrack& track : dropped)
        if (track.input == input && track.stream == stream)
            return track.reason;
    return DropReason::ContainerRefuses;
}

std::vector<StreamRoute> MainRoutes(const InputRun& run, RouteKind kind)
{
    std::vector<StreamRoute> routes(run.in.format ? run.in.format->nb_streams : 0);
    if (run.in.video_index >= 0 && static_cast<size_t>(run.in.video_index) < routes.size())
        routes[run.in.video_index] = {kind, StreamRole::Picture};
    if (run.in.audio_index >= 0 && static_cast<size_t>(run.in.audio_index) < routes.size())
        routes[run.in.audio_index] = {kind, StreamRole::Sound};
    return routes;
}

}  // namespace

std::vector<StreamRoute> RoutesOfStreams(const InputRun& run, RouteKind main_kind,
                                         const std::vector<DroppedTrack>& dropped)
{
    std::vector<StreamRoute> routes = MainRoutes(run, main_kind);
    for (size_t i = 0; i < routes.size(); ++i) {
        if (routes[i].role != StreamRole::Other)
            continue;
        const int slot = i < run.extra_slot.size() ? run.extra_slot[i] : -1;
        if (slot < 0) {
            routes[i].reason = ReportedReason(dropped, run.index, static_cast<int>(i));
            continue;
        }
        const bool converted = static_cast<size_t>(slot) < run.extra_decoders.size() && run.extra_decoders[slot];
        routes[i].kind = converted ? RouteKind::Reencode : RouteKind::Copy;
    }
    return routes;
}
