#include "convert.hpp"

#include <exception>
#include <fstream>
#include <stdexcept>

#include "read/yield_log.hpp"
#include "text/text.hpp"
#include "write/shapefile_writer.hpp"

namespace vornakite {
namespace {

// Writes one side file whole; false when it cannot be written.
bool writeSideFile(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    return !out.fail();
}

void createOutputFolder(const std::filesystem::path& folder) {
    try {
        std::filesystem::create_directories(folder);
    } catch (const std::filesystem::filesystem_error& e) {
        // Name the operation and the folder in UTF-8, the same on every platform.
        const auto folderText = toUtf8(pathText(folder));
        throw std::runtime_error("create_directories: " + e.code().message() + " [" + folderText +
                                 "]");
    }
}

}  // namespace

LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchNames& names) {
    try {
        const YieldLog log = readYieldLog(inputPath);
        const auto& h = log.headerFields;
        const std::wstring name = outputBaseName(h[6], h[7], h[8], inputPath);

        createOutputFolder(outputFolder);
        const std::filesystem::path basePath = outputFolder / names.claim(name);
        writeShapefileSet(basePath, log.points);

        std::filesystem::path prj = basePath;
        prj += L".prj";
        std::filesystem::path cpg = basePath;
        cpg += L".cpg";
        const bool prjWritten = writeSideFile(prj, kWgs84Prj);
        const bool cpgWritten = writeSideFile(cpg, kCodePage);
        if (!prjWritten || !cpgWritten) {
            throw std::runtime_error("Failed to write projection or code page file");
        }
        return {true, basePath, log.points.size(), {}};
    } catch (const std::exception& e) {
        sink.postLine(L"Error: " + widenText(e.what()));
        return {false, {}, 0, e.what()};
    }
}

bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchNames& names) {
    return convertLog(inputPath, outputFolder, sink, names).converted;
}

}  // namespace vornakite
