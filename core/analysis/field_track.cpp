#include "analysis/field_track.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "analysis/geo.hpp"
#include "analysis/robust.hpp"
#include "os/memory.hpp"

namespace vornakite::analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kNoHeading = std::numeric_limits<float>::quiet_NaN();
// A point farther than this across the line of the track before it has left that line: well
// beyond GPS noise (0.5 m is poor), well within any working width.
constexpr double kOffLineMetres = 2.0;

struct Vec {
    double x, y;
};

// Walks one log's runs of points on passes; see walkTrack.
class Walker {
  public:
    Walker(const TrackInput& in, TrackWalk& out) : in_(in), out_(out), n_(in.size()) {}

    void run(double gapMetres);

  private:
    bool usable(std::size_t i) const {
        if (!in_.onPass.empty() && in_.onPass[i] == 0) {
            return false;
        }
        const Vec p = at(i);
        return std::isfinite(p.x) && std::isfinite(p.y);
    }
    // Point i in metres on the ground. The walk reads each point several times, close together:
    // the last positions are kept, since a stored point costs more to decode than to use.
    Vec at(std::size_t i) const {
        Cached& c = cache_[i % kCached];
        if (c.i != i) {
            const PlanePosition p = in_.at(i);
            c = {i, {p.x * g_, p.y * g_}};
        }
        return c.at;
    }
    double step(std::size_t a, std::size_t b) const {
        const Vec p = at(a), q = at(b);
        return planeDistance(q.x - p.x, q.y - p.y);
    }
    double medianStep() const;
    void walkRun(std::size_t s, std::size_t e);
    std::size_t breakStep(std::size_t a, std::size_t b, Vec before) const;
    void addChord(std::size_t a, std::size_t b);
    void addEnds();
    void newPiece() { piece_ = static_cast<std::int32_t>(out_.pieces++); }

    const TrackInput& in_;
    TrackWalk& out_;
    std::size_t n_;
    double g_ = 1.0;
    std::int32_t piece_ = -1;
    std::vector<double> steps_;  // the steps of the chord being added
    static constexpr std::size_t kCached = 64;
    struct Cached {
        std::size_t i = ~std::size_t{0};
        Vec at;
    };
    mutable Cached cache_[kCached];
};

double Walker::medianStep() const {
    auto consecutive = [&](std::size_t i) { return i > 0 && usable(i - 1) && usable(i); };
    std::vector<double> steps =
        collectSample(n_, consecutive, [&](std::size_t i) { return step(i - 1, i); });
    std::erase_if(steps, [](double s) { return !(s > 0.0); });
    return steps.empty() ? 0.0 : median(steps);
}

void Walker::run(double gapMetres) {
    g_ = in_.groundPerUnit > 0.0 ? in_.groundPerUnit : 1.0;
    os::reserveLarge(out_.length, n_);
    os::reserveLarge(out_.piece, n_);
    os::reserveLarge(out_.heading, n_);
    out_.length.assign(n_, 0.0);
    out_.piece.assign(n_, -1);
    out_.heading.assign(n_, kNoHeading);
    out_.medianStep = medianStep();
    out_.gapMetres = gapMetres > 0.0 ? gapMetres : std::max(3.0 * out_.medianStep, 3.0);
    std::size_t i = 0;
    while (i < n_) {
        if (!usable(i)) {
            ++i;
            continue;
        }
        std::size_t e = i;
        while (e + 1 < n_ && usable(e + 1) && step(e, e + 1) <= out_.gapMetres) {
            ++e;
        }
        if (e + 1 < n_ && usable(e + 1)) {
            ++out_.gaps;
        }
        walkRun(i, e);
        i = e + 1;
    }
    addEnds();
}

// A sample stands for the interval around it: the first and last points of each piece add half
// a step beyond them, so that a pass of k samples counts k steps.
void Walker::addEnds() {
    const double half = out_.medianStep / 2;
    for (std::size_t i = 0; i < n_; ++i) {
        const std::int32_t p = out_.piece[i];
        if (p < 0) {
            continue;
        }
        const int ends = (i == 0 || out_.piece[i - 1] != p ? 1 : 0) +
                         (i + 1 == n_ || out_.piece[i + 1] != p ? 1 : 0);
        out_.length[i] += ends * half;
        out_.distance += ends * half;
    }
}

