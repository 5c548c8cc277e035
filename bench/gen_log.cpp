// vornakite-genlog: writes a deterministic, realistic yield log of N samples for benchmarks,
// and optionally the same samples as a CSV (with a .csvt of column types) for GIS tools.
//
// The log is a season of fields harvested one after another by one combine: serpentine passes
// at one sample per second, one 30 ft header width apart, joined by half-circle headland turns
// with the header raised (zero yield). Between the samples the monitor writes GPS status (GP),
// header events (EV), operator marks (MK), calibration (CA) and end-of-session (ES) records,
// about 5 % of all lines. Values and units are those of the logs in samples/.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bench_random.hpp"

namespace {

using benchtools::Random;

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetersPerDegLat = 111132.954;
constexpr double kMetersPerDegLonAtEquator = 111319.488;
constexpr double kSwathM = 9.144;  // 30 ft header
constexpr double kMphToMps = 0.44704;
constexpr int kGpsEverySeconds = 22;
constexpr std::size_t kFlushAt = 1 << 20;

struct Crop {
    const char* name;
    double yieldMean, yieldAmp, yieldNoise;  // bu/ac
    double moistMean, moistAmp, moistNoise;  // %
    double testWeightMean, testWeightNoise;  // lb/bu
    double speedMean, speedNoise;            // mph
};
constexpr Crop kCorn{"Corn", 192.0, 28.0, 9.0, 18.0, 2.6, 0.35, 56.0, 0.6, 4.6, 0.25};
constexpr Crop kSoybeans{"Soybeans", 58.0, 9.0, 3.5, 12.8, 1.1, 0.2, 60.0, 0.4, 5.4, 0.3};

// Buffered output to one file, failing loudly.
class Output {
  public:
    explicit Output(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) {
            std::fprintf(stderr, "vornakite-genlog: cannot create %s\n", path.c_str());
            std::exit(1);
        }
        buffer_.reserve(kFlushAt + 4096);
    }
    ~Output() { close(); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void put(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kFlushAt) {
            flush();
        }
    }
    void put(char c) { buffer_ += c; }
    void putInt(long long v) {
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, v).ptr;
        buffer_.append(text, end);
    }
    // Shortest text that reads back as exactly `v`.
    void putDouble(double v) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, v).ptr;
        buffer_.append(text, end);
    }
    void putFixed(double v, int decimals) {
        char text[64];
        const auto end =
            std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
        buffer_.append(text, end);
    }
    void close() {
        if (file_ == nullptr) {
            return;
        }
        flush();
        if (std::fclose(file_) != 0) {
            fail();
        }
        file_ = nullptr;
    }

  private:
    void flush() {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            fail();
        }
        buffer_.clear();
    }
    [[noreturn]] void fail() {
        std::fprintf(stderr, "vornakite-genlog: cannot write %s\n", path_.c_str());
        std::exit(1);
    }
    std::string path_;
    std::FILE* file_;
    std::string buffer_;
};

struct Options {
    long long samples = 0;
    std::string logPath;
    std::string csvPath;
    std::uint64_t seed = 20261001;
    bool crlf = false;
};

class Monitor {
  public:
    Monitor(const Options& options, Output& log, Output* csv)
        : options_(options), log_(log), csv_(csv), rng_(options.seed) {}

    void run() {
        writeHeader();
        if (csv_ != nullptr) {
            csv_->put("X,Y,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH\n");
        }
        int fieldNo = 0;
        while (written_ < options_.samples) {
            harvestField(++fieldNo);
        }
    }

    long long otherRecords() const { return otherRecords_; }

