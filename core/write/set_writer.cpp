#include "write/set_writer.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "write/output_set.hpp"

namespace vornakite {
namespace {

// Records are gathered to this size before they go to the temporaries; a small set is written
// only once, when it is complete.
constexpr std::size_t kFlushBytes = 1 << 19;

}  // namespace

ShapefileSetWriter::ShapefileSetWriter(OutputTransaction& transaction, SetLayout layout,
                                       std::span<const std::wstring> extensions)
    : transaction_(transaction), layout_(std::move(layout)) {
    const std::wstring& suffix = layout_.suffix;
    shpFile_ = transaction_.add(suffix + extensions[0], kShapefileMessages);
    shxFile_ = transaction_.add(suffix + extensions[1], kShapefileMessages);
    dbfFile_ = transaction_.add(suffix + extensions[2], kShapefileMessages);
    if (layout_.sideFiles) {
        prjFile_ = transaction_.add(suffix + extensions[3], kSideFileMessages);
        cpgFile_ = transaction_.add(suffix + extensions[4], kSideFileMessages);
    }
    // The headers are written last; until then zero bytes hold their place.
    std::memset(shp_.extend(kShapefileHeaderBytes), 0, kShapefileHeaderBytes);
    std::memset(shx_.extend(kShapefileHeaderBytes), 0, kShapefileHeaderBytes);
    const std::size_t dbfHeader = dbfHeaderLength(layout_.textColumns);
    std::memset(dbf_.extend(dbfHeader), 0, dbfHeader);
}

void ShapefileSetWriter::addPoints(std::span<const YieldPoint> points) {
    if (layout_.textColumns.empty()) {
        if (!failure_) {
            putShapefileRecords(shp_.extend(points.size() * kShpRecordBytes),
                                shx_.extend(points.size() * kShxRecordBytes), points, count_ + 1);
            putDbfRecords(dbf_.extend(points.size() * dbfRecordLength()), points);
        }
        box_.include(points);
        count_ += points.size();
        flushIfFull();
        return;
    }
    for (const auto& point : points) {
        addPoint(point, currentTexts());
    }
}

void ShapefileSetWriter::addPoint(const YieldPoint& point,
                                  std::span<const std::string_view> texts) {
    const std::span<const YieldPoint> one(&point, 1);
    if (!failure_) {
        putShapefileRecords(shp_.extend(kShpRecordBytes), shx_.extend(kShxRecordBytes), one,
                            count_ + 1);
        putDbfRecord(dbf_.extend(dbfRecordLength(layout_.textColumns)), point, layout_.textColumns,
                     texts);
    }
    box_.include(one);
    ++count_;
    flushIfFull();
}

void ShapefileSetWriter::flushIfFull() {
    if (!failure_ && shp_.size() + dbf_.size() >= kFlushBytes) {
        try {
            flush();
        } catch (const std::exception&) {
            // Kept for finish: the log's own errors, found later in reading, come first.
            failure_ = std::current_exception();
            shp_.release();
            shx_.release();
            dbf_.release();
        }
    }
}

void ShapefileSetWriter::flush() {
    transaction_.open();
    transaction_.write(shpFile_, shp_.data(), shp_.size());
    transaction_.write(shxFile_, shx_.data(), shx_.size());
    transaction_.write(dbfFile_, dbf_.data(), dbf_.size());
    shp_.clear();
    shx_.clear();
    dbf_.clear();
    flushed_ = true;
}

void ShapefileSetWriter::finish() {
    if (!fitsShapefile(count_)) {
        throw ConversionError(ErrorCode::tooManyRecords, "Too many records for a shapefile");
    }
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    std::string shpHeader;
    std::string shxHeader;
    std::string dbfHeader;
    appendShapefileHeader(shpHeader, kShapefileHeaderBytes + kShpRecordBytes * count_, box_);
    appendShapefileHeader(shxHeader, kShapefileHeaderBytes + kShxRecordBytes * count_, box_);
    appendDbfHeader(dbfHeader, count_, todayLocalDate(), layout_.textColumns);
    *dbf_.extend(1) = kDbfEndOfFile;
    if (!flushed_) {
        // Everything is still here: put the headers in place and write each file once.
        std::memcpy(shp_.data(), shpHeader.data(), shpHeader.size());
        std::memcpy(shx_.data(), shxHeader.data(), shxHeader.size());
        std::memcpy(dbf_.data(), dbfHeader.data(), dbfHeader.size());
        flush();
    } else {
        flush();
        transaction_.writeAt(shpFile_, 0, shpHeader.data(), shpHeader.size());
        transaction_.writeAt(shxFile_, 0, shxHeader.data(), shxHeader.size());
        transaction_.writeAt(dbfFile_, 0, dbfHeader.data(), dbfHeader.size());
    }
    if (layout_.sideFiles) {
        transaction_.write(prjFile_, kWgs84Prj.data(), kWgs84Prj.size());
        transaction_.write(cpgFile_, kCodePage.data(), kCodePage.size());
    }
}

void writeShapefileSet(const std::filesystem::path& basePath,
                       const std::vector<YieldPoint>& points) {
    if (points.empty()) {
        throw ConversionError(ErrorCode::noRecords, "No records to write");
    }
    if (!fitsShapefile(points.size())) {
        throw ConversionError(ErrorCode::tooManyRecords, "Too many records for a shapefile");
    }
    // The folder must exist already: this writes files, not folders.
    if (std::filesystem::path folder = basePath.parent_path();
        !folder.empty() && !std::filesystem::is_directory(folder)) {
        throw ConversionError(ErrorCode::outputFailed, kShapefileMessages.cannotCreate);
    }
    OutputTransaction transaction(basePath.parent_path(), nullptr);
    ShapefileSetWriter writer(transaction, SetLayout{{}, {}, false},
                              fileExtensions(*findOutputFormat("shp")));
    constexpr std::size_t kPiece = 4096;
    const std::span<const YieldPoint> all(points);
    for (std::size_t i = 0; i < all.size(); i += kPiece) {
        writer.addPoints(all.subspan(i, std::min(kPiece, all.size() - i)));
    }
    writer.finish();
    transaction.commit(basePath);
}

}  // namespace vornakite
