// Helpers shared by the core tests: scratch folders and whole-file I/O.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "progress_sink.hpp"

namespace testsupport {

// A fresh, empty folder removed again when the test ends.
class ScratchDir {
  public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "vornakite_test_";
        if (info != nullptr) {
            name += std::string(info->test_suite_name()) + "_" + info->name();
        }
        // A run that could not clean up (a crash) leaves nothing in the way of the next.
        static const unsigned run = std::random_device{}();
        name += "_" + std::to_string(run) + "_" + std::to_string(counter++);
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

  private:
    std::filesystem::path path_;
};

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

// Records what a conversion posts, in order.
class RecordingSink : public vornakite::ProgressSink {
  public:
    void postLine(std::wstring text) override { lines.push_back(std::move(text)); }
    void postBatchDone(int successCount) override { doneCounts.push_back(successCount); }

    std::vector<std::wstring> lines;
    std::vector<int> doneCounts;
};

}  // namespace testsupport