  private:
    void endLine() {
        if (options_.crlf) {
            log_.put('\r');
        }
        log_.put('\n');
    }
    void tag(const char* name) {
        log_.put(name);
        ++otherRecords_;
    }
    void field(std::string_view text) {
        log_.put('@');
        log_.put(text);
    }
    void field(long long v) {
        log_.put('@');
        log_.putInt(v);
    }
    void timeField() {
        char text[16];
        const int t = tod_ % 86400;
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t / 3600, (t / 60) % 60, t % 60);
        field(text);
    }

    void writeHeader() {
        log_.put("VKLOG@3.2@SN 40417-K@2026-10-01@08:12:05@J. Olsen@Bench Farms@Season ");
        log_.putInt(options_.samples);
        log_.put("@Mixed@P1197AM@30 ft");
        endLine();
    }

    void toUnits(double eastM, double northM, long long& lat, long long& lon) const {
        const double latDeg = lat0_ + northM / kMetersPerDegLat;
        const double lonDeg =
            lon0_ + eastM / (kMetersPerDegLonAtEquator * std::cos(lat0_ * kPi / 180.0));
        lat = std::llround(latDeg * 1e7);
        lon = std::llround(lonDeg * 1e7);
    }

    // Smooth variation over the field in [-1, 1]: a low swale and a sandy knoll.
    static double surface(double eastM, double northM) {
        return 0.6 * std::sin(eastM / 37.0 + 0.4) * std::cos(northM / 23.0) +
               0.4 * std::sin((eastM + northM) / 51.0);
    }

    void gpsStatus(long long lat, long long lon) {
        tag("GP");
        timeField();
        field(lat);
        field(lon);
        char hdop[8];
        std::snprintf(hdop, sizeof hdop, "%.1f", 0.7 + rng_.uniform() * 0.4);
        field(hdop);
        field(14 + rng_.integer(-2, 3));
        field(4);
        endLine();
    }

    void event(const char* what) {
        tag("EV");
        timeField();
        field(what);
        field(passNo_);
        endLine();
    }

    void sample(double eastM, double northM, double headingDeg, double speedMph, bool headerDown) {
        const Crop& crop = *crop_;
        long long lat = 0;
        long long lon = 0;
        // Receiver noise of a few centimetres on top of the path.
        toUnits(eastM + rng_.gauss(0, 0.03), northM + rng_.gauss(0, 0.03), lat, lon);
        const double v = surface(eastM, northM);
        double buAc = 0.0;
        double flowLbS = 0.0;
        double testWeight = crop.testWeightMean + rng_.gauss(0, crop.testWeightNoise);
        if (headerDown) {
            buAc =
                std::max(0.0, crop.yieldMean + crop.yieldAmp * v + rng_.gauss(0, crop.yieldNoise));
            moisture_ = crop.moistMean - crop.moistAmp * v + rng_.gauss(0, crop.moistNoise);
            flowLbS = buAc * testWeight * speedMph * kMphToMps * kSwathM / 4046.86;
        }
        const double tonsAc = buAc * testWeight / 2000.0;
        constexpr int kElevationSteps[] = {-1, 0, 0, 1};
        elevDm_ += kElevationSteps[rng_.integer(0, 3)];
        const long long speed = std::llround(speedMph * 10);
        const long long weight = std::llround(tonsAc * 100);
        const long long moist = std::llround(moisture_ * 10);
        const long long yield = std::llround(buAc * 10);
        const long long density = std::llround(testWeight * 10);

        log_.put("DY");
        field(speed);                                 // 1 speed, 0.1 mph
        timeField();                                  // 2 time of day
        field(30);                                    // 3 swath width, ft
        field(weight);                                // 4 wet weight, 0.01 t/ac
        field(moist);                                 // 5 moisture, 0.1 %
        field(yield);                                 // 6 yield, 0.1 bu/ac
        field(lat);                                   // 7 latitude, 1e-7 deg
        field(lon);                                   // 8 longitude, 1e-7 deg
        field(std::llround(headingDeg * 10) % 3600);  // 9 heading, 0.1 deg
        field(elevDm_);                               // 10 elevation, dm
        field(4);                                     // 11 fix quality (RTK)
        field(15 + rng_.integer(-1, 2));              // 12 satellites
        field(passNo_);                               // 13 pass number
        field(density);                               // 14 density, 0.1 lb/bu
        field(headerDown ? 1 : 0);                    // 15 header status
        log_.put('@');
        log_.putFixed(flowLbS, 2);  // 16 mass flow, lb/s
        endLine();
        ++written_;

        if (csv_ != nullptr) {
            // Exactly the values the converter derives from the record.
            csv_->putDouble(static_cast<double>(lon) / 10000000.0);
            csv_->put(',');
            csv_->putDouble(static_cast<double>(lat) / 10000000.0);
            csv_->put(',');
            csv_->putDouble(static_cast<double>(yield) / 10.0);
            csv_->put(',');
            csv_->putDouble(static_cast<double>(moist) / 10.0);
            csv_->put(',');
            csv_->putDouble(static_cast<double>(weight) / 100.0);
            csv_->put(',');
            csv_->putDouble(static_cast<double>(density) / 10.0);
            csv_->put(',');
            csv_->putDouble(static_cast<double>(speed) / 10.0);
            csv_->put('\n');
        }
        if (tod_ % kGpsEverySeconds == 0) {
            gpsStatus(lat, lon);
        }
        ++tod_;
    }

    bool full() const { return written_ >= options_.samples; }

    void harvestField(int fieldNo) {
        crop_ = rng_.uniform() < 0.55 ? &kCorn : &kSoybeans;
        lat0_ = rng_.uniform(40.0, 43.0);
        lon0_ = rng_.uniform(-96.0, -87.5);
        moisture_ = crop_->moistMean;
        elevDm_ = 2700 + rng_.integer(0, 400);
        tod_ = 8 * 3600 + rng_.integer(0, 3600);
        const int passes = rng_.integer(30, 60);
        const int passSeconds = rng_.integer(240, 420);

        tag("CA");
        log_.put("@MOIST@1.012@FLOW@0.987@TEMP@");
        log_.putFixed(rng_.uniform(5.0, 20.0), 1);
        endLine();

        double east = 0.0;
        double north = kSwathM / 2;
        for (passNo_ = 1; passNo_ <= passes && !full(); ++passNo_) {
            const bool eastbound = passNo_ % 2 == 1;
            const double heading = eastbound ? 90.0 : 270.0;
            event("HEADER_DOWN");
            for (int second = 0; second < passSeconds && !full(); ++second) {
                double speed = crop_->speedMean + rng_.gauss(0, crop_->speedNoise);
                if (second < 3) {  // accelerating out of the turn
                    speed *= 0.7 + 0.1 * second;
                }
                if (rng_.uniform() < 0.0005) {
                    long long lat = 0;
                    long long lon = 0;
                    toUnits(east, north, lat, lon);
                    tag("MK");
                    timeField();
                    field(lat);
                    field(lon);
                    field(rng_.uniform() < 0.5 ? "Wet spot" : "Rock pile");
                    endLine();
                }
                sample(east, north, heading + rng_.gauss(0, 0.8), speed, true);
                const double step = speed * kMphToMps;
                east += eastbound ? step : -step;
            }
            event("HEADER_UP");
            if (passNo_ == passes || full()) {
                break;
            }
            // Half-circle turn at the headland onto the next pass, header raised.
            const double radius = kSwathM / 2;
            const double turnSpeed = 3.1;
            const int turnSeconds =
                static_cast<int>(std::lround(kPi * radius / (turnSpeed * kMphToMps)));
            const double centreNorth = north + radius;
            for (int k = 1; k <= turnSeconds && !full(); ++k) {
                const double a = kPi * k / (turnSeconds + 1);
                const double bulge = radius * std::sin(a);
                const double turnEast = eastbound ? east + bulge : east - bulge;
                const double turnNorth = centreNorth - radius * std::cos(a);
                double turnHeading = eastbound ? 90.0 - a * 180.0 / kPi : 270.0 + a * 180.0 / kPi;
                turnHeading = std::fmod(turnHeading + 360.0, 360.0);
                sample(turnEast, turnNorth, turnHeading, turnSpeed + rng_.gauss(0, 0.15), false);
            }
            north += kSwathM;
        }
        tag("ES");
        timeField();
        field("END OF SESSION");
        field(fieldNo);
        endLine();
    }

    const Options& options_;
    Output& log_;
    Output* csv_;
    Random rng_;
    const Crop* crop_ = &kCorn;
    double lat0_ = 0.0;
    double lon0_ = 0.0;
    double moisture_ = 0.0;
    long long elevDm_ = 0;
    int tod_ = 0;
    int passNo_ = 0;
    long long written_ = 0;
    long long otherRecords_ = 0;
};

