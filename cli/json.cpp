#include "json.hpp"

#include "text/escape.hpp"

namespace vornakite::cli {

void appendJsonString(std::string& out, std::string_view bytes) {
    appendEscaped(out, bytes, Escape::Json);
}

void appendJsonString(std::string& out, std::wstring_view text) {
    appendEscaped(out, text, Escape::Json);
}

void appendJsonPath(std::string& out, const std::filesystem::path& path) {
    appendJsonString(out, std::basic_string_view<std::filesystem::path::value_type>(path.native()));
}

}  // namespace vornakite::cli
