// vornakite-floor: the floor of a conversion on this machine. Reads each log through a buffer of
// the converter's read size and writes a set of five files of given sizes into a folder, the way
// the converter does (temporaries renamed into place), computing nothing. What a converter
// needs beyond this is its own work.
//
// usage: vornakite-floor OUT_DIR SHP_BYTES SHX_BYTES DBF_BYTES LOG...
// With several logs, each gets its own set of the given sizes (a batch of logs of one size).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunk = 1 << 18;

bool readAll(const char* path, std::vector<char>& buffer) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t got;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
    }
    close(fd);
    return got == 0;
}

bool writeFile(const std::string& path, const std::vector<char>& buffer, unsigned long long size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    while (size > 0) {
        const std::size_t piece =
            size < buffer.size() ? static_cast<std::size_t>(size) : buffer.size();
        if (write(fd, buffer.data(), piece) != static_cast<ssize_t>(piece)) {
            close(fd);
            return false;
        }
        size -= piece;
    }
    return close(fd) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fputs("usage: vornakite-floor OUT_DIR SHP_BYTES SHX_BYTES DBF_BYTES LOG...\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const unsigned long long sizes[] = {std::strtoull(argv[2], nullptr, 10),
                                        std::strtoull(argv[3], nullptr, 10),
                                        std::strtoull(argv[4], nullptr, 10), 131, 5};
    const char* const extensions[] = {".shp", ".shx", ".dbf", ".prj", ".cpg"};
    std::vector<char> in(kChunk);
    std::vector<char> out(kChunk, ' ');
    for (int i = 5; i < argc; ++i) {
        if (!readAll(argv[i], in)) {
            std::perror(argv[i]);
            return 1;
        }
        const std::string base = folder + "/set" + std::to_string(i);
        for (int k = 0; k < 5; ++k) {
            const std::string temporary = folder + "/.tmp" + std::to_string(k);
            if (!writeFile(temporary, out, sizes[k]) ||
                rename(temporary.c_str(), (base + extensions[k]).c_str()) != 0) {
                std::perror(base.c_str());
                return 1;
            }
        }
    }
    return 0;
}
