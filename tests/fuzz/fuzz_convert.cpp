// Fuzzing a whole conversion: any bytes either fail with exactly one "Error: "
// line and no false success, or give five outputs whose sizes and headers
// agree with each other and with their records.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "convert.hpp"
#include "fuzz_support.hpp"
#include "test_bytes.hpp"

namespace fs = std::filesystem;
using testsupport::be32;
using testsupport::le32;
using testsupport::leDouble;
using testsupport::readFile;

namespace {

class Lines : public vornakite::ProgressSink {
  public:
    void postLine(std::wstring text) override { lines.push_back(std::move(text)); }
    void postBatchDone(int) override { std::abort(); }  // never from one conversion
    std::vector<std::wstring> lines;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inconsistent conversion: %s\n", what);
    std::abort();
}
void check(bool ok, const char* what) {
    if (!ok)
        fail(what);
}

void checkOutputs(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files.push_back(entry.path());
    check(files.size() == 5, "five outputs");
    const fs::path base = files[0].parent_path() / files[0].stem();
    const std::string shp = readFile(base.string() + ".shp");
    const std::string shx = readFile(base.string() + ".shx");
    const std::string dbf = readFile(base.string() + ".dbf");
    check(readFile(base.string() + ".cpg") == "UTF-8", "code page");
    check(readFile(base.string() + ".prj") == vornakite::kWgs84Prj, "projection");

    check(shx.size() >= 108 && (shx.size() - 100) % 8 == 0, "index size");
    const size_t n = (shx.size() - 100) / 8;
    check(shp.size() == 100 + 28 * n, "geometry size");
    check(dbf.size() == 194 + 41 * n, "table size");
    for (const std::string* file : {&shp, &shx}) {
        check(be32(*file, 0) == 9994 && le32(*file, 28) == 1000 && le32(*file, 32) == 1,
              "shape header");
        check(be32(*file, 24) * 2ull == file->size(), "file length in the header");
    }
    check(shp.compare(36, 64, shx, 36, 64) == 0, "both headers give the same box");
    check(le32(dbf, 4) == n && dbf[0] == 0x03 && dbf.back() == 0x1A, "table header");

    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (size_t i = 0; i < n; ++i) {
        const size_t at = 100 + 28 * i;
        check(be32(shp, at) == i + 1 && be32(shp, at + 4) == 10 && le32(shp, at + 8) == 1,
              "record header");
        check(be32(shx, 100 + 8 * i) == 50 + 14 * i && be32(shx, 104 + 8 * i) == 10, "index entry");
        const double x = leDouble(shp, at + 12), y = leDouble(shp, at + 20);
        check(std::isfinite(x) && std::isfinite(y), "finite point");
        minX = std::fmin(minX, x), maxX = std::fmax(maxX, x);
        minY = std::fmin(minY, y), maxY = std::fmax(maxY, y);
        check(dbf[193 + 41 * i] == ' ', "record not deleted");
    }
    check(leDouble(shp, 36) == minX && leDouble(shp, 44) == minY && leDouble(shp, 52) == maxX &&
              leDouble(shp, 60) == maxY,
          "box of the points");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path input = fuzzsupport::scratchFolder() / "log.Vornakite";
    const fs::path output = fuzzsupport::scratchFolder() / "Rx";
    fs::remove_all(output);
    testsupport::writeFile(input, std::string(reinterpret_cast<const char*>(data), size));

    Lines sink;
    vornakite::BatchContext batch;
    const bool ok = vornakite::convertFile(input, output, sink, batch);
    if (ok) {
        check(sink.lines.empty(), "a success posts no line");
        checkOutputs(output);
    } else {
        check(sink.lines.size() == 1 && sink.lines[0].rfind(L"Error: ", 0) == 0,
              "one Error line for a failure");
        check(!fs::exists(output) || fs::is_empty(output), "a failure leaves nothing behind");
    }
    return 0;
}
