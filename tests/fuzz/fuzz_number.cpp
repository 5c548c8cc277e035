// Differential fuzzing of the number conversion against std::stod: for any
// bytes, the same value (bit for bit) or the same exception and message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "number.hpp"

namespace {

struct Outcome {
    enum Kind { kValue, kInvalid, kRange } kind;
    double value = 0;
};

// std::stod reads the text up to its first NUL, as strtod does.
Outcome reference(const std::string& text) {
    try {
        return {Outcome::kValue, std::stod(text)};
    } catch (const std::invalid_argument&) {
        return {Outcome::kInvalid};
    } catch (const std::out_of_range&) {
        return {Outcome::kRange};
    }
}

Outcome ours(std::string_view text) {
    try {
        return {Outcome::kValue, vornakite::parseDouble(text)};
    } catch (const std::invalid_argument& e) {
        if (std::strcmp(e.what(), "invalid stod argument") != 0)
            std::abort();
        return {Outcome::kInvalid};
    } catch (const std::out_of_range& e) {
        if (std::strcmp(e.what(), "stod argument out of range") != 0)
            std::abort();
        return {Outcome::kRange};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Outcome want = reference(text);
    const Outcome got = ours(text);
    if (want.kind != got.kind ||
        (want.kind == Outcome::kValue && std::memcmp(&want.value, &got.value, sizeof(double)))) {
        std::fprintf(stderr, "mismatch for \"%s\": stod kind %d value %a, ours kind %d value %a\n",
                     text.c_str(), want.kind, want.value, got.kind, got.value);
        std::abort();
    }
    return 0;
}