// One run without gaps, [s, e], chord by chord.
void Walker::walkRun(std::size_t s, std::size_t e) {
    newPiece();
    out_.piece[s] = piece_;
    const double cosTurn = std::cos(kPieceTurnDegrees * kPi / 180.0);
    std::size_t a = s;
    bool havePrevious = false;
    Vec previous{0.0, 0.0};
    while (a < e) {
        const Vec p = at(a);
        std::size_t b = a + 1;
        Vec q = at(b);
        while (b < e && planeDistance(q.x - p.x, q.y - p.y) < kChordMetres) {
            q = at(++b);
        }
        const Vec d{q.x - p.x, q.y - p.y};
        const double len = planeDistance(d.x, d.y);
        // A short last chord is mostly noise: it is never taken for a turn.
        if (havePrevious && len >= kChordMetres / 2 &&
            (d.x * previous.x + d.y * previous.y) / len < cosTurn) {
            const std::size_t k = breakStep(a, b, previous);
            if (k > a) {
                addChord(a, k);
            }
            ++out_.turns;
            newPiece();
            a = k + 1;
            out_.piece[a] = piece_;
            havePrevious = false;
            continue;
        }
        addChord(a, b);
        if (len > 0.0) {
            previous = {d.x / len, d.y / len};
            havePrevious = true;
        }
        a = b;
    }
}

// The step of chord [a, b] where the track turned away from `before` (a unit vector): the one
// onto the first point that lies off the line through a along `before` (farther across than
// kOffLineMetres, or behind a), else the longest step turning more than the limit.
std::size_t Walker::breakStep(std::size_t a, std::size_t b, Vec before) const {
    const Vec origin = at(a);
    for (std::size_t k = a + 1; k <= b; ++k) {
        const Vec p = at(k);
        const double dx = p.x - origin.x, dy = p.y - origin.y;
        if (std::abs(before.x * dy - before.y * dx) > kOffLineMetres ||
            before.x * dx + before.y * dy < -kOffLineMetres) {
            return k - 1;
        }
    }
    const double cosTurn = std::cos(kPieceTurnDegrees * kPi / 180.0);
    std::size_t best = b - 1;
    double longest = 0.0;
    for (std::size_t k = a; k < b; ++k) {
        const Vec p = at(k), q = at(k + 1);
        const double dx = q.x - p.x, dy = q.y - p.y, len = planeDistance(dx, dy);
        if (len > longest && (dx * before.x + dy * before.y) < cosTurn * len) {
            longest = len;
            best = k;
        }
    }
    return best;
}

// Chord [a, b]: its length shared among its steps by their lengths, half of each step to the
// point on either side of it.
void Walker::addChord(std::size_t a, std::size_t b) {
    const Vec p = at(a), q = at(b);
    const double chord = planeDistance(q.x - p.x, q.y - p.y);
    // The steps' lengths, each measured once (a chord is rarely more than a few dozen steps).
    steps_.clear();
    double raw = 0.0;
    Vec from = p;
    for (std::size_t k = a; k < b; ++k) {
        const Vec to = at(k + 1);
        steps_.push_back(planeDistance(to.x - from.x, to.y - from.y));
        raw += steps_.back();
        from = to;
    }
    const auto heading = static_cast<float>(std::atan2(q.y - p.y, q.x - p.x));
    for (std::size_t k = a; k < b; ++k) {
        const double share =
            raw > 0.0 ? chord * steps_[k - a] / raw : chord / static_cast<double>(b - a);
        out_.length[k] += share / 2;
        out_.length[k + 1] += share / 2;
        out_.piece[k] = piece_;
        out_.heading[k] = heading;
    }
    out_.piece[b] = piece_;
    if (std::isnan(out_.heading[b])) {
        out_.heading[b] = heading;
    }
    out_.distance += chord;
}

}  // namespace

