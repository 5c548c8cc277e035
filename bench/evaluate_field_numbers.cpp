// vornakite-evalfield: the field numbers and the yield surface on generated fields of known
// area, width and production (bench/known_field.hpp), and their cost on a large field.
//
// usage: vornakite-evalfield [--seeds N] [--check]      accuracy over seeds 1..N (default 20)
//        vornakite-evalfield --timing POINTS [--cell M]  time each step on a field of POINTS
//        vornakite-evalfield --log LOG                    the swath of a log (flags: cleaning,
//                                                         passes from the track)
// --check: exit 1 unless every swath, area and production is within 5 % of the truth (with the
// generator's flags of the points on a pass; those from the track alone are shown beside).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/field_numbers.hpp"
#include "analysis/surface.hpp"
#include "analysis/utm.hpp"
#include "known_field.hpp"
#include "read/yield_log.hpp"

namespace {

using namespace vornakite::analysis;
using benchtools::KnownField;
using benchtools::KnownFieldMaker;
using Clock = std::chrono::steady_clock;

struct Inputs {
    ProjectedTrack track;
    std::vector<double> yield, moisture;
};

Inputs inputsOf(const std::vector<vornakite::YieldPoint>& points) {
    Inputs in{projectTrack(points), {}, {}};
    for (const auto& p : points) {
        in.yield.push_back(p.yield);
        in.moisture.push_back(p.moisture);
    }
    return in;
}

FieldNumbers numbersOf(const Inputs& in, std::span<const std::uint8_t> onPass,
                       std::span<const std::uint8_t> kept) {
    FieldNumbersInput input{{in.track.x, in.track.y, 1.0 / in.track.scale, onPass},
                            in.yield,
                            in.moisture,
                            kept,
                            "Corn"};
    return computeFieldNumbers(input);
}

double errorPct(double estimate, double truth) {
    return 100.0 * (estimate - truth) / truth;
}

// The surface against the crop's true yield at the kept points on passes, beside the points'
// own yields: root mean square differences over all seeds, in bu/ac.
void surfaceAccuracy(int seeds) {
    for (const double cell : {2.0, 5.0}) {
        double surface2 = 0.0, points2 = 0.0;
        std::size_t n = 0, outside = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            const KnownField f = KnownFieldMaker(static_cast<std::uint64_t>(seed)).make();
            const Inputs in = inputsOf(f.points);
            const YieldSurface s = buildSurface({in.track.x, in.track.y, in.yield, f.good},
                                                f.spacing, {.cellMetres = cell});
            for (std::size_t i = 0; i < f.points.size(); ++i) {
                if (!f.good[i] || !f.onPass[i]) {
                    continue;
                }
                const auto c = static_cast<std::size_t>((in.track.x[i] - s.west) / cell);
                const auto r = static_cast<std::size_t>((s.north - in.track.y[i]) / cell);
                const float v =
                    s.values[std::min(r, s.rows - 1) * s.columns + std::min(c, s.columns - 1)];
                if (std::isnan(v)) {
                    ++outside;
                    continue;
                }
                surface2 += (v - f.trueYield[i]) * (v - f.trueYield[i]);
                points2 += (in.yield[i] - f.trueYield[i]) * (in.yield[i] - f.trueYield[i]);
                ++n;
            }
        }
        const double count = static_cast<double>(n);
        std::printf(
            "surface of %.0f m cells: RMS difference to the true yield %.2f bu/ac at %zu "
            "kept points (the points' own: %.2f), %zu in cells without a value\n",
            cell, std::sqrt(surface2 / count), n, std::sqrt(points2 / count), outside);
    }
}

