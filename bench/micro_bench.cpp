// Micro-benchmarks of the conversion steps, so that a change shows where its time goes:
// reading and splitting, number conversion, dBASE field formatting, geometry writing and the
// escapes of text values.
// Each step is shown next to the plain standard-library way of doing the same work.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/flow_lag.hpp"
#include "analysis/geo.hpp"
#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "read/number.hpp"
#include "read/yield_log.hpp"
#include "text/escape.hpp"
#include "write/dbf_writer.hpp"
#include "write/set_writer.hpp"
#include "write/shapefile_writer.hpp"

namespace {

using vornakite::YieldPoint;

// Deterministic sample records with the value ranges of real logs.
std::string sampleLine(std::uint64_t& state) {
    auto next = [&](int range) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<long long>((state >> 33) % static_cast<std::uint64_t>(range));
    };
    char line[160];
    std::snprintf(
        line, sizeof line,
        "DY@%lld@08:%02lld:%02lld@30@%lld@%lld@%lld@%lld@%lld@%lld@%lld@4@%lld@%lld@%lld@1@"
        "%lld.%02lld",
        30 + next(30), next(60), next(60), 100 + next(600), 120 + next(80), next(2600),
        400000000 + next(30000000), -960000000 + next(85000000), next(3600), 2700 + next(400),
        13 + next(4), 1 + next(60), 550 + next(60), next(60), next(100));
    return line;
}

const std::vector<std::string>& sampleLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> v;
        std::uint64_t state = 20261001;
        for (int i = 0; i < 4096; ++i) {
            v.push_back(sampleLine(state));
        }
        return v;
    }();
    return lines;
}

const std::vector<YieldPoint>& samplePoints(std::size_t n) {
    static std::vector<YieldPoint> points;
    if (points.size() != n) {
        points.clear();
        const auto& lines = sampleLines();
        for (std::size_t i = 0; i < n; ++i) {
            YieldPoint p;
            vornakite::parseSampleLine(lines[i % lines.size()], p);
            points.push_back(p);
        }
    }
    return points;
}

// A stream that counts and discards what is written to it.
class NullBuffer : public std::streambuf {
  protected:
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

// --- Reading and splitting ---------------------------------------------------------------

// A whole log in the page cache: open, read in chunks, split lines and fields, convert.
void BM_ReadYieldLog(benchmark::State& state) {
    const auto samples = static_cast<std::size_t>(state.range(0));
    const auto path = std::filesystem::temp_directory_path() / "vornakite_micro_bench.Vornakite";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "VKLOG@3.2@SN 40417-K@2026-10-01@08:12:05@J. Olsen@North Farm@Field 12/B@Corn\n";
        const auto& lines = sampleLines();
        for (std::size_t i = 0; i < samples; ++i) {
            out << lines[i % lines.size()] << '\n';
            if (i % 20 == 19) {
                out << "GP@08:12:35@420312428@-936405736@0.9@14@4\n";
            }
        }
    }
    const auto bytes = std::filesystem::file_size(path);
    for (auto _ : state) {
        auto log = vornakite::readYieldLog(path);
        benchmark::DoNotOptimize(log.points.data());
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ReadYieldLog)->Arg(100000)->Unit(benchmark::kMillisecond);

// One sample line: finding the 16 fields and converting the seven used ones.
void BM_ParseSampleLine(benchmark::State& state) {
    const auto& lines = sampleLines();
    std::size_t i = 0;
    YieldPoint p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vornakite::parseSampleLine(lines[i++ % lines.size()], p));
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseSampleLine);

