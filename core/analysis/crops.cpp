#include "analysis/crops.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vornakite::analysis {

namespace {

constexpr double kKilogramsPerPound = 0.45359237;

// Standard moistures: the moisture at which US grain is priced and to which yield monitors and
// the crop insurance and extension shrink tables convert by default; bushel weights: the USDA's
// standard bushels (Agricultural Handbook 697). Sunflower is mostly traded by hundredweight; 24
// lb is the legal bushel several states use for it.
constexpr CropInfo kCrops[] = {
    {"Corn", 15.5, 56.0},   {"Soybeans", 13.0, 60.0},  {"Wheat", 13.5, 60.0},
    {"Barley", 14.5, 48.0}, {"Oats", 14.0, 32.0},      {"Sorghum", 14.0, 56.0},
    {"Canola", 10.0, 50.0}, {"Sunflower", 10.0, 24.0}, {"Rice", 12.0, 45.0},
};

// Names and spellings, normalised (lower case, single spaces, no final "s" on a word), with the
// crop they name. A multi-word name is matched whole; a single word also as one word of a name.
struct Alias {
    std::string_view text;
    std::size_t crop;
};
constexpr Alias kAliases[] = {
    {"corn", 0},     {"maize", 0},     {"soybean", 1},      {"soy", 1},       {"soya", 1},
    {"soy bean", 1}, {"soya bean", 1}, {"soyabean", 1},     {"wheat", 2},     {"durum", 2},
    {"spelt", 2},    {"barley", 3},    {"oat", 4},          {"sorghum", 5},   {"milo", 5},
    {"canola", 6},   {"rapeseed", 6},  {"oilseed rape", 6}, {"sunflower", 7}, {"sunflower seed", 7},
    {"rice", 8},     {"paddy", 8},
};

// Lower-case words of `text` (letters and digits), each without a final "s".
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::string word;
    auto finish = [&] {
        if (word.size() > 3 && word.back() == 's') {
            word.pop_back();
        }
        if (!word.empty()) {
            out.push_back(word);
        }
        word.clear();
    };
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            word += static_cast<char>(c);
        } else if (c >= 'A' && c <= 'Z') {
            word += static_cast<char>(c - 'A' + 'a');
        } else {
            finish();
        }
    }
    finish();
    return out;
}

}  // namespace

const CropInfo* findCrop(std::string_view headerName) {
    const std::vector<std::string> w = words(headerName);
    std::string whole;
    for (const std::string& word : w) {
        whole += whole.empty() ? "" : " ";
        whole += word;
    }
    for (const Alias& a : kAliases) {
        if (a.text == whole) {
            return &kCrops[a.crop];
        }
    }
    // A single-word name among the words: one crop, or none when two crops are named.
    const CropInfo* found = nullptr;
    for (const std::string& word : w) {
        for (const Alias& a : kAliases) {
            if (a.text == word) {
                if (found != nullptr && found != &kCrops[a.crop]) {
                    return nullptr;
                }
                found = &kCrops[a.crop];
            }
        }
    }
    return found;
}

double yieldAtMoisture(double wet, double moisture, double standard) {
    if (!std::isfinite(wet) || !(moisture >= 0.0 && moisture < 100.0) ||
        !(standard >= 0.0 && standard < 100.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return wet * (100.0 - moisture) / (100.0 - standard);
}

double bushelsPerAcreToTonnesPerHectare(double bushelsPerAcre, double poundsPerBushel) {
    const double tonnesPerBushel = poundsPerBushel * kKilogramsPerPound / 1000.0;
    return bushelsPerAcre * tonnesPerBushel * kSquareMetresPerHectare / kSquareMetresPerAcre;
}

}  // namespace vornakite::analysis
