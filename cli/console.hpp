// Text to standard output or standard error.
#pragma once

#include <cstdio>
#include <string_view>

namespace vornakite::cli {

// Writes UTF-8 text to stdout or stderr. A Windows console is given wide text, so that every
// name shows as it is whatever the console's code page; pipes and files get the UTF-8 bytes.
class TextOutput {
  public:
    explicit TextOutput(std::FILE* stream);
    void write(std::string_view utf8);

  private:
    std::FILE* stream_;
#ifdef _WIN32
    void* console_ = nullptr;  // the console handle when the stream is one
#endif
};

}  // namespace vornakite::cli
