// The crops a log's header can name, with the two constants the field numbers need: the moisture
// at which the crop is traded (dry yield) and the weight of its bushel (tonnes per hectare).
#pragma once

#include <string_view>

namespace vornakite::analysis {

struct CropInfo {
    std::string_view name;    // "Corn", "Soybeans", ...
    double standardMoisture;  // percent, wet basis
    double poundsPerBushel;   // the standard (legal) bushel
};

// The crop a header names, matched without regard to case, spacing or punctuation, singular or
// plural, in common spellings ("Maize", "Soy", "Soya bean", "Winter Wheat", "Milo", "Rapeseed");
// a name whose words name one known crop ("Yellow Corn", "Spring Barley") counts as that crop.
// nullptr when the name is empty, unknown, or names two crops.
const CropInfo* findCrop(std::string_view headerName);

// Yield at a standard moisture: wet * (100 - moisture) / (100 - standard); the dry matter is the
// same, the water is counted at the standard. NaN when the yield is not finite or the moisture or
// the standard is not in [0, 100).
double yieldAtMoisture(double wet, double moisture, double standard);

// Bushels per acre of a crop whose bushel weighs `poundsPerBushel` as tonnes per hectare:
// lb/bu * 0.45359237 kg/lb / 1000 / 0.40468564224 ha/ac (corn, 56 lb: 0.06277).
double bushelsPerAcreToTonnesPerHectare(double bushelsPerAcre, double poundsPerBushel);

inline constexpr double kSquareMetresPerAcre = 4046.8564224;
inline constexpr double kSquareMetresPerHectare = 10000.0;

}  // namespace vornakite::analysis
