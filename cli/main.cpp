// vornakite-convert: converts yield-monitor logs into point shapefile sets from the command line,
// printing the same lines the desktop program shows in its log pane.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "batch.hpp"
#include "progress_sink.hpp"
#include "text/text.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef VORNAKITE_VERSION
#define VORNAKITE_VERSION "0.0.0"
#endif

namespace {

using vornakite::toUtf8;

constexpr const char* kUsage =
    "usage: vornakite-convert [-o DIR] LOG...\n"
    "Converts each yield log into a point shapefile set (.shp .shx .dbf .prj .cpg)\n"
    "in DIR, by default Rx under the current directory.\n"
    "  -o DIR      write the outputs into DIR\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

// Control characters (a file name may hold a line feed) and the Unicode line separators as
// escapes, so that one posted line is always one printed line: \n, \r, \t, \xHH, \uHHHH.
std::wstring escapeControls(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        if (!control && c != 0x2028 && c != 0x2029) {
            out += c;
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\t') {
            out += L"\\t";
        } else {
            static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
            out += control ? L"\\x" : L"\\u";
            for (int shift = control ? 4 : 12; shift >= 0; shift -= 4) {
                out += kHex[(c >> shift) & 0xF];
            }
        }
    }
    return out;
}

// Prints each line as UTF-8 as soon as it is posted.
class StdoutSink : public vornakite::ProgressSink {
  public:
    void postLine(std::wstring text) override {
        const std::string line = toUtf8(escapeControls(text)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    void postBatchDone(int) override {}
};

struct Options {
    std::filesystem::path outputFolder;
    std::wstring folderLabel = L"Rx";
    bool customFolder = false;
    std::vector<std::filesystem::path> logs;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "vornakite-convert: %s\n%s", message.c_str(), kUsage);
    return 2;
}

template <typename Char>
int run(int argc, Char** argv) {
    using String = std::basic_string<Char>;
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const String arg = argv[i];
        const std::filesystem::path argPath(arg);
        if (!optionsEnded && arg.size() > 1 && arg[0] == Char('-')) {
            const std::string name = toUtf8(vornakite::pathText(argPath));
            if (name == "--") {
                optionsEnded = true;
            } else if (name == "--help" || name == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (name == "--version") {
                std::puts("vornakite-convert " VORNAKITE_VERSION);
                return 0;
            } else if (name == "-o") {
                if (i + 1 >= argc) {
                    return usageError("-o needs a folder");
                }
                const String folder = argv[++i];
                if (folder.empty()) {
                    return usageError("-o needs a folder, not an empty name");
                }
                options.outputFolder = std::filesystem::path(folder);
                options.folderLabel = vornakite::pathText(options.outputFolder);
                options.customFolder = true;
            } else {
                return usageError("unknown option " + name);
            }
            continue;
        }
        options.logs.emplace_back(argPath);
    }
    if (options.logs.empty()) {
        return usageError("no log given");
    }
    if (!options.customFolder) {
        std::error_code ec;
        const auto cwd = std::filesystem::current_path(ec);
        if (ec) {
            std::fprintf(stderr, "vornakite-convert: cannot read the current directory: %s\n",
                         ec.message().c_str());
            return 1;
        }
        options.outputFolder = cwd / "Rx";
    }
    StdoutSink sink;
    const int converted = vornakite::runConversionBatch(options.logs, options.outputFolder,
                                                        options.folderLabel, sink);
    return converted == static_cast<int>(options.logs.size()) ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    return run(argc, argv);
}
#else
int main(int argc, char** argv) {
    return run(argc, argv);
}
#endif
