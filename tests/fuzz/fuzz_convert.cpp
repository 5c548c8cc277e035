// Fuzzing a whole conversion: any bytes either fail with exactly one "Error: "
// line and no false success, or give five outputs whose sizes and headers
// agree with each other and with their records. The same bytes converted with the
// cleaning filters on give the same verdict and the same standard set, and clean and
// removed sets that split it, with valid reasons and the cleaning line's counts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"
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

// One set's files agree with each other and with their records: the count of records, and
// each record as its point and table bytes (the Reason column of a removed set apart).
struct SetRecords {
    std::size_t count = 0;
    std::vector<std::string> records;
    std::vector<std::string> reasons;
};

SetRecords checkSet(const std::string& base, bool reason) {
    const std::string shp = readFile(base + ".shp");
    const std::string shx = readFile(base + ".shx");
    const std::string dbf = readFile(base + ".dbf");
    check(readFile(base + ".cpg") == "UTF-8", "code page");
    check(readFile(base + ".prj") == vornakite::kWgs84Prj, "projection");

    check(shx.size() >= 100 && (shx.size() - 100) % 8 == 0, "index size");
    const size_t n = (shx.size() - 100) / 8;
    const size_t header = reason ? 226 : 194, record = reason ? 105 : 41;
    check(shp.size() == 100 + 28 * n, "geometry size");
    check(dbf.size() == header + record * n, "table size");
    for (const std::string* file : {&shp, &shx}) {
        check(be32(*file, 0) == 9994 && le32(*file, 28) == 1000 && le32(*file, 32) == 1,
              "shape header");
        check(be32(*file, 24) * 2ull == file->size(), "file length in the header");
    }
    check(shp.compare(36, 64, shx, 36, 64) == 0, "both headers give the same box");
    check(le32(dbf, 4) == n && dbf[0] == 0x03 && dbf.back() == 0x1A, "table header");

    SetRecords out;
    out.count = n;
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
        const size_t row = header - 1 + record * i;
        check(dbf[row] == ' ', "record not deleted");
        out.records.push_back(shp.substr(at + 12, 16) + dbf.substr(row, 41));
        if (reason) {
            std::string text = dbf.substr(row + 41, 64);
            text.erase(text.find_last_not_of(' ') + 1);
            out.reasons.push_back(text);
        }
    }
    if (n > 0) {
        check(leDouble(shp, 36) == minX && leDouble(shp, 44) == minY && leDouble(shp, 52) == maxX &&
                  leDouble(shp, 60) == maxY,
              "box of the points");
    }
    return out;
}

// The one set in `folder`, checked; its base path.
std::string checkOutputs(const fs::path& folder, std::size_t files) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found.push_back(entry.path());
    check(found.size() == files, "the outputs of one log");
    std::sort(found.begin(), found.end());  // the standard set's files sort first
    const std::string base = (found[0].parent_path() / found[0].stem()).string();
    check(checkSet(base, false).count > 0, "a converted log has points");
    return base;
}

// A codes list of the Reason column: known codes, in filter order, without repeats.
bool validReason(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    try {
        return vornakite::analysis::reasonText(vornakite::analysis::parseFilterCodes(text)) == text;
    } catch (const std::exception&) {
        return false;
    }
}

void checkCleanedSets(const std::string& base, const std::wstring& line) {
    const SetRecords all = checkSet(base, false);
    SetRecords clean = checkSet(base + "_clean", false);
    SetRecords removed = checkSet(base + "_removed", true);
    check(clean.count + removed.count == all.count, "clean and removed add up");
    // The same five columns; the removed set's sixth is Reason, C(64).
    const std::string dbf = readFile(base + ".dbf").substr(0, 194);
    const std::string cleanDbf = readFile(base + "_clean.dbf").substr(0, 194);
    const std::string removedDbf = readFile(base + "_removed.dbf").substr(0, 226);
    check(dbf.compare(8, 4, cleanDbf, 8, 4) == 0, "the same header and record length");
    check(dbf.compare(32, 5 * 32, cleanDbf, 32, 5 * 32) == 0, "the same columns");
    check(dbf.compare(32, 5 * 32, removedDbf, 32, 5 * 32) == 0, "the same columns");
    check(removedDbf.compare(192, 7, std::string("Reason\0", 7)) == 0 &&
              removedDbf[192 + 11] == 'C' && removedDbf[192 + 16] == 64,
          "a Reason column");
    for (const std::string& r : removed.reasons)
        check(validReason(r), "Reason holds filter codes");
    std::vector<std::string> split = clean.records;
    split.insert(split.end(), removed.records.begin(), removed.records.end());
    std::vector<std::string> records = all.records;
    std::sort(split.begin(), split.end());
    std::sort(records.begin(), records.end());
    check(split == records, "clean and removed hold the standard set's records");
    const std::wstring kept = L"Cleaning: kept " + std::to_wstring(clean.count) + L" of " +
                              std::to_wstring(all.count) + L" points";
    const std::wstring keptAll = L"Cleaning: kept all " + std::to_wstring(all.count) + L" points: ";
    check(line.rfind(kept, 0) == 0 || (removed.count == 0 && line.rfind(keptAll, 0) == 0),
          "the cleaning line's counts");
    // A log that was not judged has its counts in the line only when points were removed.
    check(line.find(L"; not judged otherwise: ") == std::wstring::npos || removed.count > 0,
          "an unjudged log's line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path input = fuzzsupport::scratchFolder() / "log.Vornakite";
    const fs::path output = fuzzsupport::scratchFolder() / "Rx";
    const fs::path cleaned = fuzzsupport::scratchFolder() / "Rx-clean";
    fs::remove_all(output);
    fs::remove_all(cleaned);
    testsupport::writeFile(input, std::string(reinterpret_cast<const char*>(data), size));

    Lines sink;
    vornakite::BatchContext batch;
    const bool ok = vornakite::convertFile(input, output, sink, batch);
    Lines cleanSink;
    vornakite::BatchContext cleanBatch;
    cleanBatch.options.cleaning = vornakite::analysis::CleaningOptions{};
    const bool cleanOk = vornakite::convertFile(input, cleaned, cleanSink, cleanBatch);
    check(ok == cleanOk, "the same verdict with the filters on");
    if (ok) {
        check(sink.lines.empty(), "a success posts no line");
        const std::string base = checkOutputs(output, 5);
        check(cleanSink.lines.size() == 1, "a cleaned log posts its cleaning line");
        const std::string cleanBase = checkOutputs(cleaned, 15);
        for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
            check(readFile(base + ext) == readFile(cleanBase + ext), "the same standard set");
        checkCleanedSets(cleanBase, cleanSink.lines[0]);
    } else {
        check(sink.lines.size() == 1 && sink.lines[0].rfind(L"Error: ", 0) == 0,
              "one Error line for a failure");
        check(cleanSink.lines == sink.lines, "the same failure with the filters on");
        check(!fs::exists(output) || fs::is_empty(output), "a failure leaves nothing behind");
        check(!fs::exists(cleaned) || fs::is_empty(cleaned), "a failure leaves nothing behind");
    }
    return 0;
}
