// vornakite-genadverse: writes yield logs laid out to find the analysis's worst cases: dense
// spots, interleaved yield levels, a track that comes back over itself thousands of times, one
// long pass, zig-zags at every sample, many gaps and jumps, long stops, tiny and polar fields,
// points spread over the globe, absurd values, and logs that cannot be judged. The cost of
// every filter per point must stay bounded on all of them (bench/adverse_bench.py times them).
//
// usage: vornakite-genadverse [--seed S] --layout NAME N OUT.Vornakite
//        vornakite-genadverse --list
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "bench_random.hpp"

namespace {

using benchtools::Random;

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111132.954;
constexpr double kLat0 = 42.0, kLon0 = -93.5;

// One sample: a position in metres east and north of the origin (or in degrees, when set), the
// yield in bu/ac and the speed in mph. A yield text replaces the number (absurd values).
struct Sample {
    double east = 0.0, north = 0.0;
    double yield = 180.0, speed = 4.5;
    bool degrees = false;  // east/north hold longitude/latitude in degrees
    const char* yieldText = nullptr;
};

class LogWriter {
  public:
    LogWriter(const char* path, std::string_view layout, long long n)
        : file_(std::fopen(path, "wb")) {
        if (file_ == nullptr) {
            std::fprintf(stderr, "vornakite-genadverse: cannot create %s\n", path);
            std::exit(1);
        }
        std::fprintf(file_,
                     "VKLOG@3.2@SN 40417-K@2026-10-01@08:00:00@J. Olsen@Bench Farms@Adverse "
                     "%.*s %lld@Corn@P1197AM@30 ft\n",
                     static_cast<int>(layout.size()), layout.data(), n);
    }
    ~LogWriter() {
        if (file_ != nullptr && std::fclose(file_) != 0) {
            std::fputs("vornakite-genadverse: cannot write the log\n", stderr);
            std::exit(1);
        }
    }
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    void put(const Sample& s) {
        double lat = s.north, lon = s.east;
        if (!s.degrees) {
            lat = kLat0 + s.north / kMetresPerDegree;
            lon = kLon0 + s.east / (kMetresPerDegree * std::cos(kLat0 * kPi / 180.0));
        }
        char latText[40], lonText[40], yieldText[40];
        units(lat * 1e7, latText);
        units(lon * 1e7, lonText);
        if (s.yieldText != nullptr) {
            std::snprintf(yieldText, sizeof yieldText, "%s", s.yieldText);
        } else {
            units(s.yield * 10.0, yieldText);
        }
        const int t = static_cast<int>(count_ % 86400);
        std::fprintf(
            file_, "DY@%lld@%02d:%02d:%02d@30@%lld@180@%s@%s@%s@900@2800@4@15@1@560@1@%.2f\n",
            std::llround(s.speed * 10.0), t / 3600, t / 60 % 60, t % 60,
            std::llround(s.yield * 0.028 * 100.0), yieldText, latText, lonText, s.yield * 0.05);
        ++count_;
    }

  private:
    // Whole units when they fit, else the number as text.
    static void units(double v, char* out) {
        if (std::isfinite(v) && std::fabs(v) < 1e15) {
            std::snprintf(out, 40, "%lld", std::llround(v));
        } else {
            std::snprintf(out, 40, "%.17g", v);
        }
    }
    std::FILE* file_;
    long long count_ = 0;
};

// Serpentine passes of `length` metres, `spacing` apart, a sample every `step` metres, joined by
// a few turn samples: the ordinary part of several layouts.
class Serpentine {
  public:
    Serpentine(double length, double spacing, double step)
        : length_(length), spacing_(spacing), step_(step) {}
    // The next position, and whether it is on a pass (not a turn).
    bool next(double& east, double& north) {
        if (turn_ > 0) {
            const double a = kPi * (4 - turn_) / 4.0;
            const double r = spacing_ / 2;
            east = (pass_ % 2 == 1 ? length_ + r * std::sin(a) : -r * std::sin(a));
            north = static_cast<double>(pass_ - 1) * spacing_ + r - r * std::cos(a);
            --turn_;
            return false;
        }
        east = pass_ % 2 == 0 ? along_ : length_ - along_;
        north = static_cast<double>(pass_) * spacing_;
        along_ += step_;
        if (along_ > length_) {
            along_ = 0.0;
            ++pass_;
            turn_ = 3;
        }
        return true;
    }
    double along() const { return along_; }

