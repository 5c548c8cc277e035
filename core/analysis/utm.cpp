#include "analysis/utm.hpp"

#include <cmath>
#include <limits>

#include "analysis/geo.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;
// WGS 84.
constexpr double kSemiMajor = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kScaleOnMeridian = 0.9996;
constexpr double kFalseEasting = 500000.0;
constexpr double kFalseNorthingSouth = 10000000.0;

// The constants of Krüger's series in the third flattening n (Karney, "Transverse Mercator with
// an accuracy of a few nanometers", J. Geodesy 2011, eq. 14 and 35).
struct Constants {
    double e;          // eccentricity
    double rectifier;  // A: the radius of the rectifying sphere
    double alpha[6];
};

Constants makeConstants() {
    const double n = kFlattening / (2.0 - kFlattening);
    const double n2 = n * n, n3 = n2 * n, n4 = n3 * n, n5 = n4 * n, n6 = n5 * n;
    Constants c{};
    c.e = std::sqrt(kFlattening * (2.0 - kFlattening));
    c.rectifier = kSemiMajor / (1.0 + n) * (1.0 + n2 / 4.0 + n4 / 64.0 + n6 / 256.0);
    c.alpha[0] = n / 2.0 - 2.0 * n2 / 3.0 + 5.0 * n3 / 16.0 + 41.0 * n4 / 180.0 -
                 127.0 * n5 / 288.0 + 7891.0 * n6 / 37800.0;
    c.alpha[1] = 13.0 * n2 / 48.0 - 3.0 * n3 / 5.0 + 557.0 * n4 / 1440.0 + 281.0 * n5 / 630.0 -
                 1983433.0 * n6 / 1935360.0;
    c.alpha[2] =
        61.0 * n3 / 240.0 - 103.0 * n4 / 140.0 + 15061.0 * n5 / 26880.0 + 167603.0 * n6 / 181440.0;
    c.alpha[3] = 49561.0 * n4 / 161280.0 - 179.0 * n5 / 168.0 + 6601661.0 * n6 / 7257600.0;
    c.alpha[4] = 34729.0 * n5 / 80640.0 - 3418889.0 * n6 / 1995840.0;
    c.alpha[5] = 212378941.0 * n6 / 319334400.0;
    return c;
}

const Constants& constants() {
    static const Constants c = makeConstants();
    return c;
}

}  // namespace

// The conformal sphere's coordinates (xi', eta') of a position and the series over them:
// xi = xi' + sum a_j sin(2j xi') cosh(2j eta'), eta likewise; p and q are the derivative's parts
// that give the scale factor.
struct UtmProjection::Series {
    double xi, eta, p, q, tauPrime, cosLambda, tanPhi;
};

UtmZone utmZoneAt(double longitude, double latitude) {
    const double lon = wrapLongitude(longitude);
    int number = static_cast<int>(std::floor((lon + 180.0) / 6.0)) + 1;
    number = number < 1 ? 1 : number > 60 ? 60 : number;
    if (latitude >= 56.0 && latitude < 64.0 && lon >= 3.0 && lon < 12.0) {
        number = 32;
    } else if (latitude >= 72.0 && latitude < 84.0 && lon >= 0.0 && lon < 42.0) {
        number = lon < 9.0 ? 31 : lon < 21.0 ? 33 : lon < 33.0 ? 35 : 37;
    }
    return {number, latitude >= 0.0};
}

UtmProjection::UtmProjection(UtmZone zone) : zone_(zone), lon0_(zone.centralMeridian()) {}

UtmProjection::Series UtmProjection::series(double longitude, double latitude) const {
    const Constants& c = constants();
    const double lambda = wrapLongitude(longitude - lon0_) * kDegree;
    const double phi = latitude * kDegree;
    const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
    const double tau = sinPhi / cosPhi;
    const double root = 1.0 / cosPhi;  // sqrt(1 + tau^2)
    const double sigma = std::sinh(c.e * std::atanh(c.e * sinPhi));
    const double tauPrime = tau * std::sqrt(1.0 + sigma * sigma) - sigma * root;
    const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
    const double h2 = tauPrime * tauPrime + cosLambda * cosLambda;
    const double xiPrime = std::atan2(tauPrime, cosLambda);
    const double sinhEta = sinLambda / std::sqrt(h2);
    const double etaPrime = std::asinh(sinhEta);
    // sin, cos, sinh and cosh of 2 xi' and 2 eta' from xi' = atan2(tau', cos lambda) and
    // sinh eta' = sin lambda / hypot(tau', cos lambda) without more trigonometry; of 2j xi' and
    // 2j eta' by the angle-addition recurrences.
    const double s2 = 2.0 * tauPrime * cosLambda / h2;
    const double c2 = (cosLambda * cosLambda - tauPrime * tauPrime) / h2;
    const double sh2 = 2.0 * sinhEta * std::sqrt(1.0 + sinhEta * sinhEta);
    const double ch2 = 1.0 + 2.0 * sinhEta * sinhEta;
    double s = s2, co = c2, sh = sh2, ch = ch2;
    Series r{xiPrime, etaPrime, 1.0, 0.0, tauPrime, cosLambda, tau};
    for (int j = 0; j < 6; ++j) {
        const double a = c.alpha[j];
        const double twoJ = 2.0 * (j + 1);
        r.xi += a * s * ch;
        r.eta += a * co * sh;
        r.p += twoJ * a * co * ch;
        r.q += twoJ * a * s * sh;
        const double sNext = s * c2 + co * s2, cNext = co * c2 - s * s2;
        const double shNext = sh * ch2 + ch * sh2, chNext = ch * ch2 + sh * sh2;
        s = sNext, co = cNext, sh = shNext, ch = chNext;
    }
    return r;
}

Projected UtmProjection::forward(double longitude, double latitude) const {
    const Series r = series(longitude, latitude);
    const double k = kScaleOnMeridian * constants().rectifier;
    return {kFalseEasting + k * r.eta, (zone_.north ? 0.0 : kFalseNorthingSouth) + k * r.xi};
}

double UtmProjection::scaleFactor(double longitude, double latitude) const {
    const Constants& c = constants();
    const Series r = series(longitude, latitude);
    const double flat = (1.0 - kFlattening) * r.tanPhi;
    return kScaleOnMeridian * c.rectifier / kSemiMajor * std::sqrt(1.0 + flat * flat) *
           std::hypot(r.p, r.q) / std::hypot(r.tauPrime, r.cosLambda);
}

ProjectedTrack projectTrack(PointView points) {
    ProjectedTrack t;
    const LocalProjection centre = LocalProjection::around(points);
    t.zone = utmZoneAt(centre.centreLon(), centre.centreLat());
    const UtmProjection projection(t.zone);
    t.scale = projection.scaleFactor(centre.centreLon(), centre.centreLat());
    t.x.resize(points.size());
    t.y.resize(points.size());
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const YieldPoint& p = points[i];
        if (!validPosition(p)) {
            t.x[i] = t.y[i] = nan;
            continue;
        }
        const Projected e = projection.forward(p.longitude, p.latitude);
        t.x[i] = e.easting;
        t.y[i] = e.northing;
    }
    return t;
}

}  // namespace vornakite::analysis
