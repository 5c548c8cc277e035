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
#include "test_bytes.hpp"

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

// A log whose header fields 6 to 8 are `names` ("Farm@Field@Crop") and which
// holds one sample.
inline std::string oneSampleLog(const std::string& names) {
    return "VK@1@2@3@4@5@" + names +
           "\nDY@45@x@x@123456@153@1875@415000000@-975000000@a@b@c@d@e@562@z\n";
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