TrackWalk walkTrack(const TrackInput& input, double gapMetres) {
    if ((input.points.empty() && input.y.size() != input.x.size()) ||
        (!input.onPass.empty() && input.onPass.size() != input.size())) {
        throw std::invalid_argument("Point arrays of different lengths");
    }
    TrackWalk walk;
    Walker(input, walk).run(gapMetres);
    return walk;
}

namespace {

// Moves `end` (exclusive when `step` is +1... see below) past the points at one end of a piece
// that lie off the line of the piece 10 to 30 m in from that end: a turn logged with the header
// down. `from` is the end's first point, `step` +1 from the start, -1 from the end; returns
// the first point kept.
std::size_t trimOffLine(const TrackInput& t, double g, const TrackWalk& walk, std::size_t from,
                        std::size_t last, int step) {
    auto next = [&](std::size_t k) { return step > 0 ? k + 1 : k - 1; };
    std::size_t near = from, far = from;
    double along = 0.0;
    for (std::size_t k = from; k != next(last); k = next(k)) {
        along += walk.length[k];
        if (along < 10.0) {
            near = next(k);
        }
        far = k;
        if (along >= 30.0) {
            break;
        }
    }
    if (along < 30.0 || near == far) {
        return from;
    }
    const PlanePosition a = t.at(near), b = t.at(far);
    const double dx = (b.x - a.x) * g, dy = (b.y - a.y) * g;
    const double len = planeDistance(dx, dy);
    auto offLine = [&](std::size_t k) {
        const PlanePosition p = t.at(k);
        return std::abs(dx * (p.y - a.y) * g - dy * (p.x - a.x) * g) / len > kOffLineMetres;
    };
    std::size_t k = from;
    while (k != near && len > 0.0 && offLine(k)) {
        k = next(k);
    }
    return k;
}

}  // namespace

std::vector<std::uint8_t> findPassPoints(std::span<const double> x, std::span<const double> y,
                                         double groundPerUnit, std::span<const double> yield,
                                         double gapMetres) {
    return findPassPoints(TrackInput{x, y, groundPerUnit, {}}, yield, gapMetres);
}

std::vector<std::uint8_t> findPassPoints(const TrackInput& track, std::span<const double> yield,
                                         double gapMetres) {
    constexpr double kShortestPass = 30.0;
    const double g = track.groundPerUnit > 0.0 ? track.groundPerUnit : 1.0;
    const std::size_t n = track.size();
    if (yield.size() != n) {
        throw std::invalid_argument("Point arrays of different lengths");
    }
    TrackInput all = track;
    all.groundPerUnit = g;
    all.onPass = {};
    const TrackWalk walk = walkTrack(all, gapMetres);
    std::vector<std::uint8_t> flags(n, 0);
    auto cutting = [&](std::size_t i) { return std::isfinite(yield[i]) && yield[i] > 0.0; };
    std::size_t i = 0;
    while (i < n) {
        if (walk.piece[i] < 0) {
            ++i;
            continue;
        }
        std::size_t e = i;  // the piece is [i, e)
        while (e < n && walk.piece[e] == walk.piece[i]) {
            ++e;
        }
        std::size_t a = i, b = e;
        while (a < b && !cutting(a)) {
            ++a;
        }
        while (b > a && !cutting(b - 1)) {
            --b;
        }
        if (a < b) {
            a = trimOffLine(all, g, walk, a, b - 1, 1);
            b = trimOffLine(all, g, walk, b - 1, a, -1) + 1;
        }
        double length = 0.0;
        for (std::size_t k = a; k < b; ++k) {
            length += walk.length[k];
        }
        if (length >= kShortestPass) {
            std::fill(flags.begin() + static_cast<std::ptrdiff_t>(a),
                      flags.begin() + static_cast<std::ptrdiff_t>(b), std::uint8_t{1});
        }
        i = e;
    }
    return flags;
}

}  // namespace vornakite::analysis