// The general splitter, as used for the header: one string per field.
void BM_SplitFields(benchmark::State& state) {
    const auto& lines = sampleLines();
    std::size_t i = 0;
    for (auto _ : state) {
        auto fields = vornakite::splitFields(lines[i++ % lines.size()]);
        benchmark::DoNotOptimize(fields.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitFields);

// --- Number conversion -------------------------------------------------------------------

// Field texts: the forms of real logs first, then the rarer forms the reader accepts.
constexpr std::string_view kNumberTexts[] = {
    "-936405736", "420312428", "591", "36.75", "  42", "1.5e-3", "0x1.8p1", "inf", "12.5xyz",
};

void BM_ParseDouble(benchmark::State& state) {
    const std::string_view text = kNumberTexts[state.range(0)];
    state.SetLabel(std::string(text));
    for (auto _ : state) {
        benchmark::DoNotOptimize(vornakite::parseDouble(text));
    }
}
BENCHMARK(BM_ParseDouble)->DenseRange(0, std::size(kNumberTexts) - 1);

// std::stod, the reference whose results parseDouble reproduces.
void BM_Stod(benchmark::State& state) {
    const std::string text(kNumberTexts[state.range(0)]);
    state.SetLabel(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::stod(text));
    }
}
BENCHMARK(BM_Stod)->DenseRange(0, 3);

// std::from_chars alone, without white space, hexadecimal prefix or range rules.
void BM_FromChars(benchmark::State& state) {
    const std::string_view text = kNumberTexts[state.range(0)];
    state.SetLabel(std::string(text));
    for (auto _ : state) {
        double v = 0.0;
        std::from_chars(text.data(), text.data() + text.size(), v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_FromChars)->DenseRange(0, 3);

// --- dBASE field formatting --------------------------------------------------------------

// The five attribute columns of realistic points, formatted into one record.
void BM_FormatNumericFields(benchmark::State& state) {
    const auto& points = samplePoints(4096);
    std::size_t i = 0;
    char record[41];
    for (auto _ : state) {
        const auto& p = points[i++ % points.size()];
        vornakite::formatNumericField(record + 1, p.yield, 10, 2);
        vornakite::formatNumericField(record + 11, p.moisture, 6, 1);
        vornakite::formatNumericField(record + 17, p.weight, 10, 2);
        vornakite::formatNumericField(record + 27, p.density, 8, 1);
        vornakite::formatNumericField(record + 35, p.speed, 6, 1);
        benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatNumericFields);

// The same five fields with snprintf("%*.*f"), the reference formatting.
void BM_SnprintfFields(benchmark::State& state) {
    const auto& points = samplePoints(4096);
    std::size_t i = 0;
    char record[64];
    for (auto _ : state) {
        const auto& p = points[i++ % points.size()];
        std::snprintf(record, sizeof record, "%10.2f%6.1f%10.2f%8.1f%6.1f", p.yield, p.moisture,
                      p.weight, p.density, p.speed);
        benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnprintfFields);

// The same five fields with std::to_chars(fixed), exact like snprintf but without its parsing
// of the format.
void BM_ToCharsFields(benchmark::State& state) {
    const auto& points = samplePoints(4096);
    std::size_t i = 0;
    char text[64];
    for (auto _ : state) {
        const auto& p = points[i++ % points.size()];
        char* at = text;
        for (const auto& [value, decimals] :
             {std::pair{p.yield, 2}, std::pair{p.moisture, 1}, std::pair{p.weight, 2},
              std::pair{p.density, 1}, std::pair{p.speed, 1}}) {
            at = std::to_chars(at, text + sizeof text, value, std::chars_format::fixed, decimals)
                     .ptr;
        }
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToCharsFields);

void BM_WriteDbfTable(benchmark::State& state) {
    const auto& points = samplePoints(static_cast<std::size_t>(state.range(0)));
    NullBuffer null;
    std::ostream out(&null);
    for (auto _ : state) {
        vornakite::writeDbfTable(out, points, {2026, 10, 1});
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
}
BENCHMARK(BM_WriteDbfTable)->Arg(100000)->Unit(benchmark::kMillisecond);

// --- Geometry writing --------------------------------------------------------------------

void BM_WriteShapefileGeometry(benchmark::State& state) {
    const auto& points = samplePoints(static_cast<std::size_t>(state.range(0)));
    NullBuffer null;
    std::ostream shp(&null);
    std::ostream shx(&null);
    for (auto _ : state) {
        vornakite::writeShapefileGeometry(shp, shx, points);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
}
BENCHMARK(BM_WriteShapefileGeometry)->Arg(100000)->Unit(benchmark::kMillisecond);

// The three files on disk (page cache): geometry, index and table with their file I/O.
void BM_WriteShapefileSet(benchmark::State& state) {
    const auto& points = samplePoints(static_cast<std::size_t>(state.range(0)));
    const auto base = std::filesystem::temp_directory_path() / "vornakite_micro_bench_set";
    for (auto _ : state) {
        vornakite::writeShapefileSet(base, points);
    }
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
        std::filesystem::path p = base;
        p += ext;
        std::filesystem::remove(p);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
}
BENCHMARK(BM_WriteShapefileSet)->Arg(100000)->Unit(benchmark::kMillisecond);

// --- Text values ---------------------------------------------------------------------------

// The text columns of GeoJSON and CSV (a merged set's Log, a removed set's Reason), escaped.
void BM_EscapeTextValues(benchmark::State& state) {
    const std::string_view values[] = {"2026-10-01.Vornakite", "ZERO,END", "SLOW",
                                       "Gr\xC3\xBCn 12.txt", "YLD,LOC,END"};
    std::string out;
    for (auto _ : state) {
        out.clear();
        for (const std::string_view value : values) {
            vornakite::appendEscaped(out, value, vornakite::Escape::JsonValue);
            vornakite::appendEscaped(out, value, vornakite::Escape::Csv);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 2 * static_cast<std::int64_t>(std::size(values)));
}
BENCHMARK(BM_EscapeTextValues);

// --- Analysis ------------------------------------------------------------------------------

// A season of fields as a combine logs them: serpentine passes of 250 samples 2 m apart and
// 9.1 m apart, half-circle turns with the header raised (zero yield), a field of 40 passes
// every 10,000 samples a few kilometres from the last; yield and speed with smooth variation
// and noise, a few spikes.
const std::vector<YieldPoint>& fieldPoints(std::size_t n) {
    static std::vector<YieldPoint> points;
    if (points.size() == n) {
        return points;
    }
    points.clear();
    points.reserve(n);
    std::uint64_t state = 20261001;
    auto noise = [&] {  // roughly normal, sd 1
        double sum = 0;
        for (int k = 0; k < 4; ++k) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            sum += static_cast<double>(state >> 11) * 0x1p-53;
        }
        return (sum - 2.0) * 1.732;
    };
    const double mLat = 110574.0, mLon = 111319.49 * std::cos(42.0 * 3.14159265 / 180.0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t fieldNo = i / 10000, inField = i % 10000;
        const std::size_t pass = inField / 262, k = inField % 262;
        double east = 0, north = 9.1 * static_cast<double>(pass), yield = 0;
        if (k < 250) {
            east = 2.0 * static_cast<double>(pass % 2 == 0 ? k : 249 - k);
            yield = 190 + 25 * std::sin(east / 37) * std::cos(north / 23) + 9 * noise();
            if (i % 997 == 0) {
                yield *= 3;
            }
        } else {  // the turn
            const double a = 3.14159265 * static_cast<double>(k - 249) / 13;
            east = pass % 2 == 0 ? 498 + 4.55 * std::sin(a) : -4.55 * std::sin(a);
            north += 4.55 - 4.55 * std::cos(a);
        }
        const double lat = 42.0 + static_cast<double>(fieldNo % 7) * 0.05 + north / mLat;
        const double lon = -93.5 + static_cast<double>(fieldNo / 7) * 0.05 + east / mLon;
        points.push_back({lon, lat, yield, 18 + 0.3 * noise(), 5.3, 56, 4.5 + 0.2 * noise()});
    }
    return points;
}

void BM_CleanPoints(benchmark::State& state) {
    const auto& points = fieldPoints(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(vornakite::analysis::cleanPoints(points));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CleanPoints)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_SummarizeField(benchmark::State& state) {
    const auto& points = fieldPoints(static_cast<std::size_t>(state.range(0)));
    const auto result = vornakite::analysis::cleanPoints(points);
    for (auto _ : state) {
        benchmark::DoNotOptimize(vornakite::analysis::summarizeField("F", points, result));
    }
}
BENCHMARK(BM_SummarizeField)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The report of one log into a null stream: 200,000 of the points on the map.
void BM_HtmlReport(benchmark::State& state) {
    const auto& points = fieldPoints(static_cast<std::size_t>(state.range(0)));
    const auto result = vornakite::analysis::cleanPoints(points);
    const auto summary = vornakite::analysis::summarizeField("F", points, result);
    NullBuffer null;
    std::ostream out(&null);
    for (auto _ : state) {
        vornakite::analysis::HtmlReport report(out);
        report.addField(summary, points, result);
        report.finish();
    }
}
BENCHMARK(BM_HtmlReport)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The flow lag estimator over the same points, projected to metres beforehand as the filters
// project them.
void BM_EstimateFlowLag(benchmark::State& state) {
    const auto& points = fieldPoints(static_cast<std::size_t>(state.range(0)));
    const auto projection = vornakite::analysis::LocalProjection::around(points);
    std::vector<float> x, y;
    std::vector<double> yield, speed;
    for (const YieldPoint& p : points) {
        x.push_back(static_cast<float>(projection.x(p.longitude)));
        y.push_back(static_cast<float>(projection.y(p.latitude)));
        yield.push_back(p.yield);
        speed.push_back(p.speed * 0.44704);
    }
    vornakite::analysis::FlowLagOptions options;
    options.sampleSeconds = vornakite::analysis::secondsPerSample(x, y, speed);
    for (auto _ : state) {
        benchmark::DoNotOptimize(vornakite::analysis::estimateFlowLag(x, y, yield, options));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EstimateFlowLag)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
