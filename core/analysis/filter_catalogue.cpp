#include "analysis/filter_catalogue.hpp"

#include <stdexcept>
#include <string>

#include "analysis/cleaning.hpp"
#include "analysis/format.hpp"

namespace vornakite::analysis {

const std::array<FilterInfo, kFilterCount> kFilterInfo = {{
    {Filter::NonFinite, "NAN", "value not a number",
     "A yield, moisture, weight, density or speed that is infinite or NaN cannot be mapped or "
     "averaged."},
    {Filter::Position, "POS", "invalid position",
     "A latitude or longitude outside the valid range, or exactly (0, 0), is a receiver without a "
     "fix."},
    {Filter::Jump, "JMP", "position jump",
     "A point far off the track that the next points come back from is a GPS jump: its values "
     "belong elsewhere."},
    {Filter::Duplicate, "DUP", "repeated position",
     "A point at exactly the previous point's position was logged without a new fix; two "
     "samples on one spot double-count it."},
    {Filter::Slow, "SLOW", "stopped or crawling",
     "Yield is grain flow divided by speed: near standstill the division turns small errors "
     "into large ones."},
    {Filter::SpeedBand, "SPD", "speed out of band",
     "A speed far outside the log's usual band is a sensor error or a manoeuvre, not harvest."},
    {Filter::SpeedChange, "DSPD", "abrupt speed change",
     "A speed far from both neighbours' speeds is a glitch or a hard brake; the yield computed "
     "with it is wrong."},
    {Filter::ZeroYield, "ZERO", "zero or negative yield",
     "No grain: header raised over the headland, or the flow sensor not yet filled."},
    {Filter::YieldOutlier, "YLD", "yield outlier",
     "A yield far outside the log's own distribution is a sensor spike or dropout."},
    {Filter::LocalOutlier, "LOC", "local yield outlier",
     "A yield far from the yields around it, within a radius, is noise: neighbouring crop "
     "varies smoothly."},
    {Filter::MoistureRange, "MST", "moisture implausible",
     "Grain moisture outside a plausible range is a sensor fault."},
    {Filter::MoistureOutlier, "MSO", "moisture outlier",
     "A moisture far from the log's own distribution is a sensor spike."},
    {Filter::PassEnd, "END", "pass start or end",
     "Grain takes seconds to reach the flow sensor: at the start and end of a pass the yield "
     "ramps and belongs to other positions."},
    {Filter::OffPass, "TRN", "turn or off the passes",
     "In a turn, a loop or a drive over harvested ground no crop is cut there: the grain "
     "logged belongs to the passes."},
    {Filter::NoValue, "NOV", "no value of its own",
     "Once the lag is undone, a position whose grain was logged past the log's end or beyond a "
     "gap has no value: none is invented."},
}};

const FilterInfo& filterInfo(Filter f) {
    return kFilterInfo[static_cast<std::size_t>(f)];
}

const std::array<ThresholdInfo, kThresholdCount> kThresholdInfo = {{
    {Filter::Jump, "jump-m", "jump distance", "m",
     "largest of 1.5x the median step, 6x the median deviation from the neighbours' midpoint, "
     "and 1 m",
     &CleaningOptions::jumpMetres},
    {Filter::Slow, "slow-mph", "crawling speed", "mph", "0.4x the median speed, at least 0.5 mph",
     &CleaningOptions::slowMph},
    {Filter::SpeedBand, "speed-min-mph", "lowest usual speed", "mph",
     "median speed - 5 robust SD, at most half the median", &CleaningOptions::speedMinMph},
    {Filter::SpeedBand, "speed-max-mph", "highest usual speed", "mph",
     "median speed + 5 robust SD, at least 1.5x the median", &CleaningOptions::speedMaxMph},
    {Filter::SpeedChange, "speed-change", "relative speed change", "fraction",
     "6 robust SD of the change against the neighbours' median speed, at least 0.25",
     &CleaningOptions::speedChange},
    {Filter::YieldOutlier, "yield-min", "lowest plausible yield", "bu",
     "median - 5 robust SD of the positive yields, at most 0.2x the median, at least 0.2x "
     "the 2nd percentile and 0.05x the median",
     &CleaningOptions::yieldMin},
    {Filter::YieldOutlier, "yield-max", "highest plausible yield", "bu",
     "median + 5 robust SD of the positive yields; of those above, when over 2 % (and 20) are",
     &CleaningOptions::yieldMax},
    {Filter::LocalOutlier, "local-radius-m", "neighbour radius", "m",
     "6x the distance per sample (over ten samples), at most twice the swath where the passes "
     "give it, within 8 to 50 m",
     &CleaningOptions::localRadiusMetres},
    {Filter::LocalOutlier, "local-sd", "local deviation limit", "robust SD",
     "4 local robust SD (MAD of the neighbours), the SD at least the log's sample-to-sample noise",
     &CleaningOptions::localSigmas},
    {Filter::MoistureRange, "moisture-min", "lowest plausible moisture", "%", "5 %",
     &CleaningOptions::moistureMin},
    {Filter::MoistureRange, "moisture-max", "highest plausible moisture", "%", "45 %",
     &CleaningOptions::moistureMax},
    {Filter::MoistureOutlier, "moisture-dev", "moisture deviation from the median", "% points",
     "6 robust SD of the plausible moistures, at least 0.4x their median and 5 points",
     &CleaningOptions::moistureDeviation},
    {Filter::PassEnd, "ramp-fraction", "ramp level", "of pass median",
     "1 - 3x the sample-to-sample noise / median yield, within 0.6 to 0.8",
     &CleaningOptions::rampFraction},
    {Filter::PassEnd, "ramp-samples", "ramp length scanned", "samples",
     "10 s of samples (interval: distance per sample / median speed), 4 to 60",
     &CleaningOptions::rampSamples},
}};

const ThresholdInfo* findThreshold(std::string_view option) {
    for (const ThresholdInfo& t : kThresholdInfo) {
        if (t.option == option) {
            return &t;
        }
    }
    return nullptr;
}

FilterMask parseFilterCodes(std::string_view codes) {
    FilterMask mask = 0;
    while (!codes.empty()) {
        const std::size_t comma = codes.find(',');
        std::string code(codes.substr(0, comma));
        codes = comma == std::string_view::npos ? std::string_view{} : codes.substr(comma + 1);
        for (char& c : code) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        bool found = false;
        for (const FilterInfo& f : kFilterInfo) {
            if (f.code == code) {
                mask |= bit(f.filter);
                found = true;
            }
        }
        if (!found) {
            throw std::invalid_argument("Unknown filter code");
        }
    }
    return mask;
}

std::string reasonText(FilterMask mask) {
    std::string out;
    for (const FilterInfo& f : kFilterInfo) {
        if ((mask & bit(f.filter)) != 0) {
            if (!out.empty()) {
                out += ',';
            }
            out += f.code;
        }
    }
    return out;
}

std::string lagText(const LagFound& lag) {
    using Mode = LagSetting::Mode;
    std::string s = "flow lag ";
    if (lag.flowMode == Mode::Off) {
        s += "off";
    } else if (!lag.flowFound) {
        s += "not found";
    } else {
        s += std::to_string(lag.flow) + " samples (" +
             (lag.flowMode == Mode::Samples ? std::string("set")
                                            : "confidence " + fixedNumber(lag.flowConfidence, 2)) +
             ")";
    }
    s += ", moisture lag ";
    if (lag.moistureMode == Mode::Off) {
        s += "off";
    } else if (lag.moistureFollowsFlow) {
        s += std::to_string(lag.moisture) + " (the flow's)";
    } else if (!lag.moistureFound) {
        s += "not found";
    } else {
        s += std::to_string(lag.moisture) + (lag.moistureMode == Mode::Samples ? " (set)" : "");
    }
    return s;
}

std::string cleaningLine(const CleaningResult& result) {
    const std::size_t total = result.kept + result.removed;
    if (!result.judged() && result.removed == 0) {
        return "Cleaning: kept all " + std::to_string(total) + " points: " + result.note;
    }
    const double share =
        total > 0 ? 100.0 * static_cast<double>(result.kept) / static_cast<double>(total) : 100.0;
    std::string line = "Cleaning: kept " + std::to_string(result.kept) + " of " +
                       std::to_string(total) + " points (" + fixedNumber(share, 1) + "%)";
    if (result.removed == 0) {
        line += "; removed none";
    } else {
        line += "; removed " + std::to_string(result.removed) + ", by filter:";
        bool first = true;
        for (const FilterInfo& f : kFilterInfo) {
            const std::size_t c = result.flaggedBy(f.filter);
            if (c > 0) {
                line += first ? " " : ", ";
                line += std::string(f.code) + " " + std::to_string(c);
                first = false;
            }
        }
    }
    if (!result.judged()) {  // only the filters that judge each point alone ran
        line += "; not judged otherwise: " + result.note;
    } else {
        line += "; " + lagText(result.lag);
    }
    for (const std::string& w : result.warnings) {
        line += "; " + w;
    }
    return line;
}

}  // namespace vornakite::analysis
