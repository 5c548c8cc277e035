// vornakite-baseline: the least a converter must do, as a yardstick for vornakite-convert.
//
// Reads the log through one reused buffer, parses the seven sample fields with from_chars
// (plain decimal only: no blanks, hexadecimal, inf/nan or range checks), keeps the points,
// and streams the .shp, .shx and .dbf through one reused buffer, byte for byte what the
// converter writes for logs of plain numbers. No error reporting beyond an exit status.
//
// usage: vornakite-baseline LOG OUTPUT_BASE   (writes OUTPUT_BASE.shp/.shx/.dbf/.prj/.cpg)
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

namespace {

struct Point {
    double x, y, yield, moisture, weight, density, speed;
};

constexpr std::size_t kBuffer = 1 << 20;

void be32(char* at, std::uint32_t v) {
    at[0] = static_cast<char>(v >> 24);
    at[1] = static_cast<char>(v >> 16);
    at[2] = static_cast<char>(v >> 8);
    at[3] = static_cast<char>(v);
}
void le32(char* at, std::uint32_t v) {
    std::memcpy(at, &v, 4);  // little-endian hosts only
}
void le64(char* at, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    std::memcpy(at, &bits, 8);
}

double number(const char* begin, const char* end, bool& ok) {
    double v = 0.0;
    const auto r = std::from_chars(begin, end, v);
    ok = ok && r.ec == std::errc();
    return v;
}

// Parses one line into `out`; false when it is no sample.
bool parseLine(const char* line, const char* end, Point& out) {
    if (end - line < 2 || line[0] != 'D' || line[1] != 'Y') {
        return false;
    }
    const char* start[16];
    start[0] = line;
    const char* p = line;
    for (int k = 1; k < 16; ++k) {
        p = static_cast<const char*>(std::memchr(p, '@', static_cast<std::size_t>(end - p)));
        if (p == nullptr) {
            return false;
        }
        start[k] = ++p;
    }
    bool ok = true;
    auto f = [&](int k) { return number(start[k], start[k + 1] - 1, ok); };
    out.y = f(7) / 10000000.0;
    out.x = f(8) / 10000000.0;
    out.yield = f(6) / 10.0;
    out.moisture = f(5) / 10.0;
    out.weight = f(4) / 100.0;
    out.density = f(14) / 10.0;
    out.speed = f(1) / 10.0;
    return ok;
}

class Sink {
  public:
    explicit Sink(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
    ~Sink() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    bool ok() const { return file_ != nullptr; }
    void write(const char* data, std::size_t n) { std::fwrite(data, 1, n, file_); }

  private:
    std::FILE* file_;
};

void field(char*& at, double v, int width, int decimals) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    const auto n = static_cast<int>(r.ptr - text);
    if (n > width) {
        std::memset(at, '*', static_cast<std::size_t>(width));
    } else {
        std::memset(at, ' ', static_cast<std::size_t>(width - n));
        std::memcpy(at + width - n, text, static_cast<std::size_t>(n));
    }
    at += width;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: vornakite-baseline LOG OUTPUT_BASE\n", stderr);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) {
        return 1;
    }
    std::vector<Point> points;
    if (std::fseek(in, 0, SEEK_END) == 0) {
        // No sample line is shorter than 24 bytes; untouched capacity costs no memory.
        points.reserve(static_cast<std::size_t>(std::ftell(in)) / 24 + 1);
        std::fseek(in, 0, SEEK_SET);
    }

    std::vector<char> buf(kBuffer);
    std::size_t kept = 0;
    bool header = true;
    for (;;) {
        const std::size_t got = std::fread(buf.data() + kept, 1, buf.size() - kept, in);
        const bool last = got == 0;
        const char* p = buf.data();
        const char* const end = buf.data() + kept + got;
        for (;;) {
            const char* lf =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (lf == nullptr) {
                if (!last) {
                    break;
                }
                lf = end;  // last line without line end
            }
            const char* e = (lf > p && lf[-1] == '\r') ? lf - 1 : lf;
            Point pt;
            if (header) {
                header = false;
            } else if (parseLine(p, e, pt)) {
                points.push_back(pt);
            }
            p = lf + 1;
            if (lf == end) {
                break;
            }
        }
        if (last) {
            break;
        }
        kept = static_cast<std::size_t>(end - p);
        std::memmove(buf.data(), p, kept);
        if (kept == buf.size()) {
            buf.resize(buf.size() * 2);
        }
    }
    std::fclose(in);
    if (points.empty()) {
        return 1;
    }

