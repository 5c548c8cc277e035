// vornakite-timeunits: the processor time of each analysis unit on a log: the filters, the
// track's walk, the passes from the track, the swath, area and production, the yield surface
// and the flow lag estimator (of the yields and of the moistures). bench/adverse_bench.py runs
// it on the adversarial layouts of vornakite-genadverse.
//
// usage: vornakite-timeunits LOG...
// Prints a line per log: its name, then "unit=ms" for each unit.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/field_numbers.hpp"
#include "analysis/flow_lag.hpp"
#include "analysis/surface.hpp"
#include "analysis/utm.hpp"
#include "read/yield_log.hpp"

namespace {

using namespace vornakite::analysis;

template <class F>
void timed(const char* unit, F&& f) {
    const std::clock_t c0 = std::clock();
    f();
    const double ms = 1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    std::printf(" %s=%.0f", unit, ms);
    std::fflush(stdout);
}

void timeLog(const char* path) {
    const vornakite::YieldLog log = vornakite::readYieldLog(std::filesystem::path(path));
    const auto& points = log.points;
    std::printf("%s", std::filesystem::path(path).stem().string().c_str());
    CleaningResult clean;
    timed("filters", [&] { clean = cleanPoints(points); });
    std::vector<std::uint8_t> kept(points.size());
    std::vector<double> yield(points.size()), moisture(points.size()), speed(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        kept[i] = clean.isKept(i) ? 1 : 0;
        yield[i] = points[i].yield;
        moisture[i] = points[i].moisture;
        speed[i] = points[i].speed * 0.44704;
    }
    ProjectedTrack track;
    timed("project", [&] { track = projectTrack(points); });
    const double ground = 1.0 / track.scale;
    std::vector<std::uint8_t> onPass;
    timed("passes", [&] { onPass = findPassPoints(track.x, track.y, ground, yield); });
    const TrackInput input{track.x, track.y, ground, onPass};
    TrackWalk walk;
    timed("walk", [&] { walk = walkTrack(input); });
    FieldNumbers numbers{};
    timed("numbers", [&] {
        numbers = computeFieldNumbers({input, yield, moisture, kept, log.header.field8}, walk);
    });
    // Every point with a position taken as on a pass: the walk and the swath see the whole
    // layout.
    const TrackInput all{track.x, track.y, ground, {}};
    timed("numbers-all", [&] {
        computeFieldNumbers({all, yield, moisture, kept, log.header.field8});
    });
    timed("surface", [&] {
        try {
            buildSurface({track.x, track.y, yield, kept}, numbers.swathMetres);
        } catch (const SurfaceTooLarge&) {
            std::printf(" (too large)");
        }
    });
    FlowLagOptions lag;
    timed("lag", [&] {
        // The filters hold their track's positions in single precision.
        const std::vector<float> x(track.x.begin(), track.x.end()),
            y(track.y.begin(), track.y.end());
        lag.sampleSeconds = secondsPerSample(x, y, speed);
        estimateFlowLag(x, y, yield, lag);
        estimateFlowLag(x, y, moisture, lag);
    });
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vornakite-timeunits LOG...\n", stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        try {
            timeLog(argv[i]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
            return 1;
        }
    }
    return 0;
}
