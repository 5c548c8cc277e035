#include "analysis/log_numbers.hpp"

#include <cmath>

#include "analysis/format.hpp"
#include "analysis/geo.hpp"
#include "analysis/utm.hpp"

namespace vornakite::analysis {

namespace {

// Metres east and north of the median position on the ellipsoid's radii of curvature there
// (WGS 84): over a field the lengths are those of the UTM projection to a few parts in 10^5,
// at a small part of its cost.
LocalProjection localFrame(PointView points) {
    constexpr double kPi = 3.14159265358979323846, kA = 6378137.0,
                     kE2 = 0.00669437999014132;  // WGS 84 semi-major axis, eccentricity squared
    const LocalProjection centre = LocalProjection::around(points);
    const double phi = centre.centreLat() * kPi / 180.0, s = std::sin(phi);
    const double w = 1.0 - kE2 * s * s;
    const double kx = kA / std::sqrt(w) * std::cos(phi) * kPi / 180.0;
    const double ky = kA * (1.0 - kE2) / (w * std::sqrt(w)) * kPi / 180.0;
    return LocalProjection(centre.centreLon(), centre.centreLat(), kx, ky);
}

}  // namespace

namespace {

// The walk and the swath from the positions alone, then the yields; each step's arrays are made
// when it comes and let go when it ends. The field's numbers are in metres on the ground around
// its centre, the positions projected where they are read; the surface, when asked for, in the
// field's UTM zone, whose positions are held for it.
LogNumbers numbersOf(PointView points, std::span<const std::uint8_t> kept, std::string_view crop,
                     const LogNumbersOptions& options, std::span<const std::uint8_t> onPass,
                     const LagShift* lag) {
    const std::size_t n = points.size();
    const bool surfaceToo = options.gridCellMetres > 0.0;
    ProjectedTrack utm;
    TrackInput track;
    if (surfaceToo) {
        utm = projectTrack(points);
        track = {utm.x, utm.y, 1.0 / utm.scale, {}};
    } else {
        track = {{}, {}, 1.0, {}, points, localFrame(points)};
    }
    auto yieldOf = [&](std::size_t i) {
        return lag != nullptr ? lag->yieldAt(points, i) : points.yield(i);
    };
    // The seam for the filters' own pass flags: used when given.
    std::vector<std::uint8_t> ownPasses;
    if (onPass.empty()) {
        std::vector<double> yield(n);
        for (std::size_t i = 0; i < n; ++i) {
            yield[i] = yieldOf(i);
        }
        ownPasses = findPassPoints(track, yield, options.field.gapMetres.value_or(0.0));
        onPass = ownPasses;
    }
    track.onPass = onPass;
    TrackWalk walk = walkTrack(track, options.field.gapMetres.value_or(0.0));
    const SwathEstimate swath = estimateSwath(track, walk);
    // Only the lengths are read from here on.
    walk.piece = {};
    walk.heading = {};
    // The yields and moistures are read where they are summed.
    const FieldNumbersInput input{
        {{}, {}, track.groundPerUnit, onPass}, {}, {}, kept, crop, [&](std::size_t i) {
            return std::pair(yieldOf(i),
                             lag != nullptr ? lag->moistureAt(points, i) : points.moisture(i));
        }};
    LogNumbers r{computeFieldNumbers(input, walk, swath, options.field), std::nullopt, {}};
    if (surfaceToo) {
        walk = {};
        std::vector<double> yield(n);
        for (std::size_t i = 0; i < n; ++i) {
            yield[i] = yieldOf(i);
        }
        SurfaceOptions surface;
        surface.cellMetres = options.gridCellMetres;
        try {
            r.surface = buildSurface({utm.x, utm.y, yield, kept}, r.numbers.swathMetres, surface);
            r.surface->epsg = utm.zone.epsg();
        } catch (const SurfaceTooLarge& e) {
            r.surfaceError = e.what();
        }
    }
    return r;
}

}  // namespace

LogNumbers logNumbers(PointView points, std::span<const std::uint8_t> kept, std::string_view crop,
                      const LogNumbersOptions& options, std::span<const std::uint8_t> onPass) {
    return numbersOf(points, kept, crop, options, onPass, nullptr);
}

LogNumbers logNumbers(PointView points, const CleaningResult& cleaning, std::string_view crop,
                      const LogNumbersOptions& options, std::span<const std::uint8_t> onPass) {
    std::vector<std::uint8_t> kept(points.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        kept[i] = cleaning.isKept(i) ? 1 : 0;
    }
    // The filters' own verdict of the points on a pass, when they judged the log.
    if (onPass.empty() && cleaning.onPass.size() == points.size()) {
        onPass = cleaning.onPass;
    }
    return numbersOf(points, kept, crop, options, onPass, &cleaning.lag);
}

std::string groupedNumber(double v) {
    const std::string digits = plainNumber(v, 0);
    if (digits.empty()) {
        return digits;
    }
    const std::size_t sign = digits[0] == '-' ? 1 : 0;
    std::string out = digits.substr(0, sign);
    for (std::size_t i = sign; i < digits.size(); ++i) {
        out += digits[i];
        const std::size_t left = digits.size() - 1 - i;
        if (left > 0 && left % 3 == 0) {
            out += ',';
        }
    }
    return out;
}

std::string numbersLineText(const FieldNumbers& r) {
    std::string s = "estimated: ";
    if (!std::isfinite(r.areaAcres)) {
        return s + "no area harvested (swath not estimated: " + r.swathEstimate.note + ")";
    }
    s += plainNumber(r.areaAcres, 1) + " ac harvested, swath " + plainNumber(r.swathMetres, 1) +
         " m" + (r.swathSet ? " (set)" : "");
    if (std::isfinite(r.totalBushels)) {
        s += ", " + groupedNumber(r.totalBushels) + " bu";
    }
    if (std::isfinite(r.dryTotalBushels)) {
        s += ", " + groupedNumber(r.dryTotalBushels) + " bu at " +
             plainNumber(r.standardMoisture, 1) + " % moisture";
    }
    return s;
}

}  // namespace vornakite::analysis