    const std::string base = argv[2];
    double xmin = points[0].x, xmax = xmin, ymin = points[0].y, ymax = ymin;
    for (const auto& pt : points) {
        xmin = pt.x < xmin ? pt.x : xmin;
        xmax = pt.x > xmax ? pt.x : xmax;
        ymin = pt.y < ymin ? pt.y : ymin;
        ymax = pt.y > ymax ? pt.y : ymax;
    }
    const auto n = static_cast<std::uint32_t>(points.size());
    char* const out = buf.data();
    auto header100 = [&](std::uint32_t words) {
        std::memset(out, 0, 100);
        be32(out, 9994);
        be32(out + 24, words);
        le32(out + 28, 1000);
        le32(out + 32, 1);
        le64(out + 36, xmin);
        le64(out + 44, ymin);
        le64(out + 52, xmax);
        le64(out + 60, ymax);
    };
    constexpr std::size_t kRoom = kBuffer - 256;

    Sink shp(base + ".shp");
    Sink shx(base + ".shx");
    Sink dbf(base + ".dbf");
    if (!shp.ok() || !shx.ok() || !dbf.ok()) {
        return 1;
    }
    header100(50 + 14 * n);
    std::size_t used = 100;
    for (std::uint32_t i = 0; i < n; ++i) {
        char* r = out + used;
        be32(r, i + 1);
        be32(r + 4, 10);
        le32(r + 8, 1);
        le64(r + 12, points[i].x);
        le64(r + 20, points[i].y);
        used += 28;
        if (used > kRoom) {
            shp.write(out, used);
            used = 0;
        }
    }
    shp.write(out, used);

    header100(50 + 4 * n);
    used = 100;
    for (std::uint32_t i = 0; i < n; ++i) {
        be32(out + used, 50 + 14 * i);
        be32(out + used + 4, 10);
        used += 8;
        if (used > kRoom) {
            shx.write(out, used);
            used = 0;
        }
    }
    shx.write(out, used);

    const std::time_t now = std::time(nullptr);
    const std::tm today = *std::localtime(&now);
    std::memset(out, 0, 193);
    out[0] = 3;
    out[1] = static_cast<char>(today.tm_year);
    out[2] = static_cast<char>(today.tm_mon + 1);
    out[3] = static_cast<char>(today.tm_mday);
    le32(out + 4, n);
    out[8] = static_cast<char>(193);
    out[10] = 41;
    const struct {
        const char* name;
        int width, decimals;
    } columns[] = {{"Yield_bu", 10, 2},
                   {"Moist_pct", 6, 1},
                   {"Weight_ta", 10, 2},
                   {"Dens_lbbu", 8, 1},
                   {"Speed_MPH", 6, 1}};
    for (int c = 0; c < 5; ++c) {
        char* d = out + 32 + 32 * c;
        std::memcpy(d, columns[c].name, std::strlen(columns[c].name));
        d[11] = 'N';
        d[16] = static_cast<char>(columns[c].width);
        d[17] = static_cast<char>(columns[c].decimals);
    }
    out[192] = 0x0D;
    used = 193;
    for (const auto& pt : points) {
        char* at = out + used;
        *at++ = ' ';
        field(at, pt.yield, 10, 2);
        field(at, pt.moisture, 6, 1);
        field(at, pt.weight, 10, 2);
        field(at, pt.density, 8, 1);
        field(at, pt.speed, 6, 1);
        used += 41;
        if (used > kRoom) {
            dbf.write(out, used);
            used = 0;
        }
    }
    out[used++] = 0x1A;
    dbf.write(out, used);

    std::FILE* prj = std::fopen((base + ".prj").c_str(), "wb");
    if (prj != nullptr) {
        std::fputs(
            "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
            "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]",
            prj);
        std::fclose(prj);
    }
    std::FILE* cpg = std::fopen((base + ".cpg").c_str(), "wb");
    if (cpg != nullptr) {
        std::fputs("UTF-8", cpg);
        std::fclose(cpg);
    }
    return 0;
}
