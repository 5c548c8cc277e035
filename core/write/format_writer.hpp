// What every file format's writer of a point set shares: the layout of the set and the calls a
// conversion makes, so that one set can be written in several formats at once.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/yield_point.hpp"
#include "write/dbf_writer.hpp"

namespace vornakite {

// What a set holds beyond the points.
struct SetLayout {
    std::wstring suffix;                  // after the base name, before the extension: "_clean"
    std::vector<TextColumn> textColumns;  // after the numeric columns of the table
    bool sideFiles = true;                // the shapefile's .prj and .cpg
};

// One format's writer of a set. It adds its files to a transaction when it is made, writes them
// as the points arrive, and completes them in finish; the transaction moves them into place.
class FormatWriter : public PointSink {
  public:
    // Adds records whose text columns hold the values set last (blank or empty when none were
    // set). A failure to write is kept, not thrown, so that the reading goes on to find the log's
    // own errors first; finish reports it.
    void addPoints(std::span<const YieldPoint> points) override = 0;
    // Adds one record with its own text values (missing ones blank).
    virtual void addPoint(const YieldPoint& point, std::span<const std::string_view> texts) = 0;
    // Completes the files; throws the first failure. A set may have no records.
    virtual void finish() = 0;

    // The text values of the records addPoints adds from now on.
    void setTexts(std::vector<std::string> texts) {
        texts_ = std::move(texts);
        textViews_.assign(texts_.begin(), texts_.end());
    }

  protected:
    std::span<const std::string_view> currentTexts() const { return textViews_; }

  private:
    std::vector<std::string> texts_;
    std::vector<std::string_view> textViews_;
};

}  // namespace vornakite
