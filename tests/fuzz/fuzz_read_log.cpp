// Differential fuzzing of the log reader against a plain reference reading of
// the same rules (whole lines, std::stod): the same header and points bit for
// bit, or the same exception and message.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "fuzz_support.hpp"
#include "read/yield_log.hpp"
#include "test_bytes.hpp"

namespace {

using vornakite::YieldLog;
using vornakite::YieldPoint;

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '@') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

YieldLog referenceRead(std::string bytes) {
    if (auto stop = bytes.find('\x1a'); stop != std::string::npos)
        bytes.resize(stop);
    if (bytes.empty())
        throw std::runtime_error("Empty file");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        std::string line = bytes.substr(start, end == std::string::npos ? end : end - start);
        if (end != std::string::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    YieldLog log;
    const auto header = split(lines[0]);
    if (header.size() < 9)
        throw std::runtime_error("Invalid header format");
    log.header = {header.size(), header[6], header[7], header[8]};
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() < 2 || line[0] != 'D' || line[1] != 'Y')
            continue;
        const auto f = split(line);
        if (f.size() < 16)
            continue;
        const double lat = std::stod(f[7]), lon = std::stod(f[8]), yld = std::stod(f[6]),
                     moist = std::stod(f[5]), weight = std::stod(f[4]), density = std::stod(f[14]),
                     speed = std::stod(f[1]);
        YieldPoint p{lon / 10000000, lat / 10000000, yld / 10,  moist / 10,
                     weight / 100,   density / 10,   speed / 10};
        if (!std::isfinite(p.longitude) || !std::isfinite(p.latitude)) {
            throw std::runtime_error("Non-finite coordinate in yield data");
        }
        log.points.push_back(p);
    }
    if (log.points.empty())
        throw std::runtime_error("No yield data (DY) lines found");
    return log;
}

struct Outcome {
    bool ok = false;
    YieldLog log;
    std::string errorType;
    std::string message;
};

template <class Read>
Outcome outcomeOf(Read read) {
    Outcome outcome;
    try {
        outcome.log = read();
        outcome.ok = true;
    } catch (const std::invalid_argument& e) {
        outcome.errorType = "invalid_argument";
        outcome.message = e.what();
    } catch (const std::out_of_range& e) {
        outcome.errorType = "out_of_range";
        outcome.message = e.what();
    } catch (const std::runtime_error& e) {
        outcome.errorType = "runtime_error";
        outcome.message = e.what();
    }
    return outcome;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "reader differs from the reference: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto path = fuzzsupport::scratchFolder() / "input.Vornakite";
    testsupport::writeFile(path, bytes);

    const Outcome got = outcomeOf([&] { return vornakite::readYieldLog(path); });
    Outcome want = outcomeOf([&] { return referenceRead(bytes); });
    // std::stod names only itself; the reader's texts are fixed.
    if (want.errorType == "invalid_argument")
        want.message = "invalid stod argument";
    if (want.errorType == "out_of_range")
        want.message = "stod argument out of range";

    if (got.ok != want.ok)
        fail(got.ok ? "reader accepted the log" : got.message.c_str());
    if (!got.ok) {
        if (got.errorType != want.errorType || got.message != want.message) {
            std::fprintf(stderr, "reader: %s \"%s\", reference: %s \"%s\"\n", got.errorType.c_str(),
                         got.message.c_str(), want.errorType.c_str(), want.message.c_str());
            fail("different error");
        }
        return 0;
    }
    const auto& gh = got.log.header;
    const auto& wh = want.log.header;
    if (gh.fieldCount != wh.fieldCount || gh.field6 != wh.field6 || gh.field7 != wh.field7 ||
        gh.field8 != wh.field8)
        fail("header fields");
    if (got.log.points.size() != want.log.points.size())
        fail("point count");
    if (!got.log.points.empty() && std::memcmp(got.log.points.data(), want.log.points.data(),
                                               got.log.points.size() * sizeof(YieldPoint)) != 0) {
        fail("point values");
    }
    return 0;
}