  private:
    double length_, spacing_, step_;
    double along_ = 0.0;
    long long pass_ = 0;
    int turn_ = 0;
};

// A smooth field yield with sample noise; zero in turns (header raised).
double fieldYield(Random& rng, double east, double north, bool onPass) {
    if (!onPass) {
        return 0.0;
    }
    return 180.0 + 25.0 * std::sin(east / 37.0) * std::cos(north / 23.0) + rng.gauss(0.0, 8.0);
}

using Put = std::function<void(const Sample&)>;

struct Layout {
    const char* name;
    const char* what;
    void (*write)(long long n, Random& rng, const Put& put);
};

void serpentineField(long long n, Random& rng, const Put& put, double length, double spacing,
                     double step, const std::function<void(long long, Sample&)>& adjust) {
    Serpentine s(length, spacing, step);
    for (long long i = 0; i < n; ++i) {
        Sample p;
        const bool onPass = s.next(p.east, p.north);
        p.yield = fieldYield(rng, p.east, p.north, onPass);
        p.speed = onPass ? 4.5 + rng.gauss(0.0, 0.2) : 3.0;
        adjust(i, p);
        put(p);
    }
}

// Every point within 30 cm of one spot, yields about 100 and every other one `second` more.
void spot(long long n, Random& rng, const Put& put, double second) {
    for (long long i = 0; i < n; ++i) {
        Sample p;
        const double r = 0.3 * std::sqrt(rng.uniform()), a = 2 * kPi * rng.uniform();
        p.east = r * std::cos(a);
        p.north = r * std::sin(a);
        p.yield = 100.0 + (i % 2 == 0 ? 0.0 : second) + rng.gauss(0.0, 3.0);
        p.speed = 3.0 + rng.gauss(0.0, 0.2);
        put(p);
    }
}

const Layout kLayouts[] = {
    {"spot", "every point within 30 cm of one spot, yields about 100",
     [](long long n, Random& rng, const Put& put) { spot(n, rng, put, 0.0); }},
    {"spot2", "every point within 30 cm of one spot, yields about 100 and 300 in turn",
     [](long long n, Random& rng, const Put& put) { spot(n, rng, put, 200.0); }},
    {"crowd", "a field of 5000 samples, then every point at one exact spot in it",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 300.0, 9.0, 1.8, [](long long i, Sample& p) {
             if (i >= 5000) {
                 p.east = 120.0;
                 p.north = 45.0;
             }
         });
     }},
    {"levels", "a serpentine field whose yields alternate between 100 and 300 at every sample",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 1.8, [](long long i, Sample& p) {
             if (p.yield > 0.0) {
                 p.yield += i % 2 == 0 ? -80.0 : 120.0;
             }
         });
     }},
    {"retrace", "back and forth along one 30 m line, thousands of times",
     [](long long n, Random& rng, const Put& put) {
         for (long long i = 0; i < n; ++i) {
             Sample p;
             const long long k = i % 34;  // 17 steps out, 17 back
             p.east = 1.8 * static_cast<double>(k < 17 ? k : 34 - k) + rng.gauss(0.0, 0.05);
             p.north = rng.gauss(0.0, 0.05);
             p.yield = 180.0 + rng.gauss(0.0, 8.0);
             put(p);
         }
     }},
    {"circles", "round and round a circle of 12 m radius",
     [](long long n, Random& rng, const Put& put) {
         for (long long i = 0; i < n; ++i) {
             Sample p;
             const double a = 1.8 / 12.0 * static_cast<double>(i);
             p.east = 12.0 * std::cos(a);
             p.north = 12.0 * std::sin(a);
             p.yield = 180.0 + rng.gauss(0.0, 8.0);
             put(p);
         }
     }},
    {"onepass", "one straight pass of every sample",
     [](long long n, Random& rng, const Put& put) {
         for (long long i = 0; i < n; ++i) {
             Sample p;
             p.east = 1.8 * static_cast<double>(i) + rng.gauss(0.0, 0.05);
             p.north = rng.gauss(0.0, 0.05);
             p.yield = fieldYield(rng, p.east, 0.0, true);
             put(p);
         }
     }},
    {"zigzag", "serpentine passes that turn by 120 degrees at every sample",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 0.9,
                         [](long long i, Sample& p) { p.north += i % 2 == 0 ? 1.5 : -1.5; });
     }},
    {"gaps", "a serpentine field with a gap of 40 m every 7 samples",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 1.8, [](long long i, Sample& p) {
             p.east += 40.0 * static_cast<double>(i / 7 % 8);
         });
     }},
    {"jumps", "a serpentine field with every fifth point 80 m off the track",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 1.8,
                         [](long long i, Sample& p) { p.north += i % 5 == 0 ? 80.0 : 0.0; });
     }},
    {"stops", "a serpentine field with a stop of 2000 samples on one spot in every pass",
     [](long long n, Random& rng, const Put& put) {
         Serpentine s(400.0, 9.0, 1.8);
         Sample p;
         bool onPass = true;
         for (long long i = 0; i < n; ++i) {
             if (i % 2200 < 200) {
                 onPass = s.next(p.east, p.north);
             }
             Sample q = p;
             q.east += rng.gauss(0.0, 0.3);
             q.north += rng.gauss(0.0, 0.3);
             q.yield = fieldYield(rng, q.east, q.north, onPass);
             q.speed = i % 2200 < 200 ? 4.5 : 0.8;
             put(q);
         }
     }},
    {"tiny", "a serpentine field of 1 cm steps and 10 cm passes",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 4.0, 0.1, 0.011, [](long long, Sample&) {});
     }},
    {"pole", "a serpentine field around the north pole",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 1.8, [](long long, Sample& p) {
             const double r = 50.0 + p.north, a = p.east / r;  // radians round the pole
             p.degrees = true;
             p.north = 90.0 - r / kMetresPerDegree;
             p.east = std::remainder(a * 180.0 / kPi, 360.0);
         });
     }},
    {"globe", "every point anywhere on the globe",
     [](long long n, Random& rng, const Put& put) {
         for (long long i = 0; i < n; ++i) {
             Sample p;
             p.degrees = true;
             p.north = rng.uniform(-89.0, 89.0);
             p.east = rng.uniform(-180.0, 180.0);
             p.yield = 180.0 + rng.gauss(0.0, 30.0);
             put(p);
         }
     }},
    {"absurd", "a serpentine field with a fifth of its yields at 1e307 bu/ac",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 1.8, [](long long i, Sample& p) {
             if (i % 5 == 2) {
                 p.yieldText = "1e308";
             }
         });
     }},
    {"unjudged", "every yield the same, with invalid positions and non-finite yields",
     [](long long n, Random& rng, const Put& put) {
         serpentineField(n, rng, put, 400.0, 9.0, 1.8, [](long long i, Sample& p) {
             p.yield = 150.0;
             p.degrees = i % 20 < 3;
             if (i % 20 == 0) {
                 p.north = 100.0, p.east = kLon0;
             } else if (i % 20 == 1) {
                 p.north = kLat0, p.east = 1e293;
             } else if (i % 20 == 2) {
                 p.north = 0.0, p.east = 0.0;
             } else if (i % 20 == 3) {
                 p.yieldText = "nan";
             }
         });
     }},
};

int usage() {
    std::fputs(
        "usage: vornakite-genadverse [--seed S] --layout NAME N OUT.Vornakite\n"
        "       vornakite-genadverse --list\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    std::string_view layout;
    long long n = 0;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--list") {
            for (const Layout& l : kLayouts) {
                std::printf("%-9s %s\n", l.name, l.what);
            }
            return 0;
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--layout" && i + 1 < argc) {
            layout = argv[++i];
        } else if (n == 0 && !arg.empty() && arg[0] != '-') {
            n = std::strtoll(argv[i], nullptr, 10);
        } else if (out == nullptr && !arg.empty() && arg[0] != '-') {
            out = argv[i];
        } else {
            return usage();
        }
    }
    for (const Layout& l : kLayouts) {
        if (layout == l.name && n > 0 && out != nullptr) {
            Random rng(seed);
            LogWriter log(out, layout, n);
            l.write(n, rng, [&](const Sample& s) { log.put(s); });
            return 0;
        }
    }
    return usage();
}