int usage() {
    std::fputs(
        "usage: vornakite-genlog [--seed S] [--crlf] [--csv OUT.csv] N OUT.Vornakite\n"
        "Writes a log of N yield samples; --csv also writes the samples as OUT.csv with\n"
        "OUT.csvt (column types and widths of the converter's .dbf) for GIS tools.\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--seed" && i + 1 < argc) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--csv" && i + 1 < argc) {
            options.csvPath = argv[++i];
        } else if (arg == "--crlf") {
            options.crlf = true;
        } else if (!arg.empty() && arg[0] != '-' && positional == 0) {
            options.samples = std::strtoll(argv[i], nullptr, 10);
            ++positional;
        } else if (!arg.empty() && arg[0] != '-' && positional == 1) {
            options.logPath = argv[i];
            ++positional;
        } else {
            return usage();
        }
    }
    if (positional != 2 || options.samples < 1) {
        return usage();
    }

    Output log(options.logPath);
    std::unique_ptr<Output> csv;
    if (!options.csvPath.empty()) {
        csv = std::make_unique<Output>(options.csvPath);
    }
    Monitor monitor(options, log, csv.get());
    monitor.run();
    log.close();
    if (csv != nullptr) {
        csv->close();
        // Geometry from X and Y; the five columns as N(width, decimals) like the .dbf.
        Output csvt(options.csvPath + "t");
        csvt.put("CoordX,CoordY,Real(10.2),Real(6.1),Real(10.2),Real(8.1),Real(6.1)\n");
        csvt.close();
    }
    const long long others = monitor.otherRecords();
    std::printf(
        "%lld samples, %lld other records (%.1f %%)\n", options.samples, others,
        100.0 * static_cast<double>(others) / static_cast<double>(options.samples + others));
    return 0;
}
