// Whole-file I/O and byte-order reads for checking layouts, without any test
// framework, so the fuzz targets share them.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace testsupport {

inline void writeFile(const std::filesystem::path& p, std::string_view bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little- and big-endian reads from a byte string, for checking layouts.
inline std::uint32_t le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
    }
    return v;
}
inline std::uint32_t be32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
    }
    return v;
}
inline double leDouble(const std::string& b, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
    }
    double d;
    static_assert(sizeof d == sizeof v);
    std::memcpy(&d, &v, sizeof d);
    return d;
}

}  // namespace testsupport