int accuracy(int seeds, bool check) {
    std::printf(
        "| seed | passes | length m | header m | spacing m | GPS m | every s | turns | swath err "
        "| area err | bushels err | dry err | area err, own passes | bushels err, own passes "
        "|\n|---:|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|\n");
    double worst = 0.0, worstOwn = 0.0;  // with the generator's pass flags, with our own
    const char* turnNames[] = {"header up", "not logged", "header down"};
    // The seeds' fields, then a field of 40 ha.
    for (int seed = 1; seed <= seeds + 1; ++seed) {
        const bool last = seed > seeds;
        const KnownField f =
            KnownFieldMaker(static_cast<std::uint64_t>(last ? 1000 : seed)).make(0, last ? 40 : 0);
        const Inputs in = inputsOf(f.points);
        const FieldNumbers a = numbersOf(in, f.onPass, f.good);
        const std::vector<std::uint8_t> own =
            findPassPoints(in.track.x, in.track.y, 1.0 / in.track.scale, in.yield);
        const FieldNumbers b = numbersOf(in, own, f.good);
        const double errors[] = {
            errorPct(a.swathMetres, f.spacing),       errorPct(a.areaHectares * 1e4, f.areaM2),
            errorPct(a.totalBushels, f.bushels),      errorPct(a.dryTotalBushels, f.dryBushels),
            errorPct(b.areaHectares * 1e4, f.areaM2), errorPct(b.totalBushels, f.bushels)};
        std::printf("| %s | %d | %.0f | %.1f | %.2f | %.2f | %.1f | %s |",
                    last ? "40 ha" : std::to_string(seed).c_str(), f.passes, f.length, f.header,
                    f.spacing, f.gpsNoise, f.interval, turnNames[f.turnMode]);
        for (std::size_t k = 0; k < std::size(errors); ++k) {
            std::printf(" %+.2f %% |", errors[k]);
            double& w = k < 4 ? worst : worstOwn;
            w = std::isfinite(errors[k]) ? std::max(w, std::abs(errors[k])) : 1e9;
        }
        std::printf("\n");
    }
    std::printf("\nlargest error: %.2f %% (with passes from the track: %.2f %%)\n", worst,
                worstOwn);
    surfaceAccuracy(seeds);
    return check && worst > 5.0 ? 1 : 0;
}

template <class F>
double timed(const char* what, F&& f) {
    // Processor time as well as wall time: the machine may be shared.
    const auto t0 = Clock::now();
    const std::clock_t c0 = std::clock();
    f();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const double cpu = 1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    std::printf("%-30s %8.1f ms wall %8.1f ms processor\n", what, ms, cpu);
    return cpu;
}

int timing(std::size_t wanted, double cell) {
    const KnownField f = KnownFieldMaker(1).make(wanted);
    std::printf("%zu points, %d passes of %.0f m, header %.1f m\n", f.points.size(), f.passes,
                f.length, f.header);
    Inputs in;
    timed("project to UTM", [&] { in = inputsOf(f.points); });
    TrackWalk walk;
    const TrackInput track{in.track.x, in.track.y, 1.0 / in.track.scale, f.onPass};
    timed("walk the track", [&] { walk = walkTrack(track); });
    FieldNumbers r{};
    timed("swath, area, production", [&] {
        r = computeFieldNumbers({track, in.yield, in.moisture, f.good, "Corn"}, walk);
    });
    std::vector<std::uint8_t> own;
    timed("passes from the track",
          [&] { own = findPassPoints(in.track.x, in.track.y, 1.0 / in.track.scale, in.yield); });
    YieldSurface s;
    timed("yield surface", [&] {
        s = buildSurface({in.track.x, in.track.y, in.yield, f.good}, r.swathMetres,
                         {.cellMetres = cell});
    });
    std::printf(
        "swath %.2f m (truth %.2f), area %.1f ha (truth %.1f), grid %zu x %zu of %.1f m,"
        " %zu cells with a value\n",
        r.swathMetres, f.spacing, r.areaHectares, f.areaM2 / 1e4, s.columns, s.rows, s.cellMetres,
        s.cellsWithValue);
    return 0;
}

int logSwath(const char* path) {
    const vornakite::YieldLog log = vornakite::readYieldLog(std::filesystem::path(path));
    const CleaningResult clean = cleanPoints(log.points);
    std::vector<std::uint8_t> kept(log.points.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        kept[i] = clean.isKept(i) ? 1 : 0;
    }
    const Inputs in = inputsOf(log.points);
    const std::vector<std::uint8_t> own =
        findPassPoints(in.track.x, in.track.y, 1.0 / in.track.scale, in.yield);
    const FieldNumbers r = numbersOf(in, own, kept);
    std::printf("%s: swath %.2f m, %.2f ha, %.0f bu, %.1f bu/ac (plain %.1f)\n", path,
                r.swathMetres, r.areaHectares, r.totalBushels, r.meanYield, r.plainMeanYield);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int seeds = 20;
    bool check = false;
    std::size_t timingPoints = 0;
    double cell = 2.0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--seeds" && i + 1 < argc) {
            seeds = std::atoi(argv[++i]);
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--timing" && i + 1 < argc) {
            timingPoints = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--cell" && i + 1 < argc) {
            cell = std::strtod(argv[++i], nullptr);
        } else if (arg == "--log" && i + 1 < argc) {
            return logSwath(argv[++i]);
        } else {
            std::fputs(
                "usage: vornakite-evalfield [--seeds N] [--check] | --timing POINTS "
                "[--cell M] | --log LOG\n",
                stderr);
            return 2;
        }
    }
    return timingPoints > 0 ? timing(timingPoints, cell) : accuracy(seeds, check);
}
